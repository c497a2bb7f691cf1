#include "encoder/win/mp3_encoder_filter.h"

#include <lame/lame.h>
#include <mmreg.h>
#include <uuids.h>

#include <algorithm>
#include <cstring>

#include "encoder/lame_settings.h"
#include "encoder/mp3_frame.h"
#include "encoder/win/encoder_ids.h"

namespace qm {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

bool ReadPcmFormat(const AM_MEDIA_TYPE& type, PcmInputFormat* format) {
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Audio) ||
        !IsEqualGUID(type.subtype, MEDIASUBTYPE_PCM) ||
        !IsEqualGUID(type.formattype, FORMAT_WaveFormatEx)) {
        return false;
    }
    const WAVEFORMATEX* wave = WaveFormatOf(type);
    if (wave == nullptr) {
        return false;
    }
    *format = PcmInputFormat{wave->wFormatTag,      wave->nChannels,   wave->nSamplesPerSec,
                             wave->nAvgBytesPerSec, wave->nBlockAlign, wave->wBitsPerSample};
    return CheckPcmInput(*format) == PcmInputCheck::kAccepted;
}

}  // namespace

MediaType MakeMp3MediaType(uint16_t channels, uint32_t samplesPerSecHz, uint32_t bitrateKbps,
                           uint32_t codecDelay) {
    MPEGLAYER3WAVEFORMAT format{};
    format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    format.wfx.nChannels = channels;
    format.wfx.nSamplesPerSec = samplesPerSecHz;
    format.wfx.nAvgBytesPerSec = bitrateKbps * 1000 / 8;
    format.wfx.nBlockAlign = 1;
    format.wfx.wBitsPerSample = 0;
    format.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    format.wID = MPEGLAYER3_ID_MPEG;
    format.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    const std::optional<Mp3FrameHeader> header =
        MakeLayer3Header(samplesPerSecHz, channels, bitrateKbps);
    format.nBlockSize = header ? static_cast<WORD>(header->FrameBytes()) : 0;
    format.nFramesPerBlock = 1;
    format.nCodecDelay = static_cast<WORD>(std::min<uint32_t>(codecDelay, 0xffff));

    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = kMediaSubtypeMp3;
    type.bFixedSizeSamples = FALSE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = 0;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = sizeof(format);
    type.pbFormat = reinterpret_cast<BYTE*>(&format);
    return MediaType(type);
}

void Mp3EncoderFilter::LameCloser::operator()(lame_global_struct* lame) const {
    lame_close(lame);
}

Mp3EncoderFilter::Mp3EncoderFilter(IUnknown* outer)
    : TransformFilter(kMp3EncoderName, outer, kMp3EncoderClsid) {}

Mp3EncoderFilter::~Mp3EncoderFilter() = default;

