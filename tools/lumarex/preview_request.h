// SPDX-License-Identifier: MIT
// What the preview page asks of `lumarex serve`, checked before any work:
// the settings (through the settings table, exactly as `lumarex correct`
// takes them on its command line), the part of the photo in view and the
// size it is shown at. Also the texts the page shows: the table as JSON and
// the `lumarex correct` command line for the current settings. Depends on
// neither the HTTP server nor the library, so that it is tested on its own.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "correction.h"
#include "settings.h"

namespace lumarex_cli {

// A request's parameters as (name, value) pairs, percent-decoded, in order.
using RequestParams = std::vector<std::pair<std::string, std::string>>;

// The largest picture one request may ask for, per side and in all: 8192
// device pixels covers a 4K screen at twice its width; 40 megapixels a 1:1
// view of a large photo on any screen.
inline constexpr int kMaxViewSide = 8192;
inline constexpr double kMaxViewPixels = 40e6;

// The area in view: `area` of the photo (pixels of the photo as displayed),
// shown `width` x `height` device pixels large.
struct ViewRequest {
    Region area;
    int width = 0, height = 0;
};

enum class ImageFormat { kJpeg, kPng };

struct RenderRequest {
    Settings settings = DefaultSettings(Command::kCorrect);
    ViewRequest view;
    ImageFormat format = ImageFormat::kJpeg;
    bool before = false;       // the photo as it is, uncorrected
    std::string client;        // the page's own name; empty when it gave none
    unsigned long long generation = 0;  // the client's request number: a higher one overtakes it
};

// The parameter names of `query` (an address's part after '?', or a form
// body) in order, percent-decoded ('+' is a space), repeats included. The
// HTTP library keeps a name given twice with the same value only once, so
// repetition is judged on the text as sent.
std::vector<std::string> ParameterNames(std::string_view query);

// The first name that `query` gives more than once; empty when none is.
std::string RepeatedParameter(std::string_view query);

// The first parameter of `query` with a second '=' ("brighten=5=200"),
// which the HTTP library reads as its last part; empty when none has one.
// No value of the page's has one ('=' in a value is sent as %3D).
std::string MalformedParameter(std::string_view query);

// Sets `s` from every parameter whose name is a setting of `lumarex correct`
// ("black-clip=0.3"); parameters named in `others` are skipped. False with
// `error` ("unknown setting 'x'", "black-clip must be between 0 and 5, got
// '7'") on anything else, including a setting given twice.
bool ParseSettings(const RequestParams& params, const std::vector<std::string>& others, Settings& s,
                   std::string& error);

// A render request against a photo of `photoWidth` x `photoHeight`: x, y, w,
// h (the area), width, height (the size shown), format (jpeg or png), view
// (after or before), client and gen, and the settings. The area must lie
// inside the photo; the size within kMaxViewSide and kMaxViewPixels.
bool ParseRenderRequest(const RequestParams& params, int photoWidth, int photoHeight, RenderRequest& r,
                        std::string& error);

// The settings table for the page, as JSON: every setting of `lumarex
// correct` with its name, unit, range, step, words, default and help text,
// in the order of --help.
std::string SettingsTableJson();

// A path quoted for a POSIX shell where it needs to be ('it'\''s.jpg').
std::string ShellQuoted(const std::string& word);

// The `lumarex correct` command that writes what the preview shows:
// "lumarex correct PHOTO -o OUTPUT" and every setting that differs from the
// command's default, in table order.
std::string CorrectCommandLine(const std::string& photo, const std::string& output, const Settings& s);

// NAME-corrected.EXT beside `photo` for n = 1, NAME-corrected-N.EXT after
// it (.tif for a format the command cannot write).
std::string CorrectedPath(const std::string& photo, int n);

// Where Save writes the corrected photo: the first CorrectedPath that does
// not exist yet, so that neither the photo nor an earlier save is replaced.
// Empty when 999 names are taken.
std::string SavePathFor(const std::string& photo);

}  // namespace lumarex_cli
