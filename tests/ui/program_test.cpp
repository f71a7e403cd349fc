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

}  // namespace
}  // namespace quelvar::ui
