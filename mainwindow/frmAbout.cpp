#include "mainwindow/frmAbout.h"

#include <shellapi.h>

#include <algorithm>

#include "mainwindow/SmallWindowSupport.h"
#include "mainwindow/frmMain.h"
#include "platform/ui/ModalLoop.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

enum : int { idImgIcon = 100, idLblWWW = 201, idLblEMail = 202, idLblExit = 203, idLblBorder = 204 };
constexpr long kClientWidth = 6015, kClientHeight = 3735;
constexpr unsigned long kBlue = 0xFF0000, kBlack = 0x000000, kGrey = 0x808080;

HCURSOR HandCursor() {
    static HCURSOR hand = [] {
        HCURSOR own = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
        return own ? own : LoadCursorW(nullptr, IDC_HAND);
    }();
    return hand;
}

RECT RectIn(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Grows a label to the size its text needs in the font it really has: the
// designed sizes assume a narrower font than the system may give.
void GrowToText(HWND label, bool wrap) {
    RECT r = RectIn(label);
    SIZE need = ui::MeasureText(label, wrap);
    int width = std::max<int>(r.right - r.left, wrap ? 0 : need.cx);
    int height = std::max<int>(r.bottom - r.top, need.cy);
    SetWindowPos(label, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveBy(HWND control, int dx, int dy) {
    RECT r = RectIn(control);
    SetWindowPos(control, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

frmAbout& frmAbout::Instance() {
    static frmAbout* form = new frmAbout();  // lives as long as the program, like the form object
    return *form;
}

frmAbout::frmAbout() {
    shellOpen = [](HWND owner, const std::wstring& address, int show) {
        ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, show);
    };
}

void frmAbout::Load() {
    if (hwnd_) return;
    // The window draws its own border line (lblBorder) and close link (lblExit).
    CreateForm(L"MorvixAbout", kCaption, WS_POPUP | WS_SYSMENU, 0, 0, 0);
    if (!hwnd_) return;
    smallwin::Place(hwnd_, kClientWidth, kClientHeight);
    // Every label takes its own clicks: a click on plain text does nothing,
    // rather than falling through to the border label under it, which closes.
    auto label = [&](const std::wstring& text, long left, long top, long width, long height, int id = 0,
                     DWORD style = 0) {
        return ui::CreateControl(hwnd_, L"STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY | style, left,
                                 top, width, height, id);
    };
    imgIcon = ui::CreateControl(hwnd_, L"STATIC", L"", WS_VISIBLE | SS_BITMAP | SS_NOTIFY, 840, 820, 960, 960,
                                idImgIcon);  // takes its own clicks, which do nothing
    lblText[0] = label(L"软件名称：Velkaro", 2040, 840, 2520, 180);
    lblText[1] = label(L"软件版本：", 2040, 1080, 900, 180);
    lblVersion = label(L"V0.00.00000000", 2940, 1080, 1260, 180);
    lblText[2] = label(L"软件类别：系统辅助", 2040, 1320, 1620, 180);
    lblText[4] = label(L"应用平台：Windows 2000/XP/2003", 2040, 1800, 2700, 180);
    lblText[5] = label(L"虽然现在工作很忙，但仍然感谢大家一直支持着我的软件，不断提供进程信息和提出改进意见。谢谢！", 840,
                       2280, 4215, 495);
    std::wstring web = kWebPage;
    lblWWW = label(web.substr(web.find(L"//") + 2), 1320, 2880, 1185, 180, idLblWWW);
    lblEMail = label(kMailAddress, 1320, 3120, 1455, 180, idLblEMail);
    lblExit = label(L"关闭", 5160, 3240, 360, 180, idLblExit);
    cmdExit = ui::CreateControl(hwnd_, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 6120, 120, 255, 255,
                                IDCANCEL);
    // The border line lies under everything else, so the links and the close
    // label keep their own clicks; a click anywhere else closes the window.
    lblBorder = label(L"", 0, 0, kClientWidth, kClientHeight, idLblBorder, WS_BORDER | WS_CLIPSIBLINGS);
    SetWindowPos(lblBorder, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    LOGFONTW font{};
    GetObjectW(ui::DefaultFont(), sizeof font, &font);
    font.lfUnderline = TRUE;
    linkFont_.reset(CreateFontIndirectW(&font));
    for (HWND link : {lblWWW, lblEMail, lblExit})
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.get()), FALSE);
    exitColour_ = kBlack;
    dialogKeys_ = ui::AddDialogKeys(hwnd_);
    Form_Load();
    FitLabels();
}

void frmAbout::Form_Load() {
    ui::SetText(lblVersion, std::wstring(L"V") + frmMain::kProgramVersion);
    HINSTANCE self = GetModuleHandleW(nullptr);
    background_.reset(LoadImageW(self, MAKEINTRESOURCEW(101), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    emblem_.reset(LoadImageW(self, MAKEINTRESOURCEW(102), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    SendMessageW(imgIcon, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(emblem_.get()));
    HandCursor();  // the links show it (WM_SETCURSOR)
    smallwin::ApplyTopmostRule(hwnd_);
}

void frmAbout::FitLabels() {
    // Single lines: as wide and tall as their text; the version follows its title.
    for (HWND l : {lblText[0], lblText[1], lblVersion, lblText[2], lblText[4], lblWWW, lblEMail, lblExit})
        GrowToText(l, false);
    RECT title = RectIn(lblText[1]), version = RectIn(lblVersion);
    if (version.left < title.right) MoveBy(lblVersion, title.right - version.left, 0);
    // The thanks wrap; what lies below them moves down as far as they grew.
    RECT before = RectIn(lblText[5]);
    GrowToText(lblText[5], true);
    RECT after = RectIn(lblText[5]);
    const int grown = after.bottom - before.bottom;
    if (grown <= 0) return;
    for (HWND below : {lblWWW, lblEMail, lblExit}) MoveBy(below, 0, grown);
    RECT client{};
    GetClientRect(hwnd_, &client);
    SetWindowPos(lblBorder, nullptr, 0, 0, client.right, client.bottom + grown,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    smallwin::Place(hwnd_, vb::PixelsToTwipsX(client.right), vb::PixelsToTwipsY(client.bottom + grown));
}

void frmAbout::Show(bool modal, HWND owner) {
    if (hwnd_) {  // already open (from the other menu): to the front
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd_);
        return;
    }
    Load();
    if (!hwnd_) return;
    if (modal && owner) SetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    SetFocus(cmdExit);
    if (modal) ui::RunModal(hwnd_, owner);
}

void frmAbout::Unload() {
    if (hwnd_) DestroyWindow(hwnd_);
}

unsigned long frmAbout::LabelForeColor(HWND label) const {
    if (label == lblWWW || label == lblEMail) return kBlue;
    if (label == lblExit) return exitColour_;
    return vb::kSysButtonText;
}

void frmAbout::lblWWW_Click() {
    vb::Try([&] { shellOpen(nullptr, kWebPage, SW_SHOWMAXIMIZED); });
    vb::DoEvents();
    vb::TrimWorkingSet();
}

void frmAbout::lblEMail_Click() {
    // Shown normally: a hidden mail window would leave the user nothing to write in.
    vb::Try([&] { shellOpen(hwnd_, std::wstring(L"mailto:") + kMailAddress, SW_SHOWNORMAL); });
    vb::DoEvents();
    vb::TrimWorkingSet();
}

void frmAbout::lblExit_MouseMove() {
    if (exitColour_ == kGrey) return;
    exitColour_ = kGrey;  // stays grey until the window closes
    RECT r = RectIn(lblExit);
    RedrawWindow(hwnd_, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void frmAbout::lblExit_Click() { Unload(); }
void frmAbout::lblBorder_Click() { Unload(); }
void frmAbout::cmdExit_Click() { Unload(); }

void frmAbout::Paint(HDC dc) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (!background_) return;
    BITMAP info{};
    GetObjectW(background_.get(), sizeof info, &info);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, background_.get());
    BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);  // unscaled, from the top left
    SelectObject(source, old);
    DeleteDC(source);
}

LRESULT frmAbout::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND:
        Paint(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_CTLCOLORSTATIC: {
        // Labels are transparent over the picture.
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, vb::TranslateColor(LabelForeColor(reinterpret_cast<HWND>(lParam))));
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    case WM_SETCURSOR: {
        HWND over = reinterpret_cast<HWND>(wParam);
        if (over == lblExit && HIWORD(lParam) == WM_MOUSEMOVE) vb::Try([&] { lblExit_MouseMove(); });
        if (over == lblWWW || over == lblEMail || over == lblExit) {
            SetCursor(HandCursor());
            return TRUE;
        }
        break;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        if (id == IDCANCEL && code == BN_CLICKED) vb::Try([&] { cmdExit_Click(); });
        else if (code == STN_CLICKED && id == idLblWWW) vb::Try([&] { lblWWW_Click(); });
        else if (code == STN_CLICKED && id == idLblEMail) vb::Try([&] { lblEMail_Click(); });
        else if (code == STN_CLICKED && id == idLblExit) vb::Try([&] { lblExit_Click(); });
        else if (code == STN_CLICKED && id == idLblBorder) vb::Try([&] { lblBorder_Click(); });
        return 0;  // imgIcon: nothing
    }
    case WM_CLOSE:
        Unload();
        return 0;
    case WM_DESTROY:
        vb::RemoveMessageFilter(dialogKeys_);
        dialogKeys_ = 0;
        return 0;
    case WM_NCDESTROY:
        imgIcon = lblVersion = lblWWW = lblEMail = lblExit = lblBorder = cmdExit = nullptr;
        for (HWND& l : lblText) l = nullptr;
        background_.reset();
        emblem_.reset();
        linkFont_.reset();
        break;
    }
    return DefaultProc(msg, wParam, lParam);
}
