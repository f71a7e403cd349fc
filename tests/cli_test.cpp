// quelvar-cli as a user runs it: exit statuses, the one-line failure message, default paths,
// and the replacement of the image.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "pe_builder.h"
#include "shell.h"

namespace quelvar {
namespace {

using test::Bytes;

using CliRun = test::ShellRun;

// Runs a shell script in the directory, with $Q naming quelvar-cli; its stderr is kept.
CliRun Sh(const std::string& script, const test::TempDir& dir) {
    return test::RunShell(dir.path, script);
}

CliRun Cli(const std::string& args, const test::TempDir& dir) {
    return Sh("\"$Q\" " + args + " >/dev/null", dir);
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
    EXPECT_EQ(r.err, "quelvar-cli: import failed: bad.exe: not a valid program image (error 11)\n");
    r = Cli("export missing.exe", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(error 2)"), std::string::npos);
    // A compiled resource file whose first record is cut short: a warning says where and why.
    Bytes res(32, 0);
    res[4] = 32;
    res[8] = res[9] = res[12] = res[13] = 0xFF;
    res.push_back(1);
    test::WriteFileBytes(dir / "app.res", res);
    r = Cli("export app.res", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "quelvar-cli: app.res: the .res record at offset 32: the record is cut short\n"
              "quelvar-cli: export failed: app.res: not a valid program image (error 11)\n");
    // A harvest names the build it could not read, as every command does.
    for (const auto& [args, said] : std::initializer_list<std::pair<const char*, const char*>>{
             {"export --source missing.exe bad.exe x.po",
              "quelvar-cli: export failed: missing.exe: no such file (error 2)\n"},
             {"export --source bad.exe bad.exe x.po",
              "quelvar-cli: export failed: bad.exe: not a valid program image (error 11)\n"}}) {
        r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, said) << args;
    }
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
    ASSERT_EQ(Sh("\"$Q\" --help >help.txt", dir).status, 0);
    Bytes help = test::ReadFileBytes(dir / "help.txt");
    Bytes manual = test::ReadFileBytes(QUELVAR_MAN_PAGE);
    std::set<std::string> helpOptions = OptionsIn(std::string(help.begin(), help.end()));
    EXPECT_TRUE(helpOptions.count("--language") && helpOptions.count("-o"));
    EXPECT_EQ(OptionsIn(std::string(manual.begin(), manual.end())), helpOptions);
}

// The declared command line: a value in its option's word (--language=1033, -j4), each
// command's own options and help, a usage error in two lines naming the option, and an option
// of one value given twice refused by every command.
TEST(Cli, DeclaredCommandLine) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", SampleImage());
    struct Case {
        const char* args;
        int status;
        const char* said;  // a part of stderr
    };
    for (const Case& c : std::initializer_list<Case>{
             {"export app.exe --language=1033 -q", 0, ""},
             {"export --batch --out=d -j4 app.exe -q", 0, ""},
             {"import --help", 0, ""},
             {"export app.exe --bogus", 2,
              "export: The following argument was not expected: --bogus"},
             {"export app.exe --language=0x10000", 2, "--language: not a language id: 0x10000"},
             {"pseudo app.exe a.lng --expand=1001", 2, "--expand: not a number from 0 to 1000"},
             {"check app.exe a.lng -q", 2, "-q"},
             {"check app.exe a.lng --format po", 2, "--format: not text|json: po"},
             {"import app.exe a.lng --rtl --no-rtl", 2, "--rtl excludes --no-rtl"},
             {"export app.exe --language 1 --language 2", 2, "--language is given more than once"},
             {"check app.exe a.lng --language 1 --language=2", 2,
              "--language is given more than once"},
             {"pseudo app.exe a.lng --expand 1 --expand 2", 2, "--expand is given more than once"},
             {"import app.exe a.lng -o x -o y", 2, "-o is given more than once"},
             {"import --batch --from d -j1 -j2 app.exe", 2, "-j is given more than once"},
         }) {
        CliRun r = Cli(c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << c.args << ": " << r.err;
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << c.args << ": " << r.err;
        }
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "d" / "app.exe.lng"));
}

// What bash completes after the words typed (the last one being completed).
std::set<std::string> Completed(const std::string& words, const test::TempDir& dir) {
    std::string script = ". ./quelvar-cli.bash\nCOMP_WORDS=(quelvar-cli " + words +
                         ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_quelvar_cli\n"
                         "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    test::WriteFileBytes(dir / "complete.sh", Bytes(script.begin(), script.end()));
    EXPECT_EQ(Sh("bash complete.sh >completed.txt", dir).status, 0) << words;
    Bytes out = test::ReadFileBytes(dir / "completed.txt");
    std::istringstream lines(std::string(out.begin(), out.end()));
    std::set<std::string> offered;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            offered.insert(line);
    return offered;
}

// The completion scripts come from the declared command line: after each command bash offers
// the options its help names, and the values of --format; zsh reads its script.
TEST(Cli, CompletionsOfferEachCommandsOptions) {
    test::TempDir dir;
    ASSERT_EQ(Sh("\"$Q\" --completions bash >quelvar-cli.bash", dir).status, 0);
    for (const char* command : {"export", "import", "convert", "check", "pseudo"}) {
        ASSERT_EQ(Sh("\"$Q\" " + std::string(command) + " --help >help.txt", dir).status, 0);
        Bytes help = test::ReadFileBytes(dir / "help.txt");
        std::set<std::string> options = OptionsIn(std::string(help.begin(), help.end()));
        EXPECT_TRUE(options.count("--help")) << command;
        EXPECT_EQ(Completed(std::string(command) + " app.exe -", dir), options) << command;
    }
    EXPECT_EQ(Completed("check app.exe --format ''", dir), (std::set<std::string>{"text", "json"}));
    EXPECT_EQ(Completed("export --format = p", dir), std::set<std::string>{"po"});
    EXPECT_EQ(Completed("imp", dir), std::set<std::string>{"import"});
    if (std::system("command -v zsh >/dev/null") == 0) {
        EXPECT_EQ(Sh("\"$Q\" --completions zsh >_quelvar-cli && zsh -n _quelvar-cli", dir).status,
                  0);
    }
}

