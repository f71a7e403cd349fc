// The reference measurement of dialogs: dialog_metrics.exe creates every dialog of the samples
// and of Wine's own programs under Wine, and what it reports must hold together: every dialog
// reported, created or said why not; the base units GDI measures from the dialog's font, and
// from the font measure_gdi opens for the template, equal to MapDialogRect's; each control where
// the dialog manager puts it; one-line extents the same through GetTextExtentPoint32W and
// DrawTextW; and each locale's dialog font from the file named here (README, "Layout reference
// under Wine"). Runs inside a virtual X server (xvfb-run), in a Wine prefix of its own that holds
// fonts-wine's Tahoma.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dialog_metrics_run.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Record;

const std::filesystem::path kWineImages = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

long long MulDiv(long long a, long long b, long long c) {
    long long p = a * b;
    return p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c);
}

// Where the dialog manager puts a control: its position and its size mapped each on its own
// (so that right and bottom may differ by one pixel from MapDialogRect of the corners).
std::vector<long long> Placed(const std::vector<long long>& du,
                              const std::vector<long long>& base) {
    long long left = MulDiv(du[0], base[0], 4), top = MulDiv(du[1], base[1], 8);
    return {left, top, left + MulDiv(du[2], base[0], 4), top + MulDiv(du[3], base[1], 8)};
}

// Controls that size themselves: a combo box to its closed height (the template's height
// includes the list), a list box to whole items, an etched line to its frame.
bool SizesItself(const Record& control) {
    const std::string& c = control.Text("class");
    long long kind = control.Number("style") & 0x1F;  // SS_TYPEMASK
    return c == "ComboBox" || c == "ComboBoxEx32" || c == "ListBox" ||
           (c == "Static" && (kind == 0x10 || kind == 0x11));
}

struct Case {
    const char* image;     // a sample's name, or "/" and the name of one of Wine's images
    int language;          // -1: every language
    const char* locale;    // the user locale Wine runs in
    const char* shellDlg;  // the file an "MS Shell Dlg" dialog's font comes from
    int fontIndex;         // and its face's index in that file
    bool glyphsMissing;    // whether some texts have characters that font lacks
};

