// SPDX-License-Identifier: MIT
// Runs a check once per SIMD target this machine supports (in a plain build,
// once), so that a fast kernel is compared with its plain twin on SSE4, AVX2
// and AVX-512 alike.
#pragma once

#include <functional>
#include <string>

namespace lx::test {

// Calls check(targetName) with each target in force; restores the normal
// choice afterwards.
void ForEachSimdTarget(const std::function<void(const std::string& target)>& check);

}  // namespace lx::test
