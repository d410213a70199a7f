#pragma once
// Keeps a resizable window's tagged controls in place as the window changes
// size, and keeps the window itself between a minimum and a maximum size.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace modAutoSizeForm {

struct ControlRecord {
    long Top = 0, Left = 0, Height = 0, Width = 0;  // twips within the control's container
    std::wstring Tag;
};

// The layout state of one window; the window owns it and passes it on every call.
struct LayoutRecords {
    std::vector<ControlRecord> records{1};  // index 0 unused
    std::vector<HWND> controls{1};
    long width = 0, height = 0;  // the window's outer size in twips when recorded
    short count = 0;
};

// Tags are held per control: "STRETCHH", "STRETCHV", "STRETCHALL", "MOVEH",
// "MOVEV", "N_MOVEV", "MOVEALL", "STRETCHVMOVEH", "STRETCHHMOVEV" (exact,
// case-sensitive); any other non-empty tag is recorded and left in place.
void SetTag(HWND control, const std::wstring& tag);
std::wstring GetTag(HWND control);

// Lays the window's tagged controls out for its current size: mode 0 both
// directions, 1 only horizontal, 2 only vertical.  The first call (or one
// with reRecord) records the controls and the window's size as the reference.
// All controls of one container move in one batch, without being hidden on
// the way: at the end every recorded control is shown except those tagged
// "N_MOVEV", which are hidden, and those for which staysHidden answers true
// (the caller hides them next: a page or a panel that is not on show).
void ResizeControls(LayoutRecords& layout, HWND form, bool reRecord, int mode,
                    const std::function<bool(HWND)>& staysHidden = {});

// Minimum size in twips; the maximum is the screen's size.  Installs the size hook.
void SetFormSizeLimits(HWND form, long minWidthTwips, long minHeightTwips);
// Removes the size hook; does nothing when it is not installed.
void UnhookForm(HWND form);
// Installing twice keeps one hook; hooks of other modules may come and go in
// any order around it.
void HookForm(HWND form);
void RemoveHook(HWND form);
bool Hooked();
// The size limits in pixels as the hook hands them to the system.
POINT MinTrackSize();
POINT MaxTrackSize();

// The hook (a window subclass): answers WM_GETMINMAXINFO, passes the rest on.
LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

}  // namespace modAutoSizeForm
