#include "streaming/win/in_place_filter.h"

#include <algorithm>

#include "streaming/win/media_type.h"

namespace qm {

// Input pin.

InPlaceInputPin::InPlaceInputPin(TransformInPlaceFilter* filter)
    : TwoPinInputPin(filter), filter_(filter) {}

HRESULT InPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
    if (allocator == nullptr) {
        return E_POINTER;
    }
    // The allocator the output settled with downstream (always as writable): upstream then
    // fills the very buffers downstream receives, with no copy on the way.
    if (IMemAllocator* downstream = filter_->Output().Allocator()) {
        *allocator = downstream;
        downstream->AddRef();
        return S_OK;
    }
    return BaseInputPin::GetAllocator(allocator);
}

HRESULT InPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
    if (IMemInputPin* downstream = filter_->Output().PeerInput()) {
        return downstream->GetAllocatorRequirements(props);
    }
    return BaseInputPin::GetAllocatorRequirements(props);
}

HRESULT InPlaceInputPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
    if (HRESULT hr = filter_->CheckInputType(type); hr != S_OK) {
        return hr;
    }
    // The sample leaves in the type it came in, so downstream must take that type too.
    if (IPin* downstream = filter_->Output().Peer()) {
        return downstream->QueryAccept(&type) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT InPlaceInputPin::GetMediaType(int position, MediaType* type) {
    if (filter_->Output().IsConnected()) {
        if (position != 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        *type = filter_->Output().CurrentMediaType();
        return S_OK;
    }
    return filter_->GetMediaType(position, type);
}

// Output pin.

InPlaceOutputPin::InPlaceOutputPin(TransformInPlaceFilter* filter)
    : TwoPinOutputPin(filter), filter_(filter) {}

HRESULT InPlaceOutputPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
    const InPlaceInputPin& input = filter_->Input();
    if (!input.IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    if (!SameMediaType(type, input.CurrentMediaType().Get())) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return filter_->CheckTransform(input.CurrentMediaType().Get(), type);
}

HRESULT InPlaceOutputPin::GetMediaType(int position, MediaType* type) {
    const InPlaceInputPin& input = filter_->Input();
    if (!input.IsConnected() || position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    *type = input.CurrentMediaType();
    return S_OK;
}

HRESULT InPlaceOutputPin::DecideAllocator(IMemInputPin* peer, ComPtr<IMemAllocator>* chosen) {
    // Offer the allocator upstream already fills: samples then pass through without a copy.
    const InPlaceInputPin& input = filter_->Input();
    if (IMemAllocator* upstream = input.Allocator();
        upstream != nullptr && !input.AllocatorIsReadOnly()) {
        if (SUCCEEDED(peer->NotifyAllocator(upstream, FALSE))) {
            *chosen = ComPtr<IMemAllocator>(upstream);
            return S_OK;
        }
    }
    return BaseOutputPin::DecideAllocator(peer, chosen);
}

HRESULT InPlaceOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                           const ALLOCATOR_PROPERTIES& request) {
    // A copied sample must fit, so the buffers are at least as large as upstream's.
    ALLOCATOR_PROPERTIES wanted = request;
    if (IMemAllocator* upstream = filter_->Input().Allocator()) {
        ALLOCATOR_PROPERTIES upstreamProps{};
        if (SUCCEEDED(upstream->GetProperties(&upstreamProps))) {
            wanted.cbBuffer = std::max(wanted.cbBuffer, upstreamProps.cbBuffer);
            wanted.cBuffers = std::max(wanted.cBuffers, upstreamProps.cBuffers);
        }
    }
    constexpr long kFallbackBufferBytes = 65536;
    wanted.cBuffers = std::max(wanted.cBuffers, 2L);
    wanted.cbBuffer = wanted.cbBuffer > 0 ? wanted.cbBuffer : kFallbackBufferBytes;
    wanted.cbAlign = std::max(wanted.cbAlign, 1L);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer >= wanted.cbBuffer ? S_OK : E_FAIL;
}

// Filter.

TransformInPlaceFilter::TransformInPlaceFilter(const wchar_t* name, IUnknown* outer,
                                               const CLSID& clsid, bool modifiesData)
    : TwoPinFilter(name, outer, clsid), input_(this), output_(this), modifiesData_(modifiesData) {}

HRESULT TransformInPlaceFilter::Pause() {
    ScopedLock lock(FilterLock());
    const bool starting = IsStopped();
    if (starting) {
        ScopedLock receive(ReceiveLock());
        streamEnded_ = false;
        endOfStreamSent_ = false;
        nextSampleTime_ = 0;
    }
    if (HRESULT hr = BaseFilter::Pause(); FAILED(hr)) {
        return hr;
    }
    EndUnfedOutput(starting);
    return S_OK;
}

HRESULT TransformInPlaceFilter::GetMediaType(int, MediaType*) {
    return VFW_S_NO_MORE_ITEMS;
}

uint32_t TransformInPlaceFilter::DrainHeld(uint8_t*, uint32_t) {
    return 0;
}

bool TransformInPlaceFilter::UsesOneAllocator() const {
    return input_.Allocator() != nullptr && input_.Allocator() == output_.Allocator();
}

HRESULT TransformInPlaceFilter::ReceiveSample(IMediaSample* sample) {
    if (streamEnded_) {
        return S_FALSE;
    }
    ScopedLock lock(ReceiveLock());
    // EndStream may have run while this sample waited for the lock.
    if (streamEnded_) {
        return S_FALSE;
    }
    ComPtr<IMediaSample> target(sample);
    const bool mustCopy = output_.IsConnected() &&
                          (!UsesOneAllocator() || (modifiesData_ && input_.AllocatorIsReadOnly()));
    if (mustCopy) {
        ComPtr<IMediaSample> copy;
        if (HRESULT hr = output_.Allocator()->GetBuffer(copy.Put(), nullptr, nullptr, 0);
            FAILED(hr)) {
            return hr;
        }
        if (HRESULT hr = CopySample(sample, copy.Get()); FAILED(hr)) {
            return hr;
        }
        target = copy;
    }
    const HRESULT transformed = Transform(target.Get());
    if (transformed == S_FALSE) {
        return S_OK;
    }
    if (FAILED(transformed)) {
        return transformed;
    }
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (target->GetTime(&start, &stop) == S_OK) {
        nextSampleTime_ = stop;
    }
    if (!output_.IsConnected()) {
        return S_OK;
    }
    return output_.Deliver(target.Get());
}

HRESULT TransformInPlaceFilter::EndOfStreamFromUpstream() {
    ScopedLock lock(ReceiveLock());
    if (endOfStreamSent_) {
        return S_OK;
    }
    endOfStreamSent_ = true;
    return output_.DeliverEndOfStream();
}

HRESULT TransformInPlaceFilter::EndStream() {
    streamEnded_ = true;
    // Let a sample already past the flag finish first: it holds one of upstream's buffers,
    // and the tail may need a buffer from that same allocator.
    { ScopedLock barrier(ReceiveLock()); }
    ScopedLock lock(ReceiveLock());
    if (IsStopped()) {
        return VFW_E_WRONG_STATE;
    }
    if (endOfStreamSent_) {
        return S_FALSE;
    }
    endOfStreamSent_ = true;
    if (!output_.IsConnected()) {
        return S_OK;
    }
    if (HRESULT hr = DeliverHeldAudio(); FAILED(hr)) {
        output_.DeliverEndOfStream();
        return hr;
    }
    return output_.DeliverEndOfStream();
}

HRESULT TransformInPlaceFilter::DeliverHeldAudio() {
    IMemAllocator* allocator = output_.Allocator();
    if (allocator == nullptr) {
        return VFW_E_NO_ALLOCATOR;
    }
    const WAVEFORMATEX* format = WaveFormatOf(output_.CurrentMediaType().Get());
    // Whole frames only, so that every delivered buffer starts on a frame boundary.
    const uint32_t frameBytes =
        format != nullptr && format->nBlockAlign != 0 ? format->nBlockAlign : 1;
    for (;;) {
        ComPtr<IMediaSample> sample;
        if (HRESULT hr = allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0); FAILED(hr)) {
            return hr;
        }
        BYTE* data = nullptr;
        if (HRESULT hr = sample->GetPointer(&data); FAILED(hr)) {
            return hr;
        }
        const long size = sample->GetSize();
        const uint32_t capacity =
            size > 0 ? static_cast<uint32_t>(size) / frameBytes * frameBytes : 0;
        const uint32_t written = capacity != 0 ? DrainHeld(data, capacity) : 0;
        if (written == 0) {
            return S_OK;
        }
        sample->SetActualDataLength(static_cast<long>(std::min(written, capacity)));
        REFERENCE_TIME start = nextSampleTime_;
        REFERENCE_TIME stop = start + (format != nullptr ? DurationOfBytes(*format, written) : 0);
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        nextSampleTime_ = stop;
        if (HRESULT hr = output_.Deliver(sample.Get()); hr != S_OK) {
            return FAILED(hr) ? hr : S_OK;
        }
    }
}

}  // namespace qm
