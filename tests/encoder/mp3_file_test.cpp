// The recording file through LAME with the encoder's settings and an independent decoder: what
// the file stage writes (ID3 tag, Info frame with LAME's delay and padding, constant-rate frames)
// decodes with mpg123 to exactly the samples encoded, aligned to the first; cut without its end,
// to the samples the tag claims. LAME's own tag frame for the same stream is the layout's oracle.
#include <gtest/gtest.h>

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/test_signals.h"
#include "encoder/lame_settings.h"
#include "encoder/mp3_file.h"
#include "encoder/pcm_input.h"

using namespace qm;

namespace {

struct LameCloser {
    void operator()(lame_global_flags* lame) const { lame_close(lame); }
};
using Lame = std::unique_ptr<lame_global_flags, LameCloser>;

// Band-limited noise: no period, so a misaligned decode shows as a weak correlation at lag 0.
std::vector<int16_t> Noise(size_t samples, uint32_t seed) {
    std::vector<int16_t> out(samples);
    double smooth = 0.0;
    for (int16_t& s : out) {
        seed = seed * 1664525u + 1013904223u;
        smooth = 0.7 * smooth + 0.3 * (static_cast<double>(seed >> 16) - 32768.0);
        s = static_cast<int16_t>(smooth * 0.5);
    }
    return out;
}

struct Encoded {
    std::vector<uint8_t> frames;  // the encoder's output, in order
    uint64_t taken = 0;
};

// Encodes `pcm` (mono; stereo gets the same signal twice) as the encoder filter does, in
// pieces of its chunk size; `flush` empties the encoder at the end.
Encoded Encode(lame_global_flags* lame, const std::vector<int16_t>& pcm, bool flush) {
    Encoded out;
    std::vector<uint8_t> buffer(4608 * 5 / 4 + 7200);
    for (size_t at = 0; at < pcm.size(); at += 4608) {
        const int n = static_cast<int>(std::min<size_t>(4608, pcm.size() - at));
        const int bytes = lame_encode_buffer(lame, pcm.data() + at, pcm.data() + at, n,
                                             buffer.data(), static_cast<int>(buffer.size()));
        out.frames.insert(out.frames.end(), buffer.begin(), buffer.begin() + bytes);
        out.taken += static_cast<uint64_t>(n);
    }
    if (flush) {
        const int bytes = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
        out.frames.insert(out.frames.end(), buffer.begin(), buffer.begin() + bytes);
    }
    return out;
}

// Decodes with mpg123 (which honours the Info frame's delay and padding); the first channel.
std::vector<int16_t> Decode(const std::vector<uint8_t>& file, uint16_t channels) {
    const std::string path = ::testing::TempDir() + "mp3_file_test.mp3";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    std::vector<int16_t> out;
    FILE* pipe = popen(("mpg123 -q -s '" + path + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    int16_t frame[2];
    while (std::fread(frame, sizeof(int16_t), channels, pipe) == channels) {
        out.push_back(frame[0]);
    }
    pclose(pipe);
    return out;
}

// How closely `decoded` follows `input` sample for sample over their common length: 1 for the
// same signal; this noise against itself one sample late gives about 0.7.
double Correlation(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded) {
    double both = 0.0, in = 0.0, out = 0.0;
    for (size_t i = 0; i < std::min(input.size(), decoded.size()); ++i) {
        both += static_cast<double>(input[i]) * decoded[i];
        in += static_cast<double>(input[i]) * input[i];
        out += static_cast<double>(decoded[i]) * decoded[i];
    }
    return both / std::sqrt(in * out + 1e-9);
}

const RecordingTags kTags{"Aud2026_12_08_08-11-47", "2026-12-08T08:11:47", kRecorderSoftware,
                          "Male2Female; PitchShift=10; ToneShift=4"};

// `pcm` as the recorder's file stage writes a recording of it: a fresh encoder, the head before
// the first frame, the frames in the encoder's pieces (any split must count the same), then
// the final Info frame written again at its place. Empty when the stream cannot be tagged.
std::vector<uint8_t> Record(const std::vector<int16_t>& pcm, uint32_t rateHz, uint16_t channels,
                            bool flushed) {
    Lame lame(lame_init());
    if (!ConfigureMp3Encoder(lame.get(), rateHz, channels)) {
        return {};
    }
    const Encoded encoded = Encode(lame.get(), pcm, flushed);
    const auto stream = ParseMp3FrameHeader(encoded.frames);
    Mp3FileHead head;
    if (!stream || !head.Begin(*stream, kTags, kMp3EncoderTag, Mp3EncoderDelay(rateHz, channels))) {
        return {};
    }
    std::vector<uint8_t> file(head.Head().begin(), head.Head().end());
    for (size_t at = 0; at < encoded.frames.size(); at += 1000) {
        const auto piece = std::span(encoded.frames)
                               .subspan(at, std::min<size_t>(1000, encoded.frames.size() - at));
        EXPECT_EQ(head.NextOffset(), file.size());
        head.AddFrames(piece);
        file.insert(file.end(), piece.begin(), piece.end());
    }
    head.SetSamplesTaken(encoded.taken);
    const std::span<const uint8_t> info = head.Finish(flushed);
    std::copy(info.begin(), info.end(),
              file.begin() + static_cast<std::ptrdiff_t>(head.InfoOffset()));
    return file;
}

struct FileCase {
    uint32_t rateHz;
    uint16_t channels;
    size_t samples;
    bool flushed;  // false: the recording was stopped without its end
};

class Mp3FileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(Mp3FileTest, DecodesToExactlyTheSamplesTheTagClaimsAlignedToTheFirst) {
    const FileCase c = GetParam();
    const std::vector<int16_t> pcm = Noise(c.samples, c.rateHz + c.channels);
    const std::vector<uint8_t> file = Record(pcm, c.rateHz, c.channels, c.flushed);
    const std::vector<int16_t> decoded = Decode(file, c.channels);
    const auto summary = ReadMp3FileSummary(file);
    ASSERT_TRUE(summary);
    if (c.flushed) {
        EXPECT_EQ(decoded.size(), c.samples);
    } else {
        // Cut: what the whole frames surely decode, never more than was taken, at most
        // three frames (what LAME holds back) and the codec delays short.
        EXPECT_LE(decoded.size(), c.samples);
        EXPECT_GE(decoded.size() + 3 * summary->first.SamplesPerFrame() + 1105, c.samples);
    }
    EXPECT_EQ(summary->samples, decoded.size());
    EXPECT_FALSE(summary->counted);
    // The encoder's settings: a constant-rate stream of the input's layout, every frame audio,
    // at 128 kbit/s but where LAME stops at 64 (the MPEG-2.5 rates).
    for (size_t at = summary->id3Bytes + summary->first.FrameBytes(); at < file.size();) {
        const auto frame = ParseMp3FrameHeader(std::span(file).subspan(at));
        ASSERT_TRUE(frame) << at;
        ASSERT_EQ(frame->BitrateKbps(), c.rateHz <= 12000 ? 64u : 128u) << at;
        ASSERT_EQ(frame->SampleRateHz(), c.rateHz);
        ASSERT_EQ(frame->Channels(), c.channels);
        at += frame->FrameBytes();
    }
    EXPECT_TRUE(summary->info && summary->info->tagCrcMatches);
    EXPECT_GT(Correlation(pcm, decoded), 0.9);  // aligned to the first sample
    ASSERT_TRUE(summary->id3);
    EXPECT_EQ(FindId3Text(*summary->id3, "TIT2"), kTags.title);
    EXPECT_EQ(FindId3Text(*summary->id3, "TDRC"), kTags.recorded);
    EXPECT_EQ(FindId3Text(*summary->id3, "TSSE"), kTags.software);
    EXPECT_EQ(FindId3Text(*summary->id3, "TXXX", kVoiceEffectDescription), kTags.voice);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, Mp3FileTest,
    ::testing::Values(FileCase{44100, 1, 1152, true}, FileCase{44100, 2, 44100, true},
                      FileCase{48000, 1, 480000, true}, FileCase{32000, 2, 32000, true},
                      FileCase{22050, 2, 22050, true}, FileCase{16000, 1, 16000, true},
                      FileCase{11025, 2, 11025, true}, FileCase{8000, 1, 8000, true},
                      FileCase{44100, 1, 44100, false}));

TEST(Mp3Encoder, RefusesLayoutsTheStreamCannotCarry) {
    for (const auto& [rate, channels] :
         {std::pair<uint32_t, uint16_t>{96000, 2}, {44100, 3}, {0, 1}, {44100, 0}}) {
        EXPECT_FALSE(ConfigureMp3Encoder(Lame(lame_init()).get(), rate, channels)) << rate;
    }
    EXPECT_FALSE(ConfigureMp3Encoder(nullptr, 44100, 2));
}

// Two takes rendered from the halves of one recording, decoded and joined, continue each other
// sample for sample: each decodes to exactly its input, and at the joint the error stays at
// what one file of the whole signal has there, with no step larger than the signal's own.
TEST(Mp3FileTakes, HalvesJoinWithoutADiscontinuity) {
    const std::vector<int16_t> pcm = test_signals::Harmonic(
        {.seconds = 4.0,
         .f0Hz = [](double t) { return 150.0 + 60.0 * std::sin(2.0 * std::numbers::pi * 0.3 * t); },
         .harmonics = 30,
         .formants = true});
    // The joint at a loud sample, where a sample lost or repeated shows as a step.
    const auto half = pcm.begin() + static_cast<std::ptrdiff_t>(pcm.size() / 2);
    const auto joint = static_cast<size_t>(
        std::max_element(half, half + 1152,
                         [](int a, int b) { return std::abs(a) < std::abs(b); }) -
        pcm.begin());
    std::vector<int16_t> joined;
    for (const auto& [from, to] : {std::pair{size_t{0}, joint}, std::pair{joint, pcm.size()}}) {
        const std::vector<int16_t> take(pcm.begin() + static_cast<std::ptrdiff_t>(from),
                                        pcm.begin() + static_cast<std::ptrdiff_t>(to));
        const std::vector<int16_t> decoded = Decode(Record(take, 44100, 1, true), 1);
        ASSERT_EQ(decoded.size(), take.size());
        joined.insert(joined.end(), decoded.begin(), decoded.end());
    }
    const std::vector<int16_t> whole = Decode(Record(pcm, 44100, 1, true), 1);
    ASSERT_EQ(whole.size(), pcm.size());
    auto rmsError = [&pcm](const std::vector<int16_t>& decoded, size_t from, size_t to) {
        double sum = 0.0;
        for (size_t i = from; i < to; ++i) {
            const double e = decoded[i] - pcm[i];
            sum += e * e;
        }
        return std::sqrt(sum / static_cast<double>(to - from));
    };
    auto largestStep = [](const std::vector<int16_t>& x, size_t from, size_t to) {
        int step = 0;
        for (size_t i = from; i + 1 < to; ++i) {
            step = std::max(step, std::abs(x[i + 1] - x[i]));
        }
        return step;
    };
    // Aligned to the input throughout (a sample's shift alone is about 0.13 of the signal).
    const double signal = rmsError(std::vector<int16_t>(pcm.size()), 0, pcm.size());
    EXPECT_LT(rmsError(joined, 0, pcm.size()), 0.1 * signal);
    EXPECT_LE(rmsError(joined, joint - 512, joint + 512),
              1.5 * rmsError(whole, joint - 512, joint + 512));
    // The codec overshoots the signal's own steps a little where a take starts or ends.
    EXPECT_LE(largestStep(joined, joint - 16, joint + 16), 1.25 * largestStep(pcm, 0, pcm.size()));
}

// LAME writing its own tag frame for the same stream is the oracle: our reader takes its
// fields and CRC, and our frame records the same counts, delay, padding and music CRC.
TEST(Mp3FileLayout, MatchesTheTagFrameLameWritesForTheSameStream) {
    const std::vector<int16_t> pcm = Noise(30000, 7);
    Lame ours(lame_init());
    ASSERT_TRUE(ConfigureMp3Encoder(ours.get(), 44100, 2));
    // The same settings, with LAME's tag frame.
    Lame theirs(lame_init());
    lame_set_num_channels(theirs.get(), 2);
    lame_set_in_samplerate(theirs.get(), 44100);
    lame_set_out_samplerate(theirs.get(), 44100);
    lame_set_mode(theirs.get(), JOINT_STEREO);
    lame_set_VBR(theirs.get(), vbr_off);
    lame_set_brate(theirs.get(), static_cast<int>(Mp3BitrateKbpsFor(44100)));
    lame_set_quality(theirs.get(), 5);
    lame_set_bWriteVbrTag(theirs.get(), 1);
    ASSERT_GE(lame_init_params(theirs.get()), 0);
    const Encoded mine = Encode(ours.get(), pcm, true);
    Encoded lames = Encode(theirs.get(), pcm, true);
    std::vector<uint8_t> lameTag(2000);
    lameTag.resize(lame_get_lametag_frame(theirs.get(), lameTag.data(), lameTag.size()));
    const auto expected = ReadInfoTag(lameTag);
    ASSERT_TRUE(expected && expected->gapless && expected->frames);
    EXPECT_TRUE(expected->tagCrcMatches);
    EXPECT_EQ(std::string(expected->encoder.data()), kMp3EncoderTag);
    EXPECT_EQ(expected->gapless->delay, Mp3EncoderDelay(44100, 2));

    Mp3FileHead head;
    ASSERT_TRUE(head.Begin(*ParseMp3FrameHeader(mine.frames), {}, kMp3EncoderTag,
                           Mp3EncoderDelay(44100, 2)));
    head.AddFrames(mine.frames);
    head.SetSamplesTaken(mine.taken);
    const auto actual = ReadInfoTag(head.Finish(true));
    ASSERT_TRUE(actual && actual->gapless);
    EXPECT_EQ(actual->frames, expected->frames);
    EXPECT_EQ(actual->bytes, expected->bytes);
    EXPECT_EQ(actual->musicBytes, expected->musicBytes);
    EXPECT_EQ(actual->musicCrc, expected->musicCrc);
    EXPECT_EQ(actual->gapless->delay, expected->gapless->delay);
    EXPECT_EQ(actual->gapless->padding, expected->gapless->padding);
    EXPECT_EQ(std::string(actual->encoder.data()),
              get_lame_short_version() == std::string("3.100") ? "LAME3.100" : "");
    EXPECT_TRUE(actual->tagCrcMatches);
}

}  // namespace
