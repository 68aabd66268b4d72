// SPDX-License-Identifier: MIT
#include "support/simd_targets.h"

#if defined(LUMAREX_SIMD)
// Every target some kernel is built for, the AVX-512 byte-permute target too.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL 1
#endif
#include <hwy/targets.h>
#endif

namespace lx::test {

void ForEachSimdTarget(const std::function<void(const std::string&)>& check) {
#if defined(LUMAREX_SIMD)
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        check(hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
#else
    check("plain build");
#endif
}

}  // namespace lx::test
