// SPDX-License-Identifier: MIT
// What `lumarex serve` makes of a request before any work, on fuzzed query
// text: the parameter names as sent (repeats), then the parameters split at
// '&' and '=' as the server's HTTP library hands them over, read as a render
// request against a photo of fuzzed size. A request is refused with a reason
// or gives a view inside the photo, within the size limits, whose scaled
// copy is a width the photo has, and settings whose command line and table
// can be printed; never a crash or undefined behaviour. The same text taken
// as a file name is quoted for the shell as UTF-8. The server may listen
// on every address, so this text comes from anyone on the network.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "preview_photo.h"
#include "preview_request.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

using namespace lumarex_cli;

struct RequestInput {
    uint16_t width = 0, height = 0;  // the photo's size: 0 is taken as 1
};

template <class IO>
void Visit(IO& io, RequestInput& r) {
    io(r.width), io(r.height);
}

RequestParams Split(std::string_view query) {
    RequestParams params;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const size_t eq = pair.find('=');
        params.emplace_back(std::string(pair.substr(0, eq)),
                            eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return params;
}

void Run(const RequestInput& in, std::span<const uint8_t> rest) {
    const std::string_view query(reinterpret_cast<const char*>(rest.data()), rest.size());
    // The query's bytes taken as a file name: quoted, it is UTF-8 that the
    // page's JSON carries (a strict dump throws on anything else).
    const std::string quoted = ShellQuoted(std::string(query));
    Check(!quoted.empty(), "a name is quoted");
    static_cast<void>(nlohmann::json(quoted).dump());  // throws, and so fails, on bytes that are not UTF-8

    const std::string twice = RepeatedParameter(query);
    Check(twice.empty() || ParameterNames(query).size() >= 2, "a repeat needs two names");

    const int W = in.width == 0 ? 1 : in.width, H = in.height == 0 ? 1 : in.height;
    RenderRequest r;
    std::string error;
    if (!ParseRenderRequest(Split(query), W, H, r, error)) {
        Check(!error.empty(), "a refused request says why");
        return;
    }
    const Region& a = r.view.area;
    Check(a.x >= 0 && a.y >= 0 && a.w >= 1 && a.h >= 1, "the area is not empty");
    Check(int64_t{a.x} + a.w <= W && int64_t{a.y} + a.h <= H, "the area lies inside the photo");
    Check(r.view.width >= 1 && r.view.height >= 1, "the view is not empty");
    Check(r.view.width <= kMaxViewSide && r.view.height <= kMaxViewSide, "the view's sides are within the limit");
    Check(double(r.view.width) * r.view.height <= kMaxViewPixels, "the view's pixels are within the limit");
    const int scaled = ScaledWidthFor(r.view, W);
    Check(scaled >= 1 && scaled <= W, "the scaled copy is a width the photo has");
    Check(!CorrectCommandLine("photo.jpg", "out.jpg", r.settings).empty(), "the command line is printed");
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(RequestInput)
