// Dialog templates: export order and keys, rebuilt templates read back by a reader of the
// test's own, font values, control placement, and templates that do not parse.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "driver/driver.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Get16;

// ---- A reader of dialog templates, written from the published layouts ----

struct Control {
    Bytes fixed, classField, extra;  // creation data with its count word
    bool titleIsText = false;
    std::u16string title;
    uint16_t titleOrdinal = 0;
    bool operator==(const Control&) const = default;
};

struct Dialog {
    Bytes fixed, menu, classField, fontFixed;  // fontFixed: weight, italic, charset
    std::u16string caption, typeface;
    uint16_t pointSize = 0;
    std::vector<Control> controls;
    size_t length = 0;
    bool operator==(const Dialog&) const = default;
};

struct Reader {
    const Bytes& b;
    size_t pos = 0;
    uint16_t U16() {
        pos += 2;
        return Get16(b, pos - 2);
    }
    Bytes Take(size_t n) {
        if (pos + n > b.size())
            throw std::runtime_error("template runs past its data");
        pos += n;
        return Bytes(b.begin() + static_cast<long>(pos - n), b.begin() + static_cast<long>(pos));
    }
    std::u16string Text() {
        std::u16string s;
        for (uint16_t u; (u = U16()) != 0;)
            s.push_back(static_cast<char16_t>(u));
        return s;
    }
    Bytes Field() {
        size_t start = pos;
        if (U16() == 0xFFFF)
            U16();
        else
            pos -= 2, Text();
        return Bytes(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(pos));
    }
};

// `rva`: where the template lies in its image; controls start on 4-byte boundaries of the
// image. With `zeroGaps`, the bytes skipped before a control must be zero.
Dialog ReadDialog(const Bytes& data, uint32_t rva, bool zeroGaps = false) {
    Reader r{data};
    Dialog d;
    bool ex = Get16(data, 2) == 0xFFFF;
    d.fixed = r.Take(ex ? 26 : 18);
    uint32_t style = test::Get32(d.fixed, ex ? 12 : 0);
    uint16_t count = Get16(d.fixed, ex ? 16 : 8);
    d.menu = r.Field();
    d.classField = r.Field();
    d.caption = r.Text();
    if (style & 0x40) {
        d.pointSize = r.U16();
        if (d.pointSize != 0x7FFF) {
            d.fontFixed = r.Take(ex ? 4 : 0);
            d.typeface = r.Text();
        }
    }
    for (uint16_t i = 0; i < count; ++i) {
        while ((rva + r.pos) % 4 != 0)
            if (r.Take(1)[0] != 0 && zeroGaps)
                throw std::runtime_error("gap not zero");
        Control c;
        c.fixed = r.Take(ex ? 24 : 18);
        c.classField = r.Field();
        c.titleIsText = Get16(data, r.pos) != 0xFFFF;
        if (c.titleIsText)
            c.title = r.Text();
        else
            r.U16(), c.titleOrdinal = r.U16();
        uint16_t n = Get16(data, r.pos);
        c.extra = r.Take(ex ? 2 + n : std::max<size_t>(n, 2));
        d.controls.push_back(c);
    }
    d.length = r.pos;
    return d;
}

// ---- Synthetic templates ----

struct Builder {
    uint32_t rva = 0;  // where the template will lie
    uint8_t gap = 0;   // fill before controls
    Bytes b;
    Builder& U16(uint16_t v) {
        test::Put16(b, b.size(), v);
        return *this;
    }
    Builder& U32(uint32_t v) {
        return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
    }
    Builder& Text(std::u16string_view s) {
        for (char16_t u : s)
            U16(u);
        return U16(0);
    }
    Builder& Raw(Bytes bytes) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Builder& Align() {
        while ((rva + b.size()) % 4 != 0)
            b.push_back(gap);
        return *this;
    }
    // A standard control: style, exStyle, x, y, cx, cy, id, class ordinal 0x82.
    Builder& Item(uint16_t id) {
        return Align()
            .U32(0x50000000)
            .U32(0)
            .U32(0x00020001)
            .U32(0x00040003)
            .U16(id)
            .U16(0xFFFF)
            .U16(0x82);
    }
};

