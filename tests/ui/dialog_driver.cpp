// Drives the real quelvar.exe: starts it, finds its dialog and works it through window
// messages as a user would, reading back fields, button states and message boxes. Runs under
// Wine inside a virtual X server. Every wait is for a window, a process or a file, with a
// deadline; nothing sleeps blindly.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "driver/driver.h"
#include "tests/pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(30);
constexpr int kImagePath = 300, kLanguagePath = 301, kImageBrowse = 303, kLogo = 304,
              kLanguageBrowse = 305, kImport = 310, kExport = 312, kIcon = 321, kDescription = 322,
              kImageLabel = 323, kLanguageLabel = 324, kTextLanguageLabel = 325,
              kTextLanguage = 326;
constexpr WPARAM kAboutCommand = 0x0010;  // the system menu's item

const wchar_t kSuccess[] = L"操作成功完成。";
const wchar_t kFailure[] = L"操作失败。\n\n";
const wchar_t kInUse[] = L"文件正被另一个程序使用";
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
    // The Enter key pressed in a control, as the keyboard sends it.
    void PressEnter(int id) const { PressEnterIn(Item(id)); }
    static void PressEnterIn(HWND window) {
        PostMessageW(window, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(window, WM_KEYUP, VK_RETURN, 0xC0000001);
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
    // Closes a message box with one of its buttons.
    void Dismiss(HWND box, int button = IDOK) const {
        PostMessageW(box, WM_COMMAND, button, 0);
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

// Starts `exe` with `arguments` after its quoted name, in `folder` when one is given, and
// waits for its dialog when `withDialog`.
void Start(Program& program, const std::filesystem::path& exe, const std::wstring& arguments,
           bool withDialog = true, const std::filesystem::path& folder = {}) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               folder.empty() ? nullptr : folder.c_str(), &startup,
                               &program.process))
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
    // The size the dialog opens with, then a full repaint before the capture.
    SetWindowPos(program.dialog, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
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
// (by default the one built here) is captured there with the image QUELVAR_SCREENSHOT_IMAGE
// (a Linux path; by default a sample path) in its fields.
TEST(Screenshot, Dialog) {
    const char* path = std::getenv("QUELVAR_SCREENSHOT");
    const char* exe = std::getenv("QUELVAR_SCREENSHOT_PROGRAM");
    const char* image = std::getenv("QUELVAR_SCREENSHOT_IMAGE");
    if (path == nullptr || *path == '\0')
        GTEST_SKIP() << "no QUELVAR_SCREENSHOT";
    Program program;
    Start(program, FromBuild(exe != nullptr && *exe != '\0' ? exe : QUELVAR_PROGRAM),
          image != nullptr && *image != '\0'
              ? L"\"" + FromBuild(image).wstring() + L"\""
              : std::wstring(L"\"C:\\Program Files\\Notes\\notes.exe\""));
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
        program.Type(kImagePath, c.image);
        EXPECT_EQ(program.Field(kLanguagePath), c.language) << Narrow(c.image);
        EXPECT_TRUE(program.CommandsEnabled());
    }

    // A language path the user typed stays whatever the image path becomes, until the field
    // is emptied.
    program.Type(kLanguagePath, L"C:\\de.lng");
    for (const wchar_t* image : {L"C:\\apps\\other.exe", L"", L"C:\\x.exe"}) {
        program.Type(kImagePath, image);
        EXPECT_EQ(program.Field(kLanguagePath), L"C:\\de.lng") << Narrow(image);
    }
    EXPECT_TRUE(program.CommandsEnabled());
    program.Type(kLanguagePath, L"");
    EXPECT_FALSE(program.CommandsEnabled());
    program.Type(kImagePath, L"C:\\y.exe");
    EXPECT_EQ(program.Field(kLanguagePath), L"C:\\y.lng");

    program.Type(kLanguagePath, L"x");
    EXPECT_TRUE(program.CommandsEnabled());
    program.Type(kLanguagePath, L"");
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

TEST_F(DialogTest, FailuresNameTheFileTheUserChose) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);

    program.Type(kImagePath, (dir.path / "missing.exe").wstring());
    program.Click(kExport);
    EXPECT_EQ(program.Answer(),
              Lines(kFailure + (dir.path / "missing.exe").wstring() + L": 没有这个文件"));

    // Not an image: the import fails and leaves the file as it was, with no update copy.
    std::filesystem::path notImage = dir.path / "text.exe";
    test::WriteFileBytes(notImage, Bytes(4096, 'x'));
    WriteLanguageFile(dir.path / "text.lng", L"5.1.HEAD=x\r\n");
    program.Type(kImagePath, notImage.wstring());
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + notImage.wstring() + L": 不是有效的程序文件"));
    EXPECT_EQ(test::ReadFileBytes(notImage), Bytes(4096, 'x'));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "text.exe.QN"));

    // Causes the driver words past the codes' sentences, in the program's language: a
    // translation of another program, and lines that end in CR alone. The image stays.
    std::filesystem::path app = dir.path / "other.exe";
    std::filesystem::copy_file(exe, app);
    const Bytes before = test::ReadFileBytes(app);
    program.Type(kImagePath, app.wstring());
    for (auto [name, lines, cause] :
         {std::tuple{L"other.lng", L"6.9999.1=x\r\n",
                     L"程序文件中没有这个翻译的任何文本：它是另一个程序的翻译吗？"},
          std::tuple{L"cr.lng", L"6.32.500=x\r6.32.501=y\r",
                     L"语言文件的行只以 CR 结尾，一行也读不出；请用 Windows 换行 (CR LF) 保存"}}) {
        std::filesystem::path language = dir.path / name;
        WriteLanguageFile(language, lines);
        program.Type(kLanguagePath, language.wstring());
        program.Click(kImport);
        EXPECT_EQ(program.Answer(), Lines(kFailure + language.wstring() + L": " + cause));
    }
    EXPECT_EQ(test::ReadFileBytes(app), before);

    // Paths that would no longer fit 260 units once derived are refused, not cut, and named
    // with the cause in the program's language.
    std::wstring longImage = (dir.path / std::wstring(255 - dir.path.wstring().size(), L'a'))
                                 .wstring();  // 256 units: 259 with ".QN"
    longImage += L"bcd";                      // 259 units: 262 with ".QN"
    program.Type(kImagePath, longImage);
    program.Type(kLanguagePath, (dir.path / "text.lng").wstring());
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + longImage + L": 文件名太长"));
    std::wstring longLanguage = (dir.path / std::wstring(270, L'l')).wstring();
    program.Type(kImagePath, notImage.wstring());
    program.Type(kLanguagePath, longLanguage);
    program.Click(kExport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + longLanguage + L": 文件名太长"));
}

