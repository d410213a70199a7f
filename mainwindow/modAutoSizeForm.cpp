#include "mainwindow/modAutoSizeForm.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace modAutoSizeForm {

namespace {

constexpr UINT_PTR kHookId = 0x4153;  // this module's subclass on the window it watches

std::map<HWND, std::wstring>& Tags() {
    static std::map<HWND, std::wstring> tags;
    return tags;
}

HWND g_hookedWindow = nullptr;
POINT g_minTrack{}, g_maxTrack{};

SIZE WindowSizeTwips(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return SIZE{vb::PixelsToTwipsX(r.right - r.left), vb::PixelsToTwipsY(r.bottom - r.top)};
}

BOOL CALLBACK CollectChild(HWND child, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(child);
    return TRUE;
}

long Checked(long long value) {
    if (value < -2147483647LL - 1 || value > 2147483647LL) throw vb::Error(6);
    return static_cast<long>(value);
}

// One place of a control, computed from its record.
struct Placement {
    HWND control;
    long left, top, width, height;
    bool show, hide;
};

void Apply(HWND parent, const std::vector<Placement>& batch) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    HDWP dwp = BeginDeferWindowPos(static_cast<int>(batch.size()));
    for (const Placement& p : batch) {
        if (GetParent(p.control) != parent) continue;
        // Visibility changes only where it must: a shown control is not shown again.
        const bool visible = (GetWindowLongPtrW(p.control, GWL_STYLE) & WS_VISIBLE) != 0;
        UINT f = flags | (p.show && !visible ? SWP_SHOWWINDOW : 0) | (p.hide && visible ? SWP_HIDEWINDOW : 0);
        int x = vb::TwipsToPixelsX(p.left), y = vb::TwipsToPixelsY(p.top);
        int cx = vb::TwipsToPixelsX(p.width < 0 ? 0 : p.width), cy = vb::TwipsToPixelsY(p.height < 0 ? 0 : p.height);
        if (dwp) dwp = DeferWindowPos(dwp, p.control, nullptr, x, y, cx, cy, f);
        if (!dwp) SetWindowPos(p.control, nullptr, x, y, cx, cy, f);  // the batch failed: one by one
    }
    if (dwp) EndDeferWindowPos(dwp);
}

}  // namespace

void SetTag(HWND control, const std::wstring& tag) {
    if (tag.empty())
        Tags().erase(control);
    else
        Tags()[control] = tag;
}

std::wstring GetTag(HWND control) {
    auto it = Tags().find(control);
    return it == Tags().end() ? std::wstring() : it->second;
}

