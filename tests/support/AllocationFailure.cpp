#include "support/AllocationFailure.h"

#include <cstdlib>
#include <new>

#include <malloc.h>

namespace qz::test {

namespace {

// Single-threaded tests only: plain globals, read and written by the replaced operators.
std::size_t g_failAt = 0;
std::size_t g_count = 0;
bool g_fired = false;
std::size_t g_live = 0;
std::size_t g_liveBytes = 0;
std::size_t g_peakBytes = 0;
int g_holds = 0;

// The bytes the heap gave a block, which may exceed what was asked for.
std::size_t BlockBytes(void* p) {
#if defined(_WIN32)
    return _msize(p);
#else
    return malloc_usable_size(p);
#endif
}

// Over-aligned blocks count on Linux only: MinGW's runtime does not declare _aligned_msize. Nothing
// that measures bytes runs on Windows, and a block counts the same when freed as when allocated.
std::size_t AlignedBlockBytes([[maybe_unused]] void* p) {
#if defined(_WIN32)
    return 0;
#else
    return malloc_usable_size(p);
#endif
}

void Track(std::size_t bytes) {
    ++g_live;
    g_liveBytes += bytes;
    if (g_liveBytes > g_peakBytes) {
        g_peakBytes = g_liveBytes;
    }
}

void Untrack(std::size_t bytes) {
    --g_live;
    g_liveBytes -= bytes;
}

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
    Track(BlockBytes(p));
    return p;
}

void* AllocateNoThrow(std::size_t size) noexcept {
    if (ShouldFail()) {
        return nullptr;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) {
        Track(BlockBytes(p));
    }
    return p;
}

void Release(void* p) noexcept {
    if (p != nullptr) {
        Untrack(BlockBytes(p));
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
    if (p != nullptr) {
        Track(AlignedBlockBytes(p));
    }
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
        Untrack(AlignedBlockBytes(p));
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

std::size_t LiveHeapBytes() { return g_liveBytes; }

std::size_t PeakHeapBytes() { return g_peakBytes; }

void ResetPeakHeapBytes() { g_peakBytes = g_liveBytes; }

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
