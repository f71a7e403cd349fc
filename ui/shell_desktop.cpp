// The Smartphone shell's dialog set-up, for desktop Windows: the dialog keeps the size of its
// template, centred and resizable in width (up to the work area's, never maximised), and fills
// the work area only where the screen is too small for it, as on a handheld; the caption's
// close button plays the device's Done.
#include "ui/program.h"

#include <algorithm>

namespace quelvar::ui {

namespace {

WNDPROC dialogWindowProc = nullptr;
bool closeIsDone = false;
// The window's least width and its one height while it is resizable; zero when it is not.
SIZE trackSize{};

// The work area of the monitor that holds most of the window.
RECT WorkArea(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
        return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return monitor.rcWork;
}

// In front of the dialog's window procedure: a request to close the window becomes the Done
// command, IDOK, as the device's Done button sends it (SHIDIF_DONEBUTTON), and a resizable
// dialog changes only its width, never below its template's nor beyond the work area's, and
// is never maximised (a window manager may offer it all the same).
LRESULT CALLBACK ShellProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC next = dialogWindowProc;
    if (message == WM_CLOSE && closeIsDone) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (message == WM_GETMINMAXINFO && trackSize.cx > 0) {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        RECT work = WorkArea(window);
        const LONG widest = std::max(trackSize.cx, work.right - work.left);
        limits->ptMinTrackSize = {trackSize.cx, trackSize.cy};
        limits->ptMaxTrackSize = {widest, trackSize.cy};
        limits->ptMaxSize = {widest, trackSize.cy};
        return 0;
    }
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MAXIMIZE && trackSize.cx > 0)
        return 0;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
        dialogWindowProc = nullptr;
        closeIsDone = false;
        trackSize = {};
    }
    return CallWindowProcW(next, window, message, wParam, lParam);
}

// Gives the dialog a sizing frame around its client area as it is, centred on the work area;
// false when it would not fit there.
bool CentreResizable(HWND dialog, const RECT& work) {
    RECT client{};
    GetClientRect(dialog, &client);
    LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    SetWindowLongPtrW(dialog, GWL_STYLE,
                      (style | WS_THICKFRAME) & ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX));
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    // The frame as the system draws it: the window less its client area.
    RECT window{}, inner{};
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &inner);
    int width = client.right + (window.right - window.left) - inner.right;
    int height = client.bottom + (window.bottom - window.top) - inner.bottom;
    if (width > work.right - work.left || height > work.bottom - work.top) {
        SetWindowLongPtrW(dialog, GWL_STYLE, style);
        return false;
    }
    trackSize = {width, height};
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return true;
}

}  // namespace

BOOL SHInitDialog(SHINITDLGINFO* info) {
    if (info == nullptr || !(info->dwMask & SHIDIM_FLAGS) || !IsWindow(info->hDlg))
        return FALSE;
    HWND dialog = info->hDlg;
    closeIsDone = (info->dwFlags & SHIDIF_DONEBUTTON) != 0;
    if (dialogWindowProc == nullptr) {
        dialogWindowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ShellProc)));
    }
    if (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN) {
        const RECT work = WorkArea(dialog);
        if (!CentreResizable(dialog, work)) {
            SetWindowPos(dialog, nullptr, work.left, work.top, work.right - work.left,
                         work.bottom - work.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    return TRUE;
}

void ChangeDialogHeight(HWND dialog, int delta) {
    if (trackSize.cx == 0 || delta == 0)
        return;
    trackSize.cy += delta;
    RECT window{};
    GetWindowRect(dialog, &window);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, trackSize.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quelvar::ui
