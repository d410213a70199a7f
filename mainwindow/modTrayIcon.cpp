#include "mainwindow/modTrayIcon.h"

#include <shellapi.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/VbError.h"

namespace modTrayIcon {

namespace {

NOTIFYICONDATAW g_record{};
WNDPROC g_previousProc = nullptr;

}  // namespace

void AddTrayIcon(frmMain& form) {
    HWND hwnd = form.hWnd();
    g_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayWindowProc)));
    g_record = NOTIFYICONDATAW{};
    g_record.cbSize = NOTIFYICONDATAW_V1_SIZE;
    g_record.hWnd = hwnd;
    g_record.uID = 0;
    g_record.hIcon = form.picTrayIcon;
    g_record.uCallbackMessage = kCallbackMessage;
    g_record.uFlags = NIF_MESSAGE | NIF_ICON;
    Shell_NotifyIconW(NIM_ADD, &g_record);
}

void SetTrayTip(const std::wstring& text) {
    // Padded with blanks to 64 characters and cut there; the shell gets the
    // caller's text without the padding, which is what the user sees anyway.
    std::wstring tip = text.substr(0, 63);
    wcsncpy(g_record.szTip, tip.c_str(), 63);
    g_record.szTip[63] = L'\0';
    g_record.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &g_record);
}

void RefreshTrayIcon() {
    if (frmMain::Exists()) g_record.hIcon = frmMain::Instance().picTrayIcon;
    g_record.uFlags = NIF_ICON;
    Shell_NotifyIconW(NIM_MODIFY, &g_record);
}

void RemoveTrayIcon() {
    g_record.uFlags = 0;
    Shell_NotifyIconW(NIM_DELETE, &g_record);
    if (g_previousProc) {
        SetWindowLongPtrW(g_record.hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previousProc));
        g_previousProc = nullptr;
    }
}

std::wstring CurrentTip() { return g_record.szTip; }
bool Hooked() { return g_previousProc != nullptr; }

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kCallbackMessage && (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP)) {
        vb::Try([&] {
            frmMain& form = frmMain::Instance();
            if (lParam == WM_LBUTTONUP) {
                form.mnuTrayDisplay_Click();  // the same toggle as the menu's show/hide
            } else {
                SetForegroundWindow(hwnd);
                form.PopupMenu(form.menus().tray);
            }
        });
        return 0;
    }
    if (!g_previousProc) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return CallWindowProcW(g_previousProc, hwnd, msg, wParam, lParam);
}

}  // namespace modTrayIcon
