// SPDX-License-Identifier: MIT
// `lumarex serve`'s parts: the requests it takes and refuses, the command
// line it offers, the views it corrects (compared with what `lumarex
// correct` writes) and its HTTP side, in process.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "lumarex/heap_host.h"
#include "preview_photo.h"
#include "preview_request.h"
#include "preview_server.h"

namespace lumarex_cli {
namespace {
namespace fs = std::filesystem;
using lumarex_test::Cli;
using lumarex_test::Has;
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
    EXPECT_EQ(std::tie(r.view.area.x, r.view.area.y, r.view.area.w, r.view.area.h, r.view.width, r.view.height),
              std::make_tuple(10, 20, 300, 200, 150, 100));
    EXPECT_EQ(std::tie(r.format, r.before, r.client, r.generation),
              std::make_tuple(ImageFormat::kPng, true, std::string("tab-1"), 42ull));
    Settings want = DefaultSettings(Command::kCorrect);  // what is not given keeps the command's default
    want.blackClip = 0.3f, want.brighten = kMeasured, want.cast = 1, want.look = 1;
    EXPECT_TRUE(r.settings == want);
    // The whole photo, without the optional parts.
    ASSERT_TRUE(ParseRenderRequest(Query("x=0&y=0&w=2560&h=1440&width=8192&height=4608"), 2560, 1440, r, error));
    EXPECT_EQ(std::tie(r.format, r.before, r.client), std::make_tuple(ImageFormat::kJpeg, false, std::string()));
}

TEST(PreviewRequest, RefusesBadSettingsViewsOutsideThePhotoAndHugeSizes) {
    const std::string view = "x=0&y=0&w=100&h=100&width=100&height=100";
    const std::pair<std::string, std::string> cases[] = {
        {view + "&bogus=1", "unknown setting 'bogus'"},
        {view + "&min-brighten=10", "unknown setting 'min-brighten'"},  // auto's, not correct's
        {view + "&sharpen=1&sharpen=2", "setting 'sharpen' given twice"},
        {view + "&black-clip=0.3" + std::string(70, '0') + "x", "black-clip is given a value of 74 characters"},
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

TEST(PreviewRequest, RepeatsAreFoundInTheQueryAsSentWhateverTheSpelling) {
    EXPECT_EQ(ParameterNames("a=1&b&&c%3D=2&d+e=3&%zz=4"),
              (std::vector<std::string>{"a", "b", "c=", "d e", "%zz"}));
    EXPECT_EQ(RepeatedParameter("x=0&y=0&x=0"), "x") << "the same value too";
    EXPECT_EQ(RepeatedParameter("sh%61rpen=1&sharpen=2"), "sharpen");
    EXPECT_EQ(RepeatedParameter("sharpen=1&Sharpen=1&sharpen2=1"), "");
    EXPECT_EQ(RepeatedParameter(""), "");
    // The HTTP library reads "brighten=5=200" as brighten 200.
    EXPECT_EQ(MalformedParameter("x=0&brighten=5=200&y=1"), "brighten=5=200");
    EXPECT_EQ(MalformedParameter("brighten=5;foo=1"), "brighten=5;foo=1");
    EXPECT_EQ(MalformedParameter("client=a%3Db&sharpen=&view"), "");
}

TEST(PreviewRequest, TheCommandLineCarriesChangedSettingsAndQuotesPaths) {
    Settings s = DefaultSettings(Command::kCorrect);
    EXPECT_EQ(CorrectCommandLine("photo.jpg", "photo-corrected.jpg", s),
              "lumarex correct photo.jpg -o photo-corrected.jpg");
    s.cast = 1, s.blackClip = 0.3f, s.brighten = 80, s.look = 0, s.guard = 0;
    EXPECT_EQ(CorrectCommandLine("/home/me/it's here.jpg", "out dir/x.tif", s),
              "lumarex correct '/home/me/it'\\''s here.jpg' -o 'out dir/x.tif' --cast on --black-clip 0.3 "
              "--brighten 80 --look natural --guard off");
    EXPECT_EQ(CorrectCommandLine("-x.jpg", "-x-corrected.jpg", DefaultSettings(Command::kCorrect)),
              "lumarex correct ./-x.jpg -o ./-x-corrected.jpg") << "not read as options";
}

TEST(PreviewRequest, AQuotedPathReadsBackToItsBytesInTheShell) {
    // Latin-1 names as old cameras and archives left them, quotes,
    // backslashes, a line break and valid UTF-8 beside odd bytes.
    for (const std::string& name : {std::string("caf\xe9 au lait.jpg"), std::string("it's \xff\\x.jpg"),
                                   std::string("\xc3\xa9t\xc3\xa9 \xe9t\xe9.jpg"), std::string("a\nb \x80.jpg"),
                                   std::string("\xed\xa0\x80 \xf4\x90\x80\x80.jpg"), std::string("été 'x'.jpg")}) {
        const std::string quoted = ShellQuoted(name);
        // bash reads the word from a script, as from a pasted line.
        const std::string script = ::testing::TempDir() + "quoted.sh";
        {
            std::ofstream(script, std::ios::binary) << "printf %s " << quoted << "\n";
        }
        FILE* shell = popen(("/bin/bash " + script).c_str(), "r");
        ASSERT_NE(shell, nullptr);
        std::string back;
        char buf[256];
        for (size_t n; (n = fread(buf, 1, sizeof buf, shell)) > 0;) back.append(buf, n);
        EXPECT_EQ(pclose(shell), 0) << quoted;
        EXPECT_EQ(back, name) << quoted;
    }
    // What is not UTF-8 is shown as ASCII escapes, so that the page can carry it.
    EXPECT_EQ(ShellQuoted("caf\xe9.jpg"), "$'caf\\xe9.jpg'");
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

TEST(PreviewAccess, OnlyLoopbackLiteralsAreLoopbackHostsAndTokensAreComparedWhole) {
    for (const char* host : {"localhost", "localhost:8080", "LocalHost:1", "127.0.0.1", "127.0.0.1:8080",
                             "127.1.2.3", "127.255.255.255:65535", "[::1]", "[::1]:80"})
        EXPECT_TRUE(IsLoopbackHost(host)) << host;
    // Names of other machines that a site can point at 127.0.0.1, and
    // numbers a resolver reads in other ways.
    for (const char* host : {"127.x.example.org", "127.0.0.1.example.com", "127.0.0.1.", "localhost.",
                             "localhost.example.com", "1270.0.0.1", "127.0.0", "127.0.0.1.1", "127.0.0.256",
                             "127.0.0.01", "0127.0.0.1", "0x7f.0.0.1", "127.1", "2130706433", "128.0.0.1",
                             "127.0.0.1:", "127.0.0.1:80x", "127.0.0.1:+80", "127.0.0.1:99999", "127.0.0.1:123456",
                             " 127.0.0.1", "127.0.0.1 ", "127.0.0.-1", "[::1", "[::1]x", "[::1]:", "[::2]:80",
                             "[::ffff:127.0.0.1]", "::1", "", "example.com", "attacker.example:8080"})
        EXPECT_FALSE(IsLoopbackHost(host)) << "'" << host << "'";
    for (const char* address : {"127.0.0.1", "127.0.1.1", "::1", "localhost"})
        EXPECT_TRUE(IsLoopbackAddress(address)) << address;
    for (const char* address : {"0.0.0.0", "::", "127.x.example.org", "127.0.0.1.example.com", "1270.0.0.1",
                                "192.168.1.2", "[::1]"})
        EXPECT_FALSE(IsLoopbackAddress(address)) << address;
    // Tokens: random, URL-safe, compared whole.
    const std::string a = NewToken(), b = NewToken();
    ASSERT_EQ(a.size(), 32u);  // 192 bits
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; }))
        << a;
    EXPECT_TRUE(SameSecret(a, a));
    std::string last = a;
    last.back() = last.back() == 'A' ? 'B' : 'A';
    for (const std::string& other : {b, std::string(), a.substr(0, 31), a + "x", last})
        EXPECT_FALSE(SameSecret(other, a)) << "'" << other << "'";
}

TEST(PreviewTurns, TwoRenderAtOnceAFewWaitAndTheRestAreTurnedAway) {
    RenderTurns turns(2, 2);
    const StopCheck never = [] { return false; };
    ASSERT_EQ(turns.Take(never), RenderTurns::Turn::kGranted);
    ASSERT_EQ(turns.Take(never), RenderTurns::Turn::kGranted);
    // Two wait: one for good, one until it is told to stop.
    std::atomic<bool> stopSecond{false};
    std::atomic<int> granted{0}, stopped{0};
    std::thread first([&] { granted += turns.Take(never) == RenderTurns::Turn::kGranted; });
    std::thread second([&] { stopped += turns.Take([&] { return stopSecond.load(); }) == RenderTurns::Turn::kStopped; });
    // Once both wait, a fifth is turned away (a probe that finds room in the queue gives up at once).
    RenderTurns::Turn fifth = RenderTurns::Turn::kStopped;
    for (int i = 0; i < 400 && (fifth = turns.Take([] { return true; })) != RenderTurns::Turn::kBusy; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(fifth, RenderTurns::Turn::kBusy);
    stopSecond = true;
    second.join();
    EXPECT_EQ(stopped, 1);
    turns.Done();  // the first waiter takes this turn
    first.join();
    EXPECT_EQ(granted, 1);
    turns.Done();
    turns.Done();
    EXPECT_EQ(turns.Take(never), RenderTurns::Turn::kGranted) << "every turn given back";
}

TEST(PreviewScale, ViewsShareCopiesPerZoomAndAverageDown) {
    const auto view = [](int w, int width) { return ViewRequest{Region{0, 0, w, w}, width, width}; };
    EXPECT_EQ(ScaledWidthFor(view(100, 400), 2560), 2560) << "closer than 1:1: the photo itself";
    EXPECT_EQ(ScaledWidthFor(view(2560, 1280), 2560), 1280);
    // 1000 / 3000 rounds up to 342/1024: 1001.95 -> 1002 pixels.
    EXPECT_EQ(ScaledWidthFor(view(3000, 1000), 3000), 1002);
    EXPECT_EQ(ScaledWidthFor(view(3000, 1), 3000), 3) << "1/1024 at least";
    // A view asked for in another shape than its area is shown whole within
    // the size asked for: its smaller scale counts.
    EXPECT_EQ(ScaledWidthFor(ViewRequest{Region{0, 0, 6000, 4000}, 8192, 1}, 6000), 6);
    // 399 / 400 rounds up to 1022/1024 of the photo's width.
    EXPECT_EQ(ScaledWidthFor(ViewRequest{Region{0, 0, 600, 400}, 8192, 399}, 6000), 5989);

    Picture p;
    p.width = 3, p.height = 2, p.bits = 8;
    p.rgb8 = {0, 0, 0, 10, 20, 30, 255, 255, 255,  //
              1, 2, 3, 11, 21, 31, 100, 100, 100};
    const Picture half = ScaledDown(p, 2, 1);
    // Target x 0 takes source column 0, x 1 columns 1 and 2; both rows.
    EXPECT_EQ(half.rgb8, (std::vector<uint8_t>{1, 1, 2, 94, 99, 104}));
    EXPECT_EQ(std::make_pair(half.width, half.height), std::make_pair(2, 1));
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
    // The view `query` asks for, parsed into `r`, as Render gives it.
    static RenderedView View(PreviewPhoto& photo, RenderRequest& r, const std::string& query) {
        std::string error;
        RenderedView v;
        EXPECT_TRUE(ParseRenderRequest(Query(query), photo.Width(), photo.Height(), r, error)) << error;
        EXPECT_TRUE(photo.Render(r, [] { return false; }, v, error)) << query << ": " << error;
        return v;
    }
};

// A view at 1:1 is what `lumarex correct --region` writes, and Save what
// `lumarex correct` writes, beside the original and never over an earlier
// save; a stop writes nothing.
TEST_F(PreviewPhotoTest, AViewAtOneToOneAndASaveAreTheCommandsIn8And16Bits) {
    const std::string options = " --sharpen 1 --black-clip 0.3 --local-depth 80 --colour rich --denoise 2";
    for (const auto type : {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16}) {
        PreviewPhoto photo;
        const bool eight = type == OIIO::TypeDesc::UINT8;
        const fs::path in = Open(photo, eight ? "in8.png" : "in16.png", type);
        const std::vector<uint16_t> original = Pixels(in);
        ASSERT_EQ(std::make_pair(photo.Width(), photo.Height()), std::make_pair(100, 149));
        std::string error, summary;
        RenderRequest r;
        const RenderedView v = View(photo, r, "x=13&y=40&w=70&h=90&width=70&height=90&sharpen=1&black-clip=0.3&"
                                              "local-depth=80&colour=rich&denoise=2");
        EXPECT_EQ(std::make_tuple(v.pic.bits, v.x, v.w), std::make_tuple(eight ? 8 : 16, 13.0, 70.0));
        const fs::path region = dir / "region.png", whole = dir / "whole.png";
        ASSERT_EQ(Run("correct " + Quoted(in) + " --region 13,40,70,90 -o " + Quoted(region) + options).status, 0);
        EXPECT_EQ(Samples16(v.pic), Pixels(region)) << in;

        const fs::path saveTo = dir / (in.stem().string() + "-corrected.png");
        ASSERT_EQ(SavePathFor(in.string()), saveTo.string());
        std::string path;
        EXPECT_FALSE(photo.Save(r.settings, [] { return true; }, path, summary, error));
        EXPECT_EQ(error, "stopped");
        EXPECT_FALSE(fs::exists(saveTo));
        ASSERT_TRUE(photo.Save(r.settings, [] { return false; }, path, summary, error)) << error;
        EXPECT_EQ(path, saveTo.string());
        ASSERT_EQ(Run("correct " + Quoted(in) + " -o " + Quoted(whole) + options).status, 0);
        EXPECT_EQ(Pixels(saveTo), Pixels(whole)) << in;
        EXPECT_EQ(SavePathFor(in.string()), (dir / (in.stem().string() + "-corrected-2.png")).string())
            << "an earlier save is kept";
        // A file that takes the free name while the save is being written
        // (another preview of the photo saving) is kept; the save goes to
        // the next name.
        const fs::path second = dir / (in.stem().string() + "-corrected-2.png");
        const auto takeTheName = [&] {
            if (!fs::exists(second) && !NoTemporariesLeft()) std::ofstream(second) << "another save";
            return false;
        };
        ASSERT_TRUE(photo.Save(r.settings, takeTheName, path, summary, error)) << error;
        EXPECT_EQ(path, (dir / (in.stem().string() + "-corrected-3.png")).string());
        EXPECT_EQ(lumarex_test::Slurp(second), "another save");
        EXPECT_EQ(Pixels(path), Pixels(whole));
        EXPECT_EQ(Pixels(in), original);
    }
    EXPECT_EQ(SavePathFor((dir / "scan.bmp").string()), (dir / "scan-corrected.tif").string());
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(PreviewPhotoTest, AZoomedOutViewIsTheScaledCopyReadingTheWholePhotosMap) {
    PreviewPhoto photo;
    const fs::path in = Open(photo, "in.png");
    RenderRequest r;
    const RenderedView after = View(photo, r, "x=0&y=0&w=100&h=149&width=50&height=74"),
                       before = View(photo, r, "x=0&y=0&w=100&h=149&width=50&height=74&view=before");
    EXPECT_EQ(std::make_tuple(after.pic.width, after.pic.height, after.w, after.h),
              std::make_tuple(50, 75, 100.0, 149.0));
    // The before view is the photo averaged down; the after view the whole
    // corrected photo averaged down, within a level or two (the correction
    // is not linear, and sharpening and the guard see the smaller picture).
    const auto halved = [](const fs::path& file) {
        Picture p;
        p.width = 100, p.height = 149, p.bits = 8;
        for (uint16_t s : Pixels(file)) p.rgb8.push_back(uint8_t(s / 257));
        return ScaledDown(p, 50, 75);
    };
    EXPECT_EQ(before.pic.rgb8, halved(in).rgb8);
    ASSERT_EQ(Run("correct " + Quoted(in) + " -o " + Quoted(dir / "whole.png")).status, 0);
    const Picture expected = halved(dir / "whole.png");
    double sum = 0.0;
    for (size_t i = 0; i < expected.rgb8.size(); ++i) sum += std::abs(int(expected.rgb8[i]) - int(after.pic.rgb8[i]));
    // 1.23 levels on average; a copy read against the map as if it were the
    // photo (map scale 1) is 5.3 off.
    EXPECT_LT(sum / double(expected.rgb8.size()), 2.0);
    EXPECT_NE(after.pic.rgb8, before.pic.rgb8);
}

// A photo in a white border, zoomed out: the border stays as it is in the
// view, and the photo inside reads the map of its own analysis from the
// border's inner corner, as the command's correction of the whole, averaged
// down, shows.
TEST_F(PreviewPhotoTest, AFramedPhotoZoomedOutKeepsItsFrame) {
    const std::vector<uint16_t> inside = Pixels(MakeInput("inside.png", 3, OIIO::TypeDesc::UINT8));
    constexpr int kSide = 10, kBand = 12, W = 100 + 2 * kSide, H = 149 + 2 * kBand;
    std::vector<uint8_t> framed(size_t(W) * H * 3, 250);
    for (int y = 0; y < 149; ++y)
        for (size_t i = 0; i < 100 * 3; ++i)
            framed[(size_t(y + kBand) * W + kSide) * 3 + i] = uint8_t(inside[size_t(y) * 300 + i] / 257);
    const fs::path in = dir / "framed.png";
    {
        auto out = OIIO::ImageOutput::create(in.string());
        ASSERT_TRUE(out && out->open(in.string(), OIIO::ImageSpec(W, H, 3, OIIO::TypeDesc::UINT8)));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, framed.data()));
        out->close();
    }
    PreviewPhoto photo;
    std::string notes, error;
    ASSERT_TRUE(photo.Open(in.string(), SizeLimits{}, notes, error, [] { return false; })) << error;
    RenderRequest r;
    const std::string area = "x=0&y=0&w=" + std::to_string(W) + "&h=" + std::to_string(H) + "&width=60&height=87";
    const RenderedView after = View(photo, r, area), before = View(photo, r, area + "&view=before");
    ASSERT_EQ(std::make_pair(after.pic.width, after.pic.height), std::make_pair(before.pic.width, before.pic.height));
    ASSERT_FALSE(after.reasons.empty());
    EXPECT_EQ(after.reasons.front().rfind("frame: 10, 12, 10 and 12 pixels", 0), 0u) << after.reasons.front();
    const int w = after.pic.width, h = after.pic.height, x0 = 5, y0 = 6;
    size_t frameChanged = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < x0 || y < y0 || x >= w - x0 || y >= h - y0)
                for (int c = 0; c < 3; ++c) {
                    const size_t i = (size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c);
                    frameChanged += after.pic.rgb8[i] != before.pic.rgb8[i];
                }
    EXPECT_EQ(frameChanged, 0u);
    ASSERT_EQ(Run("correct " + Quoted(in) + " -o " + Quoted(dir / "whole.png")).status, 0);
    Picture whole;
    whole.width = W, whole.height = H, whole.bits = 8;
    for (uint16_t v : Pixels(dir / "whole.png")) whole.rgb8.push_back(uint8_t(v / 257));
    const Picture expected = ScaledDown(whole, w, h);
    double sum = 0.0;
    size_t n = 0;
    for (int y = y0; y < h - y0; ++y)
        for (size_t i = size_t(x0) * 3; i < size_t(w - x0) * 3; ++i, ++n) {
            const size_t k = size_t(y) * size_t(w) * 3 + i;
            sum += std::abs(int(expected.rgb8[k]) - int(after.pic.rgb8[k]));
        }
    EXPECT_LT(sum / double(n), 2.0);
}

