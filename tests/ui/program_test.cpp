// The parts of the dialog program that need no window: the command line, the update copy's
// name and its move, the derived language path and the failure message.
#include <gtest/gtest.h>

#include <chrono>

#include "driver/driver.h"
#include "tests/pe_builder.h"
#include "ui/program.h"

namespace quelvar::ui {
namespace {

std::wstring Normalised(std::wstring commandLine) {
    return NormaliseCommandLine(commandLine.data());
}

TEST(Program, CommandLine) {
    EXPECT_EQ(Normalised(L"\"C:\\a b\\c.exe\""), L"C:\\a b\\c.exe");
    EXPECT_EQ(Normalised(L"\"C:\\c.exe"), L"C:\\c.exe");
    EXPECT_EQ(Normalised(L"C:\\c.exe\""), L"C:\\c.exe\"");
    EXPECT_EQ(Normalised(L"\""), L"");
    EXPECT_EQ(Normalised(L"\"\""), L"");
    EXPECT_EQ(Normalised(L""), L"");
    // Blanks are kept and nothing is split.
    EXPECT_EQ(Normalised(L" a \"b\" "), L" a \"b\" ");
    EXPECT_EQ(Normalised(L"\"a\" \"b\""), L"a\" \"b");
}

TEST(Program, UpdateCopyName) {
    EXPECT_TRUE(IsUpdateCopyPath(L"C:\\x.exe.QN"));
    EXPECT_TRUE(IsUpdateCopyPath(L"C:\\x.exe.qn"));
    EXPECT_TRUE(IsUpdateCopyPath(L".QN"));
    EXPECT_FALSE(IsUpdateCopyPath(L"QN"));
    EXPECT_FALSE(IsUpdateCopyPath(L"C:\\x.exe"));
    EXPECT_FALSE(IsUpdateCopyPath(L"C:\\x.QNX"));
    EXPECT_FALSE(IsUpdateCopyPath(L""));
}

TEST(Program, DerivedLanguagePath) {
    auto derive = [](const wchar_t* image) { return DefaultLanguagePath(image).wstring(); };
    EXPECT_EQ(derive(L"C:\\a\\b.exe"), L"C:\\a\\b.lng");
    EXPECT_EQ(derive(L"C:\\a\\b"), L"C:\\a\\b.lng");
    // A dot in a folder's name is no extension of the file's.
    EXPECT_EQ(derive(L"C:\\a.d\\b"), L"C:\\a.d\\b.lng");
    EXPECT_EQ(derive(L"C:/a.d/b.exe"), L"C:/a.d/b.lng");
    EXPECT_EQ(derive(L"."), L".lng");
    EXPECT_EQ(derive(L""), L"");
}

TEST(Program, FailureMessage) {
    wchar_t system[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_FILE_NOT_FOUND, 0, system, 256, nullptr);
    EXPECT_EQ(FailureMessage(L"failed\n\n", ERROR_FILE_NOT_FOUND),
              std::wstring(L"failed\n\n") + system);
    // No code, or a code the system has no text for: the start alone, still a failure text.
    EXPECT_EQ(FailureMessage(L"failed\n\n", 0), L"failed\n\n");
    EXPECT_EQ(FailureMessage(L"failed\n\n", 0x2FFFFFFF), L"failed\n\n");
    // The whole message stays within one path buffer.
    std::wstring longStart(300, L'x');
    EXPECT_EQ(FailureMessage(longStart, ERROR_FILE_NOT_FOUND).size(), kPathUnits - 1);
}

TEST(Program, ReplaceWithRetries) {
    test::TempDir dir;
    std::wstring source = (dir.path / "new.exe.QN").wstring();
    std::wstring target = (dir.path / "new.exe").wstring();
    test::WriteFileBytes(source, {1, 2, 3});
    test::WriteFileBytes(target, {9});
    EXPECT_TRUE(ReplaceWithRetries(source, target, 1000, 20));
    EXPECT_EQ(test::ReadFileBytes(target), (test::Bytes{1, 2, 3}));

    // A target held open without delete sharing cannot be replaced: every attempt fails, each
    // is followed by its pause, and the target stays whole.
    test::WriteFileBytes(source, {4, 5});
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReplaceWithRetries(source, target, 5, 20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    CloseHandle(held);
    EXPECT_EQ(test::ReadFileBytes(target), (test::Bytes{1, 2, 3}));
    EXPECT_EQ(test::ReadFileBytes(source), (test::Bytes{4, 5}));

    // A source that is gone (another process moved it) ends the tries at once.
    std::filesystem::remove(source);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReplaceWithRetries(source, target, 1000, 20));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Program, DefaultLanguage) {
    struct Case {
        std::vector<LanguageTexts> languages;
        uint32_t user;
        size_t chosen;
    } cases[] = {
        {{{1031, 5}, {1033, 5}, {1036, 9}}, 1036, 2},  // the user's
        {{{1031, 5}, {1033, 5}, {1036, 9}}, 1041, 1},  // else English
        {{{1031, 5}, {1036, 9}, {1040, 9}}, 1041, 1},  // else most texts, the first of equals
        {{{0, 3}, {2052, 1}}, 2057, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DefaultLanguageIndex(c.languages, c.user), c.chosen) << c.user;
    EXPECT_NE(LanguageDisplayName(1033).find(L"1033"), std::wstring::npos);
    EXPECT_EQ(LanguageDisplayName(0), L"0");
}

TEST(Program, Substituted) {
    EXPECT_EQ(Substituted(L"%1 of %2", {L"a", L"b"}), L"a of b");
    EXPECT_EQ(Substituted(L"%2%1", {L"%2", L"x"}), L"x%2");  // values are not read again
    EXPECT_EQ(Substituted(L"100% %3 %", {L"a"}), L"100% %3 %");
}

TEST(Program, TemplateIsRightToLeft) {
    using test::Bytes;
    Bytes classic(18, 0), extended(26, 0);
    extended[0] = 1;
    extended[2] = extended[3] = 0xFF;
    EXPECT_FALSE(TemplateIsRightToLeft(classic));
    EXPECT_FALSE(TemplateIsRightToLeft(extended));
    classic[6] = 0x40;    // WS_EX_LAYOUTRTL, 0x00400000, at 4
    extended[10] = 0x40;  // at 8
    EXPECT_TRUE(TemplateIsRightToLeft(classic));
    EXPECT_TRUE(TemplateIsRightToLeft(extended));
    EXPECT_FALSE(TemplateIsRightToLeft(Bytes(classic.begin(), classic.begin() + 7)));
}

}  // namespace
}  // namespace quelvar::ui
