// The layout of dialogs: templates read into their record, base units and pixel rectangles,
// control texts measured as their controls draw them, fonts and their stand-ins, findings
// judged against the source, and check --layout on Wine's comdlg32.dll.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/utf16.h"
#include "driver/driver.h"
#include "formats/dialog.h"
#include "layout/layout.h"
#include "pe_builder.h"
#ifndef _WIN32
#include "shell.h"
#endif

namespace quelvar {
namespace {

using test::Bytes;
using test::Put;
using test::PutText;

// ---- Templates built from the published layouts ----

struct TestControl {
    uint16_t cls;  // ordinal; 0 for the class name below
    uint32_t style;
    int16_t x, y, cx, cy;
    std::u16string title;
    uint16_t id = 100;
    std::u16string className = u"";
};

// A template at address 0, DS_SETFONT with `typeface` and `points` (no font block for an
// empty typeface unless `points` is 0x7FFF), a dialog of 200 x 100 dialog units.
Bytes Template(bool extended, std::u16string_view typeface, uint16_t points,
               const std::vector<TestControl>& controls, uint32_t dialogStyle = 0, int16_t cx = 200,
               int16_t cy = 100) {
    Bytes b;
    bool font = !typeface.empty() || points == kMessageBoxPointSize;
    uint32_t style = dialogStyle | (font ? kDsSetFont : 0);
    if (extended) {
        Put(b, 1, 2), Put(b, 0xFFFF, 2), Put(b, 0, 4), Put(b, 0, 4), Put(b, style, 4);
    } else {
        Put(b, style, 4), Put(b, 0, 4);
    }
    Put(b, static_cast<uint32_t>(controls.size()), 2);
    for (int16_t v : {int16_t{0}, int16_t{0}, cx, cy})
        Put(b, static_cast<uint16_t>(v), 2);
    Put(b, 0, 2), Put(b, 0, 2);  // no menu, the default class
    PutText(b, u"Caption");
    if (font) {
        Put(b, points, 2);
        if (!typeface.empty() || points != kMessageBoxPointSize) {
            if (extended) {
                Put(b, 700, 2), Put(b, 0, 1), Put(b, 1, 1);
            }
            PutText(b, typeface);
        }
    }
    for (const TestControl& c : controls) {
        while (b.size() % 4 != 0)
            b.push_back(0);
        if (extended) {
            Put(b, 0, 4), Put(b, 0, 4), Put(b, c.style, 4);
        } else {
            Put(b, c.style, 4), Put(b, 0, 4);
        }
        for (int16_t v : {c.x, c.y, c.cx, c.cy})
            Put(b, static_cast<uint16_t>(v), 2);
        Put(b, c.id, extended ? 4 : 2);
        if (c.cls != 0) {
            Put(b, 0xFFFF, 2), Put(b, c.cls, 2);
        } else {
            PutText(b, c.className);
        }
        PutText(b, c.title);
        Put(b, 0, 2);  // no creation data
    }
    return b;
}

DialogTemplate Read(const Bytes& b) {
    DialogTemplate t;
    EXPECT_TRUE(ReadDialogTemplate(b, 0, t));
    return t;
}

constexpr uint16_t kButton = 0x80, kStatic = 0x82, kEdit = 0x81;
constexpr uint32_t kCheckBox = 0x3, kGroupBox = 0x7, kNoPrefix = 0x80, kEndEllipsis = 0x4000,
                   kSimple = 0xB;

TEST(DialogTemplateRecord, ReadsBothLayouts) {
    std::vector<TestControl> controls = {
        {kButton, 1, 10, 20, 50, 14, u"&OK", 1},
        {0, 0, 1, 2, 3, 4, u"Link", 7, u"SysLink"},
    };
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended);
        DialogTemplate t = Read(Template(extended, u"MS Shell Dlg", 8, controls));
        EXPECT_EQ(t.extended, extended);
        EXPECT_EQ(t.caption, u"Caption");
        EXPECT_EQ(t.typeface, u"MS Shell Dlg");
        EXPECT_EQ(t.pointSize, 8);
        EXPECT_EQ(t.weight, extended ? 700 : 0);
        EXPECT_EQ(t.charset, extended ? 1 : 0);
        EXPECT_EQ(t.rect.cx, 200);
        ASSERT_EQ(t.controls.size(), 2u);
        EXPECT_EQ(t.controls[0].style, 1u);
        EXPECT_EQ(t.controls[0].rect.x, 10);
        EXPECT_EQ(t.controls[0].rect.cy, 14);
        EXPECT_EQ(t.controls[0].id, 1);
        EXPECT_TRUE(t.controls[0].windowClass.isOrdinal);
        EXPECT_EQ(t.controls[0].windowClass.ordinal, kButton);
        EXPECT_EQ(t.controls[0].title.text, u"&OK");
        EXPECT_EQ(t.controls[1].windowClass.text, u"SysLink");
    }
}

