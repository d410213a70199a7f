#include "mainwindow/ucDiagram.h"

#include <cmath>
#include <cwchar>
#include <limits>

#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

constexpr int kSurfaceOverhang = 8;  // pixels of the surface left of the control

// A number as a 16-bit property takes it: rounded, halves to even; error 6 beyond.
short ToInteger(double value) {
    if (!std::isfinite(value)) throw vb::Error(6);
    long long r = vb::RoundHalfEven(value);
    if (r < -32768 || r > 32767) throw vb::Error(6);
    return static_cast<short>(r);
}

short ToInteger(const std::wstring& text) {
    const wchar_t* begin = text.c_str();
    while (*begin == L' ') ++begin;
    wchar_t* end = nullptr;
    double value = std::wcstod(begin, &end);
    if (end == begin) throw vb::Error(13);
    while (*end == L' ') ++end;
    if (*end != L'\0') throw vb::Error(13);
    return ToInteger(value);
}

int ToPixelsX(double twips) { return static_cast<int>(vb::RoundHalfEven(twips / vb::TwipsPerPixelX())); }
int ToPixelsY(double twips) { return static_cast<int>(vb::RoundHalfEven(twips / vb::TwipsPerPixelY())); }

}  // namespace

// The instance arrives with WM_NCCREATE and is forgotten at WM_NCDESTROY.
LRESULT CALLBACK ucDiagram::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<ucDiagram*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<ucDiagram*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    return self->WndProc(msg, wParam, lParam);
}

ucDiagram::~ucDiagram() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    ReleaseSurface();
}

HWND ucDiagram::Create(HWND parent, long left, long top, long width, long height, const vb::PropertyBag& bag,
                       int id) {
    static const bool registered = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = StaticProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) return nullptr;
    CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, vb::TwipsToPixelsX(left),
                    vb::TwipsToPixelsY(top), vb::TwipsToPixelsX(width), vb::TwipsToPixelsY(height), parent,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), this);
    if (!hwnd_) return nullptr;
    UserControl_ReadProperties(bag);
    UserControl_Resize();
    return hwnd_;
}

LRESULT ucDiagram::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        if (!points_.empty()) UserControl_Resize();  // from the reading of the properties on
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        Paint(dc);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

// The surface as last drawn, shifted 8 pixels left; before the first drawing
// the control shows its own background.
void ucDiagram::Paint(HDC dc) {
    RECT client;
    GetClientRect(hwnd_, &client);
    if (drawn_ && surfaceDc_) {
        BitBlt(dc, -kSurfaceOverhang, 0, surfaceWidth_, surfaceHeight_, surfaceDc_, 0, 0, SRCCOPY);
        return;
    }
    HBRUSH brush = CreateSolidBrush(vb::TranslateColor(backColor_));
    FillRect(dc, &client, brush);
    DeleteObject(brush);
}

// ---- properties ----

void ucDiagram::SetAppearance(short value) {
    appearance_ = value;
    ApplyBorder();
    Changed(L"Appearance");
}

void ucDiagram::SetBorderStyle(short value) {
    borderStyle_ = value;
    ApplyBorder();
    Changed(L"BorderStyle");
}

void ucDiagram::SetDrawWidth(short value) {
    drawWidth_ = value;
    Changed(L"DrawWidth");
}

void ucDiagram::SetGridTickHorizontal(double value) {
    gridTickHorizontal_ = ToInteger(value);
    Changed(L"GridTickHorizontal");
}

void ucDiagram::SetGridTickHorizontal(const std::wstring& value) {
    gridTickHorizontal_ = ToInteger(value);
    Changed(L"GridTickHorizontal");
}

void ucDiagram::SetGridTickVertical(double value) {
    gridTickVertical_ = ToInteger(value);
    Changed(L"GridTickVertical");
}

void ucDiagram::SetGridTickVertical(const std::wstring& value) {
    gridTickVertical_ = ToInteger(value);
    Changed(L"GridTickVertical");
}

void ucDiagram::SetNumberOfPoints(long value) {
    numberOfPoints_ = value;  // the buffer keeps the size it was given at load
    Changed(L"NumberOfPoints");
}

void ucDiagram::SetBackColor(unsigned long value) {
    backColor_ = value;  // the control's own background; the chart area keeps its colour
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
    Changed(L"BackColor");
}

void ucDiagram::SetGridColour(unsigned long value) {
    gridColour_ = value;
    Changed(L"GridColour");
}

void ucDiagram::SetMax(long value) {
    max_ = value;
    Changed(L"Max");
}

void ucDiagram::SetForeColor(unsigned long value) {
    foreColor_ = value;
    Changed(L"ForeColor");
}

// Border style 1 draws a border: sunken with appearance 1 (3-D), a single line with 0 (flat).
void ucDiagram::ApplyBorder() {
    if (!hwnd_) return;
    LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_BORDER);
    LONG_PTR ex = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_CLIENTEDGE);
    if (borderStyle_ == 1) {
        if (appearance_ == 1) ex |= WS_EX_CLIENTEDGE;
        else style |= WS_BORDER;
    }
    SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
    SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, ex);
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// ---- container events ----

