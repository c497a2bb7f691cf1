#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// MPEG audio Layer III frame headers and the "Info"/"Xing" tag frame that players read for a
// stream's length. Plain functions over bytes, no platform types.

enum class MpegVersion : uint8_t { kMpeg1, kMpeg2, kMpeg25 };

struct Mp3FrameHeader {
    MpegVersion version = MpegVersion::kMpeg1;
    uint8_t bitrateIndex = 0;     // 1..14; 0 (free format) and 15 are never valid here
    uint8_t sampleRateIndex = 0;  // 0..2
    uint8_t channelMode = 0;      // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool padded = false;
    bool crcProtected = false;

    uint32_t BitrateKbps() const;
    uint32_t SampleRateHz() const;
    uint16_t Channels() const { return channelMode == 3 ? 1 : 2; }
    uint32_t SamplesPerFrame() const { return version == MpegVersion::kMpeg1 ? 1152 : 576; }
    // Whole frame, header included.
    uint32_t FrameBytes() const;
    // Side information that follows the header (and its CRC word, when present).
    uint32_t SideInfoBytes() const;
};

// The header at the start of `bytes`, or nothing when fewer than 4 bytes are given or they are
// not a Layer III header this stream format can carry (free format, reserved fields).
std::optional<Mp3FrameHeader> ParseMp3FrameHeader(std::span<const uint8_t> bytes);
std::array<uint8_t, 4> EncodeMp3FrameHeader(const Mp3FrameHeader& header);

// A Layer III header for `sampleRateHz` and `channels` (1 mono, 2 joint stereo) at exactly
// `bitrateKbps`, unpadded and without CRC; nothing when the rate or the bit rate does not
// exist for that MPEG version.
std::optional<Mp3FrameHeader> MakeLayer3Header(uint32_t sampleRateHz, uint16_t channels,
                                               uint32_t bitrateKbps);
bool IsLayer3SampleRate(uint32_t sampleRateHz);

// Follows the frame grid of a Layer III byte stream that arrives in pieces of any size:
// counts the frames and notices when a header is not where the previous frame's length says,
// or when the stream changes version or sample rate. Once out of step it stops counting.
class Mp3FrameCounter {
  public:
    // Returns InSync() after the piece.
    bool Feed(std::span<const uint8_t> bytes);
    void Reset() { *this = Mp3FrameCounter(); }

    uint64_t Frames() const { return frames_; }
    uint64_t Bytes() const { return bytes_; }
    bool InSync() const { return inSync_; }
    const std::optional<Mp3FrameHeader>& First() const { return first_; }

  private:
    uint64_t bytes_ = 0;
    uint64_t frames_ = 0;
    uint64_t nextHeaderAt_ = 0;
    std::array<uint8_t, 4> header_{};
    size_t collected_ = 0;
    bool inSync_ = true;
    std::optional<Mp3FrameHeader> first_;
};

// What the tag frame says about the stream. A field the tag does not carry stays empty.
struct Mp3InfoTag {
    bool cbr = true;  // "Info" (constant bit rate) rather than "Xing"
    std::optional<uint32_t> frames;
    std::optional<uint32_t> bytes;
    bool hasToc = false;
};

// Fields written after the tag's flags: the name, the flags, frame and byte counts and the
// 100-entry seek table.
inline constexpr uint32_t kInfoTagBytes = 4 + 4 + 4 + 4 + 100;

// Length of the tag frame for a stream whose frames look like `stream`: the frame is
// unpadded and its bit rate is raised where the stream's is too small to hold the tag.
// Nothing when no bit rate of that version can hold it.
std::optional<Mp3FrameHeader> InfoFrameHeaderFor(const Mp3FrameHeader& stream);

// Writes the tag frame (a frame with no audio: zero side information and main data) at the
// start of `out`. With `counts`, the tag carries the number of audio frames that follow it,
// the byte length of the whole stream including this frame, and a linear seek table (the
// stream has a constant bit rate); without, it carries none, so players estimate. Returns the
// bytes written, or 0 when `out` is too small or `stream` cannot carry a tag.
struct Mp3StreamCounts {
    uint32_t audioFrames = 0;
    uint32_t totalBytes = 0;
};
size_t WriteInfoFrame(const Mp3FrameHeader& stream, const std::optional<Mp3StreamCounts>& counts,
                      std::span<uint8_t> out);

// Reads the tag of a frame that starts at `frame`; nothing when it is not a tag frame or is
// cut short.
std::optional<Mp3InfoTag> ReadInfoTag(std::span<const uint8_t> frame);
