// SPDX-License-Identifier: MIT
// The base map of an analysis record: the local-contrast map of the value
// plane of the analysed blob, built once by the first pass that needs it and
// sampled by every later apply call.
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "image/image_view.h"

namespace lx {

// Builds the map from the value plane (the record's width x height) into a
// new host block, with its range, and hands both to the record:
// baseMap, baseMapLow, baseMapHigh and baseMapValid = 1. Local detail is
// floored at 8 (16-bit 2048) and divided by 255 (16-bit 65280); the range
// keeps all but 1 % of the map at either end (see local_contrast_map.h).
// Takes, in this order, the SmoothNorm table, the detail histogram, a detail
// plane and the map; false when the host refuses one, with every block
// released and the record unchanged.
template <class T>
bool BuildBaseMap(const Plane& value, ImageParam& param);

// The value plane's rows, made on request: Row(y, out) writes row y (the
// record's width) into out. Rows are asked for top to bottom, each once.
class ValueRows {
public:
    virtual void Row(int32_t y, float* out) const = 0;

protected:
    ~ValueRows() = default;
};

// BuildBaseMap for a pass that needs the values for nothing but the map:
// they are made a row at a time and go straight into the map's build.
// `room` is a value plane the caller owns (the record's size), whose
// contents are left unspecified: the plain kernels fill it with the values
// and build the map as BuildBaseMap does; the fast ones use two of its rows
// as scratch and touch no more of it. The same map, range and allocations.
template <class T>
bool BuildBaseMapFromRows(const ValueRows& rows, const Plane& room, ImageParam& param);

}  // namespace lx
