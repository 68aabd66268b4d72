// SPDX-License-Identifier: MIT
// LumarexComprehensive on fuzzed 8-bit images with every one of its 23
// settings fuzzed over its whole range. It corrects in place: it must return
// 0, write nothing of the caller's buffer but the image's samples, and give
// back every host block (it takes host memory for the log/exp curves only).
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "lumarex_calls.h"
#include "support/fuzz_input.h"
#include "support/harness.h"

namespace lx::fuzz {
namespace {

using lumarex_calls::OneShotArgs;

template <class IO>
void Visit(IO& io, OneShotArgs& a) {
    io(a.tintCorrection), io(a.tintMode), io(a.unused4), io(a.tintStrength), io(a.curveBlack);
    io(a.shadowClip), io(a.shadowClipPermille), io(a.localContrast), io(a.curveFamily), io(a.curveReduction);
    io(a.colorMode), io(a.colorAmount), io(a.sharpen), io(a.sharpenAmount), io(a.autoTone), io(a.toneTarget);
    io(a.strengthLimit), io(a.warmTone), io(a.warmToneStrength), io(a.cubeAlsoC), io(a.colorCube), io(a.cubeSelect);
}

struct OneShotInput {
    ImageFields image;  // 8-bit samples whatever its type says: the one-shot does not look at it
    FailPlan fail;
    int32_t toneStrength = 0;
    OneShotArgs args;
};

template <class IO>
void Visit(IO& io, OneShotInput& f) {
    Visit(io, f.image), Visit(io, f.fail), io(f.toneStrength), Visit(io, f.args);
}

void Run(const OneShotInput& f, std::span<const uint8_t> pixels) {
    // The one-shot's working memory comes from the process heap, which no
    // budget bounds: no image over 2^18 pixels.
    SizeRule rule;
    rule.hugePixels = INT64_MAX;
    CallerImage image(f.image, 1, rule, pixels);

    int32_t strength = f.toneStrength;
    OneShotArgs a = f.args;
    a.toneStrength = &strength;
    Arm(f.fail);
    Check(lumarex_calls::OneShot(image.desc(), a) == 0, "LumarexComprehensive returns 0");
    image.ExpectWrittenOnlyAtSamples("LumarexComprehensive");
    ExpectLive(0, "after LumarexComprehensive");
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(OneShotInput)