TEST(DialogTemplateRecord, RefusesWhatDoesNotRead) {
    Bytes whole = Template(false, u"Tahoma", 8, {{kStatic, 0, 0, 0, 10, 10, u"Text"}});
    DialogTemplate t;
    for (size_t cut : {size_t{2}, size_t{17}, size_t{30}, whole.size() - 3})
        EXPECT_FALSE(ReadDialogTemplate(std::span(whole).first(cut), 0, t)) << cut;
    // 65,535 controls claimed by a template that holds one.
    Bytes claimed = whole;
    test::Put16(claimed, 8, 0xFFFF);
    EXPECT_FALSE(ReadDialogTemplate(claimed, 0, t));
    // The message box font, with and without the further font fields.
    EXPECT_TRUE(Read(Template(false, u"", kMessageBoxPointSize, {})).messageBoxFont);
    EXPECT_FALSE(Read(Template(false, u"MS Shell Dlg", kMessageBoxPointSize, {})).messageBoxFont);
}

// ---- Measuring ----

TEST(DialogLayout, WindowsArithmetic) {
    struct {
        int a, b, c, want;
    } mulDiv[] = {{8, 96, 72, 11}, {8, 120, 72, 13}, {3, 6, 4, 5}, {-3, 6, 4, -5}, {1, 1, 0, -1}};
    for (auto m : mulDiv)
        EXPECT_EQ(MulDiv(m.a, m.b, m.c), m.want) << m.a << " " << m.b << " " << m.c;
    struct {
        std::u16string_view text, shown;
        bool noPrefix;
    } prefixes[] = {{u"&Open", u"Open", false},
                    {u"Fish && &Chips", u"Fish & Chips", false},
                    {u"End&", u"End", false},
                    {u"&Raw", u"&Raw", true}};
    for (auto p : prefixes)
        EXPECT_EQ(ShownText(p.text, p.noPrefix), p.shown);
}

DialogMeasure Measure(const Bytes& b, DialogTexts texts = {}, int dpi = 96,
                      std::filesystem::path fontDir = {}) {
    static FontCache fonts;
    return MeasureDialogLayout(Read(b), texts, fonts, LayoutSettings{fontDir, dpi, {}});
}

TEST(DialogLayout, BaseUnitsAndFonts) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    struct {
        std::u16string_view typeface;
        uint32_t style;
        int dpi;
        std::u16string_view face;
        int baseX, baseY;
    } cases[] = {
        // Windows gives MS Shell Dlg 2 at 8 points 6 x 13 base units at 96 dpi.
        {u"MS Shell Dlg 2", 0, 96, u"Tahoma", 6, 13},
        {u"MS Shell Dlg", kDsShellFont, 96, u"Tahoma", 6, 13},
        {u"MS Shell Dlg", 0, 96, u"Microsoft Sans Serif", 0, 0},
        {u"MS Shell Dlg 2", 0, 120, u"Tahoma", 7, 16},
        {u"Some Face", 0, 96, u"Some Face", 0, 0},
    };
    for (auto c : cases) {
        SCOPED_TRACE(std::string(c.face.begin(), c.face.end()) + " " + std::to_string(c.dpi));
        DialogMeasure d = Measure(Template(false, c.typeface, 8, {}, c.style), {}, c.dpi);
        ASSERT_TRUE(d.ok) << d.problem;
        EXPECT_EQ(d.face, c.face);
        EXPECT_TRUE(d.standIn);
        if (c.baseX != 0) {
            EXPECT_EQ(d.baseX, c.baseX);
            EXPECT_EQ(d.baseY, c.baseY);
        }
        EXPECT_EQ(d.rect.cx, MulDiv(200, d.baseX, 4));
        EXPECT_EQ(d.rect.cy, MulDiv(100, d.baseY, 8));
    }
}

