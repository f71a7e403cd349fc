// Drives the real quelvar.exe: starts it, finds its dialog and works it through window
// messages as a user would, reading back fields, button states and message boxes. Runs under
// Wine inside a virtual X server. Every wait is for a window, a process or a file, with a
// deadline; nothing sleeps blindly.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(30);
constexpr int kImagePath = 300, kLanguagePath = 301, kImageBrowse = 303, kLogo = 304,
              kLanguageBrowse = 305, kImport = 310, kExport = 312, kIcon = 321, kDescription = 322,
              kImageLabel = 323, kLanguageLabel = 324;

const wchar_t kSuccess[] = L"操作成功完成。";
const wchar_t kFailure[] = L"操作失败。\n\n";
const wchar_t kSelfTarget[] =
    L"当前目标文件就是本程序的可执行文件。\n\nQuelvar 将自动退出当前程序，以便使新的程序文件生效。";

// A build path of the Linux side as Wine sees it.
std::filesystem::path FromBuild(const char* unixPath) {
    std::string path = unixPath;
    return std::filesystem::path(path[0] == '/' ? "Z:" + path : path).make_preferred();
}

// Waits until `done` holds; false at the deadline.
bool WaitFor(const std::function<bool()>& done) {
    for (auto end = Clock::now() + kDeadline; Clock::now() < end;) {
        if (done())
            return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// A window's text, asked of the window itself (it belongs to another process).
std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    return text;
}

// A dialog-class window of `process` with the given owner (none for the main dialog).
HWND FindDialogOf(DWORD process, HWND owner) {
    struct Search {
        DWORD process;
        HWND owner;
        HWND found;
    } search{process, owner, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == s->process && IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
                GetWindow(window, GW_OWNER) == s->owner) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The message of a message box: the longest text among its static controls.
std::wstring MessageOf(HWND box) {
    std::wstring longest;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0)
            continue;
        std::wstring text = TextOf(child);
        if (text.size() > longest.size())
            longest = text;
    }
    return longest;
}

std::wstring Lines(std::wstring text) {
    // Message boxes may show a line feed as CR LF.
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;)
        text.erase(at, 1);
    return text;
}

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// The system's text for an error code, as the dialog composes it.
std::wstring SystemText(DWORD code) {
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, 512, nullptr);
    return text;
}

// The lines of a UTF-16 language file, without the byte-order mark and the CR LF.
std::vector<std::wstring> LanguageLines(const std::filesystem::path& path) {
    Bytes bytes = test::ReadFileBytes(path);
    std::vector<std::wstring> lines;
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
        return lines;
    std::wstring line;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        wchar_t unit = static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
        if (unit == L'\n') {
            if (!line.empty() && line.back() == L'\r')
                line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += unit;
        }
    }
    return lines;
}

void WriteLanguageFile(const std::filesystem::path& path, const std::wstring& lines) {
    Bytes bytes{0xFF, 0xFE};
    for (wchar_t unit : lines) {
        bytes.push_back(static_cast<uint8_t>(unit));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    test::WriteFileBytes(path, bytes);
}

// One run of quelvar.exe with its dialog; ended when the test is done with it.
struct Program {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;

    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (process.hProcess == nullptr)
            return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    std::wstring Field(int id) const { return TextOf(Item(id)); }
    void Type(int id, const std::wstring& text) const {
        SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool CommandsEnabled() const {
        bool exportOn = Enabled(kExport), importOn = Enabled(kImport);
        EXPECT_EQ(exportOn, importOn) << "Export and Import go together";
        return exportOn && importOn;
    }
    // A click that the dialog answers with a message box: posted, so that it does not wait.
    void Click(int id) const {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(id)));
    }
    // The message box that the dialog shows next, with its text; closed by Dismiss.
    HWND WaitForBox() const {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindDialogOf(process.dwProcessId, dialog)) != nullptr; });
        return box;
    }
    // Waits for the next message box, reads its message and closes it.
    std::wstring Answer() const {
        HWND box = WaitForBox();
        if (box == nullptr)
            return L"(no message box)";
        EXPECT_EQ(TextOf(box), L"Quelvar");
        std::wstring message = Lines(MessageOf(box));
        Dismiss(box);
        return message;
    }
    void Dismiss(HWND box) const {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); });
    }
    DWORD WaitForExit() const {
        DWORD code = 0xDEAD;
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
    // The rectangle of a control in the dialog's client coordinates.
    RECT Place(int id) const {
        RECT r{};
        GetWindowRect(Item(id), &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

// Starts `exe` with `arguments` after its quoted name, and waits for its dialog when
// `withDialog`.
void Start(Program& program, const std::filesystem::path& exe, const std::wstring& arguments,
           bool withDialog = true) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &program.process))
        << GetLastError();
    if (!withDialog)
        return;
    WaitForInputIdle(program.process.hProcess, 30000);
    ASSERT_TRUE(WaitFor([&] {
        return (program.dialog = FindDialogOf(program.process.dwProcessId, nullptr)) != nullptr;
    })) << "no dialog";
}

