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
#include <string>
#include <vector>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/export_calls.h"
#include "support/fuzz_host.h"
#include "support/fuzz_input.h"
#include "support/harness.h"
#include "support/seed_images.h"

namespace lx::fuzz {
namespace {

using test::ApplyArgs;
using test::Region;

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
    io(c.local), io(c.noise), io(c.progress);
    Visit(io, c.fail);
    io(c.toneStrength);
    Visit(io, c.dest);
    Visit(io, c.region);
    Visit(io, c.args);
}

struct ApplyInput {
    uint8_t prepared = 0;  // modulo 9: 0 the source below, k the prepared blob 1 + (k - 1) % 4
    ImageFields source;    // of type 0 or 1 (bit 0 of the fuzzed type): the blob to correct
    uint8_t calls = 0;   // 1 + calls % 3
    ApplyCall call[3];
};

template <class IO>
void Visit(IO& io, ApplyInput& f) {
    io(f.prepared);
    Visit(io, f.source);
    io(f.calls);
    for (ApplyCall& c : f.call) Visit(io, c);
}

// `others`: host blocks out besides the blob's and the record's.
void RunCall(const ApplyCall& c, const ImageBlob* blob, ImageParam* param, int64_t others) {
    FuzzHost& host = FuzzHost::Get();
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
    host.Arm(c.fail);
    bool ok;
    if (local) {
        const int32_t r = test::ApplyLocal(dest.desc(), blob, param, c.region, a);
        Check(r == 1 || r == 0, "ApplyImageBlobParamLocal returns 1 or 0");
        ok = r == 1;
    } else {
        const int32_t r = test::Apply(dest.desc(), blob, param, a);
        Check(r == 0 || r == -1, "ApplyImageBlobParam returns 0 or -1");
        ok = r == 0;
    }
    probe.ExpectConsistent(ok);
    dest.ExpectWrittenOnlyAtSamples(local ? "ApplyImageBlobParamLocal" : "ApplyImageBlobParam");
    Check(BlobBytes(*blob) == before, "the apply calls leave the blob as it was");
    host.ExpectLive(others + BlocksHeld(blob, param), "after an apply call");
}

struct Analysed {
    ImageBlob* blob = nullptr;
    ImageParam* param = nullptr;
};

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
        FuzzHost::Get().Arm({});
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

// The neutral settings of a call, with the changes `edit` makes.
template <class Edit>
ApplyCall Call(bool local, ImageFields dest, Edit edit) {
    ApplyCall c;
    c.local = local ? 1 : 0;
    c.dest = dest;
    edit(c);
    return c;
}

void Run(ApplyInput& f, std::span<const uint8_t> pixels) {
    FuzzHost& host = FuzzHost::Get();
    UseNoiseLibrary(0);
    if (const int k = f.prepared % 9; k != 0) {
        const Analysed a = Prepared(1 + (k - 1) % 4);
        const int64_t others = host.Live() - BlocksHeld(a.blob, a.param);
        for (int i = 0; i <= f.calls % 3; ++i) RunCall(f.call[i], a.blob, a.param, others);
        UseNoiseLibrary(0);
        return;
    }

    f.source.sampleType &= 1;
    const CallerImage source(f.source, f.source.sampleType == 1 ? 2 : 1, SizeRule{}, pixels);
    const int64_t others = host.Live();
    host.Arm({});
    ImageBlob* blob = AllocImageBlob(&source.desc());
    ImageParam* param = blob != nullptr ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
    if (param != nullptr)
        for (int i = 0; i <= f.calls % 3; ++i) RunCall(f.call[i], blob, param, others);
    FreeImageParam(param);
    host.ExpectLive(others + BlocksHeld(blob, nullptr), "after FreeImageParam");
    FreeImageBlob(blob);
    host.ExpectLive(others, "after FreeImageBlob");
    UseNoiseLibrary(0);
}

}  // namespace

