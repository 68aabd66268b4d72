// SPDX-License-Identifier: MIT
// Checksums of whole corrections of a real photo. The arithmetic is exact by
// design, so one checksum per case holds on every machine; a change of any
// output bit (a reordered float sum, a "harmless" optimisation) shows here.
// When an output changes on purpose, update the checksum in the same commit
// and say why.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "lumarex/lumarex.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace {

uint64_t Fnv1a(const void* data, size_t n) {
    uint64_t h = 1469598103934665603ull;
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

using lx::test::Photo;

std::string Hex(uint64_t h) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

TEST(Golden, OneShotCorrection) {
    lx::test::TestHost host;
    Photo p = lx::test::LoadBacklitRoom(false, 240);
    ImageDesc d = p.desc();
    int32_t strength = 60;
    LumarexComprehensive(&d, 1, 3, 0, 0.7f, 12, 1, 3, &strength, 1, 1, 40, 1, 0.5f, 1, 1.0f, 1, 1, 120, 1, 0.8f, 1,
                         1, 1);
    EXPECT_EQ(Hex(Fnv1a(p.px.data(), p.px.size())), "40f66f4e5142f038");
    EXPECT_EQ(strength, 81);
}

TEST(Golden, TwoPhaseCorrection) {
    lx::test::TestHost host;
    for (bool wide : {false, true}) {
        Photo p = lx::test::LoadBacklitRoom(wide, 240);
        ImageDesc in = p.desc();
        ImageBlob* blob = AllocImageBlob(&in);
        ImageParam* param = CalcImageBlobParam(blob, nullptr, nullptr);
        ASSERT_NE(param, nullptr);
        Photo whole = p;
        ImageDesc d = whole.desc();
        int32_t strength = 0;
        ASSERT_EQ(ApplyImageBlobParam(&d, blob, param, 0, 0, 1.0f, 1, 3, 0.8f, 1, 4, 1, 1, 100, &strength, 1, 0.3f,
                                      1, 12, 2, 0.6f, 1, 1.0f, 1, 0, 0.7f, 1, 1, 1, 0, 0, 0, 0, -1, -1, 0, nullptr,
                                      nullptr),
                  0);
        Photo crop{64, 48, p.bytes, std::vector<uint8_t>(size_t(64) * 48 * 3 * p.bytes)};
        ImageDesc dc = crop.desc();
        ASSERT_EQ(ApplyImageBlobParamLocal(&dc, blob, param, 0, 0, 1.0f, 30, 20, 64, 48, 1, 1, 1.0f, 1, 2, 0, 1, 100,
                                           &strength, 1, 0.05f, 0, 12, 1, 0.5f, 1, 0.5f, 0, 0, 0.0f, 0, 0, 1, 0, 0,
                                           0, 0, -1, -1, 0, nullptr, nullptr),
                  1);
        const char* expectWhole = wide ? "da7d95de6ab52457" : "46f106c7fade8b61";
        const char* expectCrop = wide ? "110446ab614310db" : "2feb1f361b4a83af";
        EXPECT_EQ(Hex(Fnv1a(whole.px.data(), whole.px.size())), expectWhole) << (wide ? "16-bit" : "8-bit");
        EXPECT_EQ(Hex(Fnv1a(crop.px.data(), crop.px.size())), expectCrop) << (wide ? "16-bit" : "8-bit");
        FreeImageParam(param);
        FreeImageBlob(blob);
    }
}

}  // namespace
