// SPDX-License-Identifier: MIT
// `lumarex serve`'s parts: the requests it takes and refuses, the command
// line it offers, the views it corrects (compared with what `lumarex
// correct` writes) and its HTTP side, in process.
#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli_fixture.h"
#include "lumarex/heap_host.h"
#include "preview_photo.h"
#include "preview_request.h"
#include "preview_server.h"

namespace lumarex_cli {
namespace {
namespace fs = std::filesystem;
using lumarex_test::Cli;
using lumarex_test::Result;

RequestParams Query(const std::string& q) {
    RequestParams p;
    std::istringstream s(q);
    for (std::string kv; std::getline(s, kv, '&');) {
        const size_t eq = kv.find('=');
        p.emplace_back(kv.substr(0, eq), eq == std::string::npos ? "" : kv.substr(eq + 1));
    }
    return p;
}

TEST(PreviewRequest, ReadsTheViewTheFormatAndTheSettings) {
    RenderRequest r;
    std::string error;
    ASSERT_TRUE(ParseRenderRequest(Query("x=10&y=20&w=300&h=200&width=150&height=100&format=png&view=before&"
                                         "client=tab-1&gen=42&black-clip=0.3&brighten=auto&cast=on&look=contrast"),
                                   2560, 1440, r, error))
        << error;
    EXPECT_EQ(r.view.area.x, 10);
    EXPECT_EQ(r.view.area.y, 20);
    EXPECT_EQ(r.view.area.w, 300);
    EXPECT_EQ(r.view.area.h, 200);
    EXPECT_EQ(r.view.width, 150);
    EXPECT_EQ(r.view.height, 100);
    EXPECT_EQ(r.format, ImageFormat::kPng);
    EXPECT_TRUE(r.before);
    EXPECT_EQ(r.client, "tab-1");
    EXPECT_EQ(r.generation, 42u);
    EXPECT_EQ(r.settings.blackClip, 0.3f);
    EXPECT_EQ(r.settings.brighten, kMeasured);
    EXPECT_EQ(r.settings.cast, 1);
    EXPECT_EQ(r.settings.look, 1);
    EXPECT_EQ(r.settings.sharpen, 0.0f) << "what is not given keeps the command's default";
    EXPECT_EQ(r.settings.target, 60);

    // The whole photo, without the optional parts.
    ASSERT_TRUE(ParseRenderRequest(Query("x=0&y=0&w=2560&h=1440&width=8192&height=4608"), 2560, 1440, r, error));
    EXPECT_EQ(r.format, ImageFormat::kJpeg);
    EXPECT_FALSE(r.before);
    EXPECT_EQ(r.client, "");
}

TEST(PreviewRequest, RefusesBadSettingsViewsOutsideThePhotoAndHugeSizes) {
    const std::string view = "x=0&y=0&w=100&h=100&width=100&height=100";
    const std::pair<std::string, std::string> cases[] = {
        {view + "&bogus=1", "unknown setting 'bogus'"},
        {view + "&min-brighten=10", "unknown setting 'min-brighten'"},  // auto's, not correct's
        {view + "&black-clip=7", "black-clip must be between 0 and 5, got '7'"},
        {view + "&target=62", "target must be a multiple of 5, got '62'"},
        {view + "&curve=bent", "curve expects gentle|strong, got 'bent'"},
        {view + "&sharpen=1&sharpen=2", "setting 'sharpen' given twice"},
        {view + "&black-clip=0.3" + std::string(70, '0') + "x", "black-clip is given a value of 74 characters"},
        {"x=0&x=1&y=0&w=1&h=1&width=1&height=1", "parameter 'x' given twice"},
        {"x=2000&y=0&w=600&h=10&width=10&height=10", "the area 2000,0,600,10 leaves the 2560x1440 photo"},
        {"x=0&y=1440&w=1&h=1&width=1&height=1", "y must be a whole number between 0 and 1439, got '1440'"},
        {"x=0&y=0&w=0&h=1&width=1&height=1", "w must be a whole number between 1 and 2560, got '0'"},
        {"x=0&y=0&w=1&h=1&width=8193&height=1", "width must be a whole number between 1 and 8192, got '8193'"},
        {"x=0&y=0&w=1&h=1&width=8000&height=6000", "the view 8000x6000 is larger than 40 megapixels"},
        {"x=0&y=0&w=1&h=1&width= 5&height=1", "width must be a whole number between 1 and 8192, got ' 5'"},
        {"x=0&y=0&w=1&h=1&width=5", "missing parameter 'height'"},
        {view + "&format=webp", "format must be jpeg or png, got 'webp'"},
        {view + "&view=side", "view must be after or before, got 'side'"},
        {view + "&client=a/b", "client must be at most 64 letters, digits, '-' or '_'"},
        {view + "&gen=-1", "gen must be a whole number between 0 and 9007199254740992, got '-1'"},
    };
    for (const auto& [query, message] : cases) {
        RenderRequest r;
        std::string error;
        EXPECT_FALSE(ParseRenderRequest(Query(query), 2560, 1440, r, error)) << query;
        EXPECT_EQ(error, message) << query;
    }
}

TEST(PreviewRequest, TheCommandLineCarriesChangedSettingsAndQuotesPaths) {
    Settings s = DefaultSettings(Command::kCorrect);
    EXPECT_EQ(CorrectCommandLine("photo.jpg", "photo-corrected.jpg", s),
              "lumarex correct photo.jpg -o photo-corrected.jpg");
    s.cast = 1, s.blackClip = 0.3f, s.brighten = 80, s.look = 0, s.guard = 0;
    EXPECT_EQ(CorrectCommandLine("/home/me/it's here.jpg", "out dir/x.tif", s),
              "lumarex correct '/home/me/it'\\''s here.jpg' -o 'out dir/x.tif' --cast on --black-clip 0.3 "
              "--brighten 80 --look natural --guard off");
}

TEST(PreviewRequest, TheTableAsJsonHasEveryCorrectSettingInHelpOrder) {
    const nlohmann::json t = nlohmann::json::parse(SettingsTableJson());
    std::vector<std::string> names;
    for (const auto& e : t) names.push_back(e["name"]);
    ASSERT_EQ(names.size(), 22u);
    EXPECT_EQ(names.front(), "cast");
    EXPECT_EQ(names.back(), "guard");
    EXPECT_EQ(std::count(names.begin(), names.end(), "min-brighten"), 0);
    const auto clip = std::find_if(t.begin(), t.end(), [](const auto& e) { return e["name"] == "black-clip"; });
    EXPECT_EQ((*clip)["lo"], 0.0);
    EXPECT_EQ((*clip)["hi"], 5.0);
    EXPECT_EQ((*clip)["step"], 0.1);
    EXPECT_EQ((*clip)["default"], "0.1");
    EXPECT_EQ((*clip)["unit"], "percent");
    const auto cast = std::find_if(t.begin(), t.end(), [](const auto& e) { return e["name"] == "cast"; });
    EXPECT_FALSE(cast->contains("lo")) << "words only";
    EXPECT_EQ((*cast)["words"], nlohmann::json({"auto", "on", "off"}));
}

TEST(PreviewGenerations, ANewerRequestOvertakesTheOlderOnesOfItsClientOnly) {
    Generations g;
    EXPECT_TRUE(g.Begin("a", 5));
    EXPECT_FALSE(g.Overtaken("a", 5));
    EXPECT_TRUE(g.Begin("b", 1));
    EXPECT_TRUE(g.Begin("a", 7));
    EXPECT_TRUE(g.Overtaken("a", 5));
    EXPECT_FALSE(g.Begin("a", 6)) << "arrived after a newer one";
    EXPECT_FALSE(g.Overtaken("b", 1));
    EXPECT_TRUE(g.Begin("", 0));
    EXPECT_FALSE(g.Overtaken("", 0)) << "no client, never overtaken";
    // Many clients: the oldest is forgotten, not the memory exhausted.
    for (size_t i = 0; i < Generations::kMaxClients; ++i) EXPECT_TRUE(g.Begin(std::to_string(i), 1));
    EXPECT_TRUE(g.Begin("a", 1)) << "a was forgotten";
}

TEST(PreviewScale, ViewsShareCopiesPerZoomAndAverageDown) {
    const auto view = [](int w, int width) { return ViewRequest{Region{0, 0, w, w}, width, width}; };
    EXPECT_EQ(ScaledWidthFor(view(2560, 2560), 2560), 2560);
    EXPECT_EQ(ScaledWidthFor(view(100, 400), 2560), 2560) << "closer than 1:1: the photo itself";
    EXPECT_EQ(ScaledWidthFor(view(2560, 1280), 2560), 1280);
    // 1000 / 3000 rounds up to 342/1024: 1001.95 -> 1002 pixels.
    EXPECT_EQ(ScaledWidthFor(view(3000, 1000), 3000), 1002);
    EXPECT_EQ(ScaledWidthFor(view(3000, 1), 3000), 3) << "1/1024 at least";

    Picture p;
    p.width = 3, p.height = 2, p.bits = 8;
    p.rgb8 = {0, 0, 0, 10, 20, 30, 255, 255, 255,  //
              1, 2, 3, 11, 21, 31, 100, 100, 100};
    const Picture half = ScaledDown(p, 2, 1);
    // Target x 0 takes source column 0, x 1 columns 1 and 2; both rows.
    EXPECT_EQ(half.rgb8, (std::vector<uint8_t>{1, 1, 2, 94, 99, 104}));
    EXPECT_EQ(half.width, 2);
    EXPECT_EQ(half.height, 1);
}

// A small copy of a sample photo, opened for the preview.
class PreviewPhotoTest : public Cli {
public:
    void SetUp() override {
        Cli::SetUp();
        SetFilterRecord(LxHeapHostRecord());
    }
    fs::path Open(PreviewPhoto& photo, const std::string& name, OIIO::TypeDesc type = OIIO::TypeDesc::UINT8) {
        const fs::path p = MakeInput(name, 3, type);
        std::string notes, error;
        EXPECT_TRUE(photo.Open(p.string(), SizeLimits{}, notes, error, [] { return false; })) << error;
        return p;
    }
    static std::vector<uint16_t> Samples16(const Picture& p) {
        if (p.bits == 16) return p.rgb16;
        std::vector<uint16_t> v(p.rgb8.size());
        for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t(p.rgb8[i] * 257);
        return v;
    }
};

TEST_F(PreviewPhotoTest, AViewAtOneToOneIsTheCommandsRegionIn8And16Bits) {
    for (const auto type : {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16}) {
        PreviewPhoto photo;
        const fs::path in = Open(photo, type == OIIO::TypeDesc::UINT8 ? "in8.png" : "in16.png", type);
        ASSERT_EQ(photo.Width(), 100);
        ASSERT_EQ(photo.Height(), 149);
        std::string error;
        RenderRequest r;
        ASSERT_TRUE(ParseRenderRequest(Query("x=13&y=40&w=70&h=90&width=70&height=90&sharpen=1&black-clip=0.3&"
                                             "local-depth=80&colour=rich"),
                                       100, 149, r, error))
            << error;
        RenderedView v;
        ASSERT_TRUE(photo.Render(r, [] { return false; }, v, error)) << error;
        EXPECT_EQ(v.pic.bits, type == OIIO::TypeDesc::UINT8 ? 8 : 16);
        EXPECT_EQ(v.x, 13.0);
        EXPECT_EQ(v.w, 70.0);
        const Result cmd = Run("correct " + Quoted(in) + " --region 13,40,70,90 -o " + Quoted(dir / "region.png") +
                               " --sharpen 1 --black-clip 0.3 --local-depth 80 --colour rich");
        ASSERT_EQ(cmd.status, 0) << cmd.err;
        EXPECT_EQ(Samples16(v.pic), Pixels(dir / "region.png")) << in;
    }
}

TEST_F(PreviewPhotoTest, AZoomedOutViewIsTheScaledCopyReadingTheWholePhotosMap) {
    PreviewPhoto photo;
    const fs::path in = Open(photo, "in.png");
    std::string error;
    RenderRequest r;
    ASSERT_TRUE(ParseRenderRequest(Query("x=0&y=0&w=100&h=149&width=50&height=74"), 100, 149, r, error));
    RenderedView after, before;
    ASSERT_TRUE(photo.Render(r, [] { return false; }, after, error)) << error;
    r.before = true;
    ASSERT_TRUE(photo.Render(r, [] { return false; }, before, error)) << error;
    EXPECT_EQ(after.pic.width, 50);
    EXPECT_EQ(after.pic.height, 75);
    EXPECT_EQ(after.w, 100.0);
    EXPECT_EQ(after.h, 149.0);
    // The before view is the photo averaged down; the after view the whole
    // corrected photo averaged down, within a level or two (the correction
    // is not linear, and sharpening and the guard see the smaller picture).
    Picture original;
    original.width = 100, original.height = 149, original.bits = 8;
    for (uint16_t s : Pixels(in)) original.rgb8.push_back(uint8_t(s / 257));
    EXPECT_EQ(before.pic.rgb8, ScaledDown(original, 50, 75).rgb8);
    ASSERT_EQ(Run("correct " + Quoted(in) + " -o " + Quoted(dir / "whole.png")).status, 0);
    Picture whole = original;
    whole.rgb8.clear();
    for (uint16_t s : Pixels(dir / "whole.png")) whole.rgb8.push_back(uint8_t(s / 257));
    const Picture expected = ScaledDown(whole, 50, 75);
    double sum = 0.0;
    for (size_t i = 0; i < expected.rgb8.size(); ++i) sum += std::abs(int(expected.rgb8[i]) - int(after.pic.rgb8[i]));
    // 1.23 levels on average; a copy read against the map as if it were the
    // photo (map scale 1) is 5.3 off.
    EXPECT_LT(sum / double(expected.rgb8.size()), 2.0);
    EXPECT_NE(after.pic.rgb8, before.pic.rgb8);
}

TEST_F(PreviewPhotoTest, SaveWritesTheCommandsPhotoBesideTheOriginalAndAStopWritesNothing) {
    PreviewPhoto photo;
    const fs::path in = Open(photo, "in.png");
    const std::vector<uint16_t> original = Pixels(in);
    Settings s = DefaultSettings(Command::kCorrect);
    s.brighten = 120, s.warmTone = 0.5f;
    std::string summary, error;
    EXPECT_FALSE(photo.Save(s, SavePathFor(in.string()), [] { return true; }, summary, error));
    EXPECT_EQ(error, "stopped");
    EXPECT_FALSE(fs::exists(dir / "in-corrected.png"));
    ASSERT_EQ(SavePathFor(in.string()), (dir / "in-corrected.png").string());
    ASSERT_TRUE(photo.Save(s, SavePathFor(in.string()), [] { return false; }, summary, error)) << error;
    EXPECT_EQ(summary.rfind("brightened 120 %", 0), 0u) << summary;
    EXPECT_EQ(SavePathFor(in.string()), (dir / "in-corrected-2.png").string()) << "an earlier save is kept";
    EXPECT_EQ(SavePathFor((dir / "scan.bmp").string()), (dir / "scan-corrected.tif").string());
    ASSERT_EQ(Run("correct " + Quoted(in) + " -o " + Quoted(dir / "cmd.png") + " --brighten 120 --warm-tone 0.5").status,
              0);
    EXPECT_EQ(Pixels(dir / "in-corrected.png"), Pixels(dir / "cmd.png"));
    EXPECT_EQ(Pixels(in), original);
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(Cli, ServeRefusesAMissingPhotoAndABadPortBeforeServing) {
    const Result missing = Run("serve " + Quoted(dir / "nope.jpg") + " --port 0");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("lumarex serve: " + (dir / "nope.jpg").string() + ": "), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");
    const Result port = Run("serve " + Quoted(MakeInput("in.png")) + " --port 70000");
    EXPECT_EQ(port.status, 2);
    EXPECT_NE(port.err.find("--port"), std::string::npos) << port.err;
}

// The server in process, on a free loopback port.
class PreviewServerTest : public PreviewPhotoTest {
public:
    void SetUp() override {
        PreviewPhotoTest::SetUp();
        Open(photo, "in.jpg");
        server = std::make_unique<PreviewServer>(photo);
        std::string error;
        port = server->Bind("127.0.0.1", 0, error);
        ASSERT_GT(port, 0) << error;
        running = std::thread([this] { server->Run(); });
    }
    void TearDown() override {
        server->Stop();
        if (running.joinable()) running.join();
        server.reset();
        PreviewPhotoTest::TearDown();
    }
    httplib::Client Client() { return httplib::Client("127.0.0.1", port); }

    PreviewPhoto photo;
    std::unique_ptr<PreviewServer> server;
    std::thread running;
    int port = 0;
};

TEST_F(PreviewServerTest, ServesThePageTheTableAndViewsAndRefusesBadRequestsWithJson) {
    auto c = Client();
    auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<script src=\"/preview.js\">"), std::string::npos);
    auto script = c.Get("/preview.js");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    auto table = c.Get("/api/settings");
    ASSERT_TRUE(table);
    const nlohmann::json t = nlohmann::json::parse(table->body);
    EXPECT_EQ(t["photo"]["width"], 100);
    EXPECT_EQ(t["settings"].size(), 22u);

