#include "streaming/win/enumerators.h"

#include <new>
#include <utility>

#include "streaming/win/unknown.h"

namespace qm {

namespace {

// The shared rule of IEnumXxx::Next: a null `fetched` is allowed only when asking for one.
HRESULT CheckNextArguments(ULONG count, const void* items, const ULONG* fetched) {
    if (items == nullptr) {
        return E_POINTER;
    }
    if (fetched == nullptr && count != 1) {
        return E_INVALIDARG;
    }
    return S_OK;
}

template <typename Enumerator, typename Interface>
HRESULT QueryEnumerator(Enumerator* self, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
        return ReturnInterface(static_cast<Interface*>(self), out);
    }
    return E_NOINTERFACE;
}

}  // namespace

PinEnumerator* PinEnumerator::Create(std::vector<ComPtr<IPin>> pins, size_t position) {
    return new (std::nothrow) PinEnumerator(std::move(pins), position);
}

PinEnumerator::PinEnumerator(std::vector<ComPtr<IPin>> pins, size_t position)
    : pins_(std::move(pins)), position_(position) {}

HRESULT PinEnumerator::QueryInterface(REFIID iid, void** out) {
    return QueryEnumerator<PinEnumerator, IEnumPins>(this, iid, out);
}

ULONG PinEnumerator::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG PinEnumerator::Release() {
    const LONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (HRESULT hr = CheckNextArguments(count, pins, fetched); FAILED(hr)) {
        return hr;
    }
    ULONG given = 0;
    while (given < count && position_ < pins_.size()) {
        pins_[position_++].CopyTo(&pins[given++]);
    }
    if (fetched != nullptr) {
        *fetched = given;
    }
    return given == count ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Skip(ULONG count) {
    const size_t left = pins_.size() - position_;
    if (count > left) {
        position_ = pins_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT PinEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT PinEnumerator::Clone(IEnumPins** clone) {
    if (clone == nullptr) {
        return E_POINTER;
    }
    *clone = Create(pins_, position_);
    return *clone != nullptr ? S_OK : E_OUTOFMEMORY;
}

MediaTypeEnumerator* MediaTypeEnumerator::Create(std::vector<MediaType> types, size_t position) {
    return new (std::nothrow) MediaTypeEnumerator(std::move(types), position);
}

MediaTypeEnumerator::MediaTypeEnumerator(std::vector<MediaType> types, size_t position)
    : types_(std::move(types)), position_(position) {}

HRESULT MediaTypeEnumerator::QueryInterface(REFIID iid, void** out) {
    return QueryEnumerator<MediaTypeEnumerator, IEnumMediaTypes>(this, iid, out);
}

ULONG MediaTypeEnumerator::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG MediaTypeEnumerator::Release() {
    const LONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (HRESULT hr = CheckNextArguments(count, types, fetched); FAILED(hr)) {
        return hr;
    }
    ULONG given = 0;
    while (given < count && position_ < types_.size()) {
        AM_MEDIA_TYPE* copy = CreateMediaTypeCopy(types_[position_].Get());
        if (copy == nullptr) {
            break;
        }
        types[given++] = copy;
        ++position_;
    }
    if (fetched != nullptr) {
        *fetched = given;
    }
    return given == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
    const size_t left = types_.size() - position_;
    if (count > left) {
        position_ = types_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
    if (clone == nullptr) {
        return E_POINTER;
    }
    *clone = Create(types_, position_);
    return *clone != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qm