// A folder that refuses new files: its write permissions taken away and, since the tests may
// run as root, whom permissions do not stop, made immutable, both by the Unix side's chmod and
// chattr, which Wine starts as it starts its own programs. Given back when the test ends. Make
// is false when the folder still takes files.
struct ReadOnlyFolder {
    std::wstring unixPath;
    bool Make(const std::filesystem::path& folder) {
        using UnixName = char*(CDECL*)(const wchar_t*);
        auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        char* name = unixName != nullptr ? unixName(folder.c_str()) : nullptr;
        if (name == nullptr)
            return false;
        unixPath.assign(name, name + strlen(name));
        HeapFree(GetProcessHeap(), 0, name);
        Run(L"chmod", L"a-w");
        Run(L"chattr", L"+i");
        std::filesystem::path probe = folder / "probe";
        return WaitFor([&] {
            HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return true;
            CloseHandle(file);
            return false;
        });
    }
    void Run(const std::wstring& program, const std::wstring& change) const {
        std::wstring line = L"/bin/" + program + L" " + change + L" \"" + unixPath + L"\"";
        std::wstring exe = L"Z:\\bin\\" + program;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return;
        if (process.hProcess != nullptr) {
            WaitForSingleObject(process.hProcess, 30000);
            CloseHandle(process.hProcess);
        }
        if (process.hThread != nullptr)
            CloseHandle(process.hThread);
    }
    ~ReadOnlyFolder() {
        if (unixPath.empty())
            return;
        Run(L"chattr", L"-i");
        Run(L"chmod", L"u+w");
    }
};

// Each failure names its file and says what is wrong with it, as quelvar-cli does, in the
// program's own language.
TEST_F(DialogTest, FailuresNameTheFileAndTheCause) {
    std::filesystem::path image = Sample("dialogs64.exe");
    test::WriteFileBytes(dir.path / "u8.lng", {'L', 'A', 'N', 'G', '=', '1', '\r', '\n'});
    std::filesystem::path folder = dir.path / "folder", missing = dir.path / "no folder";
    std::filesystem::create_directory(folder);
    std::filesystem::path readOnly = dir.path / "read-only";
    std::filesystem::create_directory(readOnly);
    std::filesystem::copy_file(image, readOnly / "app.exe");
    WriteLanguageFile(dir.path / "app.lng", L"LANG=1033\r\n");
    ReadOnlyFolder readOnlyFolder;
    bool refuses = readOnlyFolder.Make(readOnly);
    struct Case {
        std::filesystem::path image, language;
        bool import;
        std::filesystem::path named;  // the file the message names
        std::wstring cause;
    } cases[] = {
        {image, dir.path / "u8.lng", true, dir.path / "u8.lng",
         L"语言文件是 UTF-8 文本；它必须是带字节顺序标记 FF FE 的 UTF-16LE 文本"},
        {image, dir.path / "missing.lng", true, dir.path / "missing.lng", L"没有这个文件"},
        {image, missing / "x.lng", false, missing / "x.lng", L"没有这个文件夹"},
        {missing / "app.exe", dir.path / "x.lng", false, missing / "app.exe", L"没有这个文件夹"},
        {folder, dir.path / "x.lng", false, folder, L"这是文件夹，不是文件"},
        {image, folder, true, folder, L"这是文件夹，不是文件"},
        {image, folder, false, folder, L"这是文件夹，不是文件"},
        {image, readOnly / "x.lng", false, readOnly / "x.lng", L"拒绝访问"},
        // The update copy the folder refuses is no file the user named: the image is.
        {readOnly / "app.exe", dir.path / "app.lng", true, readOnly / "app.exe", L"拒绝访问"},
    };
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.named.wstring()));
        if (c.named.parent_path() == readOnly && !refuses) {
            std::printf("the folder could not be made read-only here: its case is left out\n");
            continue;
        }
        program.Type(kImagePath, c.image.wstring());
        program.Type(kLanguagePath, c.language.wstring());
        program.Click(c.import ? kImport : kExport);
        EXPECT_EQ(program.Answer(), Lines(kFailure + c.named.wstring() + L": " + c.cause));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path / "dialogs64.exe.QN"));
}

