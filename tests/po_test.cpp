// PO files: the writer against the GNU tools' own wrapping, the reader on what translators'
// tools write and on malformed files, language names, UTF-8 at the edge, version strings.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "base/bytes.h"
#include "base/utf16.h"
#include "driver/driver.h"
#include "exchange/language_names.h"
#include "exchange/po.h"
#include "formats/version_info.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadText(const std::filesystem::path& path) {
    Bytes b = test::ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
    test::WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

// Texts built from pieces where line breaking has rules: blanks, punctuation, quotes,
// escapes, ideographs and their punctuation, text outside the BMP, long words.
std::vector<std::string> TrickyTexts() {
    const std::vector<std::string> pieces = {
        "word", "a",  " ",   " ",  "  ", "-",      "/",      ".",      ",",     ":",
        "(",    ")",  "[x]", "{",  "}",  "\"",     "\\",     "\t",     "\n",    "!",
        "?",    "%",  "$",   "+",  "'",  "|",      "1234",   "3.5",    "&File", "…",
        "—",    "–",  "«",   "»",  "é",  "\u00a0", "中文",   "字符串", "。",    "，",
        "「",   "」", "（",  "）", "：", "ー",     "한국어", "😀",      "\r",    "x"};
    std::mt19937 random(14);
    std::vector<std::string> texts;
    for (int n = 0; n < 400; ++n) {
        std::string text;
        size_t length = 1 + random() % (n % 4 == 0 ? 120 : 40);
        for (size_t i = 0; i < length; ++i) {
            const std::string& piece = pieces[random() % pieces.size()];
            text += random() % 3 == 0 ? std::string(random() % 30, 'w') + piece : piece;
        }
        texts.push_back(text);
    }
    return texts;
}

// msgcat writes a file again as the GNU tools write every file: ours must come back unchanged.
TEST(PoWriter, WrapsAsTheGnuTools) {
    if (!HaveTool("msgcat"))
        GTEST_SKIP() << "no msgcat";
    std::string po;
    AppendPoHeader(po, PoHeader{"Test 1.0", "2024-01-01 00:00+0000", "de", 1033});
    size_t n = 0;
    for (const std::string& text : TrickyTexts()) {
        po += "\n";
        AppendPoString(po, "msgctxt", "6.1." + std::to_string(n++));
        AppendPoString(po, "msgid", text);
        AppendPoString(po, "msgstr", text);
    }
    test::TempDir dir;
    WriteText(dir / "a.po", po);
    ASSERT_EQ(std::system(("msgcat -o '" + (dir / "b.po").string() + "' '" +
                           (dir / "a.po").string() + "' 2>/dev/null")
                              .c_str()),
              0);
    std::string back = ReadText(dir / "b.po");
    EXPECT_EQ(back, po);
}

TEST(PoWriter, EntriesCarryPlaceResourceAndFirstOfAKey) {
    PoWriter writer;
    ResourceInfo menu{u"4", u"ABOUT BOX", 1033, 4, "MENU"};
    AppendPoEntry(writer, TextItem{u"4.1.7", u"&Open", u"File > Open", 0, &menu}, u"Ö&ffnen");
    AppendPoEntry(writer, TextItem{u"4.1.7", u"&Other", u"File > Other", 0, &menu}, u"");
    EXPECT_EQ(writer.out,
              "\n#. File > Open\n#: MENU:ABOUT_BOX:1033\nmsgctxt \"4.1.7\"\nmsgid \"&Open\"\n"
              "msgstr \"Ö&ffnen\"\n");
}

// A type's references name it as its handler's row does; a type without one by its id.
TEST(PoWriter, ReferencesNameTheTypeByItsHandlerRow) {
    ResourceInfo added{u"99", u"7", 1033, 99, "WIDGETS"}, bare{u"98", u"7", 1033, 98, ""};
    for (auto [resource, reference] :
         {std::pair{&added, "#: WIDGETS:7:1033\n"}, std::pair{&bare, "#: 98:7:1033\n"}}) {
        PoWriter writer;
        AppendPoEntry(writer, TextItem{u"99.7.1", u"x", u"", 0, resource}, u"");
        EXPECT_NE(writer.out.find(reference), std::string::npos) << writer.out;
    }
}

PoError Parse(std::string_view text, PoCatalog& catalog) {
    return ParsePo(text, catalog);
}