TEST(DialogLayout, FontsThatDoNotServe) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    test::TempDir dir;
    test::WriteFileBytes(dir / "tahoma.ttf", Bytes(100, 0x55));
    struct {
        std::u16string_view typeface;
        uint16_t points;
        std::filesystem::path fontDir;
        std::string problem;
        std::optional<std::u16string> font = {};  // a translation's FONT line
    } cases[] = {
        {u"Tahoma", 0, {}, "point size of 0"},
        {u"Tahoma", 5000, {}, "point size of 5000"},
        {u"Tahoma", 8, dir.path, "cannot read the font file"},
        {u"Tahoma", 8, {}, "point size of 0", u"Tahoma,0"},
        {u"Tahoma", 8, {}, "point size of 32767", u"Tahoma,32767"},
        {u"Tahoma", 8, {}, "point size of 0", u"Tahoma,99999999999999999999"},
        {u"Tahoma", 8, dir.path, "cannot read the font file", u"Tahoma,9"},
    };
    for (auto c : cases) {
        DialogMeasure d =
            Measure(Template(false, c.typeface, c.points, {}), {c.font, {}}, 96, c.fontDir);
        EXPECT_FALSE(d.ok);
        EXPECT_NE(d.problem.find(c.problem), std::string::npos) << d.problem;
    }
    // A folder without the face's file: the stand-in, said as such.
    test::TempDir empty;
    DialogMeasure d = Measure(Template(false, u"Tahoma", 8, {}), {}, 96, empty.path);
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.standIn);
}

// A row of controls in a Tahoma 8 dialog (6 x 13 base units: 4 dialog units are 6 px).
TEST(DialogLayout, ControlsMeasureAsTheyDraw) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    std::u16string longText = u"This text is long enough to need several lines in a narrow static";
    std::vector<TestControl> controls = {
        {kButton, 0, 0, 0, 50, 14, u"&OK"},                           // 0 fits
        {kButton, 0, 0, 0, 20, 14, u"Cancel everything"},             // 1 clipped
        {kButton, kCheckBox, 0, 0, 60, 10, u"Check me out"},          // 2 glyph and gap
        {kButton, kGroupBox, 0, 0, 80, 40, u"Group caption"},         // 3 indents
        {kStatic, 0, 0, 0, 40, 8, longText},                          // 4 wraps: too many lines
        {kStatic, 0, 0, 0, 40, 80, longText},                         // 5 wraps: fits
        {kStatic, kSimple, 0, 0, 40, 8, u"A label that is clipped"},  // 6 one line: clipped
        {kStatic, kEndEllipsis, 0, 0, 40, 8, longText},               // 7 shortens itself
        {kEdit, 0, 0, 0, 10, 8, longText},                            // 8 content, not measured
        {kStatic, kNoPrefix, 0, 0, 100, 8, u"A&&B"},                  // 9 the & shown
        {kStatic, kSimple, 0, 0, 100, 8, u"A&&B"},                    // 10 one & shown
    };
    DialogMeasure d = Measure(Template(false, u"MS Shell Dlg 2", 8, controls));
    ASSERT_TRUE(d.ok) << d.problem;
    const auto& c = d.controls;
    EXPECT_EQ(c[0].rect.cx, 75);
    EXPECT_EQ(c[0].available, 75 - 6);
    EXPECT_LT(c[0].textWidth, c[0].available);
    EXPECT_GT(c[1].textWidth, c[1].available);
    EXPECT_EQ(c[2].available, 90 - 16);
    EXPECT_EQ(c[3].available, 120 - 16);
    EXPECT_TRUE(c[4].wraps);
    EXPECT_GT(c[4].lines, c[4].linesHeld);
    EXPECT_EQ(c[4].linesHeld, 1);
    EXPECT_LE(c[5].lines, c[5].linesHeld);
    EXPECT_EQ(c[5].textHeight, c[5].lines * d.fontHeight);
    EXPECT_FALSE(c[6].wraps);
    EXPECT_EQ(c[6].lines, 1);
    EXPECT_GT(c[6].textWidth, c[6].available);
    EXPECT_FALSE(c[7].judged);
    EXPECT_FALSE(c[8].measured);
    EXPECT_GT(c[9].textWidth, c[10].textWidth);

    std::vector<LayoutProblem> problems = JudgeLayout(d, d);
    std::vector<std::pair<size_t, LayoutIssue>> got;
    for (const LayoutProblem& p : problems) {
        got.push_back({p.control, p.issue});
        EXPECT_TRUE(p.sourceToo);
    }
    std::vector<std::pair<size_t, LayoutIssue>> want = {
        {1, LayoutIssue::Clipped}, {4, LayoutIssue::TooManyLines}, {6, LayoutIssue::Clipped}};
    EXPECT_EQ(got, want);
}

