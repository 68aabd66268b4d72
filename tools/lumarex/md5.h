// SPDX-License-Identifier: MIT
// The MD5 digest (RFC 1321), which names a JPEG's extended XMP
// (xmp_packet.h). Used as a name, never for security.
#pragma once

#include <string>
#include <string_view>

namespace lumarex_cli {

// The digest of `bytes` as 32 upper-case hexadecimal digits, as the GUID of
// an extended XMP is written.
std::string Md5Hex(std::string_view bytes);

}  // namespace lumarex_cli
