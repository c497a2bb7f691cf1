#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>

#include "encoder/pcm_input.h"
#include "streaming/win/transform_filter.h"

// LAME's encoder state, declared by its own header in the global namespace.
struct lame_global_struct;

namespace qm {

// "Audio Encoder": encodes interleaved PCM (8 or 16 bits, mono or stereo, at a rate Layer III
// carries) into MPEG audio Layer III frames with LAME, 128 kbit/s constant bit rate (64 at the
// MPEG-2.5 rates), at the input's rate and with its channel count. Output: MEDIATYPE_Audio / MP3
// subtype with an MPEGLAYER3WAVEFORMAT whose nCodecDelay is LAME's delay in samples. Each output
// sample's media times count the PCM samples per channel LAME had taken before and after it, so
// the file stage knows how many the stream holds. When upstream ends the stream the encoder is
// flushed, so the audio it still holds reaches the file before end-of-stream.
//
// Streaming: the encoder is set up when the filter leaves the stopped state, and every PCM
// sample is encoded in pieces of at most kChunkFrames into output buffers sized for the worst
// case of one piece, so the streaming thread neither allocates nor keeps an MP3 copy.
class Mp3EncoderFilter : public TransformFilter {
  public:
    static constexpr size_t kChunkFrames = 4608;
    // LAME's bound for one call: 1.25 x samples + 7200 bytes (also enough for the flush).
    static constexpr long kOutputBufferBytes = kChunkFrames * 5 / 4 + 7200;

    explicit Mp3EncoderFilter(IUnknown* outer);
    ~Mp3EncoderFilter() override;

    HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
    HRESULT GetOutputType(const AM_MEDIA_TYPE& input, int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator,
                             const ALLOCATOR_PROPERTIES& request) override;
    HRESULT StartStreaming() override;
    void StopStreaming() override;
    HRESULT ProcessSample(IMediaSample* sample) override;
    HRESULT FinishStream() override;
    void DiscardHeld() override;

  private:
    struct LameCloser {
        void operator()(lame_global_struct* lame) const;
    };

    // An output buffer large enough for one call's worst case, and where its data goes.
    HRESULT GetEncoderBuffer(ComPtr<IMediaSample>* out, BYTE** data);
    HRESULT EncodeFrames(size_t frames);
    HRESULT DeliverEncoded(IMediaSample* out, int bytes);

    std::unique_ptr<lame_global_struct, LameCloser> lame_;
    PcmInputFormat format_{};
    std::array<int16_t, kChunkFrames> left_{};
    std::array<int16_t, kChunkFrames> right_{};
    // Bytes of a PCM frame split across two samples.
    std::array<uint8_t, 4> partial_{};
    size_t partialBytes_ = 0;
    // Frames LAME had emitted when the last output sample was stamped.
    uint64_t stampedFrames_ = 0;
    // PCM samples per channel given to LAME, and that count when the last output went out.
    uint64_t samplesTaken_ = 0;
    uint64_t stampedSamples_ = 0;
};

// The MP3 type the encoder offers for a PCM input that CheckPcmInput accepts.
MediaType MakeMp3MediaType(uint16_t channels, uint32_t samplesPerSecHz, uint32_t bitrateKbps,
                           uint32_t codecDelay = 0);

}  // namespace qm
