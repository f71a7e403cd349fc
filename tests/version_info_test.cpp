// Version information: keys on export, byte-exact copies, rebuilt blocks that a reader stepping
// as the system's does (children after wValueLength units or bytes, siblings after wLength
// rounded up to 4) accepts, tables and Translation following a new language, and data that
// does not read copied as it is.
#include <gtest/gtest.h>

#include <stdexcept>

#include "formats/version_info.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

// A block as written by a resource compiler: value padded, each child on a boundary, wLength
// up to the end of the last child. `valueLength` of -1: units of a text value with its zero.
struct V {
    std::u16string key;
    uint16_t type = 1;
    Bytes value;
    std::vector<V> children;
    int valueLength = -1;
};

Bytes Text(std::u16string_view s) {
    Bytes b;
    for (char16_t c : s)
        b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    b.insert(b.end(), {0, 0});
    return b;
}

V Str(std::u16string key, std::u16string_view value) {
    return V{std::move(key), 1, Text(value), {}};
}

void Pad(Bytes& b) {
    while (b.size() % 4 != 0)
        b.push_back(0);
}

void Write(const V& v, Bytes& b) {
    size_t start = b.size();
    uint16_t valueLength = v.valueLength >= 0 ? static_cast<uint16_t>(v.valueLength)
                           : v.type != 0      ? static_cast<uint16_t>(v.value.size() / 2)
                                              : static_cast<uint16_t>(v.value.size());
    b.resize(start + 6);
    test::Put16(b, start + 2, valueLength);
    test::Put16(b, start + 4, v.type);
    Bytes key = Text(v.key);
    b.insert(b.end(), key.begin(), key.end());
    Pad(b);
    b.insert(b.end(), v.value.begin(), v.value.end());
    for (const V& child : v.children) {
        Pad(b);
        Write(child, b);
    }
    test::Put16(b, start, static_cast<uint16_t>(b.size() - start));
}

Bytes Build(const V& v) {
    Bytes b;
    Write(v, b);
    return b;
}

// The sample: two tables with the same names, an empty value, a block the system does not
// know and a Translation of both languages.
V Sample(std::u16string english = u"040904B0") {
    Bytes fixed(52, 0xAB);
    V strings{u"StringFileInfo",
              1,
              {},
              {V{english,
                 1,
                 {},
                 {Str(u"FileDescription", u"Text editor"), Str(u"Comments", u""),
                  Str(u"ProductName", u"Sample")}},
               V{u"040704B0", 1, {}, {Str(u"FileDescription", u"Texteditor")}}}};
    V translation{u"Translation", 0, {0x09, 0x04, 0xB0, 0x04, 0x07, 0x04, 0xB0, 0x04}, {}};
    V vars{u"VarFileInfo", 1, {}, {translation}};
    V unknown{u"Unknown", 0, {1, 2, 3}, {}};
    return V{u"VS_VERSION_INFO", 0, fixed, {strings, vars, unknown}};
}

// Reads a block the way the system's reader steps through it; throws when a child does not
// fit its parent or wLength does not reach past the value.
V Read(const Bytes& b, size_t at, size_t limit) {
    if (at + 6 > limit || test::Get16(b, at) < 6 || at + test::Get16(b, at) > limit)
        throw std::runtime_error("block past its parent");
    size_t end = at + test::Get16(b, at);
    V v;
    v.valueLength = test::Get16(b, at + 2);
    v.type = test::Get16(b, at + 4);
    size_t p = at + 6;
    for (; p + 2 <= end && test::Get16(b, p) != 0; p += 2)
        v.key.push_back(static_cast<char16_t>(test::Get16(b, p)));
    p = (p + 2 + 3) & ~size_t{3};
    size_t valueEnd = p + size_t(v.valueLength) * (v.type != 0 ? 2 : 1);
    if (valueEnd > end)
        throw std::runtime_error("value past its block");
    v.value.assign(b.begin() + static_cast<ptrdiff_t>(p),
                   b.begin() + static_cast<ptrdiff_t>(valueEnd));
    for (p = (valueEnd + 3) & ~size_t{3}; p < end; p = (p + test::Get16(b, p) + 3) & ~size_t{3})
        v.children.push_back(Read(b, p, end));
    return v;
}

std::u16string ValueText(const V& v) {
    std::u16string s;
    for (size_t i = 0; i + 1 < v.value.size() && (v.value[i] | v.value[i + 1]) != 0; i += 2)
        s.push_back(static_cast<char16_t>(v.value[i] | (v.value[i + 1] << 8)));
    return s;
}

