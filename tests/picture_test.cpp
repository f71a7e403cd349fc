// Pictures of dialogs: PNG and SVG drawn and read back, the frame's size, controls whose text
// does not fit outlined in red on the translated side only, bad dialogs said rather than
// drawn, quelvar-cli preview, and check --layout --html looked at by a real browser.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "driver/driver.h"
#include "pe_builder.h"
#include "shell.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Put;
using test::PutText;

constexpr uint32_t kCaptionFrame = 0x00C00000 | 0x80;  // WS_CAPTION | DS_MODALFRAME
constexpr uint32_t kVisible = 0x10000000;

// A DLGTEMPLATE in "MS Shell Dlg 2" 8 pt of cx x cy dialog units with a push button (id 100)
// and a static (id 101), each 50 x 14 units; `exStyle` 0x400000 lays it out right to left.
Bytes Dialog(int16_t cx = 160, int16_t cy = 60, uint16_t points = 8, uint32_t exStyle = 0) {
    Bytes b;
    Put(b, kCaptionFrame | 0x40 /* DS_SETFONT */, 4), Put(b, exStyle, 4), Put(b, 2, 2);
    for (int16_t v : {int16_t{0}, int16_t{0}, cx, cy})
        Put(b, static_cast<uint16_t>(v), 2);
    Put(b, 0, 2), Put(b, 0, 2);
    PutText(b, u"Settings");
    Put(b, points, 2);
    PutText(b, u"MS Shell Dlg 2");
    struct {
        uint16_t cls, id;
        int16_t x;
        std::u16string_view title;
    } controls[] = {{0x80, 100, 10, u"OK"}, {0x82, 101, 70, u"Name:"}};
    for (const auto& c : controls) {
        while (b.size() % 4 != 0)
            b.push_back(0);
        Put(b, kVisible, 4), Put(b, 0, 4);
        for (int16_t v : {c.x, int16_t{10}, int16_t{50}, int16_t{14}})
            Put(b, static_cast<uint16_t>(v), 2);
        Put(b, c.id, 2), Put(b, 0xFFFF, 2), Put(b, c.cls, 2);
        PutText(b, c.title);
        Put(b, 0, 2);
    }
    return b;
}

struct Files {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe", translation = dir / "de.lng";
    Files(const Bytes& dialog, std::u16string_view texts) {
        test::WriteFileBytes(image, test::BuildImage({{test::Id(5), test::Id(1), 1033, dialog}}));
        test::WriteFileBytes(translation, test::LanguageFile(texts));
    }
};

// The button's text far too long for it; the static's short.
constexpr std::u16string_view kClipped =
    u"5.1.HEAD=Einstellungen\r\n5.1.100=Eine viel zu lange Beschriftung\r\n5.1.101=Name:\r\n";

std::vector<LaidOutDialog> LaidOut(const Files& f, bool translated) {
    Options options;
    Outcome<std::vector<LaidOutDialog>> out =
        LayOutDialogs(f.image, translated ? &f.translation : nullptr, options, LayoutSettings{});
    EXPECT_EQ(CodeOf(out), kSuccess);
    return out ? *out : std::vector<LaidOutDialog>{};
}

