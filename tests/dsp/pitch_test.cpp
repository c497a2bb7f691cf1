#include <gtest/gtest.h>

#include <algorithm>
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
#include "oracles/pitch_reference.h"
#include "test_signals.h"

using namespace qm;

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
    const PitchCandidate& Best(int32_t i) const { return pitch.frames[i].candidates[1]; }
    double Chosen(int32_t i) const {
        const double f = Best(i).frequency;
        return f > 0.0 && f < pitch.ceiling ? f : 0.0;
    }
};

// Mostly noise over a faint 150 Hz tone: many weak autocorrelation peaks at every lag.
std::vector<int16_t> Noise(double seconds) {
    return test_signals::Harmonic(
        {.seconds = seconds, .f0Hz = [](double) { return 150.0; }, .noiseToSignalRms = 3.0});
}

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

TEST(PitchAnalysis, SilenceGivesCentredFramesWithOnlyTheUnvoicedCandidate) {
    TestSound s(std::vector<int16_t>(44100, 0));  // 1 s
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.01, 50.0, 400.0), 0);
    // Window 0.06 s: 0.94 / 0.01 is just below 94 in binary, so floor + 1 gives 94 frames,
    // symmetric about 0.5 s.
    EXPECT_EQ(p.pitch.count, 94);
    EXPECT_NEAR(p.pitch.firstTime + 0.5 * (p.pitch.count - 1) * p.pitch.step, 0.5, 1e-12);
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        EXPECT_EQ(p.pitch.frames[i].candidateCount, 1);
        EXPECT_EQ(p.Best(i).frequency, 0.0);
    }
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
// or more off; not one frame may have one, and every frame must be voiced. The chosen
// strength stays below 1: an interpolated peak above 1 is stored as its reciprocal.
TEST_P(KnownFundamental, ChosenPitchFollowsTheGeneratedOne) {
    const ToneCase& c = GetParam();
    TestSound s(test_signals::Harmonic({.f0Hz = c.f0,
                                        .harmonics = 12,
                                        .missingFundamental = c.missingFundamental,
                                        .noiseToSignalRms = c.noise}));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    int checked = 0;
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        const double t = Sound_indexToTime(&p.pitch, i);
        EXPECT_LT(p.Best(i).strength, 1.0) << "t=" << t;
        if (t < 0.07 || t > 0.93)
            continue;
        EXPECT_NEAR(p.Chosen(i), c.f0(t), 0.01 * c.f0(t)) << "t=" << t;
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
    TestSound s(test_signals::Harmonic({.seconds = 1.2, .f0Hz = f0}));
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.005, 50.0, 400.0), 0);
    int voiced = 0, unvoiced = 0;
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        const double t = Sound_indexToTime(&p.pitch, i);
        const double phase = std::fmod(t, 0.2);
        if (phase < 0.035 || phase > 0.165)
            continue;
        EXPECT_NEAR(p.Chosen(i), f0(t), 0.01 * f0(t)) << t;
        ++(f0(t) > 0.0 ? voiced : unvoiced);
    }
    EXPECT_GT(voiced, 40);
    EXPECT_GT(unvoiced, 40);
}

TEST(PitchAnalysis, IntensityIsThePeakWithinHalfAPeriodOfTheCentre) {
    // One click in silence: frames centred within half a period (10 ms at 50 Hz) of it see it
    // at nearly full height; frames farther off see only what the click adds to their mean.
    std::vector<int16_t> pcm(22050, 0);
    pcm[11025] = 20000;
    TestSound s(pcm);
    TestPitch p;
    ASSERT_NE(Sound_to_Pitch(&s.sound, &p.pitch, 0.001, 50.0, 400.0), 0);
    for (int32_t i = 1; i <= p.pitch.count; ++i) {
        const double away = std::fabs(Sound_indexToTime(&p.pitch, i) - 11025.5 / kRate);
        if (away < 0.0095) {
            EXPECT_GT(p.pitch.frames[i].intensity, 0.5) << away;
        } else if (away > 0.0105) {
            EXPECT_LT(p.pitch.frames[i].intensity, 0.01) << away;
        }
    }
}

