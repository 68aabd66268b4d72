// SPDX-License-Identifier: MIT
// ApplyImageBlobParam and ApplyImageBlobParamLocal, up to three calls on one
// blob and its record, each with fuzzed settings, destination, region, map
// offsets and scale, noise library, progress stop and host failure points.
// Every setting is passed as fuzzed, over its whole range. After each call:
// the documented result, no byte of the destination's buffer written but
// its samples, the blob unchanged, and only the blob's and the record's
// blocks still out.
//
// The blob is made from a fuzzed image and analysed, or (8 inputs in 9) is
// one of four prepared ones analysed once for the whole run: analysing a
// 16-bit blob costs more than the calls themselves, and the calls are what
// this harness is about.
#include <algorithm>
#include <array>
#include <vector>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "lumarex_calls.h"
#include "support/fuzz_input.h"
#include "support/harness.h"

namespace lx::fuzz {
namespace {

using lumarex_calls::ApplyArgs;
using lumarex_calls::Region;

template <class IO>
void Visit(IO& io, ApplyArgs& a) {
    io(a.mapOffsetX), io(a.mapOffsetY), io(a.mapScale);
    io(a.useVariant), io(a.tintMode), io(a.variantStrength);
    io(a.useShadowClip), io(a.shadowClipIndex), io(a.useToneLevel), io(a.toneLevelRow), io(a.strengthLimit);
    io(a.localContrast), io(a.curveAmount), io(a.strongCurve), io(a.curveBlack);
    io(a.colorMode), io(a.colorAmount), io(a.sharpen), io(a.sharpenAmount);
    io(a.warmTone), io(a.unused), io(a.warmToneStrength);
    io(a.colorCube), io(a.cubeSelect), io(a.cubeAlsoC);
    io(a.denoise), io(a.noisePreset), io(a.noiseAdjustA), io(a.noiseAdjustB), io(a.noiseLevelOverride);
    io(a.noiseWord0), io(a.noiseQword);
}

template <class IO>
void Visit(IO& io, Region& r) {
    io(r.left), io(r.top), io(r.width), io(r.height);
}

struct ApplyCall {
    uint8_t local = 0;     // odd: ApplyImageBlobParamLocal
    uint8_t noise = 0;     // UseNoiseLibrary
    uint8_t progress = 0;  // ProgressProbe
    FailPlan fail;
    int32_t toneStrength = 0;
    ImageFields dest;      // the region variant's size is the destination's
    Region region;
    ApplyArgs args;
};

template <class IO>
void Visit(IO& io, ApplyCall& c) {
    io(c.local), io(c.noise), io(c.progress), Visit(io, c.fail), io(c.toneStrength);
    Visit(io, c.dest), Visit(io, c.region), Visit(io, c.args);
}

struct ApplyInput {
    uint8_t prepared = 0;  // modulo 9: 0 the source below, k the prepared blob 1 + (k - 1) % 4
    ImageFields source;    // of type 0 or 1 (bit 0 of the fuzzed type): the blob to correct
    uint8_t calls = 0;   // 1 + calls % 3
    ApplyCall call[3];
};

template <class IO>
void Visit(IO& io, ApplyInput& f) {
    io(f.prepared), Visit(io, f.source), io(f.calls);
    for (ApplyCall& c : f.call) Visit(io, c);
}

// `others`: host blocks out besides the blob's and the record's.
void RunCall(const ApplyCall& c, const ImageBlob* blob, ImageParam* param, int64_t others) {
    UseNoiseLibrary(c.noise);
    const bool local = c.local % 2 == 1;
    const int bytes = SampleBytes(c.dest.sampleType);
    SizeRule rule;
    if (!local) rule.fixedWidth = std::max(blob->width, 0), rule.fixedHeight = std::max(blob->height, 0);
    CallerImage dest(c.dest, bytes, rule, {});
    const std::vector<uint8_t> before = BlobBytes(*blob);

    ProgressProbe probe(c.progress);
    int32_t strength = c.toneStrength;
    ApplyArgs a = c.args;
    a.toneStrength = &strength;
    a.progress = probe.callback();
    a.progressContext = probe.context();
    Arm(c.fail);
    bool ok;
    if (local) {
        const int32_t r = lumarex_calls::ApplyLocal(dest.desc(), blob, param, c.region, a);
        Check(r == 1 || r == 0, "ApplyImageBlobParamLocal returns 1 or 0");
        ok = r == 1;
    } else {
        const int32_t r = lumarex_calls::Apply(dest.desc(), blob, param, a);
        Check(r == 0 || r == -1, "ApplyImageBlobParam returns 0 or -1");
        ok = r == 0;
    }
    probe.ExpectConsistent(ok);
    dest.ExpectWrittenOnlyAtSamples(local ? "ApplyImageBlobParamLocal" : "ApplyImageBlobParam");
    Check(BlobBytes(*blob) == before, "the apply calls leave the blob as it was");
    ExpectLive(others + BlocksHeld(blob, param), "after an apply call");
}

struct Analysed {
    ImageBlob* blob = nullptr;
    ImageParam* param = nullptr;
};

// w x h pixels, red first, `bytes` 1 or 2 per sample (little-endian):
// brightness rising to the right and down, red lifted by `cast` levels and
// blue lowered by it, so that the analysis finds a cast to remove.
std::vector<uint8_t> CastGradient(int w, int h, int bytes, int cast) {
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = std::clamp(20 + 200 * (x + y) / (w + h) + (1 - c) * cast + (x * 7 + y * 3) % 5, 0, 255);
                out.insert(out.end(), size_t(bytes), uint8_t(v));  // v x 257 in 16 bits: both bytes v
            }
    return out;
}

// Blob and record of a prepared image: k = 1..4, 8-bit and 16-bit photos
// with a cast and noise pictures of one row or column more or less.
Analysed Prepared(int k) {
    static const std::array<Analysed, 4> prepared = [] {
        const struct {
            ImageFields image;
            std::vector<uint8_t> pixels;
        } images[4] = {{{0, 16, 12, 48, 3, {0, 1, 2}, 1}, CastGradient(16, 12, 1, 25)},
                       {{1, 12, 10, 72, 6, {0, 2, 4}, 2}, CastGradient(12, 10, 2, -30)},
                       {{0, 61, 3, 183, 3, {0, 1, 2}, 3}, {}},
                       {{1, 5, 37, 30, 6, {4, 2, 0}, 4}, {}}};
        std::array<Analysed, 4> out;
        Arm({});
        for (int i = 0; i < 4; ++i) {
            const CallerImage image(images[i].image, images[i].image.sampleType + 1, SizeRule{}, images[i].pixels);
            out[i].blob = AllocImageBlob(&image.desc());
            out[i].param = out[i].blob != nullptr ? CalcImageBlobParam(out[i].blob, nullptr, nullptr) : nullptr;
            Check(out[i].param != nullptr, "the prepared images are analysed");
        }
        return out;
    }();
    return prepared[k - 1];
}

void Run(ApplyInput& f, std::span<const uint8_t> pixels) {
    UseNoiseLibrary(0);
    if (const int k = f.prepared % 9; k != 0) {
        const Analysed a = Prepared(1 + (k - 1) % 4);
        const int64_t others = Host().live() - BlocksHeld(a.blob, a.param);
        for (int i = 0; i <= f.calls % 3; ++i) RunCall(f.call[i], a.blob, a.param, others);
        UseNoiseLibrary(0);
        return;
    }

    f.source.sampleType &= 1;
    const CallerImage source(f.source, f.source.sampleType == 1 ? 2 : 1, SizeRule{}, pixels);
    const int64_t others = Host().live();
    Arm({});
    ImageBlob* blob = AllocImageBlob(&source.desc());
    ImageParam* param = blob != nullptr ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
    if (param != nullptr)
        for (int i = 0; i <= f.calls % 3; ++i) RunCall(f.call[i], blob, param, others);
    FreeImageParam(param);
    ExpectLive(others + BlocksHeld(blob, nullptr), "after FreeImageParam");
    FreeImageBlob(blob);
    ExpectLive(others, "after FreeImageBlob");
    UseNoiseLibrary(0);
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(ApplyInput)
