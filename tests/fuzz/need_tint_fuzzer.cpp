// SPDX-License-Identifier: MIT
// NeedTintCorrection with indices from the whole int32 range, on no record
// and on the records of two small photos (8-bit with a warm cast, 16-bit with
// a cool one), made once: 0 for no record and for an index outside the
// record, the tint-mode flag (0 or 1) for 0..3, never a read outside the
// record.
#include <vector>

#include "analysis/image_param.h"
#include "lumarex/lumarex.h"
#include "support/fuzz_host.h"
#include "support/fuzz_input.h"
#include "support/seed_images.h"

namespace lx::fuzz {
namespace {

struct NeedTintInput {
    uint8_t record = 0;  // modulo 3: none, the 8-bit photo's, the 16-bit photo's
    int32_t index[4] = {0, 1, 2, 3};
};

template <class IO>
void Visit(IO& io, NeedTintInput& f) {
    io(f.record);
    for (int32_t& i : f.index) io(i);
}

// The record of a 16 x 12 cast gradient, kept for the whole run.
const ImageParam* RecordOf(int bytes) {
    FuzzHost::Get().Arm({});
    const std::vector<uint8_t> px = CastGradient(16, 12, bytes, bytes == 1 ? 40 : -40);
    const ImageDesc desc{bytes - 1, 16, 12, 48 * bytes, 3 * bytes, const_cast<uint8_t*>(px.data()),
                         const_cast<uint8_t*>(px.data()) + bytes, const_cast<uint8_t*>(px.data()) + 2 * bytes};
    ImageBlob* blob = AllocImageBlob(&desc);
    const ImageParam* param = blob != nullptr ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
    FreeImageBlob(blob);
    Check(param != nullptr, "a 16 x 12 photo is analysed");
    return param;
}

void Run(const NeedTintInput& f, std::span<const uint8_t>) {
    static const ImageParam* const records[3] = {nullptr, RecordOf(1), RecordOf(2)};
    const ImageParam* param = records[f.record % 3];
    constexpr int32_t kWords = int32_t(sizeof(ImageParam) / 4);
    for (int32_t index : f.index) {
        const int32_t word = NeedTintCorrection(param, index);
        if (param == nullptr || index < 0 || index >= kWords) Check(word == 0, "no record, or an index outside it, reads as 0");
        else if (index < 4) Check(word == param->needTint[index], "words 0..3 are the tint flags");
    }
}

}  // namespace

std::vector<Seed> Seeds() {
    return {MakeSeed("flags8", NeedTintInput{1, {0, 1, 2, 3}}), MakeSeed("flags16", NeedTintInput{2, {3, 2, 1, 0}}),
            MakeSeed("no_record", NeedTintInput{0, {0, 3, -1, INT32_MAX}}),
            MakeSeed("outside", NeedTintInput{1, {-1, 4, 294, INT32_MIN}}),
            MakeSeed("last_words", NeedTintInput{2, {292, 293, 294, INT32_MAX}})};
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(NeedTintInput)
