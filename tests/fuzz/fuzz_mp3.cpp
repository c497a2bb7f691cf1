// MP3 frame parsing, the frame counter and the Info tag over arbitrary bytes. Oracles: a
// parsed header encodes back to one that parses the same; a tag written for any parsed layout
// reads back with the counts written; the counter accounts for every byte fed, whatever the
// piece sizes, and counts no more frames than the shortest frame allows.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "encoder/mp3_frame.h"
#include "encoder/pcm_input.h"

using namespace qm;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The sync word is set so that the header fields behind it are what gets explored.
    std::vector<uint8_t> synced(data, data + size);
    if (size >= 2) {
        synced[0] = 0xff;
        synced[1] |= 0xe0;
    }
    const std::span<const uint8_t> bytes(synced);
    if (const auto header = ParseMp3FrameHeader(bytes)) {
        const auto again = ParseMp3FrameHeader(EncodeMp3FrameHeader(*header));
        Check(again && again->FrameBytes() == header->FrameBytes() &&
              again->SideInfoBytes() == header->SideInfoBytes() &&
              again->SampleRateHz() == header->SampleRateHz());
        std::vector<uint8_t> frame(size > 4 ? data[4] * 8u : 0u, 0xcc);
        const uint32_t frames = size > 8 ? data[5] | (uint32_t{data[6]} << 8) : 0;
        const size_t written =
            WriteInfoFrame(*header,
                           Mp3InfoFields{Mp3StreamCounts{frames, 77},
                                         {static_cast<uint16_t>(frames & 0xfff), 77},
                                         "LAME3.100"},
                           frame);
        Check(written <= frame.size());
        if (written > 0) {
            const auto tag = ReadInfoTag(std::span<const uint8_t>(frame.data(), written));
            Check(tag && tag->frames == frames && tag->bytes == 77u && tag->tagCrcMatches &&
                  tag->gapless && tag->gapless->delay == (frames & 0xfff));
        }
    }
    ReadInfoTag(bytes);

    Mp3FrameCounter counter;
    size_t at = 0;
    size_t piece = 1;
    while (at < size) {
        const size_t n = std::min(piece, size - at);
        counter.Feed(bytes.subspan(at, n));
        at += n;
        piece = piece * 3 % 17 + 1;
    }
    Check(counter.Bytes() == size);
    // The shortest Layer III frame is 24 bytes (MPEG-2, 8 kbit/s at 24 kHz).
    Check(counter.Frames() <= size / 24 + 1);

    if (size >= 16) {
        PcmInputFormat format{uint16_t(data[0] | data[1] << 8),
                              uint16_t(data[2] & 7),
                              uint32_t(data[3] | data[4] << 8 | data[5] << 16),
                              0,
                              0,
                              uint16_t(data[6] & 0x18)};
        format.blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
        format.avgBytesPerSec = format.blockAlign * format.samplesPerSecHz;
        if (CheckPcmInput(format) == PcmInputCheck::kAccepted) {
            std::vector<int16_t> left(data[7] + 2, 0x5555);
            std::vector<int16_t> right(left.size(), 0x5555);
            const std::span<int16_t> l(left.data(), left.size() - 1);
            const std::span<int16_t> r(right.data(), right.size() - 1);
            const size_t done = DeinterleavePcm(format, bytes.subspan(8), l, r);
            Check(done <= l.size() && done <= (size - 8) / format.blockAlign);
            Check(left.back() == 0x5555 && right.back() == 0x5555);
        }
    }
    return 0;
}
