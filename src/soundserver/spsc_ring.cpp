#include "soundserver/spsc_ring.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qm {

SpscRing::SpscRing(size_t minBytes)
    : capacity_(std::bit_ceil(std::max<size_t>(minBytes, 2))), storage_(new uint8_t[capacity_]) {}

template <typename Copy>
size_t SpscRing::Produce(size_t count, Copy copy) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    const size_t n = std::min<size_t>(count, capacity_ - static_cast<size_t>(head - tail));
    const size_t at = static_cast<size_t>(head) & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - at);
    copy(storage_.get() + at, 0, first);
    copy(storage_.get(), first, n - first);
    head_.store(head + n, std::memory_order_release);
    return n;
}

size_t SpscRing::Write(std::span<const uint8_t> data) {
    return Produce(data.size(), [&](uint8_t* to, size_t from, size_t n) {
        if (n > 0)
            std::memcpy(to, data.data() + from, n);
    });
}

size_t SpscRing::Fill(uint8_t value, size_t count) {
    return Produce(count, [&](uint8_t* to, size_t, size_t n) { std::memset(to, value, n); });
}

size_t SpscRing::Peek(std::span<uint8_t> out) const {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const uint64_t head = head_.load(std::memory_order_acquire);
    const size_t n = std::min<size_t>(out.size(), static_cast<size_t>(head - tail));
    const size_t at = static_cast<size_t>(tail) & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - at);
    if (first > 0)
        std::memcpy(out.data(), storage_.get() + at, first);
    if (n > first)
        std::memcpy(out.data() + first, storage_.get(), n - first);
    return n;
}

size_t SpscRing::Read(std::span<uint8_t> out) {
    const size_t n = Peek(out);
    tail_.store(tail_.load(std::memory_order_relaxed) + n, std::memory_order_release);
    return n;
}

size_t SpscRing::Discard(size_t count) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const uint64_t head = head_.load(std::memory_order_acquire);
    const size_t n = std::min<size_t>(count, static_cast<size_t>(head - tail));
    tail_.store(tail + n, std::memory_order_release);
    return n;
}

size_t SpscRing::Readable() const {
    return static_cast<size_t>(head_.load(std::memory_order_acquire) -
                               tail_.load(std::memory_order_relaxed));
}

}  // namespace qm