// The cut of a translation that a string table entry cannot hold is said, with its key.
// Said once; the other language's block stays as it was.
TEST(Cli, CutTranslationIsSaid) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({u"a", u"b"})},
                          {test::Id(6), test::Id(1), 1031, test::StringBlock({u"c", u"d"})}}));
    test::WriteFileBytes(dir / "de.lng",
                         test::LanguageFile(u"6.1.1=" + std::u16string(70000, u'x') + u"\r\n"));
    CliRun r = Cli("import app.exe de.lng -o out.exe --language 1033", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: 6.1.1: the translation of 70000 units is cut to 65535, the most a "
              "string table entry holds\n"
              "imported de.lng into out.exe\n");
}

// --strict refuses every error check reports, a text too long for its entry among them, and
// also in a translation read from a pipe; each is said as an error, at its line.
TEST(Cli, StrictRefusesEveryErrorOfCheck) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({u"a", u"%d b"})}}));
    const std::string tooLong = "de.lng:3: error: 6.1.1: 70000 units, more than the 65534";
    struct Case {
        std::u16string lines;
        const char* script;  // the import; $F is the translation
        const char* said;
    } cases[] = {
        {u"6.1.1=" + std::u16string(70000, u'x') + u"\r\n", "\"$Q\" import app.exe $F", ""},
        {u"6.1.1=%s x\r\n", "\"$Q\" import app.exe $F", "de.lng:3: error: 6.1.1: printf"},
        {u"6.1.1=x\r\n", "cat $F | \"$Q\" import app.exe -", "standard input/output:3: error"},
    };
    cases[0].said = tooLong.c_str();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n\r\n" + c.lines));
        std::string script = std::string("F=de.lng; ") + c.script + " -o out.exe -q";
        CliRun r = Sh(script + " --strict", dir);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("import refused: the translation has errors (--strict)"),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
        EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
        EXPECT_EQ(Sh(script, dir).status, 0);  // without --strict the import goes on
        EXPECT_TRUE(std::filesystem::exists(dir / "out.exe"));
        std::filesystem::remove(dir / "out.exe");
    }
}

// An output that is the language file, under any spelling, is refused; so is a language
// file that lies where the update copy goes. Both stay as they were.
TEST(Cli, OutputOverTheLanguageFileIsRefused) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", SampleImage());
    Bytes lng = test::LanguageFile(u"LANG=2052\r\n");
    std::filesystem::create_directory(dir / "sub");
    for (const char* args : {"import app.exe de.lng -o de.lng", "import app.exe de.lng -o ./de.lng",
                             "import app.exe de.lng -o sub/../de.lng", "import app.exe app.exe.QN",
                             "import app.exe out.QN -o out"}) {
        for (const char* name : {"de.lng", "app.exe.QN", "out.QN"})
            test::WriteFileBytes(dir / name, lng);
        CliRun r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("would overwrite the language file being read (error 32)"),
                  std::string::npos)
            << r.err;
        for (const char* name : {"de.lng", "app.exe.QN", "out.QN"})
            EXPECT_EQ(test::ReadFileBytes(dir / name), lng) << args << " " << name;
        EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), SampleImage()) << args;
    }
}

// A link at the name of a draft or an update copy is neither followed nor removed.
TEST(Cli, LinkAtADraftNameIsNotFollowed) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", SampleImage());
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=2052\r\n"));
    Bytes precious = {'k', 'e', 'e', 'p'};
    for (auto [args, link] : {std::pair{"export app.exe out.lng", "out.lng.QN"},
                              std::pair{"import app.exe de.lng", "app.exe.QN"},
                              std::pair{"import app.exe de.lng -o out.exe", "out.exe.QN"}}) {
        test::WriteFileBytes(dir / "precious", precious);
        std::filesystem::create_symlink("precious", dir / link);
        CliRun r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find(std::string(link) + ": a link, folder or device has this name"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / link)) << args;
        EXPECT_EQ(test::ReadFileBytes(dir / "precious"), precious) << args;
        std::filesystem::remove(dir / link);
    }
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), SampleImage());
    // A stale regular file of that name is the remains of an earlier run: it is replaced.
    test::WriteFileBytes(dir / "app.exe.QN", precious);
    EXPECT_EQ(Cli("import app.exe de.lng", dir).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "app.exe.QN"));
}

// "-" is standard output for export and standard input for import; status lines go to stderr
// and -q silences them, so that a pipe carries only the language file.
TEST(Cli, PipesCarryOnlyTheLanguageFile) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({u"a", u"b"})}}));
    ASSERT_EQ(Cli("export app.exe file.lng", dir).status, 0);
    Bytes exported = test::ReadFileBytes(dir / "file.lng");
    for (const char* script : {"\"$Q\" export app.exe - | cat >out.lng",
                               "\"$Q\" export app.exe /dev/stdout | cat >out.lng",
                               "\"$Q\" export app.exe - -q >out.lng"}) {
        CliRun r = Sh(script, dir);
        EXPECT_EQ(r.status, 0) << script << r.err;
        EXPECT_EQ(test::ReadFileBytes(dir / "out.lng"), exported) << script;
        EXPECT_EQ(r.err.empty(), std::string(script).find("-q") != std::string::npos) << script;
    }
    // A language file read from a pipe: standard input, /dev/stdin, a named pipe.
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"6.1.1=Hallo\r\n"));
    ASSERT_EQ(Cli("import app.exe de.lng -o expected.exe", dir).status, 0);
    for (const char* script :
         {"cat de.lng | \"$Q\" import app.exe - -o out.exe",
          "cat de.lng | \"$Q\" import app.exe /dev/stdin -o out.exe",
          "mkfifo fifo && (timeout 20 sh -c 'cat de.lng >fifo' &) && timeout 20 "
          "\"$Q\" import app.exe fifo -o out.exe; s=$?; rm -f fifo; exit $s"}) {
        std::filesystem::remove(dir / "out.exe");
        CliRun r = Sh(script, dir);
        EXPECT_EQ(r.status, 0) << script << r.err;
        EXPECT_EQ(test::ReadFileBytes(dir / "out.exe"), test::ReadFileBytes(dir / "expected.exe"))
            << script;
    }
}

