// SPDX-License-Identifier: MIT
#include "frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace lumarex_cli {
namespace {

// One line of pixels: its mean colour in 8-bit levels, and whether its
// channels each vary by at most kFrameNoise levels (standard deviation).
struct Line {
    bool even = false;
    double mean[3] = {};
};

Line LineOf(const Picture& p, int x0, int y0, int dx, int dy, int n) {
    double sum[3] = {}, squares[3] = {};
    for (int k = 0; k < n; ++k) {
        const size_t i = (size_t(y0 + k * dy) * size_t(p.width) + size_t(x0 + k * dx)) * 3;
        for (int c = 0; c < 3; ++c) {
            // 8-bit levels; a 16-bit sample is 257 times one.
            const double v = double(Sample16(p, i + size_t(c))) / 257.0;
            sum[c] += v, squares[c] += v * v;
        }
    }
    Line line;
    line.even = true;
    for (int c = 0; c < 3; ++c) {
        line.mean[c] = sum[c] / double(n);
        const double variance = std::max(0.0, squares[c] / double(n) - line.mean[c] * line.mean[c]);
        line.even = line.even && variance <= kFrameNoise * kFrameNoise;
    }
    return line;
}

// The share of a line's pixels with a channel more than kFrameSpread
// levels from `colour`.
double ShareAway(const Picture& p, int x0, int y0, int dx, int dy, int n, const double (&colour)[3]) {
    int away = 0;
    for (int k = 0; k < n; ++k) {
        const size_t i = (size_t(y0 + k * dy) * size_t(p.width) + size_t(x0 + k * dx)) * 3;
        bool far = false;
        for (int c = 0; c < 3; ++c)
            far = far || std::fabs(double(Sample16(p, i + size_t(c))) / 257.0 - colour[c]) > kFrameSpread;
        away += far;
    }
    return double(away) / double(n);
}

bool Near(const double (&a)[3], const double (&b)[3], double by) {
    for (int c = 0; c < 3; ++c)
        if (std::fabs(a[c] - b[c]) > by) return false;
    return true;
}

// The band along one edge: its width and the outermost line's colour.
struct Band {
    int width = 0, reach = 0;
    double colour[3] = {};
};

// `side` 0..3: left, top, right, bottom.
Band BandAt(const Picture& p, int side) {
    const bool rows = side == 1 || side == 3;
    const int lines = rows ? p.height : p.width, length = rows ? p.width : p.height;
    // Line k from the edge: its first pixel; rows step along x, columns y.
    const int dx = rows ? 1 : 0, dy = rows ? 0 : 1;
    const auto x0 = [&](int k) { return side == 0 ? k : side == 2 ? p.width - 1 - k : 0; };
    const auto y0 = [&](int k) { return side == 1 ? k : side == 3 ? p.height - 1 - k : 0; };
    const auto line = [&](int k) { return LineOf(p, x0(k), y0(k), dx, dy, length); };
    Band band;
    const Line outer = line(0);
    if (!outer.even) return band;
    std::copy(std::begin(outer.mean), std::end(outer.mean), band.colour);
    band.width = 1;
    while (band.width < lines / 2) {
        const Line next = line(band.width);
        if (!next.even || !Near(next.mean, outer.mean, kFrameDrift)) break;
        ++band.width;
    }
    // Where the band ends the photo begins: at most kFrameEdge lines on
    // (the ringing of a JPEG's blocks, the slanting edge of a print scanned
    // a little askew, which join the band), most of a line is of other
    // colours. A backdrop that goes on around a subject is no frame.
    const int edge = std::max(16, int(std::ceil(kFrameEdge * length)));
    for (int k = band.width; k < band.width + edge && k < lines / 2; ++k) {
        if (ShareAway(p, x0(k), y0(k), dx, dy, length, band.colour) >= kFrameEdgeAway) {
            band.reach = std::min(2 * k - band.width, lines / 2);
            band.width = k;
            return band;
        }
    }
    band.width = 0;
    return band;
}

}  // namespace

Frame FrameOf(const Picture& pic) {
    Frame f;
    if (pic.width < 16 || pic.height < 16) return f;
    const Band left = BandAt(pic, 0), top = BandAt(pic, 1), right = BandAt(pic, 2), bottom = BandAt(pic, 3);
    const auto pair = [](const Band& a, const Band& b, int side) {
        const int least = std::max(2, int(std::ceil(kFrameLeast * side)));
        return a.width >= least && b.width >= least && (a.reach + b.reach) * 2 <= side &&
               Near(a.colour, b.colour, kFrameSpread);
    };
    if (pair(top, bottom, pic.height)) {
        f.top = top.width, f.bottom = bottom.width;
        f.reachTop = top.reach, f.reachBottom = bottom.reach;
    }
    if (pair(left, right, pic.width)) {
        f.left = left.width, f.right = right.width;
        f.reachLeft = left.reach, f.reachRight = right.reach;
    }
    return f;
}

ImageDesc DescribePart(Picture& pic, const Region& part) {
    ImageDesc d = DescribeRgb(pic);
    const std::ptrdiff_t skip = std::ptrdiff_t(part.y) * d.rowStride + std::ptrdiff_t(part.x) * d.pixelStride;
    d.width = part.w, d.height = part.h;
    d.channel1 = static_cast<uint8_t*>(d.channel1) + skip;
    d.channel2 = static_cast<uint8_t*>(d.channel2) + skip;
    d.channel3 = static_cast<uint8_t*>(d.channel3) + skip;
    return d;
}

ImageParam* AnalyseInsideFrame(const ImageBlob* blob, const Picture& pic, const Frame& frame,
                               ProgressCallback progress, void* context) {
    if (frame.Empty()) return blob ? CalcImageBlobParam(blob, progress, context) : nullptr;
    // The blob takes a copy of the samples; nothing writes through `d`.
    const ImageDesc d = DescribePart(const_cast<Picture&>(pic), frame.Analysed(pic.width, pic.height));
    const BlobOwner inside(AllocImageBlob(&d));
    return inside ? CalcImageBlobParam(inside.get(), progress, context) : nullptr;
}

std::string FrameReason(const Frame& frame) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "frame: %d, %d, %d and %d pixels (left, top, right, bottom) of one even colour, left out of "
                  "the analysis and kept as it is",
                  frame.left, frame.top, frame.right, frame.bottom);
    return text;
}

}  // namespace lumarex_cli
