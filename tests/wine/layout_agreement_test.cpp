// Quelvar's layout measurement against the system's: dialog_metrics.exe reports how Wine lays
// out and measures every dialog of the samples and of Wine's own programs; each dialog is then
// measured by MeasureDialogLayout with the font file Wine took the dialog's font from. Base
// units and control rectangles must be equal, text widths within 1 px for 95 % of the texts
// and the verdict (fits or not) the same for 98 %. Controls that size themselves (combo boxes,
// list boxes, etched lines), texts with characters the font lacks and texts the reference
// measures otherwise (a wrapping button, a line break in a one-line control) are set aside and
// counted. The figures are printed per image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/utf16.h"
#include "dialog_metrics_run.h"
#include "formats/dialog.h"
#include "layout/layout.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Record;

const std::filesystem::path kWineImages = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

#ifdef QUELVAR_METRICS_PREFIX
const std::filesystem::path kPrefix = QUELVAR_METRICS_PREFIX;
#else
const std::filesystem::path kPrefix;
#endif

// The file an NT path of the metrics names: C: is the prefix's drive, Z: the root.
std::filesystem::path FontPath(std::string nt) {
    if (nt.starts_with("\\??\\"))
        nt.erase(0, 4);
    if (nt.size() < 3 || nt[1] != ':')
        return {};
    char drive = static_cast<char>(nt[0] | 0x20);
    std::string rest = nt.substr(3);
    for (char& c : rest)
        c = c == '\\' ? '/' : c;
    if (drive == 'z')
        return "/" + rest;
    // The prefix's folders are named in mixed case: a font is looked up by its name.
    std::filesystem::path fonts = kPrefix / "drive_c/windows/Fonts";
    std::string name = std::filesystem::path(rest).filename().string();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fonts, ec)) {
        std::string file = entry.path().filename().string();
        bool same = file.size() == name.size();
        for (size_t i = 0; same && i < file.size(); ++i)
            same = (file[i] | 0x20) == (name[i] | 0x20);
        if (same)
            return entry.path();
    }
    return {};
}

bool SizesItself(const Record& control) {
    const std::string& c = control.Text("class");
    long long kind = control.Number("style") & 0x1F;  // SS_TYPEMASK
    return c == "ComboBox" || c == "ComboBoxEx32" || c == "ListBox" ||
           (c == "Static" && (kind == 0x10 || kind == 0x11));
}

struct Figures {
    int dialogs = 0, baseEqual = 0, dialogsAside = 0;
    int rects = 0, rectsEqual = 0, sizingItself = 0;
    int texts = 0, exact = 0, withinOne = 0, verdictSame = 0;
    int missingGlyphs = 0, otherAside = 0;
    // Texts in Arabic script (Arabic, Persian, Urdu), counted among the texts and here: Wine's
    // GDI adds up the letters' unjoined advances where HarfBuzz (and Windows' own shaping)
    // joins them, so most differ from Wine by more than a pixel.
    int arabic = 0, arabicWithinOne = 0, arabicVerdictSame = 0;
    // Drop-down combo boxes, placed by the system at their closed height.
    int combos = 0, combosEqual = 0;

