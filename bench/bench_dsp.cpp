#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "dsp/pitch.h"
#include "dsp/pitch_internal.h"
#include "dsp/resample.h"
#include "dsp/sound.h"
#include "speech_signal.h"

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

void RunPitch(benchmark::State& state, PitchAnalysisPath path) {
    const std::vector<int16_t>& pcm = Speech();
    analysisSampleRate = static_cast<int32_t>(kRateHz);
    Sound sound;
    Sound_fromPcm16(&sound, pcm.data(), static_cast<int32_t>(2 * pcm.size()), kRateHz);
    double grossPercent = 100.0;
    for (auto _ : state) {
        Pitch pitch;
        const int ok = PitchAnalysis(&sound, &pitch, PitchSettings{}, path);
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
    RunPitch(state, PitchAnalysisPath::kFast);
}
BENCHMARK(BM_SoundToPitch)->Unit(benchmark::kMillisecond);

void BM_SoundToPitchReference(benchmark::State& state) {
    RunPitch(state, PitchAnalysisPath::kReference);
}
BENCHMARK(BM_SoundToPitchReference)->Unit(benchmark::kMillisecond);

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