// A linked image: the file the link names is translated and the link stays. A read-only
// target is refused unless -o names another file; a replaced image keeps its permissions.
TEST(Cli, LinkedAndReadOnlyImages) {
    test::TempDir dir;
    Bytes img = SampleImage();
    test::WriteFileBytes(dir / "app.exe", img);
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=2052\r\n"));
    ASSERT_EQ(Cli("import app.exe de.lng -o expected.exe", dir).status, 0);
    Bytes translated = test::ReadFileBytes(dir / "expected.exe");

    std::filesystem::create_symlink("app.exe", dir / "link.exe");
    ASSERT_EQ(Cli("import link.exe de.lng", dir).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.exe"));
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), translated);
    EXPECT_FALSE(std::filesystem::exists(dir / "app.exe.QN"));

    using std::filesystem::perms;
    test::WriteFileBytes(dir / "app.exe", img);
    std::filesystem::permissions(dir / "app.exe", perms::owner_read | perms::group_read);
    for (const char* args : {"import app.exe de.lng", "import link.exe de.lng"}) {
        CliRun r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("app.exe: the file is read-only"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(error 5)"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), img);
    EXPECT_EQ(Cli("import app.exe de.lng -o out.exe", dir).status, 0);
    EXPECT_EQ(Cli("import out.exe de.lng -o app.exe", dir).status, 1);  // the read-only output
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), img);

    perms mode = perms::owner_all | perms::group_read | perms::group_exec | perms::others_exec;
    std::filesystem::permissions(dir / "app.exe", mode);
    ASSERT_EQ(Cli("import app.exe de.lng", dir).status, 0);
    EXPECT_EQ(std::filesystem::status(dir / "app.exe").permissions(), mode);
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), translated);
}

// A failure names the file and the cause; a language file in another encoding is said with
// the command that converts it, and the converted file imports.
TEST(Cli, MessagesNameTheFileAndTheCause) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", SampleImage());
    test::WriteFileBytes(dir / "empty.exe", {});
    test::WriteFileBytes(dir / "empty.lng", {});
    test::WriteFileBytes(dir / "u8.lng", {'L', 'A', 'N', 'G', '=', '1', '\r', '\n'});
    test::WriteFileBytes(dir / "u8 mark.lng",
                         {0xEF, 0xBB, 0xBF, 'L', 'A', 'N', 'G', '=', '1', '\n'});
    test::WriteFileBytes(dir / "be.lng",
                         {0xFE, 0xFF, 0, 'L', 0, 'A', 0, 'N', 0, 'G', 0, '=', 0, '1', 0, '\n'});
    std::filesystem::create_directory(dir / "folder");
    test::WriteFileBytes(dir / "cr.lng", test::LanguageFile(u"LANG=1\r6.1.1=x\r"));
    test::WriteFileBytes(dir / "ro.lng", test::LanguageFile(u""));
    std::filesystem::permissions(dir / "ro.lng", std::filesystem::perms::owner_read);
    std::filesystem::create_directory(dir / "folder.po");
    test::WriteFileBytes(dir / "ro.po", {});
    std::filesystem::permissions(dir / "ro.po", std::filesystem::perms::owner_read);
    const std::string po = "msgid \"\"\nmsgstr \"Language: de\\n\"\n";
    test::WriteFileBytes(dir / "de.po", std::vector<uint8_t>(po.begin(), po.end()));
    struct Case {
        const char* args;
        const char* message;
        const char* convert;  // the conversion the message proposes, "" for none
    } cases[] = {
        {"export /dev/zero", "export failed: /dev/zero: a device, pipe or socket, not a file", ""},
        {"check /dev/zero ro.lng", "check failed: /dev/zero: a device, pipe or socket", ""},
        {"import app.exe cr.lng -o out.exe",
         "import failed: cr.lng: the language file's lines end in CR alone", ""},
        {"export app.exe ro.lng", "export failed: ro.lng: the file is read-only (error 5)", ""},
        {"convert missing.lng x.po --image app.exe",
         "convert failed: missing.lng: no such file (error 110)", ""},
        {"convert missing.po x.lng", "convert failed: missing.po: no such file (error 110)", ""},
        {"convert de.po none/x.lng", "convert failed: none/x.lng: no such folder (error 110)", ""},
        {"convert empty.lng x.po --image app.exe",
         "convert failed: empty.lng: the file is empty (error 110)", ""},
        {"convert ro.lng x.po --image missing.exe",
         "convert failed: missing.exe: no such file (error 2)", ""},
        {"convert u8.lng x.po --image app.exe", "u8.lng: the language file is UTF-8 text;",
         "iconv -f UTF-8 -t UTF-16 u8.lng > u8.utf16.lng"},
        {"export missing.exe", "export failed: missing.exe: no such file (error 2)", ""},
        {"export empty.exe", "export failed: empty.exe: the file is empty (error 2)", ""},
        {"import app.exe missing.lng -o out.exe",
         "import failed: missing.lng: no such file (error 110)", ""},
        {"import app.exe missing.po -o out.exe",
         "import failed: missing.po: no such file (error 110)", ""},
        {"check app.exe missing.po", "check failed: missing.po: no such file (error 110)", ""},
        {"import app.exe folder --format po", "import failed: folder: a folder, not a file", ""},
        {"import app.exe empty.lng -o out.exe",
         "import failed: empty.lng: the file is empty (error 110)", ""},
        {"import app.exe u8.lng -o out.exe", "u8.lng: the language file is UTF-8 text;",
         "iconv -f UTF-8 -t UTF-16 u8.lng > u8.utf16.lng"},
        {"import app.exe 'u8 mark.lng' -o out.exe", "the language file is UTF-8 text with a",
         "iconv -f UTF-8 -t UTF-16LE 'u8 mark.lng' > 'u8 mark.utf16.lng'"},
        {"import app.exe be.lng -o out.exe", "be.lng: the language file is UTF-16 big-endian",
         "iconv -f UTF-16BE -t UTF-16LE be.lng > be.utf16.lng"},
        // Not the draft's name but the file's, and its folder as the cause.
        {"export app.exe none/x.lng", "export failed: none/x.lng: no such folder (error 110)", ""},
        {"export folder", "export failed: folder: a folder, not a file (error 2)", ""},
        {"export none/app.exe", "export failed: none/app.exe: no such folder (error 2)", ""},
        {"import app.exe folder -o out.exe",
         "import failed: folder: a folder, not a file (error 110)", ""},
        {"export app.exe folder", "export failed: folder: a folder, not a file (error 110)", ""},
        // A harvest refuses the PO file it would replace as export does.
        {"export --source app.exe app.exe ro.po",
         "export failed: ro.po: the file is read-only (error 5)", ""},
        {"export --source app.exe app.exe folder.po",
         "export failed: folder.po: a folder, not a file (error 110)", ""},
    };
    for (const Case& c : cases) {
        CliRun r = Cli(c.args, dir);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err.rfind("quelvar-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        if (*c.convert == '\0' || std::system("command -v iconv >/dev/null") != 0)
            continue;
        EXPECT_NE(r.err.find(std::string(c.convert) + " (error 110)"), std::string::npos) << r.err;
        std::string converted =
            std::string(c.convert).substr(std::string(c.convert).find("> ") + 2);
        EXPECT_EQ(
            Sh(std::string(c.convert) + " && \"$Q\" import app.exe " + converted + " -o out.exe",
               dir)
                .status,
            0)
            << c.convert;
        EXPECT_EQ(test::ReadResources(test::ReadFileBytes(dir / "out.exe"))[0].language, u"1");
    }
}

