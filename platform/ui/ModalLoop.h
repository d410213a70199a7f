#pragma once
// What the small windows need beyond the window base: showing a window modal
// over its owner, and the dialog keys (Tab, Enter, Esc) for a window that is
// not a dialog.
#include <windows.h>

namespace ui {

// Disables owner (when given and enabled), runs a nested message loop through
// the program's dispatch until window is destroyed, then enables the owner
// again and activates it.  A quit met inside is posted again for the outer loop.
void RunModal(HWND window, HWND owner);

// Tab moves between the controls of form, Enter sends WM_COMMAND IDOK (or
// clicks the focused button) and Esc WM_COMMAND IDCANCEL.  Active while form
// exists; the returned id removes it earlier (vb::RemoveMessageFilter).
int AddDialogKeys(HWND form);

// Height in pixels that text needs in control's own font at the control's
// client width (wrapped when wrap is set), and the width of its widest line.
SIZE MeasureText(HWND control, bool wrap);

}  // namespace ui
