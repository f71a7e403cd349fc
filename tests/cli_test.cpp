// quelvar-cli as a user runs it: exit statuses, the one-line failure message, default paths,
// and the replacement of the image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

struct CliRun {
    int status;
    std::string err;
};

CliRun Cli(const std::string& args, const test::TempDir& dir) {
    std::string errFile = (dir / "stderr.txt").string();
    std::string command = std::string("cd '") + dir.path.string() + "' && '" + QUELVAR_CLI + "' " +
                          args + " >/dev/null 2>'" + errFile + "'";
    int raw = std::system(command.c_str());
    CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ""};
    Bytes e = test::ReadFileBytes(errFile);
    r.err.assign(e.begin(), e.end());
    return r;
}

Bytes SampleImage() {
    return test::BuildImage({{test::Id(10), test::Id(1), 1033, Bytes(33, 7)}});
}

TEST(Cli, Usage) {
    test::TempDir dir;
    EXPECT_EQ(Cli("--version", dir).status, 0);
    EXPECT_EQ(Cli("--help", dir).status, 0);
    EXPECT_EQ(Cli("", dir).status, 2);
    EXPECT_EQ(Cli("translate a.exe", dir).status, 2);
    EXPECT_EQ(Cli("export", dir).status, 2);
    EXPECT_EQ(Cli("export a b c", dir).status, 2);
    EXPECT_EQ(Cli("import a.exe", dir).status, 2);
    EXPECT_EQ(Cli("import a.exe a.lng -o", dir).status, 2);
    EXPECT_EQ(Cli("export a.exe -o b", dir).status, 2);
    EXPECT_EQ(Cli("export --bogus a.exe", dir).status, 2);
}

TEST(Cli, FailuresPrintOneLineWithTheCode) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "bad.exe", Bytes(600, 0));
    CliRun r = Cli("import bad.exe x.lng", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "quelvar-cli: import failed: the image is not a valid program image (error 11)\n");
    r = Cli("export missing.exe", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(error 2)"), std::string::npos);
}

TEST(Cli, ExportDefaultsToTheImageNameWithLng) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "v1.2");
    test::WriteFileBytes(dir / "v1.2" / "app.exe", SampleImage());
    test::WriteFileBytes(dir / "v1.2" / "tool", SampleImage());
    ASSERT_EQ(Cli("export v1.2/app.exe", dir).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "v1.2" / "app.lng"));
    // A name without extension gets ".lng" appended, in its own directory.
    ASSERT_EQ(Cli("export v1.2/tool", dir).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "v1.2" / "tool.lng"));
}

TEST(Cli, ImportReplacesTheImageOrWritesTheOutput) {
    test::TempDir dir;
    Bytes img = SampleImage();
    test::WriteFileBytes(dir / "app.exe", img);
    test::WriteFileBytes(dir / "app.lng", test::LanguageFile(u"LANG=2052\r\n"));

    ASSERT_EQ(Cli("import app.exe app.lng -o out.exe", dir).status, 0);
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), img);
    EXPECT_EQ(test::ReadResources(test::ReadFileBytes(dir / "out.exe"))[0].language, u"2052");

    ASSERT_EQ(Cli("import app.exe app.lng", dir).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "app.exe.QN"));
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), test::ReadFileBytes(dir / "out.exe"));

    // A failed import leaves the image as it was and no update copy.
    Bytes translated = test::ReadFileBytes(dir / "app.exe");
    test::WriteFileBytes(dir / "app.lng", {'n', 'o'});
    EXPECT_EQ(Cli("import app.exe app.lng", dir).status, 1);
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), translated);
    EXPECT_FALSE(std::filesystem::exists(dir / "app.exe.QN"));
}

