#include "streaming/win/transform_filter.h"

#include <algorithm>

namespace qm {

// Input pin.

TransformInputPin::TransformInputPin(TransformFilter* filter)
    : TwoPinInputPin(filter), filter_(filter) {}

HRESULT TransformInputPin::EndFlush() {
    {
        ScopedLock lock(filter_->ReceiveLock());
        filter_->DiscardHeld();
    }
    return TwoPinInputPin::EndFlush();
}

HRESULT TransformInputPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
    if (HRESULT hr = filter_->CheckInputType(type); hr != S_OK) {
        return hr;
    }
    // A new input must still suit the output type downstream already took.
    const TransformOutputPin& output = filter_->Output();
    if (output.IsConnected()) {
        return filter_->CheckTransform(type, output.CurrentMediaType().Get());
    }
    return S_OK;
}

// Output pin.

TransformOutputPin::TransformOutputPin(TransformFilter* filter)
    : TwoPinOutputPin(filter), filter_(filter) {}

HRESULT TransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
    const TransformInputPin& input = filter_->Input();
    if (!input.IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    return filter_->CheckTransform(input.CurrentMediaType().Get(), type);
}

HRESULT TransformOutputPin::GetMediaType(int position, MediaType* type) {
    const TransformInputPin& input = filter_->Input();
    if (!input.IsConnected() || position < 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return filter_->GetOutputType(input.CurrentMediaType().Get(), position, type);
}

HRESULT TransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                             const ALLOCATOR_PROPERTIES& request) {
    return filter_->DecideBufferSize(allocator, request);
}

// Filter.

TransformFilter::TransformFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid)
    : TwoPinFilter(name, outer, clsid), input_(this), output_(this) {}

// Inactive pins decommit their allocators first, which wakes a delivery waiting for a buffer;
// Stop then waits for the sample still inside ProcessSample before this runs.
void TransformFilter::StoppedStreaming() {
    if (streaming_) {
        streaming_ = false;
        StopStreaming();
    }
}

HRESULT TransformFilter::Pause() {
    ScopedLock lock(FilterLock());
    const bool starting = IsStopped();
    if (starting) {
        ScopedLock receive(ReceiveLock());
        endOfStreamSent_ = false;
        // Without an input there is nothing to set up and nothing will ever arrive.
        if (!streaming_ && input_.IsConnected()) {
            if (HRESULT hr = StartStreaming(); FAILED(hr)) {
                return hr;
            }
            streaming_ = true;
        }
    }
    if (HRESULT hr = BaseFilter::Pause(); FAILED(hr)) {
        ScopedLock receive(ReceiveLock());
        if (IsStopped()) {
            StoppedStreaming();
        }
        return hr;
    }
    EndUnfedOutput(starting);
    return S_OK;
}

HRESULT TransformFilter::GetOutputBuffer(ComPtr<IMediaSample>* sample) {
    IMemAllocator* allocator = output_.Allocator();
    if (allocator == nullptr) {
        return VFW_E_NO_ALLOCATOR;
    }
    return allocator->GetBuffer(sample->Put(), nullptr, nullptr, 0);
}

HRESULT TransformFilter::DeliverOutput(IMediaSample* sample) {
    return output_.Deliver(sample);
}

HRESULT TransformFilter::SetOutputBuffers(IMemAllocator* allocator,
                                          const ALLOCATOR_PROPERTIES& request, long buffers,
                                          long bufferBytes, long neededBytes) {
    ALLOCATOR_PROPERTIES wanted = request;
    wanted.cBuffers = std::max(wanted.cBuffers, buffers);
    wanted.cbBuffer = std::max(wanted.cbBuffer, bufferBytes);
    wanted.cbAlign = std::max(wanted.cbAlign, 1L);
    ALLOCATOR_PROPERTIES actual{};
    if (HRESULT hr = allocator->SetProperties(&wanted, &actual); FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer >= neededBytes ? S_OK : VFW_E_SIZENOTSET;
}

HRESULT TransformFilter::SampleBytes(IMediaSample* sample, std::span<const uint8_t>* bytes) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return E_POINTER;
    }
    const long length = sample->GetActualDataLength();
    if (length < 0 || length > sample->GetSize()) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    *bytes = std::span<const uint8_t>(data, static_cast<size_t>(length));
    return S_OK;
}

HRESULT TransformFilter::ReceiveSample(IMediaSample* sample) {
    ScopedLock lock(ReceiveLock());
    if (!streaming_ || endOfStreamSent_) {
        return S_FALSE;
    }
    if (!output_.IsConnected()) {
        return S_OK;
    }
    // The output type was settled for the connection's input type; a sample announcing
    // another one cannot be followed.
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
        const bool same = SameMediaType(*changed, input_.CurrentMediaType().Get());
        DeleteMediaType(changed);
        if (!same) {
            return VFW_E_INVALIDMEDIATYPE;
        }
    }
    return ProcessSample(sample);
}

HRESULT TransformFilter::EndOfStreamFromUpstream() {
    ScopedLock lock(ReceiveLock());
    if (endOfStreamSent_) {
        return S_OK;
    }
    endOfStreamSent_ = true;
    if (!output_.IsConnected()) {
        return S_OK;
    }
    const HRESULT finished = streaming_ ? FinishStream() : S_OK;
    // Downstream learns of the end even when the held audio could not be delivered.
    const HRESULT ended = output_.DeliverEndOfStream();
    return FAILED(finished) ? finished : ended;
}

}  // namespace qm
