// Layer III frame headers, the frame counter and the Info tag frame. Expected frame lengths
// are the ISO 11172-3 / 13818-3 values worked out by hand (floor(144000 x kbps / Hz) for
// MPEG-1, floor(72000 x kbps / Hz) for MPEG-2 and 2.5, plus the padding byte).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "encoder/mp3_frame.h"

using namespace qm;

namespace {

struct HeaderCase {
    std::array<uint8_t, 4> bytes;
    MpegVersion version;
    uint32_t kbps;
    uint32_t rateHz;
    uint16_t channels;
    uint32_t frameBytes;
    uint32_t samplesPerFrame;
    uint32_t sideInfoBytes;
};

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, ParsesKnownHeadersAndWritesThemBack) {
    const HeaderCase c = GetParam();
    const auto header = ParseMp3FrameHeader(c.bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, c.version);
    EXPECT_EQ(header->BitrateKbps(), c.kbps);
    EXPECT_EQ(header->SampleRateHz(), c.rateHz);
    EXPECT_EQ(header->Channels(), c.channels);
    EXPECT_EQ(header->FrameBytes(), c.frameBytes);
    EXPECT_EQ(header->SamplesPerFrame(), c.samplesPerFrame);
    EXPECT_EQ(header->SideInfoBytes(), c.sideInfoBytes);
    // Copyright, original and private bits are not kept, so compare the bits that are.
    std::array<uint8_t, 4> expected = c.bytes;
    expected[2] &= 0xfe;
    expected[3] &= 0xc0;
    EXPECT_EQ(EncodeMp3FrameHeader(*header), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Known, HeaderTest,
    ::testing::Values(
        // MPEG-1, 128 kbit/s, 44.1 kHz, joint stereo; then padded; then with CRC.
        HeaderCase{{0xff, 0xfb, 0x90, 0x64}, MpegVersion::kMpeg1, 128, 44100, 2, 417, 1152, 32},
        HeaderCase{{0xff, 0xfb, 0x92, 0x64}, MpegVersion::kMpeg1, 128, 44100, 2, 418, 1152, 32},
        HeaderCase{{0xff, 0xfa, 0x90, 0x64}, MpegVersion::kMpeg1, 128, 44100, 2, 417, 1152, 34},
        HeaderCase{{0xff, 0xfb, 0x94, 0xc4}, MpegVersion::kMpeg1, 128, 48000, 1, 384, 1152, 17},
        HeaderCase{{0xff, 0xfb, 0xe8, 0x00}, MpegVersion::kMpeg1, 320, 32000, 2, 1440, 1152, 32},
        HeaderCase{{0xff, 0xfb, 0x10, 0xc0}, MpegVersion::kMpeg1, 32, 44100, 1, 104, 1152, 17},
        // MPEG-2: 128 kbit/s at 22.05 and 16 kHz.
        HeaderCase{{0xff, 0xf3, 0xc0, 0x40}, MpegVersion::kMpeg2, 128, 22050, 2, 417, 576, 17},
        HeaderCase{{0xff, 0xf3, 0xc8, 0xc0}, MpegVersion::kMpeg2, 128, 16000, 1, 576, 576, 9},
        // MPEG-2.5: 128 kbit/s at 11.025 and 8 kHz, 8 kbit/s at 8 kHz.
        HeaderCase{{0xff, 0xe3, 0xc0, 0xc0}, MpegVersion::kMpeg25, 128, 11025, 1, 835, 576, 9},
        HeaderCase{{0xff, 0xe3, 0xc8, 0x40}, MpegVersion::kMpeg25, 128, 8000, 2, 1152, 576, 17},
        HeaderCase{{0xff, 0xe3, 0x18, 0xc0}, MpegVersion::kMpeg25, 8, 8000, 1, 72, 576, 9}));

TEST(Mp3FrameHeader, RefusesAndMakesNothingThatNoFixedFrameGridCarries) {
    const std::vector<std::vector<uint8_t>> refused = {
        {0xff, 0xfb, 0x90},        // cut short
        {0xff, 0x7b, 0x90, 0x64},  // no sync
        {0xff, 0xeb, 0x90, 0x64},  // reserved version
        {0xff, 0xfd, 0x90, 0x64},  // Layer II
        {0xff, 0xff, 0x90, 0x64},  // Layer I
        {0xff, 0xf9, 0x90, 0x64},  // reserved layer
        {0xff, 0xfb, 0x00, 0x64},  // free format
        {0xff, 0xfb, 0xf0, 0x64},  // bit rate index 15
        {0xff, 0xfb, 0x9c, 0x64},  // reserved sample rate
        {0xff, 0xfb, 0x90, 0x66},  // reserved emphasis
    };
    for (const auto& bytes : refused) {
        EXPECT_FALSE(ParseMp3FrameHeader(bytes)) << std::hex << int{bytes[1]} << int{bytes[2]};
    }
    // Nor are such headers made (those made for every Layer III rate are checked through the
    // Info frames below).
    for (uint32_t rate : {0u, 7999u, 44000u, 96000u, 0xffffffffu}) {
        EXPECT_FALSE(MakeLayer3Header(rate, 1, 128)) << rate;
        EXPECT_FALSE(IsLayer3SampleRate(rate)) << rate;
    }
    EXPECT_FALSE(MakeLayer3Header(44100, 3, 128));
    EXPECT_FALSE(MakeLayer3Header(44100, 0, 128));
    EXPECT_FALSE(MakeLayer3Header(22050, 2, 320));  // MPEG-2 stops at 160 kbit/s
    EXPECT_FALSE(MakeLayer3Header(44100, 2, 8));    // MPEG-1 starts at 32 kbit/s
}

// A stream of empty frames of `header`'s layout with padding chosen at random, as a CBR
// encoder pads to keep the average rate.
std::vector<uint8_t> MakeStream(Mp3FrameHeader header, size_t frames, std::mt19937& random) {
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < frames; ++i) {
        header.padded = (random() & 1) != 0;
        const auto word = EncodeMp3FrameHeader(header);
        const size_t start = stream.size();
        stream.resize(start + header.FrameBytes(), 0x5a);
        std::copy(word.begin(), word.end(), stream.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return stream;
}

// Feeds `stream` in random piece sizes, including one-byte pieces that split a header.
Mp3FrameCounter FeedInPieces(const std::vector<uint8_t>& stream, std::mt19937& random) {
    Mp3FrameCounter counter;
    std::uniform_int_distribution<size_t> piece(0, 700);
    size_t at = 0;
    while (at < stream.size()) {
        const size_t n =
            std::min(piece(random) % 3 == 0 ? size_t{1} : piece(random), stream.size() - at);
        counter.Feed(std::span<const uint8_t>(stream.data() + at, n));
        at += n;
    }
    return counter;
}

TEST(Mp3FrameCounter, CountsEveryFrameWhateverThePiecesAndStopsWhereTheGridBreaks) {
    std::mt19937 random(7);
    for (uint32_t rate : {8000u, 22050u, 44100u}) {
        for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
            const auto header = MakeLayer3Header(rate, channels, 128);
            ASSERT_TRUE(header);
            const auto stream = MakeStream(*header, 40, random);
            Mp3FrameCounter counter = FeedInPieces(stream, random);
            EXPECT_TRUE(counter.InSync());
            EXPECT_EQ(counter.Frames(), 40u);
            EXPECT_EQ(counter.Bytes(), stream.size());
            ASSERT_TRUE(counter.First());
            EXPECT_EQ(counter.First()->SampleRateHz(), rate);

            // Frame 25 found by walking the grid, then broken: its sync lost, or another
            // sample rate, which is no part of this stream.
            size_t at = 0;
            for (int i = 0; i < 25; ++i) {
                at += ParseMp3FrameHeader(std::span(stream).subspan(at))->FrameBytes();
            }
            auto lostSync = stream;
            lostSync[at] = 0x00;
            auto otherRate = stream;
            otherRate[at + 2] = static_cast<uint8_t>((otherRate[at + 2] & ~0x0c) | 0x04);
            for (const auto& broken : {lostSync, otherRate}) {
                counter = FeedInPieces(broken, random);
                EXPECT_FALSE(counter.InSync()) << rate;
                EXPECT_EQ(counter.Frames(), 25u) << rate;
            }
        }
    }
}

struct TagCase {
    uint32_t rateHz;
    uint16_t channels;
    uint32_t kbps;
};

class InfoFrameTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(InfoFrameTest, CarriesTheCountsInAFrameOfTheStreamsLayout) {
    const TagCase c = GetParam();
    const auto stream = MakeLayer3Header(c.rateHz, c.channels, c.kbps);
    ASSERT_TRUE(stream && stream->BitrateKbps() == c.kbps);
    std::vector<uint8_t> out(2000, 0xee);
    const Mp3InfoFields fields{
        Mp3StreamCounts{123456, 0x01020304, 0xbeef}, {576, 4095}, "LAME3.100"};
    const size_t written = WriteInfoFrame(*stream, fields, out);
    ASSERT_GT(written, 0u);
    // Guard bytes after the frame stay untouched.
    EXPECT_EQ(static_cast<size_t>(std::count(out.begin() + written, out.end(), 0xee)),
              out.size() - written);
    const auto header = ParseMp3FrameHeader(out);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->FrameBytes(), written);
    EXPECT_FALSE(header->padded);
    EXPECT_FALSE(header->crcProtected);
    EXPECT_EQ(header->version, stream->version);
    EXPECT_EQ(header->SampleRateHz(), c.rateHz);
    EXPECT_EQ(header->Channels(), c.channels);
    EXPECT_GE(header->BitrateKbps(), c.kbps);
    // The side information stays zero: decoders see a frame without audio.
    EXPECT_EQ(std::count(out.begin() + 4, out.begin() + 4 + header->SideInfoBytes(), 0),
              header->SideInfoBytes());
    const auto tag = ReadInfoTag(std::span<const uint8_t>(out.data(), written));
    ASSERT_TRUE(tag);
    EXPECT_TRUE(tag->cbr && tag->hasToc && tag->tagCrcMatches);
    EXPECT_EQ(tag->frames, 123456u);
    EXPECT_EQ(tag->bytes, 0x01020304u);
    EXPECT_STREQ(tag->encoder.data(), "LAME3.100");
    ASSERT_TRUE(tag->gapless);
    EXPECT_EQ(tag->gapless->delay, 576);
    EXPECT_EQ(tag->gapless->padding, 4095);
    EXPECT_EQ(tag->musicBytes, 0x01020304u);
    EXPECT_EQ(tag->musicCrc, 0xbeef);
    // The seek table of a constant-rate stream rises linearly from 0 to 253.
    const size_t toc = 4 + header->SideInfoBytes() + 16;
    EXPECT_EQ(out[toc], 0);
    EXPECT_EQ(out[toc + 50], 128);
    EXPECT_EQ(out[toc + 99], 253);

    // Without counts the tag carries no fields, and a too small buffer is refused untouched.
    ASSERT_EQ(WriteInfoFrame(*stream, Mp3InfoFields{}, out), written);
    const auto empty = ReadInfoTag(out);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->frames);
    EXPECT_FALSE(empty->bytes);
    std::vector<uint8_t> small(written - 1, 0xee);
    EXPECT_EQ(WriteInfoFrame(*stream, fields, small), 0u);
    EXPECT_EQ(small, std::vector<uint8_t>(written - 1, 0xee));
}

