#include "effects/phase_vocoder_effects.h"

#include <algorithm>
#include <cmath>

#include "effects/pcm_convert.h"
#include "effects/phase_vocoder_internal.h"

namespace qm {

namespace {

using enum AnalysisPhase;
using enum BinMapping;
// Weight and modulator share the name kNone, so they keep their prefixes.
using W = MagnitudeWeight;
using M = Modulator;

// Frames of about 32 ms of the interleaved stream; Robot's 60 ms frames give its buzz a
// lower hop rate.
constexpr double kFrameSeconds = 0.032;
constexpr double kRobotFrameSeconds = 0.06;

constexpr VocoderSettings Engine(uint32_t oversampling, AnalysisPhase phase, BinMapping mapping,
                                 uint32_t limitHz, MagnitudeWeight weight, Modulator modulator,
                                 double outputGain) {
    return VocoderSettings{oversampling, phase, mapping, limitHz, weight, modulator, outputGain};
}

// The effect table, in VocoderEffectId order. Engine: oversampling, analysis phase, bin
// mapping, limit F in Hz, magnitude weight, modulator, output gain. Parameters: {min, max,
// default, step, name}; the ...Param fields say which of them drives what.
constexpr VocoderEffectKind kKinds[] = {
    {.name = "FemaletoMale",
     .guid = {0xA6FE09CD, 0xFE50, 0x4FCB, {0x84, 0x59, 0xB3, 0x3F, 0x24, 0x45, 0x49, 0x24}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(4, kMeasured, kLimited, 9000, W::kNone, M::kNone, 2.0),
     .params = {{{-20, 0, -10, 1, "PitchShift"}}},
     .paramCount = 1,
     .pitchShiftParam = 0},
    {.name = "Baby",
     .guid = {0xC37130CA, 0xDB95, 0x4C5D, {0xBA, 0xB1, 0x2A, 0x80, 0xF3, 0x07, 0x61, 0xAE}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(8, kMeasured, kUniform, 0, W::kLowQuarterCosine, M::kNone, 2.0),
     .params = {{{10, 30, 16, 1, "PitchShift"}}},
     .paramCount = 1,
     .pitchShiftParam = 0},
    {.name = "Elder",
     .guid = {0x8FD0C733, 0xE7D4, 0x457F, {0x9C, 0xD5, 0x55, 0x6F, 0xF9, 0x99, 0xC3, 0x49}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(8, kMeasured, kLimited, 4000, W::kLimitCosine, M::kVibrato, 2.5),
     .params = {{{0, 10, 6, 1, "tremolo frequence"}}},
     .paramCount = 1,
     .modulatorRateParam = 0},
    {.name = "Robot",
     .guid = {0xE169A24C, 0x2C69, 0x45CF, {0xB7, 0xA6, 0xC9, 0xA2, 0x4A, 0x21, 0x8D, 0x2E}},
     .frameSeconds = kRobotFrameSeconds,
     .settings = Engine(8, kZero, kUniform, 0, W::kNone, M::kNone, 6.0),
     .paramCount = 0},
    {.name = "Monster",
     .guid = {0xC4270DEF, 0xFB9B, 0x4412, {0xB5, 0xA9, 0xA7, 0xCA, 0x1C, 0xB8, 0x16, 0x37}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(8, kRandom, kUniform, 0, W::kNone, M::kNone, 2.0),
     .params = {{{-30, -8, -12, 1, "PitchShift"}}},
     .paramCount = 1,
     .pitchShiftParam = 0},
    {.name = "Ghost",
     .guid = {0xDE15CC17, 0xD920, 0x4920, {0x82, 0x58, 0xB1, 0xAE, 0xE4, 0xDA, 0x00, 0xA7}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(8, kRandom, kLimited, 11000, W::kLimitCosine, M::kNone, 2.0),
     .params = {{{0, 70, 30, 1, "delay time"},
                 {1, 10, 5, 1, "decay degree"},
                 {-10, 10, -3, 1, "PitchShift"}}},
     .paramCount = 3,
     .pitchShiftParam = 2,
     .echoDelayParam = 0,
     .echoDecayParam = 1},
    {.name = "Strange Voice",
     .guid = {0x4D813ABB, 0x2D50, 0x42DD, {0x96, 0x46, 0x85, 0x39, 0xD2, 0x0B, 0x64, 0xC5}},
     .frameSeconds = kFrameSeconds,
     .settings = Engine(8, kMeasured, kLimited, 7000, W::kLimitCosine, M::kGlide, 2.0),
     .params = {{{0, 10, 2, 1, "change frequence"}, {0, 10, 0, 1, "Pitchshift"}}},
     .paramCount = 2,
     .modulatorRateParam = 0,
     .glideSemitonesParam = 1},
};

// The echo's line holds 0.71 s of the interleaved stream, sized in bytes as 2.84 bytes (0.71 s
// of 4-byte floats) per sample and channel; the longest delay offered, 0.70 s, fits.
constexpr double kDelayLineBytesPerSampleAndChannel = 2.84;
// "delay time" counts hundredths of a second.
constexpr int64_t kDelayUnitsPerSecond = 100;
// "decay degree" counts tenths of the level lost per repeat, out of ten; the tenth is the float
// 0.1 widened to double, as the echo has always computed it.
constexpr int64_t kDecayDegrees = 10;
constexpr double kDecayStep = static_cast<double>(0.1f);

// A non-finite sample (a broken float stream) would poison the spectrum and every frame after
// it; it is taken as silence instead.
void SilenceNonFinite(std::span<float> samples) {
    for (float& v : samples) {
        if (!std::isfinite(v))
            v = 0.0f;
    }
}

}  // namespace

const VocoderEffectKind& VocoderEffectKindOf(VocoderEffectId id) {
    return kKinds[static_cast<size_t>(id)];
}

PhaseVocoderEffect::PhaseVocoderEffect(VocoderEffectId id)
    : kind_(VocoderEffectKindOf(id)), engine_(kind_.settings) {
    SetIdentity(kind_.name, kind_.guid);
    for (uint32_t i = 0; i < kind_.paramCount; ++i) {
        const VocoderParamSpec& p = kind_.params[i];
        params_[i].emplace(p.min, p.max, p.defaultValue, p.step, p.name);
    }
}

uint32_t PhaseVocoderEffect::GetBlockSize(const WaveFormat* format) {
    return StreamBlockSize(format, kind_.frameSeconds);
}

int PhaseVocoderEffect::GetParams(EffectParam** params, uint32_t* count) {
    switch (kind_.paramCount) {
        case 0:
            return ListParams({}, params, count);
        case 1:
            return ListParams({&*params_[0]}, params, count);
        case 2:
            return ListParams({&*params_[0], &*params_[1]}, params, count);
        default:
            return ListParams({&*params_[0], &*params_[1], &*params_[2]}, params, count);
    }
}

int32_t PhaseVocoderEffect::ParamValue(int8_t index) const {
    return params_[static_cast<size_t>(index)]->GetValue();
}

int PhaseVocoderEffect::Prepare(const WaveFormat* format) {
    Release();
    if (format == nullptr || !IsPlausibleStreamFormat(*format))
        return 0;
    const uint32_t n = FrameLength();
    const double samplesPerFrame =
        static_cast<double>(format->samplesPerSec) * format->channels * kind_.frameSeconds;
    if (n == 0 || n != FrameLengthFor(samplesPerFrame) || BlockBytes(n, format->bitsPerSample) == 0)
        return 0;
    if (!engine_.Prepare(n))
        return 0;
    if (HasEcho()) {
        const auto bytes = static_cast<uint64_t>(
            std::floor(static_cast<double>(format->samplesPerSec) * format->channels *
                       kDelayLineBytesPerSampleAndChannel));
        if (!delayLine_.Allocate(static_cast<size_t>(bytes / sizeof(float)))) {
            Release();
            return 0;
        }
    }
    delaySamples_ = 0;
    writePos_ = 0;
    return 1;
}

void PhaseVocoderEffect::Release() {
    delayLine_.Free();
    delaySamples_ = 0;
    writePos_ = 0;
    engine_.Release();
}

bool PhaseVocoderEffect::Accepts(const WaveFormat* format, uint32_t stepSamples,
                                 uint32_t byteCount) const {
    if (format == nullptr || !engine_.Prepared())
        return false;
    const uint32_t n = engine_.FrameLength();
    // The stored frame length must still be the prepared one, and this format must describe
    // frames of the same length: the buffers are sized for exactly N samples.
    if (FrameLength() != n || !IsPlausibleStreamFormat(*format))
        return false;
    const double samplesPerFrame =
        static_cast<double>(format->samplesPerSec) * format->channels * kind_.frameSeconds;
    if (FrameLengthFor(samplesPerFrame) != n)
        return false;
    const uint32_t stepBytes = BlockBytes(stepSamples, format->bitsPerSample);
    return stepBytes != 0 && byteCount >= stepBytes;
}

template <typename Run>
void PhaseVocoderEffect::Transform(const WaveFormat& format, uint8_t* data, uint32_t byteCount,
                                   std::span<float> samples, Run run) {
    PcmToFloat(data, byteCount, format.bitsPerSample, samples);
    SilenceNonFinite(samples);
    run(samples, ReadParameters(format));
    if (HasEcho())
        Echo(samples, format);
    FloatToPcm(samples, format.bitsPerSample, data, byteCount);
}

int PhaseVocoderEffect::Process(const WaveFormat* format, uint8_t* data,
                                const uint32_t* byteCount) {
    if (data == nullptr || byteCount == nullptr ||
        !Accepts(format, engine_.FrameLength(), *byteCount)) {
        return 0;
    }
    Transform(*format, data, *byteCount, engine_.WorkBuffer(),
              [this](std::span<float> s, const BlockContext& c) { engine_.ProcessBlock(s, c); });
    return 1;
}

int PhaseVocoderEffect::ProcessHop(const WaveFormat* format, uint8_t* data, uint32_t byteCount) {
    const uint32_t hop = engine_.HopLength();
    if (data == nullptr || !Accepts(format, hop, byteCount) ||
        byteCount != BlockBytes(hop, format->bitsPerSample)) {
        return 0;
    }
    Transform(*format, data, byteCount, engine_.WorkBuffer().first(hop),
              [this](std::span<float> s, const BlockContext& c) { engine_.ProcessHop(s, c); });
    return 1;
}

void PhaseVocoderEffect::Reset() {
    engine_.ClearState();
    ClearEcho();
    for (auto& param : params_) {
        if (param)
            param->ResetToDefault();
    }
}

BlockContext PhaseVocoderEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context;
    context.sampleRateHz = format.samplesPerSec;
    context.channels = format.channels;
    if (kind_.pitchShiftParam != kNoParam)
        context.pitchFactor = vocoder::PitchFactor(ParamValue(kind_.pitchShiftParam));
    if (kind_.modulatorRateParam != kNoParam)
        context.modulatorRateHz = ParamValue(kind_.modulatorRateParam);
    if (kind_.glideSemitonesParam != kNoParam)
        context.semitones = ParamValue(kind_.glideSemitonesParam);
    return context;
}

void PhaseVocoderEffect::ClearEcho() {
    if (!delayLine_.Empty())
        std::fill(delayLine_.Data(), delayLine_.Data() + delaySamples_, 0.0f);
    writePos_ = 0;
}

// A feedback comb: an echo every D samples of the interleaved stream, each repeat weaker by the
// decay.
void PhaseVocoderEffect::Echo(std::span<float> samples, const WaveFormat& format) {
    if (delayLine_.Empty())
        return;
    // The parameter is not range-checked, so D is kept inside the line whatever it holds.
    const int64_t delay = int64_t{ParamValue(kind_.echoDelayParam)} * format.channels *
                          format.samplesPerSec / kDelayUnitsPerSecond;
    const auto lineLength = static_cast<int64_t>(delayLine_.Size());
    delaySamples_ = static_cast<uint32_t>(std::clamp<int64_t>(delay, 0, lineLength));
    const double gain =
        static_cast<double>(kDecayDegrees - int64_t{ParamValue(kind_.echoDecayParam)}) * kDecayStep;
    float* line = delayLine_.Data();
    for (float& x : samples) {
        if (writePos_ + 1 > delaySamples_)
            writePos_ = 0;
        const auto y = static_cast<float>(x + gain * line[writePos_]);
        x = y;
        line[writePos_] = y;
        ++writePos_;
    }
}

}  // namespace qm
