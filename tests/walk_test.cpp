// The resource tree walk on sections built in memory: the layout of the rebuilt section, the
// rewritten offsets, the language override, and the refusal of malformed trees.
#include <gtest/gtest.h>

#include "driver/driver.h"
#include "driver/language_io.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe_builder.h"
#include "resources/tree.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Get16;
using test::Get32;
using test::Id;
using test::Name;
using test::Resource;

constexpr uint32_t kRva = test::kResourceRva;

struct Walked {
    Result result = kSuccess;
    Bytes section;
    Bytes languageFile;
};

Walked Import(const Bytes& source, std::u16string_view language) {
    Bytes file = test::LanguageFile(language);
    LanguageTable table;
    EXPECT_TRUE(ParseLanguageFile(file.data(), file.size(), table));
    WalkOptions options;
    options.targetRva = kRva;
    Walked w;
    w.result = ReadLanguageOverride(table, options.languageOverride);
    if (w.result != kSuccess)
        return w;
    SectionWriter writer;
    RebuildSection(ResourceSection{source, kRva, 0}, ResourceHandlers(), options,
                   LanguageFileSource(table), writer);
    w.section = writer.bytes;
    return w;
}

Walked Export(const Bytes& source) {
    std::u16string lines;
    ExportTexts(ResourceSection{source, kRva, 0}, ResourceHandlers(), WalkOptions(),
                [&lines](const TextItem& item) { AppendLanguageLine(lines, item); });
    Walked w;
    w.languageFile = test::LanguageFile(lines);
    return w;
}

Bytes Data(size_t n, uint8_t first = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// Reads every resource of a section serialised for kRva, with the test's own reader.
std::vector<test::ReadResource> Resources(const Bytes& section) {
    return test::ReadResources(test::BuildImageWithSection(section));
}

TEST(Walk, EmptyRootDirectory) {
    Bytes root(16, 0);
    Walked imported = Import(root, u"");
    ASSERT_EQ(imported.result, kSuccess);
    EXPECT_EQ(imported.section, root);
    Walked exported = Export(root);
    ASSERT_EQ(exported.result, kSuccess);
    EXPECT_EQ(exported.languageFile, (Bytes{0xFF, 0xFE}));
}

TEST(Walk, SectionIsSerialisedInPreOrder) {
    Bytes source = test::BuildResourceSection({{Id(10), Id(1), 1033, Data(3)}}, kRva);
    Walked w = Import(source, u"");
    ASSERT_EQ(w.result, kSuccess);
    const Bytes& s = w.section;
    // root (24) | type directory (24) | language directory (24) | data entry (16) | 8 zeros | data
    ASSERT_EQ(s.size(), 96u + 3);
    EXPECT_EQ(Get32(s, 16), 10u);
    EXPECT_EQ(Get32(s, 20), 0x80000000u | 24);
    EXPECT_EQ(Get32(s, 24 + 16), 1u);
    EXPECT_EQ(Get32(s, 24 + 20), 0x80000000u | 48);
    EXPECT_EQ(Get32(s, 48 + 16), 1033u);
    EXPECT_EQ(Get32(s, 48 + 20), 72u);
    EXPECT_EQ(Get32(s, 72), kRva + 96);
    EXPECT_EQ(Get32(s, 76), 3u);
    EXPECT_EQ(Bytes(s.begin() + 88, s.begin() + 96), Bytes(8, 0));
    EXPECT_EQ(Bytes(s.begin() + 96, s.end()), Data(3));
}

TEST(Walk, DataPaddingAndOddLengths) {
    // Two languages of one resource: the first data ends at an odd offset, and the second
    // data entry follows it directly.
    Bytes source = test::BuildResourceSection(
        {{Id(10), Id(1), 1, Data(5)}, {Id(10), Id(1), 2, Data(16, 0x40)}}, kRva);
    Walked w = Import(source, u"");
    ASSERT_EQ(w.result, kSuccess);
    const Bytes& s = w.section;
    // root 24, type 24, languages 16 + 16: first data entry at 80, ending at 96 (a multiple
    // of 16): exactly 16 zeros, data at 112..117.
    EXPECT_EQ(Get32(s, 48 + 20), 80u);
    EXPECT_EQ(Get32(s, 80), kRva + 112);
    EXPECT_EQ(Bytes(s.begin() + 96, s.begin() + 112), Bytes(16, 0));
    // The second data entry at the odd offset 117, ending at 133: 11 zeros up to 144.
    EXPECT_EQ(Get32(s, 48 + 28), 117u);
    EXPECT_EQ(Get32(s, 117), kRva + 144);
    EXPECT_EQ(Get32(s, 121), 16u);
    EXPECT_EQ(s.size(), 160u);

    auto read = Resources(s);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].data, Data(5));
    EXPECT_EQ(read[1].data, Data(16, 0x40));
}