    void Add(const Figures& o) {
        arabic += o.arabic, arabicWithinOne += o.arabicWithinOne;
        arabicVerdictSame += o.arabicVerdictSame;
        combos += o.combos, combosEqual += o.combosEqual;
        dialogs += o.dialogs, baseEqual += o.baseEqual, dialogsAside += o.dialogsAside;
        rects += o.rects, rectsEqual += o.rectsEqual, sizingItself += o.sizingItself;
        texts += o.texts, exact += o.exact, withinOne += o.withinOne;
        verdictSame += o.verdictSame, missingGlyphs += o.missingGlyphs;
        otherAside += o.otherAside;
    }
    std::string Line(const std::string& name) const {
        char out[400];
        std::snprintf(out, sizeof out,
                      "%-26s dialogs %4d base= %4d (aside %d) | rects %5d equal %5d (sizing "
                      "itself %d) | texts %5d exact %5d within 1px %5d (%.1f %%) verdict "
                      "%5d (%.1f %%) | aside: glyphs %d other %d",
                      name.c_str(), dialogs, baseEqual, dialogsAside, rects, rectsEqual,
                      sizingItself, texts, exact, withinOne, texts ? 100.0 * withinOne / texts : 0,
                      verdictSame, texts ? 100.0 * verdictSame / texts : 0, missingGlyphs,
                      otherAside);
        std::string line = out;
        if (arabic > 0) {
            std::snprintf(
                out, sizeof out,
                "\n%-26s of them in Arabic script %d: within 1px %d (%.1f %%), verdict "
                "%d (%.1f %%); the others within 1px %.1f %%",
                "", arabic, arabicWithinOne, 100.0 * arabicWithinOne / arabic, arabicVerdictSame,
                100.0 * arabicVerdictSame / arabic,
                texts > arabic ? 100.0 * (withinOne - arabicWithinOne) / (texts - arabic) : 0);
            line += out;
        }
        if (combos > 0) {
            std::snprintf(out, sizeof out,
                          "\n%-26s drop-down combo boxes %d, closed height equal %d", "", combos,
                          combosEqual);
            line += out;
        }
        return line;
    }
};

// Whether a UTF-8 text has letters of the Arabic script (U+0600 to U+077F).
bool InArabicScript(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0xD8 && c <= 0xDD && c != 0xDC)
            return true;
    return false;
}

struct Case {
    const char* image;  // a sample's name, or "/" and the name of one of Wine's images
    int language;       // -1: every language
    const char* locale;
};

// Compares one dialog's records (its line and its controls' lines) with the measurement.
void CompareDialog(const Record& dialog, const std::vector<const Record*>& controls,
                   const DialogTemplate& t, FontCache& fonts, Figures& fig,
                   std::vector<std::string>& differences) {
    std::string where = dialog.Text("dialog") + "/" + std::to_string(dialog.Number("language"));
    LayoutSettings settings;
    settings.fontFile = {FontPath(dialog.Text("font_file")),
                         static_cast<uint32_t>(dialog.Number("font_index"))};
    if (settings.fontFile.path.empty() || dialog.Text("template_face").empty()) {
        ++fig.dialogsAside;  // the system font, which no file of its own gives
        return;
    }
    DialogMeasure m = MeasureDialogLayout(t, DialogTexts{}, fonts, settings);
    ++fig.dialogs;
    if (!m.ok) {
        differences.push_back(where + ": not measured: " + m.problem);
        return;
    }
    std::vector<long long> base = {m.baseX, m.baseY};
    if (base == dialog.List("base"))
        ++fig.baseEqual;
    else
        differences.push_back(
            where + ": base " + std::to_string(m.baseX) + "x" + std::to_string(m.baseY) +
            " against " + std::to_string(dialog.List("base")[0]) + "x" +
            std::to_string(dialog.List("base")[1]) + " " + settings.fontFile.path.string());
    for (const Record* r : controls) {
        size_t index = static_cast<size_t>(r->Number("index"));
        if (!r->Number("created") || index >= m.controls.size())
            continue;
        const ControlMeasure& c = m.controls[index];
        std::string what = where + " #" + std::to_string(index) + " " + r->Text("class") + " \"" +
                           r->Text("text") + "\"";
        if (SizesItself(*r)) {
            ++fig.sizingItself;
            if (IsDropDown(t.controls[index])) {
                ++fig.combos;
                std::vector<long long> ours = {c.rect.x, c.rect.y, c.rect.x + c.rect.cx,
                                               c.rect.y + c.rect.cy};
                fig.combosEqual += ours == r->List("window");
            }
        } else {
            ++fig.rects;
            std::vector<long long> ours = {c.rect.x, c.rect.y, c.rect.x + c.rect.cx,
                                           c.rect.y + c.rect.cy};
            if (ours == r->List("window"))
                ++fig.rectsEqual;
            else
                differences.push_back(what + ": rect differs");
        }
        if (!c.measured || !r->Has("extent"))
            continue;
        if (r->Number("missing_glyphs") > 0) {
            ++fig.missingGlyphs;
            continue;
        }
        const std::string& text = r->Text("text");
        int reference = 0, referenceLines = 1;
        if (c.wraps) {
            // Wrapped at the control's inner width: comparable where the text has all of it.
            if (!r->Has("wrapped") || r->List("inner")[0] != c.available) {
                ++fig.otherAside;
                continue;
            }
            reference = static_cast<int>(r->List("wrapped")[0]);
            referenceLines = static_cast<int>(r->List("wrapped")[1] / m.fontHeight);
        } else {
            if (text.find('\n') != std::string::npos) {
                ++fig.otherAside;
                continue;
            }
            reference = static_cast<int>(
                r->List(text.find('\t') != std::string::npos ? "line" : "extent")[0]);
        }
        ++fig.texts;
        int off = c.textWidth - reference;
        fig.exact += off == 0;
        fig.withinOne += off >= -1 && off <= 1;
        bool fits = c.textWidth <= c.available && c.lines <= c.linesHeld;
        bool referenceFits = reference <= c.available && referenceLines <= c.linesHeld;
        fig.verdictSame += fits == referenceFits;
        if (InArabicScript(text)) {
            ++fig.arabic;
            fig.arabicWithinOne += off >= -1 && off <= 1;
            fig.arabicVerdictSame += fits == referenceFits;
        }
        if (off < -1 || off > 1 || fits != referenceFits)
            differences.push_back(what + ": width " + std::to_string(c.textWidth) + " against " +
                                  std::to_string(reference) + ", lines " + std::to_string(c.lines) +
                                  " against " + std::to_string(referenceLines) + ", available " +
                                  std::to_string(c.available));
    }
}