// Every rate at the encoder's 128 kbit/s, and the lowest bit rates, whose frames are too
// short for the tag until the bit rate is raised.
INSTANTIATE_TEST_SUITE_P(Layouts, InfoFrameTest,
                         ::testing::Values(TagCase{44100, 2, 128}, TagCase{48000, 1, 128},
                                           TagCase{32000, 2, 128}, TagCase{22050, 1, 128},
                                           TagCase{24000, 2, 128}, TagCase{16000, 2, 128},
                                           TagCase{11025, 1, 128}, TagCase{12000, 2, 128},
                                           TagCase{8000, 1, 128}, TagCase{8000, 1, 8},
                                           TagCase{8000, 2, 8}, TagCase{48000, 2, 32}));

TEST(Mp3InfoTag, RefusesFramesWithoutATagOrCutShort) {
    const auto stream = MakeLayer3Header(44100, 2, 128);
    ASSERT_TRUE(stream);
    std::vector<uint8_t> frame(1000);
    const size_t written =
        WriteInfoFrame(*stream, Mp3InfoFields{Mp3StreamCounts{5, 5000}, {}, ""}, frame);
    ASSERT_GT(written, 0u);
    const size_t tagAt = 4 + 32;
    // Cut inside the fields: the frame count, the byte count, the seek table.
    for (size_t cut : {tagAt + 4, tagAt + 10, tagAt + 14, tagAt + 60}) {
        EXPECT_FALSE(ReadInfoTag(std::span<const uint8_t>(frame.data(), cut))) << cut;
    }
    // Without the LAME extension (cut, or a flipped byte under its CRC) the counts still read.
    const auto bare = ReadInfoTag(std::span<const uint8_t>(frame.data(), tagAt + 116));
    EXPECT_TRUE(bare && !bare->gapless);
    frame[tagAt + 140] ^= 1;
    const auto damaged = ReadInfoTag(frame);
    ASSERT_TRUE(damaged && damaged->frames);
    EXPECT_FALSE(damaged->tagCrcMatches);
    auto renamed = frame;
    renamed[tagAt] = 'X';
    EXPECT_FALSE(ReadInfoTag(renamed));
    std::copy_n("Xing", 4, renamed.begin() + tagAt);
    const auto xing = ReadInfoTag(renamed);
    EXPECT_TRUE(xing && !xing->cbr && xing->frames == 5u);
}

}  // namespace
