// SPDX-License-Identifier: MIT
// `lumarex analyse`: prints the analysis record of each photo as JSON.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "analysis_json.h"
#include "batch.h"
#include "cli.h"
#include "correction.h"
#include "console.h"
#include "lumarex/analysis_record.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "photo_correction.h"
#include "settings.h"
#include "stop.h"

namespace lumarex_cli {
namespace {

using Json = nlohmann::ordered_json;

// A float as its shortest decimal form (1.05, not 1.0499999523162842).
double Shortest(float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

template <class T, size_t N>
Json List(const T (&v)[N]) {
    Json a = Json::array();
    for (const T& x : v) {
        if constexpr (std::is_floating_point_v<T>) a.push_back(Shortest(x));
        else a.push_back(x);
    }
    return a;
}

template <class T, size_t N, size_t M>
Json Rows(const T (&v)[N][M]) {
    Json a = Json::array();
    for (const auto& row : v) a.push_back(List(row));
    return a;
}

Json Describe(const std::string* file, int bits, const LxAnalysisRecord& r) {
    Json j;
    if (file) j["file"] = *file;
    j["bits"] = bits;
    j["width"] = r.width;
    j["height"] = r.height;
    j["blackLevel"] = r.blackLevel;
    j["needTint"] = List(r.needTint);
    j["tintGains"] = Rows(r.tintGains);
    j["whitePoint"] = List(r.whitePoint);
    j["toneLevels"] = Rows(r.toneLevels);
    j["shadowPercentiles"] = Rows(r.shadowPercentiles);
    j["baseMap"] = Json{{"valid", r.baseMapValid}, {"low", r.baseMapLow}, {"high", r.baseMapHigh}};
    return j;
}

// JSON text of `j`. Bytes of a name that are not UTF-8 (a file name from
// another system's encoding) become U+FFFD rather than fail the output.
std::string Text(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A photo's object as it stands in the printed array, but for its closing
// brace: one field per line, each field's value compact, so that the arrays
// of 50 percentiles stay readable. The text of every name and value is
// nlohmann's. The brace waits for what follows ("  },\n" before the next
// photo, "  }\n]\n" at the end), so that every line printed is whole.
std::string OpenObjectText(const Json& photo) {
    std::string text = "  {\n";
    size_t k = 0;
    for (const auto& [key, value] : photo.items()) {
        const bool last = ++k == photo.size();
        text += "    " + Text(Json(key)) + ": " + Text(value) + (last ? "\n" : ",\n");
    }
    return text;
}

// What `lumarex correct` with its defaults would decide for the photo: the
// settings it would call the library with, its summary and its reasons.
Json DescribeChoice(const Choice& c) {
    Json settings;
    for (const SettingInfo& info : SettingsTable())
        if (TakenBy(info, Command::kCorrect)) settings[info.name] = ValueText(info, c.settings);
    return Json{{"settings", settings}, {"summary", SummaryOf(c.outcome)}, {"reasons", c.reasons}};
}

}  // namespace

std::string AnalysisRecordJson(int bits, const LxAnalysisRecord& record, const Choice* choice) {
    Json j = Describe(nullptr, bits, record);
    if (choice) j["choice"] = DescribeChoice(*choice);
    return Text(j);
}

int AnalyseCommand::Run() {
    if (inputs.empty()) {
        std::fprintf(UserErr(), "lumarex analyse: no input files (see --help)\n");
        return 2;
    }
    SetFilterRecord(LxHeapHostRecord());
    RouteDecoderMessages();
    MemoryBudget budget(BudgetBytes(limits));
    int failed = 0;
    // The array is printed a photo at a time, each as soon as it is analysed,
    // so that a pipe sees them as they come and a stop keeps those finished.
    size_t printed = 0;
    // The JSON is what the command is for: standard output that does not
    // take it ends the run as a failure.
    std::string lost;
    const auto print = [&lost](const std::string& text, const std::string& closing) {
        if (lost.empty() && !PrintOutput(text, closing)) lost = std::strerror(errno ? errno : EIO);
    };
    print("[\n", "]\n");
    for (const std::string& in : inputs) {
        if (StopRequested() || !lost.empty()) break;
        BudgetedPhoto photo(budget, limits);
        Picture pic;
        std::string error, notes;
        if (!photo.Read(in, Work::kAnalyseOnly, /*want16=*/true, pic, notes, error,
                        [](float) { return StopRequested(); })) {
            if (StopRequested()) break;
            std::fprintf(UserErr(), "lumarex: %s: %s\n", in.c_str(), error.c_str());
            ++failed;
            continue;
        }
        const ImageDesc d = DescribeRgb(pic);
        const BlobOwner blob(AllocImageBlob(&d));
        // The analysis polls the stop, so that a stop in a large photo
        // still prints the photos finished before it within the grace period.
        const ProgressCallback poll = [](int32_t, int32_t, void*) -> int32_t { return StopRequested() ? 1 : 0; };
        PhotoChoices choices(pic);
        const ParamOwner param(blob ? AnalyseInsideFrame(blob.get(), pic, choices.frame(), poll, nullptr) : nullptr);
        if (StopRequested()) break;
        LxAnalysisRecord record;
        if (LxReadAnalysisRecord(param.get(), &record) == 1) {
            Json photo = Describe(&in, pic.bits, record);
            const Choice* choice = choices.For(DefaultSettings(Command::kCorrect), param.get(), error,
                                               [](float) { return StopRequested(); });
            if (choice) photo["choice"] = DescribeChoice(*choice);
            print((printed == 0 ? "" : "  },\n") + OpenObjectText(photo), "  }\n]\n");
            ++printed;
        } else {
            std::fprintf(UserErr(), "lumarex: %s: not enough memory to analyse it\n", in.c_str());
            ++failed;
        }
    }
    print(printed == 0 ? "]\n" : "  }\n]\n", "");
    if (!lost.empty()) {
        std::fprintf(UserErr(), "lumarex analyse: cannot write the JSON to standard output: %s\n", lost.c_str());
        return 1;
    }
    if (StopRequested()) {
        std::fprintf(UserErr(), "lumarex: stopped after %zu of %zu photos; the JSON holds those finished\n",
                     printed, inputs.size());
        return StopStatus();
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace lumarex_cli
