#include "effects/phase_vocoder_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effects/pcm_convert.h"
#include "effects/phase_vocoder_internal.h"

namespace {
constexpr EffectGuid kFemaleToMaleGuid = {
    0xA6FE09CD, 0xFE50, 0x4FCB, {0x84, 0x59, 0xB3, 0x3F, 0x24, 0x45, 0x49, 0x24}};
constexpr EffectGuid kBabyGuid = {
    0xC37130CA, 0xDB95, 0x4C5D, {0xBA, 0xB1, 0x2A, 0x80, 0xF3, 0x07, 0x61, 0xAE}};
constexpr EffectGuid kElderGuid = {
    0x8FD0C733, 0xE7D4, 0x457F, {0x9C, 0xD5, 0x55, 0x6F, 0xF9, 0x99, 0xC3, 0x49}};
constexpr EffectGuid kRobotGuid = {
    0xE169A24C, 0x2C69, 0x45CF, {0xB7, 0xA6, 0xC9, 0xA2, 0x4A, 0x21, 0x8D, 0x2E}};
constexpr EffectGuid kMonsterGuid = {
    0xC4270DEF, 0xFB9B, 0x4412, {0xB5, 0xA9, 0xA7, 0xCA, 0x1C, 0xB8, 0x16, 0x37}};
constexpr EffectGuid kGhostGuid = {
    0xDE15CC17, 0xD920, 0x4920, {0x82, 0x58, 0xB1, 0xAE, 0xE4, 0xDA, 0x00, 0xA7}};
constexpr EffectGuid kStrangeVoiceGuid = {
    0x4D813ABB, 0x2D50, 0x42DD, {0x96, 0x46, 0x85, 0x39, 0xD2, 0x0B, 0x64, 0xC5}};

// Frames of about 32 ms of the interleaved stream; Robot uses 60 ms.
constexpr double kFrameSeconds = 0.032;
constexpr double kRobotFrameSeconds = 0.06;

VocoderSettings Settings(uint32_t oversampling, AnalysisPhase phase, BinMapping mapping,
                         uint32_t limitHz, MagnitudeWeight weight, Modulator modulator,
                         double gain) {
    VocoderSettings s;
    s.oversampling = oversampling;
    s.phase = phase;
    s.mapping = mapping;
    s.limitHz = limitHz;
    s.weight = weight;
    s.modulator = modulator;
    s.outputGain = gain;
    return s;
}

// A non-finite sample (a broken float stream) would poison the spectrum and every frame after
// it; it is taken as silence instead.
void SilenceNonFinite(std::span<float> samples) {
    for (float& v : samples) {
        if (!std::isfinite(v))
            v = 0.0f;
    }
}

}  // namespace

PhaseVocoderEffect::PhaseVocoderEffect(const VocoderSettings& settings, double frameSeconds)
    : engine_(settings), frameSeconds_(frameSeconds) {}

uint32_t PhaseVocoderEffect::GetBlockSize(const WaveFormat* format) {
    return StreamBlockSize(format, frameSeconds_);
}

int PhaseVocoderEffect::Prepare(const WaveFormat* format) {
    Release();
    if (format == nullptr || !IsPlausibleStreamFormat(*format))
        return 0;
    const uint32_t n = FrameLength();
    const double samplesPerFrame =
        static_cast<double>(format->samplesPerSec) * format->channels * frameSeconds_;
    if (n == 0 || n != FrameLengthFor(samplesPerFrame) || BlockBytes(n, format->bitsPerSample) == 0)
        return 0;
    if (!engine_.Prepare(n))
        return 0;
    if (!PrepareExtra(*format)) {
        Release();
        return 0;
    }
    return 1;
}

void PhaseVocoderEffect::Release() {
    ReleaseExtra();
    engine_.Release();
}

int PhaseVocoderEffect::Process(const WaveFormat* format, uint8_t* data,
                                const uint32_t* byteCount) {
    if (format == nullptr || data == nullptr || byteCount == nullptr || !engine_.Prepared())
        return 0;
    const uint32_t n = engine_.FrameLength();
    // The stored frame length must still be the prepared one, and this block's format must
    // describe frames of the same length: the buffers are sized for exactly N samples.
    if (FrameLength() != n || !IsPlausibleStreamFormat(*format))
        return 0;
    const double samplesPerFrame =
        static_cast<double>(format->samplesPerSec) * format->channels * frameSeconds_;
    if (FrameLengthFor(samplesPerFrame) != n)
        return 0;
    const uint32_t blockBytes = BlockBytes(n, format->bitsPerSample);
    if (blockBytes == 0 || *byteCount < blockBytes)
        return 0;

    std::span<float> samples = engine_.WorkBuffer();
    PcmToFloat(data, *byteCount, format->bitsPerSample, samples);
    SilenceNonFinite(samples);
    engine_.ProcessBlock(samples, ReadParameters(*format));
    AfterFrames(samples, *format);
    FloatToPcm(samples, format->bitsPerSample, data, *byteCount);
    return 1;
}

void PhaseVocoderEffect::Reset() {
    engine_.ClearState();
    ClearExtra();
}

BlockContext PhaseVocoderEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context;
    context.sampleRateHz = format.samplesPerSec;
    context.channels = format.channels;
    return context;
}

FemaleToMaleEffect::FemaleToMaleEffect()
    : PhaseVocoderEffect(Settings(4, AnalysisPhase::kMeasured, BinMapping::kLimited, 9000,
                                  MagnitudeWeight::kNone, Modulator::kNone, 2.0),
                         kFrameSeconds) {
    SetIdentity("FemaletoMale", kFemaleToMaleGuid);
}
int FemaleToMaleEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void FemaleToMaleEffect::Reset() {
    PhaseVocoderEffect::Reset();
    pitchShift_.ResetToDefault();
}

