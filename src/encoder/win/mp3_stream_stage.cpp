#include "encoder/win/mp3_stream_stage.h"

#include <mmreg.h>
#include <uuids.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "encoder/lame_settings.h"
#include "encoder/win/encoder_ids.h"

namespace qm {

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

// The encoder's delay, where the connection type records it.
uint32_t CodecDelayOf(const AM_MEDIA_TYPE& type, const WAVEFORMATEX& wave) {
    if (type.cbFormat < sizeof(MPEGLAYER3WAVEFORMAT) || wave.cbSize < MPEGLAYER3_WFX_EXTRA_BYTES) {
        return 0;
    }
    return reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(type.pbFormat)->nCodecDelay;
}

// The file the filter downstream writes (the File Writer's IFileSinkFilter); empty when it
// names none.
std::wstring DownstreamFile(IPin* peer) {
    PIN_INFO info{};
    if (peer == nullptr || FAILED(peer->QueryPinInfo(&info)) || info.pFilter == nullptr) {
        return {};
    }
    const ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
    ComPtr<IFileSinkFilter> sink;
    if (FAILED(filter->QueryInterface(IID_IFileSinkFilter, sink.PutVoid())) || !sink) {
        return {};
    }
    LPOLESTR name = nullptr;
    if (FAILED(sink->GetCurFile(&name, nullptr)) || name == nullptr) {
        return {};
    }
    std::wstring path(name);
    CoTaskMemFree(name);
    return path;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// The recording's title: its file name without folder or extension.
std::string TitleOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    if (const size_t dot = name.find_last_of(L'.'); dot != std::wstring::npos && dot > 0) {
        name.resize(dot);
    }
    return Utf8(name);
}

std::string LocalTimeText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Writes `bytes` at `offset` of the file at `path`, which must exist. False when it cannot be
// opened (another writer still holds it) or the write falls short.
bool PatchFile(const std::wstring& path, uint64_t offset, std::span<const uint8_t> bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    const bool ok =
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    return CloseHandle(file) && ok;
}

// A buffer holds at least the largest Layer III frame (MPEG-1 at 320 kbit/s and 32 kHz).
constexpr long kMaxFrameBytes = 1441;

}  // namespace

HRESULT Mp3StreamStage::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IMp3RecordingTags)) {
        return ReturnInterface(static_cast<IMp3RecordingTags*>(this), out);
    }
    return TransformFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT Mp3StreamStage::SetRecordingTags(const wchar_t* path, const char* recorded,
                                         const char* voice) {
    ScopedLock lock(FilterLock());
    try {
        path_ = path != nullptr ? path : L"";
        recorded_ = recorded != nullptr ? recorded : "";
        voice_ = voice != nullptr ? voice : "";
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

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
    return SetOutputBuffers(allocator, request, 4, kBufferBytes, kMaxFrameBytes);
}

HRESULT Mp3StreamStage::StartStreaming() {
    const AM_MEDIA_TYPE& type = Input().CurrentMediaType().Get();
    const WAVEFORMATEX* wave = Mp3WaveFormat(type);
    if (wave == nullptr) {
        return VFW_E_NOT_CONNECTED;
    }
    const std::optional<Mp3FrameHeader> header = StreamHeaderFor(*wave);
    if (!header) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    try {
        filePath_ = path_.empty() ? DownstreamFile(Output().Peer()) : path_;
        RecordingTags tags;
        tags.title = TitleOf(filePath_);
        tags.recorded = recorded_.empty() ? LocalTimeText() : recorded_;
        tags.voice = voice_;
        if (!head_.Begin(*header, tags, kMp3EncoderTag, CodecDelayOf(type, *wave))) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    headWritten_ = false;
    finished_ = false;
    return S_OK;
}

void Mp3StreamStage::StopStreaming() {
    // Stopped without end-of-stream: the File Writer stopped first and closed the file, so the
    // final tag frame goes straight into it. The encoder never flushed; the tag claims what the
    // frames written decode to.
    if (headWritten_ && !finished_ && !filePath_.empty()) {
        const std::span<const uint8_t> info = head_.Finish(false);
        PatchFile(filePath_, head_.InfoOffset(), info);
    }
    finished_ = true;
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

HRESULT Mp3StreamStage::ProcessSample(IMediaSample* sample) {
    std::span<const uint8_t> bytes;
    if (HRESULT hr = SampleBytes(sample, &bytes); FAILED(hr)) {
        return hr;
    }
    if (!headWritten_) {
        if (HRESULT hr = DeliverBytes(head_.Head(), 0); hr != S_OK) {
            return hr;
        }
        headWritten_ = true;
    }
    LONGLONG takenBefore = 0;
    LONGLONG takenAfter = 0;
    if (sample->GetMediaTime(&takenBefore, &takenAfter) == S_OK && takenAfter >= 0) {
        head_.SetSamplesTaken(static_cast<uint64_t>(takenAfter));
    }
    // Counted only once written: a file that refused them (a full disk) must not have its
    // Info frame claim them, and the next frames go where these would have.
    const HRESULT hr = DeliverBytes(bytes, head_.NextOffset());
    if (hr == S_OK) {
        head_.AddFrames(bytes);
    }
    return hr;
}

HRESULT Mp3StreamStage::FinishStream() {
    if (!headWritten_) {
        // A stream without a single frame still makes a file players open.
        if (HRESULT hr = DeliverBytes(head_.Head(), 0); hr != S_OK) {
            return hr;
        }
        headWritten_ = true;
    }
    finished_ = true;
    return DeliverBytes(head_.Finish(true), head_.InfoOffset());
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

}  // namespace qm
