// The two ends of the self-replacement hand-over. The program that imported into its own file
// starts the update copy and ends; the copy moves itself over the old file, retrying while the
// old process still holds it, and ends without a window. The two processes meet only through
// the file system. A hand-over that could not finish is said by the copy and offered again by
// the program's next start.
#include <filesystem>

#include "driver/driver.h"
#include "platform/platform.h"
#include "ui/program.h"
#include "ui/resource.h"

namespace quelvar::ui {

HINSTANCE ProgramInstance = nullptr;
std::wstring StartFolder;
bool RightToLeftUi = false;

namespace {

// The own path, or an empty text (with the reason for GetLastError) when the system gives
// none or it does not fit a path buffer whole.
std::wstring OwnPath() {
    wchar_t buffer[kPathUnits];
    DWORD n = GetModuleFileNameW(ProgramInstance, buffer, kPathUnits);
    if (n == 0)
        return {};
    if (n >= kPathUnits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    return std::wstring(buffer, n);
}

// The suffix of update copies, as the system's wide texts spell it.
const std::wstring& CopySuffix() {
    static const std::wstring suffix = std::filesystem::path(kUpdateCopySuffix).wstring();
    return suffix;
}

// True when the file `path` was last written after the file `than`.
bool IsNewer(const std::wstring& path, const std::wstring& than) {
    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a) &&
           GetFileAttributesExW(than.c_str(), GetFileExInfoStandard, &b) &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) > 0;
}

}  // namespace

bool IsUpdateCopyPath(std::wstring_view path) {
    const std::wstring& suffix = CopySuffix();
    if (path.size() < suffix.size())
        return false;
    std::wstring_view end = path.substr(path.size() - suffix.size());
    for (size_t i = 0; i < end.size(); ++i) {
        wchar_t a = end[i], b = suffix[i];
        if (a >= L'a' && a <= L'z')
            a = static_cast<wchar_t>(a - L'a' + L'A');
        if (a != b)
            return false;
    }
    return true;
}

wchar_t* NormaliseCommandLine(wchar_t* commandLine) {
    if (commandLine[0] != L'"')
        return commandLine;
    size_t last = wcslen(commandLine) - 1;
    if (commandLine[last] == L'"')
        commandLine[last] = L'\0';
    return commandLine + 1;
}

bool ReplaceWithRetries(const std::wstring& source, const std::wstring& target, int attempts,
                        DWORD pauseMs) {
    // One step: the old file stays in place until the new one takes its name.
    for (int i = 0; i < attempts; ++i) {
        if (platform::ReplacePath(source, target) == kSuccess)
            return true;
        if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
        Sleep(pauseMs);
    }
    return false;
}

int FinishSelfReplacement() {
    std::wstring source = OwnPath();
    if (!IsUpdateCopyPath(source))
        return 0;
    std::wstring target = source.substr(0, source.size() - CopySuffix().size());
    // Another copy may have finished the hand-over meanwhile: then nothing is left to say.
    if (!ReplaceWithRetries(source, target, kReplaceAttempts, kReplacePauseMs) &&
        GetFileAttributesW(source.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ShowMessageBox(nullptr, ResourceTextWithPath(IDS_UPDATE_NOT_FINISHED, source),
                       MB_ICONWARNING);
    }
    return 1;
}

int OfferUnfinishedUpdate() {
    std::wstring own = OwnPath();
    if (own.empty())
        return 0;
    std::wstring copy = UpdateCopyPath(own).wstring();
    if (!FitsPathBuffer(copy) || !IsNewer(copy, own) || !quelvar::IsCompleteImage(copy))
        return 0;
    if (ShowMessageBox(nullptr, ResourceTextWithPath(IDS_FINISH_UPDATE, copy),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 0;
    if (StartUpdateCopy() == 0)
        return 1;
    DWORD code = GetLastError();
    Failure failure{code != 0 ? code : static_cast<Result>(ERROR_BAD_EXE_FORMAT),
                    FailureCause::None, copy};
    ShowMessageBox(nullptr, FailureMessage(failure), MB_ICONERROR);
    return 0;
}

int StartUpdateCopy() {
    std::wstring own = OwnPath();
    if (own.empty())
        return 1;
    std::wstring copy = UpdateCopyPath(own).wstring();
    if (!FitsPathBuffer(copy)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 1;
    }
    wchar_t commandLine[1] = {L'\0'};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(copy.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

namespace {

// Exports from the own file (`import` false) or imports into its update copy.
Failure ProcessSelf(const std::filesystem::path& languagePath, bool import, uint32_t language) {
    std::wstring own = OwnPath();
    if (own.empty())
        return Failure{GetLastError() == ERROR_FILENAME_EXCED_RANGE ? kErrorFilenameExcedRange
                                                                    : kErrorFileNotFound,
                       FailureCause::None,
                       {}};
    // The update copy's path, with its terminating zero, must fit a path buffer.
    std::filesystem::path copy = UpdateCopyPath(own);
    if (import && !FitsPathBuffer(copy.wstring()))
        return Failure{kErrorFilenameExcedRange, FailureCause::None, {}};
    Options options;
    options.languageFilter = language;
    Outcome<> done =
        import ? Import(own, languagePath, copy, options) : Export(own, languagePath, options);
    return done ? Failure{} : done.error();
}

}  // namespace

Failure ExportSelf(const std::filesystem::path& languagePath, uint32_t language) {
    return ProcessSelf(languagePath, false, language);
}

Failure ImportSelf(const std::filesystem::path& languagePath, uint32_t language) {
    return ProcessSelf(languagePath, true, language);
}

}  // namespace quelvar::ui
