#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dsp/test_signals.h"
#include "effects/effect_registry.h"
#include "effects/pcm_convert.h"
#include "effects/phase_vocoder_effects.h"
#include "effects/stft_fft.h"
#include "effects/wave_format.h"
#include "test_allocations.h"
#include "vocoder_reference.h"

using namespace qm;

namespace {

constexpr double kPi = std::numbers::pi;

WaveFormat Format(uint32_t rate, uint16_t channels, uint16_t bits) {
    return InterleavedWaveFormat(channels, rate, bits);
}

VoiceEffect& Effect(const char* name) {
    VoiceEffect* e = EffectRegistry::Instance().FindByName(name);
    EXPECT_NE(e, nullptr) << name;
    return *e;
}

EffectParam* Param(VoiceEffect& effect, uint32_t index) {
    EffectParam* params[3] = {};
    uint32_t count = 3;
    effect.GetParams(params, &count);
    return index < count ? params[index] : nullptr;
}

// Fresh state and default parameters, then prepared for `format`; the given parameters set.
uint32_t Start(VoiceEffect& effect, const WaveFormat& format,
               std::initializer_list<int32_t> params = {}) {
    effect.Release();
    effect.Reset();
    const uint32_t bytes = effect.GetBlockSize(&format);
    EXPECT_EQ(effect.Prepare(&format), 1) << effect.GetName();
    uint32_t i = 0;
    for (int32_t value : params)
        Param(effect, i++)->SetValue(value);
    return bytes;
}

// Runs whole 32-bit float blocks of `samples` (a multiple of N) through a prepared effect.
std::vector<float> RunFloat(VoiceEffect& effect, const WaveFormat& format,
                            std::vector<float> samples) {
    const uint32_t n = effect.FrameLength();
    const uint32_t bytes = n * 4;
    for (size_t at = 0; at + n <= samples.size(); at += n)
        EXPECT_EQ(effect.Process(&format, reinterpret_cast<uint8_t*>(&samples[at]), &bytes), 1);
    return samples;
}

// The shared generators' 16-bit signals as float samples, exactly `count` of them.
std::vector<float> ToFloat(const test_signals::HarmonicSpec& spec, size_t count) {
    test_signals::HarmonicSpec longEnough = spec;
    longEnough.seconds = (static_cast<double>(count) + 1.0) / spec.sampleRateHz;
    const std::vector<int16_t> pcm = test_signals::Harmonic(longEnough);
    std::vector<float> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = pcm[i] / 32768.0f;
    return v;
}

std::vector<float> Sine(double hz, uint32_t rate, size_t count, double amplitude = 0.5) {
    return ToFloat({.sampleRateHz = static_cast<double>(rate),
                    .f0Hz = [hz](double) { return hz; },
                    .harmonics = 1,
                    .peak = amplitude * 32768.0},
                   count);
}

// A voice-like test signal in float samples: a gliding harmonic tone with some noise. The
// shared generators give 16-bit samples; the engine's oracle wants the float stream, on which
// its tolerance was measured.
std::vector<float> Voice(uint32_t rate, size_t count, uint32_t seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> v(count);
    double phase = 0.0;
    for (size_t i = 0; i < count; ++i) {
        phase += 2.0 * kPi * (150.0 + 30.0 * std::sin(2.0 * kPi * 3.0 * i / rate)) / rate;
        double s = 0.0;
        for (int h = 1; h <= 8; ++h)
            s += std::sin(h * phase) / (2.0 * h);
        v[i] = static_cast<float>(s) + noise(gen);
    }
    return v;
}

double Rms(const std::vector<float>& v, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(v[i]) * v[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Frequency of the strongest partial in 8192 samples from `from`: Hann window, FFT, and a
// parabola through the peak bin and its neighbours (good to a small fraction of a 5.4 Hz bin
// at 44100 Hz).
double PeakHz(const std::vector<float>& v, size_t from, uint32_t rate) {
    constexpr uint32_t kLength = 8192;
    std::vector<float> buf(2 * kLength, 0.0f);
    for (uint32_t i = 0; i < kLength; ++i)
        buf[2 * i] =
            static_cast<float>((0.5 - 0.5 * std::cos(2.0 * kPi * i / kLength)) * v[from + i]);
    FftReference(buf.data(), kLength, kForwardFft);
    std::vector<double> mag(kLength / 2);
    for (uint32_t k = 0; k < kLength / 2; ++k)
        mag[k] = std::log(std::hypot(buf[2 * k], buf[2 * k + 1]) + 1e-30);
    const auto peak = std::max_element(mag.begin() + 1, mag.end() - 1) - mag.begin();
    const double a = mag[peak - 1], b = mag[peak], c = mag[peak + 1];
    return (peak + 0.5 * (a - c) / (a - 2.0 * b + c)) * rate / kLength;
}

// ---------------------------------------------------------------------------------------------
// The engine against the plainly written frame step.

using enum AnalysisPhase;
using enum BinMapping;
using W = MagnitudeWeight;
using M = Modulator;

constexpr VocoderSettings kFemaleToMale{4, kMeasured, kLimited, 9000, W::kNone, M::kNone, 2};
constexpr VocoderSettings kBaby{8, kMeasured, kUniform, 0, W::kLowQuarterCosine, M::kNone, 2};
constexpr VocoderSettings kMonster{8, kRandom, kUniform, 0, W::kNone, M::kNone, 2};
constexpr VocoderSettings kGhost{8, kRandom, kLimited, 11000, W::kLimitCosine, M::kNone, 2};
constexpr VocoderSettings kElder{8, kMeasured, kLimited, 4000, W::kLimitCosine, M::kVibrato, 2.5};
constexpr VocoderSettings kStrange{8, kMeasured, kLimited, 7000, W::kLimitCosine, M::kGlide, 2};
constexpr VocoderSettings kRobot{8, kZero, kUniform, 0, W::kNone, M::kNone, 6};

struct OracleCase {
    const char* effect;
    VocoderSettings settings;
    uint32_t rate;
    uint16_t channels;
};

class Oracle : public ::testing::TestWithParam<OracleCase> {};

// The engine must compute what the plain frame step computes, up to float rounding. The
// tolerance is loose against a float epsilon because the phase sums are stored as floats and
// grow by up to N/2 * 2*pi/osamp radians a frame: within the ten blocks compared they reach
// about 3e4, where one float step is 0.004 rad, and a rounding that goes the other way in the
// optimised arithmetic turns into that much phase on one bin. Summed over bins this stays
// around 1e-3 of the signal's RMS; a real mistake (a wrong bin, weight, sign, hop or phase)
// gives errors of the order of the signal itself.
TEST_P(Oracle, EngineFollowsThePlainFrameStep) {
    const OracleCase& c = GetParam();
    const std::string name = c.effect;
    VoiceEffect& effect = Effect(c.effect);
    const WaveFormat format = Format(c.rate, c.channels, 32);
    Start(effect, format);
    if (name == "Ghost")  // with its echo switched off Ghost shows the engine alone
        Start(effect, format, {0, 10});
    const uint32_t n = effect.FrameLength();
    constexpr int kBlocks = 10;
    const std::vector<float> input = Voice(c.rate * c.channels, n * kBlocks, n);
    const std::vector<float> got = RunFloat(effect, format, input);

    // The parameters as the effect reads them, at their defaults.
    BlockContext context{.sampleRateHz = c.rate, .channels = c.channels};
    EffectParam* first = Param(effect, 0);
    if (name == "Elder" || name == "Strange Voice")
        context.modulatorRateHz = first->GetValue();
    else if (first != nullptr)
        context.pitchFactor =
            vocoder::PitchFactor(Param(effect, name == "Ghost" ? 2 : 0)->GetValue());
    if (name == "Strange Voice")
        context.semitones = Param(effect, 1)->GetValue();
    ReferenceVocoder reference(c.settings, n);
    std::vector<float> want = input;
    for (int b = 0; b < kBlocks; ++b)
        reference.Block(std::span<float>(want).subspan(b * n, n), context);
    effect.Release();
    effect.Reset();

    double err = 0.0;
    for (size_t i = 0; i < want.size(); ++i)
        err += (got[i] - want[i]) * static_cast<double>(got[i] - want[i]);
    const double level = Rms(want, n, want.size());
    ASSERT_GT(level, 1e-3) << "the effect produced silence";
    EXPECT_LT(std::sqrt(err / want.size()), 2e-3 * level);
}

INSTANTIATE_TEST_SUITE_P(
    Effects, Oracle,
    ::testing::Values(OracleCase{"FemaletoMale", kFemaleToMale, 44100, 1},
                      OracleCase{"FemaletoMale", kFemaleToMale, 44100, 2},
                      OracleCase{"FemaletoMale", kFemaleToMale, 16000, 1},  // N/2 < L < N
                      OracleCase{"FemaletoMale", kFemaleToMale, 8000, 1},   // L >= N
                      OracleCase{"Baby", kBaby, 44100, 1}, OracleCase{"Baby", kBaby, 22050, 2},
                      OracleCase{"Monster", kMonster, 44100, 1},
                      OracleCase{"Ghost", kGhost, 44100, 1}, OracleCase{"Ghost", kGhost, 8000, 1},
                      OracleCase{"Elder", kElder, 44100, 1}, OracleCase{"Elder", kElder, 48000, 2},
                      OracleCase{"Strange Voice", kStrange, 44100, 1},
                      OracleCase{"Robot", kRobot, 44100, 1}, OracleCase{"Robot", kRobot, 11025, 2}),
    [](const auto& info) {
        std::string name = std::string(info.param.effect) + "_" + std::to_string(info.param.rate) +
                           "x" + std::to_string(info.param.channels);
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// Baby's engine skips the bins its weights silence and recovers their phases when a lower
// factor needs them again: with the factor changed from block to block (down, up, down), the
// engine still follows the plain frame step, which computes every bin. A partial at 2.6 kHz
// lies in the bins that come back at 10 semitones; a stale phase there would put a wrong
// frequency into a whole frame.
TEST(Oracle, BabyFollowsThePlainFrameStepWhenItsFactorChanges) {
    constexpr uint32_t kRate = 44100;
    constexpr uint32_t kN = 2048;
    std::vector<float> input = Voice(kRate, kN * 8, 5);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] += 0.3f * static_cast<float>(std::sin(2.0 * kPi * 2600.0 * i / kRate));
    PhaseVocoder engine(kBaby);
    ASSERT_TRUE(engine.Prepare(kN));
    ReferenceVocoder reference(kBaby, kN);
    std::vector<float> got = input;
    std::vector<float> want = input;
    const double semitones[] = {16, 10, 30, 10, 12, 30, 10, 16};
    for (size_t b = 0; b < std::size(semitones); ++b) {
        const BlockContext context{.sampleRateHz = kRate,
                                   .channels = 1,
                                   .pitchFactor = vocoder::PitchFactor(semitones[b])};
        engine.ProcessBlock(std::span<float>(got).subspan(b * kN, kN), context);
        reference.Block(std::span<float>(want).subspan(b * kN, kN), context);
    }
    double err = 0.0;
    for (size_t i = 0; i < want.size(); ++i)
        err += (got[i] - want[i]) * static_cast<double>(got[i] - want[i]);
    const double level = Rms(want, kN, want.size());
    ASSERT_GT(level, 1e-3);
    EXPECT_LT(std::sqrt(err / want.size()), 2e-3 * level);
}

// ---------------------------------------------------------------------------------------------
// What the effects do to a voice, measured on the output.

struct PitchCase {
    const char* effect;
    std::optional<int32_t> firstParam;
    double inputHz;
    double factor;     // expected output / input fundamental
    double tolerance;  // relative
};

class PitchFactor : public ::testing::TestWithParam<PitchCase> {};

// The vocoder carries each partial's own frequency estimate, so it lands within a fraction of
// a 43 Hz bin: 1.5 % for a moved pitch, 0.5 % for a kept one. The measurement's parabola is good
// to well under 1 Hz on 8192 samples.
TEST_P(PitchFactor, MeasuredFundamentalMovesByTheEffectsFactor) {
    const PitchCase& c = GetParam();
    VoiceEffect& effect = Effect(c.effect);
    const WaveFormat format = Format(44100, 1, 32);
    if (c.firstParam)
        Start(effect, format, {*c.firstParam});
    else
        Start(effect, format);
    const std::vector<float> out = RunFloat(effect, format, Sine(c.inputHz, 44100, 1024 * 24));
    EXPECT_NEAR(PeakHz(out, 4096, 44100) / c.inputHz, c.factor, c.factor * c.tolerance);
    effect.Release();
    effect.Reset();
}

INSTANTIATE_TEST_SUITE_P(
    Effects, PitchFactor,
    ::testing::Values(PitchCase{"Baby", std::nullopt, 200, 2.519842, 0.015},
                      // Bins 4 and 5 (200 Hz) glide by 0.570 and 0.572 at L = 208: just above
                      // m = 0.561.
                      PitchCase{"FemaletoMale", std::nullopt, 200, 0.571, 0.015},
                      PitchCase{"Elder", 0, 500, 1.0, 0.005}));  // without tremolo

// FemaletoMale keeps the band up to its limit, bin L = 208 of 1024 (8958 Hz), and drops what
// lies above. Output levels of a 0.5 sine, measured: 1 kHz 0.35, the limit bin 0.38 (0.14 if
// the limit bin itself were left out), 12 kHz below 1e-6: a tone there has nothing below the
// limit to carry, so only window leakage of -60 dB or less may come through.
TEST(PitchEffects, FemaleToMaleKeepsTheBandUpToNineKilohertz) {
    VoiceEffect& effect = Effect("FemaletoMale");
    const WaveFormat format = Format(44100, 1, 32);
    struct Row {
        double hz, lowest, highest;
    };
    for (const Row row :
         {Row{1000, 0.25, 1}, Row{208 * 44100.0 / 1024, 0.25, 1}, Row{12000, 0, 5e-4}}) {
        Start(effect, format);
        const std::vector<float> out = RunFloat(effect, format, Sine(row.hz, 44100, 1024 * 16));
        const double level = Rms(out, 2048, out.size());
        EXPECT_GE(level, row.lowest) << row.hz << " Hz";
        EXPECT_LE(level, row.highest) << row.hz << " Hz";
    }
    effect.Release();
}

// Robot's frames are built every hop with zero phase: its output is periodic in the hop
// whatever the input. For an input whose period divides the hop, every frame sees the same
// samples, so the output repeats exactly.
TEST(Robot, OutputRepeatsEveryHop) {
    VoiceEffect& robot = Effect("Robot");
    const WaveFormat format = Format(44100, 1, 32);
    Start(robot, format);
    const uint32_t n = robot.FrameLength();
    const uint32_t hop = n / 8;
    ASSERT_EQ(n, 2048u);
    const std::vector<float> out = RunFloat(robot, format, Sine(44100.0 / 64, 44100, n * 8));
    for (size_t i = 2 * n; i + hop < out.size(); ++i)
        ASSERT_NEAR(out[i], out[i + hop], 1e-5) << i;

    robot.Release();
}

// Ghost's echo stage against a trivially correct comb: the same engine output with the echo
// off (delay 0, decay 10), then y[j] = v[j] + gain * y[j - D]. A delay of one second, which
// no dialog offers, is held to the 0.71 s delay line.
TEST(Ghost, EchoIsAFeedbackCombOverTheEngineOutput) {
    VoiceEffect& ghost = Effect("Ghost");
    const WaveFormat format = Format(44100, 1, 32);
    std::vector<float> burst(1024 * 40, 0.0f);
    for (size_t i = 100; i < 600; ++i)
        burst[i] = static_cast<float>(0.5 * std::sin(0.3 * i));
    Start(ghost, format, {0, 10, 0});
    const std::vector<float> dry = RunFloat(ghost, format, burst);

    struct Row {
        int32_t delayCs, decay;
        size_t delaySamples;
    };
    for (const Row row : {Row{7, 3, 3087}, Row{100, 6, 31311}}) {
        Start(ghost, format, {row.delayCs, row.decay, 0});
        const std::vector<float> wet = RunFloat(ghost, format, burst);
        const size_t d = row.delaySamples;
        const double gain = (10 - row.decay) * static_cast<double>(0.1f);
        std::vector<float> model(dry.size());
        for (size_t j = 0; j < dry.size(); ++j)
            model[j] = static_cast<float>(dry[j] + (j >= d ? gain * model[j - d] : 0.0));
        for (size_t j = 0; j < model.size(); ++j)
            ASSERT_NEAR(wet[j], model[j], 1e-6) << "delay " << row.delayCs << ", sample " << j;
        // And the echo is really there, after the burst has ended.
        EXPECT_GT(Rms(wet, d, std::min(2 * d, wet.size())), 0.01 * Rms(wet, 0, d));
    }
    ghost.Release();
    ghost.Reset();
}

// ---------------------------------------------------------------------------------------------
// Lifecycle and refusals, for every engine effect.

class EachEffect : public ::testing::TestWithParam<const char*> {};

// The streaming thread must not touch the heap, and Reset must give what a fresh Prepare gives.
TEST_P(EachEffect, ProcessAllocatesNothingAndResetRepeatsAFreshRun) {
    VoiceEffect& effect = Effect(GetParam());
    const WaveFormat format = Format(44100, 2, 16);
    const uint32_t bytes = Start(effect, format);
    std::mt19937 gen(42);
    std::vector<uint8_t> input(bytes * 4);
    for (uint8_t& b : input)
        b = static_cast<uint8_t>(gen());
    auto run = [&] {
        std::vector<uint8_t> data = input;
        const long before = test_allocations::Count();
        int processed = 0;
        for (size_t at = 0; at < data.size(); at += bytes)
            processed += effect.Process(&format, data.data() + at, &bytes);
        EXPECT_EQ(test_allocations::Count(), before);
        EXPECT_EQ(processed, 4);
        return data;
    };
    const std::vector<uint8_t> first = run();
    effect.Reset();
    EXPECT_EQ(run(), first);
    EXPECT_NE(first, input);
    effect.Release();
}

// The same tone through 16 and 32 bits gives the same output up to 16-bit quantisation
// (measured: a mean difference of 5e-6, 1e-4 for Strange Voice, whose glide turns the noise
// bins' random frequency estimates into audible differences); a wrong scale or byte order is
// off by far more. A width the effects do not know comes out as silence.
TEST_P(EachEffect, SampleWidthsAgreeAndOtherWidthsGiveSilence) {
    VoiceEffect& effect = Effect(GetParam());
    std::vector<std::vector<float>> outputs;
    for (uint16_t bits : {16, 32}) {
        const WaveFormat format = Format(22050, 1, bits);
        const uint32_t bytes = Start(effect, format);
        const uint32_t n = effect.FrameLength();
        std::vector<float> tone = Sine(440.0, 22050, n * 4, 0.3);
        std::vector<uint8_t> block(bytes);
        for (size_t at = 0; at < tone.size(); at += n) {
            const std::span<float> frame(tone.data() + at, n);
            FloatToPcm(frame, bits, block.data(), bytes);
            ASSERT_EQ(effect.Process(&format, block.data(), &bytes), 1);
            PcmToFloat(block.data(), bytes, bits, frame);
        }
        outputs.push_back(tone);
    }
    double mean = 0.0;
    for (size_t i = 0; i < outputs[1].size(); ++i)
        mean += std::fabs(std::clamp(outputs[1][i], -1.0f, 1.0f) - outputs[0][i]);
    EXPECT_LT(mean / outputs[1].size(), 5e-4);

    const WaveFormat format24 = Format(22050, 1, 24);
    const uint32_t bytes = Start(effect, format24);
    std::vector<uint8_t> block(bytes, 0x55);
    EXPECT_EQ(effect.Process(&format24, block.data(), &bytes), 1);
    EXPECT_EQ(block, std::vector<uint8_t>(bytes, 0));
    effect.Release();
}

// Every refusal leaves the block (and guard bytes on both sides) as it was; an accepted block
// stays inside its count. Prepare refuses formats that describe no real stream, and a format
// other than the one the last GetBlockSize measured.
TEST_P(EachEffect, RefusesWhatItCannotTakeWithoutTouchingTheData) {
    VoiceEffect& effect = Effect(GetParam());
    const WaveFormat format = Format(44100, 1, 16);
    effect.Release();
    const uint32_t bytes = effect.GetBlockSize(&format);
    constexpr size_t kGuard = 64;
    std::vector<uint8_t> storage(bytes + 2 * kGuard, 0xA5);
    for (size_t i = 0; i < bytes; ++i)
        storage[kGuard + i] = static_cast<uint8_t>(i * 37);
    const std::vector<uint8_t> original = storage;
    uint8_t* block = storage.data() + kGuard;
    EXPECT_EQ(effect.Process(&format, block, &bytes), 0) << "before Prepare";

    ASSERT_EQ(effect.Prepare(&format), 1);
    ASSERT_EQ(effect.Prepare(&format), 1) << "a second Prepare replaces the first";
    const uint32_t shortCount = bytes - 1;
    EXPECT_EQ(effect.Process(&format, block, &shortCount), 0);
    EXPECT_EQ(effect.Process(nullptr, block, &bytes), 0);
    EXPECT_EQ(effect.Process(&format, nullptr, &bytes), 0);
    EXPECT_EQ(effect.Process(&format, block, nullptr), 0);
    const WaveFormat stereo = Format(44100, 2, 16);  // twice the frame length
    EXPECT_EQ(effect.Process(&stereo, block, &bytes), 0);
    EXPECT_EQ(storage, original);

    // Another rate that gives the same frame length is a usable block.
    const WaveFormat near = Format(40000, 1, 16);
    EXPECT_EQ(effect.Process(&near, block, &bytes), 1);
    EXPECT_TRUE(std::equal(storage.begin(), storage.begin() + kGuard, original.begin()));
    EXPECT_TRUE(std::equal(storage.end() - kGuard, storage.end(), original.end() - kGuard));

    // A later GetBlockSize that finds no frame leaves nothing to process.
    const WaveFormat none = Format(0, 0, 0);
    EXPECT_EQ(effect.GetBlockSize(&none), 0u);
    const std::vector<uint8_t> before = storage;
    EXPECT_EQ(effect.Process(&format, block, &bytes), 0);
    EXPECT_EQ(storage, before);

    for (const WaveFormat& absurd :
         {Format(0, 1, 16), Format(384001, 1, 16), Format(44100, 0, 16), Format(44100, 9, 16),
          Format(44100, 1, 0), Format(50, 1, 16), Format(4000000000u, 8, 16)}) {
        effect.Release();
        effect.GetBlockSize(&absurd);
        EXPECT_EQ(effect.Prepare(&absurd), 0)
            << absurd.samplesPerSec << " Hz x" << absurd.channels << " " << absurd.bitsPerSample;
    }
    effect.GetBlockSize(&format);
    EXPECT_EQ(effect.Prepare(&stereo), 0);
    effect.Release();
    effect.Reset();
}

INSTANTIATE_TEST_SUITE_P(Vocoder, EachEffect,
                         ::testing::Values("FemaletoMale", "Baby", "Elder", "Robot", "Monster",
                                           "Ghost", "Strange Voice"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

// A NaN in a float stream is taken as silence: the state is not poisoned, so the next blocks
// are the same as if the sample had been zero.
TEST(PhaseVocoderEffect, NonFiniteSamplesAreTakenAsSilence) {
    VoiceEffect& effect = Effect("FemaletoMale");
    const WaveFormat format = Format(44100, 1, 32);
    std::vector<float> input = Voice(44100, 1024 * 4, 9);
    input[700] = 0.0f;
    Start(effect, format);
    const std::vector<float> clean = RunFloat(effect, format, input);
    input[700] = std::numeric_limits<float>::quiet_NaN();
    Start(effect, format);
    EXPECT_EQ(RunFloat(effect, format, input), clean);
    effect.Release();
}

}  // namespace