// Descriptors 0 to 2 closed by the caller: warnings do not go into the language file, nor is
// the image read as standard input.
TEST(Cli, ClosedStandardDescriptors) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(5), test::Id(1), 1033, test::CaptionDialog(u"A")},
                          {test::Id(5), test::Id(1), 1031, test::CaptionDialog(u"B")}}));
    ASSERT_EQ(Cli("export app.exe expected.lng -q", dir).status, 0);
    EXPECT_EQ(Sh("\"$Q\" export app.exe out.lng 2>&-", dir).status, 0);
    EXPECT_EQ(test::ReadFileBytes(dir / "out.lng"), test::ReadFileBytes(dir / "expected.lng"));
    CliRun r = Sh("\"$Q\" import app.exe - -o out.exe <&-", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("standard input/output: the file is empty (error 110)"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
}

// A last line without a line break is not read, and import and check say so; a file whose
// lines end in CR alone is refused, by check too.
TEST(Cli, LineEndsThatReadNothing) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({u"a", u"b"})}}));
    test::WriteFileBytes(dir / "last.lng", test::LanguageFile(u"6.1.0=x\r\n6.1.1=y"));
    test::WriteFileBytes(dir / "cr.lng", test::LanguageFile(u"6.1.0=x\r6.1.1=y\r"));
    const std::string unended =
        "last.lng:2: the last line has no line break and is not read; end it with a line break\n";
    CliRun r = Cli("import app.exe last.lng -o out.exe -q", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "quelvar-cli: warning: " + unended);
    EXPECT_EQ(Sh("\"$Q\" check app.exe last.lng >out.txt", dir).status, 0);
    Bytes out = test::ReadFileBytes(dir / "out.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "last.lng:2: warning: the last line has no line break and is not read; end it with "
              "a line break\nlast.lng: 2 texts checked: 0 errors, 1 warnings\n");
    for (const char* args : {"import app.exe cr.lng -o out2.exe", "check app.exe cr.lng"}) {
        r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("cr.lng: the language file's lines end in CR alone"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out2.exe"));
}

// convert refuses to write over its input or the image through a link, as export and import
// do, and leaves them as they were.
TEST(Cli, ConvertDoesNotWriteOverItsInputs) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", SampleImage());
    Bytes lng = test::LanguageFile(u"LANG=1031\r\n");
    test::WriteFileBytes(dir / "t.lng", lng);
    ASSERT_EQ(Cli("convert t.lng t.po --image app.exe -q", dir).status, 0);
    Bytes po = test::ReadFileBytes(dir / "t.po");
    std::filesystem::create_symlink("t.lng", dir / "back.po");
    std::filesystem::create_symlink("t.po", dir / "back.lng");
    std::filesystem::create_symlink("app.exe", dir / "image.po");
    for (auto [args, cause] :
         {std::pair{"convert t.lng back.po --image app.exe",
                    "back.po: the output would overwrite "
                    "the language file being read"},
          std::pair{"convert t.po back.lng",
                    "back.lng: the output would overwrite the language "
                    "file being read"},
          std::pair{"convert t.lng image.po --image app.exe",
                    "image.po: the output would overwrite the image being read"}}) {
        CliRun r = Cli(args, dir);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find(std::string(cause) + " (error 32)"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::ReadFileBytes(dir / "t.lng"), lng);
    EXPECT_EQ(test::ReadFileBytes(dir / "t.po"), po);
    EXPECT_EQ(test::ReadFileBytes(dir / "app.exe"), SampleImage());
}

// check finds an accelerator used twice in one menu level, names file, line and keys, and
// fails; a pseudo-translation of the same program passes and imports.
// A damaged table and an accelerator value that names no key are said, naming the resource,
// the problem, the line and the value.
TEST(Cli, TablesThatDoNotReadAreSaid) {
    test::TempDir dir;
    const Bytes accels = {0x09, 0, 'O', 0, 100, 0, 0, 0, 0x81, 0, 0x2E, 0, 101, 0, 0, 0};
    // One block of one id whose entry has a Length of 6.
    const Bytes messages = {1,  0, 0, 0, 1, 0, 0, 0, 1,   0, 0, 0,
                            16, 0, 0, 0, 6, 0, 0, 0, 'x', 0, 0, 0};
    test::WriteFileBytes(dir / "a.exe",
                         test::BuildImage({{test::Id(9), test::Id(1), 1033, accels},
                                           {test::Id(11), test::Id(1), 1033, messages}}));
    CliRun r = Cli("export a.exe", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("quelvar-cli: warning: 11.1: message 0x00000001 has a length of 0 or not "
                         "a multiple of 4; the resource is kept as it is\n"),
              std::string::npos)
        << r.err;
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"9.1.101=Del\r\n9.1.100=Strg+O\r\n"));
    r = Cli("import a.exe de.lng -o b.exe", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("quelvar-cli: line 2: \"9.1.100=Strg+O\" names no key"), std::string::npos)
        << r.err;
}

