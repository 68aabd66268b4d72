// SPDX-License-Identifier: MIT
// The colour space of an ICC profile (colour_profile.h) on fuzzed profile
// bytes, as a photo's file hands them over: a profile is read within its
// bytes, or refused; a space read gives finite colours for every level, in
// CIELAB and as sRGB numbers. Never a crash or undefined behaviour: the
// profile comes from whoever made the photo.
#include <cmath>

#include "colour_profile.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

using namespace lumarex_cli;

struct ProfileInput {
    uint8_t red = 0, green = 0, blue = 0;  // a colour to measure besides the greys
};

template <class IO>
void Visit(IO& io, ProfileInput& p) {
    io(p.red), io(p.green), io(p.blue);
}

void Expect(const RgbSpace& space, uint8_t r, uint8_t g, uint8_t b) {
    const Lab c = space.LabOf(r, g, b);
    Check(std::isfinite(c.l) && std::isfinite(c.a) && std::isfinite(c.b), "a colour is finite");
    Check(std::isfinite(space.LightnessOf(r, g, b)), "a lightness is finite");
    (void)space.SrgbOf(r, g, b);
}

void Run(const ProfileInput& in, std::span<const uint8_t> profile) {
    const std::optional<RgbSpace> space = SpaceOfIccProfile(profile.data(), profile.size());
    if (!space) return;
    for (int level = 0; level < 256; level += 15) Expect(*space, uint8_t(level), uint8_t(level), uint8_t(level));
    Expect(*space, in.red, in.green, in.blue);
    (void)space->CloseToSrgb(kSrgbTolerance);
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(ProfileInput)
