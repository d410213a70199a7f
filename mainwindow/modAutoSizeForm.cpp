#include "mainwindow/modAutoSizeForm.h"

#include <map>

#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"

namespace modAutoSizeForm {

namespace {

std::map<HWND, std::wstring>& Tags() {
    static std::map<HWND, std::wstring> tags;
    return tags;
}

WNDPROC g_previousProc = nullptr;
POINT g_minTrack{}, g_maxTrack{};

long WindowWidthTwips(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    return vb::PixelsToTwipsX(r.right - r.left);
}
long WindowHeightTwips(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    return vb::PixelsToTwipsY(r.bottom - r.top);
}

BOOL CALLBACK CollectChild(HWND child, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(child);
    return TRUE;
}

}  // namespace

void SetTag(HWND control, const std::wstring& tag) { Tags()[control] = tag; }

std::wstring GetTag(HWND control) {
    auto it = Tags().find(control);
    return it == Tags().end() ? std::wstring() : it->second;
}

void ResizeControls(LayoutRecords& layout, HWND form, bool reRecord, int mode) {
    if (IsIconic(form)) return;
    if (layout.count == 0 || reRecord) {
        // The window's controls in creation order, whatever box they sit in.
        std::vector<HWND> all;
        EnumChildWindows(form, CollectChild, reinterpret_cast<LPARAM>(&all));
        for (HWND c : all) {
            std::wstring tag = GetTag(c);
            if (tag.empty()) continue;
            RECT r = ui::ControlRectTwips(c);
            layout.records.push_back({r.top, r.left, r.bottom - r.top, r.right - r.left, tag});
            layout.controls.push_back(c);
            ++layout.count;
        }
        layout.height = WindowHeightTwips(form);
        layout.width = WindowWidthTwips(form);
    }
    const long dw = WindowWidthTwips(form) - layout.width;
    const long dh = WindowHeightTwips(form) - layout.height;
    const bool horizontal = mode == 0 || mode == 1, vertical = mode == 0 || mode == 2;
    for (int i = 1; i <= layout.count; ++i) {
        const ControlRecord& rec = layout.records[static_cast<size_t>(i)];
        HWND c = layout.controls[static_cast<size_t>(i)];
        ShowWindow(c, SW_HIDE);
        RECT r = ui::ControlRectTwips(c);
        long left = r.left, top = r.top, width = r.right - r.left, height = r.bottom - r.top;
        const std::wstring& t = rec.Tag;
        if (horizontal) {
            if (t == L"STRETCHH" || t == L"STRETCHALL" || t == L"STRETCHHMOVEV") width = rec.Width + dw;
            if (t == L"MOVEH" || t == L"MOVEALL" || t == L"STRETCHVMOVEH") left = rec.Left + dw;
        }
        if (vertical) {
            if (t == L"STRETCHV" || t == L"STRETCHALL" || t == L"STRETCHVMOVEH") height = rec.Height + dh;
            if (t == L"MOVEV" || t == L"N_MOVEV" || t == L"MOVEALL" || t == L"STRETCHHMOVEV") top = rec.Top + dh;
        }
        ui::MoveControl(c, left, top, width < 0 ? 0 : width, height < 0 ? 0 : height);
        if (t != L"N_MOVEV") ShowWindow(c, SW_SHOWNA);
    }
}

void SetFormSizeLimits(HWND form, long minWidthTwips, long minHeightTwips) {
    g_minTrack.x = minWidthTwips / vb::TwipsPerPixelX();
    g_minTrack.y = minHeightTwips / vb::TwipsPerPixelY();
    g_maxTrack.x = GetSystemMetrics(SM_CXSCREEN);
    g_maxTrack.y = GetSystemMetrics(SM_CYSCREEN);
    HookForm(form);
}

void HookForm(HWND form) {
    g_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc)));
}

void RemoveHook(HWND form) {
    if (!g_previousProc) return;
    SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previousProc));
    g_previousProc = nullptr;
}

void UnhookForm(HWND form) { RemoveHook(form); }

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_GETMINMAXINFO) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = g_minTrack;
        info->ptMaxTrackSize = g_maxTrack;
        return 0;
    }
    if (!g_previousProc) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return CallWindowProcW(g_previousProc, hwnd, msg, wParam, lParam);
}

}  // namespace modAutoSizeForm
