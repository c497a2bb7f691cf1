#include "streaming/win/base_filter.h"

#include <uuids.h>

#include <cwchar>
#include <vector>

#include "streaming/win/base_pins.h"
#include "streaming/win/enumerators.h"

namespace qm {

BaseFilter::BaseFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid)
    : NonDelegatingUnknown(outer), clsid_(clsid) {
    if (name != nullptr) {
        wcsncpy(name_, name, MAX_FILTER_NAME - 1);
    }
}

HRESULT BaseFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IBaseFilter) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IPersist)) {
        return ReturnInterface(static_cast<IBaseFilter*>(this), out);
    }
    if (IsEqualIID(iid, IID_IAMovieSetup)) {
        return ReturnInterface(static_cast<IAMovieSetup*>(this), out);
    }
    return NonDelegatingUnknown::NonDelegatingQueryInterface(iid, out);
}

HRESULT BaseFilter::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) {
        return E_POINTER;
    }
    *clsid = clsid_;
    return S_OK;
}

HRESULT BaseFilter::Stop() {
    ScopedLock lock(filterLock_);
    HRESULT first = S_OK;
    if (state_ != State_Stopped) {
        for (int i = 0; i < PinCount(); ++i) {
            const HRESULT hr = GetPin(i)->Inactive();
            if (FAILED(hr) && SUCCEEDED(first)) {
                first = hr;
            }
        }
    }
    state_ = State_Stopped;
    return first;
}

HRESULT BaseFilter::Pause() {
    ScopedLock lock(filterLock_);
    if (state_ == State_Stopped) {
        for (int i = 0; i < PinCount(); ++i) {
            if (HRESULT hr = GetPin(i)->Active(); FAILED(hr)) {
                return hr;
            }
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    ScopedLock lock(filterLock_);
    if (state_ == State_Stopped) {
        if (HRESULT hr = Pause(); FAILED(hr)) {
            return hr;
        }
    }
    startTime_ = start;
    state_ = State_Running;
    return S_OK;
}

HRESULT BaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr) {
        return E_POINTER;
    }
    *state = state_;
    return S_OK;
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock) {
    ScopedLock lock(filterLock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock) {
    ScopedLock lock(filterLock_);
    return clock_.CopyTo(clock);
}

ComPtr<IReferenceClock> BaseFilter::Clock() {
    ScopedLock lock(filterLock_);
    return clock_;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
    if (pins == nullptr) {
        return E_POINTER;
    }
    std::vector<ComPtr<IPin>> list;
    for (int i = 0; i < PinCount(); ++i) {
        list.emplace_back(static_cast<IPin*>(GetPin(i)));
    }
    *pins = PinEnumerator::Create(std::move(list));
    return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr) {
        return E_POINTER;
    }
    *pin = nullptr;
    for (int i = 0; i < PinCount(); ++i) {
        BasePin* candidate = GetPin(i);
        if (wcscmp(candidate->Name(), id) == 0) {
            *pin = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(filterLock_);
    wcscpy(info->achName, name_);
    info->pGraph = graph_;
    if (graph_ != nullptr) {
        graph_->AddRef();
    }
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    ScopedLock lock(filterLock_);
    graph_ = graph;
    name_[0] = L'\0';
    if (name != nullptr) {
        wcsncpy(name_, name, MAX_FILTER_NAME - 1);
        name_[MAX_FILTER_NAME - 1] = L'\0';
    }
    return S_OK;
}

HRESULT BaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

HRESULT BaseFilter::Register() {
    const REGFILTER2* setup = GetSetupData();
    if (setup == nullptr) {
        return S_FALSE;
    }
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return mapper->RegisterFilter(clsid_, name_, nullptr, &CLSID_LegacyAmFilterCategory, nullptr,
                                  setup);
}

HRESULT BaseFilter::Unregister() {
    if (GetSetupData() == nullptr) {
        return S_FALSE;
    }
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.PutVoid());
    if (FAILED(hr)) {
        return hr;
    }
    return mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, clsid_);
}

}  // namespace qm
