#pragma once
// The main window's icon in the notification area: picture, tip, clicks.
#include <windows.h>

#include <string>

class frmMain;

namespace modTrayIcon {

constexpr UINT kCallbackMessage = 2025;

void AddTrayIcon(frmMain& form);
void SetTrayTip(const std::wstring& text);
void RefreshTrayIcon();
void RemoveTrayIcon();
LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// For the tests: the tip as last passed to the shell, and whether the hook is in.
std::wstring CurrentTip();
bool Hooked();

}  // namespace modTrayIcon
