#include "encoder/mp3_file.h"

#include <algorithm>
#include <limits>

namespace qm {

namespace {

// How far past the ID3 tag the first frame is looked for (junk or a second tag before it).
constexpr size_t kFrameSearchBytes = 65536;

}  // namespace

bool Mp3FileHead::Begin(const Mp3FrameHeader& stream, const RecordingTags& tags,
                        const char* encoder, uint32_t encoderDelay) {
    const std::optional<Mp3FrameHeader> info = InfoFrameHeaderFor(stream);
    if (!info) {
        return false;
    }
    stream_ = stream;
    encoder_ = encoder;
    encoderDelay_ = encoderDelay;
    samplesTaken_.reset();
    counter_.Reset();
    musicCrc_ = 0;
    head_ = WriteId3v24(tags);
    infoOffset_ = head_.size();
    head_.resize(head_.size() + info->FrameBytes());
    const Mp3InfoFields placeholder{
        std::nullopt, {static_cast<uint16_t>(encoderDelay), 0}, encoder};
    return WriteInfoFrame(stream_, placeholder, std::span<uint8_t>(head_).subspan(infoOffset_)) !=
           0;
}

void Mp3FileHead::AddFrames(std::span<const uint8_t> bytes) {
    counter_.Feed(bytes);
    musicCrc_ = Mp3TagCrc(bytes, musicCrc_);
}

std::span<const uint8_t> Mp3FileHead::Finish(bool flushed) {
    const std::span<uint8_t> frame = std::span<uint8_t>(head_).subspan(infoOffset_);
    const uint64_t totalBytes = frame.size() + counter_.Bytes();
    constexpr uint64_t kFieldMax = std::numeric_limits<uint32_t>::max();
    // A recording cut off mid-frame leaves a frame no decoder plays; it is not counted.
    const uint64_t frames = counter_.WholeFrames();
    const bool whole = counter_.InSync() && frames <= kFieldMax && totalBytes <= kFieldMax &&
                       (!counter_.First() || counter_.First()->version == stream_.version);
    Mp3InfoFields fields{std::nullopt, {}, encoder_};
    if (whole) {
        fields.counts = Mp3StreamCounts{static_cast<uint32_t>(frames),
                                        static_cast<uint32_t>(totalBytes), musicCrc_};
        gapless_ =
            GaplessFor(frames, stream_.SamplesPerFrame(), encoderDelay_, samplesTaken_, flushed);
    } else {
        gapless_ = {static_cast<uint16_t>(std::min<uint32_t>(encoderDelay_, 4095)), 0};
    }
    fields.gapless = gapless_;
    WriteInfoFrame(stream_, fields, frame);
    return frame;
}

std::optional<Mp3FileSummary> ReadMp3FileSummary(std::span<const uint8_t> file) {
    Mp3FileSummary summary;
    summary.id3 = ReadId3Tag(file);
    summary.id3Bytes = std::min(Id3TagBytes(file), file.size());
    // The first header whose frame is followed by another header (or the end of the file).
    size_t at = summary.id3Bytes;
    const size_t searchEnd = std::min(file.size(), at + kFrameSearchBytes);
    std::optional<Mp3FrameHeader> first;
    for (; at + 4 <= searchEnd; ++at) {
        first = ParseMp3FrameHeader(file.subspan(at));
        if (!first) {
            continue;
        }
        const size_t next = at + first->FrameBytes();
        if (next + 4 > file.size() || ParseMp3FrameHeader(file.subspan(next))) {
            break;
        }
        first.reset();
    }
    if (!first) {
        return std::nullopt;
    }
    summary.first = *first;
    summary.info = ReadInfoTag(file.subspan(at));
    const uint32_t samplesPerFrame = first->SamplesPerFrame();
    if (summary.info && summary.info->frames) {
        summary.audioFrames = *summary.info->frames;
    } else {
        Mp3FrameCounter counter;
        const size_t audioAt = summary.info ? at + first->FrameBytes() : at;
        counter.Feed(file.subspan(std::min(audioAt, file.size())));
        summary.audioFrames = counter.Frames();
        summary.counted = true;
    }
    const Mp3Gapless gapless =
        summary.info && summary.info->gapless ? *summary.info->gapless : Mp3Gapless{};
    summary.samples = DecodedSamples(summary.audioFrames, samplesPerFrame, gapless);
    summary.seconds = static_cast<double>(summary.samples) / first->SampleRateHz();
    return summary;
}

}  // namespace qm