TEST_F(DialogTest, ImportReplacesTheImageBeforeItsOneMessage) {
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
    // Success is said once the update copy has taken the image's place.
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_NE(test::ReadFileBytes(image), before);
    program.Dismiss(box);

    program.Click(kExport);
    box = program.WaitForBox();  // the language file exists: replace it
    ASSERT_NE(box, nullptr);
    program.Dismiss(box, IDYES);
    ASSERT_EQ(program.Answer(), kSuccess);
    lines = LanguageLines(dir.path / "dialogs32.lng");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], key + L"Übersetzt");
}

TEST_F(DialogTest, FailedReplacementIsReportedOnce) {
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::path copy = dir.path / "dialogs32.exe.QN";
    Bytes before = test::ReadFileBytes(image);
    WriteLanguageFile(dir.path / "dialogs32.lng", L"LANG=1033\r\n");
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    // Held open without delete sharing: the image can be read but not replaced.
    HANDLE held = CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // One message, no success before it: the image is in use by another program, and where
    // the translated image is kept.
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), Lines(kFailure + image.wstring() + L": " + kInUse + L"\n\n" +
                                      L"翻译后的程序保留在 " + copy.wstring() + L"。"));
    CloseHandle(held);
    EXPECT_EQ(test::ReadFileBytes(image), before);
    EXPECT_TRUE(std::filesystem::exists(copy));
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

    // An image chosen: the language path typed by hand stays.
    program.Click(kImageBrowse);
    box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    ChooseInFileDialog(box, image);
    EXPECT_TRUE(WaitFor([&] { return program.Field(kImagePath) == image.wstring(); }));
    EXPECT_EQ(program.Field(kLanguagePath), L"C:\\typed by hand.lng");

    // A language file chosen: only the language path changes.
    program.Click(kLanguageBrowse);
    box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    ChooseInFileDialog(box, language);
    EXPECT_TRUE(WaitFor([&] { return program.Field(kLanguagePath) == language.wstring(); }));
    EXPECT_EQ(program.Field(kImagePath), image.wstring());
    EXPECT_TRUE(program.CommandsEnabled());
}

TEST_F(DialogTest, ExportAsksBeforeReplacingALanguageFile) {
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::path language = dir.path / "dialogs32.lng";
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    // Enter in a path field presses Export, the default button: a new file needs no question.
    program.PressEnter(kImagePath);
    ASSERT_EQ(program.Answer(), kSuccess);
    WriteLanguageFile(language, L"5.1.HEAD=the translator's work\r\n");
    const Bytes edited = test::ReadFileBytes(language);

    // Enter again: asked, naming the file, with No the default; Enter answers No.
    program.PressEnter(kLanguagePath);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    std::wstring question = Lines(MessageOf(box));
    EXPECT_NE(question.find(language.wstring()), std::wstring::npos) << Narrow(question);
    EXPECT_EQ(GetWindowLongW(GetDlgItem(box, IDNO), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    Program::PressEnterIn(box);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    EXPECT_EQ(test::ReadFileBytes(language), edited);

    // Yes replaces the file.
    program.Click(kExport);
    box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    program.Dismiss(box, IDYES);
    EXPECT_EQ(program.Answer(), kSuccess);
    EXPECT_NE(test::ReadFileBytes(language), edited);

    // Import reads the file and is never asked.
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), kSuccess);

    // A language path that names the image itself is refused before any question.
    for (std::wstring named : {image.wstring(), dir.path.wstring() + L"\\.\\DIALOGS32.EXE"}) {
        program.Type(kLanguagePath, named);
        program.Click(kExport);
        EXPECT_EQ(program.Answer(), Lines(kFailure + named + L": 输出会覆盖正在读取的可执行文件"));
    }
}

// A browse button leaves the current folder alone: the relative path of the command line, and
// one typed later, name files of the folder the program was started in.
TEST_F(DialogTest, RelativePathsNameFilesOfTheStartFolder) {
    std::filesystem::path start = dir.path / "start", other = dir.path / "other";
    std::filesystem::create_directory(start);
    std::filesystem::create_directory(other);
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::copy_file(image, start / "app.exe");
    std::filesystem::copy_file(image, other / "app.exe");  // another program of the same name
    WriteLanguageFile(other / "app.lng", L"LANG=1033\r\n");
    const Bytes before = test::ReadFileBytes(image);

    Program program;
    Start(program, exe, L"app.exe", true, start);
    ASSERT_NE(program.dialog, nullptr);
    EXPECT_EQ(program.Field(kImagePath), (start / "app.exe").wstring());
    program.Click(kLanguageBrowse);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    ChooseInFileDialog(box, other / "app.lng");
    ASSERT_TRUE(
        WaitFor([&] { return program.Field(kLanguagePath) == (other / "app.lng").wstring(); }));
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), kSuccess);
    EXPECT_NE(test::ReadFileBytes(start / "app.exe"), before);
    EXPECT_EQ(test::ReadFileBytes(other / "app.exe"), before);

    program.Type(kLanguagePath, L"");  // proposed again from the image path
    program.Type(kImagePath, L"app.exe");
    EXPECT_EQ(program.Field(kLanguagePath), L"app.lng");
    program.PressEnter(kImagePath);
    EXPECT_EQ(program.Answer(), kSuccess);
    EXPECT_FALSE(LanguageLines(start / "app.lng").empty());
    EXPECT_EQ(LanguageLines(other / "app.lng"), std::vector<std::wstring>{L"LANG=1033"});
}