// The template lies at offset `at` of a section at address 0.
std::u16string Export(const Bytes& section, size_t at, size_t size) {
    return test::ExportWith(ProcessDialogResource, std::span(section).subspan(at, size), u"5.9.",
                            static_cast<uint32_t>(at));
}

// Rebuilds the template into a new section where it starts at offset 16.
Bytes Import(const Bytes& section, size_t at, size_t size, std::u16string_view lines) {
    return test::ImportWith(ProcessDialogResource, std::span(section).subspan(at, size), u"5.9.",
                            lines, static_cast<uint32_t>(at), 16);
}

// A standard template with a typeface that holds a comma, an empty title with id 0xFFFF, an
// ordinal title, creation data of 2, 6 and odd sizes, and an odd total length.
Bytes StandardTemplate(uint32_t rva, uint8_t gap) {
    Builder t{rva, gap, {}};
    t.U32(0x80C00040).U32(0).U16(5).U32(0).U32(0x00300040);
    t.U16(0).Text(u"MyClass").Text(u"Cap").U16(9).Text(u"Ty,pe");
    t.Item(0xFFFF).Text(u"").U16(0);
    t.Item(0xFFFF).Text(u"one").U16(6).U32(0xA1A2A3A4);
    t.Item(0).U16(0xFFFF).U16(100).U16(3).Raw({0xEE});
    t.Item(7).Text(u"seven").U16(0);
    t.Item(0xFFFF).Text(u"two").U16(5).Raw({1, 2, 3});
    return t.b;
}

// An extended template: weight 700, italic, charset 134, 32-bit ids, creation data.
Bytes ExtendedTemplate(const std::u16string& typeface) {
    Builder t;
    t.U16(1).U16(0xFFFF).U32(42).U32(0).U32(0x80C00048).U16(2).U32(0).U32(0x00300040);
    t.U16(0xFFFF).U16(3).U16(0).Text(u"").U16(11).U16(700).U16(0x8601).Text(typeface);
    t.Align().U32(5).U32(0).U32(0x50000000).U32(0).U32(0).U32(0x0001FFFF);
    t.U16(0xFFFF).U16(0x80).Text(u"wide").U16(4).U32(0xB1B2B3B4);
    t.Align().U32(0).U32(0).U32(0x50000000).U32(0).U32(0).U32(0x00010005);
    t.Text(u"Custom").Text(u"five").U16(0);
    return t.b;
}

TEST(Dialogs, SyntheticTemplatesExportAndRebuildUnchanged) {
    Bytes source = StandardTemplate(0, 0xEE);
    ASSERT_EQ(source.size() % 2, 1u);
    EXPECT_EQ(Export(source, 0, source.size()),
              u"5.9.HEAD=Cap\r\n5.9.FONT=Ty,pe,9\r\n5.9.S1=one\r\n5.9.7=seven\r\n5.9.S2=two\r\n");
    // Without lines for its keys the template comes back byte for byte (the typeface with
    // its comma included, also from a line that holds the exported value), with zero gaps.
    Bytes zeroGaps = StandardTemplate(0, 0);
    EXPECT_EQ(Import(source, 0, source.size(), u"5.9.Q=x\r\n"), zeroGaps);
    EXPECT_EQ(Import(source, 0, source.size(), u"5.9.FONT=Ty,pe,9\r\n"), zeroGaps);

    // Placed 2 bytes past a 4-byte boundary, the source has its controls elsewhere; the
    // rebuilt template has them on the boundaries of the new section.
    Bytes shifted(2, 0);
    Bytes t2 = StandardTemplate(2, 0xEE);
    shifted.insert(shifted.end(), t2.begin(), t2.end());
    Bytes rebuilt = Import(shifted, 2, t2.size(), u"");
    Dialog want = ReadDialog(t2, 2);
    Dialog got = ReadDialog(rebuilt, 0, true);
    EXPECT_EQ(got.length, rebuilt.size());
    want.length = got.length;
    EXPECT_EQ(got, want);

    Bytes ex = ExtendedTemplate(u"MS Shell Dlg");
    EXPECT_EQ(Export(ex, 0, ex.size()),
              u"5.9.FONT=MS Shell Dlg,11\r\n5.9.S0=wide\r\n5.9.5=five\r\n");
    EXPECT_EQ(Import(ex, 0, ex.size(), u""), ex);
}

