// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/test_host.h"

namespace lx::test {

void ForEachAllocationFailure(TestHost& host, const std::function<int64_t()>& run,
                              const std::function<void(int64_t, int64_t)>& check) {
    const int64_t liveBefore = host.live();
    host.FailAt(0);
    run();
    const int64_t n = host.allocations();
    ASSERT_GT(n, 0) << "the operation took no host memory";
    ASSERT_EQ(host.live(), liveBefore) << "the successful run left blocks behind";
    for (int64_t k = 1; k <= n; ++k) {
        host.FailAt(k);
        const int64_t result = run();
        EXPECT_EQ(host.live(), liveBefore) << "allocation " << k << " of " << n << " failing left blocks behind";
        check(k, result);
    }
    // A host that hands out a buffer it then cannot lock: to the caller the
    // same failure, and the buffer must go back.
    for (int64_t k = 1; k <= n; ++k) {
        host.FailLockAt(k);
        const int64_t result = run();
        EXPECT_EQ(host.live(), liveBefore) << "lock " << k << " of " << n << " failing left blocks behind";
        check(k, result);
    }
    host.FailAt(0);
    host.FailLockAt(0);
}

}  // namespace lx::test