// A copy of quelvar.exe in a directory of the test's own.
struct Fixture : ::testing::Test {
    test::TempDir dir;
    std::filesystem::path exe = dir.path / "quelvar.exe";
    void SetUp() override { std::filesystem::copy_file(FromBuild(QUELVAR_PROGRAM), exe); }
    std::filesystem::path Sample(const char* name) {
        std::filesystem::path copy = dir.path / name;
        std::filesystem::copy_file(FromBuild(QUELVAR_SAMPLE_DIR) / name, copy);
        return copy;
    }
};

// Saves the picture of the dialog, with its frame, as a 24-bit BMP.
void Screenshot(const Program& program, const std::filesystem::path& path) {
    // A size that shows the layout at work, then a full repaint before the capture.
    SetWindowPos(program.dialog, HWND_TOP, 20, 20, 480, 250, SWP_SHOWWINDOW);
    SetForegroundWindow(program.dialog);
    RedrawWindow(program.dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    RECT r{};
    GetWindowRect(program.dialog, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    const uint32_t offset = 14 + sizeof(BITMAPINFOHEADER);
    const uint32_t size = offset + static_cast<uint32_t>(stride * h);
    Bytes file(size);
    file[0] = 'B';
    file[1] = 'M';
    memcpy(&file[2], &size, 4);
    memcpy(&file[10], &offset, 4);
    memcpy(&file[14], &info.bmiHeader, sizeof(BITMAPINFOHEADER));
    memcpy(&file[offset], bits, stride * h);
    test::WriteFileBytes(path, file);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

using DialogTest = Fixture;

// Pictures of the dialog for the documentation, taken only when asked for: with
// QUELVAR_SCREENSHOT set to a .bmp path (a Linux path), the program QUELVAR_SCREENSHOT_PROGRAM
// (by default the one built here) is captured there with a sample path in its fields.
TEST(Screenshot, Dialog) {
    const char* path = std::getenv("QUELVAR_SCREENSHOT");
    const char* exe = std::getenv("QUELVAR_SCREENSHOT_PROGRAM");
    if (path == nullptr || *path == '\0')
        GTEST_SKIP() << "no QUELVAR_SCREENSHOT";
    Program program;
    Start(program, FromBuild(exe != nullptr && *exe != '\0' ? exe : QUELVAR_PROGRAM),
          L"\"C:\\Program Files\\Notes\\notes.exe\"");
    ASSERT_NE(program.dialog, nullptr);
    SendMessageW(program.Item(kImagePath), EM_SETSEL, static_cast<WPARAM>(-1), 0);
    SetFocus(nullptr);
    Screenshot(program, FromBuild(path));
}

TEST_F(DialogTest, CommandLineGivesTheImagePath) {
    struct Case {
        std::wstring arguments, imagePath;
    } cases[] = {
        {L"\"C:\\some dir\\a.exe\"", L"C:\\some dir\\a.exe"},  // quoted: the quotes go
        {L"\"C:\\b.exe", L"C:\\b.exe"},                        // leading quote alone
        {L"C:\\c.exe\"", L"C:\\c.exe\""},                      // trailing quote alone: kept
        {L"\"", L""},
        {L"\"\"", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        Program program;
        Start(program, exe, c.arguments);
        ASSERT_NE(program.dialog, nullptr);
        EXPECT_EQ(program.Field(kImagePath), c.imagePath);
        EXPECT_EQ(program.CommandsEnabled(), !c.imagePath.empty());
        EXPECT_FALSE(program.Enabled(kLogo));
        // The Exit button, or closing the window, which plays the device's Done (IDOK).
        if (c.imagePath.empty())
            PostMessageW(program.dialog, WM_CLOSE, 0, 0);
        else
            PostMessageW(program.dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(program.WaitForExit(), 0u);
    }
}

TEST_F(DialogTest, LanguagePathAndButtonsFollowTheFields) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    EXPECT_EQ(program.Field(kLanguagePath), L"");
    EXPECT_FALSE(program.CommandsEnabled());

    struct Case {
        std::wstring image, language;
    } cases[] = {
        {L"C:\\apps\\notes.exe", L"C:\\apps\\notes.lng"},
        {L"C:\\apps\\lib.dll", L"C:\\apps\\lib.lng"},
        {L"C:\\apps\\tool", L"C:\\apps\\tool.lng"},
        {L"C:\\my.apps\\tool", L"C:\\my.apps\\tool.lng"},  // a '.' in a folder's name is kept
        {L"a.b.c", L"a.b.lng"},
    };
    for (const Case& c : cases) {
        program.Type(kLanguagePath, L"typed before.lng");
        program.Type(kImagePath, c.image);
        EXPECT_EQ(program.Field(kLanguagePath), c.language) << Narrow(c.image);
        EXPECT_TRUE(program.CommandsEnabled());
    }

    program.Type(kLanguagePath, L"");
    EXPECT_FALSE(program.CommandsEnabled());
    program.Type(kLanguagePath, L"x");
    EXPECT_TRUE(program.CommandsEnabled());
    program.Type(kImagePath, L"");
    EXPECT_EQ(program.Field(kLanguagePath), L"");
    EXPECT_FALSE(program.CommandsEnabled());
    program.Type(kLanguagePath, L"only a language path.lng");
    EXPECT_FALSE(program.CommandsEnabled());
}

TEST_F(DialogTest, ExportReportsSuccessAndWritesTheLanguageFile) {
    std::filesystem::path image = Sample("dialogs64.exe");
    Bytes before = test::ReadFileBytes(image);
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    program.Click(kExport);
    EXPECT_EQ(program.Answer(), kSuccess);
    std::vector<std::wstring> lines = LanguageLines(dir.path / "dialogs64.lng");
    EXPECT_FALSE(lines.empty());
    for (const std::wstring& line : lines)
        EXPECT_NE(line.find(L'='), std::wstring::npos) << Narrow(line);
    EXPECT_EQ(test::ReadFileBytes(image), before);
    // The dialog stays open with its fields as they were.
    EXPECT_EQ(program.Field(kImagePath), image.wstring());
}

TEST_F(DialogTest, FailuresCarryTheSystemsText) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);

    program.Type(kImagePath, (dir.path / "missing.exe").wstring());
    program.Click(kExport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + SystemText(ERROR_FILE_NOT_FOUND)));

    // Not an image: the import fails and leaves the file as it was, with no update copy.
    std::filesystem::path notImage = dir.path / "text.exe";
    test::WriteFileBytes(notImage, Bytes(4096, 'x'));
    WriteLanguageFile(dir.path / "text.lng", L"5.1.HEAD=x\r\n");
    program.Type(kImagePath, notImage.wstring());
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + SystemText(ERROR_BAD_FORMAT)));
    EXPECT_EQ(test::ReadFileBytes(notImage), Bytes(4096, 'x'));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "text.exe.QN"));

    // Paths that would no longer fit 260 units once derived are refused, not cut.
    std::wstring longImage = (dir.path / std::wstring(255 - dir.path.wstring().size(), L'a'))
                                 .wstring();  // 256 units: 259 with ".QN"
    longImage += L"bcd";                      // 259 units: 262 with ".QN"
    program.Type(kImagePath, longImage);
    program.Type(kLanguagePath, (dir.path / "text.lng").wstring());
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + SystemText(ERROR_FILENAME_EXCED_RANGE)));
    program.Type(kImagePath, notImage.wstring());
    program.Type(kLanguagePath, std::wstring(270, L'l'));
    program.Click(kExport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + SystemText(ERROR_FILENAME_EXCED_RANGE)));
}

