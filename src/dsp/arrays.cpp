#include "dsp/arrays.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dsp/arrays_internal.h"

namespace qm {

void* DspScratchTake(size_t bytes);

namespace {

// Per thread: analyses on different threads (independent effect instances) each have their
// own scratch and their own failure countdown.
thread_local long t_failAfter = -1;
thread_local DspScratch* t_activeScratch = nullptr;

// Scratch blocks keep the alignment the heap would give.
constexpr size_t kScratchAlign = alignof(std::max_align_t);

// Every block starts with a header that says where it came from, so a release needs no table
// of scratches shared between threads: a scratch block is left to its scratch, a heap block
// goes back to the heap. The header keeps the heap's alignment for the block behind it.
constexpr size_t kHeaderBytes = kScratchAlign;
enum BlockOrigin : unsigned char { kFromHeap = 1, kFromScratch = 2 };

unsigned char* HeaderOf(void* block) {
    return static_cast<unsigned char*>(block) - kHeaderBytes;
}

// The failure hook counts heap blocks only: with it at 0, a call that still succeeds took
// every block from the scratch.
void* AllocateZeroed(size_t bytes) {
    // Callers keep `bytes` within PTRDIFF_MAX, so the header always fits beside it.
    const size_t total = bytes + kHeaderBytes;
    if (t_activeScratch != nullptr) {
        if (void* raw = DspScratchTake(total)) {
            *static_cast<unsigned char*>(raw) = kFromScratch;
            return static_cast<unsigned char*>(raw) + kHeaderBytes;
        }
    }
    if (t_failAfter == 0)
        return nullptr;
    if (t_failAfter > 0)
        --t_failAfter;
    auto* raw = static_cast<unsigned char*>(std::calloc(total, 1));
    if (raw == nullptr)
        return nullptr;
    *raw = kFromHeap;
    return raw + kHeaderBytes;
}

bool FromScratch(void* block) {
    return *HeaderOf(block) == kFromScratch;
}

void ReleaseBlock(void* block) {
    if (!FromScratch(block))
        std::free(HeaderOf(block));
}

// Number of elements of lo..hi, or -1 when the range is malformed.
long long ElementCount(long lo, long hi) {
    if (hi < lo)
        return hi == lo - 1 ? 0 : -1;
    const unsigned long long span =
        static_cast<unsigned long long>(hi) - static_cast<unsigned long long>(lo);
    if (span >= static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        return -1;
    return static_cast<long long>(span) + 1;
}

bool BlockBytes(size_t elementSize, long long elements, size_t& bytes) {
    if (elementSize == 0 || elements < 0)
        return false;
    // An empty array still gets one element so that its pointer is unique and valid.
    const unsigned long long n = elements == 0 ? 1ULL : static_cast<unsigned long long>(elements);
    if (n > std::numeric_limits<size_t>::max() / elementSize ||
        n * elementSize > static_cast<size_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
        return false;
    }
    bytes = static_cast<size_t>(n) * elementSize;
    return true;
}

// The address at which index 0 would live. Computed on integers: the offset pointer may lie
// outside the block, which pointer arithmetic must not produce.
uintptr_t OffsetAddress(void* block, size_t elementSize, long lo) {
    return reinterpret_cast<uintptr_t>(block) -
           static_cast<uintptr_t>(static_cast<intptr_t>(lo)) * static_cast<uintptr_t>(elementSize);
}

void* BlockOf(const void* offsetPointer, size_t elementSize, long lo) {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(offsetPointer) +
                                   static_cast<uintptr_t>(static_cast<intptr_t>(lo)) *
                                       static_cast<uintptr_t>(elementSize));
}

// Allocates a zeroed block whose offset pointer is not null. A block that would give a null
// offset pointer is kept occupied (shrunk to one byte, deliberately never released) so that
// the next allocation returns a different address.
void* AllocateOffset(size_t elementSize, long lo, size_t bytes) {
    for (;;) {
        void* block = AllocateZeroed(bytes);
        if (block == nullptr)
            return nullptr;
        const uintptr_t offset = OffsetAddress(block, elementSize, lo);
        if (offset != 0)
            return reinterpret_cast<void*>(offset);
        // A scratch block is simply left behind; the next one has another address.
        if (!FromScratch(block)) {
            void* kept = std::realloc(HeaderOf(block), kHeaderBytes + 1);
            (void)kept;
        }
    }
}

}  // namespace

void* DspScratchTake(size_t bytes) {
    DspScratch& s = *t_activeScratch;
    const size_t rounded = (bytes + kScratchAlign - 1) / kScratchAlign * kScratchAlign;
    if (rounded < bytes)
        return nullptr;
    s.wanted_ += rounded;
    if (s.wanted_ > s.peak_)
        s.peak_ = s.wanted_;
    if (s.base_ == nullptr || rounded > s.capacity_ - s.used_) {
        ++s.heapBlocks_;
        return nullptr;
    }
    void* block = s.base_ + s.used_;
    s.used_ += rounded;
    std::memset(block, 0, bytes);
    return block;
}

bool DspScratch::Reserve(size_t bytes) {
    Free();
    if (bytes == 0)
        return false;
    // malloc's alignment is already that of max_align_t.
    base_ = static_cast<unsigned char*>(std::malloc(bytes));
    if (base_ == nullptr)
        return false;
    capacity_ = bytes;
    return true;
}

void DspScratch::Free() {
    std::free(base_);
    base_ = nullptr;
    capacity_ = 0;
    used_ = 0;
}

DspScratchScope::DspScratchScope(DspScratch& scratch) {
    scratch.used_ = 0;
    scratch.wanted_ = 0;
    t_activeScratch = &scratch;
}

DspScratchScope::~DspScratchScope() {
    t_activeScratch = nullptr;
}

void SetBlockAllocationFailureAfter(long successes) {
    t_failAfter = successes < 0 ? -1 : successes;
}

void* allocVector(size_t elementSize, long lo, long hi) {
    size_t bytes = 0;
    if (!BlockBytes(elementSize, ElementCount(lo, hi), bytes))
        return nullptr;
    return AllocateOffset(elementSize, lo, bytes);
}

void freeVector(void* vector, size_t elementSize, long lo, long hi) {
    (void)hi;
    if (vector == nullptr)
        return;
    ReleaseBlock(BlockOf(vector, elementSize, lo));
}

void copyVector(const void* from, void* to, size_t elementSize, long lo, long hi) {
    const long long n = ElementCount(lo, hi);
    if (from == nullptr || to == nullptr || n <= 0)
        return;
    std::memmove(BlockOf(to, elementSize, lo), BlockOf(from, elementSize, lo),
                 static_cast<size_t>(n) * elementSize);
}

void* allocMatrix(size_t elementSize, long rlo, long rhi, long clo, long chi) {
    const long long rows = ElementCount(rlo, rhi);
    const long long cols = ElementCount(clo, chi);
    if (rows < 0 || cols < 0 || (cols > 0 && rows > std::numeric_limits<long long>::max() / cols))
        return nullptr;
    size_t cellBytes = 0;
    if (!BlockBytes(elementSize, rows * cols, cellBytes))
        return nullptr;
    char** rowPointers = static_cast<char**>(allocVector(sizeof(char*), rlo, rhi));
    if (rowPointers == nullptr)
        return nullptr;
    char* cells = static_cast<char*>(AllocateOffset(elementSize, clo, cellBytes));
    if (cells == nullptr) {
        freeVector(rowPointers, sizeof(char*), rlo, rhi);
        return nullptr;
    }
    // Row r's offset pointer, again on integers: row rlo's is `cells`. An empty matrix still
    // parks the cell block in its one spare slot so that freeMatrix finds it.
    rowPointers[rlo] = cells;
    const uintptr_t rowBytes = static_cast<uintptr_t>(cols) * elementSize;
    for (long long r = 0; r < rows; ++r) {
        rowPointers[rlo + r] = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(cells) +
                                                       static_cast<uintptr_t>(r) * rowBytes);
    }
    return rowPointers;
}

void freeMatrix(void* matrix, size_t elementSize, long rlo, long rhi, long clo, long chi) {
    (void)chi;
    if (matrix == nullptr)
        return;
    char** rowPointers = static_cast<char**>(matrix);
    freeVector(rowPointers[rlo], elementSize, clo, chi);
    freeVector(rowPointers, sizeof(char*), rlo, rhi);
}

}  // namespace qm