TEST(Pictures, DrawnAndReadBack) {
    if (!PicturesAvailable())
        GTEST_SKIP() << "this build draws no pictures";
    for (bool rtl : {false, true}) {
        Files f(Dialog(160, 60, 8, rtl ? 0x400000 : 0), kClipped);
        std::vector<LaidOutDialog> dialogs = LaidOut(f, true);
        ASSERT_EQ(dialogs.size(), 1u);
        const LaidOutDialog& d = dialogs[0];
        ASSERT_TRUE(d.source.ok) << d.source.problem;
        ASSERT_EQ(d.caption, std::u16string(u"Einstellungen"));
        // Frame: 3 px borders and a 19 px caption; 12 px around and between the two dialogs.
        int outerX = d.source.rect.cx + 6, outerY = d.source.rect.cy + 6 + 19;
        std::vector<uint8_t> png;
        std::string problem;
        ASSERT_TRUE(DrawLaidOutDialog(d, PictureFormat::Png, {}, png, problem)) << problem;
        int width = 0, height = 0;
        ASSERT_TRUE(PngSize(png, width, height));
        EXPECT_EQ(width, 12 * 3 + 2 * outerX);
        EXPECT_EQ(height, 12 * 2 + outerY);
        // The button's outline (its left edge; mirrored right to left) red on the translated
        // side only; the static fits and has none.
        auto leftEdge = [&](const PixelRect& r) {
            return 3 + 1 + (rtl ? d.source.rect.cx - r.x - r.cx : r.x);
        };
        const PixelRect& button = d.measure.controls[0].rect;
        int y = 12 + 3 + 19 + button.y + button.cy / 2;
        int right = 12 + outerX + 12;
        struct {
            int x;
            bool red;
        } pixels[] = {{right + leftEdge(button), true},
                      {12 + leftEdge(button), false},
                      {right + leftEdge(d.measure.controls[1].rect), false}};
        for (auto p : pixels) {
            uint32_t rgb = 0;
            ASSERT_TRUE(PngPixel(png, p.x, y, rgb));
            EXPECT_EQ(rgb == 0xFF0000, p.red) << std::hex << rgb << " at " << p.x << " rtl " << rtl;
        }
    }
    Files f(Dialog(), kClipped);
    const LaidOutDialog d = LaidOut(f, true).at(0);
    std::vector<uint8_t> svg;
    std::string problem;
    ASSERT_TRUE(DrawLaidOutDialog(d, PictureFormat::Svg, {}, svg, problem)) << problem;
    std::string text(svg.begin(), svg.end());
    EXPECT_NE(text.find("width=\"" + std::to_string(12 * 3 + 2 * (d.source.rect.cx + 6)) + "px\""),
              std::string::npos);                                         // pixels, as the PNG
    EXPECT_NE(text.find("rgb(100%,0%,0%)"), std::string::npos);           // the outline
    EXPECT_NE(text.find("<use xlink:href=\"#glyph"), std::string::npos);  // the texts
}