// Every entry of an exported template says where its text lives: the menu path, the string's
// id, the version string's name, the dialog by its caption or, without one, by its id.
TEST(PoWriter, EveryEntrySaysItsPlace) {
    if (test::SampleImageDir().empty())
        GTEST_SKIP() << "no mingw-w64";
    test::TempDir dir;
    std::map<std::string, std::string> places;  // msgctxt -> "#." comment
    const std::pair<const char*, uint32_t> images[] = {{"menus32.exe", kAllLanguages},
                                                       {"strings32.exe", kAllLanguages},
                                                       {"dialogs32.exe", 2052},
                                                       {"versions32.exe", kAllLanguages}};
    for (const auto& [image, language] : images) {
        ASSERT_EQ(
            CodeOf(Export(test::SampleImageDir() / image, dir / "t.pot", OfLanguage(language))),
            kSuccess);
        std::string text = ReadText(dir / "t.pot");
        size_t entries = 0;
        for (size_t at = text.find("\n\n"); at != std::string::npos;
             at = text.find("\n\n", at + 1)) {
            std::string entry = text.substr(at + 2, text.find("\n\n", at + 2) - at - 2);
            if (entry.starts_with("msgid \"\"\nmsgstr"))
                continue;  // the header
            ++entries;
            size_t context = entry.find("msgctxt \"");
            ASSERT_NE(context, std::string::npos) << entry;
            std::string key = entry.substr(context + 9, entry.find('"', context + 9) - context - 9);
            ASSERT_TRUE(entry.starts_with("#. ")) << image << ": " << entry;
            places[key] = entry.substr(3, entry.find('\n') - 3);
        }
        EXPECT_GT(entries, 0u) << image;
    }
    const std::pair<const char*, const char*> expected[] = {
        {"4.102.201", "File > Open"},
        {"6.1.1", "string 1"},
        {"6.32.502", "string 502"},
        {"16.1.FileDescription", "version FileDescription (040904B0)"},
        {"5.200.301", "dialog \"Quelvar\""},
        {"5.201.0", "dialog 201"},
        {"5.SETTINGS.5", "dialog \"Settings\""},
    };
    for (const auto& [key, place] : expected)
        EXPECT_EQ(places[key], place) << key;
}

TEST(PoReader, ReadsWhatToolsWrite) {
    PoCatalog c;
    std::string text =
        "\xEF\xBB\xBF# translator comment\r\n"
        "msgid \"\"\r\n"
        "msgstr \"\"\r\n"
        "\"Language: pt_BR\\n\"\r\n"
        "\"X-Source-Language: 1033 en_US\\n\"\r\n"
        "\r\n"
        "#. place\n#: MENU:1:1033\n#, fuzzy, c-format\n#| msgctxt \"6.1.2\"\n#| msgid \"Old\"\n"
        "msgctxt \"6.1.2\"\nmsgid \"\"\n\"Two \"\n\"lines\\n\"\nmsgstr "
        "\"Zwei\\tZ\\\"\\\\\\101\\x42\"\n"
        "\n#~ msgctxt \"6.1.9\"\n#~ msgid \"gone\"\n#~ msgstr \"weg\"\n\n"
        "msgctxt \"6.1.1\"\nmsgid \"\\360\\237\\230\\200\"\nmsgstr \"\xF0\x9F\x98\x80!\"\n";
    ASSERT_EQ(Parse(text, c).problem, PoProblem::None);
    EXPECT_EQ(PoHeaderField(c, "Language"), "pt_BR");
    uint32_t source = 0;
    EXPECT_TRUE(PoSourceLanguage(c, source));
    EXPECT_EQ(source, 1033u);
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_EQ(c.entries[0].context, u"6.1.2");
    EXPECT_EQ(c.entries[0].id, u"Two lines\n");
    EXPECT_EQ(c.entries[0].str, u"Zwei\tZ\"\\AB");
    EXPECT_TRUE(c.entries[0].fuzzy);
    EXPECT_EQ(c.entries[0].line, 12u);
    EXPECT_EQ(c.entries[1].id, u"\xD83D\xDE00");  // a surrogate pair, from octal escapes
    EXPECT_EQ(c.entries[1].str, u"\xD83D\xDE00!");
    EXPECT_FALSE(c.entries[1].fuzzy);

    std::u16string t;
    TextSource plain = PoSource(c, false), fuzzy = PoSource(c, true);
    EXPECT_FALSE(plain(u"6.1.2", t));
    EXPECT_TRUE(fuzzy(u"6.1.2", t));
    EXPECT_FALSE(plain(u"6.1.9", t));  // obsolete
}

