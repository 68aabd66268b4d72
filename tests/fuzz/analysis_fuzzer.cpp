// SPDX-License-Identifier: MIT
// CalcImageBlobParam on blobs of fuzzed samples, descriptors and sample
// types, with a progress callback that stops at a fuzzed step and a host
// that fails at fuzzed points; then NeedTintCorrection on the record and
// FreeImageParam. The blob must stay as it was, a stopped or short analysis
// must leave nothing behind, and a record holds exactly its base map.
#include <cstring>
#include <vector>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/fuzz_host.h"
#include "support/fuzz_input.h"
#include "support/harness.h"
#include "support/seed_images.h"

namespace lx::fuzz {
namespace {

struct AnalysisInput {
    ImageFields image;
    FailPlan fail;
    uint8_t progress = 0;
};

template <class IO>
void Visit(IO& io, AnalysisInput& f) {
    Visit(io, f.image);
    Visit(io, f.fail);
    io(f.progress);
}

void Run(const AnalysisInput& f, std::span<const uint8_t> pixels) {
    FuzzHost& host = FuzzHost::Get();
    const int bytes = SampleBytes(f.image.sampleType);
    const CallerImage image(f.image, bytes, SizeRule{}, pixels);

    host.Arm({});
    ImageBlob* blob = AllocImageBlob(&image.desc());
    if (blob == nullptr) {
        host.ExpectLive(0, "after a refused AllocImageBlob");
        return;
    }
    const std::vector<uint8_t> before = BlobBytes(*blob);

    ProgressProbe probe(f.progress);
    host.Arm(f.fail);
    ImageParam* param = CalcImageBlobParam(blob, probe.callback(), probe.context());
    probe.ExpectConsistent(param != nullptr);
    Check(BlobBytes(*blob) == before, "CalcImageBlobParam leaves the blob as it was");
    host.ExpectLive(BlocksHeld(blob, param), "after CalcImageBlobParam");
    if (param != nullptr) {
        Check(param->width == blob->width && param->height == blob->height, "a record is of its blob's size");
        for (int32_t k = 0; k < 4; ++k) {
            const int32_t need = NeedTintCorrection(param, k);
            Check(need == 0 || need == 1, "the tint flags are 0 or 1");
        }
    }
    FreeImageParam(param);
    host.ExpectLive(BlocksHeld(blob, nullptr), "after FreeImageParam");
    FreeImageBlob(blob);
    host.ExpectLive(0, "after FreeImageBlob");
}

}  // namespace

std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    const std::vector<uint8_t> warm8 = CastGradient(16, 12, 1, 25), cool16 = CastGradient(12, 10, 2, -30);
    seeds.push_back(MakeSeed("warm8", AnalysisInput{{0, 16, 12, 48, 3, {0, 1, 2}, 1}, {}, 0}, warm8));
    seeds.push_back(MakeSeed("cool16", AnalysisInput{{1, 12, 10, 72, 6, {0, 2, 4}, 2}, {}, 0}, cool16));
    seeds.push_back(MakeSeed("noise8_stop_at_3", AnalysisInput{{0, 20, 20, 60, 3, {0, 1, 2}, 3}, {}, 3}));
    seeds.push_back(MakeSeed("progress_to_the_end", AnalysisInput{{0, 16, 12, 48, 3, {0, 1, 2}, 4}, {}, 7}, warm8));
    seeds.push_back(MakeSeed("flat_still", AnalysisInput{{0, 300, 200, 0, 0, {0, 1, 2}, 5}, {}, 0}));
    seeds.push_back(MakeSeed("one_row16", AnalysisInput{{1, 64, 1, 0, 6, {0, 2, 4}, 6}, {}, 0}));
    seeds.push_back(MakeSeed("one_pixel", AnalysisInput{{0, 1, 1, 3, 3, {0, 1, 2}, 7}, {}, 0}));
    seeds.push_back(MakeSeed("empty", AnalysisInput{{1, 5, 0, 30, 6, {0, 2, 4}, 8}, {}, 1}));
    seeds.push_back(MakeSeed("unknown_type", AnalysisInput{{-1, 5, 5, 15, 3, {0, 1, 2}, 9}, {}, 0}));
    seeds.push_back(MakeSeed("host_refuses_3", AnalysisInput{{0, 16, 12, 48, 3, {0, 1, 2}, 10}, {3, 0}, 0}, warm8));
    seeds.push_back(MakeSeed("lock_fails_5", AnalysisInput{{1, 12, 10, 72, 6, {0, 2, 4}, 11}, {0, 5}, 0}, cool16));
    return seeds;
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(AnalysisInput)
