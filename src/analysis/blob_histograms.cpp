// SPDX-License-Identifier: MIT
#include "analysis/blob_histograms.h"

#include <algorithm>

#include "image/sample_depth.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

// Three samples: red, green, blue.
struct Rgb {
    int64_t c[3];
};

// The tinted samples, already scaled: stretched when the largest passes the
// top, then limited.
// Tinted samples whose largest passes the top sample value are drawn
// together below it; then each is limited to full scale (8-bit 255, 16-bit
// 65280).
template <class T>
inline Rgb FinishTinted(Rgb v) {
    using D = SampleDepth<T>;
    CompressHighlights(v.c, D::kTop);
    for (int64_t& c : v.c) c = std::clamp<int64_t>(c, 0, D::kFull);
    return v;
}

template <class T>
void FillPlain(const ImageBlob& blob, bool tinted, const int64_t* f, int32_t* maxHist, int32_t* allHist) {
    const ImageView<const T> px = BlobView<const T>(blob);
    for (int32_t y = 0; y < px.height; ++y) {
        const T* p = px.channel[2] + y * px.rowStride;  // channel 3 is the pixel's first sample
        for (int32_t x = 0; x < px.width; ++x, p += 3) {
            Rgb v{{p[2], p[1], p[0]}};
            if (tinted) {
                for (int i = 0; i < 3; ++i) v.c[i] = f[i] * v.c[i] / 1000;
                v = FinishTinted<T>(v);
            }
            const int64_t* c = v.c;
            ++maxHist[std::max({c[0], c[1], c[2]})];
            ++allHist[c[0]], ++allHist[c[1]], ++allHist[c[2]];
        }
    }
}

}  // namespace

void FillBlobHistograms8(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                         int32_t* allHist) {
    FillPlain<uint8_t>(blob, tinted, factors, maxHist, allHist);
}

void FillBlobHistograms16(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                          int32_t* allHist) {
    FillPlain<uint16_t>(blob, tinted, factors, maxHist, allHist);
}

void FillBlobHistograms8Tabled(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                               int32_t* allHist) {
    // scaled[i][v]: sample v of channel i (red, green, blue) as the plain
    // pass scales it; the identity without a tint.
    int64_t scaled[3][256];
    for (int i = 0; i < 3; ++i)
        for (int64_t v = 0; v < 256; ++v) scaled[i][v] = tinted ? factors[i] * v / 1000 : v;
    // [pixel column parity][channel][level]. A count is at most the number
    // of pixels, as in the plain pass.
    int32_t all[2][3][256] = {};
    int32_t max[2][256] = {};
    const ImageView<const uint8_t> px = BlobView<const uint8_t>(blob);
    for (int32_t y = 0; y < px.height; ++y) {
        const uint8_t* p = px.channel[2] + y * px.rowStride;
        for (int32_t x = 0; x < px.width; ++x, p += 3) {
            Rgb v{{scaled[0][p[2]], scaled[1][p[1]], scaled[2][p[0]]}};
            if (tinted) v = FinishTinted<uint8_t>(v);
            const int64_t* c = v.c;
            const int k = x & 1;
            ++max[k][std::max({c[0], c[1], c[2]})];
            ++all[k][0][c[0]], ++all[k][1][c[1]], ++all[k][2][c[2]];
        }
    }
    for (int v = 0; v < 256; ++v) {
        maxHist[v] += max[0][v] + max[1][v];
        allHist[v] += all[0][0][v] + all[0][1][v] + all[0][2][v] + all[1][0][v] + all[1][1][v] + all[1][2][v];
    }
}

}  // namespace lx
