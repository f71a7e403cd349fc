// PO files: the writer against the GNU tools' own wrapping, the reader on what translators'
// tools write and on malformed files, language names, UTF-8 at the edge, version strings.
#include <gtest/gtest.h>

#include <random>

#include "base/bytes.h"
#include "base/utf16.h"
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
    ResourceInfo menu{u"4", u"ABOUT BOX", 1033};
    AppendPoEntry(writer, TextItem{u"4.1.7", u"&Open", u"File > Open", 0, &menu}, u"Ö&ffnen");
    AppendPoEntry(writer, TextItem{u"4.1.7", u"&Other", u"File > Other", 0, &menu}, u"");
    EXPECT_EQ(writer.out,
              "\n#. File > Open\n#: MENU:ABOUT_BOX:1033\nmsgctxt \"4.1.7\"\nmsgid \"&Open\"\n"
              "msgstr \"Ö&ffnen\"\n");
}

PoError Parse(std::string_view text, PoCatalog& catalog) {
    return ParsePo(text, catalog);
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
        const char* text;
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
        // msgfmt refuses a file without entries, and one without the header entry.
        {"", PoProblem::Empty, 1},
        {"# a comment\n\n", PoProblem::Empty, 1},
        {"\n#. x\nmsgctxt \"a\"\nmsgid \"x\"\nmsgstr \"y\"\n", PoProblem::NoHeader, 3},
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
        ReadVersionStrings(data, 0, [&all](std::u16string_view k, std::u16string_view v) {
            all += std::u16string(k) + u"=" + std::u16string(v) + u";";
        });
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
