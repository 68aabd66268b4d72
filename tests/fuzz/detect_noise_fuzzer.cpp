// SPDX-License-Identifier: MIT
// DetectNoise with fuzzed descriptors and noise settings, against no noise
// library, a stand-in that accepts every call, and our NoiseLib17. It only
// measures: the caller's image must stay as it was, the result must be 1 or
// 0 (0 without a library), and the noise library's host blocks must all
// come back.
//
// The noise library reads one interleaved buffer: width x height pixels of
// three samples from the lower of channel 1 and channel 3, rows rowStride
// bytes apart. The harness builds that buffer whenever the library would
// read it (a pixel stride of three samples and rows at least that far apart);
// the descriptor's fields are otherwise passed as fuzzed.
#include <algorithm>
#include <memory>
#include <vector>

#include "lumarex/lumarex.h"
#include "support/fuzz_input.h"
#include "support/harness.h"

namespace lx::fuzz {
namespace {

struct NoiseInput {
    uint8_t library = 0;  // UseNoiseLibrary
    int32_t sampleType = 0, width = 0, height = 0, rowStride = 0, pixelStride = 0;
    uint8_t blueFirst = 0;  // channel 3 at the buffer's start, channel 1 two samples on
    uint8_t shift = 0;      // the buffer's start, 0..7 bytes into the allocation
    int32_t preset = 0, levelOverride = -1, word0 = 0;
    int64_t qword = 0;
    FailPlan fail;
    uint32_t pixelSeed = 0;
};

template <class IO>
void Visit(IO& io, NoiseInput& f) {
    io(f.library), io(f.sampleType), io(f.width), io(f.height), io(f.rowStride), io(f.pixelStride);
    io(f.blueFirst), io(f.shift), io(f.preset), io(f.levelOverride), io(f.word0), io(f.qword);
    Visit(io, f.fail);
    io(f.pixelSeed);
}

constexpr int64_t kMaxSpan = 256 * 1024;

int32_t Wrap(int32_t v, int32_t side) { return v > side ? 1 + (v - 1) % side : v; }

void Run(const NoiseInput& f, std::span<const uint8_t> pixels) {
    // What the noise library would read, in bytes from the buffer's start.
    const int32_t bytes = f.sampleType != 0 ? 2 : 1;
    const int32_t pixelStride = bytes == 2 ? (f.pixelStride & ~1) : f.pixelStride;
    ImageDesc desc{f.sampleType, f.width, f.height, f.rowStride, f.pixelStride, nullptr, nullptr, nullptr};
    int64_t span = 0;
    if (pixelStride == 3 * bytes && desc.width > 0 && desc.height > 0 &&
        int64_t{desc.rowStride} >= int64_t{desc.width} * 3 * bytes) {
        desc.width = Wrap(desc.width, 64), desc.height = Wrap(desc.height, 64);
        const int64_t row = int64_t{desc.width} * 3 * bytes;
        span = int64_t{desc.rowStride} * (desc.height - 1) + row;
        if (span > kMaxSpan) desc.height = 1, span = row;
    }
    const size_t allocated = size_t(span) + 16;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[allocated]);
    uint32_t s = f.pixelSeed | 1u;
    for (size_t i = 0; i < allocated; ++i) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        buffer[i] = i < pixels.size() ? pixels[i] : uint8_t(s >> 24);
    }
    uint8_t* start = buffer.get() + f.shift % 8;
    desc.channel1 = start + (f.blueFirst % 2 ? 2 * bytes : 0);
    desc.channel2 = start + bytes;
    desc.channel3 = start + (f.blueFirst % 2 ? 0 : 2 * bytes);
    const std::vector<uint8_t> before(buffer.get(), buffer.get() + allocated);

    UseNoiseLibrary(f.library);
    Arm(f.fail);
    const int32_t result = DetectNoise(&desc, f.preset, f.levelOverride, f.word0, f.qword);
    Check(result == 0 || result == 1, "DetectNoise returns 1 or 0");
    if (f.library % 3 == 0) Check(result == 0, "DetectNoise fails without a noise library");
    Check(std::equal(before.begin(), before.end(), buffer.get()), "DetectNoise leaves the image as it was");
    ExpectLive(0, "after DetectNoise");
    UseNoiseLibrary(0);
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(NoiseInput)