void ucDiagram::UserControl_InitProperties() {
    appearance_ = 1;
    borderStyle_ = 1;
    drawWidth_ = 1;
    gridTickHorizontal_ = 10;
    gridTickVertical_ = 25;
    numberOfPoints_ = 100;
    backColor_ = 0x80000012;
    gridColour_ = 0x8000;
    max_ = 100;
    foreColor_ = 0xFF00;
}

void ucDiagram::UserControl_ReadProperties(const vb::PropertyBag& bag) {
    auto colour = [&](const wchar_t* name, unsigned long def) {
        return static_cast<unsigned long>(bag.ReadProperty(name, static_cast<long>(def)));
    };
    auto integer = [&](const wchar_t* name, short def) { return ToInteger(bag.ReadProperty(name, def)); };
    appearance_ = integer(L"Appearance", 1);
    borderStyle_ = integer(L"BorderStyle", 1);
    drawWidth_ = integer(L"DrawWidth", 1);
    gridTickHorizontal_ = integer(L"GridTickHorizontal", 10);
    gridTickVertical_ = integer(L"GridTickVertical", 25);
    numberOfPoints_ = bag.ReadProperty(L"NumberOfPoints", 100);
    backColor_ = colour(L"BackColor", 0x80000012);
    gridColour_ = colour(L"GridColour", 0x8000);
    max_ = bag.ReadProperty(L"Max", 100);
    foreColor_ = colour(L"ForeColor", 0xFF00);

    // Index 0 holds the curve's start; -1 marks a slot without a sample.
    points_.assign(static_cast<size_t>(numberOfPoints_ < 0 ? 0 : numberOfPoints_) + 1, -1);
    points_[0] = 0;
    nextIndex_ = 1;

    ApplyBorder();
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
    surfaceBackColor_ = backColor_;
}

void ucDiagram::UserControl_WriteProperties(vb::PropertyBag& bag) const {
    bag.WriteProperty(L"Appearance", appearance_, 1);
    bag.WriteProperty(L"BorderStyle", borderStyle_, 1);
    bag.WriteProperty(L"DrawWidth", drawWidth_, 1);
    bag.WriteProperty(L"GridTickHorizontal", gridTickHorizontal_, 10);
    bag.WriteProperty(L"GridTickVertical", gridTickVertical_, 25);
    bag.WriteProperty(L"NumberOfPoints", numberOfPoints_, 100);
    bag.WriteProperty(L"BackColor", static_cast<long>(backColor_), static_cast<long>(0x80000012UL));
    bag.WriteProperty(L"GridColour", static_cast<long>(gridColour_), 0x8000);
    bag.WriteProperty(L"Max", max_, 100);
    bag.WriteProperty(L"ForeColor", static_cast<long>(foreColor_), 0xFF00);
}

long ucDiagram::InnerWidthTwips() const { return static_cast<long>(surfaceWidth_) * vb::TwipsPerPixelX(); }
long ucDiagram::InnerHeightTwips() const { return static_cast<long>(surfaceHeight_) * vb::TwipsPerPixelY(); }

// The surface follows the control's size (8 pixels wider); the step and the
// grid spacings follow the surface.  Nothing is redrawn here.
void ucDiagram::UserControl_Resize() {
    if (!hwnd_) return;
    RECT client;
    GetClientRect(hwnd_, &client);
    SizeSurface(client.right + kSurfaceOverhang, client.bottom);
    const double width = InnerWidthTwips(), height = InnerHeightTwips();
    // A computation that would divide by zero or overflow is skipped.
    if (numberOfPoints_ != 0) {
        long long step = vb::RoundHalfEven(width / numberOfPoints_) + 1;
        if (step >= -32768 && step <= 32767) step_ = static_cast<short>(step);
    }
    if (gridTickVertical_ != 0 && max_ != 0) {
        long long spacing = vb::RoundHalfEven(height / (static_cast<double>(max_) / gridTickVertical_));
        if (spacing >= std::numeric_limits<long>::min() && spacing <= std::numeric_limits<long>::max())
            hGridSpacing_ = static_cast<long>(spacing);
    }
    if (numberOfPoints_ != 0) {
        long long spacing = vb::RoundHalfEven(width / numberOfPoints_) * gridTickHorizontal_;
        if (spacing >= std::numeric_limits<long>::min() && spacing <= std::numeric_limits<long>::max())
            vGridSpacing_ = static_cast<long>(spacing);
    }
}

void ucDiagram::SizeSurface(int width, int height) {
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    if (surfaceDc_ && width == surfaceWidth_ && height == surfaceHeight_) return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return;  // the old surface stays
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    // The new area takes the surface's background; the old picture is kept.
    RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(vb::TranslateColor(surfaceBackColor_));
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    if (surfaceDc_) BitBlt(dc, 0, 0, surfaceWidth_, surfaceHeight_, surfaceDc_, 0, 0, SRCCOPY);
    ReleaseSurface();
    surfaceDc_ = dc;
    surfaceBitmap_ = bitmap;
    surfaceOldBitmap_ = old;
    surfaceBits_ = static_cast<uint32_t*>(bits);
    surfaceWidth_ = width;
    surfaceHeight_ = height;
}