TEST(Cli, CheckAndPseudo) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    test::TempDir dir;
    std::filesystem::copy_file(samples / "demo.exe", dir / "app.exe");
    test::WriteFileBytes(
        dir / "de.lng", test::LanguageFile(u"4.1.100=&\u00D6ffnen...\r\n4.1.101=&\u00D6ffnen\r\n"));
    EXPECT_EQ(Sh("\"$Q\" check app.exe de.lng > out.txt", dir).status, 1);
    Bytes out = test::ReadFileBytes(dir / "out.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "de.lng:2: error: 4.1.101: accelerator &\u00D6 is also used by 4.1.100 "
              "(\"&\u00D6ffnen...\")\n"
              "de.lng: 10 texts checked: 1 errors, 0 warnings\n");
    EXPECT_EQ(Cli("check app.exe de.lng --format xml", dir).status, 2);
    // Import says the errors as check names them and goes on; --strict refuses and writes
    // nothing.
    CliRun imported = Cli("import app.exe de.lng -o de.exe -q", dir);
    EXPECT_EQ(imported.status, 0);
    EXPECT_EQ(imported.err,
              "quelvar-cli: de.lng:2: error: 4.1.101: accelerator &\u00D6 is also "
              "used by 4.1.100 (\"&\u00D6ffnen...\")\n");
    EXPECT_EQ(Cli("import app.exe de.lng -o strict.exe --strict -q", dir).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "strict.exe"));
    // A PO file is checked as well, against its source language.
    ASSERT_EQ(Cli("export app.exe app.pot -q", dir).status, 0);
    EXPECT_EQ(Cli("check app.exe app.pot", dir).status, 0);

    ASSERT_EQ(Cli("pseudo app.exe ps.lng --expand 40", dir).status, 0);
    EXPECT_EQ(Cli("pseudo app.exe ps.po -q", dir).status, 0);
    EXPECT_EQ(Cli("check app.exe ps.lng", dir).status, 0);
    ASSERT_EQ(Cli("import app.exe ps.lng -o ps.exe", dir).status, 0);
    auto resources = test::ReadResources(test::ReadFileBytes(dir / "ps.exe"));
    ASSERT_FALSE(resources.empty());
    for (const auto& r : resources)
        EXPECT_EQ(r.language, u"1281");  // 0x0501, the pseudo-locale
}

// check compares each menu item's shortcut with its command's accelerators as the
// translation will be imported: the side the translation changed is an error at its line,
// the image's own disagreement a warning; import --strict refuses, a matching change passes.
TEST(Cli, ShortcutsAgainstAcceleratorTables) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    test::TempDir dir;
    std::filesystem::copy_file(samples / "shortcuts64.exe", dir / "app.exe");
    std::u16string lng =
        u"4.1.100=&\u00D6ffnen...\tStrg+O\r\n4.1.101=&Speichern\tStrg+D\r\n"
        u"4.1.103=&L\u00F6schen\tEntf\r\n9.1.103=Ins\r\n4.1.105=&Fett\tStrg+B\r\n"
        u"4.1.106=&Zoom\tStrg+Mausrad\r\n4.1.107=&Aktualisieren\tStrg+R\r\n";
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(lng));
    EXPECT_EQ(Sh("\"$Q\" check app.exe de.lng > out.txt", dir).status, 1);
    Bytes out = test::ReadFileBytes(dir / "out.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()),
              "de.lng:2: warning: 4.1.101: the shortcut \"Ctrl+S\" became \"Strg+D\"\n"
              "de.lng:6: warning: 4.1.106: the shortcut \"Ctrl+Wheel\" became \"Strg+Mausrad\"\n"
              "de.lng:2: error: 4.1.101: \"Strg+D\" names another key than 9.1.101 (\"Ctrl+S\")\n"
              "de.lng:4: error: 9.1.103: \"Ins\" names another key than 4.1.103 (\"Entf\")\n"
              "de.lng:7: warning: 4.1.107: the image's own shortcut \"Ctrl+R\" names another "
              "key than 9.1.107 (\"Ctrl+Shift+R\")\n"
              "de.lng: 18 texts checked: 2 errors, 3 warnings\n");
    EXPECT_EQ(Cli("import app.exe de.lng -o strict.exe --strict -q", dir).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "strict.exe"));
    // The keys changed with the menu: the image's own warning stays, the import passes.
    lng.replace(lng.find(u"Entf"), 4, u"Einfg");
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(lng + u"9.1.101=Ctrl+D\r\n"));
    CliRun r = Cli("import app.exe de.lng -o de.exe --strict -q", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Cli("export de.exe de2.lng -q", dir).status, 0);
    std::u16string exported = test::LanguageText(test::ReadFileBytes(dir / "de2.lng"));
    EXPECT_NE(exported.find(u"9.1.101=Ctrl+D\r\n9.1.102=F3"), std::u16string::npos);
}

