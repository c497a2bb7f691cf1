#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

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
    T** get() const { return data_; }
    T* operator[](long i) const { return data_[i]; }

  private:
    long rlo_, rhi_, clo_, chi_;
    T** data_;
};

// Owns one 0-based array of n elements from the library allocator (zero-filled), so that
// long-lived tables take part in scratch storage like every other array of the library.
template <class T>
class LibraryArray {
  public:
    LibraryArray() = default;
    ~LibraryArray() { Reset(); }
    LibraryArray(const LibraryArray&) = delete;
    LibraryArray& operator=(const LibraryArray&) = delete;

    bool Allocate(long n) {
        Reset();
        data_ = n > 0 ? allocVectorOf<T>(0, n - 1) : nullptr;
        size_ = data_ != nullptr ? n : 0;
        return data_ != nullptr;
    }
    void Reset() {
        freeVectorOf(data_, 0, size_ - 1);
        data_ = nullptr;
        size_ = 0;
    }
    explicit operator bool() const { return data_ != nullptr; }
    T* get() const { return data_; }
    T& operator[](long i) const { return data_[i]; }

  private:
    T* data_ = nullptr;
    long size_ = 0;
};

// Working storage for the library on a thread that must not allocate (a voice effect's
// Process). While a DspScratchScope is active, every block of allocVector and allocMatrix that
// this thread takes is carved from the scratch, zero-filled; releasing such a block does
// nothing, and the whole scratch is reused by the next scope. When the scratch runs out the
// heap serves the rest, so too small a scratch costs allocations, never results; PeakBytes
// tells how much a scope wanted. Blocks from the scratch must be released before the scratch
// itself is. A scope belongs to the thread that opened it: threads that each use their own
// scratch run the library side by side.
class DspScratch {
  public:
    DspScratch() = default;
    ~DspScratch() { Free(); }
    DspScratch(const DspScratch&) = delete;
    DspScratch& operator=(const DspScratch&) = delete;

    // Replaces the storage with `bytes` of scratch. Allocates; not real-time.
    bool Reserve(size_t bytes);
    void Free();
    size_t CapacityBytes() const { return capacity_; }
    // The most any scope asked for, counting what the heap had to serve.
    size_t PeakBytes() const { return peak_; }
    // Blocks the heap served because the scratch was full, over all scopes.
    size_t HeapBlocks() const { return heapBlocks_; }

  private:
    friend class DspScratchScope;
    friend void* DspScratchTake(size_t bytes);

    unsigned char* base_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0;
    size_t wanted_ = 0;
    size_t peak_ = 0;
    size_t heapBlocks_ = 0;
};

// Makes `scratch` the calling thread's library storage until the scope ends. Scopes do not
// nest.
class DspScratchScope {
  public:
    explicit DspScratchScope(DspScratch& scratch);
    ~DspScratchScope();
    DspScratchScope(const DspScratchScope&) = delete;
    DspScratchScope& operator=(const DspScratchScope&) = delete;
};

}  // namespace qm