TEST(Dialogs, TranslatedTextsMoveLaterControls) {
    Bytes source = StandardTemplate(0, 0);
    Bytes out = Import(source, 0, source.size(),
                       u"5.9.HEAD=\r\n5.9.S0=Zero\r\n5.9.S2=Zwei, lang\\n\r\n5.9.7=x\r\n"
                       u"5.9.0=no title\r\n5.9.FONT=Arial,12\r\n");
    Dialog want = ReadDialog(source, 0);
    want.caption = u"";
    want.typeface = u"Arial";
    want.pointSize = 12;
    // S0 is an empty static, which export skips: its line is not applied.
    want.controls[3].title = u"x";
    want.controls[4].title = u"Zwei, lang\n";
    Dialog got = ReadDialog(out, 0, true);
    want.length = got.length;
    EXPECT_EQ(got, want);
    EXPECT_EQ(got.length, out.size());

    // An empty caption gives no line, and a line does not give the dialog a caption.
    Bytes ex = ExtendedTemplate(u"T");
    Dialog d = ReadDialog(Import(ex, 0, ex.size(), u"5.9.HEAD=Neu\r\n"), 0, true);
    EXPECT_EQ(d.caption, u"");
    EXPECT_EQ(d.controls, ReadDialog(ex, 0).controls);
}

TEST(Dialogs, FontValuesSplitAtTheFirstComma) {
    struct Case {
        std::u16string value, typeface;
        uint16_t pointSize;
    };
    const Case cases[] = {
        {u"X,12", u"X", 12},
        {u"X", u"X", 11},
        {u",7", u"", 7},
        {u"Y,", u"Y", 0},
        {u"", u"", 11},
        {u"Z,1,2", u"Z", 1},
        {u"Q,-1", u"Q", 0xFFFF},
        {u"W, 13pt", u"W", 13},
        {u"V,70000", u"V", 70000 & 0xFFFF},
        {u"N,abc", u"N", 0},
        {std::u16string(300, u'F') + u",8", std::u16string(300, u'F'), 8},
    };
    Bytes ex = ExtendedTemplate(u"MS Shell Dlg");
    Dialog source = ReadDialog(ex, 0);
    for (const Case& c : cases) {
        Dialog d = ReadDialog(Import(ex, 0, ex.size(), u"5.9.FONT=" + c.value + u"\r\n"), 0, true);
        EXPECT_EQ(d.typeface, c.typeface);
        EXPECT_EQ(d.pointSize, c.pointSize);
        EXPECT_EQ(d.fontFixed, source.fontFixed);  // weight, italic and charset kept
        EXPECT_EQ(d.controls, source.controls);
    }
    // A typeface far longer than 80 units is exported whole.
    std::u16string longFace(200, u'L');
    Bytes big = ExtendedTemplate(longFace);
    EXPECT_NE(Export(big, 0, big.size()).find(u"5.9.FONT=" + longFace + u",11\r\n"),
              std::u16string::npos);
}

TEST(Dialogs, MessageBoxFontHasNoTypeface) {
    Builder t;
    t.U32(0x80C00040).U32(0).U16(1).U32(0).U32(0).U16(0).U16(0).Text(u"Box").U16(0x7FFF);
    t.Item(4).Text(u"text").U16(0);
    EXPECT_EQ(Export(t.b, 0, t.b.size()), u"5.9.HEAD=Box\r\n5.9.4=text\r\n");
    EXPECT_EQ(Import(t.b, 0, t.b.size(), u"5.9.FONT=Arial,8\r\n"), t.b);
}

