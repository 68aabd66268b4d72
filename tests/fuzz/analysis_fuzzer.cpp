// SPDX-License-Identifier: MIT
// CalcImageBlobParam on blobs of fuzzed samples, descriptors and sample
// types, with a progress callback that stops at a fuzzed step and a host
// that fails at fuzzed points; then NeedTintCorrection on the record and
// FreeImageParam. The blob must stay as it was, a stopped or short analysis
// must leave nothing behind, and a record holds exactly its base map.
#include <vector>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/fuzz_input.h"
#include "support/harness.h"

namespace lx::fuzz {
namespace {

struct AnalysisInput {
    ImageFields image;
    FailPlan fail;
    uint8_t progress = 0;
};

template <class IO>
void Visit(IO& io, AnalysisInput& f) {
    Visit(io, f.image), Visit(io, f.fail), io(f.progress);
}

void Run(const AnalysisInput& f, std::span<const uint8_t> pixels) {
    const int bytes = SampleBytes(f.image.sampleType);
    const CallerImage image(f.image, bytes, SizeRule{}, pixels);

    Arm({});
    ImageBlob* blob = AllocImageBlob(&image.desc());
    if (blob == nullptr) {
        ExpectLive(0, "after a refused AllocImageBlob");
        return;
    }
    const std::vector<uint8_t> before = BlobBytes(*blob);

    ProgressProbe probe(f.progress);
    Arm(f.fail);
    ImageParam* param = CalcImageBlobParam(blob, probe.callback(), probe.context());
    probe.ExpectConsistent(param != nullptr);
    Check(BlobBytes(*blob) == before, "CalcImageBlobParam leaves the blob as it was");
    ExpectLive(BlocksHeld(blob, param), "after CalcImageBlobParam");
    if (param != nullptr) {
        Check(param->width == blob->width && param->height == blob->height, "a record is of its blob's size");
        for (int32_t k = 0; k < 4; ++k) {
            const int32_t need = NeedTintCorrection(param, k);
            Check(need == 0 || need == 1, "the tint flags are 0 or 1");
        }
    }
    FreeImageParam(param);
    ExpectLive(BlocksHeld(blob, nullptr), "after FreeImageParam");
    FreeImageBlob(blob);
    ExpectLive(0, "after FreeImageBlob");
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(AnalysisInput)
