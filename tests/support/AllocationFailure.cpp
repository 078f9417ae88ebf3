#include "support/AllocationFailure.h"

#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace qz::test {

namespace {

// Single-threaded tests only: plain globals, read and written by the replaced operators.
std::size_t g_failAt = 0;
std::size_t g_count = 0;
bool g_fired = false;
std::size_t g_live = 0;
int g_holds = 0;

// True when this allocation is the one to fail.
bool ShouldFail() {
    if (g_holds > 0) {
        return false;
    }
    ++g_count;
    if (g_failAt != 0 && g_count == g_failAt) {
        g_failAt = 0;
        g_fired = true;
        return true;
    }
    return false;
}

void* Allocate(std::size_t size) {
    if (ShouldFail()) {
        throw std::bad_alloc();
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    ++g_live;
    return p;
}

void* AllocateNoThrow(std::size_t size) noexcept {
    if (ShouldFail()) {
        return nullptr;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    g_live += p != nullptr ? 1 : 0;
    return p;
}

void Release(void* p) noexcept {
    if (p != nullptr) {
        --g_live;
        std::free(p);
    }
}

// The over-aligned forms. Every form is replaced, so that no sanitizer runtime's own definition of
// one of them is linked in beside these.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    if (ShouldFail()) {
        return nullptr;
    }
    const auto align = static_cast<std::size_t>(alignment);
#if defined(_WIN32)
    void* p = _aligned_malloc(size == 0 ? 1 : size, align);
#else
    void* p = nullptr;
    if (posix_memalign(&p, align < sizeof(void*) ? sizeof(void*) : align, size == 0 ? 1 : size) !=
        0) {
        p = nullptr;
    }
#endif
    g_live += p != nullptr ? 1 : 0;
    return p;
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
    void* p = AllocateAligned(size, alignment);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void ReleaseAligned(void* p) noexcept {
    if (p != nullptr) {
        --g_live;
#if defined(_WIN32)
        _aligned_free(p);
#else
        std::free(p);
#endif
    }
}

}  // namespace

void FailNthAllocation(std::size_t n) {
    g_failAt = n;
    g_count = 0;
    if (n != 0) {
        g_fired = false;
    }
}

bool AllocationFailureFired() { return g_fired; }

std::size_t AllocationsSinceArmed() { return g_count; }

std::size_t LiveAllocations() { return g_live; }

AllocationFailureHold::AllocationFailureHold() { ++g_holds; }

AllocationFailureHold::~AllocationFailureHold() { --g_holds; }

}  // namespace qz::test

void* operator new(std::size_t size) { return qz::test::Allocate(size); }
void* operator new[](std::size_t size) { return qz::test::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return qz::test::AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return qz::test::AllocateNoThrow(size);
}
void operator delete(void* p) noexcept { qz::test::Release(p); }
void operator delete[](void* p) noexcept { qz::test::Release(p); }
void operator delete(void* p, std::size_t) noexcept { qz::test::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { qz::test::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { qz::test::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { qz::test::Release(p); }

void* operator new(std::size_t size, std::align_val_t alignment) {
    return qz::test::AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return qz::test::AllocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return qz::test::AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return qz::test::AllocateAligned(size, alignment);
}
void operator delete(void* p, std::align_val_t) noexcept { qz::test::ReleaseAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { qz::test::ReleaseAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    qz::test::ReleaseAligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    qz::test::ReleaseAligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    qz::test::ReleaseAligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    qz::test::ReleaseAligned(p);
}
