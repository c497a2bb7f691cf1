#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/pitch.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"
#include "dsp/sound.h"
#include "oracles/pitch_reference.h"
#include "speech_signal.h"

using namespace qm;

namespace {

constexpr double kRateHz = bench_signals::kSpeechRateHz;
using bench_signals::kSpeechSeconds;

using bench_signals::Speech;
using bench_signals::SpeechF0;

// Share of frames well inside a voiced stretch (window wholly voiced) whose chosen pitch is
// missing or more than 20 % off the generated one, in percent.
double GrossErrorPercent(const Pitch& pitch) {
    int frames = 0, gross = 0;
    for (int32_t i = 1; i <= pitch.count; ++i) {
        const double t = Sound_indexToTime(&pitch, i);
        if (SpeechF0(t - 0.035) <= 0.0 || SpeechF0(t) <= 0.0 || SpeechF0(t + 0.035) <= 0.0)
            continue;
        const double f = pitch.frames[i].candidates[1].frequency;
        const double expected = SpeechF0(t);
        ++frames;
        if (!(f > 0.0 && f < pitch.ceiling) || std::fabs(f - expected) > 0.2 * expected)
            ++gross;
    }
    return frames > 0 ? 100.0 * gross / frames : 100.0;
}

void RunPitch(benchmark::State& state, int (*analyse)(Sound*, Pitch*, const PitchSettings&)) {
    const std::vector<int16_t>& pcm = Speech();
    analysisSampleRate = static_cast<int32_t>(kRateHz);
    Sound sound;
    Sound_fromPcm16(&sound, pcm.data(), static_cast<int32_t>(2 * pcm.size()), kRateHz);
    double grossPercent = 100.0;
    for (auto _ : state) {
        Pitch pitch;
        const int ok = analyse(&sound, &pitch, PitchSettings{});
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        grossPercent = ok ? GrossErrorPercent(pitch) : 100.0;
        state.ResumeTiming();
        Pitch_freeFrames(&pitch);
    }
    state.counters["gross_error_percent"] = grossPercent;
    Sound_freeSamples(&sound);
    // Seconds of audio analysed per second of processing.
    state.counters["realtime_factor"] = benchmark::Counter(
        kSpeechSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_SoundToPitch(benchmark::State& state) {
    RunPitch(state, Sound_to_PitchWith);
}
BENCHMARK(BM_SoundToPitch)->Unit(benchmark::kMillisecond);

void BM_SoundToPitchReference(benchmark::State& state) {
    RunPitch(state, Sound_to_PitchReference);
}
BENCHMARK(BM_SoundToPitchReference)->Unit(benchmark::kMillisecond);

// One frame's autocorrelation (forward real FFT, power spectrum, inverse) at the transform sizes
// the pitch analysis uses (4096 at 44.1 kHz with a 50 Hz floor; 1024 to 16384 from 8 to
// 96 kHz): the library's fftReal, against the per-call plan on one frame, two frames in the
// lanes of a pair and, where the processor has AVX, four. Time per frame.
std::vector<double> NoiseFrame(long n) {
    std::vector<double> v(static_cast<size_t>(n));
    uint32_t x = 12345;
    for (double& e : v) {
        x = x * 1664525u + 1013904223u;
        e = static_cast<double>(x >> 8) / (1 << 24) - 0.5;
    }
    return v;
}

void BM_AutocorrelationFftReal(benchmark::State& state) {
    const long n = state.range(0);
    const std::vector<double> frame = NoiseFrame(n);
    std::vector<double> work(frame.size());
    for (auto _ : state) {
        work = frame;
        AutocorrelateInPlace(work.data() - 1, n, nullptr);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AutocorrelationFftReal)->RangeMultiplier(4)->Range(1024, 16384);

template <class Lanes>
void RunPlan(benchmark::State& state) {
    const long n = state.range(0);
    constexpr int kLanes = sizeof(Lanes) / sizeof(double);
    PitchFftPlan plan;
    if (!plan.Prepare(n)) {
        state.SkipWithError("no plan");
        return;
    }
    const std::vector<double> frame = NoiseFrame(n);
    // Aligned for the wide kernels, which the vector's own alignment need not be.
    std::vector<double> storage(static_cast<size_t>(kLanes * n) + kLaneGroupAlignment);
    void* start = storage.data();
    size_t room = storage.size() * sizeof(double);
    Lanes* lanes =
        static_cast<Lanes*>(std::align(kLaneGroupAlignment, sizeof(Lanes) * n, start, room));
    for (auto _ : state) {
        for (long j = 0; j < n; ++j) {
            for (int lane = 0; lane < kLanes; ++lane)
                lanes[j][lane] = frame[j];
        }
        plan.PowerSpectrumRoundTrip(lanes - 1);
        benchmark::DoNotOptimize(lanes);
    }
    state.SetItemsProcessed(kLanes * state.iterations());
}

void BM_AutocorrelationPlan(benchmark::State& state) {
    const long n = state.range(0);
    PitchFftPlan plan;
    plan.Prepare(n);
    const std::vector<double> frame = NoiseFrame(n);
    std::vector<double> work(frame.size());
    for (auto _ : state) {
        work = frame;
        plan.PowerSpectrumRoundTrip(work.data() - 1);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AutocorrelationPlan)->RangeMultiplier(4)->Range(1024, 16384);

void BM_AutocorrelationPlanPair(benchmark::State& state) {
    RunPlan<FramePair>(state);
}
BENCHMARK(BM_AutocorrelationPlanPair)->RangeMultiplier(4)->Range(1024, 16384);

void BM_AutocorrelationPlanQuad(benchmark::State& state) {
    if (!PitchFftPlan::WideLanesAvailable()) {
        state.SkipWithError("no AVX on this build or processor");
        return;
    }
    RunPlan<FrameQuad>(state);
}
BENCHMARK(BM_AutocorrelationPlanQuad)->RangeMultiplier(4)->Range(1024, 16384);

// One 0.2 s block of the voice effect (8192 samples plus its context) raised four semitones.
void BM_ChangeSpeedBlock(benchmark::State& state) {
    const std::vector<int16_t>& pcm = Speech();
    const int32_t samples = 8192 + 2048 + 1280;
    const float factor = static_cast<float>(std::pow(2.0, 4.0 / 12.0));
    for (auto _ : state) {
        int16_t* out = nullptr;
        const int32_t bytes =
            ChangeSpeedPcm16(pcm.data(), 2 * samples, &out, static_cast<float>(kRateHz), factor);
        benchmark::DoNotOptimize(bytes);
        delete[] out;
    }
    state.counters["realtime_factor"] = benchmark::Counter(
        samples / kRateHz * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChangeSpeedBlock)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
