// SPDX-License-Identifier: MIT
// Checksums of whole corrections of a real photo. The arithmetic is exact by
// design, so one checksum per case holds on every machine; a change of any
// output bit (a reordered float sum, a "harmless" optimisation) shows here.
// When an output changes on purpose, update the checksum in the same commit
// and say why.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "lumarex/lumarex.h"
#include "lumarex_calls.h"
#include "support/images.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx::test {
namespace {

using namespace lumarex_calls;

// FNV-1a of the bytes, as 16 hex digits.
std::string Checksum(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    char hex[20];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

// Every finishing stage on: cast (centroid, 70 %), 0.3 % shadow clip, local
// contrast, log/exp curves at 60 % reduction, colour restoration, sharpening,
// automatic tone, warm tone, colour tables B then C.
TEST(Golden, OneShotCorrection) {
    TestHost host;
    Photo p = LoadBacklitRoom(false, 240);
    int32_t strength = 60;
    OneShotArgs a;
    a.tintCorrection = 1, a.tintMode = 3, a.tintStrength = 0.7f, a.curveBlack = 12;
    a.shadowClip = 1, a.shadowClipPermille = 3, a.toneStrength = &strength;
    a.localContrast = 1, a.curveFamily = 1, a.curveReduction = 40, a.colorMode = 1, a.colorAmount = 0.5f;
    a.sharpen = 1, a.sharpenAmount = 1.0f, a.autoTone = 1, a.toneTarget = 1, a.strengthLimit = 120;
    a.warmTone = 1, a.warmToneStrength = 0.8f, a.cubeAlsoC = 1, a.colorCube = 1, a.cubeSelect = 1;
    OneShot(p.desc(), a);
    EXPECT_EQ(Checksum(p.px), "40f66f4e5142f038");
    EXPECT_EQ(strength, 81);
}

// The whole photo with every stage on (tint mode 3 at 80 %, tone level row 1,
// the strong curve, colour mode 2, sharpening, warm tone, tables B and C),
// and a 64 x 48 region at (30, 20) with colour mode 1, sharpening at 0.5 and
// table C alone; 8 and 16 bits.
TEST(Golden, TwoPhaseCorrection) {
    TestHost host;
    for (bool wide : {false, true}) {
        Photo p = LoadBacklitRoom(wide, 240);
        const ImageDesc in = p.desc();
        const BlobPtr blob(AllocImageBlob(&in));
        const ParamPtr param(CalcImageBlobParam(blob.get(), nullptr, nullptr));
        ASSERT_NE(param, nullptr);
        int32_t strength = 0;
        ApplyArgs whole;
        whole.useVariant = 1, whole.tintMode = 3, whole.variantStrength = 0.8f;
        whole.useShadowClip = 1, whole.shadowClipIndex = 4, whole.useToneLevel = 1, whole.toneLevelRow = 1;
        whole.toneStrength = &strength, whole.localContrast = 1, whole.curveAmount = 0.3f, whole.strongCurve = 1;
        whole.colorMode = 2, whole.colorAmount = 0.6f, whole.sharpen = 1, whole.sharpenAmount = 1.0f;
        whole.warmTone = 1, whole.warmToneStrength = 0.7f, whole.colorCube = 1, whole.cubeSelect = 1, whole.cubeAlsoC = 1;
        Photo out = p;
        ASSERT_EQ(Apply(out.desc(), blob.get(), param.get(), whole), 0);

        ApplyArgs local;
        local.useVariant = 1, local.tintMode = 1, local.useShadowClip = 1, local.shadowClipIndex = 2;
        local.toneLevelRow = 1, local.toneStrength = &strength, local.localContrast = 1, local.curveAmount = 0.05f;
        local.colorMode = 1, local.colorAmount = 0.5f, local.sharpen = 1, local.sharpenAmount = 0.5f;
        local.cubeAlsoC = 1;
        Photo crop{64, 48, p.bytes, std::vector<uint8_t>(size_t(64) * 48 * 3 * p.bytes)};
        ASSERT_EQ(ApplyLocal(crop.desc(), blob.get(), param.get(), {30, 20, 64, 48}, local), 1);

        EXPECT_EQ(Checksum(out.px), wide ? "da7d95de6ab52457" : "46f106c7fade8b61") << (wide ? "16-bit" : "8-bit");
        EXPECT_EQ(Checksum(crop.px), wide ? "110446ab614310db" : "2feb1f361b4a83af") << (wide ? "16-bit" : "8-bit");
    }
}

}  // namespace
}  // namespace lx::test
