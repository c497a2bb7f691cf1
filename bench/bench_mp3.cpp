// The MP3 path's cost per second of audio: LAME with the encoder's settings, the PCM split
// that feeds it, the file stage's frame counter, and a whole recording with and without the
// file stage's tags. "x_realtime" is seconds of audio handled per second of CPU time.
#include <benchmark/benchmark.h>

#include <lame/lame.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

#include "encoder/lame_settings.h"
#include "encoder/mp3_file.h"
#include "encoder/mp3_frame.h"
#include "encoder/pcm_input.h"

using namespace qm;

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

// A whole recording of kRecordingSeconds, encoded in the encoder's chunks into one file buffer:
// range(2) = 0 keeps LAME's frames only; 1 adds the file stage's work: the ID3 tag and Info
// frame before the first frame, every piece counted and its CRC kept, the final Info frame
// written again at its place. "per_frame" is CPU time per MP3 frame of the recording;
// "tag_bytes" and "head_bytes" are the ID3 tag and the tag with the Info frame.
void BM_Recording(benchmark::State& state) {
    constexpr double kRecordingSeconds = 10.0;
    const auto rate = static_cast<uint32_t>(state.range(0));
    const auto channels = static_cast<uint16_t>(state.range(1));
    const bool staged = state.range(2) != 0;
    const auto samples = static_cast<size_t>(kRecordingSeconds * rate);
    const std::vector<uint8_t> pcm = Tone16(rate, channels, samples);
    const PcmInputFormat format{
        kWaveFormatPcmTag,      channels, rate, uint32_t{channels} * 2u * rate,
        uint16_t(channels * 2), 16};
    const RecordingTags tags{"Aud2026_12_08_08-11-47", "2026-12-08T08:11:47", kRecorderSoftware,
                             "Male2Female; PitchShift=10; ToneShift=4"};
    const uint32_t delay = Mp3EncoderDelay(rate, channels);
    std::vector<int16_t> left(kChunkFrames);
    std::vector<int16_t> right(kChunkFrames);
    std::vector<uint8_t> out(kChunkFrames * 5 / 4 + 7200);
    std::vector<uint8_t> file;
    file.reserve(samples * channels + 65536);
    Mp3FileHead head;
    for (auto _ : state) {
        std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(),
                                                                             lame_close);
        if (!ConfigureMp3Encoder(lame.get(), rate, channels)) {
            state.SkipWithError("LAME refused the settings");
            return;
        }
        file.clear();
        bool begun = false;
        auto take = [&](int bytes) {
            const std::span<const uint8_t> piece(out.data(), static_cast<size_t>(bytes));
            if (staged && !begun && bytes > 0) {
                const auto stream = ParseMp3FrameHeader(piece);
                begun = stream && head.Begin(*stream, tags, kMp3EncoderTag, delay);
                file.insert(file.end(), head.Head().begin(), head.Head().end());
            }
            if (staged) {
                head.AddFrames(piece);
            }
            file.insert(file.end(), piece.begin(), piece.end());
        };
        for (size_t at = 0; at < samples; at += kChunkFrames) {
            const size_t n = std::min(kChunkFrames, samples - at);
            const size_t block = size_t{channels} * 2;
            DeinterleavePcm(format, std::span(pcm).subspan(at * block, n * block), left, right);
            take(lame_encode_buffer(lame.get(), left.data(), right.data(), static_cast<int>(n),
                                    out.data(), static_cast<int>(out.size())));
        }
        take(lame_encode_flush(lame.get(), out.data(), static_cast<int>(out.size())));
        if (staged && begun) {
            head.SetSamplesTaken(samples);
            const std::span<const uint8_t> info = head.Finish(true);
            std::copy(info.begin(), info.end(),
                      file.begin() + static_cast<std::ptrdiff_t>(head.InfoOffset()));
        }
        benchmark::DoNotOptimize(file.data());
    }
    Mp3FrameCounter counter;
    counter.Feed(std::span(file).subspan(staged ? head.Head().size() : 0));
    state.counters["per_frame"] = benchmark::Counter(
        static_cast<double>(counter.Frames()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["tag_bytes"] = static_cast<double>(staged ? head.InfoOffset() : 0);
    state.counters["head_bytes"] = static_cast<double>(staged ? head.Head().size() : 0);
    SetRealtime(state, kRecordingSeconds);
}
BENCHMARK(BM_Recording)
    ->ArgNames({"rate", "ch", "staged"})
    ->Args({44100, 2, 0})
    ->Args({44100, 2, 1})
    ->Args({44100, 1, 0})
    ->Args({44100, 1, 1})
    ->Unit(benchmark::kMillisecond);

// The file stage's own work for the same recording, without the encoder: LAME's output of
// a 10-second recording in its pieces, taken through the head, the counter and the CRC and
// the final Info frame. "per_frame" compares directly with BM_Recording's.
void BM_FileStageOnly(benchmark::State& state) {
    const auto channels = static_cast<uint16_t>(state.range(0));
    constexpr uint32_t kRate = 44100;
    const std::vector<uint8_t> pcm = Tone16(kRate, channels, 10 * kRate);
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    if (!ConfigureMp3Encoder(lame.get(), kRate, channels)) {
        state.SkipWithError("LAME refused the settings");
        return;
    }
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<int16_t> left(kChunkFrames);
    std::vector<int16_t> right(kChunkFrames);
    std::vector<uint8_t> out(kChunkFrames * 5 / 4 + 7200);
    const PcmInputFormat format{
        kWaveFormatPcmTag,      channels, kRate, uint32_t{channels} * 2u * kRate,
        uint16_t(channels * 2), 16};
    size_t bytes = 0;
    std::optional<Mp3FrameHeader> stream;
    for (size_t at = 0; at < 10 * kRate; at += kChunkFrames) {
        const size_t n = std::min<size_t>(kChunkFrames, 10 * kRate - at);
        const size_t block = size_t{channels} * 2;
        DeinterleavePcm(format, std::span(pcm).subspan(at * block, n * block), left, right);
        const int made =
            lame_encode_buffer(lame.get(), left.data(), right.data(), static_cast<int>(n),
                               out.data(), static_cast<int>(out.size()));
        pieces.emplace_back(out.begin(), out.begin() + made);
        bytes += pieces.back().size();
        if (!stream) {
            stream = ParseMp3FrameHeader(pieces.back());
        }
    }
    const RecordingTags tags{"Aud2026_12_08_08-11-47", "2026-12-08T08:11:47", kRecorderSoftware,
                             "Male2Female; PitchShift=10; ToneShift=4"};
    std::vector<uint8_t> file(bytes + 4096);
    Mp3FileHead head;
    for (auto _ : state) {
        if (!stream || !head.Begin(*stream, tags, kMp3EncoderTag, 576)) {
            state.SkipWithError("no tag frame for the stream");
            return;
        }
        std::copy(head.Head().begin(), head.Head().end(), file.begin());
        for (const auto& piece : pieces) {
            std::copy(piece.begin(), piece.end(),
                      file.begin() + static_cast<std::ptrdiff_t>(head.NextOffset()));
            head.AddFrames(piece);
        }
        head.SetSamplesTaken(10 * kRate);
        const std::span<const uint8_t> info = head.Finish(true);
        std::copy(info.begin(), info.end(),
                  file.begin() + static_cast<std::ptrdiff_t>(head.InfoOffset()));
        benchmark::DoNotOptimize(file.data());
    }
    state.counters["per_frame"] = benchmark::Counter(
        static_cast<double>(head.Frames()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FileStageOnly)->ArgName("ch")->Arg(2)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
