#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace qm {

// A byte ring between exactly one writer thread and one reader thread, without locks: the
// capture callback writes, the file writer reads. Storage is allocated once, at construction;
// Write and Read allocate nothing and never wait.
//
// Invariants: `head_` counts bytes ever written, `tail_` bytes ever read; only the writer
// stores head_, only the reader stores tail_; 0 <= head_ - tail_ <= capacity. A byte is
// published by the release-store of head_ after it is copied, and its room is handed back by
// the release-store of tail_ after it is copied out. The counters are 64-bit, so they never
// wrap in practice; positions wrap at the capacity, a power of two.
class SpscRing {
  public:
    // Capacity is `minBytes` rounded up to a power of two (at least 2).
    explicit SpscRing(size_t minBytes);
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    size_t Capacity() const { return capacity_; }

    // Writer: copies as much of `data` as fits and returns that count; a short write means
    // the reader fell behind (the caller counts the rest as lost).
    size_t Write(std::span<const uint8_t> data);
    // Writer: as Write, with `count` bytes of `value` (a gap in the input filled with silence).
    size_t Fill(uint8_t value, size_t count);

    // Reader: copies up to out.size() bytes, oldest first, and returns the count (0 when empty).
    size_t Read(std::span<uint8_t> out);
    // Reader: as Read, but the bytes stay in the ring.
    size_t Peek(std::span<uint8_t> out) const;
    // Reader: drops up to `count` of the oldest bytes and returns how many it dropped.
    size_t Discard(size_t count);
    // Reader: bytes available to read now.
    size_t Readable() const;

  private:
    template <typename Copy>
    size_t Produce(size_t count, Copy copy);

    size_t capacity_;
    std::unique_ptr<uint8_t[]> storage_;
    alignas(64) std::atomic<uint64_t> head_{0};
    alignas(64) std::atomic<uint64_t> tail_{0};
};

}  // namespace qm
