// Replaces the global operator new of the test executable (and so of every library it loads) with
// one that counts what is held and can be told to fail the n-th allocation from now, once.
#pragma once

#include <cstddef>

namespace qz::test {

// Fails the n-th allocation after this call (n >= 1) with std::bad_alloc, or a null result for
// the nothrow forms; 0 disarms, leaving AllocationFailureFired as it was. Either way the count of
// allocations starts again from 0.
void FailNthAllocation(std::size_t n);

// True once the failure armed last has been delivered.
bool AllocationFailureFired();

// Allocations counted since the last FailNthAllocation call.
std::size_t AllocationsSinceArmed();

// Blocks from operator new that have not been deleted yet, over the whole process.
std::size_t LiveAllocations();

// The heap bytes those blocks occupy (as the heap sized them, which may exceed the request), the
// most they occupied at once since ResetPeakHeapBytes, and a new start for that peak.
std::size_t LiveHeapBytes();
std::size_t PeakHeapBytes();
void ResetPeakHeapBytes();

// While one exists, allocations are neither counted nor failed: for the test's own bookkeeping in
// the middle of a swept call sequence.
class AllocationFailureHold {
public:
    AllocationFailureHold();
    ~AllocationFailureHold();
    AllocationFailureHold(const AllocationFailureHold&) = delete;
    AllocationFailureHold& operator=(const AllocationFailureHold&) = delete;
};

}  // namespace qz::test
