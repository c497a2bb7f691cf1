#include "filter/win/voice_effect_filter.h"

#include <uuids.h>

#include <new>
#include <optional>
#include <span>

#include "streaming/win/media_type.h"

namespace qm {

VoiceEffectFilter* VoiceEffectFilter::CreateInstance(IUnknown* outer, HRESULT* result) {
    if (result == nullptr) {
        return nullptr;
    }
    auto* filter = new (std::nothrow) VoiceEffectFilter(outer);
    if (filter == nullptr || !filter->stage_.Allocated()) {
        delete filter;
        *result = E_OUTOFMEMORY;
        return nullptr;
    }
    *result = S_OK;
    return filter;
}

VoiceEffectFilter::VoiceEffectFilter(IUnknown* outer)
    : TransformInPlaceFilter(nullptr, outer, CLSID_VoiceEffectFilter, true) {}

HRESULT VoiceEffectFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(queryLock_);
    if (IsEqualIID(iid, IID_IVoiceEffectControl)) {
        return ReturnInterface(static_cast<IVoiceEffectControl*>(this), out);
    }
    return TransformInPlaceFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT VoiceEffectFilter::Unused3(uint32_t) {
    return S_FALSE;
}

HRESULT VoiceEffectFilter::SelectEffect(int32_t index, uint32_t) {
    stage_.SelectEffect(index);
    return S_OK;
}

HRESULT VoiceEffectFilter::Unused5(uint32_t) {
    return S_OK;
}

HRESULT VoiceEffectFilter::Unused6(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                   uint32_t, uint32_t) {
    return S_OK;
}

HRESULT VoiceEffectFilter::CheckInputType(const AM_MEDIA_TYPE& type) {
    return IsEqualGUID(type.majortype, MEDIATYPE_Audio) ? S_OK : E_INVALIDARG;
}

HRESULT VoiceEffectFilter::CheckTransform(const AM_MEDIA_TYPE&, const AM_MEDIA_TYPE&) {
    return S_OK;
}

HRESULT VoiceEffectFilter::GetMediaType(int, MediaType*) {
    return E_UNEXPECTED;
}

HRESULT VoiceEffectFilter::CompleteConnect(PIN_DIRECTION direction, IPin* peer) {
    ScopedLock lock(connectionLock_);
    AM_MEDIA_TYPE type{};
    if (peer == nullptr || FAILED(peer->ConnectionMediaType(&type))) {
        // A peer that cannot report the type yet: ours is the same, both pins carry one type.
        const BasePin* own = direction == PINDIR_INPUT ? static_cast<BasePin*>(&Input())
                                                       : static_cast<BasePin*>(&Output());
        if (FAILED(own->CurrentMediaType().CopyTo(&type))) {
            return S_OK;
        }
    }
    if (const std::optional<WaveFormat> wave = PortableWaveFormat(type)) {
        stage_.SetFormat(*wave);
    }
    FreeMediaTypeFields(type);
    return S_OK;
}

HRESULT VoiceEffectFilter::Transform(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const long length = sample->GetActualDataLength();
    // A length beyond the buffer is the sender's fault; the sample passes as it came.
    if (length <= 0 || length > sample->GetSize()) {
        return S_OK;
    }
    stage_.Transform(std::span<uint8_t>(data, static_cast<size_t>(length)));
    return S_OK;
}

uint32_t VoiceEffectFilter::DrainHeld(uint8_t* data, uint32_t capacity) {
    return static_cast<uint32_t>(stage_.Drain(std::span<uint8_t>(data, capacity)));
}

}  // namespace qm
