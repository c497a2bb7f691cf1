#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/contour.h"
#include "dsp/overlap_add.h"
#include "dsp/pitch.h"
#include "dsp/pulses.h"
#include "dsp/resample.h"
#include "dsp/sound.h"
#include "effects/male_to_female.h"
#include "oracles/pulses_reference.h"
#include "speech_signal.h"

using namespace qm;

namespace {

constexpr uint32_t kRateHz = 44100;
using bench_signals::kSpeechSeconds;
constexpr uint32_t kBlock = 8192;
constexpr uint32_t kOverlap = kBlock / 4;
constexpr uint32_t kPadding = MaleToFemaleEffect::kPaddingSamples;

using bench_signals::Speech;
using bench_signals::SpeechF0;

void SetRealtime(benchmark::State& state) {
    state.counters["realtime_x"] = benchmark::Counter(
        kSpeechSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The whole effect over the minute, block by block as the effect stage drives it.
void BM_Male2Female(benchmark::State& state) {
    const std::vector<int16_t>& speech = Speech();
    WaveFormat format;
    format.formatTag = 1;
    format.channels = 1;
    format.samplesPerSec = kRateHz;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.avgBytesPerSec = 2 * kRateHz;
    MaleToFemaleEffect effect;
    const uint32_t blockBytes = effect.GetBlockSize(&format);
    const size_t blocks = speech.size() / kBlock;
    std::vector<int16_t> stream(speech.size());
    for (auto _ : state) {
        state.PauseTiming();
        stream = speech;
        effect.Prepare(&format);
        state.ResumeTiming();
        for (size_t b = 0; b < blocks; ++b) {
            const int ok = effect.Process(
                &format, reinterpret_cast<uint8_t*>(stream.data() + b * kBlock), &blockBytes);
            benchmark::DoNotOptimize(ok);
        }
        state.PauseTiming();
        effect.Release();
        state.ResumeTiming();
    }
    SetRealtime(state);
}
BENCHMARK(BM_Male2Female)->Unit(benchmark::kMillisecond);

// The library stages of the minute's blocks, each block with the context the effect gives it
// (640 zeros, the previous quarter block, the block, 640 zeros), at the default parameters.
struct BlockStages {
    Sound source;
    Pitch pitch;
    PulseList pulses;
    TimeValueContour pitchContour;
    TimeValueContour durationContour;
    ~BlockStages() {
        TimeValueContour_free(&durationContour);
        TimeValueContour_free(&pitchContour);
        PulseList_free(&pulses);
        Pitch_freeFrames(&pitch);
        Sound_freeSamples(&source);
    }
};

std::vector<std::unique_ptr<BlockStages>>& Blocks() {
    static std::vector<std::unique_ptr<BlockStages>> blocks = [] {
        const std::vector<int16_t>& speech = Speech();
        std::vector<std::unique_ptr<BlockStages>> all;
        const float pitchFactor = static_cast<float>(std::pow(2.0, 10.0 / 12.0));
        const float toneFactor = static_cast<float>(std::pow(2.0, 4.0 / 12.0));
        analysisSampleRate = kRateHz;
        for (size_t start = 0; start + kBlock <= speech.size(); start += kBlock) {
            const size_t carried = start == 0 ? 0 : kOverlap;
            std::vector<int16_t> context(kPadding, 0);
            context.insert(context.end(), speech.begin() + start - carried,
                           speech.begin() + start + kBlock);
            context.resize(context.size() + kPadding, 0);
            auto b = std::make_unique<BlockStages>();
            Sound_fromPcm16(&b->source, context.data(), static_cast<int32_t>(2 * context.size()),
                            kRateHz);
            Sound_to_Pitch(&b->source, &b->pitch, 0.005, 50.0, 400.0);
            Sound_Pitch_to_PulseList(&b->pulses, &b->source, &b->pitch);
            TimeValueContour_fromPitch(&b->pitchContour, &b->pitch);
            for (int32_t i = 1; i <= b->pitchContour.points->size; ++i)
                b->pitchContour.points->items[i]->value *= pitchFactor;
            TimeValueContour_init(&b->durationContour, b->source.startTime, b->source.endTime);
            TimeValueContour_addPoint(&b->durationContour, 0.5 * b->source.endTime, toneFactor);
            all.push_back(std::move(b));
        }
        return all;
    }();
    return blocks;
}

void BM_StagePitchAnalysis(benchmark::State& state) {
    auto& blocks = Blocks();
    analysisSampleRate = kRateHz;
    for (auto _ : state) {
        for (auto& b : blocks) {
            Pitch pitch;
            benchmark::DoNotOptimize(Sound_to_Pitch(&b->source, &pitch, 0.005, 50.0, 400.0));
            Pitch_freeFrames(&pitch);
        }
    }
    SetRealtime(state);
}
BENCHMARK(BM_StagePitchAnalysis)->Unit(benchmark::kMillisecond);

void BM_StagePulseMarking(benchmark::State& state) {
    auto& blocks = Blocks();
    for (auto _ : state) {
        for (auto& b : blocks) {
            PulseList pulses;
            benchmark::DoNotOptimize(Sound_Pitch_to_PulseList(&pulses, &b->source, &b->pitch));
            PulseList_free(&pulses);
        }
    }
    SetRealtime(state);
}
BENCHMARK(BM_StagePulseMarking)->Unit(benchmark::kMillisecond);

void BM_StageResynthesis(benchmark::State& state) {
    auto& blocks = Blocks();
    for (auto _ : state) {
        for (auto& b : blocks) {
            Sound target;
            benchmark::DoNotOptimize(Sound_overlapAddResynthesis(
                &b->source, &b->pulses, &b->pitchContour, &b->durationContour, 0.03, &target));
            Sound_freeSamples(&target);
        }
    }
    SetRealtime(state);
}
BENCHMARK(BM_StageResynthesis)->Unit(benchmark::kMillisecond);

// The speed change of every block's resynthesised result (about 1.26 times the context long).
void BM_StageSpeedChange(benchmark::State& state) {
    auto& blocks = Blocks();
    const float toneFactor = static_cast<float>(std::pow(2.0, 4.0 / 12.0));
    std::vector<std::vector<int16_t>> stretched;
    for (auto& b : blocks) {
        Sound target;
        Sound_overlapAddResynthesis(&b->source, &b->pulses, &b->pitchContour, &b->durationContour,
                                    0.03, &target);
        std::vector<int16_t> pcm(static_cast<size_t>(target.count));
        for (int32_t i = 1; i <= target.count; ++i)
            pcm[i - 1] =
                static_cast<int16_t>(std::fmax(-32767.0f, std::fmin(32767.0f, target.data[1][i])));
        stretched.push_back(std::move(pcm));
        Sound_freeSamples(&target);
    }
    for (auto _ : state) {
        for (const auto& pcm : stretched) {
            int16_t* out = nullptr;
            benchmark::DoNotOptimize(ChangeSpeedPcm16(
                pcm.data(), static_cast<int32_t>(2 * pcm.size()), &out, kRateHz, toneFactor));
            delete[] out;
        }
    }
    SetRealtime(state);
}
BENCHMARK(BM_StageSpeedChange)->Unit(benchmark::kMillisecond);

// One correlation search of the pulse walk at a 100 Hz period, as the walk makes it and pair
// by pair (the definition it must agree with).
template <bool kPairByPair>
void BM_CorrelationSearch(benchmark::State& state) {
    auto& b = *Blocks()[3];
    const double period = 0.01;
    double t1 = 0.05;
    for (auto _ : state) {
        double tout = 0.0;
        const double r =
            kPairByPair ? Sound_findMaximumCorrelationReference(
                              &b.source, t1, period, t1 + 0.8 * period, t1 + 1.2 * period, &tout)
                        : Sound_findMaximumCorrelation(&b.source, t1, period, t1 + 0.8 * period,
                                                       t1 + 1.2 * period, &tout);
        benchmark::DoNotOptimize(r);
        t1 = t1 > 0.2 ? 0.05 : t1 + 0.0013;
    }
}
BENCHMARK(BM_CorrelationSearch<false>)->Name("BM_CorrelationSearch100Hz");
BENCHMARK(BM_CorrelationSearch<true>)->Name("BM_CorrelationSearch100HzPairByPair");

}  // namespace

BENCHMARK_MAIN();
