#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

#include "effects/effect_stream.h"
#include "effects/fixed_array.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"

namespace qm {

// Runs a block voice (Male2Female: one long step per block) on a thread of its own, for a
// stream carried by a sound server's callback: the callback only copies its input into one
// ring and takes the output from another, while the worker runs the effect's steps in between.
// The output is the effect's own stream output, `marginBytes` later: the time the worker has
// for a step before its output is due. Output that is still not ready when due is played as
// silence and counted, and as much is skipped once it arrives, so the delay never drifts.
//
// Prepare and Release run on the control side (they allocate, start and join the worker);
// Transform runs on one audio thread at a time and allocates nothing, takes no lock, never
// waits (it wakes the worker, or on Windows the worker looks for input every 2 ms).
class WorkerStream {
  public:
    WorkerStream() = default;
    ~WorkerStream() { Release(); }
    WorkerStream(const WorkerStream&) = delete;
    WorkerStream& operator=(const WorkerStream&) = delete;

    // Prepares `effect` for `format`, feeds it `history` (the input before this stream's first
    // byte, so that the voice starts settled; its output is dropped except the last
    // `marginBytes`, which come out first) and starts the worker. False, holding nothing, when
    // the effect refuses the format or memory is short.
    bool Prepare(VoiceEffect& effect, const WaveFormat& format, uint64_t marginBytes,
                 std::span<const uint8_t> history);
    void Release();

    // Replaces `chunk` by as many bytes of the output stream.
    void Transform(std::span<uint8_t> chunk);

    // The effect's delay and the margin. Any thread once prepared.
    uint64_t DelayBytes() const { return delayBytes_; }
    // Effect steps the effect refused (kept unchanged), and output that came too late.
    uint64_t RefusedSteps() const { return refused_.load(std::memory_order_acquire); }
    uint64_t LateBytes() const { return late_; }
    // True when the worker has taken every byte handed to it.
    bool CaughtUp() const;

  private:
    // A byte ring between one writer and one reader; counters of bytes ever written and read.
    struct Ring {
        FixedArray<uint8_t> bytes;
        std::atomic<uint64_t> head{0};
        std::atomic<uint64_t> tail{0};
        bool Allocate(size_t capacity);
        size_t Put(const uint8_t* data, size_t n);
        size_t Take(uint8_t* data, size_t n);
        size_t Drop(size_t n);
        size_t Readable() const;
    };
    void Work();
    void Wake();

    EffectStream stream_;  // touched by the worker only, once it runs
    FixedArray<uint8_t> piece_;
    Ring in_;
    Ring out_;
    std::thread worker_;
    std::atomic<uint32_t> posted_{0};  // wakes the worker
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> refused_{0};
    uint64_t delayBytes_ = 0;
    uint64_t late_ = 0;
    int64_t debt_ = 0;  // late bytes still to skip
};

}  // namespace qm
