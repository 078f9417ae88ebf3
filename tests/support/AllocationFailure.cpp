#include "support/AllocationFailure.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace qz::test {

namespace {

std::size_t g_failAt = 0;
std::size_t g_count = 0;
bool g_fired = false;
std::size_t g_live = 0;
std::size_t g_liveBytes = 0;
std::size_t g_peakBytes = 0;

#if defined(_WIN32)
std::size_t BlockBytes(void* p) { return _msize(p); }
#else
std::size_t BlockBytes(void* p) { return malloc_usable_size(p); }
#endif

// Null when this allocation is the one to fail or the heap has nothing left.
void* Allocate(std::size_t size) noexcept {
    if (g_failAt != 0 && ++g_count == g_failAt) {
        g_failAt = 0;
        g_fired = true;
        return nullptr;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) {
        ++g_live;
        g_liveBytes += BlockBytes(p);
        g_peakBytes = std::max(g_peakBytes, g_liveBytes);
    }
    return p;
}

void* AllocateOrThrow(std::size_t size) {
    if (void* p = Allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

void Release(void* p) noexcept {
    if (p != nullptr) {
        --g_live;
        g_liveBytes -= BlockBytes(p);
        std::free(p);
    }
}

}  // namespace

void FailNthAllocation(std::size_t n) {
    g_failAt = n;
    g_count = 0;
    g_fired = n != 0 ? false : g_fired;
}

bool AllocationFailureFired() { return g_fired; }

std::size_t LiveAllocations() { return g_live; }

std::size_t LiveHeapBytes() { return g_liveBytes; }

std::size_t PeakHeapBytes() { return g_peakBytes; }

void ResetPeakHeapBytes() { g_peakBytes = g_liveBytes; }

}  // namespace qz::test

// Every form a sanitizer runtime would otherwise bring, so that allocation and release always
// pair up; nothing here is over-aligned, so the aligned forms stay the runtime's own.
void* operator new(std::size_t size) { return qz::test::AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return qz::test::AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return qz::test::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return qz::test::Allocate(size);
}
void operator delete(void* p) noexcept { qz::test::Release(p); }
void operator delete[](void* p) noexcept { qz::test::Release(p); }
void operator delete(void* p, std::size_t) noexcept { qz::test::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { qz::test::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { qz::test::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { qz::test::Release(p); }
