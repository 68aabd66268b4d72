// SPDX-License-Identifier: MIT
// lumarex_cubegen: builds the three 9 x 9 x 9 colour lattices (CubeA, CubeB,
// CubeC) from a few rules, checks every fixed row and edge case, and writes
// their trilinear coefficient tables as src/stages/color_cube_tables.cpp.
//
//   lumarex_cubegen <out.cpp>          write the tables
//   lumarex_cubegen --report           print how far the rules are from the
//                                      fixed rows and how smooth the result is
//
// Exits with 1 when any check fails; nothing is written then.
//
// The rules, on node colours x = (r, g, b) with V = max, C = max - min,
// saturation S = C / V, and the hue written as a primary p (the largest
// channel), an adjacent secondary and u = (mid - min) / C in [0, 1]:
//
//  CubeA  greys stay. A saturated colour at value V is moved like its
//         neighbouring primary and secondary at V, mixed by hue u: the
//         primary ramps give the move of red, green and blue (red gains a
//         little green, green gains red, blue gains red, dark ones are
//         darkened), the secondaries stay. Less saturated colours move by
//         S^1.5 of that, so near-greys barely move.
//  CubeB  CubeA followed by an S-shaped tone curve on every channel; the
//         curve is the monotone cubic through CubeB's grey points.
//  CubeC  each colour is scaled, keeping hue and saturation, so that its
//         largest channel follows a blend of the grey curve (S = 0) and the
//         primary curve (S = 1): contrast flattens on the neutral axis while
//         mid-level primaries rise.
//
// The rules come within a few levels of the fixed rows; what remains is
// removed by the smoothest correction field that makes every fixed node
// exact (least squared second differences over the lattice plus a small
// penalty on its size, fixed nodes held), so each correction fades out
// smoothly over about two nodes around the node it fixes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --- lattice geometry ----------------------------------------------------------

constexpr int kN = 9;                      // nodes per axis
constexpr int kCells = kN - 1;             // cells per axis
constexpr int kNodeCount = kN * kN * kN;   // 729
constexpr int kCellCount = kCells * kCells * kCells;  // 512
constexpr std::array<int, kN> kLevels = {0, 32, 64, 96, 128, 160, 192, 224, 255};
constexpr int kFracBits = 22;
constexpr int64_t kOne = int64_t{1} << kFracBits;

using Rgb = std::array<double, 3>;
using Rgb8 = std::array<int, 3>;

int NodeOfLevel(int level) {
    for (int i = 0; i < kN; ++i)
        if (kLevels[i] == level) return i;
    return -1;
}
int NodeId(int i, int j, int k) { return (i * kN + j) * kN + k; }
int NodeId(const Rgb8& levels) {
    return NodeId(NodeOfLevel(levels[0]), NodeOfLevel(levels[1]), NodeOfLevel(levels[2]));
}
Rgb8 LevelsOf(int id) { return {kLevels[id / (kN * kN)], kLevels[id / kN % kN], kLevels[id % kN]}; }

// A lattice: one output triple per node, in levels 0..255.
using Lattice = std::array<Rgb, kNodeCount>;
using Lattice8 = std::array<Rgb8, kNodeCount>;

// --- the fixed rows of each table ----------------------------------------------

struct Row {
    Rgb8 in;   // node levels
    Rgb8 out;  // lattice output
};

struct TableText {
    const char* name;
    std::array<int, kN> grey;                     // output level of grey g, each channel
    std::array<std::array<Rgb8, kN - 1>, 3> ramp;  // primary p at n = 32 .. 255
    std::array<Row, 3> listed;                    // skin, sky, foliage
};

const TableText kTextA = {
    "CubeA",
    {0, 32, 64, 96, 128, 160, 192, 224, 255},
    {{{{{29, 2, 0}, {59, 3, 0}, {90, 5, 0}, {121, 7, 0}, {154, 8, 0}, {187, 10, 0}, {221, 11, 0}, {255, 13, 0}}},
      {{{11, 28, 0}, {21, 48, 0}, {32, 76, 0}, {42, 107, 0}, {53, 141, 0}, {63, 176, 0}, {74, 215, 0}, {84, 255, 0}}},
      {{{5, 0, 28}, {10, 0, 52}, {14, 0, 81}, {19, 0, 112}, {24, 0, 145}, {29, 0, 180}, {33, 0, 217}, {38, 0, 255}}}}},
    {{{{192, 128, 96}, {191, 130, 96}}, {{96, 128, 192}, {102, 119, 184}}, {{64, 128, 64}, {80, 117, 64}}}},
};

