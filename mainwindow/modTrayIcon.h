#pragma once
// The main window's icon in the notification area: picture, tip, clicks.
#include <windows.h>

#include <string>

class frmMain;

namespace modTrayIcon {

constexpr UINT kCallbackMessage = 2025;

// ChangeWindowMessageFilterEx of user32, or nullptr where the system has none
// (before Windows 7 nothing needs it).
using MessageFilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
MessageFilterFunction SystemMessageFilter();

void AddTrayIcon(frmMain& form);
void SetTrayTip(const std::wstring& text);
void RefreshTrayIcon();
void RemoveTrayIcon();
// The tray hook (a window subclass): the icon's clicks, the rest passed on.
LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

// For the tests: the tip as last passed to the shell, whether the hook is in,
// and whether the icon was added and not removed since.
std::wstring CurrentTip();
bool Hooked();
bool Added();

}  // namespace modTrayIcon