std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    const std::vector<uint8_t> warm8 = CastGradient(16, 12, 1, 25), cool16 = CastGradient(12, 10, 2, -30);
    const ImageFields source8{0, 16, 12, 48, 3, {0, 1, 2}, 1}, source16{1, 12, 10, 72, 6, {0, 2, 4}, 2};
    const ImageFields planar8{0, 16, 12, 16, 1, {0, 192, 384}, 0}, interleaved16{1, 12, 10, 72, 6, {0, 2, 4}, 0};
    const ImageFields crop8{0, 6, 5, 18, 3, {0, 1, 2}, 0}, crop16{1, 5, 4, 30, 6, {4, 2, 0}, 0};
    auto none = [](ApplyCall&) {};
    // Each seed on the fuzzed source and, when that is a prepared one, on it.
    auto seed = [&](const std::string& name, const ImageFields& source, std::vector<ApplyCall> calls,
                    const std::vector<uint8_t>& pixels) {
        ApplyInput in{0, source, uint8_t(calls.size() - 1), {}};
        for (size_t i = 0; i < calls.size(); ++i) in.call[i] = calls[i];
        seeds.push_back(MakeSeed(name, in, pixels));
        in.prepared = source.sampleType == 0 ? 1 : 2;
        if (source.width == (in.prepared == 1 ? 16 : 12)) seeds.push_back(MakeSeed(name + "_prepared", in));
    };
    seed("whole8_neutral", source8, {Call(false, planar8, none)}, warm8);
    seed("whole8_full_settings", source8, {Call(false, planar8, [](ApplyCall& c) {
             ApplyArgs& a = c.args;
             a.useVariant = 1, a.tintMode = 3, a.variantStrength = 0.7f, a.useShadowClip = 1, a.shadowClipIndex = 4;
             a.useToneLevel = 1, a.toneLevelRow = 1, a.localContrast = 1, a.curveAmount = 0.5f;
             a.sharpen = 1, a.sharpenAmount = 1.0f, a.colorMode = 2, a.colorAmount = 0.6f;
             a.warmTone = 1, a.warmToneStrength = 0.8f, a.colorCube = 1, a.cubeSelect = 1, a.cubeAlsoC = 1;
         })}, warm8);
    seed("whole16_strong_curve", source16, {Call(false, interleaved16, [](ApplyCall& c) {
             c.args.strongCurve = 1, c.args.curveAmount = 0.8f, c.args.localContrast = 1, c.toneStrength = 60;
             c.args.colorMode = 1, c.args.colorAmount = 1.0f, c.args.cubeAlsoC = 1;
         })}, cool16);
    seed("local8_then_whole", source8, {Call(true, crop8, [](ApplyCall& c) {
             c.region = {3, 2, 6, 5};
             c.args.localContrast = 1, c.args.mapScale = 0.5f, c.args.mapOffsetX = 4, c.args.mapOffsetY = 2;
         }), Call(false, planar8, [](ApplyCall& c) { c.args.localContrast = 1; })}, warm8);
    seed("local8_map_scale_0", source8, {Call(true, crop8, [](ApplyCall& c) {
             c.region = {3, 2, 6, 5}, c.args.localContrast = 1, c.args.mapScale = 0.0f, c.args.mapOffsetX = 384;
         })}, warm8);
    seed("local16_at_the_edge", source16, {Call(true, crop16, [](ApplyCall& c) {
             c.region = {7, 6, 5, 4}, c.args.localContrast = 1, c.args.sharpen = 1, c.args.sharpenAmount = 2.0f;
             c.args.warmTone = 1, c.args.warmToneStrength = 1.0f;
         })}, cool16);
    seed("local8_outside", source8, {Call(true, crop8, [](ApplyCall& c) { c.region = {12, 9, 6, 5}; })}, warm8);
    seed("denoise_ours8", source8, {Call(false, planar8, [](ApplyCall& c) {
             c.noise = 2, c.args.denoise = 1, c.args.noisePreset = 3, c.args.noiseAdjustA = 10;
         }), Call(true, crop8, [](ApplyCall& c) { c.noise = 2, c.args.denoise = 1, c.args.noisePreset = 1; })}, warm8);
    seed("denoise_ours16", source16,
         {Call(false, interleaved16, [](ApplyCall& c) { c.noise = 2, c.args.denoise = 1, c.args.noisePreset = 4; }),
          Call(true, crop16, [](ApplyCall& c) { c.noise = 1, c.args.denoise = 1; c.region = {1, 1, 5, 4}; }),
          Call(false, interleaved16, [](ApplyCall& c) { c.noise = 0, c.args.denoise = 1; })}, cool16);
    seed("stop_and_fail", source8,
         {Call(false, planar8, [](ApplyCall& c) { c.progress = 3, c.args.localContrast = 1; }),
          Call(false, planar8, [](ApplyCall& c) { c.fail = {2, 0}, c.args.sharpen = 1; }),
          Call(true, crop8, [](ApplyCall& c) { c.fail = {0, 3}, c.progress = 7; })}, warm8);
    seed("refused_settings", source16,
         {Call(false, interleaved16, [](ApplyCall& c) { c.args.useVariant = 1, c.args.tintMode = 9; }),
          Call(false, ImageFields{2, 12, 10, 72, 6, {0, 2, 4}, 0}, none), Call(true, crop8, none)}, cool16);
    seed("still_destination", ImageFields{0, 2000, 30, 0, 0, {0, 1, 2}, 3},
         {Call(false, ImageFields{0, 0, 0, 0, 0, {0, 1, 2}, 0}, [](ApplyCall& c) { c.args.localContrast = 1; })}, {});
    return seeds;
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(ApplyInput)
