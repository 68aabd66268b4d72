// SPDX-License-Identifier: MIT
// Every export called with settings drawn from extreme values (NaN, infinities,
// the int32 limits, negative sizes and strides) on small images: the
// sanitizers must stay quiet, the results must be the documented ones, and no
// host block may be left behind.
#include <gtest/gtest.h>

#include "support/images.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lumarex/lumarex.h"
#include "noise/noise_library.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace {

using lx::test::BlobPtr;

class Draw {
    template <class C>
    auto Pick(const C& pool) -> std::decay_t<decltype(pool[0])> {
        return pool[std::uniform_int_distribution<size_t>(0, std::size(pool) - 1)(rng_)];
    }
    std::mt19937 rng_;

public:
    explicit Draw(uint32_t seed) : rng_(seed) {}
    int32_t Int() {
        static const int32_t pool[] = {std::numeric_limits<int32_t>::min(), -1000000, -300, -1, 0, 1, 2, 3, 4, 5, 6,
                                       12, 18, 49, 50, 100, 150, 255, 1000, 65535, std::numeric_limits<int32_t>::max()};
        return Pick(pool);
    }
    int32_t Switch() { return Pick(std::vector<int32_t>{0, 1, -7}); }
    float Float() {
        static const float pool[] = {std::numeric_limits<float>::quiet_NaN(), -INFINITY, INFINITY, -1e30f, -1.0f,
                                     0.0f, 0.05f, 0.5f, 0.7f, 1.0f, 2.0f, 1e30f};
        return Pick(pool);
    }
    int Small(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
};

using Image = lx::test::Photo;

Image Random(Draw& d, int bytes) {
    Image im{d.Small(1, 40), d.Small(1, 40), bytes, {}};
    im.px.resize(size_t(im.w) * im.h * 3 * bytes);
    const int base = d.Small(0, 200), spread = d.Small(0, 255);
    for (size_t i = 0; i < im.px.size(); ++i) im.px[i] = uint8_t(base + (i * 2654435761u >> 13) % (spread + 1));
    return im;
}

TEST(SettingsSweep, OneShotTakesAnySettings) {
    lx::test::TestHost host;
    Draw d(12345);
    for (int iteration = 0; iteration < 400; ++iteration) {
        Image im = Random(d, 1);
        ImageDesc desc = im.desc();
        int32_t strength = d.Int();
        ASSERT_EQ(LumarexComprehensive(&desc, d.Switch(), d.Int(), d.Int(), d.Float(), d.Int(), d.Switch(), d.Int(),
                                       &strength, d.Switch(), d.Int(), d.Int(), d.Int(), d.Float(), d.Switch(),
                                       d.Float(), d.Switch(), d.Int(), d.Int(), d.Switch(), d.Float(), d.Int(),
                                       d.Switch(), d.Int()),
                  0)
            << "iteration " << iteration;
        ASSERT_EQ(host.live(), 0);
    }
}

// A stand-in noise library that accepts every call and changes nothing, so
// that the denoise step runs too.
int32_t AcceptFill(NoiseParamBlock*, int32_t) { return 0; }
int32_t AcceptRemove(void*, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, NoiseParamBlock*, int32_t,
                     int32_t, int64_t) {
    return 0;
}

TEST(SettingsSweep, TwoPhaseTakesAnySettings) {
    lx::test::TestHost host;
    const lx::noise::EntryPoints saved = lx::noise::Entries();
    Draw d(54321);
    for (int iteration = 0; iteration < 300; ++iteration) {
        // Every other photo with a noise library, the rest without one.
        lx::noise::Entries().fillParams = iteration % 2 ? AcceptFill : nullptr;
        lx::noise::Entries().removeNoise = iteration % 2 ? AcceptRemove : nullptr;
        const int bytes = d.Small(1, 2);
        Image im = Random(d, bytes);
        ImageDesc in = im.desc();
        BlobPtr blob(AllocImageBlob(&in));
        ASSERT_NE(blob, nullptr);
        ImageParam* param = CalcImageBlobParam(blob.get(), nullptr, nullptr);
        ASSERT_NE(param, nullptr) << "iteration " << iteration;
        for (int k = 0; k < 4; ++k) NeedTintCorrection(param, k);

        Image out = im;
        ImageDesc o = out.desc();
        int32_t strength = d.Int();
        const int32_t r = ApplyImageBlobParam(
            &o, blob.get(), param, d.Int(), d.Int(), d.Float(), d.Switch(), d.Int(), d.Float(), d.Switch(), d.Int(),
            d.Switch(), d.Int(), d.Int(), &strength, d.Switch(), d.Float(), d.Switch(), d.Int(), d.Int(), d.Float(),
            d.Switch(), d.Float(), d.Switch(), d.Int(), d.Float(), d.Switch(), d.Int(), d.Int(), d.Switch(), d.Int(),
            d.Int(), d.Int(), d.Int(), d.Int(), 0, nullptr, nullptr);
        ASSERT_TRUE(r == 0 || r == -1);

        // A region somewhere in, at or past the blob's edge.
        Image crop{d.Small(1, 20), d.Small(1, 20), bytes, {}};
        crop.px.resize(size_t(crop.w) * crop.h * 3 * bytes);
        ImageDesc c = crop.desc();
        const int32_t local = ApplyImageBlobParamLocal(
            &c, blob.get(), param, d.Int(), d.Int(), d.Float(), d.Small(-2, 40), d.Small(-2, 40), d.Int(), d.Int(),
            d.Switch(), d.Int(), d.Float(), d.Switch(), d.Int(), d.Switch(), d.Int(), d.Int(), &strength, d.Switch(),
            d.Float(), d.Switch(), d.Int(), d.Int(), d.Float(), d.Switch(), d.Float(), d.Switch(), d.Int(), d.Float(),
            d.Switch(), d.Int(), d.Int(), d.Switch(), d.Int(), d.Int(), d.Int(), d.Int(), d.Int(), 0, nullptr,
            nullptr);
        ASSERT_TRUE(local == 0 || local == 1);
        FreeImageParam(param);
        blob.reset();
        ASSERT_EQ(host.live(), 0) << "iteration " << iteration;
    }
    lx::noise::Entries() = saved;
}

}  // namespace
