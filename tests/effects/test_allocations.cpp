#include "test_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

using namespace qm;

namespace {
std::atomic<long> g_allocations{0};

void* Allocate(std::size_t bytes) {
    ++g_allocations;
    return std::malloc(bytes == 0 ? 1 : bytes);
}
}  // namespace

long qm::test_allocations::Count() {
    return g_allocations.load();
}

void* operator new(std::size_t bytes) {
    if (void* p = Allocate(bytes))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) {
    if (void* p = Allocate(bytes))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    return Allocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    return Allocate(bytes);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
