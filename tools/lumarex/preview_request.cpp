// SPDX-License-Identifier: MIT
#include "preview_request.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <variant>

#include "image_file.h"
#include "utf8.h"

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

// The view and bookkeeping parameters of a render request.
const std::vector<std::string> kViewParams = {"x", "y", "w", "h", "width", "height", "format", "view", "client", "gen"};

// A whole number in lo..hi written in decimal digits alone (no sign other
// than a leading '-', no spaces, no exponent).
bool ParseWhole(const std::string& text, long long lo, long long hi, long long& out) {
    if (text.empty() || text.size() > 19) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(std::isdigit(static_cast<unsigned char>(text[i])) || (i == 0 && text[i] == '-' && text.size() > 1)))
            return false;
    errno = 0;
    out = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && out >= lo && out <= hi;
}

const std::string* Find(const RequestParams& params, const std::string& name) {
    for (const auto& [k, v] : params)
        if (k == name) return &v;
    return nullptr;
}

// A required whole-number parameter.
bool Whole(const RequestParams& params, const std::string& name, long long lo, long long hi, long long& out,
           std::string& error) {
    const std::string* v = Find(params, name);
    if (v == nullptr) {
        error = "missing parameter '" + name + "'";
        return false;
    }
    if (!ParseWhole(*v, lo, hi, out)) {
        error = name + " must be a whole number between " + std::to_string(lo) + " and " + std::to_string(hi) +
                ", got '" + *v + "'";
        return false;
    }
    return true;
}

bool IsClientName(const std::string& c) {
    return c.size() <= 64 && std::all_of(c.begin(), c.end(), [](char ch) {
               return std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_';
           });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            out += char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> ParameterNames(std::string_view query) {
    std::vector<std::string> names;
    for (size_t start = 0; start <= query.size();) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        if (!pair.empty()) names.push_back(Decoded(pair.substr(0, pair.find('='))));
        start = end + 1;
    }
    return names;
}

std::string MalformedParameter(std::string_view query) {
    for (size_t start = 0; start <= query.size();) {
        const size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        if (std::count(pair.begin(), pair.end(), '=') > 1) return std::string(pair);
        start = end + 1;
    }
    return {};
}

std::string RepeatedParameter(std::string_view query) {
    const std::vector<std::string> names = ParameterNames(query);
    std::set<std::string> seen;
    for (const std::string& name : names)
        if (!seen.insert(name).second) return name;
    return {};
}

bool ParseSettings(const RequestParams& params, const std::vector<std::string>& others, Settings& s,
                   std::string& error) {
    std::set<std::string> seen;
    for (const auto& [name, value] : params) {
        if (std::find(others.begin(), others.end(), name) != others.end()) continue;
        const SettingInfo* info = FindSetting(name);
        if (info == nullptr || !TakenBy(*info, Command::kCorrect)) {
            error = "unknown setting '" + name.substr(0, 64) + "'";
            return false;
        }
        if (!seen.insert(name).second) {
            error = "setting '" + name + "' given twice";
            return false;
        }
        // No setting's value is longer; a longer one is not cut to fit.
        if (value.size() > 64) {
            error = name + " is given a value of " + std::to_string(value.size()) + " characters";
            return false;
        }
        const std::string problem = SetFromText(*info, value, s);
        if (!problem.empty()) {
            error = name + " " + problem;
            return false;
        }
    }
    return true;
}

