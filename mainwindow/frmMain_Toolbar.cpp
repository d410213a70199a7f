// The seven-button toolbar above the process list: one small window per
// button that draws its icon, its caption in the colour that is the button's
// state, and a raised frame while the pointer is over it.
#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "mainwindow/frmMain.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Icon.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

constexpr const wchar_t* kButtonClass = L"MorvixToolButton";
constexpr unsigned long kDisabled = 0xC0C0C0;  // RGB(192, 192, 192): the one disabled value
constexpr unsigned long kPressed = 0xFFFFFF;
constexpr unsigned long kFrameLight = 0xFFFFFF;
constexpr unsigned long kFrameShade = 0xC0C0C0;
const wchar_t* const kCaptions[7] = {L"结束进程", L"暂停进程", L"删除文件", L"查看属性",
                                     L"文件定位", L"刷新列表", L"检查更新"};

// What a button shows; the window owns it.
struct ButtonState {
    int index = 0;
    unsigned long colour = vb::kSysButtonText;
    std::wstring caption;
    std::wstring picture;
    bool frame = false;
    bool pressed = false;  // left button went down here and is still held
};

ButtonState* StateOf(HWND button) {
    return button ? reinterpret_cast<ButtonState*>(GetWindowLongPtrW(button, GWLP_USERDATA)) : nullptr;
}

bool Disabled(const ButtonState& s) { return s.colour == kDisabled; }

// ---- pictures: drawn at start-up, 24 x 24 with an alpha channel ----

using ui::Arc;
using ui::Circle;
using ui::Polygon;
using ui::Rect;
using ui::Stroke;
struct Canvas : ui::Canvas {
    static constexpr int kSize = 24;
    Canvas() : ui::Canvas(kSize) {}
};

// A sheet of paper with a folded corner, the base of the file pictures.
void Sheet(Canvas& c) {
    c.Fill(0x5A6B7C, Polygon({{4, 1}, {15, 1}, {20, 6}, {20, 23}, {4, 23}}));
    c.Fill(0xFFFFFF, Polygon({{5, 2}, {14.5, 2}, {19, 6.5}, {19, 22}, {5, 22}}));
    c.Fill(0xC8D2DC, Polygon({{14.5, 2}, {14.5, 6.5}, {19, 6.5}}));
}

Canvas Picture(const std::wstring& key) {
    Canvas c;
    if (key == L"btn010") {  // end process: a red disc with a white cross
        c.Fill(0x9E1B1B, Circle(12, 12, 11));
        c.Fill(0xE03C31, Circle(12, 12, 9.8));
        c.Fill(0xFFFFFF, Stroke(8, 8, 16, 16, 2.8));
        c.Fill(0xFFFFFF, Stroke(16, 8, 8, 16, 2.8));
    } else if (key == L"btn020") {  // pause: two bars
        c.Fill(0x1F4E8C, Circle(12, 12, 11));
        c.Fill(0x3D7CC9, Circle(12, 12, 9.8));
        c.Fill(0xFFFFFF, Rect(8, 7, 10.8, 17));
        c.Fill(0xFFFFFF, Rect(13.2, 7, 16, 17));
    } else if (key == L"btn021") {  // resume: a play triangle
        c.Fill(0x1E6B2A, Circle(12, 12, 11));
        c.Fill(0x34A046, Circle(12, 12, 9.8));
        c.Fill(0xFFFFFF, Polygon({{9, 6.5}, {17.5, 12}, {9, 17.5}}));
    } else if (key == L"btn030") {  // delete file: a sheet struck out
        Sheet(c);
        c.Fill(0xD02A2A, Stroke(10, 12, 20, 22, 3));
        c.Fill(0xD02A2A, Stroke(20, 12, 10, 22, 3));
    } else if (key == L"btn040") {  // properties: a sheet with lines of text
        Sheet(c);
        for (double y : {9.0, 12.0, 15.0, 18.0}) c.Fill(0x4A78B0, Rect(7, y, y < 10 ? 13 : 17, y + 1.3));
    } else if (key == L"btn050") {  // locate file: a folder and a magnifier
        c.Fill(0xB8860B, Polygon({{1, 5}, {8, 5}, {10, 7}, {20, 7}, {20, 20}, {1, 20}}));
        c.Fill(0xF2C14E, Polygon({{1, 9}, {21, 9}, {20, 20}, {1, 20}}));
        c.Fill(0x2F3A45, Arc(14, 14, 3.2, 5, 0, 360));
        c.Fill(0xDDEEFF, Circle(14, 14, 3.2));
        c.Fill(0x2F3A45, Stroke(17.5, 17.5, 22, 22, 2.6));
    } else if (key == L"btn060") {  // refresh: a circular arrow
        c.Fill(0x1E7A3C, Arc(12, 12, 6, 9, 40, 330));
        c.Fill(0x1E7A3C, Polygon({{12.5, 0.5}, {21, 5.5}, {13.5, 9.5}}));
    } else if (key == L"btn070") {  // check for updates: a globe with a down arrow
        c.Fill(0x1F5F99, Circle(11, 11, 10));
        c.Fill(0x57A7E0, Circle(11, 11, 8.8));
        c.Fill(0x1F5F99, Rect(2, 10.4, 20, 11.6));
        c.Fill(0x1F5F99, Arc(11, 11, 3.6, 4.8, 0, 360));
        c.Fill(0x1E8A3A, Rect(15, 10, 19, 17));
        c.Fill(0x1E8A3A, Polygon({{12, 16}, {22, 16}, {17, 22.5}}));
    }
    return c;
}

