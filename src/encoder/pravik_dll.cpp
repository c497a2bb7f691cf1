// COM server of the encoder library: one class factory per class, no self-registration (the
// recorder loads the library from its own folder and asks it directly).
#include <windows.h>

#include <strmif.h>

#include <atomic>
#include <new>

#include "encoder/encoder_ids.h"
#include "encoder/mp3_encoder_filter.h"
#include "encoder/mp3_stream_stage.h"

namespace {

std::atomic<LONG> g_serverLocks{0};
std::atomic<LONG> g_liveObjects{0};

// Keeps the library mapped while one of its filters lives.
template <typename Filter>
class Counted final : public Filter {
  public:
    explicit Counted(IUnknown* outer) : Filter(outer) { ++g_liveObjects; }
    ~Counted() override { --g_liveObjects; }
};

template <typename Filter>
class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factories are static: their counts only keep the server loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_serverLocks); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_serverLocks); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        // An aggregating object must hold the inner identity.
        if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* filter = new (std::nothrow) Counted<Filter>(outer);
        if (filter == nullptr) {
            return E_OUTOFMEMORY;
        }
        // The object starts at 0: a failed query must still free it.
        filter->NonDelegatingAddRef();
        const HRESULT hr = filter->NonDelegatingQueryInterface(iid, out);
        filter->NonDelegatingRelease();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++g_serverLocks : --g_serverLocks;
        return S_OK;
    }
};

Factory<Mp3EncoderFilter> g_encoderFactory;
Factory<Mp3StreamStage> g_streamStageFactory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualCLSID(clsid, kMp3EncoderClsid)) {
        return g_encoderFactory.QueryInterface(iid, out);
    }
    if (IsEqualCLSID(clsid, kMp3StreamStageClsid)) {
        return g_streamStageFactory.QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_serverLocks == 0 && g_liveObjects == 0 ? S_OK : S_FALSE;
}