// check warns of each translated PO entry whose msgid is no longer the image's text, at the
// entry's line; msgids equal to the text through escapes and continued lines are no finding,
// nor is an untranslated entry.
TEST(Cli, CheckSaysChangedSourceTexts) {
    test::TempDir dir;
    test::WriteFileBytes(
        dir / "app.exe",
        test::BuildImage(
            {{test::Id(6), test::Id(1), 1033,
              test::StringBlock({u"Open", u"Two\nlines \"q\" \\", u"Save", u"Two\nlines"})}}));
    struct Case {
        const char* key;
        const char* msgid;  // as the PO file holds it
        const char* msgstr;
        const char* warning;  // "" for none
    } cases[] = {
        {"6.1.0", R"("Opem")", R"("Offen")", R"("Opem" is now "Open")"},
        {"6.1.1", R"(""
"Two\n"
"lines \"q\" \\")",
         R"("Zwei\nZeilen")", ""},
        {"6.1.2", R"("Sav")", R"("")", ""},  // untranslated: nothing is applied
        {"6.1.3", R"("Two\n"
"lines!")",
         R"("Zwei\nZeilen")", R"("Two\nlines!" is now "Two\nlines")"},
    };
    std::string po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    std::string expected;
    size_t warnings = 0;
    for (const Case& c : cases) {
        po += "\n";
        size_t line = static_cast<size_t>(std::count(po.begin(), po.end(), '\n')) + 1;
        po += std::string("msgctxt \"") + c.key + "\"\nmsgid " + c.msgid + "\nmsgstr " + c.msgstr +
              "\n";
        if (*c.warning != '\0') {
            ++warnings;
            expected += "de.po:" + std::to_string(line) + ": warning: " + c.key +
                        ": the source text changed (" + c.warning + "); run msgmerge\n";
        }
    }
    test::WriteFileBytes(dir / "de.po", Bytes(po.begin(), po.end()));
    EXPECT_EQ(Sh("\"$Q\" check app.exe de.po > out.txt", dir).status, 0);
    Bytes out = test::ReadFileBytes(dir / "out.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()), expected + "de.po: 4 texts checked: 0 errors, " +
                                                       std::to_string(warnings) + " warnings\n");
    ASSERT_EQ(Sh("\"$Q\" check app.exe de.po --format json > out.json", dir).status, 0);
    out = test::ReadFileBytes(dir / "out.json");
    EXPECT_NE(std::string(out.begin(), out.end())
                  .find("{\"line\": 4, \"severity\": \"warning\", \"check\": \"source-changed\", "
                        "\"key\": \"6.1.0\""),
              std::string::npos);
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
    r = Cli("import app.exe de.lng -o out.exe --language 1033 -q", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: 5.1: the translation of language 1033 replaces the resource of "
              "language 1031\n");

    r = Cli("export app.exe -q", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "quelvar-cli: warning: the image's 2 languages share their keys: 1031 (de_DE): 2 "
              "texts, 1033 (en_US): 1 text; an import translates one language (export one with "
              "--language ID)\n");
    EXPECT_EQ(Cli("export app.exe --language 1031 -q", dir).err, "");
}