// The lines a text is drawn in, as the check measures them and the pictures draw them: at
// line breaks, at spaces, after a '-' in a word too long for its line.
TEST(DialogLayout, TextLaidOutInLines) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    FontChoice tahoma = ChooseFont(u"Tahoma", false, false, 0, {});
    std::string problem;
    FontHandle font = OpenFont(tahoma.file, {}, 11, problem);
    ASSERT_TRUE(font) << problem;
    struct {
        std::u16string_view text;
        bool wraps;
        std::u16string_view fitting;  // the width: this text's
        std::vector<std::u16string_view> lines;
    } cases[] = {
        {u"one two three", true, u"one two", {u"one two", u"three"}},
        {u"Internet-Ressource", true, u"Internet-", {u"Internet-", u"Ressource"}},
        {u"a b\r\nc", true, u"a b", {u"a b", u"c"}},
        {u"one two\nthree", false, u"", {u"one two", u"three"}},
    };
    for (const auto& c : cases) {
        TextLines laid = LayOutText(*font, c.text, c.wraps, LineWidth(*font, c.fitting));
        std::vector<std::u16string_view> got;
        for (const TextLine& line : laid.lines) {
            got.push_back(c.text.substr(line.start, line.length));
            EXPECT_EQ(line.width, LineWidth(*font, got.back()));
        }
        EXPECT_EQ(got, c.lines) << std::string(c.text.begin(), c.text.end());
    }
}

// A drop-down combo box's template height holds its list: the closed box is judged and drawn
// (13/8 of the font's height); a simple combo box shows its list and keeps its height.
TEST(DialogLayout, ComboBoxesJudgedClosed) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    constexpr uint16_t kComboBox = 0x85;
    struct {
        uint16_t cls;
        std::u16string className;
        uint32_t style;
        int height;  // px; the dialog is 163 px high, the control's top at 130 px
        bool outside;
    } cases[] = {
        {kComboBox, u"", 0x2, 21, false},                // CBS_DROPDOWN
        {kComboBox, u"", 0x3, 21, false},                // CBS_DROPDOWNLIST
        {0, u"combobox", 0x3, 21, false},                // by name
        {0, u"ComboBoxEx32", 0x2, 21, false},            // the extended one
        {kComboBox, u"", 0x1, MulDiv(60, 13, 8), true},  // CBS_SIMPLE: its list always shown
        {kEdit, u"", 0x2, MulDiv(60, 13, 8), true},
    };
    for (const auto& c : cases) {
        TestControl control{c.cls, c.style, 10, 80, 80, 60, u"", 100, c.className};
        DialogMeasure d = Measure(Template(false, u"MS Shell Dlg 2", 8, {control}));
        ASSERT_TRUE(d.ok) << d.problem;
        EXPECT_EQ(d.controls[0].rect.cy, c.height) << c.style;
        EXPECT_EQ(JudgeLayout(d, d).size(), c.outside ? 1u : 0u) << c.style;
    }
}

