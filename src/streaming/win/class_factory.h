#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <new>
#include <span>

namespace qm {

// What keeps one COM server (a DLL) loaded: references on its class factories, LockServer
// locks, and its live objects. DllCanUnloadNow answers from these.
class ServerCounts {
  public:
    ULONG AddFactoryRef() { return static_cast<ULONG>(++factoryRefs_); }
    ULONG ReleaseFactoryRef() { return static_cast<ULONG>(--factoryRefs_); }

    void Lock() { ++locks_; }
    // An unlock without a lock is ignored: a client's extra LockServer(FALSE) must not
    // cancel a lock that another client still holds.
    void Unlock() {
        LONG locks = locks_.load();
        while (locks > 0 && !locks_.compare_exchange_weak(locks, locks - 1)) {
        }
    }

    void ObjectCreated() { ++liveObjects_; }
    void ObjectDestroyed() { --liveObjects_; }

    bool CanUnload() const { return factoryRefs_ == 0 && locks_ == 0 && liveObjects_ == 0; }

  private:
    std::atomic<LONG> factoryRefs_{0};
    std::atomic<LONG> locks_{0};
    std::atomic<LONG> liveObjects_{0};
};

// The counts of the module this header is compiled into (each DLL has its own).
inline ServerCounts& ThisServer() {
    static ServerCounts counts;
    return counts;
}

// Keeps the server mapped while an object it made lives.
template <typename Object>
class ServerCounted final : public Object {
  public:
    explicit ServerCounted(IUnknown* outer) : Object(outer) { ThisServer().ObjectCreated(); }
    ~ServerCounted() override { ThisServer().ObjectDestroyed(); }
};

// The class factory of an aggregatable object built from `Object(IUnknown* outer)`, with the
// NonDelegating* identity of our COM helpers. Factories are static objects: their reference
// counts only keep the server loaded.
template <typename Object>
class ClassFactory final : public IClassFactory {
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
    ULONG STDMETHODCALLTYPE AddRef() override { return ThisServer().AddFactoryRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ThisServer().ReleaseFactoryRef(); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        // An aggregating object must hold the inner identity.
        if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* object = new (std::nothrow) ServerCounted<Object>(outer);
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        // The object starts at 0: a failed query must still free it.
        object->NonDelegatingAddRef();
        const HRESULT hr = object->NonDelegatingQueryInterface(iid, out);
        object->NonDelegatingRelease();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ThisServer().Lock();
        } else {
            ThisServer().Unlock();
        }
        return S_OK;
    }
};

struct ClassFactoryEntry {
    const CLSID* clsid;
    IClassFactory* factory;
};

// The body of DllGetClassObject for a server whose classes are listed in `factories`.
inline HRESULT GetClassObject(std::span<const ClassFactoryEntry> factories, REFCLSID clsid,
                              REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    for (const ClassFactoryEntry& entry : factories) {
        if (IsEqualCLSID(clsid, *entry.clsid)) {
            return entry.factory->QueryInterface(iid, out);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The body of DllCanUnloadNow.
inline HRESULT CanUnloadServer() {
    return ThisServer().CanUnload() ? S_OK : S_FALSE;
}

}  // namespace qm
