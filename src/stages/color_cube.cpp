// SPDX-License-Identifier: MIT
#include "stages/color_cube.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace lx {
namespace {

constexpr int kAxes = 3;
// The tables' shape (512 cells) fixes 8 cells per axis; their headers say
// the same.
constexpr int kCellsPerAxis = ColorCube::kNodesPerAxis - 1;

// Cell (i, j, k) of a block: (cellsG * i + j) * cellsB + k.
constexpr int CellIndex(int i, int j, int k) { return (kCellsPerAxis * i + j) * kCellsPerAxis + k; }

// Tables derived from the constant data. They never change, so they are
// built once, while the library is loaded (static initialisation: no lock,
// and every call after it only reads them).
struct DerivedTables {
    // Per axis: entry x is the cell c with node[c] <= x < node[c + 1]; entry
    // 255 is the last cell. Built from CubeA's header: all three tables
    // share its grid.
    uint8_t cellOf[kAxes][256];
    int32_t node[kAxes][ColorCube::kNodesPerAxis];
    double nodeD[kAxes][ColorCube::kNodesPerAxis];
    // Double copies of A, B, C for the 16-bit form: c * 2^-22, computed as
    // c * 2^-31 * 512 (exact in double).
    double coefD[3][3][ColorCube::kCellCount][8];

    DerivedTables() {
        for (int a = 0; a < kAxes; ++a) {
            const uint8_t* levels = kCubeA.header + ColorCube::kNodesOffset + ColorCube::kNodesPerAxis * a;
            for (int n = 0; n < ColorCube::kNodesPerAxis; ++n) {
                node[a][n] = levels[n];
                nodeD[a][n] = double(levels[n]);
            }
            int pos = 0;
            for (int c = 0; c < kCellsPerAxis; ++c)
                for (; pos < levels[c + 1]; ++pos) cellOf[a][pos] = uint8_t(c);
            for (; pos < 256; ++pos) cellOf[a][pos] = uint8_t(kCellsPerAxis - 1);  // 255 and anything above the last node
        }
        const ColorCube* cubes[3] = {&kCubeA, &kCubeB, &kCubeC};
        for (int t = 0; t < 3; ++t)
            for (int ch = 0; ch < 3; ++ch)
                for (int cell = 0; cell < ColorCube::kCellCount; ++cell)
                    for (int n = 0; n < 8; ++n)
                        coefD[t][ch][cell][n] = double(cubes[t]->coef[ch][cell][n]) * 0x1p-31 * 512.0;
    }
};

// The constant tables are constant-initialised, so they are in place before
// this dynamic initialiser runs.
const DerivedTables g_derived;

const DerivedTables& Derived() { return g_derived; }

enum Table { kA = 0, kB = 1, kC = 2, kNone = -1 };

// One pixel through a table, 8-bit form: 32-bit integer sum in the stored
// order (the generator proves that no partial sum can overflow for d in
// 0..32), floored by the arithmetic shift, clamped.
struct Pixel8 {
    using Sample = uint8_t;
    using Coefs = int32_t[3][ColorCube::kCellCount][8];

    static const Coefs& CoefsOf(const DerivedTables&, int table) {
        return (table == kA ? kCubeA : table == kB ? kCubeB : kCubeC).coef;
    }

    static void Apply(const DerivedTables& t, const Coefs& coef, uint8_t* r, uint8_t* g, uint8_t* b) {
        const int32_t x0 = *r, x1 = *g, x2 = *b;
        const int i = t.cellOf[0][x0], j = t.cellOf[1][x1], k = t.cellOf[2][x2];
        const int32_t d0 = x0 - t.node[0][i], d1 = x1 - t.node[1][j], d2 = x2 - t.node[2][k];
        const int32_t d01 = d0 * d1, d02 = d0 * d2, d12 = d1 * d2, d012 = d01 * d2;
        const int cell = CellIndex(i, j, k);
        uint8_t out[3];
        for (int ch = 0; ch < 3; ++ch) {
            const int32_t* c = coef[ch][cell];
            const int32_t s = c[0] * d012 + c[1] * d01 + c[2] * d02 + c[3] * d0 + c[4] * d12 + c[5] * d1 + c[6] * d2 + c[7];
            out[ch] = uint8_t(std::clamp<int32_t>(s >> ColorCube::kFracBits, 0, 255));
        }
        *r = out[0];
        *g = out[1];
        *b = out[2];
    }
};

// One pixel through a table, 16-bit form, in double. The sample v is the
// level x = v / 256 in the cell of ceil(v / 256), so d can be up to one level
// below 0, and samples above 65280 use the last cell. The monomials are
// exact in double (d has at most 14 significant bits); the sum runs in the
// stored order.
struct Pixel16 {
    using Sample = uint16_t;
    using Coefs = double[3][ColorCube::kCellCount][8];