TEST(Pictures, BadDialogsSaidNotDrawn) {
    if (!PicturesAvailable())
        GTEST_SKIP() << "this build draws no pictures";
    struct {
        Bytes dialog;
        std::string problem;
    } cases[] = {
        {Dialog(32767, 32767), "too large to draw"},
        {Dialog(160, 60, 0), "point size of 0"},
        {Dialog(-5, 60), "negative size"},
    };
    for (const auto& c : cases) {
        Files f(c.dialog, kClipped);
        for (bool translated : {false, true}) {
            std::vector<LaidOutDialog> dialogs = LaidOut(f, translated);
            ASSERT_EQ(dialogs.size(), 1u);
            std::vector<uint8_t> png;
            std::string problem;
            EXPECT_FALSE(DrawLaidOutDialog(dialogs[0], PictureFormat::Png, {}, png, problem));
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
    }
}

test::ShellRun RunCli(const std::filesystem::path& dir, const std::string& args) {
    return test::RunShell(dir, "\"$Q\" " + args, test::ShellOutput::WithErrors);
}

TEST(Pictures, PreviewCommand) {
    if (!PicturesAvailable())
        GTEST_SKIP() << "this build draws no pictures";
    Files f(Dialog(), kClipped);
    // A second dialog (named) in another language: several dialogs go one a file.
    test::WriteFileBytes(f.image,
                         test::BuildImage({{test::Id(5), test::Id(1), 1033, Dialog()},
                                           {test::Id(5), test::Name(u"OPTIONS"), 1031, Dialog()}}));
    struct {
        std::string args;
        int status;
        std::string said;
        std::vector<std::string> written;
    } cases[] = {
        {"preview app.exe de.lng --language 1033 -o one.png", 0, "drew 1 of 1", {"one.png"}},
        {"preview app.exe -o all.svg",
         0,
         "drew 2 of 2",
         {"all-1-1033.svg", "all-OPTIONS-1031.svg"}},
        {"preview app.exe --dialog options -o opt.png", 0, "drew 1 of 1", {"opt.png"}},
        {"preview app.exe --dialog 7 -o none.png", 1, "has no dialog 7", {}},
        {"preview app.exe -o pic.jpg", 2, "OUT.png or OUT.svg", {}},
        {"preview app.exe de.lng", 2, "OUT.png or OUT.svg", {}},
        {"preview app.exe -o x.png --dpi 100", 2, "--dpi is 96", {}},
        {"preview nowhere.exe -o x.png", 1, "nowhere.exe", {}},
        {"check app.exe de.lng --html r.html", 2, "belong to --layout", {}},
        {"check app.exe de.lng --layout --html r.html", 1, "text clipped", {"r.html"}},
    };
    for (const auto& c : cases) {
        test::ShellRun run = RunCli(f.dir.path, c.args);
        EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.args << "\n" << run.err;
        for (const std::string& name : c.written) {
            Bytes bytes = test::ReadFileBytes(f.dir / name);
            int w = 0, h = 0;
            EXPECT_TRUE(!name.ends_with(".png") || PngSize(bytes, w, h)) << name;
            EXPECT_GT(bytes.size(), 100u) << name;
        }
    }
}

std::string Chromium() {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (std::filesystem::exists(path))
            return path;
    return "";
}

// The report as a browser sees it: every finding's link leads to a dialog's section, and every
// picture decodes (its natural size, which a script added to a copy writes into the page).
TEST(Pictures, HtmlReportInABrowser) {
    if (!PicturesAvailable())
        GTEST_SKIP() << "this build draws no pictures";
    std::string chromium = Chromium();
    if (chromium.empty())
        GTEST_SKIP() << "chromium is not installed";
    Files f(Dialog(), kClipped);
    test::ShellRun run = RunCli(f.dir.path, "check app.exe de.lng --layout --html report.html");
    ASSERT_EQ(run.status, 1) << run.err;
    Bytes page = test::ReadFileBytes(f.dir / "report.html");
    std::string html(page.begin(), page.end());
    size_t end = html.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    html.insert(end,
                "<script>for (const i of document.images) i.setAttribute('data-size', "
                "i.naturalWidth + 'x' + i.naturalHeight);</script>");
    std::ofstream(f.dir / "seen.html") << html;
    std::string dom = (f.dir / "dom.html").string();
    std::string command = "'" + chromium +
                          "' --headless --no-sandbox --disable-gpu --user-data-dir='" +
                          (f.dir / "profile").string() + "' --dump-dom 'file://" +
                          (f.dir / "seen.html").string() + "' >'" + dom + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Bytes dumped = test::ReadFileBytes(dom);
    std::string seen(dumped.begin(), dumped.end());
    std::set<std::string> ids, links;
    std::smatch m;
    for (std::string rest = seen; std::regex_search(rest, m, std::regex("id=\"([^\"]+)\""));
         rest = m.suffix())
        ids.insert(m[1]);
    for (std::string rest = seen; std::regex_search(rest, m, std::regex("href=\"#([^\"]+)\""));
         rest = m.suffix())
        links.insert(m[1]);
    EXPECT_FALSE(links.empty()) << seen.substr(0, 2000);
    for (const std::string& link : links)
        EXPECT_TRUE(ids.count(link)) << link;
    size_t images = 0;
    for (std::string rest = seen;
         std::regex_search(rest, m, std::regex("data-size=\"([0-9]+)x([0-9]+)\""));
         rest = m.suffix(), ++images)
        EXPECT_TRUE(std::stoi(m[1]) > 0 && std::stoi(m[2]) > 0) << m[0];
    EXPECT_EQ(images, 1u);
    EXPECT_NE(seen.find("text clipped"), std::string::npos);
}

}  // namespace
}  // namespace quelvar
