// Reading tags other programs wrote: ID3v2.3 with UTF-16 text, several values in one frame,
// a whole-tag unsynchronisation, and frames damaged in ways a reader must survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/id3_tag.h"

using namespace qm;

namespace {

using Bytes = std::vector<uint8_t>;

// `head` then the big-endian `size` in 7 or 8 bits a byte, then `body`.
Bytes Sized(Bytes head, uint32_t size, int bitsPerByte, const Bytes& body) {
    for (int shift = 3 * bitsPerByte; shift >= 0; shift -= bitsPerByte) {
        head.push_back(static_cast<uint8_t>(size >> shift & ((1u << bitsPerByte) - 1)));
    }
    head.resize(head.size() + body.size());
    std::copy(body.begin(), body.end(), head.end() - static_cast<std::ptrdiff_t>(body.size()));
    return head;
}

// An ID3v2.3 frame (plain size, no flags; the flags go before the body) and a tag around frames
// (syncsafe size).
Bytes Frame23(const char* id, const Bytes& body) {
    Bytes withFlags{0, 0};
    withFlags.insert(withFlags.end(), body.begin(), body.end());
    return Sized(Bytes(id, id + 4), static_cast<uint32_t>(body.size()), 8, withFlags);
}
Bytes Tag23(const Bytes& frames, uint8_t flags = 0) {
    return Sized({'I', 'D', '3', 3, 0, flags}, static_cast<uint32_t>(frames.size()), 7, frames);
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
