#include "platform/ui/Form.h"

#include <commctrl.h>

#include "platform/vb/Runtime.h"

namespace ui {

namespace {

constexpr const wchar_t* kSelfProp = L"MorvixForm";
constexpr const wchar_t* kForeProp = L"MorvixFore";
constexpr const wchar_t* kBackProp = L"MorvixBack";
constexpr const wchar_t* kBackBrushProp = L"MorvixBackBrush";
constexpr const wchar_t* kContainerClass = L"MorvixContainer";
constexpr const wchar_t* kFrameProp = L"MorvixFrame";  // a container that draws a frame's edge and caption

// The etched edge of a frame with its caption in the top line.
void PaintFrame(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    HGDIOBJ oldFont = SelectObject(dc, DefaultFont());
    std::wstring caption = GetText(hwnd);
    SIZE text{};
    GetTextExtentPoint32W(dc, caption.empty() ? L" " : caption.c_str(), caption.empty() ? 1 : static_cast<int>(caption.size()),
                          &text);
    RECT edge = r;
    edge.top += text.cy / 2;
    DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
    if (!caption.empty()) {
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        const int x = MulDiv(text.cy, 1, 2) + 2;
        RECT band{x - 2, 0, x + text.cx + 2, text.cy};
        ExtTextOutW(dc, x, 0, ETO_OPAQUE, &band, caption.c_str(), static_cast<UINT>(caption.size()), nullptr);
    }
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}

// Props hold colours + 1 so that 0 (black) is not "none".
void SetColourProp(HWND w, const wchar_t* name, unsigned long ole) {
    SetPropW(w, name, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(ole) + 1));
}
bool GetColourProp(HWND w, const wchar_t* name, unsigned long* ole) {
    auto v = reinterpret_cast<UINT_PTR>(GetPropW(w, name));
    if (!v) return false;
    *ole = static_cast<unsigned long>(v - 1);
    return true;
}

LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CONTEXTMENU:
        return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wParam, lParam);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: {
        if (HBRUSH b = HandleCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(b);
        break;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
        // Mouse events of a container reach the form as a notification of the
        // container's id, so the form can react to movement over a page.
        NMHDR hdr{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), static_cast<UINT>(NM_FIRST - 100 - msg)};
        SendMessageW(GetAncestor(hwnd, GA_ROOT), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
        break;
    }
    case WM_ERASEBKGND: {
        unsigned long back;
        if (GetColourProp(hwnd, kBackProp, &back)) {
            RECT r;
            GetClientRect(hwnd, &r);
            HBRUSH b = CreateSolidBrush(vb::TranslateColor(back));
            FillRect(reinterpret_cast<HDC>(wParam), &r, b);
            DeleteObject(b);
            return 1;
        }
        break;
    }
    case WM_SETTEXT: {
        LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
        if (GetPropW(hwnd, kFrameProp)) InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case WM_SIZE:
        if (GetPropW(hwnd, kFrameProp)) InvalidateRect(hwnd, nullptr, TRUE);  // the edge follows the size
        break;
    case WM_PAINT:
        if (GetPropW(hwnd, kFrameProp)) {
            PaintFrame(hwnd);
            return 0;
        }
        break;
    case WM_NCDESTROY: {
        if (HANDLE b = RemovePropW(hwnd, kBackBrushProp)) DeleteObject(b);
        RemovePropW(hwnd, kForeProp);
        RemovePropW(hwnd, kBackProp);
        RemovePropW(hwnd, kFrameProp);
        break;
    }
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterContainerClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = ContainerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kContainerClass;
    RegisterClassExW(&wc);
    done = true;
}

}  // namespace

Form::~Form() {
    if (hwnd_ && IsWindow(hwnd_)) {
        RemovePropW(hwnd_, kSelfProp);
        DestroyWindow(hwnd_);
    }
}

Form* Form::FromHwnd(HWND hwnd) { return static_cast<Form*>(GetPropW(hwnd, kSelfProp)); }

