#include "streaming/win/unknown.h"

namespace qm {

NonDelegatingUnknown::NonDelegatingUnknown(IUnknown* outer)
    : outer_(outer != nullptr ? outer : &inner_) {}

HRESULT NonDelegatingUnknown::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        return ReturnInterface(Inner(), out);
    }
    return E_NOINTERFACE;
}

ULONG NonDelegatingUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG NonDelegatingUnknown::NonDelegatingRelease() {
    const LONG left = --references_;
    if (left == 0) {
        // A destructor that queries or releases interfaces of its own must not come back here.
        references_ = 1;
        delete this;
    }
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

}  // namespace qm