const TableText kTextB = {
    "CubeB",
    {0, 25, 55, 89, 127, 166, 200, 230, 255},
    {{{{{23, 1, 0}, {50, 2, 0}, {82, 3, 0}, {118, 5, 0}, {159, 6, 0}, {195, 7, 0}, {227, 8, 0}, {255, 10, 0}}},
      {{{8, 22, 0}, {16, 40, 0}, {25, 67, 0}, {34, 102, 0}, {44, 143, 0}, {54, 183, 0}, {65, 222, 0}, {76, 255, 0}}},
      {{{3, 0, 22}, {7, 0, 43}, {10, 0, 72}, {14, 0, 107}, {19, 0, 148}, {23, 0, 187}, {26, 0, 224}, {31, 0, 255}}}}},
    {{{{192, 128, 96}, {199, 129, 89}}, {{96, 128, 192}, {96, 116, 192}}, {{64, 128, 64}, {71, 113, 55}}}},
};

// CubeC's primaries all follow one curve; the other two channels stay 0.
constexpr std::array<int, kN> kPrimaryC = {0, 37, 72, 106, 138, 165, 194, 224, 255};

TableText MakeTextC() {
    TableText t = {
        "CubeC",
        {0, 36, 69, 99, 127, 155, 186, 220, 255},
        {},
        {{{{192, 128, 96}, {190, 125, 93}}, {{96, 128, 192}, {93, 125, 190}}, {{64, 128, 64}, {66, 132, 66}}}},
    };
    for (int p = 0; p < 3; ++p)
        for (int n = 1; n < kN; ++n) {
            t.ramp[p][n - 1] = {0, 0, 0};
            t.ramp[p][n - 1][p] = kPrimaryC[n];
        }
    return t;
}
const TableText kTextC = MakeTextC();

// Every fixed node of a table: the grey axis, the primary ramps, the three
// full secondaries (unchanged) and the listed colours.
std::vector<Row> FixedRows(const TableText& t) {
    std::vector<Row> rows;
    for (int n = 0; n < kN; ++n) {
        const int g = kLevels[n], o = t.grey[n];
        rows.push_back({{g, g, g}, {o, o, o}});
    }
    for (int p = 0; p < 3; ++p)
        for (int n = 1; n < kN; ++n) {
            Rgb8 in = {0, 0, 0};
            in[p] = kLevels[n];
            rows.push_back({in, t.ramp[p][n - 1]});
        }
    for (const Rgb8 s : {Rgb8{255, 255, 0}, Rgb8{0, 255, 255}, Rgb8{255, 0, 255}}) rows.push_back({s, s});
    for (const Row& r : t.listed) rows.push_back(r);
    return rows;
}

// --- rules ---------------------------------------------------------------------

// Monotone cubic through points with increasing x (Fritsch-Carlson slopes:
// weighted harmonic means of the neighbouring secants, 0 at a local extreme),
// so a monotone set of points gives a monotone curve without overshoot.
class MonotoneCurve {
public:
    MonotoneCurve(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y)) {
        const size_t n = x_.size();
        std::vector<double> h(n - 1), delta(n - 1);
        for (size_t i = 0; i + 1 < n; ++i) {
            h[i] = x_[i + 1] - x_[i];
            delta[i] = (y_[i + 1] - y_[i]) / h[i];
        }
        m_.assign(n, 0.0);
        m_[0] = delta[0];
        m_[n - 1] = delta[n - 2];
        for (size_t i = 1; i + 1 < n; ++i) {
            if (delta[i - 1] * delta[i] <= 0.0) continue;
            const double w1 = 2.0 * h[i] + h[i - 1], w2 = h[i] + 2.0 * h[i - 1];
            m_[i] = (w1 + w2) / (w1 / delta[i - 1] + w2 / delta[i]);
        }
    }
    double operator()(double v) const {
        v = std::clamp(v, x_.front(), x_.back());
        size_t i = 0;
        while (i + 2 < x_.size() && v > x_[i + 1]) ++i;
        const double h = x_[i + 1] - x_[i], t = (v - x_[i]) / h;
        const double t2 = t * t, t3 = t2 * t;
        return (2.0 * t3 - 3.0 * t2 + 1.0) * y_[i] + (t3 - 2.0 * t2 + t) * h * m_[i] +
               (-2.0 * t3 + 3.0 * t2) * y_[i + 1] + (t3 - t2) * h * m_[i + 1];
    }

private:
    std::vector<double> x_, y_, m_;
};

MonotoneCurve GreyCurve(const TableText& t) {
    std::vector<double> x, y;
    for (int n = 0; n < kN; ++n) {
        x.push_back(kLevels[n]);
        y.push_back(t.grey[n]);
    }
    return MonotoneCurve(x, y);
}

// A node colour split into value, saturation and hue.
struct Hue {
    int v = 0, c = 0;          // max, max - min
    int hi = 0, mid = 1, lo = 2;  // channel order, largest first
    double s = 0.0, u = 0.0;   // saturation C / V; hue from primary (0) to secondary (1)
};