void ResizeControls(LayoutRecords& layout, HWND form, bool reRecord, int mode,
                    const std::function<bool(HWND)>& staysHidden) {
    if (IsIconic(form)) return;
    if (layout.count == 0 || reRecord) {
        // The window's controls in creation order, whatever box they sit in;
        // records taken again are appended after the existing ones.
        std::vector<HWND> all;
        EnumChildWindows(form, CollectChild, reinterpret_cast<LPARAM>(&all));
        for (HWND c : all) {
            std::wstring tag = GetTag(c);
            if (tag.empty()) continue;
            if (layout.count == 32767) throw vb::Error(6);
            RECT r = ui::ControlRectTwips(c);
            layout.records.push_back({r.top, r.left, r.bottom - r.top, r.right - r.left, tag});
            layout.controls.push_back(c);
            ++layout.count;
        }
        SIZE size = WindowSizeTwips(form);
        layout.height = size.cy;
        layout.width = size.cx;
    }
    const SIZE now = WindowSizeTwips(form);
    const long long dw = static_cast<long long>(now.cx) - layout.width;
    const long long dh = static_cast<long long>(now.cy) - layout.height;
    const bool horizontal = mode == 0 || mode == 1, vertical = mode == 0 || mode == 2;

    // Places by container, in record order; each container's controls move in one batch.
    std::vector<HWND> parents;
    std::vector<Placement> placements;
    for (int i = 1; i <= layout.count; ++i) {
        const ControlRecord& rec = layout.records[static_cast<size_t>(i)];
        HWND c = layout.controls[static_cast<size_t>(i)];
        if (!IsWindow(c)) continue;  // a control that has gone keeps no place
        RECT r = ui::ControlRectTwips(c);
        Placement p{c, r.left, r.top, r.right - r.left, r.bottom - r.top, false, false};
        const std::wstring& t = rec.Tag;
        if (horizontal) {
            if (t == L"STRETCHH" || t == L"STRETCHALL" || t == L"STRETCHHMOVEV") p.width = Checked(rec.Width + dw);
            if (t == L"MOVEH" || t == L"MOVEALL" || t == L"STRETCHVMOVEH") p.left = Checked(rec.Left + dw);
        }
        if (vertical) {
            if (t == L"STRETCHV" || t == L"STRETCHALL" || t == L"STRETCHVMOVEH") p.height = Checked(rec.Height + dh);
            if (t == L"MOVEV" || t == L"N_MOVEV" || t == L"MOVEALL" || t == L"STRETCHHMOVEV")
                p.top = Checked(rec.Top + dh);
        }
        if (t == L"N_MOVEV")
            p.hide = true;
        else
            p.show = !(staysHidden && staysHidden(c));
        HWND parent = GetParent(c);
        if (std::find(parents.begin(), parents.end(), parent) == parents.end()) parents.push_back(parent);
        placements.push_back(p);
    }
    for (HWND parent : parents) Apply(parent, placements);
}

void SetFormSizeLimits(HWND form, long minWidthTwips, long minHeightTwips) {
    const long tx = vb::TwipsPerPixelX(), ty = vb::TwipsPerPixelY();
    if (tx == 0 || ty == 0) throw vb::Error(11);
    g_minTrack.x = minWidthTwips / tx;
    g_minTrack.y = minHeightTwips / ty;
    g_maxTrack.x = vb::PixelsToTwipsX(GetSystemMetrics(SM_CXSCREEN)) / tx;
    g_maxTrack.y = vb::PixelsToTwipsY(GetSystemMetrics(SM_CYSCREEN)) / ty;
    HookForm(form);
    // The minimum holds from now on, also for a window that is smaller already.
    RECT r{};
    GetWindowRect(form, &r);
    if (!IsIconic(form) && !IsZoomed(form) && (r.right - r.left < g_minTrack.x || r.bottom - r.top < g_minTrack.y))
        SetWindowPos(form, nullptr, 0, 0, std::max<LONG>(r.right - r.left, g_minTrack.x),
                     std::max<LONG>(r.bottom - r.top, g_minTrack.y), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void HookForm(HWND form) {
    // One hook for the one window watched: moving to another window takes it off the first.
    if (g_hookedWindow && g_hookedWindow != form) RemoveHook(g_hookedWindow);
    if (SetWindowSubclass(form, WindowProc, kHookId, 0)) g_hookedWindow = form;
}

void RemoveHook(HWND form) {
    if (!g_hookedWindow) return;
    RemoveWindowSubclass(form, WindowProc, kHookId);
    g_hookedWindow = nullptr;
}

void UnhookForm(HWND form) { RemoveHook(form); }

bool Hooked() { return g_hookedWindow != nullptr; }
POINT MinTrackSize() { return g_minTrack; }
POINT MaxTrackSize() { return g_maxTrack; }

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_GETMINMAXINFO) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = g_minTrack;
        // A maximised window is a frame's width larger than the screen on
        // each side: the largest track size leaves room for it, so that the
        // window fills the work area.
        info->ptMaxTrackSize.x = std::max(g_maxTrack.x, info->ptMaxSize.x);
        info->ptMaxTrackSize.y = std::max(g_maxTrack.y, info->ptMaxSize.y);
        return 0;
    }
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, WindowProc, id);
        if (g_hookedWindow == hwnd) g_hookedWindow = nullptr;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace modAutoSizeForm