win::Icon IconOf(const Canvas& c) { return c.ToIcon(); }

// ---- the button window ----

HCURSOR HandCursor() {
    static HCURSOR hand = [] {
        HCURSOR c = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
        return c ? c : LoadCursorW(nullptr, IDC_HAND);
    }();
    return hand;
}

void Paint(HWND hwnd, const ButtonState& s) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    frmMain& form = frmMain::Instance();
    int image = form.ilsButtonIcon.IndexOf(s.picture);
    if (image >= 0) {
        int left = vb::TwipsToPixelsX(s.index == 6 ? 45 : 40);
        int top = vb::TwipsToPixelsY(s.index == 0 ? 20 : 15);
        ImageList_Draw(form.ilsButtonIcon.Handle(), image, dc, left, top, ILD_TRANSPARENT);
    }
    HGDIOBJ oldFont = SelectObject(dc, ui::DefaultFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, vb::TranslateColor(s.colour));
    // The caption sits at 440 twips; Wine's stand-in font is taller than the
    // designed one, so the text is centred on the designed line, not clipped.
    RECT text{vb::TwipsToPixelsX(440), 0, client.right, client.bottom};
    DrawTextW(dc, s.caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
    SelectObject(dc, oldFont);
    if (s.frame) {
        const int right = vb::TwipsToPixelsX(1240), bottom = vb::TwipsToPixelsY(390);
        auto line = [&](unsigned long colour, int x0, int y0, int x1, int y1) {
            HPEN pen = CreatePen(PS_SOLID, 1, vb::TranslateColor(colour));
            HGDIOBJ old = SelectObject(dc, pen);
            MoveToEx(dc, x0, y0, nullptr);
            LineTo(dc, x1, y1);
            SelectObject(dc, old);
            DeleteObject(pen);
        };
        line(kFrameLight, 0, 0, 0, bottom + 1);          // left
        line(kFrameLight, 0, 0, right + 1, 0);           // top
        line(kFrameShade, right, 0, right, bottom + 1);  // right
        line(kFrameShade, 0, bottom, right + 1, bottom); // bottom
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ButtonState* s = StateOf(hwnd);
    switch (msg) {
    case WM_NCCREATE: {
        auto* state = new ButtonState;
        state->index = static_cast<int>(reinterpret_cast<INT_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        state->caption = kCaptions[state->index];
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        break;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        delete s;
        break;
    case WM_PAINT:
        if (!s) break;
        Paint(hwnd, *s);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT fills the whole button
    case WM_SETCURSOR:
        SetCursor(HandCursor());
        return TRUE;
    case WM_MOUSEMOVE:
        if (s) vb::Try([&] { frmMain::Instance().lblButton_MouseMove(s->index); });
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        if (!s) break;
        SetCapture(hwnd);  // the release comes here, also when it happens outside
        if (msg == WM_LBUTTONDOWN) s->pressed = true;
        vb::Try([&] { frmMain::Instance().lblButton_MouseDown(s->index); });
        return 0;
    case WM_LBUTTONDBLCLK:
        // The second press of a double click raises no press and arms no
        // click: one Click per double click.  Its release still comes here.
        if (s) SetCapture(hwnd);
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: {
        if (!s) break;
        const int index = s->index;
        const bool click = msg == WM_LBUTTONUP && s->pressed;
        s->pressed = false;
        if (GetCapture() == hwnd) ReleaseCapture();
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        GetClientRect(hwnd, &client);
        vb::Try([&] { frmMain::Instance().lblButton_MouseUp(index); });
        // A click is a press and a release on the same button.
        if (click && PtInRect(&client, p)) vb::Try([&] { frmMain::Instance().lblButton_Click(index); });
        return 0;
    }
    case WM_CAPTURECHANGED:
        if (s && reinterpret_cast<HWND>(lParam) != hwnd) s->pressed = false;
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterButtonClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{sizeof wc};
    wc.style = CS_DBLCLKS;  // a double click is one click and a double click, never two clicks
    wc.lpfnWndProc = ButtonProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = HandCursor();
    wc.lpszClassName = kButtonClass;
    RegisterClassExW(&wc);
    done = true;
}

void Repaint(HWND button) {
    if (button) InvalidateRect(button, nullptr, FALSE);
}

// Movement over these windows clears the hover; picTab(1) to (3) report their
// index, and only the process page clears.
LRESULT CALLBACK ClearingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR which) {
    if (msg == WM_MOUSEMOVE) {
        frmMain& form = frmMain::Instance();
        vb::Try([&] {
            if (which >= 1 && which <= 3) form.picTab_MouseMove(static_cast<int>(which));
            else if (hwnd == form.lvwProcess.Hwnd()) form.lvwProcess_MouseMove();
            else if (hwnd == form.staInformation) form.staInformation_MouseMove();
        });
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ClearingProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace

void frmMain::CreateToolbar() {
    RegisterButtonClass();
    for (int i = 0; i < 7; ++i) {
        RECT r{vb::TwipsToPixelsX(1320L * i), 0, vb::TwipsToPixelsX(1320L * i + 1260), vb::TwipsToPixelsY(405)};
        lblButton[i] = CreateWindowExW(0, kButtonClass, kCaptions[i], WS_CHILD | WS_VISIBLE, r.left, r.top,
                                       r.right - r.left, r.bottom - r.top, picButton,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(200 + i)),
                                       GetModuleHandleW(nullptr), reinterpret_cast<void*>(static_cast<INT_PTR>(i)));
    }
    for (const wchar_t* key : {L"btn010", L"btn020", L"btn021", L"btn030", L"btn040", L"btn050", L"btn060", L"btn070"}) {
        if (win::Icon icon = IconOf(Picture(key))) ilsButtonIcon.Add(key, icon.get());
    }
}

void frmMain::HookToolbarClearing() {
    for (UINT_PTR i = 1; i <= 3; ++i)
        if (picTab[i]) SetWindowSubclass(picTab[i], ClearingProc, 1, i);
    if (lvwProcess.Hwnd()) SetWindowSubclass(lvwProcess.Hwnd(), ClearingProc, 1, 0);
    if (staInformation) SetWindowSubclass(staInformation, ClearingProc, 1, 0);
}

void frmMain::LoadToolbarPictures() {
    for (int i = 0; i < 7; ++i) SetButtonPicture(i, L"btn0" + std::to_wstring(i + 1) + L"0");
}

// ---- state ----

unsigned long frmMain::ButtonTextColor(int index) const {
    const ButtonState* s = StateOf(lblButton[index]);
    return s ? s->colour : vb::kSysButtonText;
}

void frmMain::SetButtonTextColor(int index, unsigned long oleColour) {
    ButtonState* s = StateOf(lblButton[index]);
    if (!s || s->colour == oleColour) return;
    s->colour = oleColour;
    Repaint(lblButton[index]);
}

std::wstring frmMain::ButtonCaption(int index) const {
    const ButtonState* s = StateOf(lblButton[index]);
    return s ? s->caption : kCaptions[index];
}

void frmMain::SetButtonCaption(int index, const std::wstring& caption) {
    ButtonState* s = StateOf(lblButton[index]);
    if (!s || s->caption == caption) return;
    s->caption = caption;
    SetWindowTextW(lblButton[index], caption.c_str());
    Repaint(lblButton[index]);
}

void frmMain::SetButtonPicture(int index, const std::wstring& key) {
    ButtonState* s = StateOf(lblButton[index]);
    if (!s || s->picture == key) return;
    if (!ilsButtonIcon.Exists(key)) throw vb::Error(35603);  // the image list's "invalid key"
    s->picture = key;
    Repaint(lblButton[index]);
}

std::wstring frmMain::ButtonPicture(int index) const {
    const ButtonState* s = StateOf(lblButton[index]);
    return s ? s->picture : L"";
}

bool frmMain::ButtonFrameVisible(int index) const {
    const ButtonState* s = StateOf(lblButton[index]);
    return s && s->frame;
}

// ---- mouse ----

void frmMain::lblButton_Click(int index) {
    const ButtonState* s = StateOf(lblButton[index]);
    if (!s || Disabled(*s)) return;  // a grey button swallows the click
    switch (index) {
    case 0: mnuProcessKill_Click(); break;
    case 1: PauseResumeSelection(ButtonCaption(1), true); break;
    case 2: mnuProcessDelete_Click(); break;
    case 3: mnuProcessProperty_Click(); break;
    case 4: mnuProcessWhere_Click(); break;
    case 5: mnuListRefresh_Click(); break;
    case 6: {
        // The update window's command, once it is there.
        auto it = commands_.find(frmMainMenu::mnuHelpUpdate);
        if (it != commands_.end()) {
            auto command = it->second;
            command();
        }
        break;
    }
    default: break;
    }
}

void frmMain::lblButton_MouseDown(int index) {
    if (!StateOf(lblButton[index]) || Disabled(*StateOf(lblButton[index]))) return;
    SetButtonTextColor(index, kPressed);
}

void frmMain::lblButton_MouseUp(int index) {
    if (!StateOf(lblButton[index]) || Disabled(*StateOf(lblButton[index]))) return;
    SetButtonTextColor(index, vb::kSysHighlight);
}

void frmMain::lblButton_MouseMove(int index) {
    ClearToolbarHover();
    ButtonState* s = StateOf(lblButton[index]);
    if (!s) return;
    if (!s->frame) {
        s->frame = true;  // also for a grey button
        Repaint(lblButton[index]);
    }
    if (!Disabled(*s)) SetButtonTextColor(index, vb::kSysHighlight);
}

void frmMain::ClearToolbarHover() {
    for (int i = 0; i < 7; ++i) {
        ButtonState* s = StateOf(lblButton[i]);
        if (!s) continue;
        if (s->frame) {
            s->frame = false;
            Repaint(lblButton[i]);
        }
        if (!Disabled(*s)) SetButtonTextColor(i, vb::kSysButtonText);
    }
}

void frmMain::picTab_MouseMove(int index) {
    if (index == 1) ClearToolbarHover();  // the other pages leave the toolbar as it is
}

void frmMain::Form_MouseMove() { ClearToolbarHover(); }
void frmMain::lvwProcess_MouseMove() { ClearToolbarHover(); }
void frmMain::staInformation_MouseMove() { ClearToolbarHover(); }
