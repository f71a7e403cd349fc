// The main dialog: two path fields with their browse buttons, Export and Import, the about
// box behind the icon. Export and import run synchronously on the dialog's thread, and every
// result is reported in a message box.
#include "ui/program.h"

#include <cderr.h>
#include <commdlg.h>

#include <filesystem>
#include <string>
#include <utility>

#include "driver/driver.h"
#include "ui/resource.h"

namespace quelvar::ui {

namespace {

constexpr int kGap = 5;  // pixels between a path field and its browse button
constexpr WORD kNotifyChange = EN_CHANGE;
constexpr WORD kNotifyClick = BN_CLICKED;
static_assert(BN_CLICKED == STN_CLICKED);

// Created from the dialog's font at initialisation, released with the dialog.
HFONT logoFont = nullptr;

// A field's whole text; a text too long for a path buffer is refused by its reader, never cut.
std::wstring FieldText(HWND dialog, int id) {
    HWND field = GetDlgItem(dialog, id);
    int length = GetWindowTextLengthW(field);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(field, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void EnableCommands(HWND dialog, bool enable) {
    EnableWindow(GetDlgItem(dialog, IDC_EXPORT), enable);
    EnableWindow(GetDlgItem(dialog, IDC_IMPORT), enable);
}

void OnImagePathChanged(HWND dialog) {
    std::wstring image = FieldText(dialog, IDC_IMAGE_PATH);
    std::wstring language = DefaultLanguagePath(std::wstring(Unquoted(image))).wstring();
    // Comes back as the language field's change before the buttons are set here.
    SetDlgItemTextW(dialog, IDC_LANGUAGE_PATH, language.c_str());
    EnableCommands(dialog, !image.empty());
}

void OnLanguagePathChanged(HWND dialog) {
    bool both = SendDlgItemMessageW(dialog, IDC_IMAGE_PATH, WM_GETTEXTLENGTH, 0, 0) != 0 &&
                SendDlgItemMessageW(dialog, IDC_LANGUAGE_PATH, WM_GETTEXTLENGTH, 0, 0) != 0;
    EnableCommands(dialog, both);
}

// A control's rectangle in the dialog's client coordinates.
RECT ClientRect(HWND dialog, HWND control) {
    RECT screen{};
    GetWindowRect(control, &screen);
    POINT corners[2] = {{screen.left, screen.top}, {screen.right, screen.bottom}};
    MapWindowPoints(nullptr, dialog, corners, 2);
    return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

// Moves a browse button so that its right edge is `margin` from the dialog's, then makes its
// path field end kGap before it.
void LayOutPathRow(HWND dialog, HWND field, HWND button, int width, int margin) {
    RECT b = ClientRect(dialog, button);
    int left = width - margin - (b.right - b.left);
    MoveWindow(button, left, b.top, b.right - b.left, b.bottom - b.top, TRUE);
    RECT f = ClientRect(dialog, field);
    MoveWindow(field, f.left, f.top, left - f.left - kGap, f.bottom - f.top, TRUE);
}

void LayOut(HWND dialog, int width) {
    HWND description = GetDlgItem(dialog, IDC_DESCRIPTION);
    HWND imageField = GetDlgItem(dialog, IDC_IMAGE_PATH);
    HWND imageBrowse = GetDlgItem(dialog, IDC_IMAGE_BROWSE);
    HWND languageField = GetDlgItem(dialog, IDC_LANGUAGE_PATH);
    HWND languageBrowse = GetDlgItem(dialog, IDC_LANGUAGE_BROWSE);
    HWND label = GetDlgItem(dialog, IDC_IMAGE_LABEL);
    if (!description || !imageField || !imageBrowse || !languageField || !languageBrowse || !label)
        return;
    // The right-hand controls keep the labels' distance from the left edge.
    const int margin = ClientRect(dialog, label).left;
    RECT d = ClientRect(dialog, description);
    MoveWindow(description, d.left, d.top, width - d.left - margin, d.bottom - d.top, TRUE);
    LayOutPathRow(dialog, imageField, imageBrowse, width, margin);
    LayOutPathRow(dialog, languageField, languageBrowse, width, margin);
}

void ShowMessage(HWND dialog, const std::wstring& text, UINT icon) {
    MessageBoxW(dialog, text.c_str(), kMessageTitle, icon);
}

void ReportFailure(HWND dialog, DWORD code) {
    ShowMessage(dialog, FailureMessage(ResourceText(IDS_FAILURE), code), MB_ICONERROR);
}

void Report(HWND dialog, const Failure& failure) {
    if (failure.code == kSuccess)
        ShowMessage(dialog, ResourceText(IDS_SUCCESS), MB_ICONINFORMATION);
    else
        ShowMessage(dialog, FailureMessage(failure), MB_ICONERROR);
}

// The one message of an import into another program: success once the translated image has
// taken the image's place; otherwise why not, and where the translated image is kept when
// only its move failed.
void ReportImport(HWND dialog, const Failure& imported, Result moved, const std::wstring& copy) {
    if (imported.code != kSuccess) {
        Report(dialog, imported);
    } else if (moved != kSuccess) {
        std::wstring text = FailureMessage(ResourceText(IDS_FAILURE), moved);
        if (!text.empty() && text.back() != L'\n')
            text += L'\n';
        ShowMessage(dialog, text + L'\n' + ResourceTextWithPath(IDS_COPY_KEPT, copy), MB_ICONERROR);
    } else {
        Report(dialog, {});
    }
}

// Before an export replaces an existing language file the user is asked, No being the
// default; true when the export may go on.
bool MayWriteLanguageFile(HWND dialog, const std::wstring& language) {
    DWORD attributes = GetFileAttributesW(language.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    return MessageBoxW(dialog, ResourceTextWithPath(IDS_CONFIRM_REPLACE, language).c_str(),
                       kMessageTitle, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// The image is the program's own file when the paths are equal, letter case aside, or name
// the same file.
bool IsOwnFile(const std::wstring& image, const std::wstring& own) {
    if (CompareStringOrdinal(image.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    std::error_code ec;
    return std::filesystem::equivalent(image, own, ec) && !ec;
}

void ExportOrImportSelf(HWND dialog, const std::wstring& language, bool import) {
    if (!import) {
        Report(dialog, ExportSelf(language));
        return;
    }
    Failure failure = ImportSelf(language);
    if (failure.code != kSuccess) {
        Report(dialog, failure);
        return;
    }
    ShowMessage(dialog, ResourceText(IDS_SELF_TARGET), MB_ICONINFORMATION);
    if (StartUpdateCopy() == 0) {
        EndDialog(dialog, 1);
        return;
    }
    // Without a code from the system the message is the failure text alone.
    ReportFailure(dialog, GetLastError());
}

void ExportOrImport(HWND dialog, bool import) {
    wchar_t ownBuffer[kPathUnits];
    DWORD ownLength = GetModuleFileNameW(ProgramInstance, ownBuffer, kPathUnits);
    std::wstring own(ownBuffer, ownLength < kPathUnits ? ownLength : 0);
    std::wstring image = ResolvePath(Unquoted(FieldText(dialog, IDC_IMAGE_PATH)));
    std::wstring language = ResolvePath(Unquoted(FieldText(dialog, IDC_LANGUAGE_PATH)));
    if (!FitsPathBuffer(image) || !FitsPathBuffer(language)) {
        ReportFailure(dialog, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (!import && !MayWriteLanguageFile(dialog, language))
        return;
    if (!own.empty() && IsOwnFile(image, own)) {
        ExportOrImportSelf(dialog, language, import);
        return;
    }
    Failure failure;
    Options options;
    options.failure = &failure;
    if (!import) {
        ProcessImage(image, language, nullptr, options);
        Report(dialog, failure);
        return;
    }
    std::filesystem::path copy = UpdateCopyPath(image);
    if (!FitsPathBuffer(copy.wstring())) {
        ReportFailure(dialog, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    // The update copy takes the image's place in one step; when it cannot, the image stays as
    // it was and the copy stays beside it.
    InPlaceImport outcome = ImportInPlace(image, language, options);
    ReportImport(dialog, outcome.copyLeft ? Failure{} : failure,
                 outcome.copyLeft ? outcome.result : kSuccess, copy.wstring());
}

BOOL InitDialog(HWND dialog, const wchar_t* imagePath) {
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog,
                       SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_EMPTYMENU};
    SHInitDialog(&info);
    RECT client{};
    GetClientRect(dialog, &client);
    LayOut(dialog, client.right);
    if (imagePath != nullptr && imagePath[0] != L'\0')
        SetDlgItemTextW(dialog, IDC_IMAGE_PATH, imagePath);
    // The caption and the taskbar show the program's icon, each at the size the system uses.
    const std::pair<WPARAM, int> icons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (auto [which, metric] : icons) {
        int side = GetSystemMetrics(metric);
        HANDLE icon = LoadImageW(ProgramInstance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, side, side,
                                 LR_SHARED);
        SendMessageW(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }

    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (font == nullptr)
        return TRUE;
    LOGFONTW logo{};
    if (GetObjectW(font, sizeof(logo), &logo) != sizeof(logo))
        return TRUE;
    logo.lfHeight *= 2;
    logo.lfItalic = TRUE;
    logoFont = CreateFontIndirectW(&logo);
    if (logoFont != nullptr)
        SendDlgItemMessageW(dialog, IDC_LOGO, WM_SETFONT, reinterpret_cast<WPARAM>(logoFont), 0);
    return TRUE;
}

}  // namespace

std::wstring ResourceText(UINT id) {
    // Without a buffer LoadStringW gives the stored text itself and its counted length.
    const wchar_t* stored = nullptr;
    int length = LoadStringW(ProgramInstance, id, reinterpret_cast<LPWSTR>(&stored), 0);
    if (stored == nullptr || length <= 0)
        return {};
    std::wstring text(stored, static_cast<size_t>(length));
    return text.substr(0, text.find(L'\0'));
}

std::wstring ResourceTextWithPath(UINT id, std::wstring_view path) {
    std::wstring text = ResourceText(id);
    if (size_t at = text.find(L"%1"); at != std::wstring::npos)
        text.replace(at, 2, path);
    return text;
}

std::wstring_view Unquoted(std::wstring_view typed) {
    if (typed.size() >= 2 && typed.front() == L'"' && typed.back() == L'"')
        return typed.substr(1, typed.size() - 2);
    return typed;
}

std::wstring ResolvePath(std::wstring_view path) {
    std::filesystem::path given(path);
    if (path.empty() || given.is_absolute() || StartFolder.empty())
        return std::wstring(path);
    return (std::filesystem::path(StartFolder) / given).lexically_normal().wstring();
}

std::wstring FailureMessage(std::wstring_view start, DWORD code) {
    wchar_t buffer[kPathUnits];
    size_t n = start.copy(buffer, kPathUnits - 1);
    if (code != 0) {
        n += FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, 0, buffer + n, static_cast<DWORD>(kPathUnits - n), nullptr);
    }
    return std::wstring(buffer, n);
}

static_assert(IDS_NO_SUCH_FILE + static_cast<int>(FailureText::NoResources) == IDS_NO_RESOURCES,
              "the failure sentences follow FailureText");

std::wstring FailureMessage(const Failure& failure) {
    FailureText text = TextOfFailure(failure);
    std::wstring message = ResourceText(IDS_FAILURE);
    if (!failure.path.empty())
        message += failure.path.wstring() + L": ";
    if (text >= FailureText::Other)  // the system's text, or a failure the dialog never meets
        return message + FailureMessage({}, failure.code);
    return message + ResourceText(IDS_NO_SUCH_FILE + static_cast<UINT>(text));
}

std::wstring AboutText() {
    // __DATE__ reads "Mmm dd yyyy", a day below 10 padded with a blank.
    const std::string date = __DATE__;
    std::string day = date.substr(4, 2);
    if (day[0] == ' ')
        day.erase(0, 1);
    const std::string built =
        date.substr(0, 3) + " " + day + " " + date.substr(7, 4) + " " + __TIME__;
    std::wstring text = L"Quelvar " QUELVAR_VERSION L"\n\n";
    text.append(built.begin(), built.end());
    text +=
        L"\n\n"
        L"Translates the string tables, menus and dialogs of Windows programs.\n"
        L"Written in C++20 and built with mingw-w64.";
    return text;
}

BOOL BrowseForFile(HWND dialog, int fieldId, UINT filterId) {
    wchar_t path[kPathUnits] = {};
    GetDlgItemTextW(dialog, fieldId, path, kPathUnits);
    // "name|pattern|name|pattern|" becomes pairs of texts ended by an empty one.
    wchar_t filter[kPathUnits] = {};
    ResourceText(filterId).copy(filter, kPathUnits - 2);
    for (wchar_t& unit : filter) {
        if (unit == L'|')
            unit = L'\0';
    }
    OPENFILENAMEW open{};
    open.lStructSize = sizeof(open);
    open.hwndOwner = dialog;
    open.hInstance = ProgramInstance;
    open.lpstrFilter = filter;
    open.lpstrFile = path;
    open.nMaxFile = kPathUnits;
    // The current folder stays the start folder, against which relative paths are resolved.
    open.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    BOOL chosen = GetOpenFileNameW(&open);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        // The field's text is no file name the file dialog accepts: start without one.
        path[0] = L'\0';
        chosen = GetOpenFileNameW(&open);
    }
    if (chosen)
        SetDlgItemTextW(dialog, fieldId, path);
    return chosen;
}

INT_PTR HandleCommand(HWND dialog, WPARAM wParam) {
    const int id = LOWORD(wParam);
    const WORD notification = HIWORD(wParam);
    switch (id) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, 0);
            return 1;
        case IDC_IMAGE_PATH:
            if (notification == kNotifyChange)
                OnImagePathChanged(dialog);
            return 1;
        case IDC_LANGUAGE_PATH:
            if (notification == kNotifyChange)
                OnLanguagePathChanged(dialog);
            return 1;
        case IDC_IMAGE_BROWSE:
            BrowseForFile(dialog, IDC_IMAGE_PATH, IDS_IMAGE_FILTER);
            return 1;
        case IDC_LANGUAGE_BROWSE:
            BrowseForFile(dialog, IDC_LANGUAGE_PATH, IDS_LANGUAGE_FILTER);
            return 1;
        case IDC_EXPORT:
        case IDC_IMPORT:
            if (notification == kNotifyClick)
                ExportOrImport(dialog, id == IDC_IMPORT);
            return 1;
        case IDC_APP_ICON:
            if (notification == kNotifyClick)
                ShowMessage(dialog, AboutText(), MB_ICONINFORMATION);
            return 1;
        default:
            return 0;
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return InitDialog(dialog, reinterpret_cast<const wchar_t*>(lParam));
        case WM_SIZE:
            LayOut(dialog, LOWORD(lParam));
            return 0;
        case WM_COMMAND:
            return HandleCommand(dialog, wParam);
        case WM_NCDESTROY:
            if (logoFont != nullptr) {
                DeleteObject(logoFont);
                logoFont = nullptr;
            }
            return 0;
        default:
            return 0;
    }
}

}  // namespace quelvar::ui
