// The encoder's PCM input rules and its conversion to 16-bit channel arrays.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "encoder/pcm_input.h"

using namespace qm;

namespace {

PcmInputFormat Pcm(uint16_t channels, uint32_t rateHz, uint16_t bits) {
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    return PcmInputFormat{kWaveFormatPcmTag, channels, rateHz, block * rateHz, block, bits};
}

template <typename T>
PcmInputFormat With(PcmInputFormat f, T PcmInputFormat::*field, T value) {
    f.*field = value;
    return f;
}

TEST(PcmInputCheck, AcceptsOnlyWhatTheEncoderCarries) {
    using enum PcmInputCheck;
    const std::pair<PcmInputFormat, PcmInputCheck> cases[] = {
        {Pcm(1, 44100, 16), kAccepted},
        {Pcm(2, 48000, 8), kAccepted},
        {Pcm(2, 8000, 16), kAccepted},
        {With(Pcm(1, 44100, 32), &PcmInputFormat::formatTag, uint16_t{3}), kNotPcm},
        {With(Pcm(2, 44100, 16), &PcmInputFormat::formatTag, uint16_t{0xfffe}), kNotPcm},
        {Pcm(2, 44100, 24), kSampleWidth},
        {Pcm(1, 44100, 0), kSampleWidth},
        {Pcm(3, 44100, 16), kChannelCount},
        {Pcm(0, 44100, 16), kChannelCount},
        {Pcm(1, 0, 16), kSampleRate},
        {Pcm(1, 96000, 16), kSampleRate},
        {Pcm(2, 7999, 16), kSampleRate},
        {Pcm(1, 4000000000u, 8), kSampleRate},
        {With(Pcm(2, 44100, 16), &PcmInputFormat::blockAlign, uint16_t{2}), kInconsistent},
        {With(Pcm(2, 44100, 16), &PcmInputFormat::avgBytesPerSec, 1u), kInconsistent}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(CheckPcmInput(cases[i].first), cases[i].second) << "case " << i;
    }
}

using Samples = std::vector<int16_t>;
Samples First(const std::array<int16_t, 8>& a, size_t n) {
    return Samples(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(DeinterleavePcm, ScalesEightBitSplitsStereoAndStopsAtTheArraysCapacity) {
    std::array<int16_t, 8> left{};
    std::array<int16_t, 8> right{};
    const std::vector<uint8_t> eight = {0, 128, 255, 1};
    ASSERT_EQ(DeinterleavePcm(Pcm(1, 8000, 8), eight, left, right), 4u);
    EXPECT_EQ(First(left, 4), (Samples{-32768, 0, 32512, -32512}));

    // Two stereo frames (L, R) = (1, -2), (-32768, 32767) and half a third frame.
    const std::vector<uint8_t> sixteen = {0x01, 0x00, 0xfe, 0xff, 0x00, 0x80, 0xff, 0x7f, 0x11};
    left.fill(77);
    right.fill(77);
    ASSERT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), sixteen, left, right), 2u);
    // The half frame is left for the next piece.
    EXPECT_EQ(First(left, 3), (Samples{1, -32768, 77}));
    EXPECT_EQ(First(right, 3), (Samples{-2, 32767, 77}));

    // Ten stereo frames into arrays of four: the rest stays for the next call; a right array
    // shorter than the left one is refused rather than overrun.
    const std::vector<uint8_t> ten(40, 0x80);
    const std::span<int16_t> l(left.data(), 4);
    const std::span<int16_t> r(right.data(), 4);
    EXPECT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), ten, l, r), 4u);
    EXPECT_EQ(left[4], 77);
    EXPECT_EQ(right[4], 77);
    EXPECT_EQ(DeinterleavePcm(Pcm(2, 8000, 16), ten, l, r.first(2)), 0u);
}

}  // namespace