void ucDiagram::ReleaseSurface() {
    if (!surfaceDc_) return;
    SelectObject(surfaceDc_, surfaceOldBitmap_);
    DeleteObject(surfaceBitmap_);
    DeleteDC(surfaceDc_);
    surfaceDc_ = nullptr;
    surfaceBitmap_ = nullptr;
    surfaceBits_ = nullptr;
}

uint32_t ucDiagram::SurfacePixel(int x, int y) const {
    if (!surfaceBits_ || x < 0 || y < 0 || x >= surfaceWidth_ || y >= surfaceHeight_) return 0xFFFFFFFF;
    GdiFlush();
    return surfaceBits_[static_cast<size_t>(y) * static_cast<size_t>(surfaceWidth_) + static_cast<size_t>(x)] &
           0xFFFFFF;
}

// ---- samples and drawing ----

void ucDiagram::NextPoint(long value) {
    if (value > max_) return;
    const long n = numberOfPoints_;
    auto inBuffer = [&](long i) { return i >= 0 && static_cast<size_t>(i) < points_.size(); };
    if (nextIndex_ > n) {
        // Full: every entry moves one place down and the oldest drops out.
        for (long i = 1; i <= n; ++i)
            if (inBuffer(i)) points_[static_cast<size_t>(i - 1)] = points_[static_cast<size_t>(i)];
        if (inBuffer(n)) points_[static_cast<size_t>(n)] = value;
    } else {
        if (inBuffer(nextIndex_)) points_[static_cast<size_t>(nextIndex_)] = value;
        ++nextIndex_;
    }
    Redraw();
}

void ucDiagram::Refresh() { Redraw(); }

void ucDiagram::Line(double x1, double y1, double x2, double y2, COLORREF colour, int width) {
    const int ax = ToPixelsX(x1), ay = ToPixelsY(y1), bx = ToPixelsX(x2), by = ToPixelsY(y2);
    MoveToEx(surfaceDc_, ax, ay, nullptr);
    LineTo(surfaceDc_, bx, by);
    if (width <= 1) SetPixelV(surfaceDc_, bx, by, colour);  // a line includes its end point
}

void ucDiagram::Redraw() {
    if (!surfaceDc_) return;
    const double width = InnerWidthTwips(), height = InnerHeightTwips();

    RECT all{0, 0, surfaceWidth_, surfaceHeight_};
    HBRUSH brush = CreateSolidBrush(vb::TranslateColor(surfaceBackColor_));
    FillRect(surfaceDc_, &all, brush);
    DeleteObject(brush);

    // The grid, with the pen width the surface has now (the last curve's).
    const COLORREF grid = vb::TranslateColor(gridColour_);
    HPEN gridPen = CreatePen(PS_SOLID, surfacePenWidth_, grid);
    HGDIOBJ oldPen = SelectObject(surfaceDc_, gridPen);
    if (hGridSpacing_ > 0)
        for (long long y = vb::RoundHalfEven(height); y >= 0; y -= hGridSpacing_)
            Line(0, static_cast<double>(y), width, static_cast<double>(y), grid, surfacePenWidth_);
    if (vGridSpacing_ > 0)
        for (long long x = 0; x <= vb::RoundHalfEven(width); x += vGridSpacing_)
            Line(static_cast<double>(x), 0, static_cast<double>(x), height, grid, surfacePenWidth_);

    surfacePenWidth_ = drawWidth_ < 1 ? 1 : drawWidth_;
    RECT window{};
    GetWindowRect(hwnd_, &window);
    const double outerHeight = static_cast<double>(window.bottom - window.top) * vb::TwipsPerPixelY();
    if (max_ != 0) verticalFactor_ = static_cast<long>(vb::RoundHalfEven(outerHeight / max_));

    // The curve from entry 0, one step per entry, up to the first empty slot.
    const COLORREF fore = vb::TranslateColor(foreColor_);
    HPEN curvePen = CreatePen(PS_SOLID, surfacePenWidth_, fore);
    SelectObject(surfaceDc_, curvePen);
    DeleteObject(gridPen);
    const double k = verticalFactor_, step = step_;
    for (long i = 1; i <= numberOfPoints_; ++i) {
        if (static_cast<size_t>(i) >= points_.size() || points_[static_cast<size_t>(i)] < 0) break;
        const double y1 = (static_cast<double>(max_) - points_[static_cast<size_t>(i - 1)]) * k;
        const double y2 = (static_cast<double>(max_) - points_[static_cast<size_t>(i)]) * k;
        Line(step * i, y1, step * (i + 1), y2, fore, surfacePenWidth_);
    }
    SelectObject(surfaceDc_, oldPen);
    DeleteObject(curvePen);

    // On screen: the control repaints from the surface, now and whenever it is uncovered.
    drawn_ = true;
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}
