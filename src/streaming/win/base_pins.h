#pragma once

#include <windows.h>

#include <strmif.h>

#include <atomic>

#include "streaming/win/base_filter.h"
#include "streaming/win/com_ptr.h"
#include "streaming/win/media_type.h"

namespace qm {

// What every pin shares: its name and direction, the connection and its media type. A pin
// is a member of its filter; AddRef and Release count on the filter's identity.
// Connection changes run under the filter lock with the filter stopped.
class BasePin : public IPin {
  public:
    BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction);
    virtual ~BasePin() = default;
    BasePin(const BasePin&) = delete;
    BasePin& operator=(const BasePin&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter_->Release(); }

    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;

    // S_OK when the pin can connect with `type`; any other result refuses it (a failure
    // code is passed back to the peer unchanged).
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) = 0;
    // The pin's own preferred types in order; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int position, MediaType* type);
    // Called once the peer has accepted the connection; a failure undoes it.
    virtual HRESULT CompleteConnect(IPin* peer);
    virtual void BreakConnect() {}
    // Stopped -> paused, and back. Called under the filter lock.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }

    const wchar_t* Name() const { return name_; }
    bool IsConnected() const { return static_cast<bool>(peer_); }
    IPin* Peer() const { return peer_.Get(); }
    const MediaType& CurrentMediaType() const { return mediaType_; }
    BaseFilter* Filter() const { return filter_; }

  protected:
    void ClearConnection();
    void SetConnection(IPin* peer, const AM_MEDIA_TYPE& type);

  private:
    BaseFilter* filter_;
    const wchar_t* name_;
    const PIN_DIRECTION direction_;
    ComPtr<IPin> peer_;
    MediaType mediaType_;
};

// An input pin with IMemInputPin: accepts connections, keeps the allocator the upstream pin
// chose, refuses samples while stopped or flushing.
class BaseInputPin : public BasePin, public IMemInputPin {
  public:
    BaseInputPin(BaseFilter* filter, const wchar_t* name);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return BasePin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BasePin::Release(); }

    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector,
                                                const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // Our own allocator, made on request, when nothing better is known.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count,
                                              LONG* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT Inactive() override;
    void BreakConnect() override;

    // S_OK when a sample may be taken now; otherwise the result Receive must give.
    HRESULT CheckStreaming() const;
    bool IsFlushing() const { return flushing_.load(); }
    IMemAllocator* Allocator() const { return allocator_.Get(); }
    bool AllocatorIsReadOnly() const { return readOnly_; }

  private:
    ComPtr<IMemAllocator> allocator_;
    bool readOnly_ = false;
    std::atomic<bool> flushing_{false};
};

// An output pin that connects with one of its own types (or one the peer offers), settles
// the allocator and delivers samples and stream events downstream.
class BaseOutputPin : public BasePin {
  public:
    BaseOutputPin(BaseFilter* filter, const wchar_t* name);

    HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector,
                                                const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // Chooses the allocator with the peer: the peer's own when it has one, ours otherwise,
    // sized by DecideBufferSize and notified to the peer as writable.
    virtual HRESULT DecideAllocator(IMemInputPin* peer, ComPtr<IMemAllocator>* chosen);
    // Sets the properties of `allocator`; `request` holds what the peer asked for.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator,
                                     const ALLOCATOR_PROPERTIES& request) = 0;

    HRESULT Active() override;
    HRESULT Inactive() override;
    void BreakConnect() override;

    // Streaming thread: hand on a sample or a stream event.
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* Allocator() const { return allocator_.Get(); }
    IMemInputPin* PeerInput() const { return peerInput_.Get(); }

  private:
    HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);

    ComPtr<IMemAllocator> allocator_;
    ComPtr<IMemInputPin> peerInput_;
};

// Copies data, length, times and flags of one sample into another; the target must be at
// least as large as the source's data.
HRESULT CopySample(IMediaSample* source, IMediaSample* target);

}  // namespace qm
