#include "streaming/win/two_pin_filter.h"

namespace qm {

// Input pin.

TwoPinInputPin::TwoPinInputPin(TwoPinFilter* filter)
    : BaseInputPin(filter, L"Input"), filter_(filter) {}

HRESULT TwoPinInputPin::EndOfStream() {
    if (HRESULT hr = CheckStreaming(); hr != S_OK) {
        return hr;
    }
    return filter_->EndOfStreamFromUpstream();
}

HRESULT TwoPinInputPin::BeginFlush() {
    BaseInputPin::BeginFlush();
    filter_->Output().DeliverBeginFlush();
    return S_OK;
}

HRESULT TwoPinInputPin::EndFlush() {
    filter_->Output().DeliverEndFlush();
    return BaseInputPin::EndFlush();
}

HRESULT TwoPinInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    filter_->Output().DeliverNewSegment(start, stop, rate);
    return S_OK;
}

HRESULT TwoPinInputPin::Receive(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    if (HRESULT hr = CheckStreaming(); hr != S_OK) {
        return hr;
    }
    return filter_->ReceiveSample(sample);
}

HRESULT TwoPinInputPin::ReceiveCanBlock() {
    IMemInputPin* downstream = filter_->Output().PeerInput();
    return downstream != nullptr ? downstream->ReceiveCanBlock() : S_FALSE;
}

HRESULT TwoPinInputPin::CompleteConnect(IPin* peer) {
    return filter_->CompleteConnect(PINDIR_INPUT, peer);
}

void TwoPinInputPin::BreakConnect() {
    BaseInputPin::BreakConnect();
    filter_->BreakConnect(PINDIR_INPUT);
}

// Output pin.

TwoPinOutputPin::TwoPinOutputPin(TwoPinFilter* filter)
    : BaseOutputPin(filter, L"Output"), filter_(filter) {}

HRESULT TwoPinOutputPin::CompleteConnect(IPin* peer) {
    return filter_->CompleteConnect(PINDIR_OUTPUT, peer);
}

void TwoPinOutputPin::BreakConnect() {
    BaseOutputPin::BreakConnect();
    filter_->BreakConnect(PINDIR_OUTPUT);
}

// Filter.

TwoPinFilter::TwoPinFilter(const wchar_t* name, IUnknown* outer, const CLSID& clsid)
    : BaseFilter(name, outer, clsid) {}

BasePin* TwoPinFilter::GetPin(int index) {
    switch (index) {
        case 0:
            return &Input();
        case 1:
            return &Output();
        default:
            return nullptr;
    }
}

HRESULT TwoPinFilter::Stop() {
    ScopedLock lock(FilterLock());
    const HRESULT hr = BaseFilter::Stop();
    ScopedLock receive(receiveLock_);
    StoppedStreaming();
    return hr;
}

HRESULT TwoPinFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

void TwoPinFilter::EndUnfedOutput(bool starting) {
    if (starting && !Input().IsConnected() && Output().IsConnected()) {
        ScopedLock receive(receiveLock_);
        endOfStreamSent_ = true;
        Output().DeliverEndOfStream();
    }
}

}  // namespace qm
