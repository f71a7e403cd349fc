// The main dialog: two path fields with their browse buttons, the choice of the program's
// language for an image with several, Export and Import, the about box behind the icon, F1
// and the system menu. Export and import run synchronously on the dialog's thread, and every
// result is reported in a message box.
#include "ui/program.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"

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
// The user typed or chose the language path: a new image path no longer proposes one.
bool languageChosen = false;
// Set while the dialog itself writes a proposed language path.
bool proposing = false;
// Whether the row of the program's language shows, and how far the rows below it move when
// it shows or hides, in pixels.
bool choiceShown = true;
int choiceRowHeight = 0;

// The controls of the button row, below the row of the program's language.
constexpr int kBottomRow[] = {IDC_LOGO, IDC_EXPORT, IDC_IMPORT, IDCANCEL};
// The controls whose text is a path or a file name, left to right in every language.
constexpr int kPathFields[] = {IDC_IMAGE_PATH, IDC_LANGUAGE_PATH};
// The texts of the program's language, read in its direction.
constexpr int kTexts[] = {IDC_DESCRIPTION, IDC_IMAGE_LABEL, IDC_LANGUAGE_LABEL,
                          IDC_TEXT_LANGUAGE_LABEL};

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

// A control's rectangle in the dialog's client coordinates.
RECT ClientRect(HWND dialog, HWND control) {
    RECT screen{};
    GetWindowRect(control, &screen);
    POINT corners[2] = {{screen.left, screen.top}, {screen.right, screen.bottom}};
    MapWindowPoints(nullptr, dialog, corners, 2);
    return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

void Place(HWND control, int left, int top, int width, int height) {
    MoveWindow(control, left, top, width, height, FALSE);
}

// Shows or hides the row of the program's language; the rows below it move up or down and
// the window's height follows.
void ShowLanguageChoice(HWND dialog, bool show) {
    if (show == choiceShown)
        return;
    HWND combo = GetDlgItem(dialog, IDC_TEXT_LANGUAGE);
    if (!show && GetFocus() == combo)
        SetFocus(GetDlgItem(dialog, IDC_IMAGE_PATH));
    for (int id : {IDC_TEXT_LANGUAGE_LABEL, IDC_TEXT_LANGUAGE})
        ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOWNA : SW_HIDE);
    const int delta = show ? choiceRowHeight : -choiceRowHeight;
    for (int id : kBottomRow) {
        HWND control = GetDlgItem(dialog, id);
        RECT r = ClientRect(dialog, control);
        Place(control, r.left, r.top + delta, r.right - r.left, r.bottom - r.top);
    }
    choiceShown = show;
    ChangeDialogHeight(dialog, delta);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The language chosen for export and import: the selected one while the choice shows,
// otherwise every language (the image has one, or none that is known yet).
uint32_t ChosenLanguage(HWND dialog) {
    if (!choiceShown)
        return kAllLanguages;
    LRESULT selected = SendDlgItemMessageW(dialog, IDC_TEXT_LANGUAGE, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return kAllLanguages;
    return static_cast<uint32_t>(
        SendDlgItemMessageW(dialog, IDC_TEXT_LANGUAGE, CB_GETITEMDATA, selected, 0));
}

// Lists the languages of the image's texts when there are several, keeping the one selected
// when the image still has it; otherwise hides the choice.
void UpdateLanguageChoice(HWND dialog) {
    std::wstring image = ResolvePath(Unquoted(FieldText(dialog, IDC_IMAGE_PATH)));
    std::vector<LanguageTexts> languages;
    if (!image.empty() && FitsPathBuffer(image)) {
        // An image that does not read offers no choice: export or import says why.
        if (Outcome<std::vector<LanguageTexts>> found = TextLanguages(image); found)
            languages = std::move(*found);
    }
    const uint32_t previous = ChosenLanguage(dialog);
    HWND combo = GetDlgItem(dialog, IDC_TEXT_LANGUAGE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    if (languages.size() < 2) {
        ShowLanguageChoice(dialog, false);
        return;
    }
    size_t selected = DefaultLanguageIndex(languages, GetUserDefaultUILanguage());
    for (size_t i = 0; i < languages.size(); ++i) {
        std::wstring name = LanguageDisplayName(languages[i].language);
        LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        SendMessageW(combo, CB_SETITEMDATA, at, languages[i].language);
        if (languages[i].language == previous)
            selected = i;
    }
    SendMessageW(combo, CB_SETCURSEL, selected, 0);
    ShowLanguageChoice(dialog, true);
}

void OnImagePathChanged(HWND dialog) {
    std::wstring image = FieldText(dialog, IDC_IMAGE_PATH);
    if (!languageChosen) {
        std::wstring language = DefaultLanguagePath(std::wstring(Unquoted(image))).wstring();
        // Comes back as the language field's change before the buttons are set here.
        proposing = true;
        SetDlgItemTextW(dialog, IDC_LANGUAGE_PATH, language.c_str());
        proposing = false;
    }
    UpdateLanguageChoice(dialog);
    bool both = !image.empty() &&
                SendDlgItemMessageW(dialog, IDC_LANGUAGE_PATH, WM_GETTEXTLENGTH, 0, 0) != 0;
    EnableCommands(dialog, both);
}

void OnLanguagePathChanged(HWND dialog) {
    bool language = SendDlgItemMessageW(dialog, IDC_LANGUAGE_PATH, WM_GETTEXTLENGTH, 0, 0) != 0;
    // A path the user typed or chose stays until the user empties the field.
    if (!proposing)
        languageChosen = language;
    bool both =
        language && SendDlgItemMessageW(dialog, IDC_IMAGE_PATH, WM_GETTEXTLENGTH, 0, 0) != 0;
    EnableCommands(dialog, both);
}

// Moves a browse button so that its right edge is `margin` from the dialog's, then makes its
// path field end kGap before it.
void LayOutPathRow(HWND dialog, HWND field, HWND button, int width, int margin) {
    RECT b = ClientRect(dialog, button);
    int left = width - margin - (b.right - b.left);
    Place(button, left, b.top, b.right - b.left, b.bottom - b.top);
    RECT f = ClientRect(dialog, field);
    Place(field, f.left, f.top, left - f.left - kGap, f.bottom - f.top);
}

// Everything at the right follows the dialog's right edge, `margin` from it: the description
// and the fields widen, the browse buttons and the button row keep their places at the right.
// The whole dialog is repainted once the controls are placed.
void LayOut(HWND dialog, int width) {
    HWND description = GetDlgItem(dialog, IDC_DESCRIPTION);
    HWND imageField = GetDlgItem(dialog, IDC_IMAGE_PATH);
    HWND imageBrowse = GetDlgItem(dialog, IDC_IMAGE_BROWSE);
    HWND languageField = GetDlgItem(dialog, IDC_LANGUAGE_PATH);
    HWND languageBrowse = GetDlgItem(dialog, IDC_LANGUAGE_BROWSE);
    HWND label = GetDlgItem(dialog, IDC_IMAGE_LABEL);
    HWND combo = GetDlgItem(dialog, IDC_TEXT_LANGUAGE);
    HWND exit = GetDlgItem(dialog, IDCANCEL);
    if (!description || !imageField || !imageBrowse || !languageField || !languageBrowse ||
        !label || !combo || !exit)
        return;
    // The right-hand controls keep the labels' distance from the left edge.
    const int margin = ClientRect(dialog, label).left;
    RECT d = ClientRect(dialog, description);
    Place(description, d.left, d.top, width - d.left - margin, d.bottom - d.top);
    LayOutPathRow(dialog, imageField, imageBrowse, width, margin);
    LayOutPathRow(dialog, languageField, languageBrowse, width, margin);
    // The drop-down's height is that of its list; its shown height is the field's.
    RECT c = ClientRect(dialog, combo);
    COMBOBOXINFO info{};
    info.cbSize = sizeof(info);
    int listHeight = c.bottom - c.top;
    if (GetComboBoxInfo(combo, &info) && info.hwndList != nullptr) {
        RECT list{};
        GetWindowRect(info.hwndList, &list);
        listHeight += std::max<int>(list.bottom - list.top, 0);
    }
    Place(combo, c.left, c.top, width - margin - c.left, listHeight);
    const int shift = width - margin - ClientRect(dialog, exit).right;
    for (int id : {IDC_EXPORT, IDC_IMPORT, IDCANCEL}) {
        HWND button = GetDlgItem(dialog, id);
        RECT r = ClientRect(dialog, button);
        Place(button, r.left + shift, r.top, r.right - r.left, r.bottom - r.top);
    }
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Widens the column of labels to the widest of their texts in the dialog's font, the fields
// beside them starting that much further right, so that a translation's longer label is not
// cut off.
void FitLabels(HWND dialog) {
    const std::pair<int, int> rows[] = {{IDC_IMAGE_LABEL, IDC_IMAGE_PATH},
                                        {IDC_LANGUAGE_LABEL, IDC_LANGUAGE_PATH},
                                        {IDC_TEXT_LANGUAGE_LABEL, IDC_TEXT_LANGUAGE}};
    HDC dc = GetDC(dialog);
    if (dc == nullptr)
        return;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    int fieldLeft = 0;
    for (auto [labelId, fieldId] : rows) {
        HWND label = GetDlgItem(dialog, labelId), field = GetDlgItem(dialog, fieldId);
        if (label == nullptr || field == nullptr)
            continue;
        std::wstring text = FieldText(dialog, labelId);
        RECT extent{};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
                  DT_CALCRECT | DT_SINGLELINE);
        RECT l = ClientRect(dialog, label), f = ClientRect(dialog, field);
        fieldLeft = std::max({fieldLeft, static_cast<int>(f.left),
                              static_cast<int>(l.left + extent.right + (f.left - l.right))});
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    for (auto [labelId, fieldId] : rows) {
        HWND label = GetDlgItem(dialog, labelId), field = GetDlgItem(dialog, fieldId);
        if (label == nullptr || field == nullptr)
            continue;
        RECT l = ClientRect(dialog, label), f = ClientRect(dialog, field);
        Place(label, l.left, l.top, fieldLeft - (f.left - l.right) - l.left, l.bottom - l.top);
        Place(field, fieldLeft, f.top, f.right - fieldLeft, f.bottom - f.top);
    }
}

// Under a right-to-left program language the dialog is mirrored by its template; paths stay
// left to right, and the program's texts read right to left.
void SetReadingOrder(HWND dialog) {
    if (!RightToLeftUi)
        return;
    for (int id : kPathFields) {
        HWND field = GetDlgItem(dialog, id);
        LONG_PTR ex = GetWindowLongPtrW(field, GWL_EXSTYLE);
        ex &= ~static_cast<LONG_PTR>(WS_EX_LAYOUTRTL | WS_EX_RTLREADING | WS_EX_RIGHT |
                                     WS_EX_LEFTSCROLLBAR);
        SetWindowLongPtrW(field, GWL_EXSTYLE, ex);
        LONG_PTR style = GetWindowLongPtrW(field, GWL_STYLE);
        SetWindowLongPtrW(field, GWL_STYLE, style & ~static_cast<LONG_PTR>(ES_RIGHT | ES_CENTER));
        SetWindowPos(field, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    // Not every system reads a static text right to left for WS_EX_RTLREADING (Wine does
    // not): the dialog draws them itself (DrawOwnText).
    for (int id : kTexts) {
        HWND text = GetDlgItem(dialog, id);
        SetWindowLongPtrW(text, GWL_EXSTYLE,
                          GetWindowLongPtrW(text, GWL_EXSTYLE) | WS_EX_RTLREADING);
        LONG_PTR style = GetWindowLongPtrW(text, GWL_STYLE);
        const bool wraps = (style & SS_TYPEMASK) == SS_LEFT;
        SetWindowLongPtrW(text, GWL_STYLE,
                          (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_OWNERDRAW);
        SetWindowLongPtrW(text, GWLP_USERDATA, wraps);
    }
}

// Draws a text of kTexts under a right-to-left program language: right to left, from the
// control's right edge (its left in the mirrored dialog's coordinates), wrapped where the
// template wraps it, with its access key underlined unless the system hides them.
void DrawOwnText(HWND dialog, const DRAWITEMSTRUCT& item) {
    std::wstring text = FieldText(dialog, static_cast<int>(item.CtlID));
    UINT format = DT_RTLREADING | DT_LEFT | DT_EXPANDTABS;
    format |= GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA) ? DT_WORDBREAK : DT_SINGLELINE;
    if (SendMessageW(item.hwndItem, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL)
        format |= DT_HIDEPREFIX;
    RECT area = item.rcItem;
    FillRect(item.hDC, &area,
             reinterpret_cast<HBRUSH>(SendMessageW(dialog, WM_CTLCOLORSTATIC,
                                                   reinterpret_cast<WPARAM>(item.hDC),
                                                   reinterpret_cast<LPARAM>(item.hwndItem))));
    SetBkMode(item.hDC, TRANSPARENT);
    HGDIOBJ old = SelectObject(
        item.hDC, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area, format);
    SelectObject(item.hDC, old);
}

int ShowMessage(HWND dialog, const std::wstring& text, UINT flags) {
    return ShowMessageBox(dialog, text, flags);
}

void Report(HWND dialog, const Failure& failure) {
    if (failure.code == kSuccess)
        ShowMessage(dialog, ResourceText(IDS_SUCCESS), MB_ICONINFORMATION);
    else
        ShowMessage(dialog, FailureMessage(failure), MB_ICONERROR);
}

// Why an update copy could not take the image's place: another program holds the image
// (a running program, or one that has it open without letting it be replaced), or what the
// system said.
std::wstring ReplacementCause(const std::wstring& image, DWORD code) {
    HANDLE probe = CreateFileW(image.c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    else if (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION)
        return ResourceText(IDS_IN_USE);
    return SystemCauseText(code);
}

// The one message of an import into another program: success once the translated image has
// taken the image's place; otherwise why not, and where the translated image is kept when
// only its move failed.
void ReportImport(HWND dialog, const Failure& imported, Result moved, const std::wstring& image,
                  const std::wstring& copy) {
    if (imported.code != kSuccess) {
        Report(dialog, imported);
    } else if (moved != kSuccess) {
        std::wstring text =
            ResourceText(IDS_FAILURE) + image + L": " + ReplacementCause(image, moved);
        ShowMessage(dialog, text + L"\n\n" + ResourceTextWithPath(IDS_COPY_KEPT, copy),
                    MB_ICONERROR);
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
    return ShowMessage(dialog, ResourceTextWithPath(IDS_CONFIRM_REPLACE, language),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

// Two paths name one file when they are equal, letter case aside, or the system says so.
bool IsSameFile(const std::wstring& a, const std::wstring& b) {
    if (CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

void ExportOrImportSelf(HWND dialog, const std::wstring& language, bool import, uint32_t chosen) {
    if (!import) {
        Report(dialog, ExportSelf(language, chosen));
        return;
    }
    Failure failure = ImportSelf(language, chosen);
    if (failure.code != kSuccess) {
        Report(dialog, failure);
        return;
    }
    ShowMessage(dialog, ResourceText(IDS_SELF_TARGET), MB_ICONINFORMATION);
    if (StartUpdateCopy() == 0) {
        EndDialog(dialog, 1);
        return;
    }
    DWORD code = GetLastError();
    wchar_t ownBuffer[kPathUnits];
    DWORD ownLength = GetModuleFileNameW(ProgramInstance, ownBuffer, kPathUnits);
    std::wstring own(ownBuffer, ownLength < kPathUnits ? ownLength : 0);
    Report(dialog, Failure{code != 0 ? code : static_cast<Result>(ERROR_BAD_EXE_FORMAT),
                           FailureCause::None, UpdateCopyPath(own)});
}

void ExportOrImport(HWND dialog, bool import) {
    wchar_t ownBuffer[kPathUnits];
    DWORD ownLength = GetModuleFileNameW(ProgramInstance, ownBuffer, kPathUnits);
    std::wstring own(ownBuffer, ownLength < kPathUnits ? ownLength : 0);
    std::wstring image = ResolvePath(Unquoted(FieldText(dialog, IDC_IMAGE_PATH)));
    std::wstring language = ResolvePath(Unquoted(FieldText(dialog, IDC_LANGUAGE_PATH)));
    // A path that does not fit, or whose update copy would not, is refused and named.
    const std::wstring* tooLong = !FitsPathBuffer(image)      ? &image
                                  : !FitsPathBuffer(language) ? &language
                                  : import && !FitsPathBuffer(UpdateCopyPath(image).wstring())
                                      ? &image
                                      : nullptr;
    if (tooLong != nullptr) {
        Report(dialog, Failure{kErrorFilenameExcedRange, FailureCause::None, *tooLong});
        return;
    }
    if (!import && IsSameFile(language, image)) {
        Report(dialog, Failure{kErrorSharingViolation, FailureCause::OverwritesImage, language});
        return;
    }
    // The image may have changed since its path was typed.
    UpdateLanguageChoice(dialog);
    const uint32_t chosen = ChosenLanguage(dialog);
    if (!import && !MayWriteLanguageFile(dialog, language))
        return;
    if (!own.empty() && IsSameFile(image, own)) {
        ExportOrImportSelf(dialog, language, import, chosen);
        return;
    }
    Options options;
    options.languageFilter = chosen;
    if (!import) {
        Outcome<> done = Export(image, language, options);
        Report(dialog, done ? Failure{} : done.error());
        return;
    }
    std::filesystem::path copy = UpdateCopyPath(image);
    // The update copy takes the image's place in one step; when it cannot, the image stays as
    // it was and the copy stays beside it.
    InPlaceImport outcome = ImportInPlace(image, language, options);
    Failure& failure = outcome.failure;
    // The update copy is no file the user named: its failures name the image.
    if (failure.code != kSuccess && failure.path == copy)
        failure.path = image;
    ReportImport(dialog, outcome.copyLeft ? Failure{} : failure,
                 outcome.copyLeft ? outcome.failure.code : kSuccess, image, copy.wstring());
}

void ShowAbout(HWND dialog) {
    ShowMessage(dialog, AboutText(), MB_ICONINFORMATION);
}

BOOL InitDialog(HWND dialog, const wchar_t* imagePath) {
    SetReadingOrder(dialog);
    FitLabels(dialog);
    // The row of the program's language starts hidden: the rows below it and the window move
    // up by its height.
    choiceShown = true;
    choiceRowHeight = ClientRect(dialog, GetDlgItem(dialog, IDC_TEXT_LANGUAGE)).top -
                      ClientRect(dialog, GetDlgItem(dialog, IDC_LANGUAGE_PATH)).top;
    ShowLanguageChoice(dialog, false);
    RECT window{};
    GetWindowRect(dialog, &window);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left,
                 window.bottom - window.top - choiceRowHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog,
                       SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_EMPTYMENU};
    SHInitDialog(&info);
    RECT client{};
    GetClientRect(dialog, &client);
    LayOut(dialog, client.right);
    languageChosen = false;
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
    // The about box is on the system menu too (and F1 opens it).
    if (HMENU menu = GetSystemMenu(dialog, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUT, ResourceText(IDS_ABOUT_COMMAND).c_str());
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
    return Substituted(ResourceText(id), {path});
}

std::wstring Substituted(std::wstring text, std::initializer_list<std::wstring_view> values) {
    // One pass from the front, so that a value holding "%2" is never replaced in turn.
    for (size_t at = 0; (at = text.find(L'%', at)) != std::wstring::npos;) {
        size_t n = at + 1 < text.size() ? static_cast<size_t>(text[at + 1] - L'1') : values.size();
        if (n >= values.size()) {
            ++at;
            continue;
        }
        std::wstring_view value = values.begin()[n];
        text.replace(at, 2, value);
        at += value.size();
    }
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

std::wstring SystemCauseText(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return ResourceText(IDS_NO_SUCH_FILE);
        case ERROR_PATH_NOT_FOUND:
            return ResourceText(IDS_NO_SUCH_FOLDER);
        case ERROR_ACCESS_DENIED:
            return ResourceText(IDS_ACCESS_DENIED);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return ResourceText(IDS_IN_USE);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ResourceText(IDS_OUT_OF_MEMORY);
        case ERROR_DISK_FULL:
            return ResourceText(IDS_DISK_FULL);
        case ERROR_FILENAME_EXCED_RANGE:
            return ResourceText(IDS_NAME_TOO_LONG);
        case ERROR_BAD_EXE_FORMAT:
            return ResourceText(IDS_NOT_AN_IMAGE);
        default:
            return Substituted(ResourceText(IDS_OTHER_ERROR), {std::to_wstring(code)});
    }
}

// The sentence of the string table that says a failure; 0 where the system's text for its code
// says it.
UINT SentenceOf(FailureText text) {
    switch (text) {
        case FailureText::NoSuchFile:
            return IDS_NO_SUCH_FILE;
        case FailureText::NoSuchFolder:
            return IDS_NO_SUCH_FOLDER;
        case FailureText::AccessDenied:
            return IDS_ACCESS_DENIED;
        case FailureText::Empty:
            return IDS_EMPTY;
        case FailureText::ReadOnly:
            return IDS_READ_ONLY;
        case FailureText::OverwritesImage:
            return IDS_OVERWRITES_IMAGE;
        case FailureText::OverwritesLanguageFile:
            return IDS_OVERWRITES_LANGUAGE_FILE;
        case FailureText::Utf8:
            return IDS_UTF8;
        case FailureText::Utf8WithMark:
            return IDS_UTF8_WITH_MARK;
        case FailureText::Utf16BigEndian:
            return IDS_UTF16_BIG_ENDIAN;
        case FailureText::NotUtf16:
            return IDS_NOT_UTF16;
        case FailureText::NameTaken:
            return IDS_NAME_TAKEN;
        case FailureText::Folder:
            return IDS_FOLDER;
        case FailureText::NotAnImage:
            return IDS_NOT_AN_IMAGE;
        case FailureText::UnusableLanguage:
            return IDS_UNUSABLE_LANGUAGE;
        case FailureText::OutOfMemory:
            return IDS_OUT_OF_MEMORY;
        case FailureText::CannotWrite:
            return IDS_CANNOT_WRITE;
        case FailureText::OverwritesInput:
            return IDS_OVERWRITES_INPUT;
        case FailureText::LanguageFileUnusable:
            return IDS_LANGUAGE_FILE_UNUSABLE;
        case FailureText::DiskFull:
            return IDS_DISK_FULL;
        case FailureText::NameTooLong:
            return IDS_NAME_TOO_LONG;
        case FailureText::NoResources:
            return IDS_NO_RESOURCES;
        case FailureText::NotAFile:
            return IDS_NOT_A_FILE;
        case FailureText::CrLineEnds:
            return IDS_CR_LINE_ENDS;
        case FailureText::PoFile:
            return IDS_PO_FILE;
        case FailureText::NoTextApplies:
            return IDS_NO_TEXT_APPLIES;
        case FailureText::Busy:
            return IDS_IN_USE;
        case FailureText::Changed:
            return IDS_CHANGED;
        case FailureText::Other:
        case FailureText::NoTargetLanguage:
        case FailureText::TargetIsSource:
        case FailureText::SeveralLanguages:
            break;
    }
    return 0;
}

std::wstring FailureMessage(const Failure& failure) {
    std::wstring message = ResourceText(IDS_FAILURE);
    if (!failure.path.empty())
        message += failure.path.wstring() + L": ";
    UINT sentence = SentenceOf(TextOfFailure(failure));
    if (sentence == 0)
        return message + SystemCauseText(failure.code);
    if (sentence == IDS_PO_FILE)
        return message + Substituted(ResourceText(IDS_PO_FILE), {std::to_wstring(failure.line)});
    return message + ResourceText(sentence);
}

std::wstring AboutText() {
    // __DATE__ reads "Mmm dd yyyy", a day below 10 padded with a blank.
    const std::string date = __DATE__;
    std::string day = date.substr(4, 2);
    if (day[0] == ' ')
        day.erase(0, 1);
    const std::string built =
        date.substr(0, 3) + " " + day + " " + date.substr(7, 4) + " " + __TIME__;
    return Substituted(ResourceText(IDS_ABOUT),
                       {L"" QUELVAR_VERSION, std::wstring(built.begin(), built.end())});
}

namespace {

// Before a message box of a right-to-left program language lays itself out: its window and its
// controls are mirrored and its texts read right to left, which not every system does for
// MB_RTLREADING and MB_RIGHT (Wine ignores both).
LRESULT CALLBACK MirrorMessageBox(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG) {
        HWND box = call->hwnd;
        SetWindowLongPtrW(box, GWL_EXSTYLE, GetWindowLongPtrW(box, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            SetWindowLongPtrW(
                child, GWL_EXSTYLE,
                GetWindowLongPtrW(child, GWL_EXSTYLE) | WS_EX_LAYOUTRTL | WS_EX_RTLREADING);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, UINT flags) {
    if (!RightToLeftUi)
        return MessageBoxW(owner, text.c_str(), kMessageTitle, flags);
    // Mirrored, the box shows its text at the right; MB_RIGHT would move it to the left.
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, MirrorMessageBox, nullptr, GetCurrentThreadId());
    int answer = MessageBoxW(owner, text.c_str(), kMessageTitle, flags | MB_RTLREADING);
    if (hook != nullptr)
        UnhookWindowsHookEx(hook);
    return answer;
}

bool TemplateIsRightToLeft(std::span<const uint8_t> dialogTemplate) {
    // DLGTEMPLATEEX begins with its version 1 and 0xFFFF, and holds the extended style at 8;
    // DLGTEMPLATE holds it at 4.
    if (dialogTemplate.size() < 16)
        return false;
    const bool extended =
        Load16(dialogTemplate.data()) == 1 && Load16(dialogTemplate.data() + 2) == 0xFFFF;
    return (Load32(dialogTemplate.data() + (extended ? 8 : 4)) & WS_EX_LAYOUTRTL) != 0;
}

std::wstring LanguageDisplayName(uint32_t language) {
    wchar_t name[128] = {};
    std::wstring text;
    if (language != 0 && language <= 0xFFFF &&
        GetLocaleInfoW(language, LOCALE_SLOCALIZEDDISPLAYNAME, name, 128) > 1)
        text = std::wstring(name) + L" \u2013 ";
    return text + std::to_wstring(language);
}

size_t DefaultLanguageIndex(const std::vector<LanguageTexts>& languages, uint32_t userLanguage) {
    size_t most = 0;
    for (uint32_t wanted : {userLanguage, uint32_t{0x409}}) {
        for (size_t i = 0; i < languages.size(); ++i)
            if (languages[i].language == wanted)
                return i;
    }
    for (size_t i = 1; i < languages.size(); ++i)
        if (languages[i].texts > languages[most].texts)
            most = i;
    return most;
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
    // The language file may be one that export is to write: a Save As chooser, which asks
    // nothing (export asks before it replaces a file); an image must exist.
    const bool language = fieldId == IDC_LANGUAGE_PATH;
    OPENFILENAMEW open{};
    open.lStructSize = sizeof(open);
    open.hwndOwner = dialog;
    open.hInstance = ProgramInstance;
    open.lpstrFilter = filter;
    open.lpstrFile = path;
    open.nMaxFile = kPathUnits;
    open.lpstrDefExt = language ? L"lng" : nullptr;
    // The current folder stays the start folder, against which relative paths are resolved.
    open.Flags =
        OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | (language ? 0 : OFN_FILEMUSTEXIST);
    auto choose = language ? GetSaveFileNameW : GetOpenFileNameW;
    BOOL chosen = choose(&open);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        // The field's text is no file name the file dialog accepts: start without one.
        path[0] = L'\0';
        chosen = choose(&open);
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
                ShowAbout(dialog);
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
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUT)
                return 0;
            ShowAbout(dialog);
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType != ODT_STATIC)
                return FALSE;
            DrawOwnText(dialog, *item);
            return TRUE;
        }
        case WM_HELP:  // F1
            ShowAbout(dialog);
            return TRUE;
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
