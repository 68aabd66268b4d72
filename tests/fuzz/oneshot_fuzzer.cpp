// SPDX-License-Identifier: MIT
// LumarexComprehensive on fuzzed 8-bit images with every one of its 23
// settings fuzzed over its whole range. It corrects in place: it must return
// 0, write nothing of the caller's buffer but the image's samples, and give
// back every host block (it takes host memory for the log/exp curves only).
#include <vector>

#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/export_calls.h"
#include "support/fuzz_host.h"
#include "support/fuzz_input.h"
#include "support/harness.h"
#include "support/seed_images.h"

namespace lx::fuzz {
namespace {

using test::OneShotArgs;

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
    Visit(io, f.image);
    Visit(io, f.fail);
    io(f.toneStrength);
    Visit(io, f.args);
}

void Run(const OneShotInput& f, std::span<const uint8_t> pixels) {
    FuzzHost& host = FuzzHost::Get();
    // The one-shot's working memory comes from the process heap, which no
    // budget bounds: no image over 2^18 pixels.
    SizeRule rule;
    rule.hugePixels = INT64_MAX;
    CallerImage image(f.image, 1, rule, pixels);

    int32_t strength = f.toneStrength;
    test::OneShotArgs a = f.args;
    a.toneStrength = &strength;
    host.Arm(f.fail);
    Check(test::OneShot(image.desc(), a) == 0, "LumarexComprehensive returns 0");
    image.ExpectWrittenOnlyAtSamples("LumarexComprehensive");
    host.ExpectLive(0, "after LumarexComprehensive");
}

}  // namespace

std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    const std::vector<uint8_t> warm = CastGradient(16, 12, 1, 25);
    const ImageFields interleaved{0, 16, 12, 48, 3, {0, 1, 2}, 1};
    auto seed = [&](const char* name, const ImageFields& image, auto edit, const std::vector<uint8_t>& pixels) {
        OneShotInput in{image, {}, 50, {}};
        edit(in);
        seeds.push_back(MakeSeed(name, in, pixels));
    };
    seed("neutral", interleaved, [](OneShotInput&) {}, warm);
    seed("everything_on", interleaved, [](OneShotInput& in) {
        OneShotArgs& a = in.args;
        a.tintCorrection = 1, a.tintMode = 2, a.tintStrength = 0.8f, a.shadowClip = 1, a.shadowClipPermille = 5;
        a.localContrast = 1, a.colorMode = 1, a.colorAmount = 0.5f, a.sharpen = 1, a.sharpenAmount = 1.0f;
        a.autoTone = 1, a.toneTarget = 2, a.warmTone = 1, a.warmToneStrength = 1.0f, a.colorCube = 1, a.cubeSelect = 2;
    }, warm);
    seed("log_exp_curves", interleaved, [](OneShotInput& in) {
        in.args.curveFamily = 1, in.args.curveReduction = 30, in.args.autoTone = 1, in.args.cubeAlsoC = 1;
    }, warm);
    seed("log_exp_host_refuses", interleaved, [](OneShotInput& in) {
        in.args.curveFamily = 1, in.fail = {1, 0};
    }, warm);
    seed("planar_bottom_up", ImageFields{0, 10, 8, -10, 1, {0, 80, 160}, 2}, [](OneShotInput& in) {
        in.args.tintCorrection = 1, in.args.tintMode = 3, in.args.localContrast = 1;
    }, {});
    // 400 x 400 on one sample per channel: large enough for the centre weights.
    seed("still_400", ImageFields{0, 400, 400, 0, 0, {0, 1, 2}, 3}, [](OneShotInput& in) {
        in.args.localContrast = 1, in.args.sharpen = 1, in.args.sharpenAmount = 0.5f;
    }, {});
    seed("overlapping", ImageFields{0, 12, 12, 2, 1, {0, 3, 6}, 4}, [](OneShotInput& in) {
        in.args.tintCorrection = 1, in.args.sharpen = 1, in.args.sharpenAmount = 3.0f, in.args.colorMode = 2;
        in.args.colorAmount = 1.0f;
    }, {});
    seed("empty", ImageFields{0, -4, 8, 12, 3, {0, 1, 2}, 5}, [](OneShotInput& in) { in.args.sharpen = 1; }, {});
    return seeds;
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(OneShotInput)
