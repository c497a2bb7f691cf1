// Reading tags other programs wrote: ID3v2.3 with UTF-16 text, several values in one frame,
// a whole-tag unsynchronisation, and frames damaged in ways a reader must survive.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/id3_tag.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame23(const char* id, const Bytes& body) {
    const auto size = static_cast<uint32_t>(body.size());
    Bytes out{static_cast<uint8_t>(id[0]),
              static_cast<uint8_t>(id[1]),
              static_cast<uint8_t>(id[2]),
              static_cast<uint8_t>(id[3]),
              static_cast<uint8_t>(size >> 24),
              static_cast<uint8_t>(size >> 16),
              static_cast<uint8_t>(size >> 8),
              static_cast<uint8_t>(size),
              0,
              0};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Tag23(const Bytes& frames, uint8_t flags = 0) {
    const auto size = static_cast<uint32_t>(frames.size());
    Bytes out{'I',
              'D',
              '3',
              3,
              0,
              flags,
              static_cast<uint8_t>(size >> 21 & 0x7f),
              static_cast<uint8_t>(size >> 14 & 0x7f),
              static_cast<uint8_t>(size >> 7 & 0x7f),
              static_cast<uint8_t>(size & 0x7f)};
    out.insert(out.end(), frames.begin(), frames.end());
    return out;
}

TEST(Id3Read, TakesUtf16TextSeveralValuesAndAnUnsynchronisedTag) {
    // "Ré" little-endian behind its byte-order mark, then the terminator and a second value.
    Bytes frames = Frame23("TIT2", {1, 0xff, 0xfe, 'R', 0, 0xe9, 0, 0, 0, 0xff, 0xfe, 'x', 0});
    const Bytes artist = Frame23("TPE1", {0, 'A', 0, 'B'});
    frames.insert(frames.end(), artist.begin(), artist.end());
    const auto tag = ReadId3Tag(Tag23(frames));
    ASSERT_TRUE(tag);
    EXPECT_EQ(FindId3Text(*tag, "TIT2"), "R\xc3\xa9 / x");
    EXPECT_EQ(FindId3Text(*tag, "TPE1"), "A / B");

    // In an unsynchronised tag 0xff 0x00 stands for 0xff; the frame size counts it once.
    Bytes stuffed = Frame23("TIT2", {0, 'a', 0xff, 0xe0});
    stuffed.insert(stuffed.end() - 1, 0x00);
    const auto unsynchronised = ReadId3Tag(Tag23(stuffed, 0x80));
    ASSERT_TRUE(unsynchronised);
    EXPECT_EQ(FindId3Text(*unsynchronised, "TIT2"), "a\xc3\xbf\xc3\xa0");
}

TEST(Id3Read, SurvivesDamagedFramesKeepingWhatCameBefore) {
    // A UTF-16 value that ends on a stray odd byte once looped for ever.
    for (const Bytes& body : {Bytes{1, 'x'}, Bytes{1, 0xff, 0xfe, 'a', 0, 'b'}, Bytes{2, 0}}) {
        const auto tag = ReadId3Tag(Tag23(Frame23("TIT2", body)));
        ASSERT_TRUE(tag);
        EXPECT_LE(FindId3Text(*tag, "TIT2").size(), 1u);
    }
    // A frame claiming more bytes than the tag holds ends the reading; a bad encoding is skipped.
    Bytes frames = Frame23("TIT2", {0, 'o', 'k'});
    const Bytes badEncoding = Frame23("TALB", {9, 'z'});
    frames.insert(frames.end(), badEncoding.begin(), badEncoding.end());
    Bytes overlong = Frame23("TPE1", {0, 'n'});
    overlong[7] = 200;
    frames.insert(frames.end(), overlong.begin(), overlong.end());
    const auto tag = ReadId3Tag(Tag23(frames));
    ASSERT_TRUE(tag);
    EXPECT_EQ(FindId3Text(*tag, "TIT2"), "ok");
    EXPECT_EQ(FindId3Text(*tag, "TALB"), "");
    EXPECT_EQ(FindId3Text(*tag, "TPE1"), "");
    EXPECT_FALSE(ReadId3Tag(Bytes{'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0}));
}

}  // namespace