BabyEffect::BabyEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kMeasured, BinMapping::kUniform, 0,
                                  MagnitudeWeight::kLowQuarterCosine, Modulator::kNone, 2.0),
                         kFrameSeconds) {
    SetIdentity("Baby", kBabyGuid);
}
int BabyEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void BabyEffect::Reset() {
    PhaseVocoderEffect::Reset();
    pitchShift_.ResetToDefault();
}

ElderEffect::ElderEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kMeasured, BinMapping::kLimited, 4000,
                                  MagnitudeWeight::kLimitCosine, Modulator::kVibrato, 2.5),
                         kFrameSeconds) {
    SetIdentity("Elder", kElderGuid);
}
int ElderEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&tremoloFrequency_}, params, count);
}
void ElderEffect::Reset() {
    PhaseVocoderEffect::Reset();
    tremoloFrequency_.ResetToDefault();
}

RobotEffect::RobotEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kZero, BinMapping::kUniform, 0,
                                  MagnitudeWeight::kNone, Modulator::kNone, 6.0),
                         kRobotFrameSeconds) {
    SetIdentity("Robot", kRobotGuid);
}
int RobotEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({}, params, count);
}

MonsterEffect::MonsterEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kRandom, BinMapping::kUniform, 0,
                                  MagnitudeWeight::kNone, Modulator::kNone, 2.0),
                         kFrameSeconds) {
    SetIdentity("Monster", kMonsterGuid);
}
int MonsterEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void MonsterEffect::Reset() {
    PhaseVocoderEffect::Reset();
    pitchShift_.ResetToDefault();
}

GhostEffect::GhostEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kRandom, BinMapping::kLimited, 11000,
                                  MagnitudeWeight::kLimitCosine, Modulator::kNone, 2.0),
                         kFrameSeconds) {
    SetIdentity("Ghost", kGhostGuid);
}
int GhostEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&delayTime_, &decayDegree_, &pitchShift_}, params, count);
}
void GhostEffect::Reset() {
    PhaseVocoderEffect::Reset();
    delayTime_.ResetToDefault();
    decayDegree_.ResetToDefault();
    pitchShift_.ResetToDefault();
}

StrangeVoiceEffect::StrangeVoiceEffect()
    : PhaseVocoderEffect(Settings(8, AnalysisPhase::kMeasured, BinMapping::kLimited, 7000,
                                  MagnitudeWeight::kLimitCosine, Modulator::kGlide, 2.0),
                         kFrameSeconds) {
    SetIdentity("Strange Voice", kStrangeVoiceGuid);
}
int StrangeVoiceEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&changeFrequency_, &pitchShift_}, params, count);
}
void StrangeVoiceEffect::Reset() {
    PhaseVocoderEffect::Reset();
    changeFrequency_.ResetToDefault();
    pitchShift_.ResetToDefault();
}

BlockContext FemaleToMaleEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.pitchFactor = vocoder::PitchFactor(pitchShift_.GetValue());
    return context;
}

BlockContext BabyEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.pitchFactor = vocoder::PitchFactor(pitchShift_.GetValue());
    return context;
}

BlockContext ElderEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.modulatorRateHz = tremoloFrequency_.GetValue();
    return context;
}

BlockContext MonsterEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.pitchFactor = vocoder::PitchFactor(pitchShift_.GetValue());
    return context;
}

BlockContext StrangeVoiceEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.modulatorRateHz = changeFrequency_.GetValue();
    context.semitones = pitchShift_.GetValue();
    return context;
}

BlockContext GhostEffect::ReadParameters(const WaveFormat& format) const {
    BlockContext context = PhaseVocoderEffect::ReadParameters(format);
    context.pitchFactor = vocoder::PitchFactor(pitchShift_.GetValue());
    return context;
}

bool GhostEffect::PrepareExtra(const WaveFormat& format) {
    // 0.71 s of the interleaved stream, sized in bytes as 2.84 bytes per sample and channel.
    const auto bytes = static_cast<uint64_t>(
        std::floor(static_cast<double>(format.samplesPerSec) * format.channels * 2.84));
    if (!delayLine_.Allocate(static_cast<size_t>(bytes / sizeof(float))))
        return false;
    delaySamples_ = 0;
    writePos_ = 0;
    return true;
}

void GhostEffect::ReleaseExtra() {
    delayLine_.Free();
    delaySamples_ = 0;
    writePos_ = 0;
}

void GhostEffect::ClearExtra() {
    if (!delayLine_.Empty()) {
        std::fill(delayLine_.Data(), delayLine_.Data() + delaySamples_, 0.0f);
    }
    writePos_ = 0;
}

void GhostEffect::AfterFrames(std::span<float> samples, const WaveFormat& format) {
    if (delayLine_.Empty())
        return;
    // D in samples of the interleaved stream: "delay time" is in hundredths of a second. The
    // parameter is not range-checked, so D is kept inside the line whatever it holds.
    const int64_t delay =
        int64_t{delayTime_.GetValue()} * format.channels * format.samplesPerSec / 100;
    const auto lineLength = static_cast<int64_t>(delayLine_.Size());
    delaySamples_ = static_cast<uint32_t>(std::clamp<int64_t>(delay, 0, lineLength));
    const double gain =
        static_cast<double>(10 - int64_t{decayDegree_.GetValue()}) * static_cast<double>(0.1f);
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
