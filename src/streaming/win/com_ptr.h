#pragma once

#include <unknwn.h>

#include <utility>

namespace qm {

// Owns one COM reference. Releasing clears the pointer in the same step, so a holder never
// points at an object it no longer keeps alive. Copying adds a reference; moving hands it over.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference of its own on `p`.
    explicit ComPtr(T* p) : p_(p) {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already owns (a creator's or an out parameter's).
    static ComPtr Attach(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    // Gives the reference away without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }

    void Reset() {
        if (T* old = std::exchange(p_, nullptr)) {
            old->Release();
        }
    }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out parameters: releases what is held first, then exposes the slot.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Hands the caller its own reference through an out parameter.
    HRESULT CopyTo(T** out) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = p_;
        if (p_ != nullptr) {
            p_->AddRef();
        }
        return S_OK;
    }

    template <typename U>
    HRESULT As(ComPtr<U>* out) const {
        if (p_ == nullptr) {
            return E_POINTER;
        }
        return p_->QueryInterface(__uuidof(U), out->PutVoid());
    }

    bool operator==(const ComPtr& other) const { return p_ == other.p_; }
    bool operator==(const T* other) const { return p_ == other; }

  private:
    T* p_ = nullptr;
};

}  // namespace qm
