#pragma once
// Keeps a resizable window's tagged controls in place as the window changes
// size, and keeps the window between a minimum and a maximum size.
#include <windows.h>

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

// Tags are held per control; "STRETCHALL", "MOVEH" ... (exact, case-sensitive).
void SetTag(HWND control, const std::wstring& tag);
std::wstring GetTag(HWND control);

void ResizeControls(LayoutRecords& layout, HWND form, bool reRecord, int mode);
void SetFormSizeLimits(HWND form, long minWidthTwips, long minHeightTwips);
void UnhookForm(HWND form);
void HookForm(HWND form);
void RemoveHook(HWND form);
LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace modAutoSizeForm
