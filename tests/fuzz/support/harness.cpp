// SPDX-License-Identifier: MIT
#include "support/harness.h"

#include <cstdio>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "noise/noise_binding.h"
#include "noise/noise_library.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

// The largest block the fuzz host hands out: larger requests are refused, as
// a host short of memory refuses them, so that hostile sizes fail fast.
constexpr int64_t kMaxBlockBytes = 4 * 1024 * 1024;

struct LimitedHost : test::TestHost {
    LimitedHost() { SetMaxBlockBytes(kMaxBlockBytes); }
};

}  // namespace

test::TestHost& Host() {
    static LimitedHost host;
    return host;
}

void ExpectLive(int64_t expected, const char* when) {
    if (Host().live() == expected) return;
    std::fprintf(stderr, "%lld host blocks out %s, expected %lld\n", static_cast<long long>(Host().live()), when,
                 static_cast<long long>(expected));
    Fail("every host block is returned when a call finishes");
}

int64_t BlocksHeld(const ImageBlob* blob, const ImageParam* param) {
    return (blob != nullptr && blob->pixels != nullptr ? 1 : 0) + (param != nullptr && param->baseMap != nullptr ? 1 : 0);
}

std::vector<uint8_t> BlobBytes(const ImageBlob& blob) {
    if (blob.pixels == nullptr) return {};
    const uint8_t* p = blob.pixels->Data();
    return std::vector<uint8_t>(p, p + blob.pixels->Size());
}

int32_t ProgressProbe::Report(int32_t step, int32_t total, void* context) {
    auto& p = *static_cast<ProgressProbe*>(context);
    Check(total == 6, "progress is reported out of 6 steps");
    Check(step == p.last_ + 1, "progress steps come in order, each once");
    Check(!p.stopped_, "no progress is reported after a stop");
    p.last_ = step;
    p.stopped_ = step == p.stopAt_;
    return p.stopped_ ? 1 : 0;
}

void ProgressProbe::ExpectConsistent(bool succeeded) const {
    if (stopped_) Check(!succeeded, "a call asked to stop fails");
    if (succeeded && on_) Check(last_ == 6, "a call that succeeds reports all six steps");
}

namespace {

int32_t AcceptFill(NoiseParamBlock*, int32_t) { return NOISELIB_OK; }
int32_t AcceptRemove(void*, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, NoiseParamBlock*, int32_t,
                     int32_t, int64_t) {
    return NOISELIB_OK;
}

void BindingMessage(const char* text) {
    std::fprintf(stderr, "binding " LX_FUZZ_NOISELIB ": %s\n", text);
    Fail("the noise library built with the harnesses binds completely");
}

// Our noise library, bound once; the host is handed to it as it would be by
// a host's SetFilterRecord after the library loaded.
const noise::EntryPoints& Ours() {
    static const noise::EntryPoints entries = [] {
        noise::BindNoiseLibraryAt(LX_FUZZ_NOISELIB, BindingMessage);
        SetFilterRecord(Host().record());
        return noise::Entries();
    }();
    return entries;
}

}  // namespace

void UseNoiseLibrary(uint8_t choice) {
    switch (choice % 3) {
    case 0: noise::Entries() = noise::EntryPoints{}; break;
    case 1: noise::Entries() = noise::EntryPoints{nullptr, AcceptFill, AcceptRemove}; break;
    default: noise::Entries() = Ours(); break;
    }
}

}  // namespace lx::fuzz
