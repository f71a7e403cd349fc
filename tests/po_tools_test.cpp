// PO files with the real GNU gettext tools, end to end through quelvar-cli: what msgfmt
// accepts, what msgcat, msgattrib and msgmerge write back, a translation carried to the next
// program version, a harvested translated build, and files that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "exchange/po.h"
#include "pe_builder.h"
#include "shell.h"

namespace quelvar {
namespace {

using test::Bytes;

using test::ShellRun;

// Runs a shell command in `dir`; "quelvar-cli" names the program under test.
ShellRun Shell(std::string command, const test::TempDir& dir) {
    size_t at;
    while ((at = command.find("quelvar-cli ")) != std::string::npos)
        command.replace(at, 12, "\"$Q\" ");
    return test::RunShell(dir.path, command, test::ShellOutput::Dropped);
}

std::string ReadText(const std::filesystem::path& path) {
    Bytes b = test::ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

void WriteText(const std::filesystem::path& path, std::string_view text) {
    test::WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

PoCatalog ReadCatalog(const std::filesystem::path& path) {
    PoCatalog catalog;
    std::string text = ReadText(path);
    PoError e = ParsePo(text, catalog);
    EXPECT_EQ(e.problem, PoProblem::None) << path << ":" << e.line;
    return catalog;
}

const PoEntry* Entry(const PoCatalog& c, std::u16string_view key) {
    auto it = c.byContext.find(std::u16string(key));
    return it == c.byContext.end() ? nullptr : &c.entries[it->second];
}

class PoTools : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"msgfmt", "msgcat", "msgattrib", "msgmerge", "msgen", "msgfilter"})
            if (std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) != 0)
                GTEST_SKIP() << "no " << tool << " (gettext)";
    }
    // A translation of a template: every msgstr "DE " and its msgid, Language "de".
    void Translate(const std::string& pot, const std::string& po) {
        ASSERT_EQ(
            Shell("msgen " + pot + " | msgfilter --keep-header -o " + po + " sed -e 's/^/DE /'",
                  dir)
                .status,
            0);
        std::string text = ReadText(dir / po);
        size_t at = text.find("\"Language: \\n\"");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, 14, "\"Language: de\\n\"");
        WriteText(dir / po, text);
    }
    test::TempDir dir;
};

TEST_F(PoTools, EverySampleExportsAPoTheToolsAcceptAndKeep) {
    if (test::SampleImageDir().empty())
        GTEST_SKIP() << "no mingw-w64";
    int images = 0;
    for (const auto& file : std::filesystem::directory_iterator(test::SampleImageDir())) {
        if (file.path().extension() != ".exe")
            continue;
        ++images;
        std::string name = file.path().stem().string();
        std::filesystem::copy_file(file.path(), dir / (name + ".exe"));
        ASSERT_EQ(Shell("quelvar-cli export " + name + ".exe " + name + ".pot", dir).status, 0);
        ShellRun check =
            Shell("msgfmt --check-format --check-header -o /dev/null " + name + ".pot", dir);
        EXPECT_EQ(check.status, 0) << name << ": " << check.err;
        ReadCatalog(dir / (name + ".pot"));  // unique contexts: a repeated one is refused
        ASSERT_EQ(Shell("msgcat -o " + name + ".cat.pot " + name + ".pot", dir).status, 0);
        EXPECT_EQ(ReadText(dir / (name + ".cat.pot")), ReadText(dir / (name + ".pot"))) << name;
    }
    EXPECT_GT(images, 5);
    // The project named by the version information.
    EXPECT_NE(ReadText(dir / "strings32.pot").find("\"Project-Id-Version: Strings Sample 2.5\\n\""),
              std::string::npos);
    EXPECT_NE(ReadText(dir / "basic32.pot").find("\"Project-Id-Version: basic32.exe\\n\""),
              std::string::npos);
}