// Which language an import translates: a refusal lists the image's languages, a translation
// of another program is called one, and a batch says per image what it did.
TEST(Cli, ImportSaysWhichLanguage) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "tree");
    std::filesystem::create_directories(dir / "lng");
    test::WriteFileBytes(
        dir / "tree/app.exe",
        test::BuildImage({{test::Id(5), test::Id(1), 1033, test::CaptionDialog(u"A")},
                          {test::Id(5), test::Id(1), 1031, test::CaptionDialog(u"B")},
                          {test::Id(5), test::Id(2), 1031, test::CaptionDialog(u"C")}}));
    test::WriteFileBytes(dir / "lng/app.exe.lng",
                         test::LanguageFile(u"LANG=1036\r\n5.1.HEAD=Neu\r\n"));
    test::WriteFileBytes(dir / "other.lng", test::LanguageFile(u"5.7.HEAD=x\r\n"));
    struct Case {
        const char* args;
        int status;
        const char* said;
    };
    const Case cases[] = {
        {"import tree/app.exe lng/app.exe.lng -o out.exe", 1,
         "quelvar-cli: the image has texts in 2 languages: 1031 (de_DE): 2 texts, 1033 (en_US): "
         "1 text; a translation translates one (--language ID)\n"
         "quelvar-cli: import failed: tree/app.exe: the image has several languages; choose the "
         "one to translate from with --language ID (error 87)\n"},
        {"import tree/app.exe other.lng --language 1033 -o out.exe", 1,
         "quelvar-cli: none of the 1 texts of other.lng is in app.exe: is it the translation of "
         "another program?\n"},
        {"import --batch --from lng tree -o out --language 1033", 0,
         "imported lng/app.exe.lng into out/app.exe: 1 text of language 1033 (en_US) "
         "translated, now language 1036 (fr_FR)\n"},
    };
    for (const Case& c : cases) {
        CliRun r = Cli(c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
}

// The pseudo-translation of every sample image, as a language file and as a PO file (which
// msgfmt accepts), passes check without errors and imports under the pseudo-locale.
TEST(Cli, PseudoTranslationsOfEverySampleCheckAndImport) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    test::TempDir dir;
    size_t images = 0;
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() != ".exe")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++images;
        std::filesystem::copy_file(entry.path(), dir / "app.exe",
                                   std::filesystem::copy_options::overwrite_existing);
        for (std::string file : {"qps.lng", "qps.po"}) {
            ASSERT_EQ(Cli("pseudo app.exe " + file + " -q", dir).status, 0);
            EXPECT_EQ(Cli("check app.exe " + file, dir).status, 0) << file;
            ASSERT_EQ(Cli("import app.exe " + file + " -o qps.exe -q --strict", dir).status, 0);
            bool pseudoLocale = false;
            for (const auto& r : test::ReadResources(test::ReadFileBytes(dir / "qps.exe")))
                pseudoLocale |= r.language == u"1281";  // 0x0501
            EXPECT_TRUE(pseudoLocale) << file;
        }
        if (std::system("command -v msgfmt >/dev/null") == 0) {
            CliRun checked = Sh("msgfmt --check -o /dev/null qps.po", dir);
            EXPECT_EQ(checked.status, 0) << checked.err;
            EXPECT_EQ(checked.err, "");  // a translation's header: no template placeholders
        }
    }
    EXPECT_GT(images, 5u);
}

// Every file below a folder, by its path relative to it.
std::map<std::string, Bytes> FilesBelow(const std::filesystem::path& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files[e.path().lexically_relative(folder).string()] = test::ReadFileBytes(e.path());
    return files;
}

// A product tree: images in nested folders, two that differ only by extension, one without
// resources, a truncated one, a text file, a stale update copy, and links to a file and back up
// the tree.
void MakeProduct(const test::TempDir& dir) {
    auto strings = [](std::u16string text) {
        return test::BuildImage({{test::Id(6), test::Id(1), 1033, test::StringBlock({text})}});
    };
    std::filesystem::create_directories(dir / "tree/sub/deep");
    std::filesystem::create_directories(dir / "lone");
    test::WriteFileBytes(dir / "tree/app.exe", strings(u"exe"));
    test::WriteFileBytes(dir / "tree/app.dll", strings(u"dll"));
    test::WriteFileBytes(dir / "tree/sub/deep/tool.exe", strings(u"tool"));
    test::WriteFileBytes(dir / "lone/single.exe", strings(u"single"));
    Bytes bare = strings(u"");
    test::Put32(bare, test::kNtOffset + 24 + 96 + 16, 0);  // no resource directory
    test::WriteFileBytes(dir / "tree/sub/none.dll", bare);
    Bytes cut = strings(u"cut");
    cut.resize(300);
    test::WriteFileBytes(dir / "tree/sub/cut.exe", cut);
    test::WriteFileBytes(dir / "tree/readme.txt", {'h', 'i'});
    std::filesystem::create_directory_symlink("..", dir / "tree/sub/up");
    std::filesystem::create_symlink("app.exe", dir / "tree/link.exe");
    test::WriteFileBytes(dir / "tree/app.exe.QN", strings(u"draft"));
}

// export --batch names each file by the image's path below its folder with the extension
// appended; a failing image stops no other and leaves no file; -j changes nothing written.
TEST(Cli, BatchExportOfAFolderTree) {
    test::TempDir dir;
    MakeProduct(dir);
    const std::string cut =
        "quelvar-cli: export failed: tree/sub/cut.exe: not a valid program image (error 11)\n";
    CliRun r = Cli("export --batch --out lng1 tree lone/single.exe -j 1", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("exported tree/app.dll to lng1/app.dll.lng\n"), std::string::npos);
    EXPECT_NE(r.err.find("skipped tree/sub/none.dll: the image has no resources\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("quelvar-cli: export --batch: 6 images, 4 done, 1 skipped (no "
                         "resources), 1 failed; 1 other files are no program images\n" +
                         cut),
              std::string::npos)
        << r.err;
    std::map<std::string, Bytes> files = FilesBelow(dir / "lng1");
    std::set<std::string> names;
    for (const auto& [name, bytes] : files)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"app.dll.lng", "app.exe.lng", "single.exe.lng",
                                            "sub/deep/tool.exe.lng"}));
    EXPECT_NE(files["app.exe.lng"], files["app.dll.lng"]);

    r = Cli("export --batch --out lng3 tree lone/single.exe -j 3 -q", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, cut);  // -q: the failures alone
    EXPECT_EQ(FilesBelow(dir / "lng3"), files);
    ASSERT_EQ(Cli("export --batch --out po tree/sub --format po -q", dir).status, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "po/deep/tool.exe.po"));
}

