// SPDX-License-Identifier: MIT
// The parameter-driven correction: turns an image blob into a corrected
// image, steered by the blob's analysis record and the caller's settings.
// The same pipeline serves 8-bit and 16-bit images, and the whole blob or a
// region of it.
//
//   check      what the call can serve; the destination's view
//   set-up     gain tables and value plane from the host
//   levels     black point, white point, tone strength, tint factors;
//              the gain tables; the source (blob, region copy or denoised
//              copy); levelled channels and the value plane    -> progress 1
//   tone map   global gain, or blended by the base map (built
//              on the first call that needs it)                -> progress 2
//   sharpen    the value plane                                 -> progress 3
//   rebuild    channels scaled onto the value plane, or
//              colour restoration                              -> progress 4
//   warm tone                                                  -> progress 5
//   colour tables; release                                     -> progress 6
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "pipeline/apply_settings.h"

namespace lx {

// Strength of the value-plane sharpening of a whole W x H image before the
// caller's amount: sqrt(W x H / 7 000 000), kept within 0.1 .. 1.0, so that
// larger photos take more (0.209 at 640 x 480, 0.926 at 3000 x 2000).
float SharpenStrengthForSize(int32_t width, int32_t height);

// Correct the whole blob into `image`. Of the destination only the three
// channel pointers and the two strides are read: it must hold the blob's
// width x height pixels. True when every stage ran and the last progress
// call did not ask to stop; false on a memory failure, a noise-library
// failure, a stop request, or a call that cannot be served (a blob of
// another sample type, a tint mode, percentile index or tone row out of
// range, a null or (16-bit) misaligned channel pointer, or a base map to
// build for a blob of another size than the record's). A blob without
// pixels (width or height 0) succeeds with every progress call and nothing
// written.
bool ApplyBlobParam8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s);
bool ApplyBlobParam16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s);

// Correct the region of the blob at `region` of the destination's size.
// Both widths sample the base map at ((x + mapOffsetX + left) / mapScale,
// (y + mapOffsetY + top) / mapScale), so the 8-bit one honours mapScale too.
// Besides the cases above, false for a region that leaves the blob, and
// (8-bit) a destination that is not interleaved with a pixel stride of at
// least 3 bytes (exactly 3 when denoising), since the region copy takes its
// layout.
bool ApplyBlobParamLocal8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                          BlobRegion region);
bool ApplyBlobParamLocal16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                           const ApplySettings& s, BlobRegion region);

}  // namespace lx
