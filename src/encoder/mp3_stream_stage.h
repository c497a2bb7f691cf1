#pragma once

#include <windows.h>

#include <strmif.h>

#include <array>
#include <cstdint>
#include <optional>

#include "encoder/mp3_frame.h"
#include "streaming/transform_filter.h"

// The MP3 file stage: sits between the encoder and the platform's File Writer and turns the
// encoder's Layer III frames into the byte stream of an .mp3 file. Input: MEDIATYPE_Audio /
// MP3 subtype with a wave format (tag 0x0055) at a Layer III rate, mono or stereo. Output:
// MEDIATYPE_Stream, whose samples carry their byte offset in the file as start and stop
// times, which is where the File Writer puts them.
//
// The file starts with an "Info" tag frame: a placeholder when the first frames arrive, and
// rewritten at offset 0 when the stream ends, with the number of audio frames and bytes, so
// that players show the right duration. End-of-stream follows the rewrite. A recording must
// therefore be ended with end-of-stream (the graph's sources or "Audio Effects" EndStream),
// not by stopping the graph, or the tag keeps its placeholder counts.
class Mp3StreamStage : public TransformFilter {
  public:
    explicit Mp3StreamStage(IUnknown* outer);

    HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
    HRESULT GetOutputType(const AM_MEDIA_TYPE& input, int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator,
                             const ALLOCATOR_PROPERTIES& request) override;
    HRESULT StartStreaming() override;
    HRESULT ProcessSample(IMediaSample* sample) override;
    HRESULT FinishStream() override;

  private:
    // Largest Layer III frame (MPEG-1 at 320 kbit/s and 32 kHz is 1441 bytes).
    static constexpr size_t kMaxFrameBytes = 1441;
    static constexpr long kBufferBytes = 16384;

    HRESULT DeliverBytes(std::span<const uint8_t> bytes, uint64_t offset);
    HRESULT WriteInfoFrameAt0(const std::optional<Mp3StreamCounts>& counts);

    Mp3FrameHeader streamHeader_{};
    std::array<uint8_t, kMaxFrameBytes> infoFrame_{};
    size_t infoBytes_ = 0;
    bool infoWritten_ = false;
    Mp3FrameCounter counter_;
};

// Makes the MP3 file stage in-process, with one reference for the caller in `*out`.
// E_POINTER when `out` is null, E_OUTOFMEMORY when it cannot be made. Add it to the graph as
// kMp3StreamStageName, between "Audio Encoder" and the File Writer.
HRESULT CreateMp3StreamStage(IBaseFilter** out);
