#pragma once

#include <windows.h>

#include <strmif.h>
#include <vfwmsgs.h>

#include <atomic>

#include "streaming/win/com_ptr.h"
#include "streaming/win/critical_section.h"
#include "streaming/win/unknown.h"

namespace qm {

class BasePin;

// The object side of a DirectShow filter: identity (aggregatable), IBaseFilter, IMediaFilter,
// IPersist and IAMovieSetup, the filter state and the reference clock. Derived filters supply
// their pins; the pins are members of the filter and share its reference count.
//
// Threads: the graph calls every IBaseFilter operation on an application thread under
// FilterLock(); the streaming thread only reads State().
class BaseFilter : public NonDelegatingUnknown, public IBaseFilter, public IAMovieSetup {
  public:
    // `name` may be null; it is only the name shown until the graph gives one.
    BaseFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid);
    ~BaseFilter() override = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return Outer()->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Outer()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Outer()->Release(); }
    // IUnknown, IBaseFilter, IMediaFilter, IPersist, IAMovieSetup.
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    // Registers the filter with the filter mapper when it carries registration data; a
    // filter without any answers S_FALSE and registers nothing.
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;
    virtual const REGFILTER2* GetSetupData() { return nullptr; }

    virtual int PinCount() = 0;
    virtual BasePin* GetPin(int index) = 0;

    CriticalSection& FilterLock() { return filterLock_; }
    FILTER_STATE State() const { return state_.load(); }
    bool IsStopped() const { return State() == State_Stopped; }
    IFilterGraph* Graph() const { return graph_; }
    REFERENCE_TIME StartTime() const { return startTime_; }
    ComPtr<IReferenceClock> Clock();

  private:
    CriticalSection filterLock_;
    const CLSID clsid_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    REFERENCE_TIME startTime_ = 0;
    ComPtr<IReferenceClock> clock_;
    // Not a reference: the graph owns its filters, never the other way round.
    IFilterGraph* graph_ = nullptr;
    wchar_t name_[MAX_FILTER_NAME] = {};
};

}  // namespace qm
