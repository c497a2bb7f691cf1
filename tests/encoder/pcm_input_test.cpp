// The encoder's PCM input rules and its conversion to 16-bit channel arrays.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "encoder/pcm_input.h"

namespace {

PcmInputFormat Pcm(uint16_t channels, uint32_t rateHz, uint16_t bits) {
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    return PcmInputFormat{kWaveFormatPcmTag, channels, rateHz, block * rateHz, block, bits};
}

struct CheckCase {
    PcmInputFormat format;
    PcmInputCheck expected;
};

class PcmInputCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(PcmInputCheckTest, AcceptsOnlyWhatTheEncoderCarries) {
    EXPECT_EQ(CheckPcmInput(GetParam().format), GetParam().expected);
}

PcmInputFormat WithTag(PcmInputFormat f, uint16_t tag) {
    f.formatTag = tag;
    return f;
}
PcmInputFormat WithBlock(PcmInputFormat f, uint16_t block) {
    f.blockAlign = block;
    return f;
}
PcmInputFormat WithByteRate(PcmInputFormat f, uint32_t rate) {
    f.avgBytesPerSec = rate;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PcmInputCheckTest,
    ::testing::Values(CheckCase{Pcm(1, 44100, 16), PcmInputCheck::kAccepted},
                      CheckCase{Pcm(2, 48000, 8), PcmInputCheck::kAccepted},
                      CheckCase{Pcm(2, 8000, 16), PcmInputCheck::kAccepted},
                      CheckCase{Pcm(1, 11025, 8), PcmInputCheck::kAccepted},
                      CheckCase{WithTag(Pcm(1, 44100, 32), 3), PcmInputCheck::kNotPcm},
                      CheckCase{WithTag(Pcm(2, 44100, 16), 0xfffe), PcmInputCheck::kNotPcm},
                      CheckCase{Pcm(2, 44100, 24), PcmInputCheck::kSampleWidth},
                      CheckCase{Pcm(1, 44100, 32), PcmInputCheck::kSampleWidth},
                      CheckCase{Pcm(1, 44100, 0), PcmInputCheck::kSampleWidth},
                      CheckCase{Pcm(3, 44100, 16), PcmInputCheck::kChannelCount},
                      CheckCase{Pcm(6, 48000, 16), PcmInputCheck::kChannelCount},
                      CheckCase{Pcm(0, 44100, 16), PcmInputCheck::kChannelCount},
                      CheckCase{Pcm(1, 0, 16), PcmInputCheck::kSampleRate},
                      CheckCase{Pcm(1, 96000, 16), PcmInputCheck::kSampleRate},
                      CheckCase{Pcm(2, 7999, 16), PcmInputCheck::kSampleRate},
                      CheckCase{Pcm(1, 4000000000u, 8), PcmInputCheck::kSampleRate},
                      CheckCase{WithBlock(Pcm(2, 44100, 16), 2), PcmInputCheck::kInconsistent},
                      CheckCase{WithByteRate(Pcm(2, 44100, 16), 1), PcmInputCheck::kInconsistent}));

TEST(Mp3Bitrate, Is128KbpsExceptWhereLameStopsAt64) {
    for (uint32_t rate : {16000u, 22050u, 24000u, 32000u, 44100u, 48000u}) {
        EXPECT_EQ(Mp3BitrateKbpsFor(rate), 128u) << rate;
    }
    for (uint32_t rate : {8000u, 11025u, 12000u}) {
        EXPECT_EQ(Mp3BitrateKbpsFor(rate), 64u) << rate;
    }
}

TEST(DeinterleavePcm, ScalesEightBitAndSplitsStereoSixteenBit) {
    std::array<int16_t, 8> left{};
    std::array<int16_t, 8> right{};
    const std::vector<uint8_t> eight = {0, 128, 255, 1};
    ASSERT_EQ(DeinterleavePcm(Pcm(1, 8000, 8), eight, left, right), 4u);
    EXPECT_EQ(left[0], -32768);
    EXPECT_EQ(left[1], 0);
    EXPECT_EQ(left[2], 32512);
    EXPECT_EQ(left[3], -32512);

    // Two stereo frames (L, R) = (1, -2), (-32768, 32767) and half a third frame.
    const std::vector<uint8_t> sixteen = {0x01, 0x00, 0xfe, 0xff, 0x00, 0x80, 0xff, 0x7f, 0x11};
    left.fill(77);
    right.fill(77);
    ASSERT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), sixteen, left, right), 2u);
    EXPECT_EQ(left[0], 1);
    EXPECT_EQ(right[0], -2);
    EXPECT_EQ(left[1], -32768);
    EXPECT_EQ(right[1], 32767);
    EXPECT_EQ(left[2], 77);  // the half frame is left for the next piece
    EXPECT_EQ(right[2], 77);
}

TEST(DeinterleavePcm, StopsAtTheArraysCapacity) {
    std::array<int16_t, 6> left{};
    std::array<int16_t, 6> right{};
    left.fill(9);
    right.fill(9);
    const std::vector<uint8_t> pcm(40, 0x80);  // ten stereo 16-bit frames
    const std::span<int16_t> l(left.data(), 4);
    const std::span<int16_t> r(right.data(), 4);
    EXPECT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), pcm, l, r), 4u);
    EXPECT_EQ(left[4], 9);
    EXPECT_EQ(right[4], 9);
    // A right array shorter than the left one is refused rather than overrun.
    EXPECT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), pcm, l, r.first(2)), 0u);
}

}  // namespace
