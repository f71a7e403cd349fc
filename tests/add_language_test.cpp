// A translation added beside the original language in the same tree, and the right-to-left
// layout of translated dialogs.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/driver.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe_builder.h"
#include "resources/tree.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Id;
using test::Resource;

constexpr uint32_t kRva = test::kResourceRva;

// "type.name.language=data" of every resource, in the order of the tree.
using Listing = std::vector<std::pair<std::u16string, Bytes>>;

Listing ListImage(const Bytes& image) {
    Listing out;
    for (auto& r : test::ReadResources(image))
        out.emplace_back(r.type + u"." + r.name + u"." + r.language, r.data);
    return out;
}

Listing List(const Bytes& section) {
    return ListImage(test::BuildImageWithSection(section));
}

Bytes Rebuild(const Bytes& section, WalkOptions options, std::u16string_view lines) {
    Bytes file = test::LanguageFile(lines);
    LanguageTable table;
    EXPECT_TRUE(ParseLanguageFile(file.data(), file.size(), table));
    options.targetRva = kRva;
    SectionWriter writer;
    RebuildSection(ResourceSection{section, kRva, 0}, ResourceHandlers(), options,
                   LanguageFileSource(table), writer);
    return writer.bytes;
}

WalkOptions Adding(uint32_t source, uint32_t target) {
    WalkOptions options;
    options.languageFilter = source;
    options.languageOverride = target;
    options.addLanguage = true;
    return options;
}

const Bytes kOpen = test::StringBlock({u"Open"});
// The translation of kOpen as the string table handler writes it.
const Bytes kNeu = test::ImportWith(ProcessStringTable, kOpen, u"6.1.", u"6.1.0=Neu\r\n", 0, 0, 1);
const Bytes kAlt = test::StringBlock({u"Alt"});
const Bytes kRaw = {1, 2, 3};