TEST(LayoutAgreement, MeasurementAgreesWithTheSystem) {
    if (!test::HaveDialogMetrics())
        GTEST_SKIP() << "wine64, mingw-w64 or xvfb-run was not found at configure time";
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside xvfb-run";
    ASSERT_TRUE(test::PrepareMetricsPrefix()) << "fonts-wine is not installed";
    if (!MeasurementAvailable())
        GTEST_SKIP() << "this build measures no text";

    const std::vector<Case> cases = {
        {"dialogs64.exe", -1, "en_US.UTF-8"},   {"/comdlg32.dll", -1, "en_US.UTF-8"},
        {"/shell32.dll", -1, "en_US.UTF-8"},    {"/notepad.exe", -1, "en_US.UTF-8"},
        {"/regedit.exe", -1, "en_US.UTF-8"},    {"/wordpad.exe", -1, "en_US.UTF-8"},
        {"/notepad.exe", 0x804, "zh_CN.UTF-8"}, {"/notepad.exe", 0x404, "zh_TW.UTF-8"},
        {"/notepad.exe", 0x11, "ja_JP.UTF-8"},  {"/notepad.exe", 0x12, "ko_KR.UTF-8"},
        {"/notepad.exe", 0x01, "ar_SA.UTF-8"},  {"/notepad.exe", 0x0D, "he_IL.UTF-8"},
        {"/notepad.exe", 0x19, "ru_RU.UTF-8"},
    };
    test::TempDir dir;
    FontCache fonts;
    Figures all;
    std::vector<std::string> differences;
    for (const Case& c : cases) {
        std::filesystem::path source =
            c.image[0] == '/' ? kWineImages / (c.image + 1) : test::SampleImageDir() / c.image;
        ASSERT_TRUE(std::filesystem::exists(source)) << source;
        std::filesystem::path image = dir / source.filename().string();
        std::filesystem::copy_file(source, image,
                                   std::filesystem::copy_options::overwrite_existing);
        std::map<std::pair<std::string, long long>, test::ReadResource> templates;
        for (auto& r : test::ReadResources(test::ReadFileBytes(image)))
            if (r.type == u"5")
                templates[{ToUtf8(r.name), std::stoll(ToUtf8(r.language))}] = r;

        std::vector<Record> records = test::RunDialogMetrics(image, c.language, c.locale, dir.path);
        Figures fig;
        for (size_t i = 0; i < records.size(); ++i) {
            const Record& d = records[i];
            if (d.Text("kind") != "dialog" || !d.Number("created"))
                continue;
            std::vector<const Record*> controls;
            while (i + 1 < records.size() && records[i + 1].Text("kind") == "control")
                controls.push_back(&records[++i]);
            auto found = templates.find({d.Text("dialog"), d.Number("language")});
            DialogTemplate t;
            if (found == templates.end() ||
                !ReadDialogTemplate(found->second.data, found->second.dataRva, t)) {
                ADD_FAILURE() << d.Text("dialog") << " does not read";
                continue;
            }
            CompareDialog(d, controls, t, fonts, fig, differences);
        }
        std::printf("%s\n", fig.Line(source.filename().string() + " " + c.locale).c_str());
        all.Add(fig);
    }
    std::printf("%s\n", all.Line("all").c_str());
    for (size_t i = 0; i < differences.size() && i < 40; ++i)
        std::printf("  %s\n", differences[i].c_str());

    EXPECT_EQ(all.baseEqual, all.dialogs);
    EXPECT_EQ(all.rectsEqual, all.rects);
    EXPECT_GE(all.withinOne * 100, all.texts * 95);
    EXPECT_GE(all.verdictSame * 100, all.texts * 98);
    EXPECT_GT(all.texts, 1000);
}