TEST_F(DialogTest, ImportReplacesTheImageOnceTheMessageIsClosed) {
    std::filesystem::path image = Sample("dialogs32.exe");
    Bytes before = test::ReadFileBytes(image);
    std::filesystem::path copy = dir.path / "dialogs32.exe.QN";
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    program.Click(kExport);
    ASSERT_EQ(program.Answer(), kSuccess);
    std::vector<std::wstring> lines = LanguageLines(dir.path / "dialogs32.lng");
    ASSERT_FALSE(lines.empty());
    std::wstring key = lines[0].substr(0, lines[0].find(L'=') + 1);
    WriteLanguageFile(dir.path / "dialogs32.lng", key + L"Übersetzt\r\n");

    program.Click(kImport);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Lines(MessageOf(box)), kSuccess);
    // While the message is open the image is untouched and the update copy waits beside it.
    EXPECT_EQ(test::ReadFileBytes(image), before);
    EXPECT_TRUE(std::filesystem::exists(copy));
    program.Dismiss(box);
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(copy); }));
    EXPECT_NE(test::ReadFileBytes(image), before);

    program.Click(kExport);
    ASSERT_EQ(program.Answer(), kSuccess);
    lines = LanguageLines(dir.path / "dialogs32.lng");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], key + L"Übersetzt");
}

