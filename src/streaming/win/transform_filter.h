#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>
#include <span>

#include "streaming/win/base_pins.h"
#include "streaming/win/com_ptr.h"
#include "streaming/win/media_type.h"
#include "streaming/win/two_pin_filter.h"

namespace qm {

class TransformFilter;

class TransformInputPin final : public TwoPinInputPin {
  public:
    explicit TransformInputPin(TransformFilter* filter);

    HRESULT STDMETHODCALLTYPE EndFlush() override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;

  private:
    TransformFilter* filter_;
};

class TransformOutputPin final : public TwoPinOutputPin {
  public:
    explicit TransformOutputPin(TransformFilter* filter);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator,
                             const ALLOCATOR_PROPERTIES& request) override;

  private:
    TransformFilter* filter_;
};

// A filter with one input pin "Input" and one output pin "Output" whose output carries another
// type than its input (an encoder, a multiplexer). The output has buffers of its own from the
// allocator it settled downstream; the derived filter fills and delivers as many of them per
// input sample as it needs, and delivers what it still holds when the stream ends.
//
// Threads: samples and stream events arrive on the upstream streaming thread; ProcessSample,
// FinishStream and every delivery they make run under ReceiveLock(). State changes and
// connections come from the application thread under the filter lock. StartStreaming and
// StopStreaming run on the application thread with the receive lock held, so they never
// overlap a sample.
class TransformFilter : public TwoPinFilter {
  public:
    TransformFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid);
    ~TransformFilter() override = default;

    HRESULT STDMETHODCALLTYPE Pause() override;

    // S_OK accepts an input type; anything else refuses it and is passed back unchanged.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE& type) = 0;
    // S_OK when the output may carry `output` for input `input`.
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) = 0;
    // The output types offered for `input`, best first; VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT GetOutputType(const AM_MEDIA_TYPE& input, int position, MediaType* type) = 0;
    // Sets the output allocator's properties; `request` holds what downstream asked for.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator,
                                     const ALLOCATOR_PROPERTIES& request) = 0;

    // Stopped -> paused: size and start everything streaming needs (all allocation happens
    // here). A failure refuses the state change.
    virtual HRESULT StartStreaming() { return S_OK; }
    // Paused or running -> stopped: release what StartStreaming set up.
    virtual void StopStreaming() {}
    // One input sample; deliveries go through DeliverOutput. A failure is returned upstream.
    virtual HRESULT ProcessSample(IMediaSample* sample) = 0;
    // Upstream ended the stream: deliver what is still held. End-of-stream follows at once.
    virtual HRESULT FinishStream() { return S_OK; }
    // Upstream flushed: drop what is held.
    virtual void DiscardHeld() {}

    // For the derived filter, under the receive lock: an empty output buffer (waits for one
    // while downstream holds them all), and its delivery.
    HRESULT GetOutputBuffer(ComPtr<IMediaSample>* sample);
    HRESULT DeliverOutput(IMediaSample* sample);

    // For DecideBufferSize: asks for at least `buffers` buffers of `bufferBytes` (more where
    // downstream's `request` asks more) and succeeds when each buffer the allocator actually
    // gives holds `neededBytes`.
    static HRESULT SetOutputBuffers(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request,
                                    long buffers, long bufferBytes, long neededBytes);
    // The bytes an input sample carries; fails when its data length does not fit its buffer.
    static HRESULT SampleBytes(IMediaSample* sample, std::span<const uint8_t>* bytes);

    TransformInputPin& Input() override { return input_; }
    TransformOutputPin& Output() override { return output_; }

  protected:
    void StoppedStreaming() override;

  private:
    HRESULT ReceiveSample(IMediaSample* sample) override;
    HRESULT EndOfStreamFromUpstream() override;

    TransformInputPin input_;
    TransformOutputPin output_;
    // Guarded by the receive lock.
    bool streaming_ = false;
};

}  // namespace qm
