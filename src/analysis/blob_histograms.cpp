// SPDX-License-Identifier: MIT
#include "analysis/blob_histograms.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "image/sample_depth.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

// Three samples: red, green, blue.
struct Rgb {
    int64_t c[3];
};

template <class T>
void FillPlain(const ImageBlob& blob, bool tinted, const int64_t* f, int32_t* maxHist, int32_t* allHist) {
    const ImageView<const T> px = BlobView<const T>(blob);
    for (int32_t y = 0; y < px.height; ++y) {
        const T* p = px.channel[2] + y * px.rowStride;  // channel 3 is the pixel's first sample
        for (int32_t x = 0; x < px.width; ++x, p += 3) {
            Rgb v{{p[2], p[1], p[0]}};
            if (tinted) {
                for (int i = 0; i < 3; ++i) v.c[i] = TintLevel(v.c[i], f[i]);
                FinishTint<T>(v.c);
            }
            const int64_t* c = v.c;
            ++maxHist[std::max({c[0], c[1], c[2]})];
            ++allHist[c[0]], ++allHist[c[1]], ++allHist[c[2]];
        }
    }
}

constexpr int kMaxVariants = 5;

// A scaled sample as a pixel that stays below the top keeps it.
template <class T>
inline int32_t Limited(int64_t scaled) {
    return int32_t(std::clamp<int64_t>(scaled, 0, SampleDepth<T>::kFull));
}

// Adds a hot pixel of a tinted variant: its maximum, and its samples in
// place of the ones the moved channel counts give it.
template <class T>
inline void CountHotPixel(const int64_t* f, int64_t red, int64_t green, int64_t blue, int32_t* maxHist,
                          int32_t* allHist) {
    const Rgb scaled{{TintLevel(red, f[0]), TintLevel(green, f[1]), TintLevel(blue, f[2])}};
    Rgb v = scaled;
    FinishTint<T>(v.c);
    ++maxHist[std::max({v.c[0], v.c[1], v.c[2]})];
    for (int i = 0; i < 3; ++i) {
        ++allHist[v.c[i]];
        --allHist[Limited<T>(scaled.c[i])];
    }
}

// The variants split into the plain ones and the tinted ones.
struct VariantSplit {
    const VariantHistograms* plain[kMaxVariants];
    const VariantHistograms* tinted[kMaxVariants];
    int plainCount = 0, tintedCount = 0;

    VariantSplit(const VariantHistograms* variants, int count) {
        for (int i = 0; i < std::min(count, kMaxVariants); ++i) {
            if (variants[i].tinted) tinted[tintedCount++] = &variants[i];
            else plain[plainCount++] = &variants[i];
        }
    }
};

// The plain variants from the raw counts: every level moves down by the
// black level.
template <int32_t L>
void FinishPlain(const VariantSplit& s, int32_t black, const int32_t* rawMax, const int32_t* const channel[3]) {
    for (int p = 0; p < s.plainCount; ++p) {
        int32_t* maxHist = s.plain[p]->maxHist;
        int32_t* allHist = s.plain[p]->allHist;
        for (int32_t i = 0; i < L; ++i) {
            const bool in = i < L - black;
            maxHist[i] = in ? rawMax[i + black] : 0;
            allHist[i] = in ? channel[0][i + black] + channel[1][i + black] + channel[2][i + black] : 0;
        }
    }
}

// 8-bit: per pixel parity, so that runs of equal pixels do not wait on each
// other's increments.
struct Walk8 {
    int tintedCount = 0;
    int32_t black = 0;  // the samples are read lowered by it
    const int64_t* factors[kMaxVariants];
    int32_t* allHist[kMaxVariants];
    uint8_t hot[3][256];                 // bit j: variant j scales this sample past 255
    uint8_t scaled[kMaxVariants][3][256];  // the limited scaled sample of a pixel that is not hot
    int32_t channel[2][3][256];
    int32_t rawMax[2][256];
    int32_t tintMax[kMaxVariants][2][256];
};

