#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "effects/effect_guid.h"
#include "effects/voice_effect.h"
#include "effects/wave_format.h"
#include "filter/block_fifo.h"

namespace qm {

// Format type of a connection whose format block is a wave-format record.
inline constexpr EffectGuid kWaveFormatType = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// Bytes of a format block the stage keeps: the wave-format record up to its extra-size field.
inline constexpr size_t kWaveFormatBytes = 18;

// Decodes the first kWaveFormatBytes (or fewer; missing fields are zero) of a little-endian
// wave-format block. A null block reads as all zero.
WaveFormat WaveFormatFromBytes(const uint8_t* block, size_t length);
std::array<uint8_t, kWaveFormatBytes> WaveFormatToBytes(const WaveFormat& format);

// The registry effect a recorder index (1 to 8) selects, or null.
VoiceEffect* EffectForRecorderIndex(int32_t index);
// The recorder index (1 to 8) that reaches `effect`, or 0 when none does.
int32_t RecorderIndexOf(const VoiceEffect& effect);

// The voice effect stage without its media-framework shell: it holds the stream's wave format,
// the selected effect, that effect's block size and the block FIFO, and changes buffers of the
// stream in place. Buffers go through the effect only while an effect is selected, a format
// with a sample rate is known, the effect's block size is 1..BlockFifo::kMaxBlockBytes and the
// effect prepared for the format; otherwise they pass unchanged and without delay. Through the
// effect, the output is the input delayed by the FIFO's silent lead-in of Gap() blocks.
//
// Threads: every method takes the stage's one lock for its whole duration, so a selection
// never lands in the middle of a buffer. The lock is contended only while the user switches
// effects or a connection completes.
class EffectStage {
  public:
    // Allocates the FIFO's storage (not real-time). Check Allocated() before use.
    EffectStage();
    // Releases the current effect.
    ~EffectStage();
    EffectStage(const EffectStage&) = delete;
    EffectStage& operator=(const EffectStage&) = delete;

    bool Allocated() const { return fifo_.Allocated(); }

    // Connection thread, when a pin connection completes: a format block whose type is
    // kWaveFormatType becomes the stream's format (its first 18 bytes, or fewer; a null block
    // reads as all zero), the current effect is released, re-sized and re-prepared for it and
    // the FIFO is laid out afresh (new lead-in). Any other format type changes nothing. Waits
    // for a buffer in progress to finish. May allocate (the effect's Prepare).
    void SetFormat(const EffectGuid& formatType, const uint8_t* block, size_t length);
    // The same for a format already in the portable record (the media framework's filter
    // converts the platform's record once, in PortableWaveFormat).
    void SetFormat(const WaveFormat& format);

    // User-interface thread: selects the effect of a recorder index (1 to 8; anything else
    // selects none). The old effect is released; the new one is sized and prepared for the
    // known format and, once a sample rate is known, the FIFO is laid out afresh. Waits for a
    // buffer in progress to finish. May allocate.
    void SelectEffect(int32_t index);
    // As SelectEffect, with any effect object (null selects none). The stage borrows it: it
    // must outlive its selection.
    void SetEffect(VoiceEffect* effect);

    // Streaming thread: changes the buffer in place. Returns true when the buffer went through
    // the effect (it now holds the delayed, processed stream), false when it passed unchanged.
    // Allocates nothing; blocks only while a selection or connection is in progress.
    bool Transform(std::span<uint8_t> buffer);

    // Streaming thread, at the end of the stream: processes the partly filled last block
    // (padded with silence) and copies up to out.size() of the bytes still held, which are
    // what the reader is behind the writer: the rest of the lead-in and the delayed input.
    // Call until it returns 0. The pad itself is never handed out. Once everything is out
    // the FIFO starts a new lead-in. A Transform before the drain is finished drops what it
    // has not handed out. Returns 0 when buffers pass unchanged. Allocates nothing.
    size_t Drain(std::span<uint8_t> out);

    // Bytes the drain still has to hand out (all of what the stage holds before it starts).
    size_t PendingBytes() const;

    // Observers, for the owner's diagnostics and tests.
    bool Processing() const;
    uint32_t BlockBytes() const;
    uint32_t Gap() const;
    VoiceEffect* CurrentEffect() const;
    WaveFormat Format() const;

  private:
    enum class Tail { kStreaming, kDraining, kDrained };
    static constexpr uint32_t kDefaultBlockBytes = 4096;

    // Sizes and prepares the current effect (already released) for the format and lays out
    // the FIFO; decides whether buffers go through the effect. Called with the lock held.
    void Relayout();
    // A fresh FIFO layout for the same block size: new lead-in, nothing held.
    void Restart();
    void ProcessCompleteBlocks();
    uint8_t Silence() const { return format_.bitsPerSample == 8 ? 0x80 : 0x00; }

    mutable std::mutex lock_;
    WaveFormat format_{};
    VoiceEffect* effect_ = nullptr;
    // Size of one effect block; the default when no effect supplies its own.
    uint32_t blockBytes_ = kDefaultBlockBytes;
    // Invariant: processing_ implies an effect, a FIFO laid out for blockBytes_ and a
    // prepared effect.
    bool processing_ = false;
    Tail tail_ = Tail::kStreaming;
    size_t drainLeft_ = 0;
    BlockFifo fifo_;
};

}  // namespace qm