// Widths as GDI gives them under Wine for Wine's Tahoma at 8 points (11 px): the outlines'
// hinted advances, not the font's embedded bitmaps; DT_WORDBREAK's breaks after '|' in a word
// too long for its line, and a line broken at a space as wide as its text and the space.
TEST(DialogLayout, MeasuresAsTheSystem) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    struct {
        uint32_t style;
        int16_t cx;
        std::u16string text;
        int width, lines;
    } cases[] = {
        {kSimple, 100, u"Ajuda", 31, 1},
        {kSimple, 100, u"D'acord", 40, 1},
        {kSimple, 100, u"Blau:", 27, 1},
        {0, 20, u"|&Tasainen", 50, 2},
        {0, 52, u"Ersetzen &durch:", 49, 2},
        {0, 24, u"&Farvem\u00e6tning:", 79, 1},  // no break: it overhangs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        DialogMeasure d = Measure(
            Template(false, u"MS Shell Dlg 2", 8, {{kStatic, c.style, 0, 0, c.cx, 16, c.text}}));
        ASSERT_TRUE(d.ok) << d.problem;
        EXPECT_EQ(d.controls[0].textWidth, c.width);
        EXPECT_EQ(d.controls[0].lines, c.lines);
    }
}

// A file given in the settings measures every dialog, whatever its typeface.
TEST(DialogLayout, GivenFontFile) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    const std::filesystem::path liberation =
        "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
    FontCache fonts;
    DialogTemplate t = Read(Template(false, u"MS Shell Dlg 2", 8, {}));
    LayoutSettings settings;
    settings.fontFile = {liberation, 0};
    DialogMeasure d = MeasureDialogLayout(t, {}, fonts, settings);
    ASSERT_TRUE(d.ok) << d.problem;
    EXPECT_EQ(d.fontFile, liberation.string());
    EXPECT_FALSE(d.standIn);
    EXPECT_NE(d.baseY, Measure(Template(false, u"MS Shell Dlg 2", 8, {})).baseY);
    settings.fontFile = {"/nonexistent/font.ttf", 0};
    d = MeasureDialogLayout(t, {}, fonts, settings);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.problem.find("/nonexistent/font.ttf"), std::string::npos);
}

TEST(DialogLayout, TranslationJudgedAgainstTheSource) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    std::vector<TestControl> controls = {
        {kButton, 0, 10, 10, 50, 14, u"OK"},
        {kButton, 0, 10, 30, 20, 14, u"Much too long already"},
        {kStatic, kSimple, 10, 50, 48, 8, u"Label"},
        {kStatic, kSimple, 10, 60, 180, 8, u"Label"},
    };
    Bytes b = Template(false, u"MS Shell Dlg 2", 8, controls);
    DialogTexts texts;
    texts.titles = {u"Abbrechen und noch viel mehr", u"Viel zu lang, schon im Original",
                    u"Beschriftung",
                    u"Eine Beschriftung, die bis an den Rand des Dialogs und "
                    u"weit darüber hinaus reicht, ohne Ende in Sicht"};
    std::vector<LayoutProblem> problems = JudgeLayout(Measure(b), Measure(b, texts));
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[0].issue, LayoutIssue::Clipped);
    EXPECT_FALSE(problems[0].sourceToo);
    EXPECT_TRUE(problems[1].sourceToo);  // the source is clipped already
    EXPECT_EQ(problems[2].issue, LayoutIssue::Crowded);
    EXPECT_EQ(problems[3].issue, LayoutIssue::TextOutside);
    EXPECT_GT(problems[3].needed, problems[3].given);

    // A translated font: the dialog's base units grow with it, and the label no longer fits.
    DialogTexts font;
    font.font = u"MS Shell Dlg 2,20";
    DialogMeasure large = Measure(b, font);
    EXPECT_GT(large.baseX, Measure(b).baseX);
    EXPECT_FALSE(JudgeLayout(Measure(b), large).empty());
}