TEST_F(PreviewPhotoTest, AViewsPictureIsNeverLargerThanAskedForWhateverItsShape) {
    PreviewPhoto photo;
    Open(photo, "in.png");
    std::string error;
    for (const auto& [query, most] : std::vector<std::pair<std::string, int>>{
             {"x=0&y=0&w=100&h=149&width=8192&height=1", 2},
             {"x=0&y=0&w=100&h=149&width=1&height=8192", 2 * 3},  // the scale rounded up to 11/1024
             {"x=0&y=0&w=100&h=149&width=8192&height=75", 50 * 75 + 200},
             {"x=10&y=10&w=20&h=20&width=8192&height=4000", 20 * 20}}) {
        RenderRequest r;
        const RenderedView v = View(photo, r, query);
        EXPECT_LE(v.pic.width * v.pic.height, most) << query << ": " << v.pic.width << "x" << v.pic.height;
        EXPECT_GE(v.x + v.w, double(r.view.area.x + r.view.area.w)) << "the whole area is shown: " << query;
        std::string bytes;
        ASSERT_TRUE(EncodeForBrowser(v.pic, ImageFormat::kPng, "", [] { return false; }, bytes, error)) << error;
        EXPECT_LT(bytes.size(), size_t(most) * 6 + 1024) << query;
        std::ofstream(dir / "view.png", std::ios::binary) << bytes;
        EXPECT_EQ(Pixels(dir / "view.png"), Samples16(v.pic)) << "PNG is lossless: " << query;
    }
    // Encoding polls the stop before it starts and between strips of rows.
    RenderRequest r;
    const Picture whole = View(photo, r, "x=0&y=0&w=100&h=149&width=100&height=149").pic;
    // A stop after the encoder opened finishes it on black rows (closed
    // short of them, libpng complains on the terminal) and drops it.
    testing::internal::CaptureStderr();
    for (const ImageFormat format : {ImageFormat::kPng, ImageFormat::kJpeg})
        for (const int stopAt : {1, 2, 3}) {
            int polls = 0;
            std::string bytes;
            EXPECT_FALSE(EncodeForBrowser(whole, format, "", [&] { return ++polls == stopAt; }, bytes, error));
            EXPECT_EQ(error, "stopped");
            EXPECT_TRUE(bytes.empty());
        }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Scaled copies share the memory budget with the photo: a copy that does not
// fit beside it is refused (the view at 1:1 still served), and with room for
// one copy only, each view of another zoom gives up the copy before it.
TEST_F(PreviewPhotoTest, ScaledCopiesFitInTheMemoryBudgetBesideThePhoto) {
    const fs::path in = MakeInput("in.png");
    const uint64_t photoBytes = EstimatedBytes(Work::kAnalyseAndApply, 100 * 149, 3, 8);
    // Copy and blob, 6 bytes a pixel: 90 x 134 and 80 x 119.
    const uint64_t at90 = 6 * 90 * 134, at80 = 6 * 80 * 119;
    const auto view = [](PreviewPhoto& photo, const std::string& size, std::string& error) {
        RenderRequest r;
        RenderedView v;
        EXPECT_TRUE(ParseRenderRequest(Query("x=0&y=0&w=100&h=149&" + size), 100, 149, r, error)) << error;
        return photo.Render(r, [] { return false; }, v, error) ? v.pic.width : 0;
    };
    const auto open = [&](PreviewPhoto& photo, uint64_t room) {
        std::string notes, error;
        const SizeLimits limits{kDefaultMaxMegapixels, double(photoBytes + room) / 1e9};
        EXPECT_TRUE(photo.Open(in.string(), limits, notes, error, [] { return false; })) << error;
    };
    {
        PreviewPhoto photo;
        open(photo, (at80 + at90) / 2);
        std::string error;
        EXPECT_EQ(view(photo, "width=90&height=134", error), 0);
        EXPECT_EQ(error, "not enough memory for a scaled copy of the photo");
        EXPECT_EQ(view(photo, "width=80&height=119", error), 80) << error;
        EXPECT_EQ(view(photo, "width=100&height=149", error), 100) << error;
    }
    PreviewPhoto photo;
    open(photo, at80 + at90 - 1);
    for (int i = 0; i < 3; ++i) {
        std::string error;
        EXPECT_EQ(view(photo, "width=90&height=134", error), 90) << error;
        EXPECT_EQ(view(photo, "width=80&height=119", error), 80) << error;
    }
}

// The server in process, on a free loopback port.
class PreviewServerTest : public PreviewPhotoTest {
public:
    void SetUp() override {
        PreviewPhotoTest::SetUp();
        Open(photo, "in.jpg");
    }
    void Start(bool requireToken = false, const ConnectionLimits& limits = {}) {
        server = std::make_unique<PreviewServer>(photo, limits);
        std::string error;
        port = server->Bind("127.0.0.1", 0, requireToken, error);
        ASSERT_GT(port, 0) << error;
        running = std::thread([this] { server->Run(); });
    }
    void TearDown() override {
        if (server) server->Stop();
        if (running.joinable()) running.join();
        server.reset();
        PreviewPhotoTest::TearDown();
    }
    httplib::Client Client() {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(10, 0);
        return c;
    }
    // Requests and the status each must get; a refusal must carry a JSON error.
    struct Asked {
        std::string path;
        httplib::Headers headers;
        int status;
    };
    static void ExpectStatuses(httplib::Client& c, const std::vector<Asked>& asked) {
        for (const Asked& a : asked) {
            auto r = c.Get(a.path, a.headers);
            const std::string what = a.path + (a.headers.empty() ? "" : " with " + a.headers.begin()->first + ": " +
                                                                            a.headers.begin()->second);
            ASSERT_TRUE(r) << what;
            EXPECT_EQ(r->status, a.status) << what;
            if (a.status >= 400) {
                EXPECT_TRUE(IsJsonError(r)) << what;
                EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store") << what;
            }
            // Every answer, refusals included, forbids framing and sniffing.
            EXPECT_TRUE(Has(r->get_header_value("Content-Security-Policy"), "frame-ancestors 'none'")) << what;
            EXPECT_EQ(r->get_header_value("X-Frame-Options"), "DENY") << what;
            EXPECT_EQ(r->get_header_value("X-Content-Type-Options"), "nosniff") << what;
        }
    }
    static int Status(const httplib::Result& r) { return r ? r->status : -1; }
    static bool IsJsonError(const httplib::Result& r) {
        return r && r->get_header_value("Content-Type") == "application/json" &&
               nlohmann::json::parse(r->body, nullptr, false).contains("error");
    }

    static inline const std::string kView = "/api/render?x=0&y=0&w=100&h=149&width=50&height=75";
    PreviewPhoto photo;
    std::unique_ptr<PreviewServer> server;
    std::thread running;
    int port = 0;
};

// A raw connection to the server, for requests no HTTP client would send.
class RawSocket {
public:
    explicit RawSocket(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    bool Connected() const { return connected_; }
    // False once the server has closed the connection.
    bool Send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    // Whether the server closed the connection within `ms`; what it sent before goes to `got`.
    bool ClosedWithin(int ms, std::string* got = nullptr) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char b[4096];
                const ssize_t n = ::recv(fd_, b, sizeof b, 0);
                if (n <= 0) return true;
                if (got) got->append(b, size_t(n));
            }
        }
        return false;
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST_F(PreviewServerTest, ServesThePageTheTableAndViewsAndRefusesBadRequestsWithJson) {
    Start();
    auto c = Client();
    auto page = c.Get("/"), script = c.Get("/preview.js"), table = c.Get("/api/settings");
    ASSERT_TRUE(page && script && table);
    EXPECT_TRUE(Has(page->body, "<script src=\"/preview.js\">"));
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    const nlohmann::json t = nlohmann::json::parse(table->body);
    EXPECT_EQ(t["photo"]["width"], 100);
    EXPECT_EQ(t["settings"].size(), 23u);

    auto view = c.Get(kView);
    ASSERT_EQ(Status(view), 200);
    EXPECT_EQ(view->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(view->get_header_value("X-Lumarex-Area"), "0.000,0.000,100.000,149.000");
    EXPECT_EQ(view->body.substr(0, 2), "\xff\xd8");
    // With the photo's colour profile, so that the browser shows its colours
    // as the file's.
    std::ofstream(dir / "view.jpg", std::ios::binary) << view->body;
    const OIIO::ImageSpec viewSpec = SpecOf(dir / "view.jpg"), photoSpec = SpecOf(dir / "in.jpg");
    const OIIO::ParamValue *shown = viewSpec.find_attribute("ICCProfile"), *own = photoSpec.find_attribute("ICCProfile");
    ASSERT_TRUE(shown && own);
    EXPECT_EQ(std::string(static_cast<const char*>(shown->data()), shown->type().size()),
              std::string(static_cast<const char*>(own->data()), own->type().size()));

    // Bad views and settings, and a parameter given twice on any route (whatever its spelling).
    std::vector<Asked> asked{{"/", {}, 200}, {"/nothing", {}, 404}};
    for (const char* bad : {"/api/render?x=0&y=0&w=101&h=1&width=1&height=1", "/api/command?cast=on&cast=off",
                            "/api/render?x=0&y=0&w=1&h=1&width=1&height=1&sh%61rpen=1&sharpen=2",
                            "/api/settings?a=1&a=1", "/?x=1&x=2", "/api/command?brighten=5=200"})
        asked.push_back({bad, {}, 400});
    ExpectStatuses(c, asked);
    EXPECT_EQ(Status(c.Post("/api/save", "", "text/plain")), 403);
    EXPECT_EQ(Status(c.Post("/api/save?look=natural&look=natural", {{"X-Lumarex", "save"}}, "", "text/plain")), 400);
    EXPECT_EQ(Status(c.Post("/api/save?brighten=5=200", {{"X-Lumarex", "save"}}, "", "text/plain")), 400);
    EXPECT_FALSE(fs::exists(dir / "in-corrected.jpg"));

    // The copied command writes where a save would: the next free name, not
    // over an earlier save.
    std::ofstream(dir / "in-corrected.jpg") << "an earlier save";
    auto command = c.Get("/api/command?brighten=20");
    ASSERT_EQ(Status(command), 200);
    EXPECT_TRUE(Has(nlohmann::json::parse(command->body)["command"].get<std::string>(), "in-corrected-2.jpg"))
        << command->body;
}

TEST_F(PreviewServerTest, OnLoopbackOnlyLoopbackHostsAndTheServersOwnPageAreAnswered) {
    Start();
    auto c = Client();
    // A browser says when another site's page sends a request: an image or a
    // form there costs no render here. A link followed to the page opens it;
    // the same link to a view, or the page fetched by a script, does not.
    const httplib::Headers link{{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "navigate"},
                                {"Sec-Fetch-Dest", "document"}};
    const httplib::Headers script{{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "cors"},
                                  {"Sec-Fetch-Dest", "empty"}};
    std::vector<Asked> asked{{"/", link, 200},
                             {kView, link, 403},
                             {"/", script, 403},
                             {kView, {{"Sec-Fetch-Site", "cross-site"}}, 403},
                             {kView, {{"Sec-Fetch-Site", "same-site"}}, 403},
                             {"/", {{"Sec-Fetch-Site", "same-origin"}}, 200},
                             {"/", {{"Sec-Fetch-Site", "none"}}, 200}};
    // Which names are loopback is PreviewAccess's; here that the answer follows.
    for (const auto& [host, status] : {std::pair{"localhost:8080", 200}, {"[::1]:80", 200},
                                       {"127.0.0.1.example.com", 403}, {"attacker.example", 403}})
        asked.push_back({"/api/settings", {{"Host", host}}, status});
    ExpectStatuses(c, asked);
    // Two Host headers, one of them foreign, are refused.
    RawSocket twice(port);
    ASSERT_TRUE(twice.Connected());
    ASSERT_TRUE(twice.Send("GET /api/settings HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n"
                           "Connection: close\r\n\r\n"));
    std::string answer;
    EXPECT_TRUE(twice.ClosedWithin(2000, &answer));
    EXPECT_EQ(answer.rfind("HTTP/1.1 403", 0), 0u) << answer;
}

TEST_F(PreviewServerTest, WithATokenEveryRequestMustCarryItOnce) {
    Start(/*requireToken=*/true);
    const std::string token = server->Token();
    ASSERT_EQ(token.size(), 32u);
    auto c = Client();
    std::string wrong = token;
    wrong[5] = wrong[5] == 'a' ? 'b' : 'a';
    ExpectStatuses(c, {{"/", {}, 403},
                       {"/preview.js", {}, 403},
                       {"/api/settings", {}, 403},
                       {kView, {}, 403},
                       {"/api/settings?token=" + wrong, {}, 403},
                       {"/api/settings?token=" + token + "&token=" + token, {}, 403},
                       {"/api/settings", {{"X-Lumarex-Token", wrong}}, 403},
                       // Both given: both must be right.
                       {"/api/settings?token=" + token, {{"X-Lumarex-Token", wrong}}, 403},
                       // The Host check still holds on loopback.
                       {kView, {{"X-Lumarex-Token", token}, {"Host", "127.0.0.1.example.com"}}, 403},
                       {"/preview.js?token=" + token, {}, 200},
                       {kView, {{"X-Lumarex-Token", token}}, 200},
                       {kView + "&token=" + token, {}, 200}});
    EXPECT_EQ(Status(c.Post("/api/save", httplib::Headers{{"X-Lumarex", "save"}}, "", "text/plain")), 403);
    EXPECT_FALSE(fs::exists(dir / "in-corrected.jpg"));
    // The page's address carries it, and the page its assets' addresses.
    auto page = c.Get("/?token=" + token);
    ASSERT_EQ(Status(page), 200);
    EXPECT_TRUE(Has(page->body, "src=\"/preview.js?token=" + token + "\""));
    EXPECT_TRUE(Has(page->body, "href=\"/preview.css?token=" + token + "\""));
}

TEST_F(PreviewServerTest, OneServerToAPortAndAnyOtherIsRefusedBeforeItsAnalysis) {
    Start();
    // A second server, the command's: refused before it reads or analyses
    // the photo (it says "analysing" before it starts).
    const Result cmd = Run("serve " + Quoted(MakeInput("big.png")) + " --port " + std::to_string(port));
    EXPECT_EQ(cmd.status, 2);
    EXPECT_TRUE(Has(cmd.err, "cannot listen on 127.0.0.1 port " + std::to_string(port) + " (in use"));
    EXPECT_EQ(cmd.err.find("analysing"), std::string::npos) << cmd.err;
    // The first still serves.
    EXPECT_EQ(Status(Client().Get("/api/settings")), 200);
}

// On every address the printed address names this machine, which other
// machines can open; 0.0.0.0 would be their own.
TEST_F(Cli, ServingEveryAddressPrintsTheMachinesName) {
    char machine[256] = {};
    if (::gethostname(machine, sizeof machine - 1) != 0 || machine[0] == '\0') GTEST_SKIP() << "no machine name";
    const pid_t c =
        lumarex_test::StartCommand(dir, {"serve", MakeInput("in.png").string(), "--listen", "0.0.0.0", "--port", "0"});
    std::string out;
    for (int i = 0; i < 600 && out.find("(Ctrl-C stops)") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        out = lumarex_test::Slurp(dir / "stdout");
    }
    ::kill(c, SIGINT);
    EXPECT_EQ(lumarex_test::Finish(c, 30), 130);
    EXPECT_TRUE(Has(out, std::string(" at http://") + machine + ":")) << out;
}

TEST_F(PreviewServerTest, SlowClientsLoseTheirWorkersAndAStopEndsThemAll) {
    Start();
    // Clients sending a header line every 300 ms are cut off 2 s after their first byte.
    constexpr int kSlow = 12;
    std::vector<std::unique_ptr<RawSocket>> slow;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(std::make_unique<RawSocket>(port));
        ASSERT_TRUE(slow.back()->Connected());
        ASSERT_TRUE(slow.back()->Send("GET /api/settings HTTP/1.1\r\n"));
    }
    std::atomic<int> cutOff{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> trickle;
    for (int i = 0; i < kSlow; ++i)
        trickle.emplace_back([&, i] {
            for (int line = 0; line < 30; ++line) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (!slow[i]->Send("X-Slow-" + std::to_string(line) + ": 1\r\n")) break;
            }
            if (slow[i]->ClosedWithin(200)) ++cutOff;
        });
    // Meanwhile a normal request is answered at once, several times over.
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Status(Client().Get("/api/settings")), 200);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& t : trickle) t.join();
    const double cut = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(cutOff, kSlow);
    EXPECT_LT(cut, 4.0) << "each was cut off about 2 s after its first byte";

    // A request of endless headers is cut off at its size limit.
    RawSocket endless(port);
    ASSERT_TRUE(endless.Connected());
    bool refused = false;
    std::string header = "X-Pad: ";
    header.append(1000, 'a').append("\r\n");
    for (int i = 0; i < 1000 && !refused; ++i) refused = !endless.Send(header);
    EXPECT_TRUE(refused || endless.ClosedWithin(1000));

    // A stop ends the server within a second, slow clients and all.
    std::vector<std::unique_ptr<RawSocket>> more;
    for (int i = 0; i < kSlow; ++i) {
        more.push_back(std::make_unique<RawSocket>(port));
        more.back()->Send("GET / HTTP/1.1\r\n");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = std::chrono::steady_clock::now();
    server->Stop();
    running.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0);
}

TEST_F(PreviewServerTest, AnOvertakenRenderIsDroppedAndConcurrentClientsAreServed) {
    Start();
    auto c = Client();
    const std::string view = "/api/render?x=0&y=0&w=100&h=149&width=100&height=149&client=t&gen=";
    EXPECT_EQ(Status(c.Get(view + "9")), 200);
    EXPECT_EQ(Status(c.Get(view + "8")), 409);

    // Four clients asking again as soon as answered stay within the turns and queue.
    std::atomic<int> pictures{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            auto tc = Client();
            for (int g = 1; g <= 8; ++g) {
                std::string path = "/api/render?x=0&y=0&w=100&h=149&width=60&height=90&sharpen=";
                path += std::to_string(g % 4) + "&client=c" + std::to_string(t) + "&gen=" + std::to_string(g);
                auto r = tc.Get(path);
                (r && r->status == 200 ? pictures : other)++;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(pictures, 32);
    EXPECT_EQ(other, 0);
}

}  // namespace
}  // namespace lumarex_cli