HRESULT Mp3EncoderFilter::CheckInputType(const AM_MEDIA_TYPE& type) {
    PcmInputFormat format;
    return ReadPcmFormat(type, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT Mp3EncoderFilter::CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) {
    PcmInputFormat pcm;
    if (!ReadPcmFormat(input, &pcm)) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (!IsEqualGUID(output.majortype, MEDIATYPE_Audio) ||
        !IsEqualGUID(output.subtype, kMediaSubtypeMp3) ||
        !IsEqualGUID(output.formattype, FORMAT_WaveFormatEx)) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const WAVEFORMATEX* mp3 = WaveFormatOf(output);
    if (mp3 == nullptr || mp3->wFormatTag != WAVE_FORMAT_MPEGLAYER3 ||
        mp3->nChannels != pcm.channels || mp3->nSamplesPerSec != pcm.samplesPerSecHz ||
        mp3->nAvgBytesPerSec != Mp3BitrateKbpsFor(pcm.samplesPerSecHz) * 1000 / 8) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT Mp3EncoderFilter::GetOutputType(const AM_MEDIA_TYPE& input, int position, MediaType* type) {
    PcmInputFormat pcm;
    if (position != 0 || !ReadPcmFormat(input, &pcm)) {
        return VFW_S_NO_MORE_ITEMS;
    }
    *type =
        MakeMp3MediaType(pcm.channels, pcm.samplesPerSecHz, Mp3BitrateKbpsFor(pcm.samplesPerSecHz),
                         Mp3EncoderDelay(pcm.samplesPerSecHz, pcm.channels));
    return type->IsEmpty() ? E_OUTOFMEMORY : S_OK;
}

HRESULT Mp3EncoderFilter::DecideBufferSize(IMemAllocator* allocator,
                                           const ALLOCATOR_PROPERTIES& request) {
    return SetOutputBuffers(allocator, request, 4, kOutputBufferBytes, kOutputBufferBytes);
}

HRESULT Mp3EncoderFilter::StartStreaming() {
    if (!ReadPcmFormat(Input().CurrentMediaType().Get(), &format_)) {
        return VFW_E_NOT_CONNECTED;
    }
    lame_.reset(lame_init());
    if (!lame_) {
        return E_OUTOFMEMORY;
    }
    if (!ConfigureMp3Encoder(lame_.get(), format_.samplesPerSecHz, format_.channels)) {
        lame_.reset();
        return E_FAIL;
    }
    partialBytes_ = 0;
    stampedFrames_ = 0;
    samplesTaken_ = 0;
    stampedSamples_ = 0;
    return S_OK;
}

void Mp3EncoderFilter::StopStreaming() {
    lame_.reset();
}

void Mp3EncoderFilter::DiscardHeld() {
    partialBytes_ = 0;
}

HRESULT Mp3EncoderFilter::DeliverEncoded(IMediaSample* out, int bytes) {
    if (bytes <= 0) {
        return bytes == 0 ? S_OK : E_FAIL;
    }
    out->SetActualDataLength(bytes);
    // Times follow the frames LAME has emitted, so they stay exact at every rate.
    const uint64_t frames = static_cast<uint64_t>(std::max(lame_get_frameNum(lame_.get()), 0));
    const uint64_t samplesPerFrame = static_cast<uint64_t>(lame_get_framesize(lame_.get()));
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(stampedFrames_ * samplesPerFrame *
                                                       kUnitsPerSecond / format_.samplesPerSecHz);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(frames * samplesPerFrame * kUnitsPerSecond /
                                                      format_.samplesPerSecHz);
    stop = std::max(stop, start + 1);
    stampedFrames_ = std::max(frames, stampedFrames_);
    out->SetTime(&start, &stop);
    LONGLONG takenBefore = static_cast<LONGLONG>(stampedSamples_);
    LONGLONG takenAfter = static_cast<LONGLONG>(samplesTaken_);
    out->SetMediaTime(&takenBefore, &takenAfter);
    stampedSamples_ = samplesTaken_;
    out->SetSyncPoint(TRUE);
    return DeliverOutput(out);
}

HRESULT Mp3EncoderFilter::GetEncoderBuffer(ComPtr<IMediaSample>* out, BYTE** data) {
    if (HRESULT hr = GetOutputBuffer(out); FAILED(hr)) {
        return hr;
    }
    // LAME writes up to its worst-case bound, so a smaller buffer could overflow.
    if (FAILED((*out)->GetPointer(data)) || (*out)->GetSize() < kOutputBufferBytes) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    return S_OK;
}

HRESULT Mp3EncoderFilter::EncodeFrames(size_t frames) {
    ComPtr<IMediaSample> out;
    BYTE* data = nullptr;
    if (HRESULT hr = GetEncoderBuffer(&out, &data); FAILED(hr)) {
        return hr;
    }
    const int written = lame_encode_buffer(lame_.get(), left_.data(), right_.data(),
                                           static_cast<int>(frames), data, out->GetSize());
    if (written >= 0) {
        samplesTaken_ += frames;
    }
    return DeliverEncoded(out.Get(), written);
}

HRESULT Mp3EncoderFilter::ProcessSample(IMediaSample* sample) {
    if (!lame_) {
        return VFW_E_WRONG_STATE;
    }
    std::span<const uint8_t> pcm;
    if (HRESULT hr = SampleBytes(sample, &pcm); FAILED(hr)) {
        return hr;
    }
    const size_t frameBytes = format_.blockAlign;
    size_t frames = 0;
    // Complete a frame that the previous sample cut in two.
    if (partialBytes_ != 0) {
        const size_t take = std::min(frameBytes - partialBytes_, pcm.size());
        std::memcpy(partial_.data() + partialBytes_, pcm.data(), take);
        partialBytes_ += take;
        pcm = pcm.subspan(take);
        if (partialBytes_ < frameBytes) {
            return S_OK;
        }
        frames = DeinterleavePcm(format_, std::span<const uint8_t>(partial_.data(), frameBytes),
                                 left_, right_);
        partialBytes_ = 0;
    }
    while (pcm.size() >= frameBytes) {
        const size_t converted =
            DeinterleavePcm(format_, pcm, std::span<int16_t>(left_).subspan(frames),
                            std::span<int16_t>(right_).subspan(frames));
        frames += converted;
        pcm = pcm.subspan(converted * frameBytes);
        if (frames == kChunkFrames) {
            if (HRESULT hr = EncodeFrames(frames); hr != S_OK) {
                return hr;
            }
            frames = 0;
        }
    }
    std::memcpy(partial_.data(), pcm.data(), pcm.size());
    partialBytes_ = pcm.size();
    return frames != 0 ? EncodeFrames(frames) : S_OK;
}

HRESULT Mp3EncoderFilter::FinishStream() {
    if (!lame_) {
        return S_OK;
    }
    ComPtr<IMediaSample> out;
    BYTE* data = nullptr;
    if (HRESULT hr = GetEncoderBuffer(&out, &data); FAILED(hr)) {
        return hr;
    }
    // Pads the last granule with silence and empties the bit reservoir: without it the last
    // frames never reach the file.
    const int written = lame_encode_flush(lame_.get(), data, out->GetSize());
    return DeliverEncoded(out.Get(), written);
}

}  // namespace qm
