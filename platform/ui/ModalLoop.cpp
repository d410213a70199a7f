#include "platform/ui/ModalLoop.h"

#include <string>

#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"

namespace ui {

void RunModal(HWND window, HWND owner) {
    const bool disableOwner = owner && IsWindowEnabled(owner) && owner != window;
    if (disableOwner) EnableWindow(owner, FALSE);
    {
        vb::NestedLoopScope nested;
        MSG msg;
        while (IsWindow(window)) {
            BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got <= 0) {
                // The outer loop ends the program; this window goes with it.
                PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 0);
                if (IsWindow(window)) DestroyWindow(window);
                break;
            }
            vb::DispatchOne(msg);
        }
    }
    if (disableOwner && IsWindow(owner)) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    }
}

int AddDialogKeys(HWND form) {
    return vb::AddMessageFilter([form](MSG& msg) {
        if (!IsWindow(form)) return false;
        if (msg.hwnd != form && !IsChild(form, msg.hwnd)) return false;
        return IsDialogMessageW(form, &msg) != FALSE;
    });
}

SIZE MeasureText(HWND control, bool wrap) {
    std::wstring text = GetText(control);
    RECT client{};
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    RECT r{0, 0, wrap ? client.right : 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : 0));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace ui
