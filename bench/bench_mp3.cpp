// The MP3 path's cost per second of audio: LAME with the encoder's settings, the PCM split
// that feeds it, and the file stage's frame counter. "x_realtime" is seconds of audio handled
// per second of CPU time.
#include <benchmark/benchmark.h>

#include <lame/lame.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "encoder/lame_settings.h"
#include "encoder/mp3_frame.h"
#include "encoder/pcm_input.h"

namespace {

constexpr size_t kChunkFrames = 4608;

std::vector<uint8_t> Tone16(uint32_t rateHz, uint16_t channels, size_t frames) {
    std::vector<uint8_t> pcm(frames * channels * 2);
    for (size_t i = 0; i < frames * channels; ++i) {
        const auto s = static_cast<int16_t>(
            std::lround(9000.0 * std::sin(2.0 * std::numbers::pi * 220.0 *
                                          static_cast<double>(i / channels) / rateHz)));
        pcm[2 * i] = static_cast<uint8_t>(s & 0xff);
        pcm[2 * i + 1] = static_cast<uint8_t>((s >> 8) & 0xff);
    }
    return pcm;
}

void SetRealtime(benchmark::State& state, double audioSecondsPerIteration) {
    state.counters["x_realtime"] =
        benchmark::Counter(audioSecondsPerIteration * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_LameEncode(benchmark::State& state) {
    const auto rate = static_cast<uint32_t>(state.range(0));
    const auto channels = static_cast<uint16_t>(state.range(1));
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    if (!ConfigureMp3Encoder(lame.get(), rate, channels)) {
        state.SkipWithError("LAME refused the settings");
        return;
    }
    std::vector<int16_t> left(kChunkFrames);
    std::vector<int16_t> right(kChunkFrames);
    const std::vector<uint8_t> pcm = Tone16(rate, channels, kChunkFrames);
    const PcmInputFormat format{
        kWaveFormatPcmTag,      channels, rate, uint32_t{channels} * 2u * rate,
        uint16_t(channels * 2), 16};
    std::vector<uint8_t> out(kChunkFrames * 5 / 4 + 7200);
    for (auto _ : state) {
        DeinterleavePcm(format, pcm, left, right);
        benchmark::DoNotOptimize(lame_encode_buffer(lame.get(), left.data(), right.data(),
                                                    static_cast<int>(kChunkFrames), out.data(),
                                                    static_cast<int>(out.size())));
    }
    SetRealtime(state, static_cast<double>(kChunkFrames) / rate);
}
BENCHMARK(BM_LameEncode)->Args({44100, 2})->Args({44100, 1})->Args({22050, 1})->Args({8000, 1});

void BM_FrameCounter(benchmark::State& state) {
    // One minute of 128 kbit/s stereo at 44.1 kHz: frames of silence in encoder-sized pieces.
    const auto header = MakeLayer3Header(44100, 2, 128);
    std::vector<uint8_t> stream;
    const size_t frames = 60 * 44100 / 1152;
    for (size_t i = 0; i < frames; ++i) {
        const auto word = EncodeMp3FrameHeader(*header);
        const size_t at = stream.size();
        stream.resize(at + header->FrameBytes());
        std::copy(word.begin(), word.end(), stream.begin() + static_cast<std::ptrdiff_t>(at));
    }
    for (auto _ : state) {
        Mp3FrameCounter counter;
        for (size_t at = 0; at < stream.size(); at += 12960) {
            counter.Feed(std::span<const uint8_t>(stream).subspan(
                at, std::min<size_t>(12960, stream.size() - at)));
        }
        benchmark::DoNotOptimize(counter.Frames());
    }
    SetRealtime(state, static_cast<double>(frames * 1152) / 44100.0);
}
BENCHMARK(BM_FrameCounter);

}  // namespace

BENCHMARK_MAIN();