template <int kTinted>
void WalkRows8(const ImageView<const uint8_t>& px, Walk8& w) {
    auto pixel = [&w](const uint8_t* p, int k) {
        const int r = p[2], g = p[1], b = p[0];
        ++w.channel[k][0][r], ++w.channel[k][1][g], ++w.channel[k][2][b];
        ++w.rawMax[k][std::max({r, g, b})];
        if constexpr (kTinted > 0) {
            const unsigned hot = unsigned{w.hot[0][r]} | w.hot[1][g] | w.hot[2][b];
            for (int j = 0; j < kTinted; ++j) {
                const uint8_t(*s)[256] = w.scaled[j];
                if (hot >> j & 1u) [[unlikely]]
                    CountHotPixel<uint8_t>(w.factors[j], r - w.black, g - w.black, b - w.black, w.tintMax[j][0],
                                           w.allHist[j]);
                else
                    ++w.tintMax[j][k][std::max({s[0][r], s[1][g], s[2][b]})];
            }
        }
    };
    for (int32_t y = 0; y < px.height; ++y) {
        const uint8_t* p = px.channel[2] + y * px.rowStride;
        int32_t x = 0;
        for (; x + 1 < px.width; x += 2, p += 6) {
            pixel(p, 0);
            pixel(p + 3, 1);
        }
        if (x < px.width) pixel(p, 0);
    }
}

// 16-bit: one set of counts, and the tinted samples scaled as they come.
// Factors from 0 to 65535 keep f x v within 32 bits, where the division by
// 1000 is cheap; any other factor takes the 64-bit form.
struct Tinted16 {
    uint32_t f[3];
    int64_t f64[3];
    int32_t* maxHist;
    int32_t* allHist;
};

template <int kTinted, bool kNarrow>
void WalkRows16(const ImageView<const uint16_t>& px, const Tinted16* tinted, int32_t black, int32_t* rawMax,
                int32_t* const channel[3]) {
    Tinted16 t[kTinted > 0 ? kTinted : 1];
    std::copy_n(tinted, kTinted, t);
    int32_t* const ch0 = channel[0];
    int32_t* const ch1 = channel[1];
    int32_t* const ch2 = channel[2];
    for (int32_t y = 0; y < px.height; ++y) {
        const uint16_t* p = px.channel[2] + y * px.rowStride;
        for (int32_t x = 0; x < px.width; ++x, p += 3) {
            const uint32_t r = p[2], g = p[1], b = p[0];
            ++ch0[r], ++ch1[g], ++ch2[b];
            if (rawMax != nullptr) ++rawMax[std::max({r, g, b})];
            const uint32_t lr = r - uint32_t(black), lg = g - uint32_t(black), lb = b - uint32_t(black);
            for (int j = 0; j < kTinted; ++j) {
                int64_t top;
                if constexpr (kNarrow) {
                    top = std::max({t[j].f[0] * lr / 1000, t[j].f[1] * lg / 1000, t[j].f[2] * lb / 1000});
                } else {
                    top = std::max({TintLevel(lr, t[j].f64[0]), TintLevel(lg, t[j].f64[1]), TintLevel(lb, t[j].f64[2])});
                }
                if (top > 65535) [[unlikely]]
                    CountHotPixel<uint16_t>(t[j].f64, lr, lg, lb, t[j].maxHist, t[j].allHist);
                else
                    ++t[j].maxHist[Limited<uint16_t>(top)];
            }
        }
    }
}

template <class F>
void DispatchTinted(int count, F&& f) {
    switch (count) {
        case 0: f(std::integral_constant<int, 0>{}); break;
        case 1: f(std::integral_constant<int, 1>{}); break;
        case 2: f(std::integral_constant<int, 2>{}); break;
        case 3: f(std::integral_constant<int, 3>{}); break;
        case 4: f(std::integral_constant<int, 4>{}); break;
        default: f(std::integral_constant<int, 5>{}); break;
    }
}