    auto view = c.Get("/api/render?x=0&y=0&w=100&h=149&width=50&height=75");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->status, 200);
    EXPECT_EQ(view->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(view->get_header_value("X-Lumarex-Area"), "0.000,0.000,100.000,149.000");
    EXPECT_EQ(view->body.substr(0, 2), "\xff\xd8");

    for (const char* bad : {"/api/render?x=0&y=0&w=101&h=1&width=1&height=1", "/api/render?x=0&y=0&w=1&h=1&width=1&"
                                                                              "height=1&flavour=1",
                            "/api/command?sharpen=9"}) {
        auto r = c.Get(bad);
        ASSERT_TRUE(r) << bad;
        EXPECT_EQ(r->status, 400) << bad;
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
        EXPECT_TRUE(nlohmann::json::parse(r->body).contains("error")) << r->body;
    }
    auto foreign = c.Get("/api/settings", httplib::Headers{{"Host", "attacker.example"}});
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    auto unasked = c.Post("/api/save", "", "text/plain");
    ASSERT_TRUE(unasked);
    EXPECT_EQ(unasked->status, 403);
    EXPECT_FALSE(fs::exists(dir / "in-corrected.jpg"));
}

TEST_F(PreviewServerTest, AnOvertakenRenderIsDroppedAndConcurrentClientsAreServed) {
    auto c = Client();
    const std::string view = "/api/render?x=0&y=0&w=100&h=149&width=100&height=149&client=t&gen=";
    auto newer = c.Get(view + "9");
    ASSERT_TRUE(newer);
    EXPECT_EQ(newer->status, 200);
    auto older = c.Get(view + "8");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->status, 409);

    // Four clients at once, each asking again as soon as it is answered:
    // one render at a time inside, every request answered with a picture.
    std::atomic<int> pictures{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            auto tc = Client();
            for (int g = 1; g <= 8; ++g) {
                auto r = tc.Get("/api/render?x=0&y=0&w=100&h=149&width=60&height=90&sharpen=" + std::to_string(g % 4) +
                                "&client=c" + std::to_string(t) + "&gen=" + std::to_string(g));
                (r && r->status == 200 ? pictures : other)++;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(pictures, 32);
    EXPECT_EQ(other, 0);
}

}  // namespace
}  // namespace lumarex_cli
