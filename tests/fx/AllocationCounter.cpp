// Replaces the global allocation functions of the effect test program so that a test can
// count the allocations made while a flag is set.
#include <cstdlib>
#include <new>

#include "FxTestUtil.h"

namespace fxtest {
std::atomic<bool> countAllocations{false};
std::atomic<long> allocationCount{0};
}  // namespace fxtest

namespace {
void* allocate(std::size_t size) {
    if (fxtest::countAllocations.load(std::memory_order_relaxed))
        fxtest::allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
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
