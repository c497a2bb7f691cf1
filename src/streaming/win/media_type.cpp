#include "streaming/win/media_type.h"

#include <uuids.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace qm {

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) {
        Assign(other.type_);
    }
    return *this;
}

MediaType::MediaType(MediaType&& other) noexcept : type_(other.type_) {
    other.type_ = {};
}

MediaType& MediaType::operator=(MediaType&& other) noexcept {
    if (this != &other) {
        Clear();
        type_ = std::exchange(other.type_, AM_MEDIA_TYPE{});
    }
    return *this;
}

HRESULT MediaType::Assign(const AM_MEDIA_TYPE& source) {
    if (&source == &type_) {
        return S_OK;
    }
    Clear();
    AM_MEDIA_TYPE copy = source;
    copy.pbFormat = nullptr;
    copy.cbFormat = 0;
    if (source.cbFormat != 0 && source.pbFormat != nullptr) {
        copy.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (copy.pbFormat == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(copy.pbFormat, source.pbFormat, source.cbFormat);
        copy.cbFormat = source.cbFormat;
    }
    if (copy.pUnk != nullptr) {
        copy.pUnk->AddRef();
    }
    type_ = copy;
    return S_OK;
}

void MediaType::Clear() {
    FreeMediaTypeFields(type_);
    type_ = {};
}

HRESULT MediaType::CopyTo(AM_MEDIA_TYPE* target) const {
    if (target == nullptr) {
        return E_POINTER;
    }
    MediaType copy(*this);
    if (copy.IsEmpty() != IsEmpty()) {
        return E_OUTOFMEMORY;
    }
    *target = std::exchange(copy.type_, AM_MEDIA_TYPE{});
    return S_OK;
}

void FreeMediaTypeFields(AM_MEDIA_TYPE& type) {
    if (type.pbFormat != nullptr) {
        CoTaskMemFree(type.pbFormat);
        type.pbFormat = nullptr;
    }
    type.cbFormat = 0;
    if (type.pUnk != nullptr) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source) {
    auto* target = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (target == nullptr) {
        return nullptr;
    }
    if (FAILED(MediaType(source).CopyTo(target))) {
        CoTaskMemFree(target);
        return nullptr;
    }
    return target;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (type != nullptr) {
        FreeMediaTypeFields(*type);
        CoTaskMemFree(type);
    }
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (!IsEqualGUID(a.majortype, b.majortype) || !IsEqualGUID(a.subtype, b.subtype) ||
        !IsEqualGUID(a.formattype, b.formattype) || a.cbFormat != b.cbFormat) {
        return false;
    }
    return a.cbFormat == 0 || (a.pbFormat != nullptr && b.pbFormat != nullptr &&
                               std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

bool MatchesPartialType(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& full) {
    if (!IsEqualGUID(partial.majortype, GUID_NULL) &&
        !IsEqualGUID(partial.majortype, full.majortype)) {
        return false;
    }
    if (!IsEqualGUID(partial.subtype, GUID_NULL) && !IsEqualGUID(partial.subtype, full.subtype)) {
        return false;
    }
    if (IsEqualGUID(partial.formattype, GUID_NULL)) {
        return true;
    }
    return SameMediaType(partial, full);
}

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& type) {
    // The 16-byte PCMWAVEFORMAT is the shortest legal wave format; its cbSize is then absent.
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(WAVEFORMATEX)) {
        return nullptr;
    }
    return reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
}

std::optional<WaveFormat> PortableWaveFormat(const AM_MEDIA_TYPE& type) {
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx)) {
        return std::nullopt;
    }
    static_assert(sizeof(WAVEFORMATEX) == 18, "the packed wave-format record, cbSize included");
    WAVEFORMATEX wave{};
    if (type.pbFormat != nullptr) {
        std::memcpy(&wave, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof(wave)));
    }
    WaveFormat format;
    format.formatTag = wave.wFormatTag;
    format.channels = wave.nChannels;
    format.samplesPerSec = wave.nSamplesPerSec;
    format.avgBytesPerSec = wave.nAvgBytesPerSec;
    format.blockAlign = wave.nBlockAlign;
    format.bitsPerSample = wave.wBitsPerSample;
    format.extraSize = wave.cbSize;
    return format;
}

MediaType MakePcmMediaType(uint16_t channels, uint32_t samplesPerSecHz, uint16_t bitsPerSample) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSecHz;
    format.wBitsPerSample = bitsPerSample;
    format.nBlockAlign = static_cast<WORD>(channels * ((bitsPerSample + 7) / 8));
    format.nAvgBytesPerSec = samplesPerSecHz * format.nBlockAlign;
    format.cbSize = 0;

    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = format.nBlockAlign;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = sizeof(format);
    type.pbFormat = reinterpret_cast<BYTE*>(&format);
    return MediaType(type);
}

REFERENCE_TIME DurationOfBytes(const WAVEFORMATEX& format, uint64_t bytes) {
    if (format.nAvgBytesPerSec == 0) {
        return 0;
    }
    // 100 ns units; a recording of days stays far below 2^63 in the product.
    return static_cast<REFERENCE_TIME>(bytes * 10'000'000ull / format.nAvgBytesPerSec);
}

}  // namespace qm
