// The dialog program: its entry, the self-replacement hand-over between two processes, and
// the main dialog. Paths are UTF-16 texts of at most kPathUnits units with the terminator.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "driver/driver.h"

namespace quelvar::ui {

constexpr size_t kPathUnits = MAX_PATH;
constexpr const wchar_t* kMessageTitle = L"Quelvar";
constexpr int kReplaceAttempts = 1000;
constexpr DWORD kReplacePauseMs = 20;

// The running program's instance, set once by the entry routine before anything else.
extern HINSTANCE ProgramInstance;
// The folder the program was started in, recorded once by the entry routine: every relative
// path, given on the command line or typed later, names a file there.
extern std::wstring StartFolder;
// The program's texts are right to left: its dialog template is mirrored. Set once by the entry
// routine, which then gives every window of the process the mirrored layout.
extern bool RightToLeftUi;

// Entry and self-replacement.

// When the program runs as an update copy (its file name ends in ".QN"), puts itself in
// place of its namesake without the suffix and returns 1, whether or not that succeeded;
// returns 0 otherwise.
int FinishSelfReplacement();
// Export from and import into the program's own executable, of the resources in `language`
// (kAllLanguages for all); import writes the update copy "<own path>.QN", which
// StartUpdateCopy then starts.
Failure ExportSelf(const std::filesystem::path& languagePath, uint32_t language = kAllLanguages);
Failure ImportSelf(const std::filesystem::path& languagePath, uint32_t language = kAllLanguages);
// When a complete update copy of the program's own file, newer than the file, lies beside it
// (an earlier hand-over did not finish), offers to finish the update. Accepted, it starts the
// copy as after an import into the program and returns 1: the program ends. Returns 0 when
// there is nothing to finish, the offer is declined or the copy does not start (then said).
int OfferUnfinishedUpdate();
// Starts the update copy of the program's own file with an empty command line. Returns 0
// when it started, 1 when it did not (GetLastError then tells why, when the system knows).
int StartUpdateCopy();
// Moves `source` over `target` (replacing it in one step), trying up to `attempts` times with
// a pause of `pauseMs` after each failed try, and no more once `source` is gone (another
// process moved it). True when the move was made.
bool ReplaceWithRetries(const std::wstring& source, const std::wstring& target, int attempts,
                        DWORD pauseMs);
// Turns the command line in place into the initial image path: a leading double quote is
// dropped, and then a trailing one too. Returns the start of the path.
wchar_t* NormaliseCommandLine(wchar_t* commandLine);
// A typed path without one pair of surrounding double quotes, as "Copy as path" gives it.
std::wstring_view Unquoted(std::wstring_view typed);
// A relative path resolved against StartFolder; an absolute or empty path as it is.
std::wstring ResolvePath(std::wstring_view path);
// True when a full path names an update copy: it ends in ".QN", in any letter case.
bool IsUpdateCopyPath(std::wstring_view path);

// Main dialog.

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The WM_COMMAND handler: 1 for the ids the dialog knows, 0 for others.
INT_PTR HandleCommand(HWND dialog, WPARAM wParam);
// Lets the user pick a file for the field `fieldId`, offering the file types of filter string
// `filterId`: an existing image, or a language file that may be new. Non-zero when a file was
// chosen.
BOOL BrowseForFile(HWND dialog, int fieldId, UINT filterId);
// True when a path, with its terminator, fits a path buffer.
inline bool FitsPathBuffer(std::wstring_view path) {
    return path.size() < kPathUnits;
}
// The failure message: the start text, then the system's text for `code` (none for 0), all
// within one path-sized buffer.
std::wstring FailureMessage(std::wstring_view start, DWORD code);
// The message of a failed export or import, worded as quelvar-cli words it: the failure text,
// then the file and what is wrong with it ("FILE: CAUSE"), the cause from the string table;
// a code without a sentence of the driver's is worded by SystemCauseText.
std::wstring FailureMessage(const Failure& failure);
// The string table's sentence for a system error code: the file is missing, in use by another
// program, and so on, or "error N" for a code without one.
std::wstring SystemCauseText(DWORD code);
// The about box text (IDS_ABOUT): name and version, build date and time, credits.
std::wstring AboutText();
// A text with "%1", "%2", ... replaced by the values in order; other '%' stay.
std::wstring Substituted(std::wstring text, std::initializer_list<std::wstring_view> values);
// Shows a message box of the program titled kMessageTitle and returns its answer; under a
// right-to-left program language the box is mirrored (its text at the right, its buttons in
// mirrored order) and its texts read right to left.
int ShowMessageBox(HWND owner, const std::wstring& text, UINT flags);
// True when a dialog template (DLGTEMPLATE or DLGTEMPLATEEX) has the mirrored layout.
bool TemplateIsRightToLeft(std::span<const uint8_t> dialogTemplate);
// A language id as the choice lists it: the system's name of the language and the id
// ("English (United States) - 1033"), or the id alone when the system has no name.
std::wstring LanguageDisplayName(uint32_t language);
// The language the choice starts with: the user's own when the image has it, else English
// (1033), else the one with most texts (the first of equals). `languages` is not empty.
size_t DefaultLanguageIndex(const std::vector<LanguageTexts>& languages, uint32_t userLanguage);
// The text of a string resource of the program, without the terminating zero it is stored
// with.
std::wstring ResourceText(UINT id);
// The text of a string resource with its "%1" replaced by a file's path.
std::wstring ResourceTextWithPath(UINT id, std::wstring_view path);

// The Smartphone shell's dialog set-up, which desktop Windows lacks; ui/shell_desktop.cpp
// puts the least in its place that the dialog relies on.
struct SHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
};
constexpr DWORD SHIDIM_FLAGS = 0x0001;
constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr DWORD SHIDIF_EMPTYMENU = 0x0020;

// SHIDIF_SIZEDLGFULLSCREEN: on the device the dialog fills the screen's work area; on a
// desktop it keeps its template's size, centred and resizable in width, unless the work area
// is too small for it. WM_SIZE lays it out. SHIDIF_DONEBUTTON: the caption's close button acts as
// Done and ends the dialog with IDOK. There is no menu bar, so SHIDIF_EMPTYMENU needs nothing.
BOOL SHInitDialog(SHINITDLGINFO* info);
// Makes a dialog that SHInitDialog made resizable `delta` pixels taller (shorter when
// negative) at its bottom, its fixed height with it; a dialog that fills the work area keeps
// its size.
void ChangeDialogHeight(HWND dialog, int delta);

}  // namespace quelvar::ui
