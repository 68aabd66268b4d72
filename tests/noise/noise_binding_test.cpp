// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "lumarex/lumarex.h"

namespace {

// Module start of the real shared library, in a child process: liblumarex.so
// is copied into a directory of its own, with or without a noise library
// beside it, loaded with dlopen, and asked to detect noise.
int LoadLumarexAndDetectNoise(const std::string& library) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return 100;
    using DetectFn = int32_t (*)(const ImageDesc*, int32_t, int32_t, int32_t, int64_t);
    auto detect = reinterpret_cast<DetectFn>(dlsym(handle, "_DetectNoise"));
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

}  // namespace
#endif
