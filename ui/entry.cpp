// The program's entry routine: finish a pending self-replacement, offer to finish one that
// did not end, or run the main dialog on the image path given by the command line.
#include <windows.h>

#include "ui/program.h"
#include "ui/resource.h"

using namespace quelvar::ui;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    ProgramInstance = instance;
    HRSRC found = FindResourceW(ProgramInstance, MAKEINTRESOURCEW(IDD_MAIN), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(ProgramInstance, found) : nullptr;
    const void* dialogTemplate = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (dialogTemplate == nullptr)
        return -1;
    // A right-to-left translation mirrors every window of the program: the message boxes and
    // the file choosers too.
    RightToLeftUi = TemplateIsRightToLeft(
        {static_cast<const uint8_t*>(dialogTemplate), SizeofResource(ProgramInstance, found)});
    if (RightToLeftUi)
        SetProcessDefaultLayout(LAYOUT_RTL);
    if (FinishSelfReplacement() != 0 || OfferUnfinishedUpdate() != 0)
        return 0;
    wchar_t folder[kPathUnits];
    DWORD folderLength = GetCurrentDirectoryW(kPathUnits, folder);
    StartFolder.assign(folder, folderLength < kPathUnits ? folderLength : 0);
    static wchar_t empty[1] = {0};
    const std::wstring imagePath =
        ResolvePath(NormaliseCommandLine(commandLine != nullptr ? commandLine : empty));

    return static_cast<int>(DialogBoxIndirectParamW(
        ProgramInstance, static_cast<LPCDLGTEMPLATEW>(dialogTemplate), nullptr, MainDialogProc,
        reinterpret_cast<LPARAM>(imagePath.c_str())));
}