// The same translation as a PO file, rewritten by msgcat and msgattrib, converted to and from
// a language file, and as a language file written here: one image.
TEST_F(PoTools, EveryFormOfATranslationGivesTheSameImage) {
    if (test::SampleImageDir().empty())
        GTEST_SKIP() << "no mingw-w64";
    std::filesystem::copy_file(test::SampleImageDir() / "basic32.exe", dir / "app.exe");
    ASSERT_EQ(Shell("quelvar-cli export app.exe app.pot", dir).status, 0);
    Translate("app.pot", "de.po");
    PoCatalog catalog = ReadCatalog(dir / "de.po");
    std::u16string lines = u"LANG=1031\r\n";
    for (const PoEntry& e : catalog.entries) {
        lines += e.context + u"=";
        for (char16_t u : e.str) {
            if (u == u'\n' || u == u'\r' || u == u'\\')
                lines += u == u'\n' ? u"\\n" : u == u'\r' ? u"\\r" : u"\\\\";
            else
                lines += u;
        }
        lines += u"\r\n";
    }
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(lines));
    ASSERT_EQ(Shell("quelvar-cli import app.exe de.lng -o lng.exe --language 1033", dir).status, 0);
    Bytes expected = test::ReadFileBytes(dir / "lng.exe");

    // The forms, and what import needs besides: the Translate Toolkit's pot2po takes the
    // header of the template, which names no language.
    const std::pair<const char*, const char*> forms[] = {
        {"cp de.po x.po", ""},
        {"msgcat --width=30 -o x.po de.po", ""},
        {"msgattrib --no-wrap --sort-output --no-location -o x.po de.po", ""},
        {"quelvar-cli convert de.po x.lng && quelvar-cli convert x.lng x.po --image app.exe", ""},
        {"pot2po --progress=none -t de.po -i app.pot -o x.po", " --lang-id 1031"},
    };
    for (const auto& [form, options] : forms) {
        if (std::string(form).starts_with("pot2po") &&
            std::system("command -v pot2po >/dev/null") != 0)
            continue;  // no Translate Toolkit
        std::filesystem::remove(dir / "out.exe");
        ASSERT_EQ(Shell(form, dir).status, 0) << form;
        ShellRun r =
            Shell(std::string("quelvar-cli import app.exe x.po -o out.exe") + options, dir);
        ASSERT_EQ(r.status, 0) << form << ": " << r.err;
        EXPECT_EQ(test::ReadFileBytes(dir / "out.exe"), expected) << form;
    }
}

Bytes Version(const std::vector<std::u16string>& strings) {
    return test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock(strings)}});
}

// The workflow of a new program version: msgmerge carries the translation over, a changed text
// comes back fuzzy with its previous msgid, a new one untranslated; the import applies what
// was carried.
TEST_F(PoTools, MsgmergeCarriesATranslationToTheNextVersion) {
    test::WriteFileBytes(dir / "v1.exe", Version({u"Open", u"Close the file", u"Exit"}));
    test::WriteFileBytes(dir / "v2.exe",
                         Version({u"Open", u"Close the open file", u"Exit", u"Show help"}));
    ASSERT_EQ(Shell("quelvar-cli export v1.exe v1.pot", dir).status, 0);
    Translate("v1.pot", "de.po");
    ASSERT_EQ(Shell("quelvar-cli export v2.exe v2.pot", dir).status, 0);

    // The old translation on the new version is applied, and said to be out of date.
    ShellRun stale = Shell("quelvar-cli import v2.exe de.po -o stale.exe", dir);
    EXPECT_EQ(stale.status, 0);
    EXPECT_NE(stale.err.find("1 translations are for other source texts; run msgmerge"),
              std::string::npos)
        << stale.err;

    ASSERT_EQ(Shell("msgmerge --quiet --previous -o de.v2.po de.po v2.pot", dir).status, 0);
    PoCatalog merged = ReadCatalog(dir / "de.v2.po");
    const PoEntry* open = Entry(merged, u"6.1.0");
    const PoEntry* changed = Entry(merged, u"6.1.1");
    const PoEntry* added = Entry(merged, u"6.1.3");
    ASSERT_TRUE(open && changed && added);
    EXPECT_EQ(open->str, u"DE Open");
    EXPECT_FALSE(open->fuzzy);
    EXPECT_TRUE(changed->fuzzy);
    EXPECT_EQ(changed->id, u"Close the open file");
    EXPECT_NE(ReadText(dir / "de.v2.po").find("#| msgid \"Close the file\""), std::string::npos);
    EXPECT_EQ(added->str, u"");
    EXPECT_EQ(PoHeaderField(merged, "Language"), "de");

    ShellRun r = Shell("quelvar-cli import v2.exe de.v2.po -o v2.de.exe", dir);
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("1 fuzzy translations were skipped"), std::string::npos) << r.err;
    auto out = test::ReadResources(test::ReadFileBytes(dir / "v2.de.exe"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].language, u"1031");
    EXPECT_EQ(out[0].data,
              test::StringBlock({u"DE Open", u"Close the open file", u"DE Exit", u"Show help"}));
    // --fuzzy applies the fuzzy one too; --lang-id gives another language id.
    ASSERT_EQ(
        Shell("quelvar-cli import v2.exe de.v2.po -o f.exe --fuzzy --lang-id 2055", dir).status, 0);
    out = test::ReadResources(test::ReadFileBytes(dir / "f.exe"));
    EXPECT_EQ(out[0].language, u"2055");
    EXPECT_EQ(out[0].data,
              test::StringBlock({u"DE Open", u"DE Close the file", u"DE Exit", u"Show help"}));
}

