#pragma once

#include <windows.h>

#include <strmif.h>

#include "streaming/win/base_filter.h"
#include "streaming/win/base_pins.h"
#include "streaming/win/critical_section.h"

namespace qm {

class TwoPinFilter;

// The input pin of a two-pin filter: samples and stream events go to the filter, flushes and
// segments pass straight downstream, connection changes are reported to the filter.
class TwoPinInputPin : public BaseInputPin {
  public:
    explicit TwoPinInputPin(TwoPinFilter* filter);

    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                         double rate) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

  private:
    TwoPinFilter* filter_;
};

// The output pin of a two-pin filter: connection changes are reported to the filter.
class TwoPinOutputPin : public BaseOutputPin {
  public:
    explicit TwoPinOutputPin(TwoPinFilter* filter);

    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;

  private:
    TwoPinFilter* filter_;
};

// What the in-place and the type-changing transform filters share: one pin "Input", one pin
// "Output", the receive lock that serialises samples against state changes, and the
// end-of-stream an unfed output owes downstream.
//
// Threads: samples and stream events arrive on the upstream streaming thread and are handled
// under ReceiveLock(). State changes and connections come from the application thread under
// the filter lock.
class TwoPinFilter : public BaseFilter {
  public:
    TwoPinFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid);
    ~TwoPinFilter() override = default;

    // Waits for a sample still being handled once the pins are inactive (their allocators
    // decommitted, so no delivery waits for a buffer), then StoppedStreaming.
    HRESULT STDMETHODCALLTYPE Stop() override;

    int PinCount() override { return 2; }
    BasePin* GetPin(int index) override;

    // After a pin has connected to `peer` (which knows the connection type); a failure
    // undoes the connection.
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* peer);
    virtual void BreakConnect(PIN_DIRECTION) {}

    CriticalSection& ReceiveLock() { return receiveLock_; }
    virtual TwoPinInputPin& Input() = 0;
    virtual TwoPinOutputPin& Output() = 0;

  protected:
    // From Stop, on the application thread under the filter and receive locks.
    virtual void StoppedStreaming() {}
    // From Pause after the base state change: without an upstream nothing will ever arrive,
    // so downstream is told at once that the stream has ended and the graph can complete.
    void EndUnfedOutput(bool starting);

    // Guarded by the receive lock.
    bool endOfStreamSent_ = false;

  private:
    friend class TwoPinInputPin;

    // On the upstream streaming thread; the input pin has checked that it is streaming.
    virtual HRESULT ReceiveSample(IMediaSample* sample) = 0;
    virtual HRESULT EndOfStreamFromUpstream() = 0;

    CriticalSection receiveLock_;
};

}  // namespace qm
