// A translation translates one source language of an image: which one, what happens to the
// others and to language-neutral resources, and the imports that would apply nothing.
#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"
#include "formats/handlers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Id;
using test::Resource;

// "type.name.language=first string" of every string table of an image, in tree order.
std::vector<std::string> Tables(const Bytes& image) {
    std::vector<std::string> out;
    for (auto& r : test::ReadResources(image)) {
        std::string line;
        for (char16_t c : r.type + u"." + r.name + u"." + r.language + u"=")
            line += static_cast<char>(c);
        for (size_t i = 2; i + 1 < r.data.size() && r.data[i] != 0; i += 2)
            line += static_cast<char>(r.data[i]);
        out.push_back(line);
    }
    return out;
}

const std::vector<Resource> kThreeLanguages = {{Id(6), Id(1), 1031, test::StringBlock({u"Alt"})},
                                               {Id(6), Id(1), 1033, test::StringBlock({u"Open"})},
                                               {Id(6), Id(2), 1036, test::StringBlock({u"Ouvrir"})},
                                               {Id(6), Id(3), 0, test::StringBlock({u"Any"})}};
const std::vector<Resource> kOneLanguage = {{Id(6), Id(1), 1033, test::StringBlock({u"Open"})},
                                            {Id(6), Id(3), 0, test::StringBlock({u"Any"})},
                                            {Id(6), Id(4), 0, test::StringBlock({u"Both"})},
                                            {Id(6), Id(4), 1033, test::StringBlock({u"Beide"})}};

// A PO file of the image's texts of `source`, its Language set, every msgstr "Neu", and
// without its source language unless `withSource`.
std::string PoOf(const test::TempDir& dir, const Bytes& image, uint32_t source,
                 std::string_view language, bool withSource) {
    test::WriteFileBytes(dir / "po.exe", image);
    EXPECT_EQ(CodeOf(quelvar::Export(dir / "po.exe", dir / "made.po", OfLanguage(source))),
              kSuccess);
    Bytes b = test::ReadFileBytes(dir / "made.po");
    std::string text(b.begin(), b.end());
    text.replace(text.find("\"Language: \\n\""), 14,
                 "\"Language: " + std::string(language) + "\\n\"");
    if (!withSource) {
        size_t at = text.find("\"X-Source-Language:");
        text.erase(at, text.find('\n', at) + 1 - at);
    }
    for (size_t at = 0; (at = text.find("msgstr \"\"", at + 1)) != std::string::npos;)
        if (text.compare(at - 3, 3, "\"\"\n") != 0)  // not the header's
            text.replace(at, 9, "msgstr \"Neu\"");
    return text;
}

// The language file `convert` makes of a PO file.
Bytes Converted(const test::TempDir& dir, const std::string& po) {
    test::WriteFileBytes(dir / "from.po", Bytes(po.begin(), po.end()));
    EXPECT_TRUE(ConvertTranslation(dir / "from.po", dir / "to.lng", nullptr, {}));
    return test::ReadFileBytes(dir / "to.lng");
}

struct Outcome {
    Result result;
    FailureCause cause;
    std::vector<std::string> tables;
    std::vector<Notice> notices;
};

Outcome Import(const test::TempDir& dir, const std::vector<Resource>& resources,
               const std::string& name, const Bytes& translation, Options options) {
    test::WriteFileBytes(dir / "in.exe", test::BuildImage(resources));
    test::WriteFileBytes(dir / name, translation);
    std::filesystem::path out = dir / "out.exe";
    std::filesystem::remove(out);
    Outcome o;
    options.notify = [&o](const Notice& n) { o.notices.push_back(n); };
    Failure failure = FailureOf(quelvar::Import(dir / "in.exe", dir / name, out, options));
    o.result = failure.code;
    o.cause = failure.cause;
    if (o.result == kSuccess)
        o.tables = Tables(test::ReadFileBytes(out));
    else
        EXPECT_FALSE(std::filesystem::exists(out));
    return o;
}

