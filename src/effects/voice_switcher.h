#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "effects/effect_stream.h"
#include "effects/fixed_array.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"
#include "effects/worker_stream.h"

namespace qm {

// A live stream's voice that can change while the user talks. The next voice is prepared by
// the control side (allocation, the effect's own Prepare) and fed the last moments of input
// (twice its delay, kept by the audio side), so that it is settled before it is heard; it is
// handed to the audio side through one slot, which feeds it what came since and at once fades
// the old voice out as the new one fades in, then hands the old voice back through a second
// slot for the control side to free. The audio side never allocates, locks or waits.
//
// Where the audio side is a server's callback, a block voice's long steps must not run there:
// with RunBlocksOnWorker such a voice runs on a thread of its own (WorkerStream), a little
// later; voices that run by hops stay inline.
//
// Two threads: one control thread calls Start, Switch and Collect; one audio thread at a time
// calls Transform (and the Audio* queries). 16-bit PCM only.
class VoiceSwitcher {
  public:
    // What a switch request came to.
    enum class Offer { kQueued, kBusy, kRefused };

    VoiceSwitcher() = default;
    ~VoiceSwitcher();
    VoiceSwitcher(const VoiceSwitcher&) = delete;
    VoiceSwitcher& operator=(const VoiceSwitcher&) = delete;

    // The first voice (`effect` null: the voice unchanged), not owned; `id` names it to the
    // caller. False when the effect refuses the format or memory is short.
    bool Start(VoiceEffect* effect, int id, const WaveFormat& format);
    // From now on, voices switched to that run in blocks run on a worker thread. Control side,
    // before the audio side runs.
    void RunBlocksOnWorker(bool on) { blocksOnWorker_ = on; }
    // Prepares `effect` (owned; null for the voice unchanged) and queues it. kBusy while an
    // earlier switch still waits for the audio side; kRefused when the effect cannot run.
    Offer Switch(std::unique_ptr<VoiceEffect> effect, int id);
    // Frees the voices the audio side has let go of.
    void Collect();
    // The id of the voice heard now (the new one once its fade has begun). Any thread.
    int CurrentId() const { return currentId_.load(std::memory_order_acquire); }
    // Where the voice heard now began: bytes of input since Start. Any thread.
    uint64_t CurrentSinceBytes() const { return since_.load(std::memory_order_acquire); }
    // True while a voice waits for the audio side to take it.
    bool Busy() const { return pending_.load(std::memory_order_acquire) != nullptr; }
    // Switches completed since Start. Any thread.
    uint64_t Switches() const { return switches_.load(std::memory_order_acquire); }

    // Replaces `chunk` by as many bytes of the voice's output. Audio thread.
    void Transform(std::span<uint8_t> chunk);
    // The current voice's delay, and whether it runs in short even steps. Audio thread.
    uint64_t AudioDelayBytes() const;
    bool AudioByHops() const;
    uint64_t AudioRefusedSteps() const { return refused_; }
    // Output a worker had not ready in time, played as silence.
    uint64_t AudioLateBytes() const { return late_; }
    // True when no voice's worker has input waiting. Audio thread.
    bool AudioCaughtUp() const;

  private:
    struct Voice {
        std::unique_ptr<VoiceEffect> owned;
        VoiceEffect* effect = nullptr;
        EffectStream stream;
        std::unique_ptr<WorkerStream> worker;  // instead of `stream`, for a block voice
        int id = 0;
        uint64_t fedTo = 0;   // input position up to which it was fed on the control side
        bool primed = false;  // fed the moments before fedTo
        void Transform(std::span<uint8_t> chunk);
        uint64_t DelayBytes() const;
        uint64_t RefusedSteps() const;
    };
    bool PrepareVoice(Voice& voice);
    bool CopyHistory(uint64_t from, uint64_t to, std::vector<uint8_t>& out) const;
    void Keep(const uint8_t* data, size_t bytes);
    void Take();
    void RunPiece(uint8_t* data, size_t bytes);
    void Mix(uint8_t* data, const uint8_t* incoming, size_t bytes);
    void FinishFade();

    WaveFormat format_{};
    FixedArray<uint8_t> scratch_;  // the incoming voice's copy of the input
    FixedArray<uint8_t> history_;  // the last moments of input, a ring
    uint64_t fadeBytes_ = 0;
    uint64_t marginBytes_ = 0;  // a worker's time for a step
    bool started_ = false;      // control side: Start has succeeded
    bool blocksOnWorker_ = false;
    // Audio side.
    std::unique_ptr<Voice> current_;  // owned by the audio side once Start is done
    Voice* incoming_ = nullptr;
    Voice* toRetire_ = nullptr;  // waits for the retired slot to be free
    uint64_t fadeAt_ = 0;        // bytes of the incoming voice's output seen so far
    uint64_t warmBytes_ = 0;     // before its output is faded in
    uint64_t refused_ = 0;
    uint64_t late_ = 0;
    uint64_t lateBefore_ = 0;  // of the voices retired
    uint64_t position_ = 0;    // bytes transformed since Start
    // Between the two sides.
    std::atomic<Voice*> pending_{nullptr};
    std::atomic<Voice*> retired_{nullptr};
    std::atomic<uint64_t> kept_{0};  // input bytes in history_ so far
    std::atomic<int> currentId_{0};
    std::atomic<uint64_t> since_{0};
    std::atomic<uint64_t> switches_{0};
};

}  // namespace qm
