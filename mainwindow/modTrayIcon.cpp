#include "mainwindow/modTrayIcon.h"

#include <commctrl.h>
#include <shellapi.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/VbError.h"

namespace modTrayIcon {

namespace {

NOTIFYICONDATAW g_record{};
constexpr UINT_PTR kHookId = 0x5452;  // this module's subclass of the main window
bool g_hooked = false;
bool g_added = false;  // the icon is in the notification area (as far as we know)

// Sent to every top-level window when the shell (re)creates its task bar.
UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

}  // namespace

MessageFilterFunction SystemMessageFilter() {
    return reinterpret_cast<MessageFilterFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
}

void AddTrayIcon(frmMain& form) {
    HWND hwnd = form.hWnd();
    // A subclass: installing twice keeps one hook, and the size hook may come
    // off before or after this one.
    if (SetWindowSubclass(hwnd, TrayWindowProc, kHookId, 0)) g_hooked = true;
    // Started with raised rights, the window would never hear that the shell,
    // which runs with the user's lower rights, has restarted.
    if (form.changeMessageFilter) form.changeMessageFilter(hwnd, TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    g_record = NOTIFYICONDATAW{};
    g_record.cbSize = NOTIFYICONDATAW_V1_SIZE;
    g_record.hWnd = hwnd;
    g_record.uID = 0;
    g_record.hIcon = form.picTrayIcon;
    g_record.uCallbackMessage = kCallbackMessage;
    g_record.uFlags = NIF_MESSAGE | NIF_ICON;
    Shell_NotifyIconW(NIM_ADD, &g_record);
    g_added = true;
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
    if (g_added) {
        g_record.uFlags = 0;
        Shell_NotifyIconW(NIM_DELETE, &g_record);
        g_added = false;
    }
    if (g_hooked) {
        RemoveWindowSubclass(g_record.hWnd, TrayWindowProc, kHookId);
        g_hooked = false;
    }
}

std::wstring CurrentTip() { return g_record.szTip; }
bool Added() { return g_added; }
bool Hooked() { return g_hooked; }

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
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
    if (msg == TaskbarCreatedMessage() && msg != 0 && g_added) {
        // The shell restarted and forgot the icon: add it again as it stands.
        NOTIFYICONDATAW again = g_record;
        again.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        Shell_NotifyIconW(NIM_ADD, &again);
    }
    if (msg == WM_NCDESTROY && g_hooked) {
        RemoveWindowSubclass(hwnd, TrayWindowProc, kHookId);
        g_hooked = false;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace modTrayIcon