bool Said(const Outcome& o, NoticeKind kind, std::u16string_view key = u"*") {
    for (const Notice& n : o.notices)
        if (n.kind == kind && (key == u"*" || n.key == key))
            return true;
    return false;
}

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST(OneSourceLanguage, ChosenTranslatedAndRelabelled) {
    test::TempDir dir;
    const Bytes lng = test::LanguageFile(u"LANG=1031\r\n6.1.0=Neu\r\n6.3.32=Jede\r\n");
    struct Case {
        const char* what;
        const std::vector<Resource>& image;
        std::string name;
        Bytes translation;
        uint32_t source;
        bool addLanguage;
        std::vector<std::string> tables;  // empty: refused with 87, the languages listed
        bool replaced = false;            // the German entry replaced, and said
    };
    const Case cases[] = {
        {"several languages, none chosen",
         kThreeLanguages,
         "de.lng",
         lng,
         kAllLanguages,
         false,
         {}},
        {"several languages, PO without source",
         kThreeLanguages,
         "de.po",
         Text(PoOf(dir, test::BuildImage(kThreeLanguages), 1033, "de", false)),
         kAllLanguages,
         false,
         {}},
        // The translation replaces German; French and the neutral table keep every byte.
        {"--language",
         kThreeLanguages,
         "de.lng",
         lng,
         1033,
         false,
         {"6.1.1031=Neu", "6.2.1036=Ouvrir", "6.3.0=Any"},
         true},
        {"the PO header's source",
         kThreeLanguages,
         "de.po",
         Text(PoOf(dir, test::BuildImage(kThreeLanguages), 1033, "de", true)),
         kAllLanguages,
         false,
         {"6.1.1031=Neu", "6.2.1036=Ouvrir", "6.3.0=Any"},
         true},
        {"the source language carried by convert",
         kThreeLanguages,
         "de.lng",
         Converted(dir, PoOf(dir, test::BuildImage(kThreeLanguages), 1033, "de", true)),
         kAllLanguages,
         false,
         {"6.1.1031=Neu", "6.2.1036=Ouvrir", "6.3.0=Any"},
         true},
        // One language: its neutral tables go with it, unless it has its own entry.
        {"the only language",
         kOneLanguage,
         "de.lng",
         lng,
         kAllLanguages,
         false,
         {"6.1.1031=Neu", "6.3.1031=Jede", "6.4.0=Both", "6.4.1031=Beide"}},
        {"the only language, added",
         kOneLanguage,
         "de.lng",
         lng,
         kAllLanguages,
         true,
         {"6.1.1031=Neu", "6.1.1033=Open", "6.3.0=Any", "6.3.1031=Jede", "6.4.0=Both",
          "6.4.1031=Beide", "6.4.1033=Beide"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Options options;
        options.languageFilter = c.source;
        options.addLanguage = c.addLanguage;
        Outcome o = Import(dir, c.image, c.name, c.translation, options);
        if (c.tables.empty()) {
            EXPECT_EQ(o.result, kErrorInvalidParameter);
            EXPECT_EQ(o.cause, FailureCause::SeveralLanguages);
            EXPECT_TRUE(Said(o, NoticeKind::SeveralSourceLanguages, u"0:1 1031:1 1033:1 1036:1"));
        } else {
            ASSERT_EQ(o.result, kSuccess);
            EXPECT_EQ(o.tables, c.tables);
            EXPECT_EQ(Said(o, NoticeKind::EntryReplaced, u"6.1"), c.replaced);
        }
    }
}

// Export's warning about shared keys is one notice naming every language.
TEST(OneSourceLanguage, SharedKeysSaidOnce) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "in.exe", test::BuildImage(kThreeLanguages));
    std::vector<Notice> said;
    Options options;
    options.notify = [&said](const Notice& n) { said.push_back(n); };
    ASSERT_EQ(CodeOf(quelvar::Export(dir / "in.exe", dir / "all.lng", options)), kSuccess);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].kind, NoticeKind::LanguageKeysCollide);
    EXPECT_EQ(said[0].key, u"0:1 1031:1 1033:1 1036:1");
    EXPECT_EQ(said[0].counts[0], 4u);

    std::vector<LanguageTexts> languages = TextLanguages(dir / "in.exe").value();
    ASSERT_EQ(languages.size(), 4u);
    EXPECT_EQ(languages[2].language, 1033u);
    EXPECT_EQ(languages[2].texts, 1u);
    EXPECT_EQ(FailureOf(TextLanguages(dir / "missing.exe")).code, kErrorFileNotFound);
}