TEST(AddLanguage, CopiesBesideTheSource) {
    struct Case {
        const char* what;
        std::vector<Resource> resources;
        Listing expected;
    };
    const Case cases[] = {
        {"one language; a type without handler is not copied",
         {{Id(6), Id(1), 1033, kOpen}, {Id(10), Id(1), 1033, kRaw}},
         {{u"6.1.1031", kNeu}, {u"6.1.1033", kOpen}, {u"10.1.1033", kRaw}}},
        {"the target's entry is replaced; a directory without the source keeps its own",
         {{Id(6), Id(1), 1031, kAlt}, {Id(6), Id(1), 1033, kOpen}, {Id(6), Id(2), 1031, kAlt}},
         {{u"6.1.1031", kNeu}, {u"6.1.1033", kOpen}, {u"6.2.1031", kAlt}}},
        {"a type without handler keeps the target's entry",
         {{Id(10), Id(1), 1031, kRaw}, {Id(10), Id(1), 1033, kOpen}},
         {{u"10.1.1031", kRaw}, {u"10.1.1033", kOpen}}},
        {"ids stay ascending around the copy",
         {{Id(6), Id(1), 1025, kAlt}, {Id(6), Id(1), 1033, kOpen}, {Id(6), Id(1), 2052, kAlt}},
         {{u"6.1.1025", kAlt}, {u"6.1.1031", kNeu}, {u"6.1.1033", kOpen}, {u"6.1.2052", kAlt}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes section = test::BuildResourceSection(c.resources, kRva);
        EXPECT_EQ(List(Rebuild(section, Adding(1033, 1031), u"6.1.0=Neu\r\n")), c.expected);
    }
}

// A language directory whose first entry is named: it stays in front, unchanged.
TEST(AddLanguage, NamedLanguageEntryStays) {
    Bytes s =
        test::BuildResourceSection({{Id(6), Id(1), 1033, kOpen}, {Id(6), Id(1), 1036, kAlt}}, kRva);
    // root 24, type 24, languages at 48 with entries at 64 (1033) and 72 (1036): the 1036
    // entry becomes the named "X" and moves in front.
    uint32_t nameAt = static_cast<uint32_t>(s.size());
    s.insert(s.end(), {1, 0, 'X', 0});
    Bytes english(s.begin() + 64, s.begin() + 72), french(s.begin() + 72, s.begin() + 80);
    std::copy(french.begin(), french.end(), s.begin() + 64);
    std::copy(english.begin(), english.end(), s.begin() + 72);
    test::Put32(s, 64, 0x80000000u | nameAt);
    test::Put16(s, 48 + 12, 1);
    test::Put16(s, 48 + 14, 1);
    ASSERT_EQ(CheckResourceTree(ResourceSection{s, kRva, 0}), kSuccess);
    EXPECT_EQ(List(Rebuild(s, Adding(1033, 1031), u"6.1.0=Neu\r\n")),
              (Listing{{u"6.1.X", kAlt}, {u"6.1.1031", kNeu}, {u"6.1.1033", kOpen}}));
}

TEST(AddLanguage, RefusedWithoutClearLanguages) {
    test::TempDir dir;
    struct Case {
        const char* what;
        std::vector<Resource> resources;
        std::u16string lines;
        uint32_t source;
        FailureCause cause;
        const char* notice;  // the languages listed, when said
    };
    const Case cases[] = {
        {"several languages",
         {{Id(6), Id(1), 1033, kOpen}, {Id(4), Id(1), 1036, kRaw}, {Id(10), Id(1), 7, kRaw}},
         u"LANG=1031\r\n",
         kAllLanguages,
         FailureCause::SeveralLanguages,
         "1033:1 1036:0"},
        {"no target",
         {{Id(6), Id(1), 1033, kOpen}},
         u"6.1.0=x\r\n",
         kAllLanguages,
         FailureCause::NoTargetLanguage,
         ""},
        {"target is the source",
         {{Id(6), Id(1), 1033, kOpen}},
         u"LANG=1033\r\n",
         kAllLanguages,
         FailureCause::TargetIsSource,
         ""},
        {"the chosen source is the target",
         {{Id(6), Id(1), 1033, kOpen}, {Id(6), Id(1), 1031, kOpen}},
         u"LANG=1031\r\n",
         1031,
         FailureCause::TargetIsSource,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFileBytes(dir / "in.exe", test::BuildImage(c.resources));
        test::WriteFileBytes(dir / "t.lng", test::LanguageFile(c.lines));
        std::filesystem::path out = dir / "out.exe";
        std::u16string said;
        Options options;
        options.addLanguage = true;
        options.languageFilter = c.source;
        options.notify = [&said](const Notice& n) {
            if (n.kind == NoticeKind::SeveralSourceLanguages)
                said = n.key;
        };
        Failure failure = FailureOf(Import(dir / "in.exe", dir / "t.lng", out, options));
        EXPECT_EQ(failure.code, kErrorInvalidParameter);
        EXPECT_EQ(failure.cause, c.cause);
        EXPECT_EQ(said, std::u16string(c.notice, c.notice + std::strlen(c.notice)));
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// From a PO file: the source language from its header, the target from its Language field.
TEST(AddLanguage, FromPoFile) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "in.exe", test::BuildImage({{Id(6), Id(1), 1033, kOpen}}));
    ASSERT_EQ(CodeOf(Export(dir / "in.exe", dir / "t.po")), kSuccess);
    Bytes po = test::ReadFileBytes(dir / "t.po");
    std::string text(po.begin(), po.end());
    auto replace = [&text](std::string_view from, std::string_view to, size_t after = 0) {
        text.replace(text.find(from, after), from.size(), to);
    };
    replace("\"Language: \\n\"", "\"Language: de\\n\"");
    replace("msgstr \"\"", "msgstr \"Neu\"", text.find("msgid \"Open\""));
    test::WriteFileBytes(dir / "t.po", Bytes(text.begin(), text.end()));
    Options options;
    options.addLanguage = true;
    std::filesystem::path out = dir / "out.exe";
    ASSERT_EQ(CodeOf(Import(dir / "in.exe", dir / "t.po", out, options)), kSuccess);
    EXPECT_EQ(ListImage(test::ReadFileBytes(out)),
              (Listing{{u"6.1.1031", kNeu}, {u"6.1.1033", kOpen}}));
}

// A dialog with only a caption in either template form: 18 or 26 header bytes.
Bytes Dialog(bool extended) {
    if (!extended)
        return test::CaptionDialog(u"Hi");
    Bytes b(26, 0);
    test::Put16(b, 0, 1);
    test::Put16(b, 2, 0xFFFF);
    test::Put32(b, 12, 0x80C00000);
    b.insert(b.end(), {0, 0, 0, 0, 'H', 0, 'i', 0, 0, 0});
    return b;
}

TEST(RightToLeft, TranslatedDialogsAreMirrored) {
    struct Case {
        RightToLeft mode;
        uint32_t own, target;
        bool adding;
        bool mirrored;
    };
    const Case cases[] = {
        {RightToLeft::ByLanguage, 1033, 1025, false, true},
        {RightToLeft::ByLanguage, 1033, 1025, true, true},
        // The language stays: a no-op import keeps every byte.
        {RightToLeft::ByLanguage, 1025, 1025, false, false},
        {RightToLeft::ByLanguage, 1033, 1031, false, false},
        {RightToLeft::Never, 1033, 0x040D, false, false},
        {RightToLeft::Always, 1033, 1031, true, true},
    };
    for (bool extended : {false, true}) {
        size_t exStyle = extended ? 8 : 4;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "extended " << extended << ", " << c.own << " to "
                                            << c.target << ", mode " << int(c.mode));
            Bytes dialog = Dialog(extended);
            Bytes section = test::BuildResourceSection({{Id(5), Id(1), c.own, dialog}}, kRva);
            WalkOptions options = Adding(c.own, c.target);
            options.addLanguage = c.adding;
            options.rightToLeft = c.mode;
            Listing out = List(Rebuild(section, options, u""));
            ASSERT_EQ(out.size(), c.adding ? 2u : 1u);
            const Bytes& translated = c.adding && c.target < c.own ? out[0].second
                                      : c.adding                   ? out[1].second
                                                                   : out[0].second;
            Bytes expected = dialog;
            if (c.mirrored)
                test::Put32(expected, exStyle, 0x00400000);
            EXPECT_EQ(translated, expected);
            if (c.adding) {  // the original stays as it was
                EXPECT_EQ(out[c.target < c.own ? 1 : 0].second, dialog);
            }
        }
    }
}

TEST(RightToLeft, LanguagesByScript) {
    for (uint32_t rtl : {0x0401u, 0x0C01u, 0x040Du, 0x0429u, 0x0420u, 0x0465u, 0x0859u, 0x0846u,
                         0x045Fu, 0x0460u, 0x0492u, 0x0480u})
        EXPECT_TRUE(IsRightToLeftLanguage(rtl)) << std::hex << rtl;
    for (uint32_t ltr : {0x0409u, 0x0407u, 0x0459u, 0x0446u, 0x085Fu, 0x0860u, 0x0443u, 0x0419u})
        EXPECT_FALSE(IsRightToLeftLanguage(ltr)) << std::hex << ltr;
}

}  // namespace
}  // namespace quelvar
