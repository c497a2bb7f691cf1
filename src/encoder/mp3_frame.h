#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qm {

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
    // Frames whose bytes have all arrived (the last one counted may still be cut short).
    uint64_t WholeFrames() const { return nextHeaderAt_ > bytes_ ? frames_ - 1 : frames_; }
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

// The encoder's delay and the stream's end padding in samples, as the LAME extension of the
// tag frame records them (12 bits each), so decoders trim both and give back exactly the
// samples that were encoded.
struct Mp3Gapless {
    uint16_t delay = 0;
    uint16_t padding = 0;
};

// What the tag frame says about the stream. A field the tag does not carry stays empty.
struct Mp3InfoTag {
    bool cbr = true;  // "Info" (constant bit rate) rather than "Xing"
    std::optional<uint32_t> frames;
    std::optional<uint32_t> bytes;
    bool hasToc = false;
    // From the LAME extension, when the tag has one.
    std::array<char, 10> encoder{};  // the encoder's 9-character version, terminated
    std::optional<Mp3Gapless> gapless;
    std::optional<uint32_t> musicBytes;  // from the tag frame to the end of the last frame
    uint16_t musicCrc = 0;
    bool tagCrcMatches = false;
};

// Fields written after the tag's side information: the name, the flags, frame and byte
// counts, the 100-entry seek table, the quality word and the 36-byte LAME extension.
inline constexpr uint32_t kInfoTagBytes = 4 + 4 + 4 + 4 + 100 + 4 + 36;

// Length of the tag frame for a stream whose frames look like `stream`: the frame is
// unpadded and its bit rate is raised where the stream's is too small to hold the tag.
// Nothing when no bit rate of that version can hold it.
std::optional<Mp3FrameHeader> InfoFrameHeaderFor(const Mp3FrameHeader& stream);

// What the tag frame records. Without `counts` it carries no frame and byte counts, so players
// estimate; the LAME extension is always there, with the encoder's name and delay.
struct Mp3StreamCounts {
    uint32_t audioFrames = 0;
    uint32_t totalBytes = 0;  // from the tag frame to the end of the last frame
    uint16_t musicCrc = 0;    // CRC-16 of the audio frames' bytes
};
struct Mp3InfoFields {
    std::optional<Mp3StreamCounts> counts;
    Mp3Gapless gapless;
    // Up to 9 characters, "LAME" and its version, so decoders trust the delay fields.
    const char* encoder = "";
};

// Writes the tag frame (a frame with no audio: zero side information and main data) at the
// start of `out`: with counts, the number of audio frames after it, the stream's byte length
// and a linear seek table (the stream has a constant bit rate). Returns the bytes written, or
// 0 when `out` is too small or `stream` cannot carry a tag.
size_t WriteInfoFrame(const Mp3FrameHeader& stream, const Mp3InfoFields& fields,
                      std::span<uint8_t> out);

// Reads the tag of a frame that starts at `frame`; nothing when it is not a tag frame or is
// cut short. A LAME extension cut short or absent leaves its fields empty.
std::optional<Mp3InfoTag> ReadInfoTag(std::span<const uint8_t> frame);

// CRC-16 (polynomial 0x8005, bit-reversed, initial 0) as the LAME extension uses it for the
// music and for the tag itself; `crc` carries a running value across pieces.
uint16_t Mp3TagCrc(std::span<const uint8_t> bytes, uint16_t crc = 0);

// What a decoder that honours the tag gives back from `audioFrames` frames: the encoder's
// `delay` trimmed at the start and the padding at the end. With the count of samples the
// encoder took and `flushed` (the encoder emptied itself into the stream), the padding leaves
// exactly those; otherwise the stream ends where its last whole frame stops being decodable,
// and no later than the samples taken. Both fields are capped at their 12 bits.
Mp3Gapless GaplessFor(uint64_t audioFrames, uint32_t samplesPerFrame, uint32_t delay,
                      std::optional<uint64_t> samplesTaken, bool flushed);

// The samples per channel a stream decodes to, by its tag.
uint64_t DecodedSamples(uint64_t audioFrames, uint32_t samplesPerFrame, const Mp3Gapless& gapless);

}  // namespace qm