bool Form::CreateForm(const wchar_t* className, const std::wstring& caption, DWORD style, DWORD exStyle,
                      int width, int height, HICON icon, HMENU menu) {
    WNDCLASSEXW wc{sizeof wc};
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), className, &wc)) {
        wc = WNDCLASSEXW{sizeof wc};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = StaticProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = className;
        wc.hIcon = icon;
        wc.hIconSm = icon;
        RegisterClassExW(&wc);
    }
    RegisterContainerClass();
    CreateWindowExW(exStyle, className, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                    nullptr, menu, GetModuleHandleW(nullptr), this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK Form::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Form* self = FromHwnd(hwnd);
    if (!self && msg == WM_NCCREATE) {
        self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetPropW(hwnd, kSelfProp, self);
    }
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN || msg == WM_CTLCOLOREDIT) {
        if (HBRUSH b = HandleCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(b);
    }
    LRESULT result = self->WndProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        RemovePropW(hwnd, kSelfProp);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT Form::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) { return DefaultProc(msg, wParam, lParam); }

HFONT DefaultFont() {
    static HFONT font = [] {
        HDC dc = GetDC(nullptr);
        int height = -MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72);
        ReleaseDC(nullptr, dc);
        return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体");
    }();
    return font;
}

HWND CreateControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                   long left, long top, long width, long height, int id, DWORD exStyle) {
    HWND w = CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | style, vb::TwipsToPixelsX(left),
                             vb::TwipsToPixelsY(top), vb::TwipsToPixelsX(width), vb::TwipsToPixelsY(height),
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (w) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
    return w;
}

HWND CreateContainer(HWND parent, long left, long top, long width, long height, int id, bool visible,
                     DWORD exStyle) {
    RegisterContainerClass();
    return CreateControl(parent, kContainerClass, L"", WS_CLIPCHILDREN | WS_CLIPSIBLINGS | (visible ? WS_VISIBLE : 0),
                         left, top, width, height, id, exStyle);
}

HWND CreateFrame(HWND parent, const std::wstring& caption, long left, long top, long width, long height, int id) {
    HWND frame = CreateContainer(parent, left, top, width, height, id);
    if (!frame) return nullptr;
    SetPropW(frame, kFrameProp, reinterpret_cast<HANDLE>(1));
    SetWindowTextW(frame, caption.c_str());
    return frame;
}

void MoveControl(HWND control, long left, long top, long width, long height) {
    MoveWindow(control, vb::TwipsToPixelsX(left), vb::TwipsToPixelsY(top), vb::TwipsToPixelsX(width),
               vb::TwipsToPixelsY(height), TRUE);
}

RECT ControlRectTwips(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return RECT{vb::PixelsToTwipsX(r.left), vb::PixelsToTwipsY(r.top), vb::PixelsToTwipsX(r.right),
                vb::PixelsToTwipsY(r.bottom)};
}

void SetForeColor(HWND control, unsigned long oleColour) {
    unsigned long old;
    if (GetColourProp(control, kForeProp, &old) && old == oleColour) return;
    SetColourProp(control, kForeProp, oleColour);
    InvalidateRect(control, nullptr, TRUE);
}

unsigned long GetForeColor(HWND control) {
    unsigned long ole = vb::kSysButtonText;
    GetColourProp(control, kForeProp, &ole);
    return ole;
}

void SetBackColor(HWND control, unsigned long oleColour) {
    SetColourProp(control, kBackProp, oleColour);
    if (HANDLE b = RemovePropW(control, kBackBrushProp)) DeleteObject(b);
    SetPropW(control, kBackBrushProp, CreateSolidBrush(vb::TranslateColor(oleColour)));
    InvalidateRect(control, nullptr, TRUE);
}

HBRUSH HandleCtlColor(HDC dc, HWND control) {
    unsigned long fore, back;
    bool hasFore = GetColourProp(control, kForeProp, &fore);
    bool hasBack = GetColourProp(control, kBackProp, &back);
    if (!hasFore && !hasBack) return nullptr;
    if (hasFore) SetTextColor(dc, vb::TranslateColor(fore));
    if (hasBack) {
        SetBkColor(dc, vb::TranslateColor(back));
        return static_cast<HBRUSH>(GetPropW(control, kBackBrushProp));
    }
    wchar_t cls[8] = {};
    if (GetClassNameW(control, cls, 8) && _wcsicmp(cls, L"Edit") == 0) {
        // A text box keeps the window colour, read-only or not.
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return GetSysColorBrush(COLOR_WINDOW);
    }
    SetBkMode(dc, TRANSPARENT);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
}

std::wstring GetText(HWND control) {
    int n = GetWindowTextLengthW(control);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(control, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

void SetText(HWND control, const std::wstring& text) {
    if (GetText(control) != text) SetWindowTextW(control, text.c_str());
}

int GetCheck(HWND checkBox) { return SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0; }

void SetCheckState(HWND checkBox, int value) {
    SendMessageW(checkBox, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace ui
