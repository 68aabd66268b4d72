// SPDX-License-Identifier: MIT
// A frame around a photo: bands along its edges in one even colour, such as
// a scanned print's white border or a film still's black letterbox bars.
// The frame is not the photo. Analysed with it, a white border sets the
// white point and the key (a dim room is taken for a bright one and left
// unlifted), and black bars are taken for the photo's greys (a tungsten cast
// goes unseen) or its shadows (a landscape counts as low key). So the
// commands, the preview and the Python module analyse and judge the photo
// inside the frame, correct only that, and leave the frame as it is.
#pragma once

#include "correction.h"
#include "image_file.h"

namespace lumarex_cli {

struct Frame {
    int left = 0, top = 0, right = 0, bottom = 0;  // widths of the bands, pixels
    // How far in from each edge the photo is analysed: past the band by as
    // many lines again as its edge took to turn from frame to photo (a print
    // scanned askew meets its border along a slant, and the border's corners
    // reach in beyond the band).
    int reachLeft = 0, reachTop = 0, reachRight = 0, reachBottom = 0;

    bool Empty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    // The photo inside the frame, in the pixels of a `width` x `height`
    // picture: what is corrected.
    Region Inside(int width, int height) const { return {left, top, width - left - right, height - top - bottom}; }
    // What is analysed and judged.
    Region Analysed(int width, int height) const {
        return {reachLeft, reachTop, width - reachLeft - reachRight, height - reachTop - reachBottom};
    }
};

// A band is a run of lines (rows or columns, from an edge inward) whose
// channels each vary by at most kFrameNoise 8-bit levels (standard
// deviation: paper grain, scanner noise, a speck of dust) and whose mean lies
// within kFrameDrift of the outermost line's: a flat colour. The photo
// begins at the first line of which at least kFrameEdgeAway of the pixels lie
// more than kFrameSpread levels from that colour, at most kFrameEdge of the
// line's length (and 16 lines) past the flat run; the lines between (a JPEG's
// ringing, the slanting edge of a print scanned a little askew) join the
// band. A backdrop that goes on around a subject, whose lines stay mostly
// backdrop, is no frame. Bands count in pairs, on opposite edges in the same
// colour (a border all round, letterbox bars above and below); a single
// band along one edge is more likely the photo's own clipped sky or black
// ground. A band is at least kFrameLeast of the picture's side (and 2
// pixels) wide, and the photo analysed keeps at least half of each side;
// otherwise there is no frame. The photo's colour samples alone are read,
// alpha not.
inline constexpr double kFrameNoise = 4.0;
inline constexpr int kFrameSpread = 10;
inline constexpr int kFrameDrift = 6;
inline constexpr double kFrameEdge = 0.02;  // and at least 16 lines, a JPEG's colour block
inline constexpr double kFrameEdgeAway = 0.5;
inline constexpr double kFrameLeast = 0.01;
Frame FrameOf(const Picture& pic);

// The `part` of `pic` (inside it) described in place for the library, its
// rows at pic's stride. Points into `pic`.
ImageDesc DescribePart(Picture& pic, const Region& part);

// The analysis of the photo in `blob` (which holds `pic`'s samples): of the
// blob itself without a frame, else of a copy of the photo it analyses,
// made and let go here. Null when the library fails or the callback stops it.
ImageParam* AnalyseInsideFrame(const ImageBlob* blob, const Picture& pic, const Frame& frame,
                               ProgressCallback progress, void* context);

// The reason `analyse` and the preview show for a frame.
std::string FrameReason(const Frame& frame);

}  // namespace lumarex_cli
