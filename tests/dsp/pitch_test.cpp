#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "dsp/arrays_internal.h"
#include "dsp/pitch.h"
#include "dsp/pitch_internal.h"
#include "dsp/sound.h"
#include "test_signals.h"

namespace {

constexpr double kRate = 44100.0;

// A Sound from 16-bit PCM at the analysis rate, released on scope exit.
struct TestSound {
    Sound sound;
    explicit TestSound(const std::vector<int16_t>& pcm, double rate = kRate) {
        analysisSampleRate = static_cast<int32_t>(rate);
        EXPECT_EQ(Sound_fromPcm16(&sound, pcm.data(), static_cast<int32_t>(2 * pcm.size()), rate),
                  1);
    }
    ~TestSound() { Sound_freeSamples(&sound); }
};

struct TestPitch {
    Pitch pitch;
    ~TestPitch() { Pitch_freeFrames(&pitch); }
    double Chosen(int32_t i) const {
        const double f = pitch.frames[i].candidates[1].frequency;
        return f > 0.0 && f < pitch.ceiling ? f : 0.0;
    }
};

TEST(PitchSizes, WorkedSizesAt44100HzWithFloor50) {
    PitchAnalysisSizes s;
    ASSERT_EQ(ComputePitchAnalysisSizes(44100.0, 50.0, 3.0, 0.5, 44100, s), 1);
    EXPECT_EQ(s.periodSamples, 882);
    EXPECT_EQ(s.halfPeriodSamples, 442);
    EXPECT_EQ(s.halfWindowSamples, 1322);
    EXPECT_EQ(s.windowSamples, 2644);
    EXPECT_EQ(s.lagLimit, 883);
    EXPECT_EQ(s.fftSize, 4096);
    EXPECT_EQ(s.rSpan, 1322);
    // A window wider than the sound, or one under 2 half-window samples, is refused.
    EXPECT_EQ(ComputePitchAnalysisSizes(44100.0, 50.0, 3.0, 0.5, 2000, s), 0);
    EXPECT_EQ(ComputePitchAnalysisSizes(60.0, 50.0, 3.0, 0.5, 44100, s), 0);
}

TEST(PitchAnalysis, TooShortForTheFloorPrintsTheBoundAndFails) {
    TestSound s(std::vector<int16_t>(2205, 100));  // 0.05 s
    TestPitch p;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "(Sound_to_Pitch:) For this Sound, the parameter 'minimum pitch'\n"
              "may not be less than 60 Hz.");
}

TEST(PitchAnalysis, SilenceKeepsOnlyTheUnvoicedCandidate) {
    TestSound s(std::vector<int16_t>(22050, 0));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    ASSERT_GT(p.pitch.count, 0);
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        EXPECT_EQ(p.pitch.frames[i].candidateCount, 1);
        EXPECT_EQ(p.pitch.frames[i].candidates[1].frequency, 0.0);
    }
}

TEST(PitchAnalysis, FramesAreCentredOnTheSound) {
    TestSound s(std::vector<int16_t>(44100, 0));  // 1 s
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.01, 50.0, 400.0), 0);
    // Window 0.06 s: 0.94 / 0.01 is just below 94 in binary, so floor + 1 gives 94 frames,
    // symmetric about 0.5 s.
    EXPECT_EQ(p.pitch.count, 94);
    EXPECT_NEAR(p.pitch.firstTime + 0.5 * (p.pitch.count - 1) * p.pitch.step, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(p.pitch.endTime, 1.0);
}

struct ToneCase {
    const char* name;
    std::function<double(double)> f0;
    bool missingFundamental;
    double noise;
};

class KnownFundamental : public ::testing::TestWithParam<ToneCase> {};