TEST_F(DialogTest, FailedReplacementIsReported) {
    std::filesystem::path image = Sample("dialogs32.exe");
    Bytes before = test::ReadFileBytes(image);
    WriteLanguageFile(dir.path / "dialogs32.lng", L"LANG=1033\r\n");
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    // Held open without delete sharing: the image can be read but not replaced.
    HANDLE held = CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), kSuccess);
    std::wstring failure = program.Answer();
    EXPECT_EQ(failure.rfind(Lines(kFailure), 0), 0u) << Narrow(failure);
    EXPECT_GT(failure.size(), std::wstring(kFailure).size()) << "the system's text";
    CloseHandle(held);
    EXPECT_EQ(test::ReadFileBytes(image), before);
    EXPECT_TRUE(std::filesystem::exists(dir.path / "dialogs32.exe.QN"));
}

// Types a path into a file-open dialog and confirms it.
void ChooseInFileDialog(HWND box, const std::filesystem::path& path) {
    HWND name = GetDlgItem(box, 1148);  // cmb13, the file name box of the explorer style
    if (name == nullptr || !IsWindowVisible(name))
        name = GetDlgItem(box, 1152);  // edt1
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

TEST_F(DialogTest, BrowseFillsOneFieldOrNone) {
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::path language = dir.path / "other.lng";
    WriteLanguageFile(language, L"");
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    program.Type(kImagePath, L"C:\\typed.exe");
    program.Type(kLanguagePath, L"C:\\typed by hand.lng");

    // Cancelled: both fields and both buttons stay as they were.
    program.Click(kImageBrowse);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    EXPECT_EQ(program.Field(kImagePath), L"C:\\typed.exe");
    EXPECT_EQ(program.Field(kLanguagePath), L"C:\\typed by hand.lng");
    EXPECT_TRUE(program.CommandsEnabled());

    // An image chosen: the language path follows it.
    program.Click(kImageBrowse);
    box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    ChooseInFileDialog(box, image);
    EXPECT_TRUE(WaitFor([&] { return program.Field(kImagePath) == image.wstring(); }));
    EXPECT_EQ(program.Field(kLanguagePath), (dir.path / "dialogs32.lng").wstring());

    // A language file chosen: only the language path changes.
    program.Click(kLanguageBrowse);
    box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    ChooseInFileDialog(box, language);
    EXPECT_TRUE(WaitFor([&] { return program.Field(kLanguagePath) == language.wstring(); }));
    EXPECT_EQ(program.Field(kImagePath), image.wstring());
    EXPECT_TRUE(program.CommandsEnabled());
}

TEST_F(DialogTest, AboutBoxOpensOnlyFromTheIcon) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    // The labels notify too, but a click on them shows nothing: the command returns at once.
    for (int id : {kImageLabel, kLanguageLabel}) {
        DWORD_PTR result = 0;
        EXPECT_TRUE(SendMessageTimeoutW(program.dialog, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                                        reinterpret_cast<LPARAM>(program.Item(id)), SMTO_NORMAL,
                                        10000, &result));
        EXPECT_EQ(FindDialogOf(program.process.dwProcessId, program.dialog), nullptr);
    }
    program.Click(kIcon);
    std::wstring about = program.Answer();
    EXPECT_EQ(about.rfind(L"Quelvar " QUELVAR_VERSION L"\n\n", 0), 0u) << Narrow(about);
    // "Mmm d yyyy hh:mm:ss" on the third line, then an empty line and the credits.
    size_t start = about.find(L"\n\n") + 2, end = about.find(L'\n', start);
    std::wstring built = about.substr(start, end - start);
    EXPECT_TRUE(iswupper(built[0]) && built[3] == L' ') << Narrow(built);
    EXPECT_EQ(built.size() - built.rfind(L' '), 9u) << Narrow(built);
    EXPECT_EQ(built[built.size() - 3], L':');
    EXPECT_EQ(about.substr(end, 2), L"\n\n");
    EXPECT_GT(about.size(), end + 2);
}

