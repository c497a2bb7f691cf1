#include "streaming/win/base_pins.h"

#include <uuids.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "streaming/win/enumerators.h"

namespace qm {

BasePin::BasePin(BaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction)
    : filter_(filter), name_(name), direction_(direction) {}

HRESULT BasePin::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        return ReturnInterface(static_cast<IPin*>(this), out);
    }
    return E_NOINTERFACE;
}

HRESULT BasePin::Disconnect() {
    ScopedLock lock(filter_->FilterLock());
    if (!filter_->IsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    if (!peer_) {
        return S_FALSE;
    }
    BreakConnect();
    ClearConnection();
    return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
    if (pin == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(filter_->FilterLock());
    *pin = nullptr;
    if (!peer_) {
        return VFW_E_NOT_CONNECTED;
    }
    return peer_.CopyTo(pin);
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(filter_->FilterLock());
    if (!peer_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return mediaType_.CopyTo(type);
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = direction_;
    wcsncpy(info->achName, name_, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (direction == nullptr) {
        return E_POINTER;
    }
    *direction = direction_;
    return S_OK;
}

HRESULT BasePin::QueryId(LPWSTR* id) {
    if (id == nullptr) {
        return E_POINTER;
    }
    const size_t bytes = (wcslen(name_) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(*id, name_, bytes);
    return S_OK;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) {
        return E_POINTER;
    }
    return CheckMediaType(*type) == S_OK ? S_OK : S_FALSE;
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (types == nullptr) {
        return E_POINTER;
    }
    std::vector<MediaType> list;
    {
        ScopedLock lock(filter_->FilterLock());
        for (int position = 0;; ++position) {
            MediaType type;
            if (GetMediaType(position, &type) != S_OK) {
                break;
            }
            list.push_back(std::move(type));
        }
    }
    *types = MediaTypeEnumerator::Create(std::move(list));
    return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT BasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT BasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    return S_OK;
}

HRESULT BasePin::GetMediaType(int, MediaType*) {
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT BasePin::CompleteConnect(IPin*) {
    return S_OK;
}

void BasePin::ClearConnection() {
    peer_ = nullptr;
    mediaType_.Clear();
}

void BasePin::SetConnection(IPin* peer, const AM_MEDIA_TYPE& type) {
    peer_ = ComPtr<IPin>(peer);
    mediaType_.Assign(type);
}

// Input pin.

BaseInputPin::BaseInputPin(BaseFilter* filter, const wchar_t* name)
    : BasePin(filter, name, PINDIR_INPUT) {}

HRESULT BaseInputPin::QueryInterface(REFIID iid, void** out) {
    if (out != nullptr && IsEqualIID(iid, IID_IMemInputPin)) {
        return ReturnInterface(static_cast<IMemInputPin*>(this), out);
    }
    return BasePin::QueryInterface(iid, out);
}

HRESULT BaseInputPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
    // Connections start at output pins.
    return E_UNEXPECTED;
}

HRESULT BaseInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (connector == nullptr || type == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(Filter()->FilterLock());
    if (IsConnected()) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!Filter()->IsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    PIN_DIRECTION direction = PINDIR_INPUT;
    if (FAILED(connector->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
        return VFW_E_INVALID_DIRECTION;
    }
    if (HRESULT hr = CheckMediaType(*type); hr != S_OK) {
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    SetConnection(connector, *type);
    if (HRESULT hr = CompleteConnect(connector); FAILED(hr)) {
        BreakConnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

HRESULT BaseInputPin::EndOfStream() {
    return S_OK;
}

HRESULT BaseInputPin::BeginFlush() {
    flushing_ = true;
    return S_OK;
}

HRESULT BaseInputPin::EndFlush() {
    flushing_ = false;
    return S_OK;
}

HRESULT BaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    *allocator = nullptr;
    {
        ScopedLock lock(Filter()->FilterLock());
        if (allocator_) {
            return allocator_.CopyTo(allocator);
        }
    }
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(allocator));
}

HRESULT BaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(Filter()->FilterLock());
    allocator_ = ComPtr<IMemAllocator>(allocator);
    readOnly_ = readOnly != FALSE;
    return S_OK;
}

HRESULT BaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT BaseInputPin::Receive(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    return CheckStreaming();
}

HRESULT BaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (samples == nullptr || processed == nullptr) {
        return E_POINTER;
    }
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) {
            break;
        }
        ++*processed;
    }
    return hr;
}

HRESULT BaseInputPin::ReceiveCanBlock() {
    return S_FALSE;
}

HRESULT BaseInputPin::CheckStreaming() const {
    if (!IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    if (Filter()->IsStopped()) {
        return VFW_E_WRONG_STATE;
    }
    if (flushing_) {
        return S_FALSE;
    }
    return S_OK;
}

HRESULT BaseInputPin::Inactive() {
    flushing_ = false;
    // The allocator goes idle with the stream, which also wakes a sender waiting for a buffer.
    return allocator_ ? allocator_->Decommit() : S_OK;
}

void BaseInputPin::BreakConnect() {
    allocator_ = nullptr;
    readOnly_ = false;
}

// Output pin.

BaseOutputPin::BaseOutputPin(BaseFilter* filter, const wchar_t* name)
    : BasePin(filter, name, PINDIR_OUTPUT) {}

HRESULT BaseOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (receivePin == nullptr) {
        return E_POINTER;
    }
    ScopedLock lock(Filter()->FilterLock());
    if (IsConnected()) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!Filter()->IsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    const bool fullySpecified = type != nullptr && !IsEqualGUID(type->majortype, GUID_NULL) &&
                                !IsEqualGUID(type->subtype, GUID_NULL) &&
                                !IsEqualGUID(type->formattype, GUID_NULL);
    if (fullySpecified) {
        return TryConnect(receivePin, *type);
    }
    // Our own types first, then those the peer proposes; the first refusal is what the
    // caller learns when nothing connects.
    HRESULT first = VFW_E_NO_ACCEPTABLE_TYPES;
    bool tried = false;
    auto attempt = [&](const AM_MEDIA_TYPE& candidate) {
        if (type != nullptr && !MatchesPartialType(*type, candidate)) {
            return false;
        }
        const HRESULT hr = TryConnect(receivePin, candidate);
        if (SUCCEEDED(hr)) {
            return true;
        }
        if (!tried) {
            first = hr;
            tried = true;
        }
        return false;
    };
    for (int position = 0;; ++position) {
        MediaType candidate;
        if (GetMediaType(position, &candidate) != S_OK) {
            break;
        }
        if (attempt(candidate.Get())) {
            return S_OK;
        }
    }
    ComPtr<IEnumMediaTypes> offered;
    if (SUCCEEDED(receivePin->EnumMediaTypes(offered.Put())) && offered) {
        AM_MEDIA_TYPE* candidate = nullptr;
        while (offered->Next(1, &candidate, nullptr) == S_OK) {
            const bool connected = attempt(*candidate);
            DeleteMediaType(candidate);
            if (connected) {
                return S_OK;
            }
        }
    }
    return first;
}

HRESULT BaseOutputPin::TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type) {
    if (HRESULT hr = CheckMediaType(type); hr != S_OK) {
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // The peer may ask for our connection type while it accepts, so it is set first.
    SetConnection(receivePin, type);
    HRESULT hr = receivePin->ReceiveConnection(this, &type);
    if (FAILED(hr)) {
        ClearConnection();
        return hr;
    }
    ComPtr<IMemInputPin> peerInput;
    hr = receivePin->QueryInterface(IID_IMemInputPin, peerInput.PutVoid());
    if (SUCCEEDED(hr)) {
        hr = DecideAllocator(peerInput.Get(), &allocator_);
    }
    if (SUCCEEDED(hr)) {
        peerInput_ = peerInput;
        hr = CompleteConnect(receivePin);
    }
    if (FAILED(hr)) {
        BreakConnect();
        receivePin->Disconnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

HRESULT BaseOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;
}
HRESULT BaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}
HRESULT BaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}
HRESULT BaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}