bool ParseRenderRequest(const RequestParams& params, int photoWidth, int photoHeight, RenderRequest& r,
                        std::string& error) {
    for (const std::string& name : kViewParams) {
        if (std::count_if(params.begin(), params.end(), [&](const auto& p) { return p.first == name; }) > 1) {
            error = "parameter '" + name + "' given twice";
            return false;
        }
    }
    long long x, y, w, h, width, height;
    if (!Whole(params, "x", 0, photoWidth - 1, x, error) || !Whole(params, "y", 0, photoHeight - 1, y, error) ||
        !Whole(params, "w", 1, photoWidth, w, error) || !Whole(params, "h", 1, photoHeight, h, error) ||
        !Whole(params, "width", 1, kMaxViewSide, width, error) ||
        !Whole(params, "height", 1, kMaxViewSide, height, error))
        return false;
    if (x + w > photoWidth || y + h > photoHeight) {
        error = "the area " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
                std::to_string(h) + " leaves the " + std::to_string(photoWidth) + "x" + std::to_string(photoHeight) +
                " photo";
        return false;
    }
    if (double(width) * double(height) > kMaxViewPixels) {
        error = "the view " + std::to_string(width) + "x" + std::to_string(height) + " is larger than 40 megapixels";
        return false;
    }
    r.view.area = Region{int(x), int(y), int(w), int(h)};
    r.view.width = int(width), r.view.height = int(height);

    const std::string* format = Find(params, "format");
    if (format && *format != "jpeg" && *format != "png") {
        error = "format must be jpeg or png, got '" + format->substr(0, 64) + "'";
        return false;
    }
    r.format = format && *format == "png" ? ImageFormat::kPng : ImageFormat::kJpeg;
    const std::string* view = Find(params, "view");
    if (view && *view != "after" && *view != "before") {
        error = "view must be after or before, got '" + view->substr(0, 64) + "'";
        return false;
    }
    r.before = view && *view == "before";
    const std::string* client = Find(params, "client");
    if (client && !IsClientName(*client)) {
        error = "client must be at most 64 letters, digits, '-' or '_'";
        return false;
    }
    r.client = client ? *client : std::string();
    long long gen = 0;
    // 2^53: the largest count a page's JavaScript numbers hold exactly.
    if (Find(params, "gen") && !Whole(params, "gen", 0, 1LL << 53, gen, error)) return false;
    r.generation = static_cast<unsigned long long>(gen);

    r.settings = DefaultSettings(Command::kCorrect);
    return ParseSettings(params, kViewParams, r.settings, error);
}

std::string SettingsTableJson() {
    const Settings defaults = DefaultSettings(Command::kCorrect);
    nlohmann::json table = nlohmann::json::array();
    for (const SettingInfo& info : SettingsTable()) {
        if (!TakenBy(info, Command::kCorrect)) continue;
        nlohmann::json words = nlohmann::json::array();
        for (const SettingWord& w : info.words) words.push_back(w.word);
        nlohmann::json e = {{"name", info.name},          {"unit", info.unit},
                            {"words", words},             {"step", info.step},
                            {"default", ValueText(info, defaults)},
                            {"range", RangeText(info)},   {"help", info.help},
                            {"whole", std::holds_alternative<int Settings::*>(info.field)}};
        if (info.lo <= info.hi) e["lo"] = info.lo, e["hi"] = info.hi;
        table.push_back(e);
    }
    return table.dump();
}

std::string ShellQuoted(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string("/._-+,:=@%").find(c) != std::string::npos;
    });
    if (plain) return word;
    if (IsUtf8(word)) {
        std::string q = "'";
        for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }
    // A name that is not UTF-8 (as a file system may hold) cannot be shown
    // as it is: its odd bytes are written as \xNN in $'...', which bash, zsh
    // and ksh read back to the same bytes.
    std::string q = "$'";
    for (size_t i = 0; i < word.size();) {
        const size_t n = Utf8SequenceAt(word, i);
        const unsigned char c = static_cast<unsigned char>(word[i]);
        if (n > 1) {
            q.append(word, i, n);
            i += n;
            continue;
        }
        if (c == '\\' || c == '\'') {
            q += '\\';
            q += char(c);
        } else if (n == 0 || c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", unsigned(c));
            q += hex;
        } else {
            q += char(c);
        }
        ++i;
    }
    return q + "'";
}

std::string CorrectCommandLine(const std::string& photo, const std::string& output, const Settings& s) {
    // A path starting with '-' would be read as an option, quoted or not.
    const auto path = [](const std::string& p) { return ShellQuoted(p.rfind('-', 0) == 0 ? "./" + p : p); };
    const Settings defaults = DefaultSettings(Command::kCorrect);
    std::string line = "lumarex correct " + path(photo) + " -o " + path(output);
    for (const SettingInfo& info : SettingsTable()) {
        if (!TakenBy(info, Command::kCorrect)) continue;
        const std::string value = ValueText(info, s);
        if (value != ValueText(info, defaults)) line += std::string(" --") + info.name + " " + value;
    }
    return line;
}

std::string CorrectedPath(const std::string& photo, int n) {
    const fs::path p(photo);
    const std::string ext = IsSupportedOutput(photo) ? p.extension().string() : std::string(".tif");
    const std::string name = p.stem().string() + "-corrected" + (n == 1 ? "" : "-" + std::to_string(n)) + ext;
    return (p.parent_path() / name).string();
}

std::string SavePathFor(const std::string& photo) {
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = CorrectedPath(photo, n);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
    return {};
}

}  // namespace lumarex_cli