Bytes Import(const Bytes& data, std::u16string_view lines, uint32_t target = 1033,
             std::vector<Notice>* notices = nullptr) {
    ResourceContext ctx;
    ctx.resource.language = 1033;
    ctx.targetLanguage = target;
    NoticeSink sink = [notices](const Notice& n) {
        if (notices != nullptr)
            notices->push_back(n);
    };
    ctx.notify = &sink;
    return test::ImportAs(ProcessVersionStrings, data, u"16.1.", lines, std::move(ctx));
}

TEST(VersionInfo, ExportKeysSecondTablesAndSkipsEmptyValues) {
    Bytes data = Build(Sample());
    EXPECT_EQ(test::ExportWith(ProcessVersionStrings, data, u"16.1."),
              u"16.1.FileDescription=Text editor\r\n16.1.ProductName=Sample\r\n"
              u"16.1.FileDescription#2=Texteditor\r\n");
    auto items = test::ExportItems(ProcessVersionStrings, data, u"16.1.");
    EXPECT_EQ(items[0].place, u"version FileDescription (040904B0)");
}

// Without translations, or with each text as it is, every byte comes back: also where the
// data does not start on a boundary, and where the source counts a String's wValueLength in
// bytes (its text unchanged).
TEST(VersionInfo, UnchangedImportGivesBackEveryByte) {
    V bytesCounted = Sample();
    bytesCounted.children[0].children[0].children[0].valueLength = 24;
    for (const Bytes& data : {Build(Sample()), Build(bytesCounted)}) {
        std::u16string lines = test::ExportWith(ProcessVersionStrings, data, u"16.1.");
        EXPECT_EQ(Import(data, u""), data);
        EXPECT_EQ(Import(data, lines), data);
    }
    Bytes shifted(2, 0);  // the data at an address 2 past a boundary: blocks align to the address
    Bytes odd;
    Write(Sample(), shifted);
    odd.assign(shifted.begin() + 2, shifted.end());
    EXPECT_EQ(test::ExportWith(ProcessVersionStrings, odd, u"16.1.", 2),
              test::ExportWith(ProcessVersionStrings, Build(Sample()), u"16.1."));
}

// A translated text shorter or longer than its source: every length of the path to it is
// recomputed, wValueLength counts units with the zero, siblings land on boundaries, and the
// fixed file information, the other strings (also an empty one, which has no line) and the
// unknown block are kept.
TEST(VersionInfo, ChangedTextsRecomputeLengths) {
    Bytes data = Build(Sample());
    V source = Read(data, 0, data.size());
    for (std::u16string text : {u"", u"T", u"Ein viel l\u00E4ngerer Text f\u00FCr den Editor"}) {
        Bytes out = Import(data, u"16.1.FileDescription=" + text + u"\r\n16.1.Comments=x\r\n");
        V v = Read(out, 0, out.size());  // throws on a length that does not fit
        EXPECT_EQ(test::Get16(out, 0), out.size());
        const V& table = v.children[0].children[0];
        EXPECT_EQ(ValueText(table.children[0]), text);
        EXPECT_EQ(table.children[0].valueLength, static_cast<int>(text.size() + 1));
        EXPECT_EQ(ValueText(table.children[1]), u"");  // empty: export skips it, import too
        EXPECT_EQ(ValueText(table.children[2]), u"Sample");
        EXPECT_EQ(ValueText(v.children[0].children[1].children[0]), u"Texteditor");
        EXPECT_EQ(v.value, source.value);
        EXPECT_EQ(v.children[2].value, source.children[2].value);
        EXPECT_EQ(v.children[1].children[0].value, source.children[1].children[0].value);
    }
}

// Under another language the table of the resource's language takes it (in its own letter
// case) and replaces the table that had that name; Translation follows, without a repeated
// pair. A resource staying in its language keeps every name.
TEST(VersionInfo, TableAndTranslationFollowTheTargetLanguage) {
    struct Case {
        std::u16string english;
        uint32_t target;
        std::vector<std::u16string> tables;
        Bytes translation;
    } cases[] = {
        {u"040904B0", 1031, {u"040704B0"}, {0x07, 0x04, 0xB0, 0x04}},
        {u"040904b0",
         1036,
         {u"040c04b0", u"040704B0"},
         {0x0C, 0x04, 0xB0, 0x04, 0x07, 0x04, 0xB0, 0x04}},
        {u"040904B0",
         1033,
         {u"040904B0", u"040704B0"},
         {0x09, 0x04, 0xB0, 0x04, 0x07, 0x04, 0xB0, 0x04}},
    };
    for (const Case& c : cases) {
        Bytes out = Import(Build(Sample(c.english)), u"16.1.FileDescription=Neu\r\n", c.target);
        V v = Read(out, 0, out.size());
        std::vector<std::u16string> tables;
        for (const V& t : v.children[0].children)
            tables.push_back(t.key);
        EXPECT_EQ(tables, c.tables) << c.target;
        EXPECT_EQ(v.children[1].children[0].value, c.translation) << c.target;
        EXPECT_EQ(ValueText(v.children[0].children[0].children[0]), u"Neu");
    }
}

