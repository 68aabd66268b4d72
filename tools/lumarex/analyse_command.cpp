// SPDX-License-Identifier: MIT
// `lumarex analyse`: prints the analysis record of each photo as JSON.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/image_param.h"
#include "batch.h"
#include "commands.h"
#include "image_file.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "options.h"

namespace lumarex_cli {
namespace {

std::string Escape(const std::string& s) {
    std::string o;
    for (char c : s) {
        if (c == '"' || c == '\\') o += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            o += buf;
        } else {
            o += c;
        }
    }
    return o;
}

template <class T>
std::string List(const T* v, int n) {
    std::string s = "[";
    for (int i = 0; i < n; ++i) {
        if (i) s += ", ";
        if constexpr (std::is_floating_point_v<T>) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.6g", double(v[i]));
            s += buf;
        } else {
            s += std::to_string(v[i]);
        }
    }
    return s + "]";
}

template <class T, int N>
std::string Rows(const T (&v)[N], int n) {
    std::string s = "[";
    for (int i = 0; i < N; ++i) s += (i ? ", " : "") + List(v[i], n);
    return s + "]";
}

std::string Json(const std::string& file, int bits, const ImageParam& p) {
    std::string j = "  {\n";
    j += "    \"file\": \"" + Escape(file) + "\",\n";
    j += "    \"bits\": " + std::to_string(bits) + ",\n";
    j += "    \"width\": " + std::to_string(p.width) + ",\n";
    j += "    \"height\": " + std::to_string(p.height) + ",\n";
    j += "    \"blackLevel\": " + std::to_string(p.blackLevel) + ",\n";
    j += "    \"needTint\": " + List(p.needTint, kTintModes) + ",\n";
    j += "    \"tintGains\": " + Rows(p.tintGains, 3) + ",\n";
    j += "    \"whitePoint\": " + List(p.whitePoint, kStatVariants) + ",\n";
    j += "    \"toneLevels\": " + Rows(p.toneLevels, kStatVariants) + ",\n";
    j += "    \"shadowPercentiles\": " + Rows(p.shadowPercentiles, kShadowPercentiles) + ",\n";
    j += "    \"baseMap\": {\"valid\": " + std::to_string(p.baseMapValid) + ", \"low\": " +
         std::to_string(p.baseMapLow) + ", \"high\": " + std::to_string(p.baseMapHigh) + "}\n";
    return j + "  }";
}

}  // namespace

int RunAnalyse(int argc, char** argv, int first) {
    std::vector<Option> options;
    ParsedArgs args = ParseArgs(argc, argv, first, options, {});
    if (args.help) {
        PrintHelp("usage: lumarex analyse PHOTO...",
                  "Measures each photo as `lumarex correct` does and prints what it found as a JSON array, one "
                  "object per photo: the black level; for the four cast methods (nearest, box, adaptive, "
                  "average) whether the photo needs correcting and the channel gains; and for the photo as it "
                  "is (index 0) and after each method's cast removal (1..4): the white point, the lift "
                  "strengths for the three brightness targets and the dark percentiles 0.1 % .. 5 %. Levels "
                  "are in the file's own bits (0..255 or 0..65535).",
                  options);
        return 0;
    }
    if (!args.error.empty() || args.positional.empty()) {
        std::fprintf(stderr, "lumarex analyse: %s\n", args.error.empty() ? "no input files (see --help)" : args.error.c_str());
        return 2;
    }
    SetFilterRecord(LxHeapHostRecord());
    InstallStopHandler();
    int failed = 0;
    std::vector<std::string> objects;
    for (const std::string& in : args.positional) {
        if (g_stopRequested) return 130;
        Picture pic;
        std::string error, note;
        if (!ReadPicture(in, /*want16=*/true, pic, error, note)) {
            std::fprintf(stderr, "lumarex: %s: %s\n", in.c_str(), error.c_str());
            ++failed;
            continue;
        }
        ImageDesc d = DescribeRgb(pic);
        ImageBlob* blob = AllocImageBlob(&d);
        ImageParam* param = blob ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
        if (param == nullptr) {
            std::fprintf(stderr, "lumarex: %s: not enough memory to analyse it\n", in.c_str());
            ++failed;
        } else {
            objects.push_back(Json(in, pic.bits, *param));
            FreeImageParam(param);
        }
        if (blob) FreeImageBlob(blob);
    }
    std::printf("[\n");
    for (size_t i = 0; i < objects.size(); ++i) std::printf("%s%s\n", objects[i].c_str(), i + 1 < objects.size() ? "," : "");
    std::printf("]\n");
    return failed == 0 ? 0 : 1;
}

}  // namespace lumarex_cli