// A tinted variant's histogram of all samples: the channel counts moved
// through its scaling (limited), added to the hot pixels' corrections.
template <class T>
void MoveChannelCounts(const VariantHistograms& v, int32_t black, const int32_t* const channel[3]) {
    constexpr int32_t L = SampleDepth<T>::kLevels;
    for (int c = 0; c < 3; ++c)
        for (int32_t raw = black; raw < L; ++raw)
            if (channel[c][raw] != 0) v.allHist[Limited<T>(TintLevel(raw - black, v.factors[c]))] += channel[c][raw];
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
        for (int64_t v = 0; v < 256; ++v) scaled[i][v] = tinted ? TintLevel(v, factors[i]) : v;
    // [pixel column parity][channel][level]. A count is at most the number
    // of pixels, as in the plain pass.
    int32_t all[2][3][256] = {};
    int32_t max[2][256] = {};
    const ImageView<const uint8_t> px = BlobView<const uint8_t>(blob);
    for (int32_t y = 0; y < px.height; ++y) {
        const uint8_t* p = px.channel[2] + y * px.rowStride;
        for (int32_t x = 0; x < px.width; ++x, p += 3) {
            Rgb v{{scaled[0][p[2]], scaled[1][p[1]], scaled[2][p[0]]}};
            if (tinted) FinishTint<uint8_t>(v.c);
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

void FillVariantHistograms8(const ImageBlob& blob, int32_t black, const VariantHistograms* variants, int count) {
    const VariantSplit s(variants, count);
    Walk8 w{};
    w.tintedCount = s.tintedCount;
    w.black = black;
    for (int j = 0; j < s.tintedCount; ++j) {
        const int64_t* f = s.tinted[j]->factors;
        w.factors[j] = f;
        w.allHist[j] = s.tinted[j]->allHist;
        std::fill_n(w.allHist[j], 256, 0);
        for (int c = 0; c < 3; ++c)
            for (int32_t raw = 0; raw < 256; ++raw) {
                const int64_t scaled = TintLevel(raw - black, f[c]);
                w.scaled[j][c][raw] = uint8_t(Limited<uint8_t>(scaled));
                if (scaled > 255) w.hot[c][raw] |= uint8_t(1u << j);
            }
    }
    const ImageView<const uint8_t> px = BlobView<const uint8_t>(blob);
    DispatchTinted(s.tintedCount, [&](auto n) { WalkRows8<decltype(n)::value>(px, w); });

    int32_t rawMax[256], channel[3][256];
    for (int i = 0; i < 256; ++i) {
        rawMax[i] = w.rawMax[0][i] + w.rawMax[1][i];
        for (int c = 0; c < 3; ++c) channel[c][i] = w.channel[0][c][i] + w.channel[1][c][i];
    }
    const int32_t* const ch[3] = {channel[0], channel[1], channel[2]};
    FinishPlain<256>(s, black, rawMax, ch);
    for (int j = 0; j < s.tintedCount; ++j) {
        for (int i = 0; i < 256; ++i) s.tinted[j]->maxHist[i] = w.tintMax[j][0][i] + w.tintMax[j][1][i];
        MoveChannelCounts<uint8_t>(*s.tinted[j], black, ch);
    }
}

void FillVariantHistograms16(const ImageBlob& blob, int32_t black, const VariantHistograms* variants, int count,
                             int32_t* const channels[3]) {
    constexpr int32_t L = 65536;
    const VariantSplit s(variants, count);
    int32_t* const ch[3] = {channels[0], channels[1], channels[2]};
    for (int32_t* c : ch) std::fill_n(c, L, 0);
    // The raw maxima go to the first plain variant's table, moved down by
    // the black level at the end.
    int32_t* rawMax = s.plainCount > 0 ? s.plain[0]->maxHist : nullptr;
    if (rawMax != nullptr) std::fill_n(rawMax, L, 0);
    for (int j = 0; j < s.tintedCount; ++j) {
        std::fill_n(s.tinted[j]->maxHist, L, 0);
        std::fill_n(s.tinted[j]->allHist, L, 0);
    }
    Tinted16 tinted[kMaxVariants];
    bool narrow = true;
    for (int j = 0; j < s.tintedCount; ++j) {
        for (int c = 0; c < 3; ++c) {
            const int64_t f = s.tinted[j]->factors[c];
            narrow = narrow && f >= 0 && f <= 65535;
            tinted[j].f[c] = uint32_t(f);
            tinted[j].f64[c] = f;
        }
        tinted[j].maxHist = s.tinted[j]->maxHist;
        tinted[j].allHist = s.tinted[j]->allHist;
    }
    const ImageView<const uint16_t> px = BlobView<const uint16_t>(blob);
    DispatchTinted(s.tintedCount, [&](auto n) {
        if (narrow) WalkRows16<decltype(n)::value, true>(px, tinted, black, rawMax, ch);
        else WalkRows16<decltype(n)::value, false>(px, tinted, black, rawMax, ch);
    });

    if (rawMax != nullptr) {
        // The ranges overlap (they are the same when black is 0): memmove.
        std::memmove(rawMax, rawMax + black, size_t(L - black) * sizeof(*rawMax));
        std::fill(rawMax + (L - black), rawMax + L, 0);
        for (int32_t i = 0; i < L; ++i) {
            const bool in = i < L - black;
            s.plain[0]->allHist[i] = in ? ch[0][i + black] + ch[1][i + black] + ch[2][i + black] : 0;
        }
        for (int p = 1; p < s.plainCount; ++p) {
            std::copy_n(rawMax, L, s.plain[p]->maxHist);
            std::copy_n(s.plain[0]->allHist, L, s.plain[p]->allHist);
        }
    }
    for (int j = 0; j < s.tintedCount; ++j) MoveChannelCounts<uint16_t>(*s.tinted[j], black, ch);
}

}  // namespace lx
