// SPDX-License-Identifier: MIT
// DetectNoise and RemoveNoiseForPipeline against a fake noise library that
// records what it is handed, and the module start of the real library.
#include "noise/detect_noise.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "noise/noise_library.h"
#include "noise/remove_noise_for_pipeline.h"

namespace {

using lx::noise::Entries;

struct Args {  // RemoveNoiseBufPreset's arguments but the block
    const void* buffer;
    int32_t width, height, rowStride, arg5, sixteenBit;
    uint8_t arg7, redFirst;
    int32_t preset, mode;
    int64_t arg12;
    bool operator==(const Args&) const = default;
};
struct Words {  // the block words the callers set
    int32_t word0, level, adjustA, adjustB, word16;
    int64_t qword;
    bool operator==(const Words&) const = default;
};
Words WordsOf(const NoiseParamBlock& b) { return {b.word0, b.level, b.adjustA, b.adjustB, b.word16, b.qword}; }

struct Recorded {
    int fills = 0, removes = 0;
    Words atFill{};  // the block as FillNoiseParamsFromPreset received it
    int32_t fillPreset = -1;
    Args args{};
    Words block{};  // the block as RemoveNoiseBufPreset received it
    int32_t result = NOISELIB_OK;
} g;

// Fills level 7, adjustA 90, adjustB 15, and scribbles on word 16, which the
// caller must reset to 0.
int32_t FakeFill(NoiseParamBlock* block, int32_t preset) {
    ++g.fills;
    g.atFill = WordsOf(*block);
    g.fillPreset = preset;
    block->level = 7, block->adjustA = 90, block->adjustB = 15, block->word16 = 55;
    return 0;
}

int32_t FakeRemove(void* buffer, int32_t width, int32_t height, int32_t rowStride, int32_t arg5, int32_t sixteenBit,
                   uint8_t arg7, uint8_t redFirst, NoiseParamBlock* block, int32_t preset, int32_t mode,
                   int64_t arg12) {
    ++g.removes;
    g.args = {buffer, width, height, rowStride, arg5, sixteenBit, arg7, redFirst, preset, mode, arg12};
    g.block = WordsOf(*block);
    return g.result;
}

struct FakeNoiseLibrary : ::testing::Test {
    lx::noise::EntryPoints saved = Entries();
    void SetUp() override {
        g = Recorded{};
        Entries() = {nullptr, &FakeFill, &FakeRemove};
    }
    void TearDown() override { Entries() = saved; }
};

constexpr int64_t kQ = 0x123456789abLL;

TEST_F(FakeNoiseLibrary, DetectNoisePreparesTheBlockAndTheBuffer) {
    uint16_t px[6 * 4 * 3] = {};
    struct Case {
        int32_t preset, levelOverride;
        Words expected;
        int32_t sampleType;
        void *c1, *c3;
        uint8_t redFirst;
        int32_t sixteenBit;
    };
    const Case cases[] = {
        {0, -1, {11, 3, 90, 15, 0, kQ}, 0, px, px + 2, 1, 0},  // presets below 3: level 3; red first
        {1, -1, {-1, 3, 90, 15, 0, 0}, 1, px + 2, px, 0, 1},   // preset 1: word 0 = -1, 64-bit field 0
        {3, -1, {11, 7, 90, 15, 0, kQ}, 7, px, px, 1, 1},      // the preset's level; any type but 0 is 16-bit
        {4, 9, {11, 9, 90, 15, 0, kQ}, 0, px + 2, px, 0, 0},   // an override wins
        {1, 0, {-1, 0, 90, 15, 0, 0}, 0, px, px + 2, 1, 0},
    };
    for (const Case& c : cases) {
        ImageDesc d{c.sampleType, 6, 4, 40, c.sixteenBit ? 6 : 3, c.c1, px + 1, c.c3};
        EXPECT_EQ(lx::noise::DetectNoise(&d, c.preset, c.levelOverride, 11, kQ), 1);
        EXPECT_EQ(g.atFill, (Words{11, 0, 0, 0, 0, kQ})) << "word 0 and the 64-bit field are set before filling";
        EXPECT_EQ(g.fillPreset, c.preset);
        EXPECT_EQ(g.block, c.expected) << "preset " << c.preset;
        // The lower of channel 1 and channel 3, in analysis mode.
        EXPECT_EQ(g.args, (Args{px, 6, 4, 40, 0, c.sixteenBit, 0, c.redFirst, c.preset, 1, 0}));
    }
}

TEST_F(FakeNoiseLibrary, PipelineBlockAdjustsAndClamps) {
    struct Case {
        int32_t preset, adjustA, adjustB, levelOverride;
        Words expected;
    };
    const Case cases[] = {
        {0, 5, 3, -1, {11, 3, 95, 18, 0, kQ}},
        {1, 20, 10, -1, {-1, 3, 100, 20, 0, 0}},             // clamped at 100 and 20
        {3, -200, -20, -1, {11, 7, 0, 0, 0, kQ}},            // clamped at 0
        {4, INT_MAX, INT_MIN, 5, {11, 5, 100, 0, 0, kQ}},    // no overflow; the override wins
    };
    uint8_t px[6 * 5 * 3] = {};
    for (const Case& c : cases) {
        EXPECT_EQ(lx::noise::RemoveNoiseForPipeline(px, 6, 5, 18, 1, c.preset, c.adjustA, c.adjustB,
                                                    c.levelOverride, 11, kQ),
                  1);
        EXPECT_EQ(g.atFill, (Words{11, 0, 0, 0, 0, kQ}));
        EXPECT_EQ(g.block, c.expected) << "preset " << c.preset;
        EXPECT_EQ(g.args, (Args{px, 6, 5, 18, 0, 1, 0, 0, c.preset, 0, 0})) << "blue first, mode 0";
    }
}

TEST_F(FakeNoiseLibrary, ResultsMissingEntriesAndPixelsOfAnotherStep) {
    uint8_t px[4 * 4 * 4] = {};
    ImageDesc d{0, 2, 2, 6, 3, px, px + 1, px + 2};
    auto pipeline = [&] { return lx::noise::RemoveNoiseForPipeline(px, 2, 2, 6, 0, 2, 0, 0, -1, -1, 0); };
    // Library result -> DetectNoise (1 only for 0), pipeline step (0 only for 3).
    const int32_t results[][3] = {{NOISELIB_OK, 1, 1}, {NOISELIB_FAILED, 0, 0}, {1, 0, 1}, {-1, 0, 1}};
    for (const auto& r : results) {
        g.result = r[0];
        EXPECT_EQ(DetectNoise(&d, 2, -1, -1, 0), r[1]) << "library result " << r[0];
        EXPECT_EQ(pipeline(), r[2]) << "library result " << r[0];
    }
    g = Recorded{};
    for (lx::noise::EntryPoints half : {lx::noise::EntryPoints{nullptr, &FakeFill, nullptr},
                                        lx::noise::EntryPoints{nullptr, nullptr, &FakeRemove}}) {
        Entries() = half;
        EXPECT_EQ(DetectNoise(&d, 2, -1, -1, 0), 0);
        EXPECT_EQ(pipeline(), 0);
    }
    EXPECT_EQ(g.fills + g.removes, 0) << "nothing is called when half bound";
    EXPECT_EQ(lx::noise::DetectNoise(nullptr, 2, -1, -1, 0), 0);
    // A 4-byte BGRA image, a planar one, a 16-bit image with 8-byte pixels
    // (the library would read them as three-sample pixels) are refused.
    Entries() = {nullptr, &FakeFill, &FakeRemove};
    const ImageDesc refused[] = {{0, 4, 4, 16, 4, px + 2, px + 1, px},
                                 {0, 4, 4, 4, 1, px, px + 16, px + 32},
                                 {1, 2, 4, 16, 8, px, px + 2, px + 4}};
    for (const ImageDesc& bad : refused) EXPECT_EQ(lx::noise::DetectNoise(&bad, 2, -1, -1, 0), 0);
    EXPECT_EQ(g.fills + g.removes, 0);
    // An odd 16-bit stride counts as the even one below.
    const ImageDesc odd{1, 2, 4, 16, 7, px, px + 2, px + 4};
    EXPECT_EQ(lx::noise::DetectNoise(&odd, 2, -1, -1, 0), 1);
}

#ifndef _WIN32
// Module start of the real shared library, in a child process: liblumarex.so
// is copied into a directory of its own, with or without a noise library
// beside it, loaded with dlopen, and asked to detect noise.
int LoadLumarexAndDetectNoise(const std::string& library) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return 100;
    auto detect = reinterpret_cast<decltype(&::DetectNoise)>(dlsym(handle, "_DetectNoise"));
    if (detect == nullptr) return 101;
    uint8_t px[16 * 16 * 3];
    for (int i = 0; i < int(sizeof px); ++i) px[i] = uint8_t((i * 7919) % 251);
    ImageDesc d{0, 16, 16, 48, 3, px, px + 1, px + 2};
    return detect(&d, 2, -1, -1, 0);
}