TEST(DialogLayout, ScriptsShapedWithTheirFaces) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    // Liberation Sans has no Thai, Devanagari or CJK: each is measured with its Noto face.
    struct {
        std::u16string_view text;
    } scripts[] = {{u"ภาษาไทย"}, {u"हिन्दी क्षत्रिय"}, {u"日本語の文字"}, {u"العربية"}, {u"עברית"}};
    for (auto s : scripts) {
        std::vector<TestControl> controls = {
            {kStatic, kSimple, 0, 0, 100, 8, std::u16string(s.text)}};
        DialogMeasure d = Measure(Template(false, u"Arial", 8, controls));
        ASSERT_TRUE(d.ok);
        // Each character is wider than nothing and narrower than an em.
        EXPECT_GT(d.controls[0].textWidth, static_cast<int>(s.text.size()) * 2);
        EXPECT_LE(d.controls[0].textWidth, static_cast<int>(s.text.size()) * 11);
    }
    // Shaping: a Devanagari conjunct is narrower than its letters and virama drawn apart.
    auto width = [](std::u16string text) {
        DialogMeasure d =
            Measure(Template(false, u"Arial", 8, {{kStatic, kSimple, 0, 0, 100, 8, text}}));
        return d.controls[0].textWidth;
    };
    EXPECT_LT(width(u"क्ष"), width(u"क") + width(u"्") + width(u"ष"));
}

TEST(DialogLayout, ManyControlsMeasureWithoutTrouble) {
    std::vector<TestControl> controls(65535,
                                      TestControl{kStatic, kSimple, 0, 0, 10, 8, u"x", 0xFFFF});
    DialogMeasure d = Measure(Template(true, u"Tahoma", 8, controls));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.controls.size(), 65535u);
}

// ---- check --layout on a real program ----

std::filesystem::path Comdlg32() {
    return "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/comdlg32.dll";
}

TEST(CheckLayout, Comdlg32SourceCleanTranslationsClipped) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    if (!std::filesystem::exists(Comdlg32()))
        GTEST_SKIP() << "Wine is not installed";
    test::TempDir dir;
    std::filesystem::path en = dir / "en.lng", de = dir / "de.lng", pseudo = dir / "pseudo.lng";
    Options exporting;
    exporting.languageFilter = 1033;
    ASSERT_EQ(CodeOf(Export(Comdlg32(), en, exporting)), kSuccess);
    exporting.pseudoExpand = 40;
    ASSERT_EQ(CodeOf(Export(Comdlg32(), pseudo, exporting)), kSuccess);
    // German texts put into the English dialogs.
    ASSERT_EQ(CodeOf(Export(Comdlg32(), de, OfLanguage(7))), kSuccess);

    auto layoutErrors = [&](const std::filesystem::path& translation, size_t& ofSource) {
        Options options;
        options.languageFilter = 1033;
        options.layout = LayoutSettings{};
        Outcome<CheckReport> checked = CheckImage(Comdlg32(), translation, options);
        EXPECT_TRUE(checked);
        CheckReport report = checked ? *checked : CheckReport{};
        size_t errors = 0;
        ofSource = 0;
        for (const Finding& f : report.findings) {
            bool layout = f.kind >= CheckKind::LayoutClipped;
            errors += layout && f.severity == Severity::Error;
            ofSource += layout && f.ofSource;
            if (layout && f.kind != CheckKind::LayoutNotMeasured) {
                EXPECT_NE(f.detail.find(u"standing in"), std::u16string::npos);
            }
        }
        return errors;
    };
    size_t sourceFindings = 0, pseudoSource = 0, germanSource = 0;
    EXPECT_EQ(layoutErrors(en, sourceFindings), 0u);
    EXPECT_GT(layoutErrors(pseudo, pseudoSource), 20u);
    EXPECT_GT(layoutErrors(de, germanSource), 0u);
    // The source's own problems are said as such, whatever the translation.
    EXPECT_GT(sourceFindings, 0u);
    EXPECT_LE(pseudoSource, sourceFindings);
}