Hue SplitHue(const Rgb8& x) {
    Hue h;
    std::array<int, 3> order = {0, 1, 2};
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return x[a] > x[b]; });
    h.hi = order[0];
    h.mid = order[1];
    h.lo = order[2];
    h.v = x[h.hi];
    h.c = x[h.hi] - x[h.lo];
    if (h.c > 0) {
        h.s = double(h.c) / double(h.v);
        h.u = double(x[h.mid] - x[h.lo]) / double(h.c);
    }
    return h;
}

// CubeA's move of a fully saturated colour of value V (a node level) and the
// hue of `h`: the primary ramp's move mixed with the secondary's (none) by u.
Rgb SaturatedMoveA(const TableText& t, const Hue& h) {
    const Rgb8& ramp = t.ramp[h.hi][NodeOfLevel(h.v) - 1];
    Rgb move = {};
    for (int ch = 0; ch < 3; ++ch) {
        const double primary = ramp[ch] - (ch == h.hi ? h.v : 0);
        move[ch] = (1.0 - h.u) * primary;
    }
    return move;
}

Lattice RulesA(const TableText& t) {
    Lattice lat{};
    for (int id = 0; id < kNodeCount; ++id) {
        const Rgb8 x = LevelsOf(id);
        const Hue h = SplitHue(x);
        Rgb out = {double(x[0]), double(x[1]), double(x[2])};
        if (h.c > 0) {
            const Rgb move = SaturatedMoveA(t, h);
            const double weight = h.s * std::sqrt(h.s);  // S^1.5
            for (int ch = 0; ch < 3; ++ch) out[ch] += weight * move[ch];
        }
        lat[id] = out;
    }
    return lat;
}

Lattice RulesB(const TableText& t, const Lattice& a) {
    const MonotoneCurve tone = GreyCurve(t);
    Lattice lat{};
    for (int id = 0; id < kNodeCount; ++id)
        for (int ch = 0; ch < 3; ++ch) lat[id][ch] = tone(a[id][ch]);
    return lat;
}

Lattice RulesC(const TableText& t) {
    Lattice lat{};
    for (int id = 0; id < kNodeCount; ++id) {
        const Rgb8 x = LevelsOf(id);
        const Hue h = SplitHue(x);
        Rgb out = {0.0, 0.0, 0.0};
        if (h.v > 0) {
            const int n = NodeOfLevel(h.v);
            const double value = (1.0 - h.s) * t.grey[n] + h.s * kPrimaryC[n];
            for (int ch = 0; ch < 3; ++ch) out[ch] = x[ch] * value / h.v;
        }
        lat[id] = out;
    }
    return lat;
}

// --- smoothest correction through the fixed nodes --------------------------------

// Quadratic form of a correction field's cost: its roughness (squared second
// differences along each axis plus twice the squared mixed differences, a
// discrete thin plate) plus kFade times its squared size, so that a
// correction fades out over about two nodes instead of tilting the whole
// lattice.
constexpr double kFade = 0.1;

std::vector<double> CorrectionForm() {
    std::vector<double> q(size_t(kNodeCount) * kNodeCount, 0.0);
    auto add = [&](const std::vector<std::pair<int, double>>& stencil) {
        for (const auto& [a, wa] : stencil)
            for (const auto& [b, wb] : stencil) q[size_t(a) * kNodeCount + b] += wa * wb;
    };
    for (int i = 0; i < kN; ++i)
        for (int j = 0; j < kN; ++j)
            for (int k = 0; k < kN; ++k) {
                const std::array<int, 3> n = {i, j, k};
                auto id = [&](const std::array<int, 3>& off) {
                    return NodeId(n[0] + off[0], n[1] + off[1], n[2] + off[2]);
                };
                auto inside = [&](const std::array<int, 3>& off) {
                    for (int a = 0; a < 3; ++a)
                        if (n[a] + off[a] < 0 || n[a] + off[a] >= kN) return false;
                    return true;
                };
                for (int a = 0; a < 3; ++a) {
                    std::array<int, 3> lo{}, hi{};
                    lo[a] = -1;
                    hi[a] = 1;
                    if (inside(lo) && inside(hi)) add({{id(lo), 1.0}, {id({0, 0, 0}), -2.0}, {id(hi), 1.0}});
                    for (int b = a + 1; b < 3; ++b) {
                        std::array<int, 3> ea{}, eb{}, eab{};
                        ea[a] = 1;
                        eb[b] = 1;
                        eab[a] = 1;
                        eab[b] = 1;
                        if (!inside(eab)) continue;
                        const double w = std::sqrt(2.0);
                        add({{id({0, 0, 0}), w}, {id(ea), -w}, {id(eb), -w}, {id(eab), w}});
                    }
                }
            }
    for (int id = 0; id < kNodeCount; ++id) q[size_t(id) * kNodeCount + id] += kFade;
    return q;
}

