// Replaces the global operator new of the test executable (and so of every library it loads, where
// symbols interpose) with one that counts what is held and can be told to fail the n-th allocation
// from now, once. Single-threaded use only.
#pragma once

#include <cstddef>

namespace qz::test {

// Fails the n-th allocation after this call (n >= 1) with std::bad_alloc, or a null result for
// the nothrow forms; 0 disarms, leaving AllocationFailureFired as it was.
void FailNthAllocation(std::size_t n);

// True once the failure armed last has been delivered.
bool AllocationFailureFired();

// Blocks from operator new that have not been deleted yet, over the whole process.
std::size_t LiveAllocations();

// The heap bytes those blocks occupy (as the heap sized them), the most they occupied at once
// since ResetPeakHeapBytes, and a new start for that peak.
std::size_t LiveHeapBytes();
std::size_t PeakHeapBytes();
void ResetPeakHeapBytes();

}  // namespace qz::test
