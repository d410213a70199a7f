#pragma once
// What the small windows (frmNewProcess, frmAbout, frmHelp) share: placing a
// window by its client size in twips, the main window's on-top rule, icons.
#include <windows.h>

namespace smallwin {

// Gives the window its owner (when given), a client area of the size in
// twips, and centres it on the owner, or on the screen without one.
void Place(HWND window, long clientWidth, long clientHeight, HWND owner = nullptr);

// Read once while a small window loads: with the main window's "窗口置顶"
// ticked the window becomes topmost.  Later changes do not reach it.
void ApplyTopmostRule(HWND window);

HICON ProgramIcon();  // icon resource 101, 16 x 16; shared, never destroyed
void SetWindowIcon(HWND window, HICON icon);

}  // namespace smallwin