TEST(Walk, NamedEntriesAndCopiedFields) {
    Bytes source =
        test::BuildResourceSection({{Name(u"MY.TYPE"), Name(u"ABOUT"), 2052, Data(7), 936},
                                    {Id(40), Id(7), 1033, Data(1)},
                                    {Id(40), Name(u"X"), 1033, Data(2)}},
                                   kRva);
    Walked w = Import(source, u"");
    ASSERT_EQ(w.result, kSuccess);
    const Bytes& s = w.section;
    // The name string of the first type sits right after the root table, before its
    // subdirectory table.
    EXPECT_EQ(Get32(s, 16), 0x80000000u | 32);
    EXPECT_EQ(Get16(s, 32), 7u);
    EXPECT_EQ(Get32(s, 20), 0x80000000u | (32 + 2 + 14));
    auto read = Resources(s);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].type, u"MY.TYPE");
    EXPECT_EQ(read[0].name, u"ABOUT");
    EXPECT_EQ(read[0].language, u"2052");
    EXPECT_EQ(read[0].codePage, 936u);
    EXPECT_EQ(read[0].data, Data(7));
    EXPECT_EQ(read[1].name, u"X");
    EXPECT_EQ(read[2].name, u"7");
    EXPECT_EQ(read[2].data, Data(1));
}

TEST(Walk, DirectoryHeadersAreCopied) {
    Bytes source = test::BuildResourceSection({{Id(10), Id(1), 0, Data(4)}}, kRva);
    test::Put32(source, 0, 0x11223344);  // Characteristics
    test::Put32(source, 4, 0x55667788);  // TimeDateStamp
    test::Put16(source, 8, 4);
    Walked w = Import(source, u"");
    ASSERT_EQ(w.result, kSuccess);
    EXPECT_EQ(Bytes(w.section.begin(), w.section.begin() + 12),
              Bytes(source.begin(), source.begin() + 12));
}

TEST(Walk, LanguageOverride) {
    std::vector<Resource> resources = {{Id(10), Id(1), 1033, Data(4)},
                                       {Id(10), Id(1), 2052, Data(4)},
                                       {Id(10), Id(2), 1031, Data(4)}};
    Bytes source = test::BuildResourceSection(resources, kRva);
    auto languages = [&](std::u16string_view file) {
        Walked w = Import(source, file);
        EXPECT_EQ(w.result, kSuccess);
        std::vector<std::u16string> out;
        for (auto& r : Resources(w.section))
            out.push_back(r.language);
        return out;
    };
    using V = std::vector<std::u16string>;
    EXPECT_EQ(languages(u""), (V{u"1033", u"2052", u"1031"}));
    EXPECT_EQ(languages(u"LANG=-1\r\n"), (V{u"1033", u"2052", u"1031"}));
    EXPECT_EQ(languages(u"6.1.1=x\r\nLANG=1031\r\n"), (V{u"1031", u"1031", u"1031"}));
    EXPECT_EQ(languages(u"LANG =7\r\n"), (V{u"1033", u"2052", u"1031"}));
    // As --language takes it: hexadecimal after "0x", blanks around it.
    EXPECT_EQ(languages(u"LANG=0x407\r\n"), (V{u"1031", u"1031", u"1031"}));
    EXPECT_EQ(languages(u"LANG= \t1031 \r\n"), (V{u"1031", u"1031", u"1031"}));
    EXPECT_EQ(languages(u"LANG= -1\t\r\n"), (V{u"1033", u"2052", u"1031"}));

    // Values that are no language id would corrupt the tree: refused before any output.
    for (std::u16string_view bad : {u"LANG=65536\r\n", u"LANG=-2\r\n", u"LANG=99999999999\r\n",
                                    u"LANG=\r\n", u"LANG=65535xyz\r\n", u"LANG=junk\r\n",
                                    u"LANG=0x\r\n", u"LANG=+7\r\n", u"LANG=10 33\r\n"}) {
        Walked w = Import(source, bad);
        EXPECT_EQ(w.result, kErrorInvalidData);
        EXPECT_TRUE(w.section.empty());
    }
}