// Adds to `lat` the correction field of least cost that equals target - lat
// on the fixed nodes, so that they come out exact.
void CorrectToRows(Lattice& lat, const std::vector<Row>& rows) {
    static const std::vector<double> q = CorrectionForm();
    std::vector<int> fixedAt(kNodeCount, -1);
    for (size_t r = 0; r < rows.size(); ++r) fixedAt[NodeId(rows[r].in)] = int(r);
    std::vector<int> free;
    for (int id = 0; id < kNodeCount; ++id)
        if (fixedAt[id] < 0) free.push_back(id);
    const size_t nf = free.size();

    // Cholesky factor of the free-free block (symmetric positive definite).
    std::vector<double> l(nf * nf, 0.0);
    for (size_t a = 0; a < nf; ++a)
        for (size_t b = 0; b <= a; ++b) {
            double sum = q[size_t(free[a]) * kNodeCount + free[b]];
            for (size_t c = 0; c < b; ++c) sum -= l[a * nf + c] * l[b * nf + c];
            l[a * nf + b] = a == b ? std::sqrt(sum) : sum / l[b * nf + b];
        }

    for (int ch = 0; ch < 3; ++ch) {
        std::vector<double> fix(kNodeCount, 0.0);
        for (const Row& r : rows) fix[NodeId(r.in)] = r.out[ch] - lat[NodeId(r.in)][ch];
        // Free part solves Q_ff d = -Q_fk fix.
        std::vector<double> rhs(nf, 0.0);
        for (size_t a = 0; a < nf; ++a) {
            double sum = 0.0;
            for (int id = 0; id < kNodeCount; ++id)
                if (fixedAt[id] >= 0) sum += q[size_t(free[a]) * kNodeCount + id] * fix[id];
            rhs[a] = -sum;
        }
        for (size_t a = 0; a < nf; ++a) {
            double sum = rhs[a];
            for (size_t c = 0; c < a; ++c) sum -= l[a * nf + c] * rhs[c];
            rhs[a] = sum / l[a * nf + a];
        }
        for (size_t a = nf; a-- > 0;) {
            double sum = rhs[a];
            for (size_t c = a + 1; c < nf; ++c) sum -= l[c * nf + a] * rhs[c];
            rhs[a] = sum / l[a * nf + a];
        }
        for (size_t a = 0; a < nf; ++a) lat[free[a]][ch] += rhs[a];
        for (const Row& r : rows) lat[NodeId(r.in)][ch] = r.out[ch];
    }
}

// --- integer lattice and coefficients ----------------------------------------------

struct Problems {
    int count = 0;
    void Fail(const char* table, const std::string& what) {
        std::fprintf(stderr, "cubegen: %s: %s\n", table, what.c_str());
        ++count;
    }
};

std::string Str(const Rgb8& v) {
    return "(" + std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]) + ")";
}

// Nearest level, halves upward, clamped to 0..255. A value within 1e-6 of a
// rounding boundary would make the tables depend on the last bit of the
// arithmetic, so it is reported.
Lattice8 RoundLattice(const Lattice& lat, const char* name, Problems& problems) {
    Lattice8 out{};
    for (int id = 0; id < kNodeCount; ++id)
        for (int ch = 0; ch < 3; ++ch) {
            const double v = lat[id][ch];
            const double frac = v - std::floor(v);
            if (std::fabs(frac - 0.5) < 1e-6)
                problems.Fail(name, "node " + Str(LevelsOf(id)) + " lies on a rounding boundary");
            out[id][ch] = std::clamp(int(std::floor(v + 0.5)), 0, 255);
        }
    return out;
}

