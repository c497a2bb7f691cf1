#include "effects/worker_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace qm {

namespace {

// The worker takes its input in pieces of at most this many bytes.
constexpr size_t kWorkerPieceBytes = 4096;
// Where waiting on an atomic has the system's help (a futex), the audio side wakes the worker
// as it stores. MinGW's standard library waits without it and can lose a wake-up (the worker
// then slept through its stop): there the worker looks for input every 2 ms instead, far inside
// the margin it has for a step, and the audio side only stores.
#if defined(_WIN32)
constexpr bool kWokenByAudio = false;
#else
constexpr bool kWokenByAudio = true;
#endif
constexpr std::chrono::milliseconds kWorkerLook{2};

}  // namespace

bool WorkerStream::Ring::Allocate(size_t capacity) {
    head.store(0, std::memory_order_relaxed);
    tail.store(0, std::memory_order_relaxed);
    return bytes.Allocate(capacity);
}

size_t WorkerStream::Ring::Readable() const {
    return static_cast<size_t>(head.load(std::memory_order_acquire) -
                               tail.load(std::memory_order_acquire));
}

size_t WorkerStream::Ring::Put(const uint8_t* data, size_t n) {
    const uint64_t h = head.load(std::memory_order_relaxed);
    n = std::min<size_t>(
        n, bytes.Size() - static_cast<size_t>(h - tail.load(std::memory_order_acquire)));
    const size_t at = static_cast<size_t>(h % bytes.Size());
    const size_t first = std::min(n, bytes.Size() - at);
    std::memcpy(bytes.Data() + at, data, first);
    std::memcpy(bytes.Data(), data + first, n - first);
    head.store(h + n, std::memory_order_release);
    return n;
}

size_t WorkerStream::Ring::Take(uint8_t* data, size_t n) {
    const uint64_t t = tail.load(std::memory_order_relaxed);
    n = std::min<size_t>(n, static_cast<size_t>(head.load(std::memory_order_acquire) - t));
    const size_t at = static_cast<size_t>(t % bytes.Size());
    const size_t first = std::min(n, bytes.Size() - at);
    std::memcpy(data, bytes.Data() + at, first);
    std::memcpy(data + first, bytes.Data(), n - first);
    tail.store(t + n, std::memory_order_release);
    return n;
}

size_t WorkerStream::Ring::Drop(size_t n) {
    const uint64_t t = tail.load(std::memory_order_relaxed);
    n = std::min<size_t>(n, static_cast<size_t>(head.load(std::memory_order_acquire) - t));
    tail.store(t + n, std::memory_order_release);
    return n;
}

void WorkerStream::Release() {
    if (worker_.joinable()) {
        stop_.store(true, std::memory_order_release);
        Wake();
        worker_.join();
    }
    stop_.store(false, std::memory_order_relaxed);
    stream_.Release();
    in_.bytes.Free();
    out_.bytes.Free();
    piece_.Free();
    delayBytes_ = late_ = 0;
    debt_ = 0;
    refused_.store(0, std::memory_order_relaxed);
}

bool WorkerStream::Prepare(VoiceEffect& effect, const WaveFormat& format, uint64_t marginBytes,
                           std::span<const uint8_t> history) {
    Release();
    if (!stream_.Prepare(effect, format))
        return false;
    // The rings hold a second of audio beyond a step and the margin: the worker may fall that
    // far behind before input is lost.
    const size_t capacity =
        static_cast<size_t>(stream_.StepBytes() + marginBytes + format.avgBytesPerSec);
    if (!piece_.Allocate(kWorkerPieceBytes) || !in_.Allocate(capacity) ||
        !out_.Allocate(capacity)) {
        Release();
        return false;
    }
    // The output's first margin: the tail of what the history made, or silence.
    std::vector<uint8_t> primed(history.begin(), history.end());
    stream_.Transform(primed);
    const size_t fromHistory = static_cast<size_t>(std::min<uint64_t>(marginBytes, primed.size()));
    std::vector<uint8_t> first(static_cast<size_t>(marginBytes) - fromHistory, 0);
    first.insert(first.end(), primed.end() - static_cast<std::ptrdiff_t>(fromHistory),
                 primed.end());
    out_.Put(first.data(), first.size());
    delayBytes_ = stream_.DelayBytes() + marginBytes;
    worker_ = std::thread([this] { Work(); });
    return true;
}

void WorkerStream::Wake() {
    if constexpr (kWokenByAudio) {
        posted_.fetch_add(1, std::memory_order_release);
        posted_.notify_one();
    }
}

void WorkerStream::Work() {
    for (;;) {
        const uint32_t seen = posted_.load(std::memory_order_acquire);
        if (stop_.load(std::memory_order_acquire))
            return;
        while (const size_t n = in_.Take(piece_.Data(), piece_.Size())) {
            stream_.Transform({piece_.Data(), n});
            refused_.store(stream_.RefusedSteps(), std::memory_order_release);
            // The output ring has room for everything the input ring held.
            out_.Put(piece_.Data(), n);
        }
        if constexpr (kWokenByAudio)
            posted_.wait(seen, std::memory_order_acquire);
        else
            std::this_thread::sleep_for(kWorkerLook);
    }
}

bool WorkerStream::CaughtUp() const {
    return in_.Readable() == 0;
}

void WorkerStream::Transform(std::span<uint8_t> chunk) {
    if (!worker_.joinable())
        return;
    // Input that finds no room never comes back as output: that much less is owed.
    debt_ -= static_cast<int64_t>(chunk.size() - in_.Put(chunk.data(), chunk.size()));
    Wake();
    if (debt_ > 0)
        debt_ -= static_cast<int64_t>(out_.Drop(static_cast<size_t>(debt_)));
    const size_t got = out_.Take(chunk.data(), chunk.size());
    if (got < chunk.size()) {
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got), chunk.end(), uint8_t{0});
        late_ += chunk.size() - got;
        debt_ += static_cast<int64_t>(chunk.size() - got);
    }
}

}  // namespace qm