TEST(PoReader, RefusesMalformedFilesWithTheLine) {
    struct Case {
        std::string_view text;
        PoProblem problem;
        uint64_t line;
    };
    const Case cases[] = {
        {"msgctxt \"a\"\nmsgid \"x\nmsgstr \"\"\n", PoProblem::UnterminatedString, 2},
        {"msgctxt \"a\"\nmsgid \"x\\\n", PoProblem::UnterminatedString, 2},
        {"msgctxt \"a\"\nmsgid \"\\q\"\nmsgstr \"\"\n", PoProblem::BadEscape, 2},
        {"msgctxt \"a\"\nmsgid \"\\x\"\nmsgstr \"\"\n", PoProblem::BadEscape, 2},
        {"msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\\777\"\n", PoProblem::BadEscape, 3},
        {"\nmsgstr \"y\"\nmsgid \"x\"\n", PoProblem::MsgstrBeforeMsgid, 2},
        {"\"x\"\n", PoProblem::MsgstrBeforeMsgid, 1},
        {"msgctxt \"a\"\nmsgid \"x\"\n", PoProblem::MissingMsgstr, 1},
        {"msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\"\n\nmsgctxt \"a\"\nmsgid \"y\"\nmsgstr \"\"\n",
         PoProblem::DuplicateContext, 5},
        {"msgctxt \"a\"\nmsgid \"x\"\nmsgid_plural \"xs\"\n", PoProblem::Plural, 3},
        {"msgctxt \"a\"\nmsgid \"x\"\nmsgstr[0] \"\"\n", PoProblem::Plural, 3},
        {"msgctxt \"a\"\nmsgid \"x\" junk\nmsgstr \"\"\n", PoProblem::UnexpectedLine, 2},
        {"msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\"\nmsgstr \"\"\n", PoProblem::UnexpectedLine, 4},
        {"hello\n", PoProblem::UnexpectedLine, 1},
        {"msgctxt \"a\"\nmsgid \"\xC3\x28\"\nmsgstr \"\"\n", PoProblem::BadUtf8, 1},
        {"msgctxt \"a\"\nmsgid \"\\355\\240\\200\"\nmsgstr \"\"\n", PoProblem::BadUtf8, 1},
        // What msgfmt refuses: no entry, no header entry, an empty header.
        {"", PoProblem::Empty, 1},
        {"\xEF\xBB\xBF# comment\n\n", PoProblem::Empty, 1},
        {"# c\n\nmsgctxt \"a\"\nmsgid \"x\"\nmsgstr \"y\"\n", PoProblem::NoHeader, 3},
        {"msgid \"\"\nmsgstr \"\"\n\nmsgctxt \"a\"\nmsgid \"x\"\nmsgstr \"y\"\n",
         PoProblem::NoHeader, 1},
        // A compiled catalog, in either byte order.
        {"\xDE\x12\x04\x95", PoProblem::Compiled, 0},
        {"\x95\x04\x12\xDE", PoProblem::Compiled, 0},
        // Text in another charset than UTF-8 is refused at the header; ASCII reads alike.
        {"\n# h\nmsgid \"\"\nmsgstr \"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n\n"
         "msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\xE4\"\n",
         PoProblem::Charset, 3},
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=CP1252\\n\"\n\n"
         "msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\xC3\xA4\"\n",
         PoProblem::Charset, 1},
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n\n"
         "msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"y\"\n",
         PoProblem::None, 0},
        {"msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=utf-8\\n\"\n\n"
         "msgctxt \"a\"\nmsgid \"x\"\nmsgstr \"\xC3\xA4\"\n",
         PoProblem::None, 0},
    };
    for (const Case& c : cases) {
        PoCatalog catalog;
        PoError e = Parse(c.text, catalog);
        EXPECT_EQ(e.problem, c.problem) << c.text;
        EXPECT_EQ(e.line, c.line) << c.text;
    }
}

