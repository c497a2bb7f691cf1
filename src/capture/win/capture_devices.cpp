#include "capture/win/capture_devices.h"

#include <oleauto.h>
#include <uuids.h>

namespace qm {

namespace {

// Owns a VARIANT read from a property bag.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* Put() {
        VariantClear(&value_);
        return &value_;
    }
    const VARIANT& Get() const { return value_; }

  private:
    VARIANT value_;
};

// Calls `visit(moniker, name)` for each named audio input device in order until it returns
// true. Devices whose storage cannot be bound or whose name is not a string are skipped.
template <typename Visit>
void ForEachNamedDevice(Visit visit) {
    ComPtr<ICreateDevEnum> devices;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         devices.PutVoid()) != S_OK) {
        return;
    }
    ComPtr<IEnumMoniker> monikers;
    // S_FALSE: the category exists but holds no device.
    if (devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0) != S_OK ||
        !monikers) {
        return;
    }
    devices.Reset();
    monikers->Reset();
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK && moniker) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) ||
            !bag) {
            continue;
        }
        Variant name;
        VARIANT* slot = name.Put();
        slot->vt = VT_BSTR;
        if (bag->Read(L"FriendlyName", slot, nullptr) != S_OK || name.Get().vt != VT_BSTR ||
            name.Get().bstrVal == nullptr) {
            continue;
        }
        if (visit(moniker.Get(), name.Get().bstrVal)) {
            return;
        }
    }
}

}  // namespace

ComPtr<IBaseFilter> FindCaptureDevice(int deviceIndex) {
    ComPtr<IMoniker> found;
    if (deviceIndex < 0) {
        return {};
    }
    int counter = 0;
    ForEachNamedDevice([&](IMoniker* moniker, const wchar_t*) {
        if (counter == deviceIndex) {
            found = ComPtr<IMoniker>(moniker);
            return true;
        }
        ++counter;
        return false;
    });
    ComPtr<IBaseFilter> filter;
    if (found) {
        found->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid());
    }
    return filter;
}

std::vector<std::wstring> CaptureDeviceNames() {
    std::vector<std::wstring> names;
    ForEachNamedDevice([&](IMoniker*, const wchar_t* name) {
        names.emplace_back(name);
        return false;
    });
    return names;
}

}  // namespace qm