// Voiced frames must report the generated fundamental. Tolerance: 1 % of f0. The parabolic
// peak refinement is accurate to well under 0.1 % for a steady tone; a glide of up to 3
// octaves per second moves f0 by about 1 % across one 60 ms window, so the estimate (an
// average over the window) may lag the centre value by that much. Frames whose window reaches
// into the sound's first or last 40 ms are skipped. Gross errors (octave jumps) would be 50 %
// or more off; not one frame may have one, and every frame must be voiced.
TEST_P(KnownFundamental, ChosenPitchFollowsTheGeneratedOne) {
    const ToneCase& c = GetParam();
    const double seconds = 1.0;
    TestSound s(test_signals::Harmonic({.sampleRateHz = kRate,
                                        .seconds = seconds,
                                        .f0Hz = c.f0,
                                        .harmonics = 12,
                                        .missingFundamental = c.missingFundamental,
                                        .noiseToSignalRms = c.noise}));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    int checked = 0;
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        const double t = Sound_indexToTime(&p.pitch, i);
        if (t < 0.07 || t > seconds - 0.07)
            continue;
        const double expected = c.f0(t);
        EXPECT_NEAR(p.Chosen(i), expected, 0.01 * expected) << "t=" << t;
        ++checked;
    }
    EXPECT_GT(checked, 150);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, KnownFundamental,
    ::testing::Values(
        ToneCase{"steady60", [](double) { return 60.0; }, false, 0.0},
        ToneCase{"steady100", [](double) { return 100.0; }, false, 0.0},
        ToneCase{"steady220", [](double) { return 220.0; }, false, 0.0},
        ToneCase{"steady380", [](double) { return 380.0; }, false, 0.0},
        ToneCase{"glideUp", [](double t) { return 80.0 * std::pow(2.0, 2.0 * t); }, false, 0.0},
        ToneCase{"glideDown", [](double t) { return 360.0 * std::pow(2.0, -1.5 * t); }, false, 0.0},
        ToneCase{"noisy150", [](double) { return 150.0; }, false, 0.3},
        ToneCase{"noisyGlide", [](double t) { return 120.0 + 100.0 * std::sin(3.0 * t); }, false,
                 0.2},
        ToneCase{"missingFundamental130", [](double) { return 130.0; }, true, 0.0},
        ToneCase{"missingFundamental250", [](double) { return 250.0; }, true, 0.1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PitchAnalysis, VoicedAndUnvoicedAlternate) {
    // 0.2 s of 180 Hz, then 0.2 s of silence, repeated. Frames whose window lies wholly inside
    // a stretch must be voiced at 180 Hz (1 %) or unvoiced; the 30 ms either side of each
    // boundary (half a window) may go either way.
    auto f0 = [](double t) { return std::fmod(t, 0.4) < 0.2 ? 180.0 : 0.0; };
    TestSound s(test_signals::Harmonic({.sampleRateHz = kRate, .seconds = 1.2, .f0Hz = f0}));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    int voiced = 0, unvoiced = 0;
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        const double t = Sound_indexToTime(&p.pitch, i);
        const double phase = std::fmod(t, 0.2);
        if (phase < 0.035 || phase > 0.165)
            continue;
        if (f0(t) > 0.0) {
            EXPECT_NEAR(p.Chosen(i), 180.0, 1.8) << t;
            ++voiced;
        } else {
            EXPECT_EQ(p.Chosen(i), 0.0) << t;
            ++unvoiced;
        }
    }
    EXPECT_GT(voiced, 40);
    EXPECT_GT(unvoiced, 40);
}

TEST(PitchAnalysis, FastTransformAgreesWithTheReferencePath) {
    // The paired, table-driven transform differs from fftReal only by rounding, so every
    // candidate agrees to 1e-9 relative and the chosen path is the same.
    TestSound s(
        test_signals::Harmonic({.seconds = 0.5,
                                .f0Hz = [](double t) { return t < 0.25 ? 110.0 + 200 * t : 0.0; },
                                .formants = true,
                                .noiseToSignalRms = 0.1}));
    TestPitch fast, reference;
    for (auto [record, path] : {std::pair{&fast, PitchAnalysisPath::kFast},
                                std::pair{&reference, PitchAnalysisPath::kReference}}) {
        ASSERT_NE(PitchAnalysis(&s.sound, &record->pitch, PitchSettings{}, path), 0);
    }
    ASSERT_EQ(fast.pitch.count, reference.pitch.count);
    for (int32_t i = 1; i <= fast.pitch.count; ++i) {
        const PitchFrame& a = fast.pitch.frames[i];
        const PitchFrame& b = reference.pitch.frames[i];
        ASSERT_EQ(a.candidateCount, b.candidateCount) << i;
        EXPECT_EQ(a.intensity, b.intensity);
        for (int32_t j = 1; j <= a.candidateCount; ++j) {
            EXPECT_NEAR(a.candidates[j].frequency, b.candidates[j].frequency,
                        1e-9 * b.candidates[j].frequency);
            EXPECT_NEAR(a.candidates[j].strength, b.candidates[j].strength, 1e-9);
        }
    }
}

TEST(PitchAnalysis, GaussianWindowMethodFindsTheFundamental) {
    // Method 1 doubles the window (6 periods of the floor): 0.12 s, so take 0.5 s of 200 Hz
    // and check the middle frames to 1 %.
    TestSound s(test_signals::Harmonic({.seconds = 0.5, .f0Hz = [](double) { return 200.0; }}));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch_detailed(&s.sound, &p.pitch, 0.01, 50.0, 3.0, 15, 1, 0.03, 0.45, 0.01,
                                      0.35, 0.14, 400.0),
              0);
    ASSERT_GT(p.pitch.count, 10);
    for (int32_t i = 3; i <= p.pitch.count - 2; ++i)
        EXPECT_NEAR(p.Chosen(i), 200.0, 2.0) << i;
}