TEST(LanguageNames, GettextNamesGiveWindowsIds) {
    const std::pair<const char*, uint32_t> known[] = {
        {"de", 0x407},       {"de_DE", 0x407},       {"de_AT", 0xC07}, {"pt_BR", 0x416},
        {"pt", 0x816},       {"zh_CN", 0x804},       {"zh_TW", 0x404}, {"zh", 0x804},
        {"sr@latin", 0x81A}, {"sr_RS@latin", 0x81A}, {"sr", 0xC1A},    {"de_DE.UTF-8", 0x407},
        {"pt-br", 0x416},    {"de_LU", 0x407},       {"nb", 0x414},    {"no", 0x414}};
    for (const auto& [name, id] : known) {
        uint32_t got = 0;
        EXPECT_TRUE(LanguageIdOfName(name, got)) << name;
        EXPECT_EQ(got, id) << name;
    }
    uint32_t got;
    for (const char* unknown : {"", "xx", "klingon", "de@", "_DE"})
        EXPECT_FALSE(LanguageIdOfName(unknown, got)) << unknown;
    EXPECT_EQ(LanguageNameOfId(0x409), "en_US");
    EXPECT_EQ(LanguageNameOfId(0x1234), "");
    // Neutral sublanguages name the language alone; the name reads back as its first country.
    EXPECT_EQ(LanguageNameOfId(0x0007), "de");
    EXPECT_EQ(LanguageNameOfId(0x0004), "zh");
    EXPECT_EQ(LanguageNameOfId(0x0000), "");
    EXPECT_EQ(LanguageNameOfId(0x0003FF), "");
}

// The codes that Weblate, Poedit and Crowdin write into a PO file's Language for the most
// translated languages (Weblate: "zh_Hant", "sr_Latn", "nb_NO"; Poedit: "zh_TW", "sr@latin";
// Crowdin: "zh-TW", "pt-BR", "es-ES", "sr-CS" for Serbian in Latin letters), and BCP 47 tags
// with scripts.
TEST(LanguageNames, CodesOfTranslationPlatforms) {
    const std::pair<uint32_t, const char*> languages[] = {
        {0x0409, "en en_US en-US"},
        {0x0809, "en_GB en-GB"},
        {0x0804, "zh_Hans zh-Hans zh_CN zh-CN zh-Hans-CN zh_Hans_CN zh"},
        {0x0404, "zh_Hant zh-Hant zh_TW zh-TW zh-Hant-TW ZH-HANT-TW"},
        {0x0C04, "zh_Hant_HK zh-Hant-HK zh_HK zh-HK"},
        {0x1004, "zh-Hans-SG zh_SG"},
        {0x0C0A, "es es_ES es-ES"},
        {0x580A, "es_419 es-419"},
        {0x080A, "es_MX es-MX"},
        {0x040C, "fr fr_FR fr-FR"},
        {0x0C0C, "fr_CA fr-CA"},
        {0x0407, "de de_DE de-DE de-Latn-DE"},
        {0x0807, "de_CH de-CH"},
        {0x0411, "ja ja_JP ja-JP"},
        {0x0412, "ko ko_KR ko-KR"},
        {0x0416, "pt_BR pt-BR"},
        {0x0816, "pt pt_PT pt-PT"},
        {0x0419, "ru ru_RU ru-RU"},
        {0x0410, "it it_IT it-IT"},
        {0x0413, "nl nl_NL nl-NL"},
        {0x0415, "pl pl_PL pl-PL"},
        {0x041F, "tr tr_TR tr-TR"},
        {0x041D, "sv sv_SE sv-SE"},
        {0x0406, "da da_DK da-DK"},
        {0x040B, "fi fi_FI fi-FI"},
        {0x0414, "nb nb_NO nb-NO no"},
        {0x0814, "nn nn_NO nn-NO"},
        {0x0405, "cs cs_CZ cs-CZ"},
        {0x040E, "hu hu_HU hu-HU"},
        {0x0408, "el el_GR el-GR"},
        {0x040D, "he he_IL he-IL iw"},
        {0x0401, "ar ar_SA ar-SA"},
        {0x041E, "th th_TH th-TH"},
        {0x042A, "vi vi_VN vi-VN"},
        {0x0421, "id id_ID id-ID"},
        {0x043E, "ms ms_MY ms-MY"},
        {0x0422, "uk uk_UA uk-UA"},
        {0x0418, "ro ro_RO ro-RO"},
        {0x0402, "bg bg_BG bg-BG"},
        {0x041A, "hr hr_HR hr-HR"},
        {0x0C1A, "sr sr_RS sr-SP sr_Cyrl sr-Cyrl"},
        {0x081A, "sr_Latn sr-Latn sr@latin sr_RS@latin sr-CS sr_Latn_CS"},
        {0x241A, "sr-Latn-RS"},
        {0x281A, "sr-Cyrl-RS"},
        {0x041B, "sk sk_SK sk-SK"},
        {0x0424, "sl sl_SI sl-SI"},
        {0x0427, "lt lt_LT lt-LT"},
        {0x0426, "lv lv_LV lv-LV"},
        {0x0425, "et et_EE et-EE"},
        {0x0439, "hi hi_IN hi-IN"},
        {0x0445, "bn bn_IN bn-IN"},
        {0x0845, "bn_BD bn-BD"},
        {0x0429, "fa fa_IR fa-IR"},
        {0x0403, "ca ca_ES ca-ES"},
        {0x0464, "fil fil_PH fil-PH tl"},
        {0x0441, "sw sw_KE sw-KE"},
        {0x0449, "ta ta_IN ta-IN"},
        {0x0420, "ur ur_PK ur-PK"},
        {0x141A, "bs bs_BA bs-BA bs_Latn bs-Latn-BA"},
        {0x042C, "az az_AZ az-AZ az_Latn"},
        {0x0443, "uz uz_Latn uz-Latn-UZ"},
        {0x0843, "uz_Cyrl uz-Cyrl-UZ"},
        {0x0846, "pa_Arab pa-Arab-PK"},
        {0x0446, "pa pa_IN pa-Guru-IN"},
    };
    for (const auto& [id, codes] : languages) {
        std::string all = codes;
        for (size_t at = 0; at < all.size();) {
            size_t end = std::min(all.find(' ', at), all.size());
            std::string code = all.substr(at, end - at);
            uint32_t got = 0;
            EXPECT_TRUE(LanguageIdOfName(code, got)) << code;
            EXPECT_EQ(got, id) << code;
            at = end + 1;
        }
    }
    uint32_t got;
    for (const char* unknown : {"zh_Hant@x", "xx-Latn", "zh_Hant_", "Hant"})
        EXPECT_FALSE(LanguageIdOfName(unknown, got)) << unknown;
}

