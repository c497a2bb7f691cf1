#pragma once

#include <windows.h>

#include <strmif.h>

#include <atomic>
#include <cstdint>

#include "streaming/win/base_pins.h"
#include "streaming/win/two_pin_filter.h"

namespace qm {

class TransformInPlaceFilter;

class InPlaceInputPin final : public TwoPinInputPin {
  public:
    explicit InPlaceInputPin(TransformInPlaceFilter* filter);

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;

  private:
    TransformInPlaceFilter* filter_;
};

class InPlaceOutputPin final : public TwoPinOutputPin {
  public:
    explicit InPlaceOutputPin(TransformInPlaceFilter* filter);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideAllocator(IMemInputPin* peer, ComPtr<IMemAllocator>* chosen) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator,
                             const ALLOCATOR_PROPERTIES& request) override;

  private:
    TransformInPlaceFilter* filter_;
};

// A filter with one input pin "Input" and one output pin "Output" that changes each sample in
// place and passes it on in the type it arrived in.
//
// Allocators: upstream is offered the downstream pin's allocator (writable, so the sample it
// fills is the one delivered); when the output connects, downstream is offered the
// allocator upstream chose. Where the two still differ, or upstream marked its samples
// read-only and the filter modifies data, each sample is copied into an output buffer first.
//
// Threads: samples and end-of-stream arrive on the upstream streaming thread; Transform and
// the delivery of its sample run under ReceiveLock(). State changes and connections come
// from the application thread under the filter lock.
class TransformInPlaceFilter : public TwoPinFilter {
  public:
    TransformInPlaceFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid,
                           bool modifiesData);
    ~TransformInPlaceFilter() override = default;

    HRESULT STDMETHODCALLTYPE Pause() override;

    // S_OK accepts an input type; anything else refuses it and is passed back unchanged.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& type) = 0;
    // S_OK when the output may carry `output` for input `input` (always the same type here).
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) = 0;
    // Types the input proposes while the output is free; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetMediaType(int position, MediaType* type);
    // Changes one sample in place, under the receive lock. S_OK delivers it, S_FALSE drops it,
    // a failure is returned to upstream.
    virtual HRESULT Transform(IMediaSample* sample) = 0;
    // Audio the filter still holds when the stream is ended early: writes up to `capacity`
    // bytes and returns how many. Called under the receive lock until it returns 0.
    virtual uint32_t DrainHeld(uint8_t* data, uint32_t capacity);

    // Ends the stream from the application's side while the graph runs: what the filter still
    // holds goes downstream (DrainHeld), then end-of-stream. Samples that arrive afterwards
    // are dropped until the filter is stopped. S_FALSE when the stream had already ended,
    // VFW_E_WRONG_STATE while stopped.
    HRESULT EndStream();

    InPlaceInputPin& Input() override { return input_; }
    InPlaceOutputPin& Output() override { return output_; }

  private:
    HRESULT ReceiveSample(IMediaSample* sample) override;
    HRESULT EndOfStreamFromUpstream() override;
    HRESULT DeliverHeldAudio();
    bool UsesOneAllocator() const;

    InPlaceInputPin input_;
    InPlaceOutputPin output_;
    const bool modifiesData_;
    // Set by EndStream before it takes the receive lock so that upstream stops queuing.
    std::atomic<bool> streamEnded_{false};
    // Guarded by the receive lock.
    REFERENCE_TIME nextSampleTime_ = 0;
};

}  // namespace qm
