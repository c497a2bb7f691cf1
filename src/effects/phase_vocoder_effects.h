#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "effects/fixed_array.h"
#include "effects/phase_vocoder.h"
#include "effects/voice_effect.h"

namespace qm {

// The seven effects that share the short-time Fourier engine. One class runs them all; what
// tells them apart is one row of a table (see VocoderEffectKind): the engine settings, the
// frame duration, the parameters and which engine input each parameter drives, and (Ghost) an
// echo after the engine.
//
// Prepare allocates everything, including the block's float frame; Process allocates nothing
// and never blocks. A block is refused (0, data untouched) when the effect is not prepared,
// when the format would give another frame length than the prepared one, or when the byte
// count is shorter than one block.
//
// ProcessHop is the streaming entry for live use: the same engine fed one hop (N / oversampling
// samples) at a time. Hops fed in order give exactly the output that blocks of the same stream
// give, each hop as soon as its input is in: the output lags the input by N - hop samples, not
// by a whole block more. Blocks and hops may not be mixed within one stream.

enum class VocoderEffectId {
    kFemaleToMale,
    kBaby,
    kElder,
    kRobot,
    kMonster,
    kGhost,
    kStrangeVoice,
};

// One adjustable parameter as the table declares it.
struct VocoderParamSpec {
    int32_t min = 0;
    int32_t max = 0;
    int32_t defaultValue = 0;
    int32_t step = 1;
    const char* name = nullptr;
};

inline constexpr uint32_t kMaxVocoderParams = 3;
// Marks a table slot that no parameter fills.
inline constexpr int8_t kNoParam = -1;

// One row of the effect table: everything in which one engine effect differs from another.
struct VocoderEffectKind {
    const char* name = nullptr;
    EffectGuid guid{};
    double frameSeconds = 0.0;  // of the interleaved stream
    VocoderSettings settings;
    std::array<VocoderParamSpec, kMaxVocoderParams> params{};
    uint32_t paramCount = 0;
    // Which parameter (index into `params`, or kNoParam) drives each engine input.
    int8_t pitchShiftParam = kNoParam;      // semitones, turned into the pitch factor 2^(v/12)
    int8_t modulatorRateParam = kNoParam;   // modulator cycles per second of sound
    int8_t glideSemitonesParam = kNoParam;  // the glide's base pitch in semitones
    // The echo after the engine: its delay (hundredths of a second) and decay (tenths lost
    // per repeat) parameters; effects without an echo leave both kNoParam.
    int8_t echoDelayParam = kNoParam;
    int8_t echoDecayParam = kNoParam;
};

const VocoderEffectKind& VocoderEffectKindOf(VocoderEffectId id);

class PhaseVocoderEffect : public VoiceEffect {
  public:
    explicit PhaseVocoderEffect(VocoderEffectId id);
    int Prepare(const WaveFormat* format) override;
    void Release() override;
    int GetParams(EffectParam** params, uint32_t* count) override;
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override;
    uint32_t GetBlockSize(const WaveFormat* format) override;
    // Clears the processing state and restores every parameter's default.
    void Reset() override;

    // Frames per frame length: the hop is N / oversampling.
    uint32_t Oversampling() const { return engine_.Oversampling(); }
    // Samples of the interleaved stream per hop; 0 when not prepared.
    uint32_t HopLength() const { return engine_.HopLength(); }
    // Transforms the next hop of the stream, exactly HopLength samples (`byteCount` bytes), in
    // place. Refusals as for Process (0, data untouched). Allocates nothing, never blocks.
    int ProcessHop(const WaveFormat* format, uint8_t* data, uint32_t byteCount);

  private:
    // True when `format` gives the prepared frame length; `stepSamples` must fit its bytes.
    bool Accepts(const WaveFormat* format, uint32_t stepSamples, uint32_t byteCount) const;
    // Converts `samples` worth of `data`, runs `run` over the float samples, converts back.
    template <typename Run>
    void Transform(const WaveFormat& format, uint8_t* data, uint32_t byteCount,
                   std::span<float> samples, Run run);
    bool HasEcho() const { return kind_.echoDelayParam != kNoParam; }
    int32_t ParamValue(int8_t index) const;
    BlockContext ReadParameters(const WaveFormat& format) const;
    void Echo(std::span<float> samples, const WaveFormat& format);
    void ClearEcho();

    const VocoderEffectKind& kind_;
    PhaseVocoder engine_;
    std::array<std::optional<EffectParam>, kMaxVocoderParams> params_;

    // Echo state (only effects with an echo allocate the line).
    FixedArray<float> delayLine_;  // 0.71 s of the interleaved stream
    uint32_t delaySamples_ = 0;    // D of the last block
    uint32_t writePos_ = 0;
};

}  // namespace qm