// Analysed at twice its own rate, a sound's edge frames reach past its ends, where the analysis
// hears silence. Whatever memory lies beside the samples must change nothing: frames one sample
// apart step over every edge position (four lengths by four floors put each in every lane of
// a frame group, and a window under two periods makes the local mean reach farther than the
// window), and the track with loud values just outside the samples equals the one with zeros there.
TEST(PitchAnalysis, FramesPastTheSoundsEndsHearSilenceThere) {
    constexpr double kSoundRate = 8000.0;
    const std::vector<int16_t> pcm = test_signals::Harmonic(
        {.sampleRateHz = kSoundRate, .seconds = 0.11, .f0Hz = [](double) { return 160.0; }});
    for (double periodsPerWindow : {3.0, 1.5}) {
        for (size_t count = 800, longer = 0; count < 804;
             longer = (longer + 1) % 4, count += longer == 0 ? 1 : 0) {
            TestSound source({pcm.begin(), pcm.begin() + static_cast<long>(count)}, kSoundRate);
            PitchSettings settings;
            settings.timeStep = 1.0 / kSoundRate;
            // A floor a little lower lengthens the window by two samples, which moves the first
            // frames' lanes as the sound's length moves the last ones'.
            settings.minimumPitch = 75.0 * 320.0 / static_cast<double>(320 + 2 * longer);
            settings.periodsPerWindow = periodsPerWindow;
            settings.analysisRateHz = 2 * static_cast<int32_t>(kSoundRate);
            auto analyse = [&](float beside, TestPitch& track) {
                std::vector<float> samples(count + 2, beside);
                std::copy(source.sound.data[1] + 1, source.sound.data[1] + count + 1,
                          samples.begin() + 1);
                float* rows[2] = {nullptr, samples.data()};
                Sound sound = source.sound;
                sound.data = rows;
                EXPECT_EQ(Sound_to_PitchWith(&sound, &track.pitch, settings), 1);
            };
            TestPitch quiet, loud;
            analyse(0.0f, quiet);
            analyse(30000.0f, loud);
            ASSERT_EQ(quiet.pitch.count, loud.pitch.count);
            ASSERT_GT(quiet.pitch.count, 400);
            int voiced = 0;
            for (int32_t i = 1; i <= quiet.pitch.count; ++i) {
                const PitchFrame& a = quiet.pitch.frames[i];
                const PitchFrame& b = loud.pitch.frames[i];
                const std::string where =
                    "frame " + std::to_string(i) + " of " + std::to_string(count) + " samples";
                ASSERT_EQ(a.intensity, b.intensity) << where;
                ASSERT_EQ(a.candidateCount, b.candidateCount) << where;
                for (int32_t j = 1; j <= a.candidateCount; ++j) {
                    ASSERT_EQ(a.candidates[j].frequency, b.candidates[j].frequency) << where;
                    ASSERT_EQ(a.candidates[j].strength, b.candidates[j].strength) << where;
                }
                voiced += quiet.Chosen(i) > 0.0 ? 1 : 0;
            }
            EXPECT_GT(voiced, 0);
        }
    }
}

