// SPDX-License-Identifier: MIT
// Built with FMA instructions available: if the compiler were allowed to
// contract x * x - 1 into one fused operation, the product would not be
// rounded before the subtraction and the result would differ.
#include <cstdio>

int main() {
#if defined(__x86_64__) || defined(__i386__)
    if (!__builtin_cpu_supports("fma")) {
        std::puts("no FMA on this CPU; nothing to check");
        return 0;
    }
#endif
    // x * x = 1 + 2^-11 + 2^-24 exactly; rounded to float it is 1 + 2^-11
    // (a tie, to even), so x * x - 1 is 2^-11. Fused, it is 2^-11 + 2^-24.
    volatile float vx = 1.0f + 0x1p-12f, vone = 1.0f;
    const float x = vx, one = vone;
    const float r = x * x - one;
    if (r != 0x1p-11f) {
        std::printf("multiply-add was contracted: got %a, expected %a\n", r, 0x1p-11f);
        return 1;
    }
    std::puts("fp contraction is off");
    return 0;
}