// A path pasted as "Copy as path" gives it, in double quotes, is taken without them.
TEST_F(DialogTest, QuotedPathsLoseTheirQuotes) {
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::path language = dir.path / "dialogs32.lng";
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    program.Type(kImagePath, L"\"" + image.wstring() + L"\"");
    EXPECT_EQ(program.Field(kLanguagePath), language.wstring());
    program.PressEnter(kImagePath);
    EXPECT_EQ(program.Answer(), kSuccess);
    EXPECT_FALSE(LanguageLines(language).empty());
    program.Type(kLanguagePath, L"\"" + language.wstring() + L"\"");
    program.Click(kImport);
    EXPECT_EQ(program.Answer(), kSuccess);
}

// The pixels of a `width` x `height` rectangle, top row first, as 0xRRGGBB: of the screen at
// (x, y), or, without a screen position, of `icon` drawn over `background`.
std::vector<uint32_t> Pixels(int x, int y, int width, int height, HICON icon = nullptr,
                             COLORREF background = 0) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (icon != nullptr) {
        RECT all{0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(memory, &all, brush);
        DeleteObject(brush);
        DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    } else {
        BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
    }
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                                 static_cast<const uint32_t*>(bits) + width * height);
    for (uint32_t& p : pixels)
        p &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// True when the left end of a window's caption shows the program's small icon: somewhere its
// opaque pixels (those that two backgrounds do not change) are there, give or take a little.
bool CaptionShowsProgramIcon(HWND window, const std::filesystem::path& program) {
    const int side = GetSystemMetrics(SM_CXSMICON);
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    auto icon =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(100), IMAGE_ICON, side, side, 0));
    if (icon == nullptr)
        return false;
    std::vector<uint32_t> onBlack = Pixels(0, 0, side, side, icon, RGB(0, 0, 0));
    std::vector<uint32_t> onWhite = Pixels(0, 0, side, side, icon, RGB(255, 255, 255));
    DestroyIcon(icon);
    FreeLibrary(module);
    RECT r{};
    GetWindowRect(window, &r);
    const int width = 4 * side, height = GetSystemMetrics(SM_CYCAPTION) + 8;
    std::vector<uint32_t> caption = Pixels(r.left, r.top, width, height);
    auto close = [](uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16}) {
            if (abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
                24)
                return false;
        }
        return true;
    };
    for (int dy = 0; dy + side <= height; ++dy) {
        for (int dx = 0; dx + side <= width; ++dx) {
            int opaque = 0, same = 0;
            for (int i = 0; i < side * side; ++i) {
                if (onBlack[i] != onWhite[i])
                    continue;
                ++opaque;
                same += close(onBlack[i], caption[(dy + i / side) * width + dx + i % side]);
            }
            if (opaque > side * side / 4 && same * 10 >= opaque * 9)
                return true;
        }
    }
    return false;
}