TEST(PitchAnalysis, FastPathAgreesWithTheReferencePath) {
    // The fast path differs from the plain one only by rounding, so every candidate agrees to
    // 1e-9 relative and the chosen path is the same: on a voice, and on noise searched with a
    // low voicing threshold (full candidate lists, peaks at the shortest lags).
    TestSound voice(
        test_signals::Harmonic({.seconds = 0.5,
                                .f0Hz = [](double t) { return t < 0.25 ? 110.0 + 200 * t : 0.0; },
                                .formants = true,
                                .noiseToSignalRms = 0.1}));
    TestSound noise(Noise(0.3));
    PitchSettings lowThreshold;
    lowThreshold.voicingThreshold = 0.1;
    for (auto [sound, settings] : {std::pair{&voice, PitchSettings{}}, {&noise, lowThreshold}}) {
        TestPitch fast, reference;
        ASSERT_NE(Sound_to_PitchWith(&sound->sound, &fast.pitch, settings), 0);
        ASSERT_NE(Sound_to_PitchReference(&sound->sound, &reference.pitch, settings), 0);
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
}

// Peaks above half the voicing threshold become candidates; a full list keeps those with the
// highest octave-corrected strength. Against an unbounded list of the same noise, each frame's
// 14 voiced candidates are exactly its 14 best; and peaks that barely pass the threshold (0.05
// here) are among the candidates.
TEST(PitchAnalysis, FullCandidateListsKeepTheStrongestPeaks) {
    TestSound s(Noise(0.3));
    PitchSettings settings;
    settings.voicingThreshold = 0.1;
    TestPitch bounded, unbounded;
    ASSERT_NE(Sound_to_PitchWith(&s.sound, &bounded.pitch, settings), 0);
    settings.maxCandidates = 400;
    ASSERT_NE(Sound_to_PitchWith(&s.sound, &unbounded.pitch, settings), 0);
    auto local = [](const PitchCandidate& c) {
        return c.strength - 0.01 * std::log2(50.0 / c.frequency);
    };
    int full = 0, weak = 0, peaks = 0;
    for (int32_t i = 1; i <= bounded.pitch.count; ++i) {
        std::vector<PitchCandidate> kept, all;
        for (int32_t j = 1; j <= bounded.pitch.frames[i].candidateCount; ++j) {
            if (bounded.pitch.frames[i].candidates[j].frequency > 0.0)
                kept.push_back(bounded.pitch.frames[i].candidates[j]);
        }
        for (int32_t j = 1; j <= unbounded.pitch.frames[i].candidateCount; ++j) {
            const PitchCandidate& c = unbounded.pitch.frames[i].candidates[j];
            if (c.frequency > 0.0) {
                all.push_back(c);
                weak += c.strength < 0.06;
                ++peaks;
            }
        }
        auto byLocal = [&](const PitchCandidate& a, const PitchCandidate& b) {
            return local(a) > local(b);
        };
        std::sort(kept.begin(), kept.end(), byLocal);
        std::sort(all.begin(), all.end(), byLocal);
        all.resize(std::min(all.size(), kept.size()));
        full += kept.size() == 14;
        ASSERT_EQ(kept.size(), all.size()) << i;
        for (size_t k = 0; k < kept.size(); ++k)
            EXPECT_EQ(kept[k].frequency, all[k].frequency) << "frame " << i;
    }
    EXPECT_GT(full, 10);
    EXPECT_GT(20 * weak, peaks);  // about 1 in 9 lies between 0.05 and 0.06
}

TEST(PitchAnalysis, GaussianWindowFindsTheFundamentalAndTheCeilingStopsAtNyquist) {
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
    TestSound slow(
        test_signals::Harmonic(
            {.sampleRateHz = 8000.0, .seconds = 0.3, .f0Hz = [](double) { return 150.0; }}),
        8000.0);
    ASSERT_NE(Sound_to_Pitch(&slow.sound, &p.pitch, 0.01, 75.0, 5000.0), 0);
    EXPECT_EQ(p.pitch.ceiling, 4000.0);
    ASSERT_NE(Sound_to_Pitch(&slow.sound, &p.pitch, 0.01, 75.0, 3000.0), 0);
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
                      BadArguments{"rateFarAboveTheSound", 0.005, 75, 3, 400, 0.01, 15, 0,
                                   2000000000},
                      BadArguments{"floorZero", 0.005, 0, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"floorInfinite", 0.005, kInf, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"stepNan", kNan, 75, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"stepBelowOneSample", 1e-5, 75, 3, 400, 0.01, 15, 0, 44100},
                      BadArguments{"periodsTiny", 0.005, 75, 1e-6, 400, 0.01, 15, 0, 44100},
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

struct PathCosts {
    double octave, octaveJump, voicedUnvoiced;
};
constexpr PathCosts kUsualCosts{0.01, 0.35, 0.14};
constexpr PathCosts kNoCosts{0.0, 0.0, 0.0};

struct PathCase {
    const char* name;
    std::vector<std::vector<PitchCandidate>> frames;  // (strength, frequency) per frame
    double intensity;
    PathCosts costs;
    int32_t doubleCeiling;
    std::vector<double> chosen;
};

class BestPath : public ::testing::TestWithParam<PathCase> {};

// Hand-made records, ceiling 400 Hz, voicing threshold 0.45, silence threshold 0.03.
TEST_P(BestPath, ChoosesTheHandComputedPath) {
    const PathCase& c = GetParam();
    TestPitch p;
    ASSERT_EQ(Pitch_init(&p.pitch, 0.0, 1.0, static_cast<int32_t>(c.frames.size()), 0.01, 0.005,
                         400.0, 15),
              1);
    for (size_t i = 0; i < c.frames.size(); ++i) {
        PitchFrame& f = p.pitch.frames[i + 1];
        ASSERT_EQ(PitchFrame_init(&f, static_cast<int32_t>(c.frames[i].size())), 1);
        f.intensity = c.intensity;
        std::copy(c.frames[i].begin(), c.frames[i].end(), f.candidates + 1);
    }
    Pitch_chooseBestPath(&p.pitch, 0.03, 0.45, c.costs.octave, c.costs.octaveJump,
                         c.costs.voicedUnvoiced, 400.0, c.doubleCeiling);
    for (size_t i = 0; i < c.chosen.size(); ++i)
        EXPECT_EQ(p.Best(static_cast<int32_t>(i + 1)).frequency, c.chosen[i]) << "frame " << i + 1;
    EXPECT_EQ(p.pitch.ceiling, 400.0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, BestPath, ::testing::Values(
    // Frame 2's strongest candidate is an octave up (0.80 vs 0.75), but the jump costs 0.35
    // twice; the path stays at 100 Hz. Frame 4 has no voiced candidate at all.
    PathCase{"continuityBeatsAnOctaveJump", {{{0, 0}, {0.9, 100}},
             {{0, 0}, {0.8, 200}, {0.75, 100}}, {{0, 0}, {0.9, 100}}, {{0, 0}}},
             1.0, kUsualCosts, 0, {100, 100, 100, 0}},
    // Unvoiced (0.45) beats the weak 0.38 of frame 2, but not by the two switches (0.28).
    PathCase{"switchCostBridgesAWeakFrame",
             {{{0, 0}, {0.9, 100}}, {{0, 0}, {0.4, 100}}, {{0, 0}, {0.9, 100}}},
             1.0, kUsualCosts, 0, {100, 100, 100}},
    // Intensity 0.02 raises the unvoiced score to 0.45 + 2 - 0.02 * 1.45 / 0.03 = 1.48;
    // intensity 0.0362 only to 0.70, below the voiced 0.9.
    PathCase{"quietFrameIsSilence", {{{0, 0}, {0.9, 399}}}, 0.02, kUsualCosts, 0, {0}},
    PathCase{"lessQuietFrameIsVoiced", {{{0, 0}, {0.9, 399}}}, 0.0362, kUsualCosts, 0, {399}},
    // Without costs both of frame 1's candidates lead equally to frame 2: the earliest wins,
    // in the forward pass as in the last frame.
    PathCase{"tiesKeepTheEarliest", {{{0.9, 100}, {0.9, 150}}, {{0.9, 120}, {0.9, 120.0000001}}},
             1.0, kNoCosts, 0, {100, 120}},
    // A huge switch cost leaves no predecessor above the -10 floor score: the frame keeps its
    // first candidate instead of following a back-pointer of 0.
    PathCase{"extremeCostsNeverIndexSlotZero", {{{0, 0}}, {{0.9, 150}}}, 1.0, {0.01, 1e6, 1e6},
             0, {0, 150}},
    // With doubleCeiling a 500 Hz choice (between the ceiling and twice it) gives way to the
    // frame's unvoiced candidate.
    PathCase{"doubleCeilingUnvoicesAboveTheCeiling", {{{0.99, 500}, {0, 0}}}, 1.0,
             {0.0, 0.35, 0.14}, 1, {0}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

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
