// SPDX-License-Identifier: MIT
// The library's correction calls with typed settings: the 24 arguments of the
// one-shot correction and the 38 or 42 of the parameter-driven one are filled
// in one place from a Settings record (settings.h), whose units are turned
// into the library's here.
#pragma once

#include <cstdint>
#include <memory>

#include "lumarex/lumarex.h"
#include "settings.h"

namespace lumarex_cli {

// A rectangle of the analysed picture, in its pixels.
struct Region {
    int x = 0, y = 0, w = 0, h = 0;
};

// Where a blob lies in the analysed photo, for the local-contrast map the
// analysis cached: a blob pixel (x, y) reads the map at ((x + offsetX) /
// scale, (y + offsetY) / scale). A scaled-down copy of the photo (a
// zoomed-out preview) passes its scale, e.g. 0.25 for a copy a quarter as
// wide; the photo itself is {0, 0, 1}.
struct MapPlacement {
    int32_t offsetX = 0, offsetY = 0;
    float scale = 1.0f;
};

// Owners of the library's blobs and analysis records.
struct BlobDeleter {
    void operator()(ImageBlob* b) const { FreeImageBlob(b); }
};
struct ParamDeleter {
    void operator()(ImageParam* p) const { FreeImageParam(p); }
};
using BlobOwner = std::unique_ptr<ImageBlob, BlobDeleter>;
using ParamOwner = std::unique_ptr<ImageParam, ParamDeleter>;

// The library's forms of the table's units.
// --black-clip percent -> the one-shot's per mille of all samples (0.3 -> 3).
int32_t BlackClipPermille(float percent);
// --black-clip percent -> the analysis' dark percentile index, 0.1 % steps
// (0.1 -> 0, 5.0 -> 49); -1 when the clip is off.
int32_t ShadowPercentileIndex(float percent);
// --target percent grey -> the brightness step: 55 -> 0, 60 -> 1, 65 -> 2.
int32_t TargetStep(int percentGrey);

// The one-shot correction of an 8-bit picture in place. With `measure` the
// strength is measured (bounded by maxBrighten) and returned; otherwise
// `strength` percent is applied and returned.
int32_t CorrectInOnePass(const ImageDesc& image, const Settings& s, bool measure, int32_t strength);

// The parameter-driven correction of `blob` (analysed into `param`) into
// `out`, whole or only `region` (out then has the region's size). Sets
// `strength` to the lift applied. False on failure or when `progress` asked
// to stop. `map` places a blob other than the analysed one.
bool ApplyCorrection(const ImageDesc& out, const ImageBlob* blob, ImageParam* param, const Settings& s,
                     const Region* region, ProgressCallback progress, void* context, int32_t& strength,
                     const MapPlacement& map = {});

}  // namespace lumarex_cli
