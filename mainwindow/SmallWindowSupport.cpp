#include "mainwindow/SmallWindowSupport.h"

#include <algorithm>

#include "mainwindow/frmMain.h"
#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"

namespace smallwin {

void Place(HWND window, long clientWidth, long clientHeight, HWND owner) {
    if (owner) SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    RECT frame{0, 0, vb::TwipsToPixelsX(clientWidth), vb::TwipsToPixelsY(clientHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT around{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (owner && !IsIconic(owner) && IsWindowVisible(owner)) GetWindowRect(owner, &around);
    const int left = around.left + ((around.right - around.left) - width) / 2;
    const int top = around.top + ((around.bottom - around.top) - height) / 2;
    SetWindowPos(window, nullptr, std::max(0, left), std::max(0, top), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void ApplyTopmostRule(HWND window) {
    if (!frmMain::Exists()) return;
    HWND box = frmMain::Instance().chkAlwaysOnTop;
    if (box && ui::GetCheck(box) == 1)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

HICON ProgramIcon() {
    static HICON icon =
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101), IMAGE_ICON, 16, 16, 0));
    return icon;
}

void SetWindowIcon(HWND window, HICON icon) {
    if (!icon) return;
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

}  // namespace smallwin
