#pragma once

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "effects/wave_format.h"
#include "soundserver/spsc_ring.h"

namespace qm {

// A connection to the sound server (PulseAudio, or PipeWire's pulse server) through libpulse's
// threaded main loop, and the streams that carry audio between the server and a ring.
//
// Threads. libpulse's main-loop thread (the server's thread) runs every callback: the
// context's and streams' state callbacks and the streams' read and write callbacks. Everything
// else (Connect, the source queries, Open/Close, LatencyUs, the destructors) runs on the
// caller's thread, which takes the main loop's lock for each libpulse call.
//
// Blocking. The calls on the caller's thread block, each for at most its time limit, so a
// server that hangs gives an error instead of a hung tool; they wait by polling with the lock
// released, so the callbacks are never held up longer than one libpulse call. The callbacks
// never wait: the main loop holds its own lock while it runs them, and the only things they
// touch besides libpulse are the lock-free ring and atomics.
//
// Memory. Connect, the queries and Open allocate (libpulse objects, names, lists); the
// stream callbacks allocate nothing: they copy between the server's buffers and the ring,
// whose storage was allocated when it was made.

struct SourceInfo {
    std::string name;
    std::string description;
    uint32_t rateHz = 0;
    uint32_t channels = 0;
    bool isDefault = false;
    bool isMonitor = false;  // the monitor of an output, not a microphone
};

class PulseClient {
  public:
    PulseClient() = default;
    // Stops the main loop and drops the connection (streams must be closed first).
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Connects to the user's server; never starts one. The error names what is missing.
    bool Connect(double timeoutSeconds, std::string& error);
    // The capture sources, the default one marked.
    bool Sources(std::vector<SourceInfo>& sources, std::string& error);
    // One source by name, or the default source for an empty name.
    bool Source(const std::string& name, SourceInfo& source, std::string& error);
    // The server's name for the default output, or empty.
    bool DefaultSinkName(std::string& name, std::string& error);

    // True when the server is PipeWire's pulse server (known after any query above).
    bool OnPipeWire() const { return onPipeWire_; }

    // False once the connection has failed or ended (the server went away). Any thread.
    bool Alive() const { return alive_.load(std::memory_order_acquire); }

    // Holds the main loop's lock: every libpulse call outside a callback needs it.
    class Lock {
      public:
        explicit Lock(PulseClient& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    // Polls `done` under the lock until it holds or `timeoutSeconds` pass.
    template <typename Done>
    bool WaitUntil(Done done, double timeoutSeconds);

    pa_context* Context() { return context_; }

  private:
    bool RunOperation(pa_operation* op, const char* what, std::string& error);
    bool ServerDefaults(std::string& source, std::string& sink, std::string& error);
    static void OnState(pa_context* c, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> alive_{false};
    bool onPipeWire_ = false;
};

// Runs inside a capture stream's read callback, on the main loop's thread, before the audio
// is stored: may change the audio in place; must not allocate, lock or wait.
class CaptureFilter {
  public:
    virtual void Filter(std::span<uint8_t> audio) = 0;

  protected:
    ~CaptureFilter() = default;
};

// One audio stream in either direction between the server and a ring. Recording: the server's
// data goes into `ring` in the read callback (holes as silence); what does not fit is counted
// in LostBytes. Playback: the write callback takes what `ring` holds and pads with silence;
// when audio waits in the ring (the capture side delivered late, in a burst), the oldest is
// dropped in its quiet moments until the latency is back (ShortenedBytes), and a backlog of
// twenty buffers is dropped at once (DroppedBytes).
// A capture stream may pass its audio through a CaptureFilter on the way into the ring, so that
// a monitor needs no thread and no second ring between microphone and output.
// The callbacks allocate nothing and never wait.
class PulseStream {
  public:
    explicit PulseStream(PulseClient& client) : client_(client) {}
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // `fragmentBytes` is how much the server gathers before each delivery (capture) or the
    // buffer it keeps ahead (playback): the latency.
    // The server is asked for exactly these buffers: PulseAudio's buffer attributes, and on
    // PipeWire the node latency of the same length.
    bool OpenRecord(const std::string& device, const WaveFormat& format, uint32_t fragmentBytes,
                    SpscRing& ring, std::string& error, CaptureFilter* filter = nullptr);
    bool OpenPlayback(const std::string& device, const WaveFormat& format, uint32_t targetBytes,
                      SpscRing& ring, std::string& error);
    void Close();
    // The server ends the stream when its device goes away instead of moving it to another
    // (which might be the voice's own output: a loop). Call before opening.
    void StayOnDevice() { stayOnDevice_ = true; }

    // True once the stream failed or the server ended it (its device went away).
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Monotonic nanoseconds of the last delivery.
    int64_t LastDataNs() const { return lastDataNs_.load(std::memory_order_acquire); }
    uint64_t LostBytes() const { return lostBytes_.load(std::memory_order_relaxed); }
    uint64_t Underruns() const { return underruns_.load(std::memory_order_relaxed); }
    uint64_t DroppedBytes() const { return dropped_.load(std::memory_order_relaxed); }
    uint64_t ShortenedBytes() const { return shortened_.load(std::memory_order_relaxed); }
    // Playback: true once the server has asked for more than its first buffer, so the output
    // is playing (an idle sink may take a while to wake after the stream's first request).
    bool Running() const { return requested_.load(std::memory_order_acquire) > targetBytes_; }
    // The server's latency for this stream in microseconds, or -1 when unknown.
    int64_t LatencyUs();

  private:
    bool Open(bool record, const std::string& device, const WaveFormat& format,
              uint32_t bufferBytes, SpscRing& ring, std::string& error);
    void Store(const uint8_t* data, size_t bytes);
    void CatchUp(std::span<uint8_t> scratch);
    static void OnState(pa_stream* s, void* self);
    static void OnRead(pa_stream* s, size_t bytes, void* self);
    static void OnWrite(pa_stream* s, size_t bytes, void* self);

    PulseClient& client_;
    pa_stream* stream_ = nullptr;
    SpscRing* ring_ = nullptr;
    std::atomic<bool> ended_{false};
    std::atomic<int64_t> lastDataNs_{0};
    std::atomic<uint64_t> lostBytes_{0};
    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> shortened_{0};
    std::atomic<uint64_t> requested_{0};
    size_t targetBytes_ = 0;
    bool stayOnDevice_ = false;
    size_t quietPieceBytes_ = 0;
    CaptureFilter* filter_ = nullptr;
    std::unique_ptr<uint8_t[]> scratch_;  // the filter's copy of the server's audio
};

int64_t MonotonicNs();

template <typename Done>
bool PulseClient::WaitUntil(Done done, double timeoutSeconds) {
    const int64_t deadline = MonotonicNs() + static_cast<int64_t>(timeoutSeconds * 1e9);
    // A server answers within a few milliseconds, but an idle output may take seconds to start:
    // the pause doubles from 1 ms to 16 ms, so a long wait does not cost a wake-up every 2 ms.
    long pauseNs = 1000000;
    for (;;) {
        {
            Lock lock(*this);
            if (done())
                return true;
        }
        if (MonotonicNs() > deadline)
            return false;
        struct timespec pause = {0, pauseNs};
        nanosleep(&pause, nullptr);
        pauseNs = std::min(2 * pauseNs, 16000000L);
    }
}

}  // namespace qm
