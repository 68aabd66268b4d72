// SPDX-License-Identifier: MIT
// Parts of the lumarex command on their own: the settings table and its
// units, the output plan, turning photos upright, the memory budget, the
// analysis record accessor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <tuple>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <fstream>
#include <thread>

#include "batch.h"
#include "cli.h"
#include "correction.h"
#include "image_file.h"
#include "lumarex/analysis_record.h"
#include "lumarex/heap_host.h"
#include "memory_budget.h"
#include "output_file.h"
#include "settings.h"

namespace lumarex_cli {
namespace {

TEST(SettingsTable, DefaultsReadBackAndValuesAreCheckedAgainstRangeStepAndWords) {
    for (const Command c : {Command::kAuto, Command::kCorrect}) {
        const Settings defaults = DefaultSettings(c);
        for (const SettingInfo& info : SettingsTable()) {
            const std::string text = ValueText(info, defaults);
            Settings s = DefaultSettings(c);
            EXPECT_EQ(SetFromText(info, text, s), "") << info.name << " = " << text;
            EXPECT_EQ(ValueText(info, s), text) << info.name;
            EXPECT_NE(std::string(info.help), "") << info.name;
            EXPECT_NE(info.commands, 0u) << info.name;
        }
    }
    EXPECT_EQ(FindSetting("no-such"), nullptr);
    Settings s;
    const SettingInfo& clip = *FindSetting("black-clip");
    EXPECT_EQ(SetFromText(clip, "0.3", s), "");
    EXPECT_EQ(s.blackClip, 0.3f);
    EXPECT_EQ(SetFromText(clip, "0.35", s), "must be a multiple of 0.1, got '0.35'");
    EXPECT_EQ(SetFromText(clip, "5.1", s), "must be between 0 and 5, got '5.1'");
    EXPECT_EQ(SetFromText(clip, "", s), "expects auto|0..5 in steps of 0.1, got ''");
    EXPECT_EQ(s.blackClip, 0.3f) << "a refused value leaves the setting";
    // A value that was held as a float (the plug-in's last values, NumPy's
    // float32) is still on its step: 4.3f is 4.3000001907... as a double.
    for (int tenths = 0; tenths <= 50; ++tenths) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", double(float(tenths) / 10.0f));
        EXPECT_EQ(SetFromText(clip, text, s), "") << text;
    }
    const SettingInfo& brighten = *FindSetting("brighten");
    EXPECT_EQ(SetFromText(brighten, "auto", s), "");
    EXPECT_EQ(s.brighten, kMeasured);
    EXPECT_EQ(SetFromText(brighten, "12.5", s), "must be a multiple of 1, got '12.5'");
    // A value reads back as the same float, however many digits it took.
    const SettingInfo& amount = *FindSetting("colour-amount");
    EXPECT_EQ(SetFromText(amount, "0.77777777", s), "");
    const float given = s.colourAmount;
    EXPECT_EQ(SetFromText(amount, ValueText(amount, s), s), "");
    EXPECT_EQ(s.colourAmount, given) << ValueText(amount, s);
    const SettingInfo& method = *FindSetting("cast-method");
    EXPECT_EQ(SetFromText(method, "box", s), "");
    EXPECT_EQ(s.castMethod, 1);
    EXPECT_EQ(SetFromText(method, "1", s), "expects nearest|box|adaptive|average, got '1'");
    // Numbers are decimal and finite, with nothing around them: "010" is
    // ten, not octal eight; hexadecimal, "inf", "nan", an overflow and
    // blanks are refused.
    double v = 0.0;
    for (const auto& [text, value] : {std::pair<const char*, double>{"010", 10.0}, {"1e2", 100.0}, {"-0.5", -0.5}}) {
        EXPECT_TRUE(ParseNumber(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    for (const char* text : {"0x10", "inf", "nan", "-inf", "1e999", " 5", "5 ", "5x", "", "."})
        EXPECT_FALSE(ParseNumber(text, v)) << text;
}

// --region: four whole numbers within int, nothing around them; one too
// large for int is refused, not wrapped into another region.
TEST(Region, FourWholeNumbersWithinInt) {
    Region r;
    ASSERT_TRUE(ParseRegion("10,20,40,30", r));
    EXPECT_EQ(std::make_tuple(r.x, r.y, r.w, r.h), std::make_tuple(10, 20, 40, 30));
    EXPECT_TRUE(ParseRegion("2147483647,0,2147483647,1", r));
    for (const char* bad : {"4294967396,0,1,1", "0,0,99999999999,1", "-1,0,1,1", "0,0,0,1", "0,0,1,0", "1,2,3",
                            "1,2,3,4,", "1, 2,3,4", "+1,2,3,4", "1,2,3,4x", ",1,2,3", ""})
        EXPECT_FALSE(ParseRegion(bad, r)) << bad;
}

TEST(OutputPlan, CollisionsAreFoundBeforeAnyWork) {
    OutputChoice c;
    c.directory = (std::filesystem::temp_directory_path() / ("lumarex-plan-" + std::to_string(::getpid()))).string();
    OutputPlan plan;
    std::string error;
    EXPECT_FALSE(PlanOutputs({"a/same.jpg", "b/same.jpg"}, c, plan, error));
    EXPECT_EQ(error, "a/same.jpg and b/same.jpg would both be written to " + c.directory +
                         "/same.jpg; correct them into different folders or one at a time");
    EXPECT_FALSE(PlanOutputs({"x.bmp", "x.tif"}, c, plan, error));
    EXPECT_FALSE(std::filesystem::exists(c.directory)) << "a refused batch makes no folder";
    ASSERT_TRUE(PlanOutputs({"x.bmp", "y.jpeg", "x.png"}, c, plan, error)) << error;
    EXPECT_EQ(plan.madeFolder, c.directory);
    EXPECT_EQ(plan.outputs, (std::vector<std::string>{c.directory + "/x.tif", c.directory + "/y.jpeg",
                                                      c.directory + "/x.png"}));
    c.compare = true;
    EXPECT_FALSE(PlanOutputs({"p.jpg", "p-compare.jpg"}, c, plan, error));

    // A before/after picture never replaces its own input, even with
    // --overwrite, nor a read-only file without it.
    namespace fs = std::filesystem;
    const fs::path input = fs::path(c.directory) / "a-compare.jpg", readOnly = fs::path(c.directory) / "b-compare.jpg";
    for (const fs::path& f : {input, readOnly}) std::ofstream(f) << "x";
    fs::permissions(readOnly, fs::perms::owner_read);
    c.directory.clear();
    for (const bool overwrite : {false, true}) {
        c.overwrite = overwrite;
        c.output = (input.parent_path() / "a.jpg").string();
        ASSERT_TRUE(PlanOutputs({input.string()}, c, plan, error)) << error;
        EXPECT_EQ(plan.problems[0], "the before/after picture " + input.string() +
                                        " would replace the input; choose another output name");
        c.output = (readOnly.parent_path() / "b.jpg").string();
        ASSERT_TRUE(PlanOutputs({"elsewhere.jpg"}, c, plan, error)) << error;
        EXPECT_EQ(plan.problems[0].empty(), overwrite) << plan.problems[0];
    }

    // A name that takes up nearly all a folder allows still gets its
    // temporary (the output's stem is cut in the temporary's name); one with
    // a before/after picture too long for the folder is refused before work.
    c.output.clear();
    c.overwrite = false;
    c.directory = input.parent_path().string();
    const std::string stem(248, 'p');
    c.compare = false;
    ASSERT_TRUE(PlanOutputs({stem + ".png"}, c, plan, error)) << error;
    EXPECT_EQ(plan.problems[0], "");
    const std::unique_ptr<OutputFile> file = OutputFile::Create(plan.outputs[0], error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->Commit(error)) << error;
    EXPECT_TRUE(fs::exists(plan.outputs[0]));
    // Put in place only as a new file: the file there is kept, and the
    // temporary goes.
    {
        const std::unique_ptr<OutputFile> again = OutputFile::Create(plan.outputs[0], error);
        ASSERT_TRUE(again) << error;
        std::ofstream(plan.outputs[0]) << "kept";
        bool taken = false;
        EXPECT_FALSE(again->Commit(error, &taken));
        EXPECT_TRUE(taken) << error;
    }
    EXPECT_EQ(fs::file_size(plan.outputs[0]), 4u);
    EXPECT_EQ(std::distance(fs::directory_iterator(c.directory), fs::directory_iterator()), 3)
        << "the two files made above and the output, no temporary";
    c.compare = true;
    ASSERT_TRUE(PlanOutputs({stem + ".png"}, c, plan, error)) << error;
    EXPECT_EQ(plan.problems[0], "the name of " + c.directory + "/" + stem +
                                    "-compare.jpg is longer than 255 bytes, more than a folder takes; choose a "
                                    "shorter output name");
    fs::remove_all(input.parent_path());
}

// Memory the system refuses in one photo of a batch (std::bad_alloc), or
// another exception a library throws on one file, fails that photo; the
// batch goes on with the others, here on two jobs.
TEST(Batch, AnExceptionFailsOnePhotoOnly) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("lumarex-batch-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Picture pic;
    pic.width = 8, pic.height = 8, pic.rgb8.assign(8 * 8 * 3, 100);
    std::vector<std::string> inputs;
    std::string notes, error;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png"}) {
        inputs.push_back((dir / name).string());
        ASSERT_TRUE(WritePicture(inputs.back(), pic, 95, notes, error, [](float) { return false; })) << error;
    }
    OutputChoice choice;
    choice.directory = (dir / "out").string();
    choice.quiet = true;
    choice.jobs = 2;
    OutputPlan plan;
    ASSERT_TRUE(PlanOutputs(inputs, choice, plan, error)) << error;
    std::atomic<int> calls{0};
    const CorrectionJob failingOnce{Work::kOnePass, false,
                                    [&](Picture&, Picture*, std::string&, std::string&, const FileProgress&) {
                                        const int call = ++calls;
                                        if (call == 2) throw std::bad_alloc();
                                        if (call == 3) throw std::runtime_error("a library gave up");
                                        return true;
                                    }};
    EXPECT_EQ(RunBatch(inputs, plan, choice, failingOnce), 1);
    EXPECT_EQ(calls.load(), 4);
    int written = 0;
    for (const std::string& out : plan.outputs) written += fs::exists(out);
    EXPECT_EQ(written, 2);

    // A folder made for a batch that wrote nothing is removed again, with
    // the folders made above it; one that was there stays.
    const CorrectionJob failing{Work::kOnePass, false,
                                [](Picture&, Picture*, std::string&, std::string& why, const FileProgress&) {
                                    why = "no";
                                    return false;
                                }};
    fs::create_directories(dir / "there");
    for (const fs::path& folder : {dir / "new" / "deeper", dir / "there"}) {
        choice.directory = folder.string();
        ASSERT_TRUE(PlanOutputs(inputs, choice, plan, error)) << error;
        EXPECT_EQ(plan.madeFolder, folder == dir / "there" ? "" : (dir / "new").string());
        EXPECT_EQ(RunBatch(inputs, plan, choice, failing), 1);
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_TRUE(fs::exists(dir / "there"));
    fs::remove_all(dir);
}

// The before/after picture of a strip fewer rows high than it is shrunk by
// has one row, the mean of the strip's rows.
TEST(SideBySide, AStripKeepsARow) {
    Picture strip;
    strip.width = 6000, strip.height = 3;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6000; ++x) strip.rgb8.insert(strip.rgb8.end(), {uint8_t(40 * y), 200, 0});
    const std::string path =
        (std::filesystem::temp_directory_path() / ("lumarex-strip-" + std::to_string(::getpid()) + ".jpg")).string();
    std::string error;
    ASSERT_TRUE(WriteSideBySide(path, strip, strip, 2400, error)) << error;
    const auto in = OIIO::ImageInput::open(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(std::make_pair(in->spec().width, in->spec().height), std::make_pair(2 * 1000 + 8, 1));
    std::vector<uint8_t> row(size_t(in->spec().width) * 3);
    ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, row.data()));
    EXPECT_NEAR(row[3 * 500], 40, 3) << "the mean of 0, 40 and 80";
    std::filesystem::remove(path);
}

TEST(Upright, TurnsAsEveryOrientationDisplays) {
    // Stored 3 x 2, pixel (x, y) holding (10 y + x, 100):  0  1  2
    //                                                     10 11 12
    // and each orientation's picture as displayed, row by row.
    const std::vector<uint16_t> shown[9] = {{}, {0, 1, 2, 10, 11, 12}, {2, 1, 0, 12, 11, 10}, {12, 11, 10, 2, 1, 0},
                                            {10, 11, 12, 0, 1, 2}, {0, 10, 1, 11, 2, 12}, {10, 0, 11, 1, 12, 2},
                                            {12, 2, 11, 1, 10, 0}, {2, 12, 1, 11, 0, 10}};
    const auto pairs = [](const std::vector<uint16_t>& order) {
        std::vector<uint16_t> px;
        for (uint16_t v : order) px.insert(px.end(), {v, 100});
        return px;
    };
    for (int o = 1; o <= 8; ++o) {
        int w = 3, h = 2;
        EXPECT_EQ(Upright(pairs(shown[1]), w, h, 2, o), pairs(shown[o])) << "orientation " << o;
        EXPECT_EQ(std::make_pair(w, h), o >= 5 ? std::make_pair(2, 3) : std::make_pair(3, 2)) << o;
    }
}

TEST(MemoryBudget, JobsWaitForRoomAndTheOversizedAreRefused) {
    MemoryBudget budget(100);
    const auto never = [] { return false; };
    EXPECT_FALSE(budget.Acquire(101, never)) << "more than the whole budget";
    ASSERT_TRUE(budget.Acquire(60, never));
    std::atomic<bool> second{false};
    std::thread t([&] {
        if (budget.Acquire(60, never)) second = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second.load()) << "60 + 60 exceed 100: the second job waits";
    budget.Release(60);
    t.join();
    EXPECT_TRUE(second.load());
    EXPECT_FALSE(budget.Acquire(60, [] { return true; })) << "a stop ends the wait";
    budget.Release(60);
    // The estimate grows with the pixels and with a deeper working copy.
    EXPECT_LT(EstimatedBytes(Work::kOnePass, 1000000, 3, 8), EstimatedBytes(Work::kOnePass, 2000000, 3, 8));
    EXPECT_LT(EstimatedBytes(Work::kAnalyseAndApply, 1000000, 3, 8),
              EstimatedBytes(Work::kAnalyseAndApply, 1000000, 3, 16));
}

TEST(AnalysisRecord, CopiesTheRecordOut) {
    LxAnalysisRecord r{};
    EXPECT_EQ(LxReadAnalysisRecord(nullptr, &r), 0);
    // 64 x 48 grey ramp from 20 to 83: black level 20, nothing to untint.
    const int w = 64, h = 48;
    std::vector<uint8_t> px(size_t(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(20 + i / 3 % w);
    const ImageDesc d{0, w, h, w * 3, 3, px.data(), px.data() + 1, px.data() + 2};
    SetFilterRecord(LxHeapHostRecord());
    const BlobOwner blob(AllocImageBlob(&d));
    ASSERT_TRUE(blob);
    const ParamOwner param(CalcImageBlobParam(blob.get(), nullptr, nullptr));
    ASSERT_TRUE(param);
    EXPECT_EQ(LxReadAnalysisRecord(param.get(), nullptr), 0);
    ASSERT_EQ(LxReadAnalysisRecord(param.get(), &r), 1);
    EXPECT_EQ(std::make_tuple(r.width, r.height, r.blackLevel), std::make_tuple(w, h, 20));
    for (int m = 0; m < LX_RECORD_TINT_MODES; ++m) {
        EXPECT_EQ(r.needTint[m], NeedTintCorrection(param.get(), m));
        EXPECT_EQ(r.tintGains[m][0], 1.0f);
    }
    EXPECT_EQ(r.baseMapValid, 1);
}

}  // namespace
}  // namespace lumarex_cli
