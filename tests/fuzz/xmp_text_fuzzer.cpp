// SPDX-License-Identifier: MIT
// The XMP packet's text as the command handles it (xmp_packet.h), on fuzzed
// text: a photo file's packet may be anything. Set upright, stripped of
// padding, split for a JPEG's segment and merged again, it never crashes or
// reads outside the text; a split keeps to the size asked and names its
// extension by the extension's digest; IPTC fields joined to it keep its
// text and are joined once.
#include <string>
#include <vector>

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
    // IPTC fields joined to it: the packet's own text is kept whole, and a
    // second pass adds nothing.
    const std::vector<IptcField> fields = {{"Keywords", packet}, {"IPTC:City", packet},
                                           {"IPTC:DateCreated", packet.substr(0, 8)},
                                           {"IPTC:TimeCreated", packet.substr(packet.size() / 2)}};
    const std::string joined = XmpWithIptc(packet, fields);
    const size_t end = packet.rfind("</rdf:RDF>");
    Check(joined == packet || (end != std::string::npos && joined.compare(0, end, packet, 0, end) == 0 &&
                               joined.compare(joined.size() - (packet.size() - end), std::string::npos, packet,
                                              end) == 0),
          "the packet's text is kept whole");
    Check(XmpWithIptc(joined, fields) == joined, "a second pass adds nothing");
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