// GNU windres writes weight, italic, charset and typeface after a point size of 0x7FFF: the
// reading with them is the one under which the controls end at the data's end.
TEST(Dialogs, MessageBoxFontWithFontFields) {
    Builder windres;
    windres.U32(0x80C00040).U32(0).U16(2).U32(0).U32(0).U16(0).U16(0).Text(u"Box");
    windres.U16(0x7FFF).Text(u"MS Shell Dlg");
    windres.Item(4).Text(u"text").U16(0);
    windres.Item(7).Text(u"seven").U16(0);
    Bytes standard = windres.b;
    EXPECT_EQ(Export(standard, 0, standard.size()),
              u"5.9.HEAD=Box\r\n5.9.FONT=MS Shell Dlg,32767\r\n5.9.4=text\r\n5.9.7=seven\r\n");
    Bytes extended = ExtendedTemplate(u"MS Shell Dlg");
    test::Put16(extended, 34, 0x7FFF);
    EXPECT_EQ(Export(extended, 0, extended.size()),
              u"5.9.FONT=MS Shell Dlg,32767\r\n5.9.S0=wide\r\n5.9.5=five\r\n");
    for (const Bytes* t : {&standard, &extended}) {
        EXPECT_EQ(Import(*t, 0, t->size(), u""), *t);
        Bytes out = Import(*t, 0, t->size(), u"5.9.5=fünf\r\n5.9.7=sieben\r\n");
        EXPECT_EQ(test::Get16(out, t == &standard ? 30 : 34), 0x7FFF);
        EXPECT_NE(Export(out, 0, out.size())
                      .find(t == &standard ? u"5.9.7=sieben\r\n" : u"5.9.5=fünf\r\n"),
                  std::u16string::npos);
    }

    // Under neither reading do the controls end at the data's end: copied as it is.
    Builder wine;
    wine.U32(0x80C00040).U32(0).U16(1).U32(0).U32(0).U16(0).U16(0).Text(u"Box").U16(0x7FFF);
    wine.Item(4).Text(u"text").U16(0);
    Bytes longer = wine.b;
    longer.insert(longer.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(Export(longer, 0, longer.size()), u"");
    EXPECT_EQ(Import(longer, 0, longer.size(), u"5.9.HEAD=x\r\n"), longer);
    // Zero fill up to a 4-byte boundary is no part of the template.
    ASSERT_EQ(wine.b.size(), 66u);
    Bytes filled = wine.b;
    filled.resize(68, 0);
    EXPECT_EQ(Export(filled, 0, filled.size()), u"5.9.HEAD=Box\r\n5.9.4=text\r\n");
}

TEST(Dialogs, TemplatesThatRunPastTheirDataAreCopied) {
    Bytes standard = StandardTemplate(0, 0);
    Bytes extended = ExtendedTemplate(u"Face");
    for (const Bytes* whole : {&standard, &extended}) {
        for (size_t size = 0; size < whole->size(); ++size) {
            Bytes cut(whole->begin(), whole->begin() + static_cast<long>(size));
            cut.resize(std::max<size_t>(size, 4));  // the walk looks at the first two words
            EXPECT_EQ(Export(cut, 0, size), u"") << size;
            EXPECT_EQ(Import(cut, 0, size, u"5.9.HEAD=x\r\n"),
                      Bytes(cut.begin(), cut.begin() + static_cast<long>(size)))
                << size;
        }
    }
    Bytes count = standard;
    test::Put16(count, 8, 0xFFFF);
    EXPECT_EQ(Export(count, 0, count.size()), u"");
    Bytes extra = extended;
    test::Put16(extra, extra.size() - 2, 2);  // creation data of 2 more bytes than there are
    EXPECT_EQ(Import(extra, 0, extra.size(), u"5.9.5=x\r\n"), extra);
}

// ---- Templates that windres made ----

std::u16string ReadText(const std::filesystem::path& path) {
    return test::LanguageText(test::ReadFileBytes(path));
}

std::filesystem::path SampleImage(const std::string& name) {
    return test::SampleImageDir() / (name + ".exe");
}

class SampleDialogs : public testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (test::SampleImageDir().empty())
            GTEST_SKIP() << "no images built by mingw-w64";
    }
    test::TempDir dir;
};