TEST(NoiseBindingDeathTest, ModuleStartReportsAndAlwaysLoads) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child loads libraries: no plain fork
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        const char* beside;  // copied in as libNoiseLib17.so, or null
        int detectResult;
        const char* stderrPattern;
    };
    const Case cases[] = {
        {"present", LX_TEST_NOISELIB, 1, "^$"},
        {"absent", nullptr, 0, "^Unable to load NoiseLib17\\.dll\\.\n$"},
        {"incomplete", LX_TEST_NOISELIB_INCOMPLETE, 0,
         "^GetProcAddress failed for NoiseSetFilterRecord\\.\n"
         "GetProcAddress failed for RemoveNoiseBufPreset\\.\n$"},
    };
    const fs::path root = fs::path(testing::TempDir()) / "lumarex_module_start";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = root / c.name;
        fs::create_directories(dir);
        fs::copy_file(LX_TEST_LUMAREX_SHARED, dir / "liblumarex.so", fs::copy_options::overwrite_existing);
        if (c.beside != nullptr)
            fs::copy_file(c.beside, dir / "libNoiseLib17.so", fs::copy_options::overwrite_existing);
        const std::string library = (dir / "liblumarex.so").string();
        EXPECT_EXIT(_exit(LoadLumarexAndDetectNoise(library)), testing::ExitedWithCode(c.detectResult),
                    c.stderrPattern);
    }
    fs::remove_all(root);
}

#endif

}  // namespace
