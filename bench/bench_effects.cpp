// Real-time factor of every built-in effect: seconds of 16-bit audio processed per CPU second,
// over a minute of a synthetic voice (a gliding harmonic tone with a little noise); the share
// of one core each voice takes live (streamed in the 5 ms pieces a monitor's capture delivers,
// at 48 kHz mono); and the engine's fast real-input transform against the plain complex
// transform it stands in for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "effects/effect_registry.h"
#include "effects/effect_stream.h"
#include "effects/stft_fft.h"

using namespace qm;

namespace {

constexpr uint32_t kRateHz = 44100;
constexpr double kSeconds = 60.0;

// Made once per channel count: the benchmark library calls a run several times.
const std::vector<uint8_t>& VoiceLikePcm16(uint16_t channels) {
    static std::vector<uint8_t> made[2];
    std::vector<uint8_t>& pcm = made[channels == 1 ? 0 : 1];
    if (!pcm.empty())
        return pcm;
    const auto frames = static_cast<size_t>(kRateHz * kSeconds);
    pcm.resize(frames * channels * 2);
    uint32_t noise = 12345;
    double phase = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRateHz;
        const double f0 = 140.0 + 40.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        phase += 2.0 * std::numbers::pi * f0 / kRateHz;
        double v = 0.0;
        for (int h = 1; h <= 12; ++h)
            v += std::sin(h * phase) / h;
        noise = noise * 1664525u + 1013904223u;
        v = 0.25 * v + 0.01 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
        for (uint16_t c = 0; c < channels; ++c) {
            const auto s = static_cast<int16_t>(std::lround(v * 32767.0 * (c == 0 ? 1.0 : 0.8)));
            const size_t at = 2 * (i * channels + c);
            pcm[at] = static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF);
            pcm[at + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
        }
    }
    return pcm;
}

WaveFormat Format(uint16_t channels, uint32_t rateHz = kRateHz) {
    WaveFormat format;
    format.formatTag = 1;
    format.channels = channels;
    format.samplesPerSec = rateHz;
    format.bitsPerSample = 16;
    format.blockAlign = static_cast<uint16_t>(2 * channels);
    format.avgBytesPerSec = rateHz * format.blockAlign;
    return format;
}

// True when the effect takes blocks of this format.
bool Accepts(VoiceEffect& effect, const WaveFormat& format) {
    const uint32_t bytes = effect.GetBlockSize(&format);
    bool ok = bytes != 0 && effect.Prepare(&format) == 1;
    if (ok) {
        std::vector<uint8_t> block(bytes, 0);
        ok = effect.Process(&format, block.data(), &bytes) == 1;
    }
    effect.Release();
    effect.Reset();
    return ok;
}

void RunEffect(benchmark::State& state, VoiceEffect* effect, uint16_t channels) {
    const WaveFormat format = Format(channels);
    const std::vector<uint8_t>& input = VoiceLikePcm16(channels);
    const uint32_t blockBytes = effect->GetBlockSize(&format);
    effect->Prepare(&format);
    std::vector<uint8_t> stream(input.size());
    const size_t blocks = input.size() / blockBytes;
    for (auto _ : state) {
        state.PauseTiming();
        stream = input;
        effect->Reset();
        state.ResumeTiming();
        for (size_t b = 0; b < blocks; ++b)
            effect->Process(&format, stream.data() + b * blockBytes, &blockBytes);
        benchmark::DoNotOptimize(stream.data());
    }
    effect->Release();
    const double audioSeconds = static_cast<double>(blocks) * blockBytes / format.avgBytesPerSec;
    state.counters["realtime_x"] = benchmark::Counter(
        audioSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The voice as the live commands run it: the minute of voice (taken as 48 kHz audio) through
// the streaming entry in the pieces a 5 ms capture delivery brings. core_percent is the share
// of one core the voice takes in real time.
void RunLive(benchmark::State& state, VoiceEffect* effect) {
    const WaveFormat format = Format(1, 48000);
    const std::vector<uint8_t>& input = VoiceLikePcm16(1);
    const size_t piece = format.avgBytesPerSec / 200;
    std::vector<uint8_t> stream(input.size());
    EffectStream live;
    for (auto _ : state) {
        state.PauseTiming();
        stream = input;
        live.Prepare(*effect, format);
        state.ResumeTiming();
        for (size_t at = 0; at + piece <= stream.size(); at += piece)
            live.Transform({stream.data() + at, piece});
        benchmark::DoNotOptimize(stream.data());
    }
    const double audioSeconds = static_cast<double>(input.size()) / format.avgBytesPerSec;
    state.counters["core_percent"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * audioSeconds / 100.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One frame's transforms, forward of a windowed real frame and back, by the interleaved complex
// transform the engine's arithmetic is defined by and by the real-input fast path the engine
// runs. Frame lengths from 256 (8 kHz mono) to 8192 (96 kHz stereo, or Robot's longer frames).
void FftRecipe(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    std::vector<float> frame(n), window(n, 1.0f), work(2 * n);
    for (uint32_t t = 0; t < n; ++t)
        frame[t] = static_cast<float>(std::sin(0.1 * t));
    for (auto _ : state) {
        for (uint32_t t = 0; t < n; ++t) {
            work[2 * t] = window[t] * frame[t];
            work[2 * t + 1] = 0.0f;
        }
        FftReference(work.data(), n, kForwardFft);
        std::fill(work.begin() + n + 2, work.end(), 0.0f);
        FftReference(work.data(), n, kInverseFft);
        benchmark::DoNotOptimize(work.data());
    }
}

void FftFastPath(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    RealFft fft;
    fft.Init(n);
    std::vector<float> frame(n), window(n, 1.0f), re(n), im(n);
    for (uint32_t t = 0; t < n; ++t)
        frame[t] = static_cast<float>(std::sin(0.1 * t));
    for (auto _ : state) {
        fft.ForwardWindowed(window.data(), frame.data(), re.data(), im.data());
        fft.InverseRealPart(re.data(), im.data(), re.data());
        benchmark::DoNotOptimize(re.data());
    }
}

BENCHMARK(FftRecipe)->RangeMultiplier(2)->Range(256, 8192);
BENCHMARK(FftFastPath)->RangeMultiplier(2)->Range(256, 8192);

}  // namespace

int main(int argc, char** argv) {
    for (VoiceEffect* effect : EffectRegistry::Instance().Effects()) {
        for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
            const std::string name = std::string(effect->GetName()) +
                                     (channels == 1 ? "/mono" : "/stereo") + "/44100Hz16bit";
            if (!Accepts(*effect, Format(channels))) {
                std::fprintf(stderr, "skipping %s: the effect refuses its blocks\n", name.c_str());
                continue;
            }
            benchmark::RegisterBenchmark(name.c_str(), RunEffect, effect, channels)
                ->Unit(benchmark::kMillisecond);
        }
        if (Accepts(*effect, Format(1, 48000))) {
            const std::string live = std::string(effect->GetName()) + "/mono/48000Hz/live-5ms";
            benchmark::RegisterBenchmark(live.c_str(), RunLive, effect)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