// Wrong uses of --batch, and two images whose files would share a name, are refused with 2.
TEST(Cli, BatchUsage) {
    test::TempDir dir;
    MakeProduct(dir);
    std::filesystem::create_directories(dir / "other");
    std::filesystem::copy_file(dir / "tree/app.exe", dir / "other/app.exe");
    for (const char* args :
         {"export --batch tree", "export --out d tree", "export --batch --out d",
          "export --batch --out d -j 0 tree", "export --batch --out d -j x tree",
          "import --batch --out d tree", "import --batch --from d --strict tree",
          "check --batch tree/app.exe a.lng", "export --batch --out d tree/app.exe other/app.exe",
          "export --batch --out d tree other"}) {
        CliRun r = Cli(args, dir);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(std::filesystem::exists(dir / "d")) << args;
    }
    // One image reached twice, as a folder's file and by itself, is one job.
    CliRun r = Cli("export --batch --out d tree/app.exe tree/../tree/app.exe", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(": 1 images, 1 done"), std::string::npos) << r.err;
}

// What --batch meets besides images: a folder that cannot be listed fails (named alone too), a
// device or pipe is skipped and counted without being opened, a folder without images gets
// no output folder, and a name with a line break is quoted. A folder option that names a file
// is refused before any work.
TEST(Cli, BatchOddFiles) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "tree/locked");
    std::filesystem::create_directories(dir / "tree/docs");
    test::WriteFileBytes(dir / "tree/app.exe", SampleImage());
    test::WriteFileBytes(dir / "tree/docs/readme.txt", {'h', 'i'});
    test::WriteFileBytes(dir / "tree/line\nbreak.exe", {'M', 'Z'});
    test::WriteFileBytes(dir / "tree/locked/hidden.exe", SampleImage());
    ASSERT_EQ(mkfifo((dir / "tree/pipe").c_str(), 0666), 0);
    std::filesystem::permissions(dir.path, std::filesystem::perms::all);
    std::filesystem::permissions(dir / "tree/locked", std::filesystem::perms::none);
    // Root lists any folder: the commands run as nobody then.
    std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    CliRun r = Sh("timeout 20 " + as + "\"$Q\" export --batch --out d tree /dev/null -j 1", dir);
    EXPECT_EQ(r.status, 1);
    for (const char* said :
         {"skipped tree/pipe: a device, pipe or socket, not a file\n",
          "skipped /dev/null: a device, pipe or socket, not a file\n",
          "export --batch: 2 images, 1 done, 0 skipped (no resources), 1 failed; 1 other files "
          "are no program images; 2 devices or pipes skipped; 1 folders cannot be listed\n",
          "quelvar-cli: listing a folder failed: tree/locked: access is denied (error 5)\n",
          "quelvar-cli: export failed: \"tree/line\\nbreak.exe\": not a valid program image"})
        EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "d/app.exe.lng"));
    EXPECT_FALSE(std::filesystem::exists(dir / "d/docs"));
    r = Sh(as + "\"$Q\" export --batch --out d2 tree/locked", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": 0 images, 0 done, 0 skipped (no resources), 0 failed; 1 folders "
                         "cannot be listed\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "d2"));

    for (const char* args : {"export --batch --out tree/app.exe tree/docs",
                             "import --batch --from tree/app.exe tree/docs",
                             "import --batch --from d -o tree/app.exe tree/docs"}) {
        EXPECT_EQ(Cli(args, dir).status, 2) << args;
        EXPECT_EQ(test::ReadFileBytes(dir / "tree/app.exe"), SampleImage()) << args;
    }
    std::filesystem::permissions(dir / "tree/locked", std::filesystem::perms::owner_all);
}

// On a terminal the progress line is rewritten in place and wiped before the summary.
TEST(Cli, BatchProgressOnATerminal) {
    if (std::system("command -v script >/dev/null") != 0)
        GTEST_SKIP() << "no script(1) to give quelvar-cli a terminal";
    test::TempDir dir;
    MakeProduct(dir);
    ASSERT_EQ(Sh("Q=\"$Q\" script -qec '\"$Q\" export --batch --out lng tree -j 1' /dev/null "
                 "</dev/null >tty.txt",
                 dir)
                  .status,
              1);
    Bytes tty = test::ReadFileBytes(dir / "tty.txt");
    std::string screen(tty.begin(), tty.end());
    EXPECT_NE(screen.find("\r[0/6] tree/app.dll"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("exported "), std::string::npos) << screen;  // no line an image
    EXPECT_NE(screen.find(" \rquelvar-cli: export --batch: 5 images"), std::string::npos) << screen;
}

// import --batch reads each image's file by the same names: into an output folder, or in
// place; images without a file are skipped.
TEST(Cli, BatchImportRoundTrip) {
    test::TempDir dir;
    MakeProduct(dir);
    ASSERT_EQ(Cli("export --batch --out lng tree -q", dir).status, 1);
    test::WriteFileBytes(dir / "lng/sub/deep/tool.exe.lng", test::LanguageFile(u"6.1.0=Neu\r\n"));
    ASSERT_EQ(Cli("import tree/app.exe lng/app.exe.lng -o app.exe", dir).status, 0);
    CliRun r = Cli("import --batch --from lng tree -o out -j 2", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("skipped tree/sub/cut.exe: no file lng/sub/cut.exe.lng\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("5 images, 3 done, 0 skipped (no resources), 2 skipped (no lng "
                         "file), 0 failed; 1 other files are no program images\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::ReadFileBytes(dir / "out/app.exe"), test::ReadFileBytes(dir / "app.exe"));
    ASSERT_EQ(Cli("export out/sub/deep/tool.exe tool.lng", dir).status, 0);
    EXPECT_EQ(test::LanguageText(test::ReadFileBytes(dir / "tool.lng")), u"6.1.0=Neu\r\n");

    ASSERT_EQ(Cli("import --batch --from lng tree -q", dir).status, 0);
    EXPECT_EQ(test::ReadFileBytes(dir / "tree/sub/deep/tool.exe"),
              test::ReadFileBytes(dir / "out/sub/deep/tool.exe"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tree/sub/deep/tool.exe.QN"));
}

}  // namespace
}  // namespace quelvar