TEST_F(DialogTest, ResizeMovesOnlyTheRightHandControls) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    // Opened over the whole work area, as on the device's screen.
    RECT work{}, window{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(program.dialog, &window);
    EXPECT_TRUE(EqualRect(&work, &window));
    const int all[] = {kIcon,        kDescription,   kImageLabel,   kImagePath,
                       kImageBrowse, kLanguageLabel, kLanguagePath, kLanguageBrowse,
                       kLogo,        kExport,        kImport,       IDCANCEL};
    for (int width : {640, 420}) {
        std::vector<RECT> before;
        for (int id : all)
            before.push_back(program.Place(id));
        SetWindowPos(program.dialog, nullptr, 0, 0, width, 300, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        GetClientRect(program.dialog, &client);
        const int w = client.right;
        for (size_t i = 0; i < std::size(all); ++i) {
            RECT was = before[i], now = program.Place(all[i]);
            EXPECT_EQ(now.top, was.top);
            EXPECT_EQ(now.bottom - now.top, was.bottom - was.top);
            switch (all[i]) {
                case kDescription:
                    EXPECT_EQ(now.left, was.left);
                    EXPECT_EQ(now.right, w - 5);
                    break;
                case kImageBrowse:
                case kLanguageBrowse:
                    EXPECT_EQ(now.right, w - 5);
                    EXPECT_EQ(now.right - now.left, was.right - was.left);
                    break;
                case kImagePath:
                case kLanguagePath: {
                    RECT browse =
                        program.Place(all[i] == kImagePath ? kImageBrowse : kLanguageBrowse);
                    EXPECT_EQ(now.left, was.left);
                    EXPECT_EQ(now.right, browse.left - 5);
                    break;
                }
                default:
                    EXPECT_EQ(now.left, was.left) << all[i];
                    EXPECT_EQ(now.right, was.right) << all[i];
            }
        }
    }
}

TEST_F(DialogTest, UpdateCopyStartedByHandReplacesItsNamesake) {
    std::filesystem::path copy = dir.path / "quelvar.exe.QN";
    std::filesystem::copy_file(exe, copy);
    test::WriteFileBytes(exe, Bytes{'o', 'l', 'd'});
    Program program;
    Start(program, copy, L"", false);
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(FindDialogOf(program.process.dwProcessId, nullptr), nullptr);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(test::ReadFileBytes(exe), test::ReadFileBytes(FromBuild(QUELVAR_PROGRAM)));

    // With no namesake the copy takes the name all the same.
    std::filesystem::path lone = dir.path / "lone.exe.QN";
    std::filesystem::copy_file(exe, lone);
    Program second;
    Start(second, lone, L"\"ignored\"", false);
    EXPECT_EQ(second.WaitForExit(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir.path / "lone.exe"));
}

TEST_F(DialogTest, FailedStartOfTheUpdateCopyIsReported) {
    std::filesystem::path english = dir.path / "quelvar.en.lng";
    std::filesystem::copy_file(FromBuild(QUELVAR_EXAMPLES_DIR) / "quelvar.en.lng", english);
    Bytes original = test::ReadFileBytes(exe);
    Program program;
    Start(program, exe, L"\"" + exe.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    program.Type(kLanguagePath, english.wstring());
    program.Click(kImport);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Lines(MessageOf(box)), kSelfTarget);
    // The update copy spoilt while the notice is open: it cannot be started.
    std::filesystem::path copy = dir.path / "quelvar.exe.QN";
    test::WriteFileBytes(copy, Bytes(64, 'x'));
    program.Dismiss(box);
    std::wstring failure = program.Answer();
    EXPECT_EQ(failure.rfind(Lines(kFailure), 0), 0u) << Narrow(failure);
    // The dialog stays open, the program unchanged and the update copy beside it.
    EXPECT_EQ(WaitForSingleObject(program.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(IsWindowVisible(program.dialog));
    EXPECT_EQ(test::ReadFileBytes(exe), original);
    EXPECT_TRUE(std::filesystem::exists(copy));
}

// The program translates itself: its Chinese texts exported, the bundled English translation
// imported into its own file, the hand-over to the update copy, and English at the next start.
TEST_F(DialogTest, SelfTranslation) {
    std::filesystem::path english = dir.path / "quelvar.en.lng";
    std::filesystem::copy_file(FromBuild(QUELVAR_EXAMPLES_DIR) / "quelvar.en.lng", english);
    std::vector<std::wstring> translation = LanguageLines(english);
    ASSERT_EQ(translation.size(), 17u);
    Bytes original = test::ReadFileBytes(exe);

    Program first;
    Start(first, exe, L"\"" + exe.wstring() + L"\"");
    ASSERT_NE(first.dialog, nullptr);
    EXPECT_EQ(first.Field(kLanguagePath), (dir.path / "quelvar.lng").wstring());
    first.Click(kExport);
    EXPECT_EQ(first.Answer(), kSuccess);
    EXPECT_EQ(test::ReadFileBytes(exe), original) << "an export changes no file";
    std::vector<std::wstring> chinese = LanguageLines(dir.path / "quelvar.lng");
    ASSERT_EQ(chinese.size(), 17u);
    EXPECT_EQ(chinese[0], L"5.200.HEAD=Quelvar");
    EXPECT_EQ(chinese[1], L"5.200.FONT=MS Shell Dlg,9");
    EXPECT_EQ(chinese[2],
              L"5.200.322=请输入要操作的可执行文件和语言文件的路径，Quelvar "
              L"将导出或导入相关的语言字符串。");
    EXPECT_EQ(chinese[3], L"5.200.323=路径(&P):");
    EXPECT_EQ(chinese[10], L"5.200.2=退出(&X)");
    EXPECT_EQ(chinese[11], L"6.32.500=Quelvar");
    EXPECT_EQ(chinese[13], L"6.32.502=操作失败。\\n\\n");
    EXPECT_EQ(chinese[16], L"6.32.505=语言文件 (*.lng)|*.lng|所有文件 (*.*)|*.*|");
    for (size_t i = 0; i < chinese.size(); ++i) {
        EXPECT_EQ(chinese[i].substr(0, chinese[i].find(L'=')),
                  translation[i].substr(0, translation[i].find(L'=')))
            << "the translation has the keys of the export, in its order";
    }

    first.Type(kLanguagePath, english.wstring());
    first.Click(kImport);
    EXPECT_EQ(first.Answer(), kSelfTarget);
    EXPECT_EQ(first.WaitForExit(), 1u);
    // The update copy moves itself over the old file once the old process has ended.
    std::filesystem::path copy = dir.path / "quelvar.exe.QN";
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(copy); }));
    EXPECT_NE(test::ReadFileBytes(exe), original);

    Program next;
    Start(next, exe, L"");
    ASSERT_NE(next.dialog, nullptr);
    EXPECT_EQ(next.Field(kExport), L"&Export");
    EXPECT_EQ(next.Field(kImport), L"&Import");
    EXPECT_EQ(next.Field(IDCANCEL), L"E&xit");
    EXPECT_EQ(next.Field(kImageLabel), L"&Path:");
    next.Type(kImagePath, exe.wstring());
    next.Type(kLanguagePath, (dir.path / "translated.lng").wstring());
    next.Click(kExport);
    EXPECT_EQ(next.Answer(), L"The operation completed successfully.");
    EXPECT_EQ(LanguageLines(dir.path / "translated.lng"), translation);
    EXPECT_EQ(test::ReadFileBytes(dir.path / "translated.lng"), test::ReadFileBytes(english));
    PostMessageW(next.dialog, WM_COMMAND, IDOK, 0);  // Done
    EXPECT_EQ(next.WaitForExit(), 0u);
}

}  // namespace
}  // namespace quelvar
