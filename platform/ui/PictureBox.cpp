#include "platform/ui/PictureBox.h"

#include <algorithm>

#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"

namespace ui {

namespace {

constexpr const wchar_t* kPictureClass = L"MorvixPicture";

struct Backing {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    int width = 0, height = 0;
    COLORREF back = 0;

    void Release() {
        if (dc) {
            SelectObject(dc, previous);
            DeleteDC(dc);
        }
        if (bitmap) DeleteObject(bitmap);
        dc = nullptr;
        bitmap = nullptr;
    }
    // A bitmap of the new size keeps the old picture in its top left corner.
    void Resize(HWND box, int w, int h) {
        w = std::max(w, 1);
        h = std::max(h, 1);
        if (dc && w == width && h == height) return;
        HDC screen = GetDC(box);
        HDC newDc = CreateCompatibleDC(screen);
        HBITMAP newBitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(box, screen);
        HGDIOBJ newPrevious = SelectObject(newDc, newBitmap);
        RECT all{0, 0, w, h};
        HBRUSH brush = CreateSolidBrush(back);
        FillRect(newDc, &all, brush);
        DeleteObject(brush);
        if (dc) BitBlt(newDc, 0, 0, std::min(w, width), std::min(h, height), dc, 0, 0, SRCCOPY);
        Release();
        dc = newDc;
        bitmap = newBitmap;
        previous = newPrevious;
        width = w;
        height = h;
    }
};

Backing* BackingOf(HWND box) { return reinterpret_cast<Backing*>(GetWindowLongPtrW(box, GWLP_USERDATA)); }

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Backing* b = BackingOf(hwnd);
    switch (msg) {
    case WM_SIZE:
        if (b) b->Resize(hwnd, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the backing covers the whole box
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (b && b->dc)
            BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                   ps.rcPaint.bottom - ps.rcPaint.top, b->dc, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        if (b) {
            b->Release();
            delete b;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        }
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

HWND CreatePictureBox(HWND parent, long left, long top, long width, long height, int id, unsigned long backColour) {
    static const bool registered = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = PictureProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kPictureClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    HWND box = CreateControl(parent, kPictureClass, L"", WS_VISIBLE | WS_CLIPSIBLINGS, left, top, width, height, id);
    if (!box) return nullptr;
    auto* b = new Backing;
    b->back = vb::TranslateColor(backColour);
    SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b));
    RECT r;
    GetClientRect(box, &r);
    b->Resize(box, r.right, r.bottom);
    return box;
}

HDC PictureDC(HWND box) {
    wchar_t name[32] = {};
    if (!box || !GetClassNameW(box, name, 32) || lstrcmpW(name, kPictureClass) != 0) return nullptr;
    Backing* b = BackingOf(box);
    return b ? b->dc : nullptr;
}

void RefreshPicture(HWND box) {
    if (box) InvalidateRect(box, nullptr, FALSE);
}

}  // namespace ui
