#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "encoder/id3_tag.h"
#include "encoder/mp3_frame.h"

namespace qm {

// The layout of a recording's .mp3 file: the ID3v2.4 tag, the Info tag frame, then the
// encoder's frames as they come. The head (tag and Info frame) goes out before the first
// frame with placeholder counts; when the stream ends, or the recording is stopped without its
// end, the Info frame is written again at the same place from what was written. Plain code
// over bytes, used by the recorder's file stage and tested natively.
class Mp3FileHead {
  public:
    // Sets up a new file for frames that look like `stream`; `encoder` names the encoder in the
    // Info frame ("LAME3.100"). Allocates; false when the stream cannot carry a tag frame.
    bool Begin(const Mp3FrameHeader& stream, const RecordingTags& tags, const char* encoder,
               uint32_t encoderDelay);

    // Bytes at offset 0 of the file, before any frame.
    std::span<const uint8_t> Head() const { return head_; }
    // Where the Info frame sits (after the ID3 tag) and where the next frame bytes go.
    uint64_t InfoOffset() const { return infoOffset_; }
    uint64_t NextOffset() const { return head_.size() + counter_.Bytes(); }

    // Frame bytes in any pieces; the frames are counted and the music's CRC kept. Neither
    // allocates nor blocks.
    void AddFrames(std::span<const uint8_t> bytes);
    // The encoder has taken this many samples per channel so far.
    void SetSamplesTaken(uint64_t samples) { samplesTaken_ = samples; }

    // The final Info frame, to be written at InfoOffset(). `flushed` says the encoder emptied
    // itself into the stream (the end of the stream came); without it the recording was cut
    // and the tag claims only the samples its frames can decode. Counts are left out when the
    // frames could not be followed or overflow the tag's fields.
    std::span<const uint8_t> Finish(bool flushed);
    Mp3Gapless Gapless() const { return gapless_; }
    uint64_t Frames() const { return counter_.Frames(); }

  private:
    Mp3FrameHeader stream_{};
    std::vector<uint8_t> head_;
    uint64_t infoOffset_ = 0;
    const char* encoder_ = "";
    uint32_t encoderDelay_ = 0;
    std::optional<uint64_t> samplesTaken_;
    Mp3FrameCounter counter_;
    uint16_t musicCrc_ = 0;
    Mp3Gapless gapless_{};
};

// What `quillmar info` shows of an MP3 file.
struct Mp3FileSummary {
    std::optional<Id3Tag> id3;
    size_t id3Bytes = 0;
    Mp3FrameHeader first{};
    std::optional<Mp3InfoTag> info;
    uint64_t audioFrames = 0;  // from the tag, else counted
    uint64_t samples = 0;      // per channel, after the tag's trimming
    double seconds = 0.0;
    bool counted = false;  // the length comes from walking the frames, not from the tag
};

// Reads the tags and the first frame of a whole MP3 file and works out its length: from the
// Info/Xing tag where it has a frame count, else by walking the frames. Nothing when no Layer
// III frame is found near the start. Never reads past `file`.
std::optional<Mp3FileSummary> ReadMp3FileSummary(std::span<const uint8_t> file);

}  // namespace qm
