// LAME with the encoder's settings, natively: what comes out is a constant-rate Layer III
// stream at the input's rate and channel count, without a tag frame of LAME's own, and after
// the flush it covers the whole input plus LAME's 576-sample encoder delay.
#include <gtest/gtest.h>

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "encoder/lame_settings.h"
#include "encoder/mp3_frame.h"
#include "encoder/pcm_input.h"

namespace {

struct LameCloser {
    void operator()(lame_global_flags* lame) const { lame_close(lame); }
};
using Lame = std::unique_ptr<lame_global_flags, LameCloser>;

struct StreamCase {
    uint32_t rateHz;
    uint16_t channels;
};

class LameSettingsTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(LameSettingsTest, EncodesAConstantRateStreamOfTheInputsLayout) {
    const StreamCase c = GetParam();
    Lame lame(lame_init());
    ASSERT_TRUE(lame);
    ASSERT_TRUE(ConfigureMp3Encoder(lame.get(), c.rateHz, c.channels));
    const int frames = static_cast<int>(c.rateHz);  // one second
    std::vector<int16_t> left(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        left[static_cast<size_t>(i)] = static_cast<int16_t>(
            std::lround(10000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / c.rateHz)));
    }
    std::vector<uint8_t> mp3(static_cast<size_t>(frames) * 5 / 4 + 7200 + 7200);
    const int body = lame_encode_buffer(lame.get(), left.data(), left.data(), frames, mp3.data(),
                                        static_cast<int>(mp3.size()));
    ASSERT_GE(body, 0);
    const int tail =
        lame_encode_flush(lame.get(), mp3.data() + body, static_cast<int>(mp3.size()) - body);
    ASSERT_GE(tail, 0);
    mp3.resize(static_cast<size_t>(body + tail));

    Mp3FrameCounter counter;
    EXPECT_TRUE(counter.Feed(mp3));
    ASSERT_TRUE(counter.First());
    const Mp3FrameHeader first = *counter.First();
    // LAME's own tag frame would come first, all zero behind its header until LAME fills it
    // in; the first frame must carry audio instead.
    EXPECT_FALSE(ReadInfoTag(mp3));
    ASSERT_GE(mp3.size(), first.FrameBytes());
    EXPECT_TRUE(std::any_of(mp3.begin() + 4, mp3.begin() + first.FrameBytes(), [](uint8_t b) {
        return b != 0;
    })) << "LAME wrote an empty tag frame of its own";
    EXPECT_EQ(first.SampleRateHz(), c.rateHz);
    EXPECT_EQ(first.Channels(), c.channels);
    // Every frame carries the same bit rate.
    size_t at = 0;
    while (at < mp3.size()) {
        const auto header = ParseMp3FrameHeader(std::span<const uint8_t>(mp3).subspan(at));
        ASSERT_TRUE(header) << at;
        EXPECT_EQ(header->BitrateKbps(), Mp3BitrateKbpsFor(c.rateHz));
        at += header->FrameBytes();
    }
    EXPECT_EQ(at, mp3.size());
    EXPECT_GE(counter.Frames() * first.SamplesPerFrame(), static_cast<uint64_t>(frames) + 576);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LameSettingsTest,
                         ::testing::Values(StreamCase{44100, 2}, StreamCase{44100, 1},
                                           StreamCase{48000, 1}, StreamCase{32000, 2},
                                           StreamCase{24000, 1}, StreamCase{22050, 2},
                                           StreamCase{16000, 1}, StreamCase{12000, 2},
                                           StreamCase{11025, 1}, StreamCase{8000, 2}));

TEST(LameSettings, RefusesLayoutsTheStreamCannotCarry) {
    for (const StreamCase c :
         {StreamCase{96000, 2}, StreamCase{44100, 3}, StreamCase{0, 1}, StreamCase{44100, 0}}) {
        Lame lame(lame_init());
        ASSERT_TRUE(lame);
        EXPECT_FALSE(ConfigureMp3Encoder(lame.get(), c.rateHz, c.channels)) << c.rateHz;
    }
    EXPECT_FALSE(ConfigureMp3Encoder(nullptr, 44100, 2));
}

}  // namespace
