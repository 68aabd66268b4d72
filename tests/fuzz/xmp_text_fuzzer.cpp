// SPDX-License-Identifier: MIT
// The XMP packet's text as the command handles it (xmp_packet.h), on fuzzed
// text: a photo file's packet may be anything. Set upright, stripped of
// padding, split for a JPEG's segment and merged again, it never crashes or
// reads outside the text; a split keeps to the size asked and names its
// extension by the extension's digest.
#include <string>

#include "md5.h"
#include "support/fuzz_input.h"
#include "xmp_packet.h"

namespace lx::fuzz {
namespace {

using namespace lumarex_cli;

struct TextInput {
    uint16_t most = 0;  // the size a split must keep the packet to
};

template <class IO>
void Visit(IO& io, TextInput& t) {
    io(t.most);
}

void Run(const TextInput& in, std::span<const uint8_t> rest) {
    const std::string packet(reinterpret_cast<const char*>(rest.data()), rest.size());
    (void)XmpOfCorrected(packet, packet);
    (void)WithoutPadding(packet);
    const std::string guid = ExtendedXmpGuid(packet);
    Check(guid.empty() || (guid.size() == 32 && guid.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos),
          "a GUID is 32 hexadecimal digits");
    (void)MergedXmp(packet, packet);
    std::string main, extension;
    if (!SplitXmp(packet, in.most, main, extension)) {
        Check(main.empty() && extension.empty(), "a refused split sets nothing");
        return;
    }
    Check(main.size() <= in.most, "the split packet fits");
    Check(ExtendedXmpGuid(main) == Md5Hex(extension), "the packet names its extension by its digest");
    (void)MergedXmp(main, extension);
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(TextInput)