// The caption's icon, common controls 6 and per-monitor DPI awareness.
TEST_F(DialogTest, LooksLikeAWindowsProgram) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    // Wine answers WM_GETICON from another process without asking the window: the caption is
    // looked at instead.
    SetWindowPos(program.dialog, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(program.dialog);
    RedrawWindow(program.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    EXPECT_TRUE(CaptionShowsProgramIcon(program.dialog, exe));
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(program.dialog)),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    HMODULE modules[256];
    DWORD bytes = 0;
    ASSERT_TRUE(K32EnumProcessModules(program.process.hProcess, modules, sizeof(modules), &bytes));
    bool commonControls6 = false;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < std::size(modules); ++i) {
        wchar_t name[MAX_PATH] = {};
        K32GetModuleFileNameExW(program.process.hProcess, modules[i], name, MAX_PATH);
        _wcslwr(name);
        commonControls6 |= wcsstr(name, L"common-controls_6595b64144ccf1df_6.") != nullptr;
    }
    EXPECT_TRUE(commonControls6);
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
    // On a desktop: the size of its content, centred on the work area, resizable.
    RECT work{}, window{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(program.dialog, &window);
    EXPECT_LT(window.right - window.left, (work.right - work.left) / 2);
    EXPECT_LT(window.bottom - window.top, (work.bottom - work.top) / 2);
    EXPECT_LE(abs((window.left - work.left) - (work.right - window.right)), 1);
    EXPECT_LE(abs((window.top - work.top) - (work.bottom - window.bottom)), 1);
    EXPECT_TRUE(GetWindowLongW(program.dialog, GWL_STYLE) & WS_THICKFRAME);
    const int height = window.bottom - window.top, least = window.right - window.left;
    // The right margin is the left one, from the start.
    const int margin = program.Place(kImageLabel).left;
    RECT client{};
    GetClientRect(program.dialog, &client);
    for (int id : {kDescription, kImageBrowse, kLanguageBrowse, IDCANCEL})
        EXPECT_EQ(program.Place(id).right, client.right - margin) << id;
    const int all[] = {kIcon,        kDescription,   kImageLabel,   kImagePath,
                       kImageBrowse, kLanguageLabel, kLanguagePath, kLanguageBrowse,
                       kLogo,        kExport,        kImport,       IDCANCEL};
    for (int width : {640, 420}) {
        std::vector<RECT> before;
        for (int id : all)
            before.push_back(program.Place(id));
        const int wasWidth = client.right;
        SetWindowPos(program.dialog, nullptr, 0, 0, width, 300, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(program.dialog, &window);
        EXPECT_EQ(window.right - window.left, width);
        EXPECT_EQ(window.bottom - window.top, height) << "resizable in width only";
        GetClientRect(program.dialog, &client);
        const int w = client.right;
        for (size_t i = 0; i < std::size(all); ++i) {
            RECT was = before[i], now = program.Place(all[i]);
            EXPECT_EQ(now.top, was.top);
            EXPECT_EQ(now.bottom - now.top, was.bottom - was.top);
            switch (all[i]) {
                case kDescription:
                    EXPECT_EQ(now.left, was.left);
                    EXPECT_EQ(now.right, w - margin);
                    break;
                case kImageBrowse:
                case kLanguageBrowse:
                    EXPECT_EQ(now.right, w - margin);
                    EXPECT_EQ(now.right - now.left, was.right - was.left);
                    break;
                case kExport:
                case kImport:
                case IDCANCEL:  // the button row keeps its place at the right
                    EXPECT_EQ(now.right - w, was.right - wasWidth) << all[i];
                    EXPECT_EQ(now.right - now.left, was.right - was.left) << all[i];
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
    // Never narrower than its content, never wider than the work area, never maximised.
    SetWindowPos(program.dialog, nullptr, 0, 0, least / 2, height, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(program.dialog, &window);
    EXPECT_EQ(window.right - window.left, least);
    SetWindowPos(program.dialog, nullptr, 0, 0, 4000, height, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(program.dialog, &window);
    EXPECT_EQ(window.right - window.left, work.right - work.left);
    EXPECT_FALSE(GetWindowLongW(program.dialog, GWL_STYLE) & WS_MAXIMIZEBOX);
    SendMessageW(program.dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    GetWindowRect(program.dialog, &window);
    EXPECT_FALSE(IsZoomed(program.dialog));
    EXPECT_EQ(window.bottom - window.top, height);
}

// The picture of a window's client area as it is on the screen.
std::vector<uint32_t> ClientPixels(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return Pixels(origin.x, origin.y, client.right, client.bottom);
}

// Waits until a window of another process has handled what was sent before.
void Settle(HWND window) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    UpdateWindow(window);
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

// After a resize the dialog shows what a full repaint shows: no stale fragment of a control
// at its old place, no control left unpainted at its new one.
TEST_F(DialogTest, ResizeRepaintsEverything) {
    Program program;
    Start(program, exe, L"\"C:\\Program Files\\Notes\\notes.exe\"");
    ASSERT_NE(program.dialog, nullptr);
    SetWindowPos(program.dialog, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(program.dialog);
    // The focus on a button, whose frame does not blink as a field's caret does.
    SendMessageW(program.dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(program.Item(IDCANCEL)),
                 TRUE);
    RECT window{};
    GetWindowRect(program.dialog, &window);
    for (int width : {700, 560, 760}) {
        SCOPED_TRACE(width);
        SetWindowPos(program.dialog, nullptr, 0, 0, width, window.bottom - window.top,
                     SWP_NOMOVE | SWP_NOZORDER);
        Settle(program.dialog);
        std::vector<uint32_t> shown = ClientPixels(program.dialog);
        RedrawWindow(program.dialog, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Settle(program.dialog);
        EXPECT_TRUE(shown == ClientPixels(program.dialog));
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

// A hand-over that cannot finish (the program was started again meanwhile) loses nothing: the
// update copy says so and names itself, and the program's next start offers to finish it.
TEST_F(DialogTest, UnfinishedUpdateIsSaidAndOfferedAgain) {
    std::filesystem::path copy = dir.path / "quelvar.exe.QN";
    const Bytes original = test::ReadFileBytes(exe);
    Bytes update = original;
    update.insert(update.end(), {'n', 'e', 'w'});  // data after the image, which loads all the same
    test::WriteFileBytes(copy, update);
    HANDLE held =
        CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Program handOver;
    Start(handOver, copy, L"", false);
    std::wstring said = handOver.Answer();  // after about 20 s of retries
    EXPECT_NE(said.find(copy.wstring()), std::wstring::npos) << Narrow(said);
    EXPECT_EQ(handOver.WaitForExit(), 0u);
    CloseHandle(held);
    EXPECT_EQ(test::ReadFileBytes(exe), original);
    ASSERT_EQ(test::ReadFileBytes(copy), update);

    // Declined: the dialog opens and the copy stays.
    Program declined;
    Start(declined, exe, L"", false);
    HWND offer = declined.WaitForBox();
    ASSERT_NE(offer, nullptr);
    std::wstring text = Lines(MessageOf(offer));
    EXPECT_NE(text.find(copy.wstring()), std::wstring::npos) << Narrow(text);
    PostMessageW(offer, WM_COMMAND, IDNO, 0);
    EXPECT_TRUE(WaitFor([&] {
        HWND dialog = FindDialogOf(declined.process.dwProcessId, nullptr);
        return dialog != nullptr && GetDlgItem(dialog, kImagePath) != nullptr;
    }));
    EXPECT_EQ(test::ReadFileBytes(copy), update);
    PostMessageW(FindDialogOf(declined.process.dwProcessId, nullptr), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(declined.WaitForExit(), 0u);

    // Accepted: the program ends and the copy takes its place.
    Program accepted;
    Start(accepted, exe, L"", false);
    offer = accepted.WaitForBox();
    ASSERT_NE(offer, nullptr);
    PostMessageW(offer, WM_COMMAND, IDYES, 0);
    EXPECT_EQ(accepted.WaitForExit(), 0u);
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(copy); }));
    EXPECT_EQ(test::ReadFileBytes(exe), update);

    // A copy cut short, or older than the program, is no update: the dialog opens at once.
    test::WriteFileBytes(copy, Bytes(update.begin(), update.begin() + update.size() / 2));
    for (bool older : {false, true}) {
        if (older) {
            test::WriteFileBytes(copy, update);
            std::filesystem::last_write_time(
                copy, std::filesystem::last_write_time(exe) - std::chrono::hours(1));
        }
        Program program;
        Start(program, exe, L"");
        ASSERT_NE(program.dialog, nullptr);
        EXPECT_NE(program.Item(kImagePath), nullptr) << "older " << older;
    }
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
    ASSERT_EQ(translation.size(), 60u);
    Bytes original = test::ReadFileBytes(exe);

    Program first;
    Start(first, exe, L"\"" + exe.wstring() + L"\"");
    ASSERT_NE(first.dialog, nullptr);
    EXPECT_EQ(first.Field(kLanguagePath), (dir.path / "quelvar.lng").wstring());
    first.Click(kExport);
    EXPECT_EQ(first.Answer(), kSuccess);
    EXPECT_EQ(test::ReadFileBytes(exe), original) << "an export changes no file";
    std::vector<std::wstring> chinese = LanguageLines(dir.path / "quelvar.lng");
    ASSERT_EQ(chinese.size(), 62u);
    EXPECT_EQ(chinese[0], L"5.200.HEAD=Quelvar");
    EXPECT_EQ(chinese[1], L"5.200.FONT=MS Shell Dlg,9");
    EXPECT_EQ(chinese[2],
              L"5.200.322=请输入要操作的可执行文件和语言文件的路径，Quelvar "
              L"将导出或导入相关的语言字符串。");
    EXPECT_EQ(chinese[3], L"5.200.323=路径(&P):");
    EXPECT_EQ(chinese[7], L"5.200.325=程序语言(&G):");
    EXPECT_EQ(chinese[11], L"5.200.2=退出(&X)");
    EXPECT_EQ(chinese[12], L"6.32.500=Quelvar");
    EXPECT_EQ(chinese[14], L"6.32.502=操作失败。\\n\\n");
    EXPECT_EQ(
        chinese[17],
        L"6.32.505=语言文件 (*.lng)|*.lng|PO 文件 (*.po;*.pot)|*.po;*.pot|所有文件 (*.*)|*.*|");
    // The translation has the keys of the export, in its order, but the version numbers.
    auto withoutVersionNumbers = [](std::vector<std::wstring> lines) {
        std::erase_if(lines, [](const std::wstring& line) {
            return line.starts_with(L"16.1.FileVersion=") ||
                   line.starts_with(L"16.1.ProductVersion=");
        });
        return lines;
    };
    std::vector<std::wstring> exportedKeys, translatedKeys;
    for (const std::wstring& line : withoutVersionNumbers(chinese))
        exportedKeys.push_back(line.substr(0, line.find(L'=')));
    for (const std::wstring& line : translation)
        translatedKeys.push_back(line.substr(0, line.find(L'=')));
    EXPECT_EQ(exportedKeys, translatedKeys);

    first.Type(kLanguagePath, english.wstring());
    first.Click(kImport);
    EXPECT_EQ(first.Answer(), kSelfTarget);
    EXPECT_EQ(first.WaitForExit(), 1u);
    // The update copy moves itself over the old file once the old process has ended.
    std::filesystem::path copy = dir.path / "quelvar.exe.QN";
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(copy); }));
    // The started copy may hold its new name a moment longer (under load, Wine refuses a read
    // of it meanwhile).
    EXPECT_TRUE(WaitFor([&] {
        try {
            return test::ReadFileBytes(exe) != original;
        } catch (const std::exception&) {
            return false;
        }
    }));

    Program next;
    Start(next, exe, L"");
    ASSERT_NE(next.dialog, nullptr);
    EXPECT_EQ(next.Field(kExport), L"&Export");
    EXPECT_EQ(next.Field(kImport), L"&Import");
    EXPECT_EQ(next.Field(IDCANCEL), L"E&xit");
    EXPECT_EQ(next.Field(kImageLabel), L"&Path:");
    EXPECT_EQ(next.Field(kLanguageLabel), L"&Language file:");
    next.Type(kImagePath, exe.wstring());
    next.Type(kLanguagePath, (dir.path / "translated.lng").wstring());
    next.Click(kExport);
    EXPECT_EQ(next.Answer(), L"The operation completed successfully.");
    EXPECT_EQ(withoutVersionNumbers(LanguageLines(dir.path / "translated.lng")), translation);
    PostMessageW(next.dialog, WM_COMMAND, IDOK, 0);  // Done
    EXPECT_EQ(next.WaitForExit(), 0u);
}

// The texts of one string table block of one language, read through the loader.
std::vector<std::wstring> LoaderStrings(const std::filesystem::path& image, int block,
                                        LANGID language) {
    std::vector<std::wstring> texts;
    HMODULE module = LoadLibraryExW(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return texts;
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), language);
    DWORD size = found != nullptr ? SizeofResource(module, found) : 0;
    auto* units = found != nullptr
                      ? static_cast<const wchar_t*>(LockResource(LoadResource(module, found)))
                      : nullptr;
    for (DWORD at = 0; units != nullptr && at < size / 2;) {
        size_t n = units[at];
        std::wstring text(units + at + 1, std::min<size_t>(n, size / 2 - at - 1));
        texts.push_back(text.substr(0, text.find(L'\0')));  // with or without its zero
        at += 1 + static_cast<DWORD>(n);
    }
    FreeLibrary(module);
    return texts;
}

// The lines of an export of every language, as the core writes it.
std::vector<std::wstring> AllTexts(const std::filesystem::path& image,
                                   const std::filesystem::path& lines) {
    EXPECT_EQ(CodeOf(Export(image, lines)), 0u);
    return LanguageLines(lines);
}

// Wine's notepad has its texts in some fifty languages: the dialog offers them by name, starts
// with the user's (else English), and exports and imports only the one chosen.
TEST_F(DialogTest, MultiLanguageImageTranslatesTheChosenLanguage) {
    const std::filesystem::path wineNotepad =
        FromBuild("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe");
    if (!std::filesystem::exists(wineNotepad))
        GTEST_SKIP() << "Wine's notepad.exe is not installed";
    std::filesystem::path image = dir.path / "notepad.exe", language = dir.path / "notepad.lng";
    std::filesystem::copy_file(wineNotepad, image);
    const std::vector<std::wstring> before = AllTexts(image, dir.path / "before.lng");
    std::vector<LanguageTexts> languages = TextLanguages(image).value();
    ASSERT_GT(languages.size(), 40u);

    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    RECT single{}, several{};
    program.Type(kImagePath, Sample("versions64.exe").wstring());  // English alone
    EXPECT_FALSE(IsWindowVisible(program.Item(kTextLanguage)));
    GetWindowRect(program.dialog, &single);
    program.Type(kImagePath, image.wstring());
    ASSERT_TRUE(IsWindowVisible(program.Item(kTextLanguage)));
    EXPECT_TRUE(IsWindowVisible(program.Item(kTextLanguageLabel)));
    GetWindowRect(program.dialog, &several);
    // The row shows below the language file's, the buttons move down, the window grows.
    EXPECT_GT(program.Place(kTextLanguage).top, program.Place(kLanguagePath).bottom);
    EXPECT_GT(program.Place(kExport).top, program.Place(kTextLanguage).bottom);
    EXPECT_GT(several.bottom - several.top, single.bottom - single.top);
    HWND combo = program.Item(kTextLanguage);
    ASSERT_EQ(static_cast<size_t>(SendMessageW(combo, CB_GETCOUNT, 0, 0)), languages.size());
    auto selected = [&] {
        return static_cast<uint32_t>(
            SendMessageW(combo, CB_GETITEMDATA, SendMessageW(combo, CB_GETCURSEL, 0, 0), 0));
    };
    const uint32_t user = GetUserDefaultUILanguage();
    bool hasUser = std::any_of(languages.begin(), languages.end(),
                               [&](const LanguageTexts& l) { return l.language == user; });
    EXPECT_EQ(selected(), hasUser ? user : 1033u);
    for (LRESULT i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
        if (SendMessageW(combo, CB_GETITEMDATA, i, 0) != 1033)
            continue;
        wchar_t name[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        EXPECT_NE(std::wstring(name).find(L"English"), std::wstring::npos) << Narrow(name);
        EXPECT_NE(std::wstring(name).find(L"1033"), std::wstring::npos) << Narrow(name);
        SendMessageW(combo, CB_SETCURSEL, i, 0);
    }
    ASSERT_EQ(selected(), 1033u);

    // Export writes the English texts alone, each key once.
    program.Click(kExport);
    ASSERT_EQ(program.Answer(), kSuccess);
    std::vector<std::wstring> english = LanguageLines(language);
    ASSERT_FALSE(english.empty());
    std::vector<std::wstring> keys;
    for (const std::wstring& line : english)
        keys.push_back(line.substr(0, line.find(L'=')));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    // Imported unchanged, every language keeps its texts.
    program.Click(kImport);
    ASSERT_EQ(program.Answer(), kSuccess);
    EXPECT_EQ(AllTexts(image, dir.path / "after.lng"), before);

    // An edited English string lands in the English resources only.
    int block = 0, id = 0;
    std::wstring all;
    for (const std::wstring& line : english) {
        if (block == 0 && line.starts_with(L"6.") &&
            swscanf(line.c_str(), L"6.%d.%d=", &block, &id) == 2) {
            all += line.substr(0, line.find(L'=') + 1) + L"Edited by the test\r\n";
            continue;
        }
        all += line + L"\r\n";
    }
    ASSERT_GT(block, 0) << "no string";
    WriteLanguageFile(language, all);
    program.Click(kImport);
    ASSERT_EQ(program.Answer(), kSuccess);
    std::vector<std::wstring> englishNow = LoaderStrings(image, block, 1033);
    ASSERT_GT(englishNow.size(), static_cast<size_t>(id % 16));
    EXPECT_EQ(englishNow[id % 16], L"Edited by the test");
    size_t others = 0;
    for (const LanguageTexts& other : languages) {
        if (other.language == 1033)
            continue;
        std::vector<std::wstring> was = LoaderStrings(wineNotepad, block, other.language);
        others += !was.empty();
        EXPECT_EQ(LoaderStrings(image, block, other.language), was) << other.language;
    }
    EXPECT_GT(others, 10u);
}

// An image of the program translated into Arabic with the bundled example, beside `exe`.
std::filesystem::path ArabicProgram(const std::filesystem::path& exe) {
    std::filesystem::path arabic = exe.parent_path() / "arabic.exe";
    std::filesystem::path copy = arabic;
    EXPECT_EQ(CodeOf(Import(exe, FromBuild(QUELVAR_EXAMPLES_DIR) / "quelvar.ar.lng", copy)), 0u);
    return arabic;
}

// Under a right-to-left program language the dialog is mirrored, its texts read right to
// left, its paths left to right, and its message boxes are mirrored and right-aligned.
TEST_F(DialogTest, RightToLeftProgramLanguage) {
    Program program;
    Start(program, ArabicProgram(exe), L"\"Z:\\tmp\\x\\notepad.exe\"");
    ASSERT_NE(program.dialog, nullptr);
    EXPECT_TRUE(GetWindowLongW(program.dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
    for (int id : {kImagePath, kLanguagePath}) {
        LONG ex = GetWindowLongW(program.Item(id), GWL_EXSTYLE);
        EXPECT_FALSE(ex & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT)) << id;
    }
    for (int id : {kDescription, kImageLabel, kLanguageLabel})
        EXPECT_TRUE(GetWindowLongW(program.Item(id), GWL_EXSTYLE) & WS_EX_RTLREADING) << id;
    for (bool about : {false, true}) {
        if (about)
            PostMessageW(program.dialog, WM_SYSCOMMAND, kAboutCommand, 0);
        else
            program.Click(kExport);  // no such image
        HWND box = program.WaitForBox();
        ASSERT_NE(box, nullptr);
        // Mirrored, the box shows its text at the right, read right to left.
        EXPECT_TRUE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) << about;
        size_t texts = 0;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0 || TextOf(child).empty())
                continue;
            ++texts;
            EXPECT_TRUE(GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_RTLREADING) << about;
        }
        EXPECT_GT(texts, 0u);
        std::wstring text = Lines(MessageOf(box));
        EXPECT_NE(text.find(about ? L"يترجم" : L"فشلت العملية"), std::wstring::npos)
            << Narrow(text);
        program.Dismiss(box);
    }
}

// The about box opens from the keyboard (F1), from the system menu and from the icon, in the
// program's language.
TEST_F(DialogTest, AboutBoxFromKeyboardMenuAndIcon) {
    Program program;
    Start(program, exe, L"");
    ASSERT_NE(program.dialog, nullptr);
    SetForegroundWindow(program.dialog);
    ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == program.dialog; }));
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        if (way == 0) {
            keybd_event(VK_F1, 0, 0, 0);
            keybd_event(VK_F1, 0, KEYEVENTF_KEYUP, 0);
        } else if (way == 1) {
            PostMessageW(program.dialog, WM_SYSCOMMAND, kAboutCommand, 0);
        } else {
            program.Click(kIcon);
        }
        std::wstring about = program.Answer();
        EXPECT_EQ(about.rfind(L"Quelvar " QUELVAR_VERSION L"\n\n", 0), 0u) << Narrow(about);
        EXPECT_NE(about.find(L"翻译 Windows 程序"), std::wstring::npos) << Narrow(about);
    }
}