TEST(Utf8, SurrogatePairsRoundTripAndBadBytesAreRefused) {
    std::u16string text = u"a\xD83D\xDE00\u00E9\u4E2D";
    std::u16string back;
    EXPECT_TRUE(AppendFromUtf8(back, ToUtf8(text)));
    EXPECT_EQ(back, text);
    for (const char* bad : {"\x80", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE4\xB8", "\xF8\x88\x80\x80\x80"}) {
        std::u16string out;
        EXPECT_FALSE(AppendFromUtf8(out, bad)) << bad;
    }
}

// A version resource as resource compilers write it: key, padding, value, children.
Bytes VersionBlock(std::u16string_view key, const Bytes& value, uint16_t valueLength,
                   const std::vector<Bytes>& children) {
    Bytes b(6);
    Bytes k = test::Utf16(key);
    b.insert(b.end(), k.begin(), k.end());
    b.insert(b.end(), {0, 0});
    b.resize(AlignUp(b.size(), 4));
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        b.resize(AlignUp(b.size(), 4));
        b.insert(b.end(), child.begin(), child.end());
    }
    test::Put16(b, 0, static_cast<uint16_t>(b.size()));
    test::Put16(b, 2, valueLength);
    return b;
}

Bytes VersionString(std::u16string_view key, std::u16string_view value) {
    Bytes v = test::Utf16(value);
    v.insert(v.end(), {0, 0});
    return VersionBlock(key, v, static_cast<uint16_t>(value.size() + 1), {});
}

TEST(VersionInfo, ReadsStringsAndStopsAtDamage) {
    Bytes table = VersionBlock(
        u"040904b0", {}, 0,
        {VersionString(u"ProductName", u"Demo"), VersionString(u"ProductVersion", u"1.2")});
    Bytes info = VersionBlock(u"StringFileInfo", {}, 0, {table});
    Bytes version = VersionBlock(u"VS_VERSION_INFO", Bytes(52, 0), 52,
                                 {VersionBlock(u"VarFileInfo", {}, 0, {}), info});
    auto read = [](const Bytes& data) {
        std::u16string all;
        for (const auto& item : test::ExportItems(ProcessVersionStrings, data, u"16.1."))
            all += item.key.substr(5) + u"=" + item.text + u";";
        return all;
    };
    EXPECT_EQ(read(version), u"ProductName=Demo;ProductVersion=1.2;");
    // Every shorter piece and every damaged length reads without leaving the data.
    for (size_t n = 0; n < version.size(); ++n)
        read(Bytes(version.begin(), version.begin() + n));
    for (size_t at = 0; at + 1 < version.size(); at += 2) {
        Bytes damaged = version;
        test::Put16(damaged, at, 0xFFFF);
        read(damaged);
        test::Put16(damaged, at, 3);
        read(damaged);
    }
}

}  // namespace
}  // namespace quelvar
