// The Smartphone shell's dialog set-up, for desktop Windows: the dialog fills the work area
// as it fills the device's screen, and the caption's close button plays the device's Done.
#include "ui/program.h"

namespace quelvar::ui {

namespace {

WNDPROC dialogWindowProc = nullptr;

// In front of the dialog's window procedure: a request to close the window becomes the Done
// command, IDOK, as the device's Done button sends it.
LRESULT CALLBACK DoneButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC next = dialogWindowProc;
    if (message == WM_CLOSE) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
        dialogWindowProc = nullptr;
    }
    return CallWindowProcW(next, window, message, wParam, lParam);
}

}  // namespace

BOOL SHInitDialog(SHINITDLGINFO* info) {
    if (info == nullptr || !(info->dwMask & SHIDIM_FLAGS) || !IsWindow(info->hDlg))
        return FALSE;
    HWND dialog = info->hDlg;
    if ((info->dwFlags & SHIDIF_DONEBUTTON) && dialogWindowProc == nullptr) {
        dialogWindowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DoneButtonProc)));
    }
    if (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN) {
        RECT work{};
        if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
            return FALSE;
        SetWindowPos(dialog, nullptr, work.left, work.top, work.right - work.left,
                     work.bottom - work.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
}

}  // namespace quelvar::ui
