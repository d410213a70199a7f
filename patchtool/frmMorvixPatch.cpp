#include "patchtool/frmMorvixPatch.h"

#include <shellapi.h>

#include "patchtool/PatchSteps.h"
#include "platform/vb/Runtime.h"

namespace patch {

namespace {

constexpr const wchar_t* kCaption = L"Velkaro 补丁程序";
constexpr const wchar_t* kLabel1 =
    L"本补丁程序主要用于解决部分无法正常运行的错误。出\r\n"
    L"现错误的原因多在于用户所使用的系统中缺少了某些必\r\n"
    L"要控件(OCX)或库文件(DLL)，或是没有开启软件运行所\r\n"
    L"必须的系统服务。能正常运行软件的用户无需使用。";
constexpr const wchar_t* kLabel2 =
    L"regsvr32 /s %SystemRoot%\\system32\\comctl32.dll\"\r\n"
    L"regsvr32 /s %SystemRoot%\\system32\\COMCTL32.OCX\"\r\n"
    L"regsvr32 /s %SystemRoot%\\system32\\dao360.dll\"\r\n"
    L"regsvr32 /s %SystemRoot%\\system32\\MSCOMCTL.OCX\"\r\n"
    L"sc config TermService start= AUTO\r\n"
    L"Net Start TermService";

// Client area in twips.
constexpr long kClientWidth = 6780, kClientHeight = 4560;

}  // namespace

frmMorvixPatch::frmMorvixPatch(HMODULE payload) : payload_(payload) {}

frmMorvixPatch::~frmMorvixPatch() {
    if (dialogFilter_) vb::RemoveMessageFilter(dialogFilter_);
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (icon_) DestroyIcon(icon_);
}

bool frmMorvixPatch::Show(int showCommand) {
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r{0, 0, vb::TwipsToPixelsX(kClientWidth), vb::TwipsToPixelsY(kClientHeight)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    if (!CreateForm(L"frmMorvixPatch", kCaption, style, 0, r.right - r.left, r.bottom - r.top)) return false;
    Form_Load();
    // Centred on the work area, like a start-up form.
    RECT work{}, own{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd_, &own);
    SetWindowPos(hwnd_, nullptr, work.left + ((work.right - work.left) - (own.right - own.left)) / 2,
                 work.top + ((work.bottom - work.top) - (own.bottom - own.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    return true;
}

void frmMorvixPatch::Form_Load() {
    HINSTANCE self = GetModuleHandleW(nullptr);
    icon_ = static_cast<HICON>(LoadImageW(self, MAKEINTRESOURCEW(101), IMAGE_ICON, 16, 16, 0));
    if (icon_) {
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    }
    hand_ = LoadCursorW(self, MAKEINTRESOURCEW(101));
    if (!hand_) hand_ = LoadCursorW(nullptr, IDC_HAND);

    ui::CreateControl(hwnd_, L"BUTTON", L"补丁介绍", WS_VISIBLE | BS_GROUPBOX, 120, 90, 6540, 1560, idFrame1);
    ui::CreateControl(hwnd_, L"STATIC", kLabel1, WS_VISIBLE | SS_LEFT, 300, 390, 6240, 1140, idLabel1);
    ui::CreateControl(hwnd_, L"BUTTON", L"详细信息", WS_VISIBLE | BS_GROUPBOX, 120, 1770, 6540, 2070, idFrame2);
    ui::CreateControl(hwnd_, L"STATIC", kLabel2, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 300, 2070, 6240, 1680, idLabel2);
    ui::CreateControl(hwnd_, L"BUTTON", L"应用补丁", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 3720, 3990, 1380, 420,
                      idCmdOK);
    ui::CreateControl(hwnd_, L"BUTTON", L"退出程序", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 5280, 3990, 1380, 420,
                      idCmdExit);
    HWND link = ui::CreateControl(hwnd_, L"STATIC", kHomePage, WS_VISIBLE | SS_LEFT | SS_NOTIFY | SS_NOPREFIX, 150,
                                  4080, 3300, 270, idLblWWW);
    ui::SetForeColor(link, 0xFF0000);  // blue, as links are

    // Tab and arrow keys move between the buttons.
    HWND form = hwnd_;
    dialogFilter_ = vb::AddMessageFilter([form](MSG& msg) {
        return IsWindow(form) && (msg.hwnd == form || IsChild(form, msg.hwnd)) && IsDialogMessageW(form, &msg);
    });
    SetFocus(Control(idCmdOK));
}

void frmMorvixPatch::cmdOK_Click() {
    if (applying_) return;  // a second click while the patch runs does not start it again
    applying_ = true;
    EnableWindow(Control(idCmdOK), FALSE);
    HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const bool carries = CarriesAnyComponent(payload_);
    std::vector<StepResult> results = ApplyPatch(payload_);
    SetCursor(old);
    vb::DoEvents();  // an exit asked for during the last step shows up here
    if (vb::QuitPending()) {
        applying_ = false;
        DestroyWindow(hwnd_);
        return;
    }
    vb::MsgBox(hwnd_, ComposeReport(results, carries), MB_OK | MB_ICONINFORMATION);
    if (IsWindow(hwnd_)) EnableWindow(Control(idCmdOK), TRUE);
    applying_ = false;
}

void frmMorvixPatch::cmdExit_Click() {
    if (applying_) {
        // The running step ends first; the patch stops there and the window closes.
        PostQuitMessage(0);
        return;
    }
    DestroyWindow(hwnd_);
}

void frmMorvixPatch::lblWWW_Click() {
    ShellExecuteW(hwnd_, L"open", kHomePage, nullptr, nullptr, SW_SHOWMAXIMIZED);
    vb::DoEvents();
}

LRESULT frmMorvixPatch::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case idCmdOK: if (HIWORD(wParam) == BN_CLICKED) cmdOK_Click(); return 0;
        case idCmdExit: if (HIWORD(wParam) == BN_CLICKED) cmdExit_Click(); return 0;
        case idLblWWW: if (HIWORD(wParam) == STN_CLICKED) lblWWW_Click(); return 0;
        }
        break;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == Control(idLblWWW) && hand_) {
            SetCursor(hand_);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        cmdExit_Click();
        return 0;
    case WM_DESTROY:
        if (dialogFilter_) {
            vb::RemoveMessageFilter(dialogFilter_);
            dialogFilter_ = 0;
        }
        PostQuitMessage(0);
        return 0;
    }
    return DefaultProc(msg, wParam, lParam);
}

}  // namespace patch
