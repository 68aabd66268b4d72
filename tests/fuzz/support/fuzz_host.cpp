// SPDX-License-Identifier: MIT
#include "support/fuzz_host.h"

#include <cstdio>

#include "support/fuzz_input.h"

namespace lx::fuzz {

FuzzHost::FuzzHost() { host_.SetMaxBlockBytes(kMaxBlockBytes); }

FuzzHost& FuzzHost::Get() {
    static FuzzHost host;
    return host;
}

void FuzzHost::Arm(FailPlan plan) { host_.Fail(plan.allocation, plan.lock); }

int64_t FuzzHost::Live() const { return host_.live(); }

void FuzzHost::ExpectLive(int64_t expected, const char* when) const {
    if (host_.live() == expected) return;
    std::fprintf(stderr, "%lld host blocks out %s, expected %lld\n", static_cast<long long>(host_.live()), when,
                 static_cast<long long>(expected));
    Fail("every host block is returned when a call finishes");
}

}  // namespace lx::fuzz
