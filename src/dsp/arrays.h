#pragma once

#include <cstddef>

// Index-based arrays. An array with first index lo and last index hi is one zero-filled block
// of hi - lo + 1 elements, handed out as a pointer offset so that element lo is addressed with
// index lo (a[lo] .. a[hi]). A matrix is an offset array of row pointers over one contiguous
// zero-filled block; row i + 1 starts right after row i.
//
// The handed-out pointer is never null, even when the offset would make it so: a missing
// result always means failure. hi == lo - 1 makes a valid empty array; hi < lo - 1, an element
// size of 0 or a block too large for the address space are refused like exhausted memory.
// These functions may allocate and are not real-time safe.

void* allocVector(size_t elementSize, long lo, long hi);
void freeVector(void* vector, size_t elementSize, long lo, long hi);
void copyVector(const void* from, void* to, size_t elementSize, long lo, long hi);

// On failure everything already taken is released and the result is null.
void* allocMatrix(size_t elementSize, long rlo, long rhi, long clo, long chi);
void freeMatrix(void* matrix, size_t elementSize, long rlo, long rhi, long clo, long chi);

// Typed forms of the above for the library's own working arrays.
template <class T>
T* allocVectorOf(long lo, long hi) {
    return static_cast<T*>(allocVector(sizeof(T), lo, hi));
}
template <class T>
void freeVectorOf(T* vector, long lo, long hi) {
    freeVector(vector, sizeof(T), lo, hi);
}
template <class T>
T** allocMatrixOf(long rlo, long rhi, long clo, long chi) {
    return static_cast<T**>(allocMatrix(sizeof(T), rlo, rhi, clo, chi));
}
template <class T>
void freeMatrixOf(T** matrix, long rlo, long rhi, long clo, long chi) {
    freeMatrix(matrix, sizeof(T), rlo, rhi, clo, chi);
}

// Owns one index-based array for the length of a call; releases it on every return path.
template <class T>
class ScopedVector {
  public:
    ScopedVector(long lo, long hi) : lo_(lo), hi_(hi), data_(allocVectorOf<T>(lo, hi)) {}
    ~ScopedVector() { freeVectorOf(data_, lo_, hi_); }
    ScopedVector(const ScopedVector&) = delete;
    ScopedVector& operator=(const ScopedVector&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    T* get() const { return data_; }
    T& operator[](long i) const { return data_[i]; }

  private:
    long lo_;
    long hi_;
    T* data_;
};

// Owns one index-based matrix for the length of a call.
template <class T>
class ScopedMatrix {
  public:
    ScopedMatrix(long rlo, long rhi, long clo, long chi)
        : rlo_(rlo), rhi_(rhi), clo_(clo), chi_(chi), data_(allocMatrixOf<T>(rlo, rhi, clo, chi)) {}
    ~ScopedMatrix() { freeMatrixOf(data_, rlo_, rhi_, clo_, chi_); }
    ScopedMatrix(const ScopedMatrix&) = delete;
    ScopedMatrix& operator=(const ScopedMatrix&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    T* operator[](long i) const { return data_[i]; }

  private:
    long rlo_, rhi_, clo_, chi_;
    T** data_;
};
