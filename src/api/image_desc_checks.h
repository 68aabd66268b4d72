// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <cstdint>

#include "lumarex/lumarex.h"

static_assert(sizeof(void*) == 8, "Lumarex is a 64-bit library");
static_assert(offsetof(ImageDesc, pixelStride) == 16);
static_assert(offsetof(ImageDesc, channel1) == 24, "the pointers follow the five int32 fields on an 8-byte boundary");
static_assert(offsetof(ImageDesc, channel3) == 40);
static_assert(sizeof(ImageDesc) == 48);