// The language file's chooser names a new file too (export writes it), and offers PO files.
TEST_F(DialogTest, LanguageFileChooserTakesANewFile) {
    std::filesystem::path image = Sample("dialogs32.exe");
    std::filesystem::path fresh = dir.path / "new.po";
    Program program;
    Start(program, exe, L"\"" + image.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    program.Click(kLanguageBrowse);
    HWND box = program.WaitForBox();
    ASSERT_NE(box, nullptr);
    HWND types = GetDlgItem(box, 1136);  // cmb1, the file types
    ASSERT_NE(types, nullptr);
    std::vector<std::wstring> filters;
    for (LRESULT i = 0; i < SendMessageW(types, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t name[256] = {};
        SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        filters.push_back(name);
    }
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_NE(filters[1].find(L"*.po;*.pot"), std::wstring::npos) << Narrow(filters[1]);
    ChooseInFileDialog(box, fresh);
    EXPECT_TRUE(WaitFor([&] { return program.Field(kLanguagePath) == fresh.wstring(); }));
    EXPECT_FALSE(IsWindow(box));
    program.Click(kExport);
    EXPECT_EQ(program.Answer(), kSuccess);
    EXPECT_TRUE(std::filesystem::exists(fresh));
}

// An import into a program that is running names it and says it is in use; the program keeps
// running and its file stays as it was.
TEST_F(DialogTest, ImportIntoARunningProgramSaysItIsInUse) {
    std::filesystem::path running = dir.path / "running.exe";
    std::filesystem::copy_file(exe, running);
    WriteLanguageFile(dir.path / "running.lng", L"6.32.500=Q\r\n");
    const Bytes before = test::ReadFileBytes(running);
    Program other;
    Start(other, running, L"");
    ASSERT_NE(other.dialog, nullptr);
    Program program;
    Start(program, exe, L"\"" + running.wstring() + L"\"");
    ASSERT_NE(program.dialog, nullptr);
    program.Click(kImport);
    std::wstring said = program.Answer();
    EXPECT_EQ(said.rfind(Lines(kFailure + running.wstring() + L": " + kInUse), 0), 0u)
        << Narrow(said);
    EXPECT_EQ(test::ReadFileBytes(running), before);
}

}  // namespace
}  // namespace quelvar
