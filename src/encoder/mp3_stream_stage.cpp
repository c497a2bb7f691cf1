#include "encoder/mp3_stream_stage.h"

#include <mmreg.h>
#include <uuids.h>

#include <algorithm>
#include <limits>
#include <new>

#include "encoder/encoder_ids.h"

namespace {

const WAVEFORMATEX* Mp3WaveFormat(const AM_MEDIA_TYPE& type) {
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Audio) ||
        !IsEqualGUID(type.subtype, kMediaSubtypeMp3) ||
        !IsEqualGUID(type.formattype, FORMAT_WaveFormatEx)) {
        return nullptr;
    }
    const WAVEFORMATEX* wave = WaveFormatOf(type);
    if (wave == nullptr || wave->wFormatTag != WAVE_FORMAT_MPEGLAYER3 ||
        (wave->nChannels != 1 && wave->nChannels != 2) ||
        !IsLayer3SampleRate(wave->nSamplesPerSec)) {
        return nullptr;
    }
    return wave;
}

// The frame layout the stream will have, from its connection type: the byte rate gives the
// bit rate; one that no Layer III table holds falls back to the lowest, which the tag frame
// raises until the tag fits.
std::optional<Mp3FrameHeader> StreamHeaderFor(const WAVEFORMATEX& wave) {
    const uint32_t kbps = wave.nAvgBytesPerSec / 125;
    if (auto header = MakeLayer3Header(wave.nSamplesPerSec, wave.nChannels, kbps)) {
        return header;
    }
    const uint32_t lowest = wave.nSamplesPerSec >= 32000 ? 32 : 8;
    return MakeLayer3Header(wave.nSamplesPerSec, wave.nChannels, lowest);
}

}  // namespace

Mp3StreamStage::Mp3StreamStage(IUnknown* outer)
    : TransformFilter(kMp3StreamStageName, outer, kMp3StreamStageClsid) {}

HRESULT Mp3StreamStage::CheckInputType(const AM_MEDIA_TYPE& type) {
    return Mp3WaveFormat(type) != nullptr ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT Mp3StreamStage::CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) {
    if (Mp3WaveFormat(input) == nullptr || !IsEqualGUID(output.majortype, MEDIATYPE_Stream)) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT Mp3StreamStage::GetOutputType(const AM_MEDIA_TYPE&, int position, MediaType* type) {
    if (position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    AM_MEDIA_TYPE stream{};
    stream.majortype = MEDIATYPE_Stream;
    stream.subtype = MEDIASUBTYPE_NULL;
    stream.formattype = FORMAT_None;
    stream.lSampleSize = 1;
    stream.bFixedSizeSamples = TRUE;
    *type = MediaType(stream);
    return S_OK;
}

HRESULT Mp3StreamStage::DecideBufferSize(IMemAllocator* allocator,
                                         const ALLOCATOR_PROPERTIES& request) {
    // The file writer may ask for aligned buffers (sector-sized writes); the request carries
    // that through. The tag frame goes out in one sample, so a buffer must hold it.
    return SetOutputBuffers(allocator, request, 4, kBufferBytes, static_cast<long>(kMaxFrameBytes));
}

HRESULT Mp3StreamStage::StartStreaming() {
    const WAVEFORMATEX* wave = Mp3WaveFormat(Input().CurrentMediaType().Get());
    if (wave == nullptr) {
        return VFW_E_NOT_CONNECTED;
    }
    const std::optional<Mp3FrameHeader> header = StreamHeaderFor(*wave);
    if (!header) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    streamHeader_ = *header;
    infoBytes_ = WriteInfoFrame(streamHeader_, std::nullopt, infoFrame_);
    if (infoBytes_ == 0) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    infoWritten_ = false;
    counter_.Reset();
    return S_OK;
}

HRESULT Mp3StreamStage::DeliverBytes(std::span<const uint8_t> bytes, uint64_t offset) {
    while (!bytes.empty()) {
        ComPtr<IMediaSample> out;
        if (HRESULT hr = GetOutputBuffer(&out); FAILED(hr)) {
            return hr;
        }
        BYTE* data = nullptr;
        const long size = out->GetSize();
        if (FAILED(out->GetPointer(&data)) || data == nullptr || size <= 0) {
            return E_UNEXPECTED;
        }
        const size_t piece = std::min(bytes.size(), static_cast<size_t>(size));
        std::copy_n(bytes.begin(), piece, data);
        out->SetActualDataLength(static_cast<long>(piece));
        // For a byte stream, sample times are byte positions in the file.
        REFERENCE_TIME start = static_cast<REFERENCE_TIME>(offset);
        REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(offset + piece);
        out->SetTime(&start, &stop);
        out->SetSyncPoint(TRUE);
        if (HRESULT hr = DeliverOutput(out.Get()); hr != S_OK) {
            return hr;
        }
        bytes = bytes.subspan(piece);
        offset += piece;
    }
    return S_OK;
}

HRESULT Mp3StreamStage::WriteInfoFrameAt0(const std::optional<Mp3StreamCounts>& counts) {
    const size_t written = WriteInfoFrame(streamHeader_, counts, infoFrame_);
    if (written != infoBytes_) {
        return E_UNEXPECTED;
    }
    return DeliverBytes(std::span<const uint8_t>(infoFrame_.data(), infoBytes_), 0);
}

HRESULT Mp3StreamStage::ProcessSample(IMediaSample* sample) {
    std::span<const uint8_t> bytes;
    if (HRESULT hr = SampleBytes(sample, &bytes); FAILED(hr)) {
        return hr;
    }
    if (!infoWritten_) {
        if (HRESULT hr = WriteInfoFrameAt0(std::nullopt); hr != S_OK) {
            return hr;
        }
        infoWritten_ = true;
    }
    const uint64_t offset = infoBytes_ + counter_.Bytes();
    counter_.Feed(bytes);
    return DeliverBytes(bytes, offset);
}

HRESULT Mp3StreamStage::FinishStream() {
    // Counts go into the tag only when every frame was followed and they fit its fields;
    // otherwise the tag says nothing and players estimate from the bit rate.
    std::optional<Mp3StreamCounts> counts;
    const uint64_t totalBytes = infoBytes_ + counter_.Bytes();
    constexpr uint64_t kFieldMax = std::numeric_limits<uint32_t>::max();
    const bool whole = counter_.InSync() && counter_.Frames() <= kFieldMax &&
                       totalBytes <= kFieldMax &&
                       (!counter_.First() || counter_.First()->version == streamHeader_.version);
    if (whole) {
        counts = Mp3StreamCounts{static_cast<uint32_t>(counter_.Frames()),
                                 static_cast<uint32_t>(totalBytes)};
    }
    infoWritten_ = true;
    return WriteInfoFrameAt0(counts);
}

HRESULT CreateMp3StreamStage(IBaseFilter** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    auto* stage = new (std::nothrow) Mp3StreamStage(nullptr);
    if (stage == nullptr) {
        return E_OUTOFMEMORY;
    }
    // The object starts at 0 references: the query gives the caller the first.
    stage->NonDelegatingAddRef();
    const HRESULT hr =
        stage->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(out));
    stage->NonDelegatingRelease();
    return hr;
}