// Harvest from a build that Quelvar translated: msgids of the original, msgstrs and language
// of the translated build, keys of only one image said.
TEST_F(PoTools, HarvestPairsTheKeysOfTwoBuilds) {
    test::WriteFileBytes(dir / "v1.exe", Version({u"Open", u"Close", u"Exit"}));
    test::WriteFileBytes(dir / "v2.exe", Version({u"Open", u"Close", u"Exit", u"Help"}));
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n6.1.0=Öffnen\r\n"
                                                            u"6.1.2=Be\xD83D\xDE00"
                                                            u"enden\r\n"));
    ASSERT_EQ(Shell("quelvar-cli import v1.exe de.lng -o v1.de.exe", dir).status, 0);
    ShellRun r = Shell("quelvar-cli export -q --source v2.exe v1.de.exe de.po", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "quelvar-cli: 6.1.3: only in the original\n");
    PoCatalog c = ReadCatalog(dir / "de.po");
    EXPECT_EQ(PoHeaderField(c, "Language"), "de_DE");
    ASSERT_EQ(c.entries.size(), 4u);
    EXPECT_EQ(c.entries[0].id, u"Open");
    EXPECT_EQ(c.entries[0].str, u"Öffnen");
    EXPECT_EQ(c.entries[1].str, u"Close");
    EXPECT_EQ(c.entries[2].str,
              u"Be\xD83D\xDE00"
              u"enden");
    EXPECT_EQ(c.entries[3].str, u"");
    // A translation: msgfmt warns of no placeholder of a template's header.
    ShellRun checked = Shell("msgfmt --check -o /dev/null de.po", dir);
    EXPECT_EQ(checked.status, 0);
    EXPECT_EQ(checked.err, "");
}