#if defined(QUELVAR_CLI) && defined(QUELVAR_WINDOWS_CLI)
// The findings of `check --layout --format json`: key, check, severity and message without the
// font it names (a file on Linux, "the system's font" on Windows), one a line, sorted.
std::vector<std::string> LayoutFindings(const std::string& command,
                                        const std::filesystem::path& out) {
    int status = std::system((command + " >'" + out.string() + "' 2>/dev/null").c_str());
    EXPECT_NE(status, -1) << command;
    test::Bytes bytes = test::ReadFileBytes(out);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> found;
    for (size_t at = text.find("{\"line\""); at != std::string::npos;
         at = text.find("{\"line\"", at + 1)) {
        std::string finding = text.substr(at, text.find('}', at) - at);
        size_t font = finding.rfind(" (");
        found.push_back(finding.substr(0, font));
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(LayoutAgreement, WindowsBuildFindsTheSame) {
    ASSERT_TRUE(test::PrepareMetricsPrefix()) << "fonts-wine is not installed";
    test::TempDir dir;
    struct {
        std::filesystem::path image;
        const char* options;  // of the pseudo-translation
        size_t least;         // findings expected at least
    } cases[] = {
        {test::SampleImageDir() / "dialogs64.exe", " --expand 100 --language 1033", 2},
        {kWineImages / "comdlg32.dll", " --expand 40 --language 1033", 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image.string());
        std::filesystem::path image = dir / c.image.filename();
        std::filesystem::copy_file(c.image, image,
                                   std::filesystem::copy_options::overwrite_existing);
        std::string lng = (dir / "pseudo.lng").string();
        ASSERT_EQ(std::system(("'" + std::string(QUELVAR_CLI) + "' pseudo '" + image.string() +
                               "' '" + lng + "' -q" + c.options)
                                  .c_str()),
                  0);
        std::string args = " check --layout '" + image.string() + "' '" + lng + "' --format json";
        std::vector<std::string> linux =
            LayoutFindings("'" + std::string(QUELVAR_CLI) + "'" + args, dir / "linux.json");
        std::vector<std::string> windows = LayoutFindings(
            "env WINEPREFIX='" + kPrefix.string() +
                "' WINEDEBUG=-all '" QUELVAR_WINE64 "' '" QUELVAR_WINDOWS_CLI "'" + args,
            dir / "windows.json");
        std::printf("%s: %zu findings on Linux, %zu in the Windows build\n",
                    c.image.filename().string().c_str(), linux.size(), windows.size());
        EXPECT_GE(linux.size(), c.least);
        EXPECT_EQ(windows, linux);
    }
}
#endif

}  // namespace
}  // namespace quelvar
