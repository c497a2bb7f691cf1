#pragma once

#include <unknwn.h>

#include <atomic>

namespace qm {

// The identity of a COM object that may be aggregated. Every interface the object exposes
// forwards QueryInterface, AddRef and Release to Outer(): the aggregating object when there
// is one, otherwise this object's own inner IUnknown. The inner IUnknown keeps the reference
// count, which starts at 0; the first query gives the creator its first reference.
class NonDelegatingUnknown {
  public:
    explicit NonDelegatingUnknown(IUnknown* outer);
    virtual ~NonDelegatingUnknown() = default;
    NonDelegatingUnknown(const NonDelegatingUnknown&) = delete;
    NonDelegatingUnknown& operator=(const NonDelegatingUnknown&) = delete;

    // Answers IUnknown with the inner identity; derived objects add their interfaces and
    // end with this one.
    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out);
    ULONG NonDelegatingAddRef();
    ULONG NonDelegatingRelease();

    IUnknown* Outer() const { return outer_; }
    IUnknown* Inner() { return &inner_; }

  private:
    class InnerUnknown : public IUnknown {
      public:
        explicit InnerUnknown(NonDelegatingUnknown* self) : self_(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            return self_->NonDelegatingQueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return self_->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return self_->NonDelegatingRelease(); }

      private:
        NonDelegatingUnknown* self_;
    };

    InnerUnknown inner_{this};
    IUnknown* outer_;
    std::atomic<LONG> references_{0};
};

// Hands out `itf` through an out parameter with a reference taken through the interface
// itself, so that an aggregated object's count is the outer object's.
template <typename Interface>
HRESULT ReturnInterface(Interface* itf, void** out) {
    *out = itf;
    itf->AddRef();
    return S_OK;
}

}  // namespace qm