    static const Coefs& CoefsOf(const DerivedTables& t, int table) { return t.coefD[table]; }

    static int CellOf(const DerivedTables& t, int axis, int32_t v) {
        return t.cellOf[axis][std::min((v + 255) >> 8, 255)];
    }

    static void Apply(const DerivedTables& t, const Coefs& coef, uint16_t* r, uint16_t* g, uint16_t* b) {
        const int32_t v0 = *r, v1 = *g, v2 = *b;
        const int i = CellOf(t, 0, v0), j = CellOf(t, 1, v1), k = CellOf(t, 2, v2);
        const double d0 = double(v0) * 0.00390625 - t.nodeD[0][i];
        const double d1 = double(v1) * 0.00390625 - t.nodeD[1][j];
        const double d2 = double(v2) * 0.00390625 - t.nodeD[2][k];
        const double d01 = d0 * d1, d02 = d0 * d2, d12 = d1 * d2, d012 = d01 * d2;
        const int cell = CellIndex(i, j, k);
        uint16_t out[3];
        for (int ch = 0; ch < 3; ++ch) {
            const double* c = coef[ch][cell];
            const double s = c[0] * d012 + c[1] * d01 + c[2] * d02 + c[3] * d0 + c[4] * d12 + c[5] * d1 + c[6] * d2 + c[7];
            // s is finite: at most a few hundred levels in magnitude.
            out[ch] = s >= 255.0 ? 65280 : s <= 0.0 ? 0 : uint16_t(s * 256.0 + 0.5);
        }
        *r = out[0];
        *g = out[1];
        *b = out[2];
    }
};

// Passes the whole image through `first` (kNone for no table) and then, if
// `thenC`, the whole image through CubeC. Where no two pixels share a sample
// both tables run on one pixel before the next, which reads the image once.
template <class Px>
void ApplyTables(int first, bool thenC, const ImageView<typename Px::Sample>& image) {
    using Sample = typename Px::Sample;
    if (image.Empty() || !image.channel[0] || !image.channel[1] || !image.channel[2]) return;
    if (first == kNone && !thenC) return;
    const DerivedTables& t = Derived();
    const typename Px::Coefs& c = Px::CoefsOf(t, kC);
    auto pass = [&](const typename Px::Coefs& coef, auto andC) {
        for (int32_t y = 0; y < image.height; ++y) {
            Sample* row[3];
            image.Row(y, row);
            for (int32_t x = 0; x < image.width; ++x) {
                const int64_t at = int64_t{x} * image.pixelStride;
                Px::Apply(t, coef, row[0] + at, row[1] + at, row[2] + at);
                if constexpr (decltype(andC)::value) Px::Apply(t, c, row[0] + at, row[1] + at, row[2] + at);
            }
        }
    };
    if (first == kNone) {
        pass(c, std::false_type{});
    } else if (!thenC) {
        pass(Px::CoefsOf(t, first), std::false_type{});
    } else if (image.PixelsAreDisjoint()) {
        pass(Px::CoefsOf(t, first), std::true_type{});
    } else {
        pass(Px::CoefsOf(t, first), std::false_type{});
        pass(c, std::false_type{});
    }
}

int FirstTable(int32_t selector) { return selector == 0 ? kA : selector == 1 ? kB : kNone; }

}  // namespace

void ColorCubeApply8(int32_t selector, int32_t alsoC, const ImageView<uint8_t>& image) {
    ApplyTables<Pixel8>(FirstTable(selector), alsoC != 0, image);
}

void ColorCubeApply16(int32_t selector, int32_t alsoC, const ImageView<uint16_t>& image) {
    ApplyTables<Pixel16>(FirstTable(selector), alsoC != 0, image);
}

void ColorCubeApplyC8(const ImageView<uint8_t>& image) { ApplyTables<Pixel8>(kNone, true, image); }

void ColorCubeApplyC16(const ImageView<uint16_t>& image) { ApplyTables<Pixel16>(kNone, true, image); }

void ColorTables(int32_t cube, int32_t selector, int32_t alsoC, const ImageView<uint8_t>& image) {
    ApplyTables<Pixel8>(cube != 0 ? FirstTable(selector) : kNone, alsoC != 0, image);
}

void ColorTables(int32_t cube, int32_t selector, int32_t alsoC, const ImageView<uint16_t>& image) {
    ApplyTables<Pixel16>(cube != 0 ? FirstTable(selector) : kNone, alsoC != 0, image);
}

}  // namespace lx
