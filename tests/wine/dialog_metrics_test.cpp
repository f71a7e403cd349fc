// The reference measurement of dialogs: dialog_metrics.exe creates every dialog of the samples
// and of Wine's own programs under Wine, and what it reports must hold together: every dialog
// reported, created or said why not; the base units GDI measures from the dialog's font equal
// to MapDialogRect's; each control where the dialog manager puts it; one-line extents the same
// through GetTextExtentPoint32W and DrawTextW; and each locale's dialog font from the file
// named here (README, "Layout reference under Wine"). Runs inside a virtual X server
// (xvfb-run), in a Wine prefix of its own that holds fonts-wine's Tahoma.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pe_builder.h"

namespace quelvar {
namespace {

#if defined(QUELVAR_WINE64) && defined(QUELVAR_DIALOG_METRICS)
constexpr const char* kWine = QUELVAR_WINE64;
constexpr const char* kDialogMetrics = QUELVAR_DIALOG_METRICS;
constexpr const char* kPrefix = QUELVAR_METRICS_PREFIX;
#else
constexpr const char* kWine = "";
constexpr const char* kDialogMetrics = "";
constexpr const char* kPrefix = "";
#endif

const std::filesystem::path kWineImages = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const std::filesystem::path kWineFonts = "/usr/share/wine/fonts";

// One line of dialog_metrics' output: a flat JSON object of texts, integers and integer lists.
struct Record {
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<long long>> numbers;  // an integer as a list of one

    const std::string& Text(const std::string& key) const {
        static const std::string none;
        auto it = texts.find(key);
        return it == texts.end() ? none : it->second;
    }
    long long Number(const std::string& key) const {
        auto it = numbers.find(key);
        return it == numbers.end() || it->second.empty() ? 0 : it->second[0];
    }
    const std::vector<long long>& List(const std::string& key) const {
        static const std::vector<long long> none;
        auto it = numbers.find(key);
        return it == numbers.end() ? none : it->second;
    }
    bool Has(const std::string& key) const { return numbers.count(key) + texts.count(key) > 0; }
};

// Parses a line; false when it is not the flat object dialog_metrics writes.
bool Parse(const std::string& line, Record* record) {
    size_t at = 0;
    auto skip = [&](char c) {
        if (at < line.size() && line[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    auto string = [&](std::string* out) {
        if (!skip('"'))
            return false;
        for (; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] == '\\' && ++at < line.size() && line[at] == 'u') {
                out->push_back(static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16)));
                at += 4;
            } else if (at < line.size()) {
                out->push_back(line[at]);
            }
        }
        return skip('"');
    };
    auto number = [&](long long* out) {
        size_t used = 0;
        try {
            *out = std::stoll(line.substr(at), &used);
        } catch (...) {
            return false;
        }
        at += used;
        return true;
    };
    if (!skip('{'))
        return false;
    do {
        std::string key;
        if (!string(&key) || !skip(':'))
            return false;
        if (at < line.size() && line[at] == '"') {
            if (!string(&record->texts[key]))
                return false;
        } else if (skip('[')) {
            std::vector<long long>& list = record->numbers[key];
            for (long long v; !skip(']');) {
                if (!number(&v))
                    return false;
                list.push_back(v);
                skip(',');
            }
        } else {
            long long v = 0;
            if (!number(&v))
                return false;
            record->numbers[key] = {v};
        }
    } while (skip(','));
    return skip('}') && at == line.size();
}

// Runs dialog_metrics over `image` (all languages when `language` is negative) under the
// user locale `locale`; the records in output order, empty when it failed.
std::vector<Record> Metrics(const std::filesystem::path& image, int language,
                            const std::string& locale, const test::TempDir& dir) {
    std::filesystem::path out = dir / "metrics.jsonl";
    std::filesystem::path err = dir / "metrics.err";
    std::string command = std::string("env WINEPREFIX='") + kPrefix +
                          "' WINEDEBUG=-all LC_ALL=" + locale + " '" + kWine + "' '" +
                          kDialogMetrics + "' 'Z:" + image.string() + "'" +
                          (language < 0 ? "" : " " + std::to_string(language)) + " >'" +
                          out.string() + "' 2>'" + err.string() + "'";
    int raw = std::system(command.c_str());
    test::Bytes errors = test::ReadFileBytes(err);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0)
        << command << "\n"
        << std::string(errors.begin(), errors.end());
    std::vector<Record> records;
    test::Bytes bytes = test::ReadFileBytes(out);
    std::string text(bytes.begin(), bytes.end());
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        Record record;
        EXPECT_TRUE(Parse(text.substr(start, end - start), &record))
            << text.substr(start, end - start);
        records.push_back(std::move(record));
    }
    return records;
}

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
    if (std::string(kWine).empty())
        GTEST_SKIP() << "wine64, mingw-w64 or xvfb-run was not found at configure time";
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run inside xvfb-run";
    // Without Tahoma Wine answers "MS Shell Dlg" with whatever fontconfig offers.
    std::filesystem::path fonts = std::filesystem::path(kPrefix) / "drive_c/windows/Fonts";
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"})
        std::filesystem::copy_file(kWineFonts / file, fonts / file,
                                   std::filesystem::copy_options::skip_existing);

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
        std::vector<Record> records = Metrics(image, c.language, c.locale, dir);
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