// A file that cannot be used is refused in one line that says what is wrong, at which line,
// and no image is written.
TEST_F(PoTools, UnusableFilesAreRefusedWithTheirLine) {
    test::WriteFileBytes(dir / "app.exe", Version({u"Open"}));
    const std::string head = "msgid \"\"\nmsgstr \"Language: de\\n\"\n\n";
    struct Case {
        std::string text, said;
        bool msgfmtRefuses;  // the GNU tools refuse it too
    } cases[] = {
        {head + "msgctxt \"6.1.0\"\nmsgid \"Open\nmsgstr \"x\"\n", "bad.po:5: the string has",
         true},
        {head + "msgctxt \"6.1.0\"\nmsgid \"Open\"\nmsgstr \"\\z\"\n", "bad.po:6: a backslash",
         true},
        {head + "msgctxt \"6.1.0\"\nmsgstr \"x\"\nmsgid \"Open\"\n", "bad.po:5: msgstr", true},
        {head + "msgctxt \"6.1.0\"\nmsgid \"Open\"\nmsgstr \"x\"\n\nmsgctxt \"6.1.0\"\n"
                "msgid \"Other\"\nmsgstr \"y\"\n",
         "bad.po:8: an earlier entry", false},
        {head + "msgctxt \"6.1.0\"\nmsgid \"Open\"\nmsgid_plural \"Opens\"\n",
         "bad.po:6: a plural entry (msgid_plural, msgstr[n])", true},
        {"msgid \"\"\nmsgstr \"Language: tlh\\n\"\n", "bad.po:1: unknown language \"tlh\"", false},
        {"", "bad.po:1: the PO file is empty", true},
        {"msgctxt \"6.1.0\"\nmsgid \"Open\"\nmsgstr \"x\"\n", "bad.po:1: the PO file has no header",
         true},
        {"\xDE\x12\x04\x95", "bad.po: a compiled catalog (.mo)", true},
    };
    for (const Case& c : cases) {
        WriteText(dir / "bad.po", c.text);
        for (const char* command : {"import app.exe bad.po -o out.exe", "check app.exe bad.po",
                                    "convert bad.po out.lng"}) {
            ShellRun r = Shell(std::string("quelvar-cli ") + command, dir);
            EXPECT_EQ(r.status, 1) << command;
            EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("(error 13)\n"), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
            EXPECT_FALSE(std::filesystem::exists(dir / "out.lng"));
        }
        EXPECT_EQ(Shell("msgfmt --check -o /dev/null bad.po", dir).status != 0, c.msgfmtRefuses)
            << c.said;
    }
    // An unknown language with --lang-id is no obstacle.
    WriteText(dir / "bad.po", "msgid \"\"\nmsgstr \"Language: tlh\\n\"\n");
    EXPECT_EQ(Shell("quelvar-cli import app.exe bad.po -o out.exe --lang-id 1031", dir).status, 0);
    // A missing file is said to be missing.
    ShellRun missing = Shell("quelvar-cli import app.exe none.po -o out.exe", dir);
    EXPECT_NE(missing.err.find("none.po: no such file (error 110)"), std::string::npos)
        << missing.err;
}

// A PO file in Latin-1 and a compiled catalog given as a PO file: the message gives the gettext
// command that makes a PO file of it, and that file imports as the UTF-8 one does.
TEST_F(PoTools, RefusedEncodingsNameTheToolThatConverts) {
    test::WriteFileBytes(dir / "app.exe", Version({u"Open", u"Close"}));
    std::string po =
        "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n"
        "\"Language: de\\n\"\n\nmsgctxt \"6.1.0\"\nmsgid \"Open\"\nmsgstr \"\xD6"
        "ffnen\"\n";
    WriteText(dir / "de.po", po);
    ASSERT_EQ(Shell("msgconv -t UTF-8 -o utf8.po de.po && quelvar-cli import app.exe utf8.po -o "
                    "expected.exe",
                    dir)
                  .status,
              0);
    ASSERT_EQ(Shell("msgfmt -o de.mo utf8.po && cp de.mo mo.po", dir).status, 0);
    const std::pair<const char*, const char*> cases[] = {
        {"de.po",
         "de.po:1: the PO file is ISO-8859-1 text; Quelvar reads UTF-8: convert it "
         "with: msgconv -t UTF-8 de.po -o de.utf8.po"},
        {"mo.po",
         "mo.po: a compiled catalog (.mo), not a PO file; give the PO file it was made "
         "from, or turn it back into one with: msgunfmt mo.po -o mo.recovered.po"},
    };
    for (const auto& [file, said] : cases) {
        ShellRun r = Shell(std::string("quelvar-cli import app.exe ") + file + " -o out.exe", dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("quelvar-cli: import failed: ") + said + " (error 13)\n");
        std::string command = std::string(said).substr(std::string(said).find(": ms") + 2);
        std::string converted = command.substr(command.rfind(' ') + 1);
        std::filesystem::remove(dir / "out.exe");
        ASSERT_EQ(
            Shell(command + " && quelvar-cli import app.exe " + converted + " -o out.exe", dir)
                .status,
            0)
            << command;
        EXPECT_EQ(test::ReadFileBytes(dir / "out.exe"), test::ReadFileBytes(dir / "expected.exe"))
            << command;
    }
}

}  // namespace
}  // namespace quelvar