TEST(DialogMetrics, EveryDialogCreatedAndMeasuredConsistently) {
    if (!test::HaveDialogMetrics())
        GTEST_SKIP() << "wine64, mingw-w64 or xvfb-run was not found at configure time";
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside xvfb-run";
    ASSERT_TRUE(test::PrepareMetricsPrefix()) << "fonts-wine is not installed";

    const std::string tahoma = "\\??\\C:\\windows\\fonts\\tahoma.ttf";
    const std::string cjk = "\\??\\Z:\\usr\\share\\fonts\\opentype\\noto\\NotoSansCJK-Regular.ttc";
    const std::string dejavu = "\\??\\Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";
    const std::vector<Case> cases = {
        {"dialogs64.exe", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        {"/comdlg32.dll", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        {"/shell32.dll", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        {"/notepad.exe", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        {"/regedit.exe", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        {"/wordpad.exe", -1, "en_US.UTF-8", tahoma.c_str(), 0, true},
        // A locale's code page changes the substitutes of "MS Shell Dlg".
        {"/notepad.exe", 0x804, "zh_CN.UTF-8", cjk.c_str(), 2, false},
        {"/notepad.exe", 0x404, "zh_TW.UTF-8", cjk.c_str(), 3, false},
        {"/notepad.exe", 0x11, "ja_JP.UTF-8", cjk.c_str(), 0, false},
        {"/notepad.exe", 0x12, "ko_KR.UTF-8", cjk.c_str(), 1, false},
        {"/notepad.exe", 0x01, "ar_SA.UTF-8", dejavu.c_str(), 0, false},
        // Wine's Tahoma has no Hebrew.
        {"/notepad.exe", 0x0D, "he_IL.UTF-8", tahoma.c_str(), 0, true},
        {"/notepad.exe", 0x19, "ru_RU.UTF-8", tahoma.c_str(), 0, false},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        std::filesystem::path source =
            c.image[0] == '/' ? kWineImages / (c.image + 1) : test::SampleImageDir() / c.image;
        if (!std::filesystem::exists(source)) {
            ADD_FAILURE() << source << " is missing";
            continue;
        }
        // Wine's images are read from a copy, as their users would have them.
        std::filesystem::path image = dir / source.filename().string();
        std::filesystem::copy_file(source, image,
                                   std::filesystem::copy_options::overwrite_existing);
        SCOPED_TRACE(source.string() + " " + std::to_string(c.language) + " " + c.locale);

        std::set<std::pair<std::string, long long>> expected;
        for (const auto& r : test::ReadResources(test::ReadFileBytes(image))) {
            long long language = std::stoll(std::string(r.language.begin(), r.language.end()));
            if (r.type == u"5" && (c.language < 0 || language == c.language))
                expected.emplace(std::string(r.name.begin(), r.name.end()), language);
        }
        std::vector<Record> records = test::RunDialogMetrics(image, c.language, c.locale, dir.path);
        ASSERT_FALSE(records.empty());
        const Record& summary = records.back();
        ASSERT_EQ(summary.Text("kind"), "summary");

        std::set<std::pair<std::string, long long>> reported;
        const Record* dialog = nullptr;
        long long created = 0, controls = 0, items = 0, missingGlyphs = 0;
        for (const Record& r : records) {
            std::string where = r.Text("dialog") + "/" + std::to_string(r.Number("language"));
            if (r.Text("kind") == "dialog") {
                dialog = &r;
                reported.emplace(r.Text("dialog"), r.Number("language"));
                if (!r.Number("created")) {
                    // Only a class that nothing registered keeps a dialog from being created.
                    EXPECT_NE(r.Text("missing"), "") << where;
                    continue;
                }
                ++created;
                items += r.Number("items");
                EXPECT_EQ(r.List("base"), r.List("base_gdi")) << where;
                if (r.Has("base_opened")) {
                    EXPECT_EQ(r.List("base"), r.List("base_opened")) << where;
                }
                EXPECT_EQ(r.List("client"), r.List("client_du")) << where;
                // Bold faces come from tahomabd.ttf.
                if (r.Text("template_face").starts_with("MS Shell Dlg") &&
                    r.Number("template_weight") <= 400) {
                    EXPECT_EQ(r.Text("font_file"), c.shellDlg) << where;
                    EXPECT_EQ(r.Number("font_index"), c.fontIndex) << where;
                }
            } else if (r.Text("kind") == "control") {
                ++controls;
                ASSERT_NE(dialog, nullptr);
                if (!r.Number("created"))
                    continue;
                missingGlyphs += r.Number("missing_glyphs");
                std::vector<long long> placed = Placed(r.List("du"), dialog->List("base"));
                const std::vector<long long>& window = r.List("window");
                ASSERT_EQ(window.size(), 4u) << where;
                EXPECT_EQ(window[0], placed[0]) << where << " " << r.Text("class");
                EXPECT_EQ(window[1], placed[1]) << where << " " << r.Text("class");
                if (!SizesItself(r)) {
                    EXPECT_EQ(window[2], placed[2]) << where << " " << r.Text("class");
                    EXPECT_EQ(window[3], placed[3]) << where << " " << r.Text("class");
                }
                if (r.Has("extent") && r.Text("text").find('\t') == std::string::npos) {
                    EXPECT_EQ(r.List("extent"), r.List("line")) << where << " " << r.Text("text");
                }
            }
        }
        EXPECT_EQ(reported, expected);
        EXPECT_EQ(summary.Number("dialogs"), static_cast<long long>(expected.size()));
        EXPECT_EQ(summary.Number("created"), created);
        EXPECT_EQ(summary.Number("created") + summary.Number("uncreatable"),
                  summary.Number("dialogs"));
        EXPECT_EQ(controls, items);
        EXPECT_EQ(missingGlyphs > 0, c.glyphsMissing) << missingGlyphs;
        EXPECT_GT(created, 0);
    }
}

}  // namespace
}  // namespace quelvar