// Dialogs that cannot be measured are said as such by check --layout, never a crash: a
// template that does not read, a translated FONT line of no size or of 32,767 points, a font
// file of the right name that does not parse.
TEST(CheckLayout, BadInputSaidNotMeasured) {
    if (MeasuresByName())
        GTEST_SKIP() << "this build measures with the system's fonts, by name";
    test::TempDir fonts;
    test::WriteFileBytes(fonts / "TAHOMA.TTF", Bytes(4096, 0xA5));
    Bytes good = Template(false, u"MS Shell Dlg 2", 8, {{kButton, 0, 10, 10, 50, 14, u"OK", 1}});
    Bytes cut(good.begin(), good.end() - 6);
    struct {
        Bytes dialog;
        std::u16string_view texts;
        std::filesystem::path fontDir;
        std::u16string_view said;
    } cases[] = {
        {cut, u"5.1.1=Gut\r\n", {}, u"does not read"},
        {good, u"5.1.FONT=Tahoma,0\r\n", {}, u"point size of 0"},
        {good, u"5.1.FONT=Tahoma,32767\r\n", {}, u"point size of 32767"},
        {good, u"5.1.1=Gut\r\n", fonts.path, u"cannot read the font file"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        test::WriteFileBytes(dir / "app.exe",
                             test::BuildImage({{test::Id(5), test::Id(1), 1033, c.dialog}}));
        test::WriteFileBytes(dir / "de.lng", test::LanguageFile(c.texts));
        Options options;
        options.languageFilter = 1033;
        options.layout = LayoutSettings{c.fontDir, 96, {}};
        Outcome<CheckReport> checked = CheckImage(dir / "app.exe", dir / "de.lng", options);
        ASSERT_TRUE(checked);
        bool said = false;
        std::string all;
        for (const Finding& f : checked->findings) {
            said |= f.kind == CheckKind::LayoutNotMeasured &&
                    f.detail.find(c.said) != std::u16string::npos;
            all += ToUtf8(f.key) + ": " + ToUtf8(f.detail) + "\n";
        }
        EXPECT_TRUE(said) << ToUtf8(c.said) << "\n" << all;
    }
}

// quelvar-cli: check --layout with its options, in text and JSON, and import --strict --layout.
#ifndef _WIN32  // through a POSIX shell
TEST(CheckLayout, CommandLine) {
    test::TempDir dir;
    Bytes dialog =
        Template(false, u"MS Shell Dlg 2", 8, {{kButton, 0, 10, 10, 50, 14, u"OK", 100}});
    test::WriteFileBytes(dir / "app.exe",
                         test::BuildImage({{test::Id(5), test::Id(1), 1033, dialog}}));
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n5.1.100=Eine viel zu "
                                                            u"lange Beschriftung\r\n"));
    auto run = [&](const std::string& args) {
        test::ShellRun r =
            test::RunShell(dir.path, "\"$Q\" " + args, test::ShellOutput::WithErrors);
        return std::make_pair(r.status, r.err);
    };
    struct {
        std::string args;
        int status;
        std::string said;
    } cases[] = {
        {"check app.exe de.lng --layout", 1, "de.lng:2: error: 5.1.100: text clipped: needs "},
        {"check app.exe de.lng --layout --dpi 144 --format json", 1, "\"check\": \"layout\""},
        {"check app.exe de.lng", 0, "0 errors"},
        {"check app.exe de.lng --layout --dpi 100", 2, "--dpi is 96, 120, 144 or 192"},
        {"check app.exe de.lng --font-dir .", 2, "belong to --layout"},
        {"check app.exe de.lng --layout --font-dir nowhere", 2, "--font-dir takes a folder"},
        {"import app.exe de.lng -o out.exe --layout", 2, "belongs to --strict"},
        {"import app.exe de.lng -o out.exe --strict --layout", 1, "import refused"},
        {"import app.exe de.lng -o out.exe --strict", 0, ""},
    };
    for (const auto& c : cases) {
        auto [status, said] = run(c.args);
        EXPECT_EQ(status, c.status) << c.args << "\n" << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << c.args << "\n" << said;
    }
}

#endif

}  // namespace
}  // namespace quelvar