// Data that is no whole VS_VERSIONINFO is copied as it is and exports nothing; a translation
// that would outgrow a 16-bit length keeps the resource as it was and is said.
TEST(VersionInfo, UnreadableOrTooLongBlocksStayAsTheyAre) {
    Bytes good = Build(Sample());
    Bytes pastParent = good;
    test::Put16(pastParent, 0, static_cast<uint16_t>(good.size() - 8));  // children overrun it
    Bytes otherKey = Build(V{u"VS_VERSION_INFX", 0, Bytes(52, 0), {}});
    Bytes noKeyEnd = {20, 0, 0, 0, 0, 0, 'V', 0, 'S', 0, '_', 0, 'V', 0, 'E', 0, 'R', 0, 'S', 0};
    Bytes halfChild = good;
    halfChild.insert(halfChild.end(), {4, 0, 0, 0});  // a child of 4 bytes at the end
    test::Put16(halfChild, 0, static_cast<uint16_t>(halfChild.size()));
    for (const Bytes& data : {pastParent, otherKey, noKeyEnd, halfChild, Bytes{1, 2}}) {
        EXPECT_EQ(test::ExportWith(ProcessVersionStrings, data, u"16.1."), u"");
        EXPECT_EQ(Import(data, u"16.1.FileDescription=x\r\n", 1031), data);
    }
    std::vector<Notice> notices;
    std::u16string huge(33000, u'w');
    EXPECT_EQ(Import(good, u"16.1.ProductName=" + huge + u"\r\n", 1033, &notices), good);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::ResourceTooLong);
    EXPECT_EQ(notices[0].key, u"16.1");
}

// windres's output (samples/versions.rc): the texts of both tables, every byte back unchanged,
// and under German one table and one Translation pair.
TEST(VersionInfo, WindresSamples) {
    if (test::SampleImageDir().empty())
        GTEST_SKIP() << "no mingw-w64";
    for (const char* name : {"versions32.exe", "versions64.exe"}) {
        for (const auto& r :
             test::ReadResources(test::ReadFileBytes(test::SampleImageDir() / name))) {
            if (r.type != u"16")
                continue;
            EXPECT_EQ(test::ExportWith(ProcessVersionStrings, r.data, u"16.1.", r.dataRva),
                      u"16.1.CompanyName=Quelvar samples\r\n16.1.FileDescription=Text editor\r\n"
                      u"16.1.ProductName=Sample\r\n16.1.CompanyName#2=Quelvar-Beispiele\r\n"
                      u"16.1.FileDescription#2=Texteditor\r\n");
            EXPECT_EQ(Import(r.data, u""), r.data);
            Bytes out = Import(r.data, u"16.1.FileDescription=Texteditor (neu)\r\n", 1031);
            V v = Read(out, 0, out.size());
            ASSERT_EQ(v.children.at(0).children.size(), 1u);
            EXPECT_EQ(v.children[0].children[0].key, u"040704B0");
            EXPECT_EQ(ValueText(v.children[0].children[0].children[1]), u"Texteditor (neu)");
            EXPECT_EQ(v.children.at(1).children.at(0).value, (Bytes{0x07, 0x04, 0xB0, 0x04}));
        }
    }
}

// The version information of every sample image and of Wine's programs (when installed): an
// import of its own texts gives back every byte, and one that changes every text is read back
// with the changes.
TEST(VersionInfo, RealImagesRoundTrip) {
    size_t blocks = 0;
    test::ForEachRealResource([&](const std::filesystem::path& image, const test::ReadResource& r) {
        if (r.type != u"16")
            return;
        SCOPED_TRACE(image.string());
        std::u16string texts = test::ExportWith(ProcessVersionStrings, r.data, u"16.1.", r.dataRva);
        if (texts.empty())
            return;
        ++blocks;
        EXPECT_EQ(Import(r.data, texts), r.data);
        std::u16string changed;
        for (size_t at = 0, end; (end = texts.find(u"\r\n", at)) != texts.npos; at = end + 2)
            changed += texts.substr(at, end - at) + u" (x)\r\n";
        Bytes out = Import(r.data, changed);
        EXPECT_EQ(test::ExportWith(ProcessVersionStrings, out, u"16.1."), changed);
    });
    if (blocks == 0)
        GTEST_SKIP() << "no image with version information";
}

}  // namespace
}  // namespace quelvar