// A translation none of whose texts is the image's is refused; one that only relabels is not.
TEST(OneSourceLanguage, NothingToApplyIsRefused) {
    test::TempDir dir;
    const std::vector<Resource> image = {{Id(6), Id(1), 1033, test::StringBlock({u"Open"})}};
    std::string po = PoOf(dir, test::BuildImage(image), 1033, "de", true);
    std::string otherMsgids = po;
    otherMsgids.replace(otherMsgids.find("msgid \"Open\""), 12, "msgid \"Save\"");
    struct Case {
        const char* what;
        std::string name;
        Bytes translation;
        uint64_t texts;  // 0: imported
    };
    const Case cases[] = {
        {"keys of another program", "de.lng",
         test::LanguageFile(u"LANG=1031\r\n6.9.130=x\r\n5.1.HEAD=y\r\n"), 2},
        {"msgids of another program", "de.po", Text(otherMsgids), 1},
        {"LANG alone", "de.lng", test::LanguageFile(u"LANG=1031\r\n"), 0},
        {"one key found", "de.lng", test::LanguageFile(u"6.9.130=x\r\n6.1.0=y\r\n"), 0},
        {"the program's PO", "de.po", Text(po), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = Import(dir, image, c.name, c.translation, {});
        if (c.texts == 0) {
            EXPECT_EQ(o.result, kSuccess);
            continue;
        }
        EXPECT_EQ(o.result, kErrorInvalidData);
        EXPECT_EQ(o.cause, FailureCause::NoTextApplies);
        ASSERT_TRUE(Said(o, NoticeKind::NoTextApplies));
        EXPECT_EQ(o.notices.back().counts[0], c.texts);
        std::filesystem::path translation = dir / c.name;
        EXPECT_EQ(o.notices.back().key,
                  translation.u16string() + u'\0' + (dir / "in.exe").u16string());
    }
    // Without Language, the resources keep theirs, and the import says so.
    Outcome kept =
        Import(dir, image, "x.po", Text(PoOf(dir, test::BuildImage(image), 1033, "", true)), {});
    EXPECT_EQ(kept.tables, (std::vector<std::string>{"6.1.1033=Neu"}));
    EXPECT_TRUE(Said(kept, NoticeKind::LanguageKept));
}

// Harvest takes the translated build's own language, names it, and refuses to guess.
TEST(OneSourceLanguage, HarvestTakesTheTranslatedLanguage) {
    test::TempDir dir;
    const Resource english{Id(6), Id(1), 1033, test::StringBlock({u"Open"})};
    const Resource german{Id(6), Id(1), 1031, test::StringBlock({u"Offnen"})};
    const Resource french{Id(6), Id(1), 1036, test::StringBlock({u"Ouvrir"})};
    test::WriteFileBytes(dir / "en.exe", test::BuildImage({english}));
    struct Case {
        const char* what;
        std::vector<Resource> built;
        uint32_t chosen;
        const char* msgstr;  // null: refused
        const char* language;
    };
    const Case cases[] = {
        {"the language added", {german, english}, kNoLanguageOverride, "Offnen", "de_DE"},
        {"relabelled", {german}, kNoLanguageOverride, "Offnen", "de_DE"},
        {"two new ones", {german, french}, kNoLanguageOverride, nullptr, ""},
        {"--lang-id", {german, french}, 1036, "Ouvrir", "fr_FR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFileBytes(dir / "built.exe", test::BuildImage(c.built));
        std::filesystem::remove(dir / "h.po");
        Options options;
        options.targetLanguage = c.chosen;
        bool unclear = false;
        options.notify = [&unclear](const Notice& n) {
            unclear |= n.kind == NoticeKind::TranslatedLanguageUnclear && n.key == u"1031:1 1036:1";
        };
        quelvar::Outcome<> r =
            HarvestTranslation(dir / "en.exe", dir / "built.exe", dir / "h.po", options);
        if (c.msgstr == nullptr) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error().code, kErrorInvalidParameter);
            EXPECT_TRUE(unclear);
            EXPECT_FALSE(std::filesystem::exists(dir / "h.po"));
            continue;
        }
        ASSERT_TRUE(r);
        Bytes b = test::ReadFileBytes(dir / "h.po");
        std::string po(b.begin(), b.end());
        EXPECT_NE(po.find("msgid \"Open\"\nmsgstr \"" + std::string(c.msgstr) + "\""),
                  std::string::npos)
            << po;
        EXPECT_NE(po.find("\"Language: " + std::string(c.language) + "\\n\""), std::string::npos)
            << po;
    }
}

}  // namespace
}  // namespace quelvar