TEST(Walk, LanguageFileFailures) {
    test::TempDir dir;
    LanguageTable table;
    std::unique_ptr<platform::FileView> view;
    EXPECT_FALSE(LoadLanguageFile(dir / "missing.lng", table, view));
    test::WriteFileBytes(dir / "utf8.lng", {'L', 'A', 'N', 'G', '=', '1', '\r', '\n'});
    EXPECT_FALSE(LoadLanguageFile(dir / "utf8.lng", table, view));
    test::WriteFileBytes(dir / "app.exe", test::BuildImage({{Id(10), Id(1), 0, Data(2)}}));
    EXPECT_EQ(CodeOf(quelvar::Export(dir / "app.exe", dir / "no-such-dir" / "x.lng")),
              kErrorOpenFailed);
}

TEST(Walk, OutputGrowsPastItsFirstSize) {
    Bytes source = test::BuildResourceSection({{Id(10), Id(1), 0, Data(100)}}, kRva);
    SectionWriter writer;
    writer.bytes.reserve(8);
    WalkOptions options;
    options.targetRva = kRva;
    RebuildSection(ResourceSection{source, kRva, 0}, ResourceHandlers(), options, TextSource(),
                   writer);
    const Bytes& output = writer.bytes;
    EXPECT_EQ(output.size(), 96u + 100);
    EXPECT_EQ(Bytes(output.begin() + 96, output.begin() + 196), Data(100));
}

// The counts of repeated item keys survive the table's growth, keys that share their low bits,
// and a clear between resources.
TEST(Walk, OccurrenceCounts) {
    OccurrenceCounts counts;
    for (int round = 0; round < 2; ++round) {
        for (uint32_t n = 1; n <= 3; ++n)
            for (uint32_t k = 0; k < 100; ++k)
                ASSERT_EQ(CountOccurrence(counts, k * 0x10000), n) << k;
        EXPECT_EQ(CountOccurrence(counts, 0xFFFFFFFF), 1u);
        ClearOccurrences(counts);
    }
}

TEST(Walk, MalformedTreesAreRefused) {
    Bytes good = test::BuildResourceSection({{Id(10), Id(1), 0, Data(8)}}, kRva);
    ASSERT_EQ(CheckResourceTree(ResourceSection{good, kRva, 0}), kSuccess);
    auto check = [&](const Bytes& s) { return CheckResourceTree(ResourceSection{s, kRva, 0}); };

    Bytes b = good;
    test::Put32(b, 20, 0x80000000u);  // the type directory is the root again: a cycle
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put32(b, 20, 0x80000000u | 0xFFFFF0);  // subdirectory outside the section
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put16(b, 14, 0xFFFF);  // more entries than the section holds
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put32(b, 16, 0x80000000u | static_cast<uint32_t>(b.size() - 1));  // name string cut
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put32(b, 72, kRva - 4);  // data before the section
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put32(b, 76, 0x7FFFFFFF);  // data past its end
    EXPECT_EQ(check(b), kErrorBadFormat);
    b = good;
    test::Put32(b, 48 + 20, static_cast<uint32_t>(b.size() - 8));  // data entry cut
    EXPECT_EQ(check(b), kErrorBadFormat);
    EXPECT_EQ(CheckResourceTree(ResourceSection{std::span(good).first(10), kRva, 0}),
              kErrorBadFormat);

    // A chain of directories deeper than any real tree.
    Bytes deep(16 * 24, 0);
    for (uint32_t i = 0; i < 16; ++i) {
        test::Put16(deep, i * 24 + 14, 1);
        test::Put32(deep, i * 24 + 20, 0x80000000u | ((i + 1) * 24));
    }
    test::Put16(deep, 15 * 24 + 14, 0);
    EXPECT_EQ(check(deep), kErrorBadFormat);

    // Directories that all lead to one shared directory many times over: refused before
    // the walk multiplies them.
    Bytes fan(16 + 8 * 200, 0);
    test::Put16(fan, 14, 200);
    for (uint32_t i = 0; i < 200; ++i)
        test::Put32(fan, 16 + 8 * i + 4, 0x80000000u | 0x800);
    fan.resize(0x800 + 16 + 8 * 200, 0);
    test::Put16(fan, 0x800 + 14, 200);
    for (uint32_t i = 0; i < 200; ++i)
        test::Put32(fan, 0x800 + 16 + 8 * i + 4, 0x80000000u | 0x1000);
    fan.resize(0x1000 + 16, 0);
    EXPECT_EQ(check(fan), kErrorBadFormat);
}

}  // namespace
}  // namespace quelvar
