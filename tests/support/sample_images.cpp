// SPDX-License-Identifier: MIT
#include "support/sample_images.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace lx::test {
namespace {

// Reads the first three channels as 16-bit and box-shrinks by an integer
// factor with our own arithmetic, so the pixels do not depend on the image
// library's resampling.
Rgb16 LoadPhoto16(const std::string& path, int maxSide) {
    Rgb16 out;
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        ADD_FAILURE() << "cannot read photo " << path << ": " << OIIO::geterror();
        return out;
    }
    const OIIO::ImageSpec& spec = in->spec();
    const int w = spec.width, h = spec.height, nc = spec.nchannels;
    std::vector<uint16_t> all(size_t(w) * h * nc);
    if (!in->read_image(0, 0, 0, nc, OIIO::TypeDesc::UINT16, all.data())) {
        ADD_FAILURE() << "cannot decode photo " << path << ": " << in->geterror();
        return out;
    }
    int f = 1;
    while ((std::max(w, h) + f - 1) / f > maxSide) ++f;
    out.width = w / f;
    out.height = h / f;
    out.px.resize(size_t(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                uint64_t sum = 0;
                for (int j = 0; j < f; ++j)
                    for (int i = 0; i < f; ++i)
                        sum += all[(size_t(y * f + j) * w + (x * f + i)) * nc + std::min(c, nc - 1)];
                out.at(x, y)[c] = uint16_t(sum / (uint64_t(f) * f));
            }
    return out;
}

}  // namespace

Rgb16 LoadSample16(const std::string& name, int maxSide) {
    return LoadPhoto16(std::string(LUMAREX_SAMPLES_DIR) + "/" + name, maxSide);
}

Rgb8 LoadSample8(const std::string& name, int maxSide) {
    return LoadPhoto8(std::string(LUMAREX_SAMPLES_DIR) + "/" + name, maxSide);
}

Rgb8 LoadPhoto8(const std::string& path, int maxSide) {
    const Rgb16 wide = LoadPhoto16(path, maxSide);
    Rgb8 out{wide.width, wide.height, std::vector<uint8_t>(wide.px.size())};
    // 16-bit full range to 8 bits, rounded: v * 255 / 65535.
    for (size_t i = 0; i < wide.px.size(); ++i) out.px[i] = uint8_t((uint32_t(wide.px[i]) * 255 + 32767) / 65535);
    return out;
}

Photo LoadBacklitRoom(bool sixteenBit, int maxSide) {
    const Rgb16 p = LoadSample16("s06_indoor_backlit_room_16bit.png", maxSide);
    Photo out{p.width, p.height, sixteenBit ? 2 : 1, {}};
    out.px.resize(p.px.size() * out.bytes);
    for (size_t i = 0; i < p.px.size(); ++i) {
        if (sixteenBit) std::memcpy(&out.px[i * 2], &p.px[i], 2);
        else out.px[i] = uint8_t(p.px[i] >> 8);
    }
    return out;
}

}  // namespace lx::test
