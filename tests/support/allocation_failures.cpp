// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/test_host.h"

namespace lx::test {

void ForEachAllocationFailure(TestHost& host, const std::function<int64_t()>& run,
                              const std::function<void(int64_t, int64_t)>& check) {
    const int64_t liveBefore = host.live();
    host.Fail(0, 0);
    run();
    const int64_t n = host.allocations();
    ASSERT_GT(n, 0) << "the operation took no host memory";
    ASSERT_EQ(host.live(), liveBefore) << "the successful run left blocks behind";
    // A refused allocation, then a buffer handed out that cannot be locked:
    // to the caller the same failure, and the buffer must go back.
    for (const bool lock : {false, true}) {
        for (int64_t k = 1; k <= n; ++k) {
            host.Fail(lock ? 0 : k, lock ? k : 0);
            const int64_t result = run();
            EXPECT_EQ(host.live(), liveBefore) << (lock ? "lock " : "allocation ") << k << " of " << n
                                               << " failing left blocks behind";
            check(k, result);
        }
    }
    host.Fail(0, 0);
}

}  // namespace lx::test