TEST(PitchAnalysis, CeilingAboveNyquistIsLoweredToIt) {
    TestSound s(test_signals::Harmonic(
                    {.sampleRateHz = 8000.0, .seconds = 0.3, .f0Hz = [](double) { return 150.0; }}),
                8000.0);
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.01, 75.0, 5000.0), 0);
    EXPECT_EQ(p.pitch.ceiling, 4000.0);
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.01, 75.0, 3000.0), 0);
    EXPECT_EQ(p.pitch.ceiling, 3000.0);
}

struct BadArguments {
    const char* name;
    double timeStep, floor, periods, ceiling, cost;
    int32_t maxCandidates, method, rate;
};

class RefusedAnalysis : public ::testing::TestWithParam<BadArguments> {};

TEST_P(RefusedAnalysis, FailsWithoutTouchingMemoryItDoesNotOwn) {
    const BadArguments& b = GetParam();
    TestSound s(test_signals::Harmonic({.seconds = 0.3, .f0Hz = [](double) { return 150.0; }}));
    analysisSampleRate = b.rate;
    TestPitch p;
    EXPECT_EQ(
        Sound_to_Pitch_detailed(&s.sound, &p.pitch, b.timeStep, b.floor, b.periods, b.maxCandidates,
                                b.method, 0.03, 0.45, b.cost, 0.35, 0.14, b.ceiling),
        0);
    analysisSampleRate = static_cast<int32_t>(kRate);
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
INSTANTIATE_TEST_SUITE_P(
    Arguments, RefusedAnalysis,
    ::testing::Values(BadArguments{"rateZero", 0.005, 75, 3, 400, 0.01, 15, 0, 0},
                      BadArguments{"rateNegative", 0.005, 75, 3, 400, 0.01, 15, 0, -44100},
                      BadArguments{"rateFarAboveTheSound", 0.005, 75, 3, 400, 0.01, 15, 0,
                                   2000000000},
                      BadArguments{"floorZero", 0.005, 0, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"floorNan", 0.005, kNan, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"floorInfinite", 0.005, kInf, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"stepNan", kNan, 75, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"stepTiny", 1e-300, 75, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"stepBelowOneSample", 1e-5, 75, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"periodsNegative", 0.005, 75, -3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"periodsTiny", 0.005, 75, 1e-6, 400, 0.01, 15, 0, 44100},
                      BadArguments{"ceilingNan", 0.005, 75, 3, kNan, 0.01, 15, 0, 44100},
                      BadArguments{"costInfinite", 0.005, 75, 3, 400, kInf, 15, 0, 44100},
                      BadArguments{"noCandidates", 0.005, 75, 3, 400, 0.01, 0, 0, 44100},
                      BadArguments{"crossCorrelation", 0.005, 75, 3, 400, 0.01, 15, 2, 44100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PitchAnalysis, EveryAllocationFailureLeavesAReleasableRecord) {
    // Walks a failure through every allocation of the analysis; each run either succeeds or
    // fails, and Pitch_freeFrames releases whatever the record holds (the sanitizer build
    // reports any leak or double release).
    TestSound s(test_signals::Harmonic({.seconds = 0.1, .f0Hz = [](double) { return 150.0; }}));
    bool succeeded = false;
    for (long successes = 0; successes < 60 && !succeeded; ++successes) {
        TestPitch p;
        SetBlockAllocationFailureAfter(successes);
        succeeded = Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0) != 0;
        SetBlockAllocationFailureAfter(-1);
    }
    EXPECT_TRUE(succeeded);
}

// A hand-made record for the path search: per frame, a list of (strength, frequency).
void FillRecord(Pitch& p, const std::vector<std::vector<PitchCandidate>>& frames,
                double intensity) {
    ASSERT_EQ(Pitch_init(&p, 0.0, 1.0, static_cast<int32_t>(frames.size()), 0.01, 0.005, 400.0, 15),
              1);
    for (size_t i = 0; i < frames.size(); ++i) {
        PitchFrame& f = p.frames[i + 1];
        ASSERT_EQ(PitchFrame_init(&f, static_cast<int32_t>(frames[i].size())), 1);
        f.intensity = intensity;
        for (size_t j = 0; j < frames[i].size(); ++j)
            f.candidates[j + 1] = frames[i][j];
    }
}

TEST(BestPath, PrefersContinuityOverAnIsolatedOctaveJump) {
    // Frame 2's strongest candidate is an octave up (0.80 vs 0.75), but the jump costs 0.35
    // twice; the path stays at 100 Hz. Frame 4 has no voiced candidate at all.
    TestPitch p;
    FillRecord(
        p.pitch,
        {{{0, 0}, {0.9, 100}}, {{0, 0}, {0.8, 200}, {0.75, 100}}, {{0, 0}, {0.9, 100}}, {{0, 0}}},
        1.0);
    Pitch_chooseBestPath(&p.pitch, 0.03, 0.45, 0.01, 0.35, 0.14, 400.0, 0);
    EXPECT_EQ(p.pitch.frames[1].candidates[1].frequency, 100.0);
    EXPECT_EQ(p.pitch.frames[2].candidates[1].frequency, 100.0);
    EXPECT_EQ(p.pitch.frames[3].candidates[1].frequency, 100.0);
    EXPECT_EQ(p.pitch.frames[4].candidates[1].frequency, 0.0);
    // Reordering swaps, it does not drop: the unvoiced candidate took the chosen one's slot.
    EXPECT_EQ(p.pitch.frames[2].candidates[2].frequency, 200.0);
    EXPECT_EQ(p.pitch.frames[2].candidates[3].frequency, 0.0);
    EXPECT_EQ(Pitch_maxCandidates(&p.pitch), 3);
}

TEST(BestPath, QuietFramesChooseUnvoicedAndTiesKeepTheEarliest) {
    // Intensity far below the silence threshold raises the unvoiced score to about 2.45:
    // stronger than any voiced candidate. Two identical voiced candidates tie; the first wins.
    TestPitch p;
    FillRecord(p.pitch, {{{0, 0}, {0.9, 150}}, {{0, 0}, {0.9, 150}}}, 0.0);
    Pitch_chooseBestPath(&p.pitch, 0.03, 0.45, 0.01, 0.35, 0.14, 400.0, 0);
    EXPECT_EQ(p.pitch.frames[1].candidates[1].frequency, 0.0);
    EXPECT_EQ(p.pitch.frames[2].candidates[1].frequency, 0.0);
    TestPitch tie;
    FillRecord(tie.pitch, {{{0.9, 150}, {0.9, 150}}}, 1.0);
    tie.pitch.frames[1].candidates[2].strength = 0.9;
    tie.pitch.frames[1].candidates[1].frequency = 150.0;
    tie.pitch.frames[1].candidates[2].frequency = 150.0000001;  // tells the two apart
    Pitch_chooseBestPath(&tie.pitch, 0.03, 0.45, 0.0, 0.35, 0.14, 400.0, 0);
    EXPECT_EQ(tie.pitch.frames[1].candidates[1].frequency, 150.0);
}

TEST(BestPath, ExtremeCostsNeverIndexSlotZero) {
    // A huge voiced/unvoiced cost leaves no predecessor above the -10 floor score: the frame
    // keeps its first candidate instead of following a back-pointer of 0.
    TestPitch p;
    FillRecord(p.pitch, {{{0, 0}, {0.9, 150}}, {{0.9, 150}}}, 1.0);
    Pitch_chooseBestPath(&p.pitch, 0.03, 0.45, 0.01, 1e6, 1e6, 400.0, 0);
    EXPECT_EQ(p.pitch.frames[2].candidates[1].frequency, 150.0);
}

TEST(BestPath, DoubleCeilingSwapsInTheUnvoicedCandidate) {
    // With doubleCeiling a 500 Hz choice (between the ceiling 400 and 800) is replaced by the
    // frame's unvoiced candidate.
    TestPitch p;
    FillRecord(p.pitch, {{{0.99, 500}, {0, 0}}}, 1.0);
    Pitch_chooseBestPath(&p.pitch, 0.03, 0.45, 0.0, 0.35, 0.14, 400.0, 1);
    EXPECT_EQ(p.pitch.frames[1].candidates[1].frequency, 0.0);
    EXPECT_EQ(p.pitch.ceiling, 400.0);
}

TEST(PitchRecord, FrameLayoutRefusesAWindowLongerThanTheSound) {
    Sound s;
    s.count = 100;
    s.step = 0.001;
    int32_t frames = -1;
    double first = -1.0;
    EXPECT_EQ(Sound_frameLayout(&s, 0.2, 0.01, &frames, &first), 0);
    EXPECT_EQ(Sound_frameLayout(&s, 0.05, 0.0, &frames, &first), 0);
    ASSERT_EQ(Sound_frameLayout(&s, 0.05, 0.01, &frames, &first), 1);
    EXPECT_EQ(frames, 6);
    EXPECT_EQ(Pitch_maxCandidates(nullptr), 0);
}

}  // namespace
