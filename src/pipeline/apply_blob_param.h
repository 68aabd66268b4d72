// SPDX-License-Identifier: MIT
// The parameter-driven correction: turns an image blob into a corrected
// image, steered by the blob's analysis record and the caller's settings.
// The same pipeline serves 8-bit and 16-bit images, and the whole blob or a
// region of it.
//
//   check      what the call can serve; the destination's view
//   set-up     gain tables; black point, white point, tone strength, tint
//              factors; the source (blob, its region, or a denoised copy)
//   levels     levelled channels and their largest value, per pixel
//   tone map   global gain, or blended by the base map (built on the first
//              call that needs it)
//   sharpen    the values
//   rebuild    channels scaled onto the values, or colour restoration
//   warm tone
//   colour tables
//
// The steps run a row at a time, so that the values live in a few row
// buffers instead of a full-size plane: a row is finished and stored as soon
// as the rows around it are sharpened. Progress calls 1 to 5 follow that
// single pass, and call 6 follows the release of the working memory; a stop
// request at any of them fails the call with the destination complete
// (a stop at 6 always did so). Where the steps must see the whole image in
// turn (the pass that builds the base map, or a destination whose channels
// or pixels share samples) they run one after the other over a full-size
// value plane, with progress 1 to 5 after the levels, tone map, sharpening,
// rebuild and warm tone, and a stop leaves the destination written up to
// that step. Both orders give the same bytes.
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

// The steps one after the other over the whole image (region null for the
// whole blob), as described above; for the tests that compare the orders.
bool ApplyBlobParamWholeSteps8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                               const ApplySettings& s, const BlobRegion* region);
bool ApplyBlobParamWholeSteps16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                                const ApplySettings& s, const BlobRegion* region);

}  // namespace lx
