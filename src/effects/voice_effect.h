#pragma once

#include <cstdint>
#include <initializer_list>

#include "effects/effect_guid.h"
#include "effects/effect_param.h"
#include "effects/wave_format.h"

namespace qm {

// A built-in voice effect: a block-oriented transform of interleaved little-endian PCM.
//
// Lifecycle, driven by one user at a time (the effect stage's streaming thread):
//   GetBlockSize(format)  stores the frame length N and returns the block size in bytes
//   Prepare(format)       allocates every buffer the effect needs (may allocate; not real-time)
//   Process(...)          one whole block in place; allocates nothing unless documented
//   Reset()               between blocks: parameters to defaults, processing state cleared
//   Release()             frees the buffers; required before another Prepare
//
// The order of the virtual operations is part of the exported interface: EnumEffect hands
// out the objects themselves.
class VoiceEffect {
  public:
    static constexpr int kNameCapacity = 260;

    VoiceEffect();
    virtual const EffectGuid* GetGUID() const;
    // 1 when the effect holds every buffer it needs for `format`, 0 when it refuses the
    // format or an allocation fails (whatever was allocated is freed by Release).
    virtual int Prepare(const WaveFormat* format) = 0;
    virtual void Release() = 0;
    // Fills `params` with the effect's parameters when the array is large enough; always
    // stores the number of parameters in *count.
    virtual int GetParams(EffectParam** params, uint32_t* count) = 0;
    // Transforms one block of exactly GetBlockSize bytes in place. *byteCount is read only.
    // On 0 the data is left untouched.
    virtual int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount);
    virtual const char* GetName() const;
    virtual uint32_t GetBlockSize(const WaveFormat* format);
    virtual void Reset();
    virtual ~VoiceEffect() = default;
    // Reserved slot kept for the exported interface; nothing calls it.
    virtual int Reserved(uint32_t first, uint32_t second);

    VoiceEffect(const VoiceEffect&) = delete;
    VoiceEffect& operator=(const VoiceEffect&) = delete;

    uint32_t FrameLength() const { return frameLength_; }

    // N = 2^trunc(log2(x) + 0.5) for x samples per frame; 0 when x describes no usable frame
    // (zero, negative, not finite, a fraction of a sample, or too large for 32-bit sizes).
    static uint32_t FrameLengthFor(double samplesPerFrame);

  protected:
    void SetIdentity(const char* name, const EffectGuid& guid);
    void SetFrameLength(uint32_t frameLength) { frameLength_ = frameLength; }

    // Stores N for `seconds` of the interleaved stream and returns N samples' bytes.
    uint32_t StreamBlockSize(const WaveFormat* format, double seconds);

    // The enumeration contract shared by every effect's GetParams.
    static int ListParams(std::initializer_list<EffectParam*> own, EffectParam** params,
                          uint32_t* count);

    // Block size in bytes for N samples of `bits`, or 0 when it does not fit 32 bits.
    static uint32_t BlockBytes(uint64_t samples, uint32_t bits);

  private:
    char name_[kNameCapacity];
    EffectGuid guid_{};
    uint32_t frameLength_ = 0;
};

}  // namespace qm
