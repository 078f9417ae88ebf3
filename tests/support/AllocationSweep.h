// The allocation-failure sweep every robustness test uses.
#pragma once

#include <cstddef>
#include <cstdio>

#include <gtest/gtest.h>

#include "support/AllocationFailure.h"

namespace qz::test {

// Runs `attempt` with its n-th allocation failing, for n = 1, 2, ... until a run needs no
// failure, and requires that no failed run leaves a block behind. `attempt` checks what it got (it
// may call FailNthAllocation(0) first, to check without failures). Returns the number of points.
template <typename Attempt>
std::size_t SweepAllocations(const char* what, Attempt attempt) {
    for (std::size_t n = 1;; ++n) {
        const std::size_t live = LiveAllocations();
        FailNthAllocation(n);
        attempt(n);
        FailNthAllocation(0);
        if (!AllocationFailureFired()) {
            std::printf("%s: swept %zu allocation failure points\n", what, n - 1);
            return n - 1;
        }
        EXPECT_EQ(LiveAllocations(), live) << what << ": leak after failing allocation " << n;
    }
}

}  // namespace qz::test