HRESULT BaseOutputPin::DecideAllocator(IMemInputPin* peer, ComPtr<IMemAllocator>* chosen) {
    ALLOCATOR_PROPERTIES request{};
    peer->GetAllocatorRequirements(&request);
    ComPtr<IMemAllocator> allocator;
    if (FAILED(peer->GetAllocator(allocator.Put())) || !allocator) {
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IMemAllocator, allocator.PutVoid());
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (HRESULT hr = DecideBufferSize(allocator.Get(), request); FAILED(hr)) {
        return hr;
    }
    if (HRESULT hr = peer->NotifyAllocator(allocator.Get(), FALSE); FAILED(hr)) {
        return hr;
    }
    *chosen = allocator;
    return S_OK;
}

HRESULT BaseOutputPin::Active() {
    return allocator_ ? allocator_->Commit() : S_OK;
}

HRESULT BaseOutputPin::Inactive() {
    return allocator_ ? allocator_->Decommit() : S_OK;
}

void BaseOutputPin::BreakConnect() {
    if (allocator_) {
        allocator_->Decommit();
    }
    allocator_ = nullptr;
    peerInput_ = nullptr;
}

HRESULT BaseOutputPin::Deliver(IMediaSample* sample) {
    return peerInput_ ? peerInput_->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::DeliverEndOfStream() {
    return IsConnected() ? Peer()->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::DeliverBeginFlush() {
    return IsConnected() ? Peer()->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::DeliverEndFlush() {
    return IsConnected() ? Peer()->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT BaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return IsConnected() ? Peer()->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

HRESULT CopySample(IMediaSample* source, IMediaSample* target) {
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    if (FAILED(source->GetPointer(&from)) || FAILED(target->GetPointer(&to))) {
        return E_UNEXPECTED;
    }
    const long length = source->GetActualDataLength();
    if (length < 0 || length > target->GetSize()) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    std::memcpy(to, from, static_cast<size_t>(length));
    target->SetActualDataLength(length);

    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const HRESULT timed = source->GetTime(&start, &stop);
    if (timed == S_OK) {
        target->SetTime(&start, &stop);
    } else if (timed == VFW_S_NO_STOP_TIME) {
        target->SetTime(&start, nullptr);
    } else {
        target->SetTime(nullptr, nullptr);
    }
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    if (source->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        target->SetMediaTime(&mediaStart, &mediaStop);
    } else {
        target->SetMediaTime(nullptr, nullptr);
    }
    target->SetSyncPoint(source->IsSyncPoint() == S_OK);
    target->SetDiscontinuity(source->IsDiscontinuity() == S_OK);
    target->SetPreroll(source->IsPreroll() == S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    if (source->GetMediaType(&type) == S_OK && type != nullptr) {
        target->SetMediaType(type);
        DeleteMediaType(type);
    }
    return S_OK;
}

}  // namespace qm