TEST_P(SampleDialogs, ExportWritesTheLinesInTemplateOrder) {
    ASSERT_EQ(CodeOf(quelvar::Export(SampleImage(GetParam()), dir / "x.lng")), kSuccess);
    EXPECT_EQ(ReadText(dir / "x.lng"),
              u"5.SETTINGS.HEAD=Settings\r\n5.SETTINGS.FONT=MS Shell Dlg,8\r\n"
              u"5.SETTINGS.5=Wide id\r\n5.SETTINGS.S0=Negative\r\n5.SETTINGS.S2=Last\r\n"
              u"5.200.HEAD=Quelvar (English)\r\n5.200.FONT=Segoe UI,8\r\n5.200.323=Path:\r\n"
              u"5.200.S0=Image\r\n"
              u"5.200.HEAD=Quelvar\r\n5.200.FONT=MS Shell Dlg,9\r\n5.200.323=路径(&P):\r\n"
              u"5.200.301=...\r\n5.200.S0=Image\r\n5.200.S2=Language\r\n5.200.2=退出(&X)\r\n"
              u"5.201.0=Zero\r\n5.201.3=Odd\r\n"
              u"5.202.HEAD=Empty\r\n5.202.FONT=Tahoma,8\r\n"
              u"5.203.HEAD=Plain\r\n5.203.1=OK\r\n");
}

INSTANTIATE_TEST_SUITE_P(Images, SampleDialogs, testing::Values("dialogs32", "dialogs64"));

// Import rebuilds PE32 images only.
TEST(Dialogs, SampleImageImportGivesTemplatesWithTheNewTexts) {
    if (test::SampleImageDir().empty())
        GTEST_SKIP() << "no images built by mingw-w64";
    std::filesystem::path image = SampleImage("dialogs32");
    test::TempDir dir;
    test::WriteFileBytes(dir / "none.lng", test::LanguageFile(u""));
    test::WriteFileBytes(dir / "de.lng",
                         test::LanguageFile(u"5.200.HEAD=Quelvar – ein viel längerer Titel\r\n"
                                            u"5.200.FONT=Arial,12\r\n5.200.301=Durchsuchen…\r\n"
                                            u"5.200.S2=Sprache\r\n5.201.HEAD=Neu\r\n"
                                            u"5.201.0=Null\r\n5.SETTINGS.FONT=Segoe UI\r\n"
                                            u"5.SETTINGS.5=Breit\r\n5.SETTINGS.S1=Leer\r\n"));
    std::filesystem::path same = dir / "same.exe", de = dir / "de.exe";
    ASSERT_EQ(CodeOf(quelvar::Import(image, dir / "none.lng", same)), kSuccess);
    // The Chinese dialogs are translated; the English dialog 200 stays as it was.
    ASSERT_EQ(CodeOf(quelvar::Import(image, dir / "de.lng", de, OfLanguage(2052))), kSuccess);
    auto source = test::ReadResources(test::ReadFileBytes(image));
    auto unchanged = test::ReadResources(test::ReadFileBytes(same));
    auto translated = test::ReadResources(test::ReadFileBytes(de));
    ASSERT_EQ(source.size(), translated.size());
    ASSERT_EQ(source.size(), unchanged.size());

    std::map<std::u16string, int> seen;
    for (size_t i = 0; i < source.size(); ++i) {
        EXPECT_EQ(unchanged[i].data, source[i].data);
        if (source[i].type != u"5")
            continue;
        Dialog want = ReadDialog(source[i].data, source[i].dataRva);
        EXPECT_EQ(want.length, source[i].data.size());
        const std::u16string& name = source[i].name;
        ++seen[name];
        if (name == u"200" && source[i].language == u"1033") {
        } else if (name == u"200") {
            want.caption = u"Quelvar – ein viel längerer Titel";
            want.typeface = u"Arial";
            want.pointSize = 12;
            if (source[i].language == u"2052") {
                want.controls[3].title = u"Durchsuchen…";
                want.controls[6].title = u"Sprache";
            }
        } else if (name == u"201") {
            // No caption to translate: its line is ignored.
            want.controls[0].title = u"Null";
        } else if (name == u"SETTINGS") {
            want.typeface = u"Segoe UI";
            want.controls[0].title = u"Breit";  // S1 is an empty static: its line is ignored
        }
        Dialog got = ReadDialog(translated[i].data, translated[i].dataRva, true);
        EXPECT_EQ(got.length, translated[i].data.size());
        want.length = got.length;
        EXPECT_EQ(got, want) << std::string(name.begin(), name.end());
    }
    EXPECT_EQ(seen, (std::map<std::u16string, int>{
                        {u"200", 2}, {u"201", 1}, {u"202", 1}, {u"203", 1}, {u"SETTINGS", 1}}));
}

}  // namespace
}  // namespace quelvar