// floor(num * 2^22 / den + 1/2) exactly, den > 0.
int64_t FixedRound(int64_t num, int64_t den) {
    const int64_t n = num * kOne * 2 + den, d = 2 * den;
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

// Coefficients in storage order: d0d1d2, d0d1, d0d2, d0, d1d2, d1, d2, 1.
using Cell = std::array<int64_t, 8>;
struct Table {
    std::array<std::array<Cell, kCellCount>, 3> coef;  // output channel, cell
};

// The eight coefficients of one output channel of cell (i, j, k).
Cell CellCoefficients(const Lattice8& lat, int i, int j, int k, int ch) {
    const int64_t w0 = kLevels[i + 1] - kLevels[i], w1 = kLevels[j + 1] - kLevels[j], w2 = kLevels[k + 1] - kLevels[k];
    auto v = [&](int a, int b, int c) -> int64_t { return lat[NodeId(i + a, j + b, k + c)][ch]; };
    return {
        FixedRound(v(1, 1, 1) - v(1, 1, 0) - v(1, 0, 1) - v(0, 1, 1) + v(1, 0, 0) + v(0, 1, 0) + v(0, 0, 1) - v(0, 0, 0),
                   w0 * w1 * w2),
        FixedRound(v(1, 1, 0) - v(1, 0, 0) - v(0, 1, 0) + v(0, 0, 0), w0 * w1),
        FixedRound(v(1, 0, 1) - v(1, 0, 0) - v(0, 0, 1) + v(0, 0, 0), w0 * w2),
        FixedRound(v(1, 0, 0) - v(0, 0, 0), w0),
        FixedRound(v(0, 1, 1) - v(0, 1, 0) - v(0, 0, 1) + v(0, 0, 0), w1 * w2),
        FixedRound(v(0, 1, 0) - v(0, 0, 0), w1),
        FixedRound(v(0, 0, 1) - v(0, 0, 0), w2),
        v(0, 0, 0) * kOne,
    };
}

Table Coefficients(const Lattice8& lat) {
    Table t{};
    for (int i = 0; i < kCells; ++i)
        for (int j = 0; j < kCells; ++j)
            for (int k = 0; k < kCells; ++k)
                for (int ch = 0; ch < 3; ++ch) t.coef[ch][(kCells * i + j) * kCells + k] = CellCoefficients(lat, i, j, k, ch);
    return t;
}

int CellOf(int level) {
    int c = 0;
    while (c + 1 < kCells && level >= kLevels[c + 1]) ++c;
    return c;
}

// One output channel of one pixel as the library's 8-bit path computes it:
// the sum in 22-bit fixed point, floored, clamped to 0..255.
int Sum8(const Cell& c, int64_t d0, int64_t d1, int64_t d2) {
    const Cell m = {d0 * d1 * d2, d0 * d1, d0 * d2, d0, d1 * d2, d1, d2, 1};
    int64_t s = 0;
    for (int n = 0; n < 8; ++n) s += c[n] * m[n];
    const int64_t floored = s >= 0 ? s / kOne : -((-s + kOne - 1) / kOne);
    return int(std::clamp<int64_t>(floored, 0, 255));
}

struct Place {
    int i, j, k;     // cell
    int d0, d1, d2;  // distances above its lower node
};
Place PlaceOf(const Rgb8& x) {
    const int i = CellOf(x[0]), j = CellOf(x[1]), k = CellOf(x[2]);
    return {i, j, k, x[0] - kLevels[i], x[1] - kLevels[j], x[2] - kLevels[k]};
}

Rgb8 Apply8(const Table& t, const Rgb8& x) {
    const Place p = PlaceOf(x);
    Rgb8 out{};
    for (int ch = 0; ch < 3; ++ch) out[ch] = Sum8(t.coef[ch][(kCells * p.i + p.j) * kCells + p.k], p.d0, p.d1, p.d2);
    return out;
}

// 8-bit results that a table must give exactly, beyond its lattice rows.
std::vector<Row> Pins(const TableText& t) {
    std::vector<Row> pins;
    if (&t == &kTextA) {
        // Greys between nodes move a little because the other corners of
        // their cell are not grey; the grey nodes themselves, 255 included,
        // are kept; pure red shows the one-level shortfall of its rounded
        // coefficients.
        pins = {{{16, 16, 16}, {17, 15, 15}}, {{1, 1, 1}, {1, 0, 0}}, {{255, 0, 0}, {254, 12, 0}}};
        for (int g : kLevels) pins.push_back({{g, g, g}, {g, g, g}});
    } else if (&t == &kTextC) {
        // The rounded coefficients reproduce 255 as 254.99..., which the
        // shift truncates.
        pins = {{{255, 255, 255}, {254, 254, 254}}};
    }
    return pins;
}

// A pin's 8-bit result can hang on which way the corners of its cell were
// rounded (a few thousandths of a level decide between 254 and 255). For
// every pin that misses, the free corners of its cell (not fixed rows, smooth
// value not an integer) may be rounded the other way: of all such choices the
// one that meets every pin of the cell with the least total rounding error is
// kept, so each node still lies within one level of its smooth value.
// Returns the number of nodes rounded the other way (none for the current
// rules; the step keeps the pins safe when the rules are retuned).
int HoldPins(Lattice8& lat, const Lattice& smooth, const std::vector<Row>& rows, const std::vector<Row>& pins) {
    const Lattice8 nearest = lat;
    std::vector<bool> fixed(kNodeCount, false);
    for (const Row& r : rows) fixed[NodeId(r.in)] = true;
    for (const Row& pin : pins) {
        const Place p = PlaceOf(pin.in);
        for (int ch = 0; ch < 3; ++ch) {
            auto meetsAll = [&]() {
                const Cell c = CellCoefficients(lat, p.i, p.j, p.k, ch);
                for (const Row& other : pins) {
                    const Place q = PlaceOf(other.in);
                    if (q.i == p.i && q.j == p.j && q.k == p.k && Sum8(c, q.d0, q.d1, q.d2) != other.out[ch])
                        return false;
                }
                return true;
            };
            if (meetsAll()) continue;
            std::vector<int> corners;
            for (int n = 0; n < 8; ++n) {
                const int id = NodeId(p.i + (n & 1), p.j + (n >> 1 & 1), p.k + (n >> 2 & 1));
                if (!fixed[id] && smooth[id][ch] != std::floor(smooth[id][ch])) corners.push_back(id);
            }
            const Lattice8 original = lat;
            Lattice8 best = original;
            double bestError = -1.0;
            for (uint32_t choice = 0; choice < (1u << corners.size()); ++choice) {
                lat = original;
                double error = 0.0;
                for (size_t n = 0; n < corners.size(); ++n) {
                    const double v = smooth[corners[n]][ch];
                    lat[corners[n]][ch] = std::clamp(int(std::floor(v)) + int(choice >> n & 1), 0, 255);
                    error += std::fabs(lat[corners[n]][ch] - v);
                }
                if (meetsAll() && (bestError < 0.0 || error < bestError)) {
                    best = lat;
                    bestError = error;
                }
            }
            lat = best;
        }
    }
    int changed = 0;
    for (int id = 0; id < kNodeCount; ++id) changed += nearest[id] != lat[id];
    return changed;
}

// One 16-bit sample triple through a table as the library's 16-bit path
// computes it (double coefficients c / 2^22).
std::array<int, 3> Apply16(const Table& t, const std::array<int, 3>& v) {
    std::array<int, 3> cell{};
    std::array<double, 3> d{};
    for (int a = 0; a < 3; ++a) {
        cell[a] = CellOf(std::min((v[a] + 255) >> 8, 255));
        d[a] = v[a] * 0.00390625 - kLevels[cell[a]];
    }
    const std::array<double, 8> m = {d[0] * d[1] * d[2], d[0] * d[1], d[0] * d[2], d[0], d[1] * d[2], d[1], d[2], 1.0};
    std::array<int, 3> out{};
    for (int ch = 0; ch < 3; ++ch) {
        const Cell& c = t.coef[ch][(kCells * cell[0] + cell[1]) * kCells + cell[2]];
        double s = 0.0;
        for (int n = 0; n < 8; ++n) s += double(c[n]) * 0x1p-22 * m[n];
        out[ch] = s >= 255.0 ? 65280 : s <= 0.0 ? 0 : int(s * 256.0 + 0.5);
    }
    return out;
}

// --- checks ----------------------------------------------------------------------

// The 8-bit sum runs in int32 in the order d0d1d2, d0d1, d0d2, d0, d1d2, d1,
// d2, constant with d0..d2 in 0..32. Every partial sum is multilinear in the
// d's, so its extremes over the box lie at the box's corners.
void CheckInt32(const char* name, const Table& t, Problems& problems) {
    static constexpr int kDeg[8] = {3, 2, 2, 1, 2, 1, 1, 0};
    for (int ch = 0; ch < 3; ++ch)
        for (int cell = 0; cell < kCellCount; ++cell) {
            const Cell& c = t.coef[ch][cell];
            bool ok = true;
            for (int n = 0; n < 8; ++n) {
                int64_t bound = std::llabs(c[n]);
                for (int e = 0; e < kDeg[n]; ++e) bound *= 32;
                ok = ok && bound <= INT32_MAX;
            }
            for (int corner = 0; corner < 8; ++corner) {
                const int64_t d0 = corner & 1 ? 32 : 0, d1 = corner & 2 ? 32 : 0, d2 = corner & 4 ? 32 : 0;
                const Cell m = {d0 * d1 * d2, d0 * d1, d0 * d2, d0, d1 * d2, d1, d2, 1};
                int64_t s = 0;
                for (int n = 0; n < 8; ++n) {
                    s += c[n] * m[n];
                    ok = ok && s >= INT32_MIN && s <= INT32_MAX;
                }
            }
            if (!ok) problems.Fail(name, "cell " + std::to_string(cell) + " can overflow the 32-bit sum");
        }
}

// Hue angle in degrees (hexcone), or -1 for a grey.
double HueAngle(const Rgb& x) {
    const double hi = std::max({x[0], x[1], x[2]}), lo = std::min({x[0], x[1], x[2]}), c = hi - lo;
    if (c <= 0.0) return -1.0;
    double h;
    if (hi == x[0]) h = (x[1] - x[2]) / c;
    else if (hi == x[1]) h = 2.0 + (x[2] - x[0]) / c;
    else h = 4.0 + (x[0] - x[1]) / c;
    h *= 60.0;
    return h < 0.0 ? h + 360.0 : h;
}

struct Smoothness {
    double maxHueTurn = 0.0;   // degrees, over nodes with chroma >= 64
    double maxBend = 0.0;      // largest second difference of the move (out - in) along an axis
    int ownChannelDrops = 0;   // steps where an output falls as its own input rises
};

Smoothness Measure(const Lattice8& lat) {
    Smoothness m;
    for (int id = 0; id < kNodeCount; ++id) {
        const Rgb8 x = LevelsOf(id);
        const Rgb in = {double(x[0]), double(x[1]), double(x[2])};
        const Rgb out = {double(lat[id][0]), double(lat[id][1]), double(lat[id][2])};
        if (SplitHue(x).c >= 64) {
            double turn = std::fabs(HueAngle(out) - HueAngle(in));
            m.maxHueTurn = std::max(m.maxHueTurn, std::min(turn, 360.0 - turn));
        }
    }
    for (int i = 0; i < kN; ++i)
        for (int j = 0; j < kN; ++j)
            for (int k = 0; k < kN; ++k) {
                const std::array<int, 3> n = {i, j, k};
                for (int a = 0; a < 3; ++a) {
                    auto at = [&](int step) {
                        std::array<int, 3> p = n;
                        p[a] += step;
                        return NodeId(p[0], p[1], p[2]);
                    };
                    if (n[a] + 1 < kN && lat[at(1)][a] < lat[at(0)][a]) ++m.ownChannelDrops;
                    if (n[a] == 0 || n[a] + 1 >= kN) continue;
                    for (int ch = 0; ch < 3; ++ch) {
                        auto move = [&](int step) {
                            return double(lat[at(step)][ch]) - LevelsOf(at(step))[ch];
                        };
                        m.maxBend = std::max(m.maxBend, std::fabs(move(-1) - 2.0 * move(0) + move(1)));
                    }
                }
            }
    return m;
}

// Limits that a smooth table stays within.
constexpr double kMaxHueTurn = 30.0;  // the largest fixed turn is green towards yellow, about 20 degrees
constexpr double kMaxBend = 24.0;     // levels; the fixed ramps bend by up to 16

struct Built {
    const TableText* text;
    Lattice8 lattice;
    Table table;
};

void CheckTable(const Built& b, Problems& problems) {
    const char* name = b.text->name;
    const std::vector<Row> rows = FixedRows(*b.text);
    for (const Row& r : rows) {
        const Rgb8 got = b.lattice[NodeId(r.in)];
        if (got != r.out) problems.Fail(name, "lattice " + Str(r.in) + " is " + Str(got) + ", not " + Str(r.out));
        // 8-bit: exact at nodes below 255; where an input is 255 the rounded
        // coefficients may leave the sum just under the lattice value.
        const Rgb8 got8 = Apply8(b.table, r.in);
        const bool at255 = r.in[0] == 255 || r.in[1] == 255 || r.in[2] == 255;
        for (int ch = 0; ch < 3; ++ch)
            if (got8[ch] != r.out[ch] && !(at255 && got8[ch] == r.out[ch] - 1))
                problems.Fail(name, "8-bit " + Str(r.in) + " gives " + Str(got8) + ", not " + Str(r.out));
    }
    // Monotone grey axis and primary ramps (including their added channels).
    for (int n = 1; n < kN; ++n) {
        for (int ch = 0; ch < 3; ++ch) {
            const int g = kLevels[n], f = kLevels[n - 1];
            if (b.lattice[NodeId({g, g, g})][ch] < b.lattice[NodeId({f, f, f})][ch])
                problems.Fail(name, "grey axis falls at " + std::to_string(g));
            for (int p = 0; p < 3; ++p) {
                Rgb8 hi = {0, 0, 0}, lo = {0, 0, 0};
                hi[p] = g;
                lo[p] = f;
                if (b.lattice[NodeId(hi)][ch] < b.lattice[NodeId(lo)][ch])
                    problems.Fail(name, "primary ramp " + std::to_string(p) + " falls at " + std::to_string(g));
            }
        }
    }
    for (const Row& pin : Pins(*b.text)) {
        const Rgb8 got8 = Apply8(b.table, pin.in);
        if (got8 != pin.out) problems.Fail(name, "8-bit " + Str(pin.in) + " gives " + Str(got8) + ", not " + Str(pin.out));
    }
    const Smoothness m = Measure(b.lattice);
    if (m.ownChannelDrops > 0) problems.Fail(name, "an output channel falls as its own input rises");
    if (m.maxHueTurn > kMaxHueTurn) problems.Fail(name, "a hue turns by " + std::to_string(m.maxHueTurn) + " degrees");
    if (m.maxBend > kMaxBend) problems.Fail(name, "the colour move bends by " + std::to_string(m.maxBend) + " levels");
    CheckInt32(name, b.table, problems);
    // 16-bit white (and anything above 65280) uses the last cell and must
    // reach full scale on every channel.
    for (int ch = 0; ch < 3; ++ch)
        if (Apply16(b.table, {65535, 65535, 65535})[ch] != 65280) problems.Fail(name, "16-bit white is not 65280");
}

// --- report and output -----------------------------------------------------------

void Report(const char* name, const Lattice& rules, const std::vector<Row>& rows, const Lattice8& lat) {
    double worst = 0.0;
    std::printf("%s: rules against the fixed rows (largest miss per row, levels)\n", name);
    for (const Row& r : rows) {
        const Rgb& v = rules[NodeId(r.in)];
        double miss = 0.0;
        for (int ch = 0; ch < 3; ++ch) miss = std::max(miss, std::fabs(v[ch] - r.out[ch]));
        worst = std::max(worst, miss);
        if (miss >= 0.5)
            std::printf("  %-16s rules (%.1f, %.1f, %.1f), fixed %s\n", Str(r.in).c_str(), v[0], v[1], v[2],
                        Str(r.out).c_str());
    }
    const Smoothness m = Measure(lat);
    std::printf("  worst miss %.2f; hue turn %.1f deg; bend %.1f; own-channel drops %d\n", worst, m.maxHueTurn,
                m.maxBend, m.ownChannelDrops);
}

std::string Emit(const std::array<Built, 3>& tables) {
    std::ostringstream s;
    s << "// SPDX-License-Identifier: MIT\n"
         "// Generated by lumarex_cubegen (src/stages/cubegen/cubegen.cpp); do not edit.\n"
         "// Regenerate from the source root with\n"
         "//   <build>/src/stages/cubegen/lumarex_cubegen src/stages/color_cube_tables.cpp\n"
         "// The three colour tables: a 32-byte header (format 1, 8 cells per axis,\n"
         "// the node levels of each axis, a zero), then per output channel (red,\n"
         "// green, blue) 512 cells (index (8i + j) * 8 + k) of 8 coefficients with\n"
         "// 22 fractional bits, for d0d1d2, d0d1, d0d2, d0, d1d2, d1, d2, 1.\n"
         "#include \"stages/color_cube.h\"\n\n"
         "namespace lx {\n";
    const char* names[3] = {"kCubeA", "kCubeB", "kCubeC"};
    const char* channels[3] = {"red", "green", "blue"};
    for (int t = 0; t < 3; ++t) {
        s << "\nconst ColorCube " << names[t] << " = {\n    {1, 8, 8, 8,  // format, cells per axis\n";
        for (int a = 0; a < 3; ++a) {
            s << "     ";
            for (int n = 0; n < kN; ++n) s << ' ' << kLevels[n] << ',';
            s << "  // node levels, " << channels[a] << "\n";
        }
        s << "     0},\n    {\n";
        for (int ch = 0; ch < 3; ++ch) {
            s << "        {  // output " << channels[ch] << "\n";
            for (int cell = 0; cell < kCellCount; ++cell) {
                s << "            {";
                for (int n = 0; n < 8; ++n) s << (n ? ", " : "") << tables[t].table.coef[ch][cell][n];
                s << "},\n";
            }
            s << "        },\n";
        }
        s << "    },\n};\n";
    }
    s << "\n}  // namespace lx\n";
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumarex_cubegen <out.cpp> | --report\n");
        return 2;
    }
    const bool report = std::strcmp(argv[1], "--report") == 0;
    Problems problems;

    // CubeA, then CubeB from CubeA's corrected lattice, then CubeC.
    const Lattice rulesA = RulesA(kTextA);
    Lattice fittedA = rulesA;
    CorrectToRows(fittedA, FixedRows(kTextA));
    const Lattice rulesB = RulesB(kTextB, fittedA);
    Lattice fittedB = rulesB;
    CorrectToRows(fittedB, FixedRows(kTextB));
    const Lattice rulesC = RulesC(kTextC);
    Lattice fittedC = rulesC;
    CorrectToRows(fittedC, FixedRows(kTextC));

    std::array<Built, 3> built = {{{&kTextA, RoundLattice(fittedA, "CubeA", problems), {}},
                                   {&kTextB, RoundLattice(fittedB, "CubeB", problems), {}},
                                   {&kTextC, RoundLattice(fittedC, "CubeC", problems), {}}}};
    const std::array<const Lattice*, 3> smooth = {&fittedA, &fittedB, &fittedC};
    for (int t = 0; t < 3; ++t) {
        Built& b = built[t];
        const int turned = HoldPins(b.lattice, *smooth[t], FixedRows(*b.text), Pins(*b.text));
        if (report) std::printf("%s: %d node(s) rounded the other way to hold its 8-bit results\n", b.text->name, turned);
        b.table = Coefficients(b.lattice);
    }

    if (report) {
        Report("CubeA", rulesA, FixedRows(kTextA), built[0].lattice);
        Report("CubeB", rulesB, FixedRows(kTextB), built[1].lattice);
        Report("CubeC", rulesC, FixedRows(kTextC), built[2].lattice);
    }
    for (const Built& b : built) CheckTable(b, problems);
    if (problems.count > 0) {
        std::fprintf(stderr, "cubegen: %d check(s) failed; nothing written\n", problems.count);
        return 1;
    }
    if (report) return 0;

    std::ofstream out(argv[1], std::ios::binary);
    out << Emit(built);
    out.close();
    if (!out) {
        std::fprintf(stderr, "cubegen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