TEST(Cli, LanguageOption) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe",
                         test::BuildImage({{test::Id(10), test::Id(1), 1033, Bytes(5, 1)},
                                           {test::Id(10), test::Id(1), 1031, Bytes(5, 2)}}));
    test::WriteFileBytes(dir / "app.lng", test::LanguageFile(u"LANG=2052\r\n"));
    for (const char* bad : {"x", "0x", "65536", "0x10000", "-1", "12a"})
        EXPECT_EQ(Cli(std::string("export app.exe --language ") + bad, dir).status, 2) << bad;
    EXPECT_EQ(Cli("export app.exe --language", dir).status, 2);
    EXPECT_EQ(Cli("export app.exe --language 1 --language 2", dir).status, 2);
    // Only the resources of the chosen language take the new id.
    ASSERT_EQ(Cli("import app.exe app.lng -o out.exe --language 0x409", dir).status, 0);
    auto out = test::ReadResources(test::ReadFileBytes(dir / "out.exe"));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].language, u"1031");
    EXPECT_EQ(out[1].language, u"2052");
    EXPECT_EQ(out[1].data, Bytes(5, 1));
}

// Every option a text names: "--word" or "-x" at the start of a word. Roff's comment lines
// are left out, its escaped minus "\-" is a minus and its font changes ("\fB") are dropped.
std::set<std::string> OptionsIn(const std::string& text) {
    std::istringstream lines(text);
    std::string plain;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".\\\"", 0) != 0)
            plain += " " + line + "\n";
    }
    plain = std::regex_replace(plain, std::regex(R"(\\f[BIRP])"), "");
    plain = std::regex_replace(plain, std::regex(R"(\\-)"), "-");
    std::regex option(R"([\s\[|(,](--[a-z][a-z0-9-]*|-[a-zA-Z])(?=[\s\]|),=]))");
    std::set<std::string> options;
    for (std::sregex_iterator it(plain.begin(), plain.end(), option), end; it != end; ++it)
        options.insert((*it)[1]);
    return options;
}

TEST(Cli, ManualPageNamesTheOptionsOfHelp) {
    test::TempDir dir;
    std::string helpFile = (dir / "help.txt").string();
    ASSERT_EQ(
        std::system(("'" + std::string(QUELVAR_CLI) + "' --help >'" + helpFile + "'").c_str()), 0);
    Bytes help = test::ReadFileBytes(helpFile);
    Bytes manual = test::ReadFileBytes(QUELVAR_MAN_PAGE);
    std::set<std::string> helpOptions = OptionsIn(std::string(help.begin(), help.end()));
    EXPECT_TRUE(helpOptions.count("--language") && helpOptions.count("-o"));
    EXPECT_EQ(OptionsIn(std::string(manual.begin(), manual.end())), helpOptions);
}

// The cut of a translation that a string table entry cannot hold is said, with its key.
TEST(Cli, CutTranslationIsSaid) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({u"a", u"b"})}}));
    test::WriteFileBytes(dir / "de.lng",
                         test::LanguageFile(u"6.1.1=" + std::u16string(70000, u'x') + u"\r\n"));
    CliRun r = Cli("import app.exe de.lng -o out.exe", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: 6.1.1: the translation of 70000 units is cut to 65534, the most a "
              "string table entry holds\n");
}

// What import and export say about languages: a refused LANG value quoted, a replaced entry,
// and the keys that several languages share.
TEST(Cli, LanguageNoticesAreSaid) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(5), test::Id(1), 1033, test::CaptionDialog(u"A")},
                          {test::Id(5), test::Id(1), 1031, test::CaptionDialog(u"B")},
                          {test::Id(5), test::Id(2), 1031, test::CaptionDialog(u"C")}}));
    test::WriteFileBytes(dir / "junk.lng", test::LanguageFile(u"LANG= junk\r\n"));
    CliRun r = Cli("import app.exe junk.lng -o out.exe", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "quelvar-cli: the language file's LANG value \" junk\" is no language id (decimal, "
              "hexadecimal with 0x, or -1 to keep the languages)\n");
    EXPECT_NE(r.err.find("(error 13)"), std::string::npos);

    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n"));
    r = Cli("import app.exe de.lng -o out.exe --language 1033", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: 5.1: the translation of language 1033 replaces the resource of "
              "language 1031\n");

    r = Cli("export app.exe", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: warning: the image's languages share their keys; language 1031 has 2 "
              "text(s) (export it alone with --language 1031)\n"
              "quelvar-cli: warning: the image's languages share their keys; language 1033 has 1 "
              "text(s) (export it alone with --language 1033)\n");
    EXPECT_EQ(Cli("export app.exe --language 1031", dir).err, "");
}

}  // namespace
}  // namespace quelvar
