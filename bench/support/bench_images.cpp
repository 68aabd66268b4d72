// SPDX-License-Identifier: MIT
#include "support/bench_images.h"

#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace lx::bench {
namespace {

struct Source {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
};

const Source& LoadSource() {
    static const Source src = [] {
        Source s;
        const std::string path = std::string(LUMAREX_SAMPLES_DIR) + "/s01_tungsten_indoor_wine.jpg";
        auto in = OIIO::ImageInput::open(path);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            std::exit(1);
        }
        s.w = in->spec().width;
        s.h = in->spec().height;
        const int nc = in->spec().nchannels;
        std::vector<uint8_t> all(size_t(s.w) * s.h * nc);
        in->read_image(0, 0, 0, nc, OIIO::TypeDesc::UINT8, all.data());
        s.px.resize(size_t(s.w) * s.h * 3);
        for (size_t i = 0; i < size_t(s.w) * s.h; ++i)
            for (int c = 0; c < 3; ++c) s.px[i * 3 + c] = all[i * nc + (c < nc ? c : nc - 1)];
        return s;
    }();
    return src;
}

// Mirror-tiles coordinate v into [0, n).
int Mirror(int v, int n) {
    const int period = 2 * n;
    v %= period;
    return v < n ? v : period - 1 - v;
}

}  // namespace

const std::vector<uint8_t>& PhotoRgb8(int width, int height) {
    static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
    auto& out = cache[{width, height}];
    if (out.empty()) {
        const Source& s = LoadSource();
        out.resize(size_t(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            const int sy = Mirror(y, s.h);
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &s.px[(size_t(sy) * s.w + Mirror(x, s.w)) * 3];
                uint8_t* q = &out[(size_t(y) * width + x) * 3];
                q[0] = p[0], q[1] = p[1], q[2] = p[2];
            }
        }
    }
    return out;
}

const std::vector<uint16_t>& PhotoRgb16(int width, int height) {
    static std::map<std::pair<int, int>, std::vector<uint16_t>> cache;
    auto& out = cache[{width, height}];
    if (out.empty()) {
        const auto& p8 = PhotoRgb8(width, height);
        out.resize(p8.size());
        for (size_t i = 0; i < p8.size(); ++i) out[i] = uint16_t(p8[i] * 257);
    }
    return out;
}

}  // namespace lx::bench
