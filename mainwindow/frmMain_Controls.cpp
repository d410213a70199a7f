// The main window object: creation of the window and its controls with their
// design values, and the dispatch of messages to the named handlers.
#include <windows.h>
#include <commctrl.h>

#include "mainwindow/frmAbout.h"
#include "mainwindow/frmHelp.h"
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/modAutoSizeForm.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "sysaccess/clsCPUUsage.h"
#include "update/frmDownload.h"

using namespace frmMainIds;
using namespace frmMainMenu;

namespace {

frmMain* g_instance = nullptr;

// Process list columns: header, width in twips, alignment.
struct ColumnDesign {
    const wchar_t* header;
    long width;
    ui::Align align;
};
constexpr ColumnDesign kProcessColumns[] = {
    {L"进程名称", 3704, ui::Align::Left}, {L"用户名", 2822, ui::Align::Left},
    {L"PID", 1147, ui::Align::Right},    {L"CPU(%)", 1323, ui::Align::Center},
    {L"内存(KB)", 1587, ui::Align::Right}, {L"优先级", 1587, ui::Align::Center},
    {L"进程路径", 12347, ui::Align::Left}};

}  // namespace

frmMain& frmMain::Instance() {
    if (!g_instance) {
        g_instance = new frmMain();  // lives until the process ends, like the form object
        g_instance->Form_Initialize();
        g_instance->initialized_ = true;
    }
    return *g_instance;
}

bool frmMain::Exists() { return g_instance != nullptr; }

frmMain::frmMain() = default;
frmMain::~frmMain() = default;

void frmMain::Load() {
    if (loaded_ || hwnd_) return;
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101), IMAGE_ICON, 16, 16, 0));
    menus_ = BuildMenuSet();
    CreateForm(L"MorvixMain", kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_DISABLED, 0, 800, 600, icon,
               menus_.bar);
    CreateControls();
    SetTimer(hwnd_, tmrPrcCPUUsage, 500, nullptr);  // on from the window's creation
    loaded_ = true;
    Form_Load();
}

void frmMain::Show() {
    Load();
    const bool first = !shown_;
    shown_ = true;
    ShowWindow(hwnd_, SW_SHOW);
    // Shown for the first time: the window lays its controls out (and takes
    // its layout records) before it is painted.
    if (first && !IsIconic(hwnd_)) vb::Try([&] { Form_Resize(); });
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
}

void frmMain::SetWindowState(int state) {
    Load();
    ShowWindow(hwnd_, state == 1 ? SW_MINIMIZE : state == 2 ? SW_MAXIMIZE : SW_RESTORE);
}

int frmMain::WindowState() const {
    if (!hwnd_) return 0;
    if (IsIconic(hwnd_)) return 1;
    if (IsZoomed(hwnd_)) return 2;
    return 0;
}

void frmMain::Unload() {
    if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void frmMain::PopupMenu(HMENU menu) {
    POINT p;
    GetCursorPos(&p);
    vb::NestedLoopScope nested;
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd_, nullptr);
    // The chosen command arrives as WM_COMMAND; run it before returning, as a
    // pop-up menu does in the form it was designed in.
    MSG msg;
    while (PeekMessageW(&msg, hwnd_, WM_COMMAND, WM_COMMAND, PM_REMOVE)) vb::DispatchOne(msg);
}

void frmMain::CreateControls() {
    tabMain = ui::CreateControl(hwnd_, WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPSIBLINGS, 120, 120, 11535, 7560,
                                frmMainIds::tabMain);
    for (const wchar_t* caption : {L"  进程管理  ", L"  端口监听  ", L"  系统信息  "}) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(caption);
        TabCtrl_InsertItem(tabMain, TabCtrl_GetItemCount(tabMain), &item);
    }
    modAutoSizeForm::SetTag(tabMain, L"STRETCHALL");
    for (int i = 1; i <= 3; ++i) {
        picTab[i] = ui::CreateContainer(hwnd_, 140, 420, 11490, 7230, frmMainIds::picTab + i, i == 1);
        SetWindowPos(picTab[i], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        modAutoSizeForm::SetTag(picTab[i], L"STRETCHALL");
    }

    // Options, at the right of the tab row.
    chkAntiVirus = ui::CreateControl(hwnd_, L"BUTTON", L"自动屏蔽危险进程", WS_VISIBLE | BS_AUTOCHECKBOX, 5600, 130,
                                     2050, 270, frmMainIds::chkAntiVirus);
    chkAutoRun = ui::CreateControl(hwnd_, L"BUTTON", L"开机自动运行", WS_VISIBLE | BS_AUTOCHECKBOX, 7750, 130, 1700,
                                   270, frmMainIds::chkAutoRun);
    chkAlwaysOnTop = ui::CreateControl(hwnd_, L"BUTTON", L"窗口置顶", WS_VISIBLE | BS_AUTOCHECKBOX, 9550, 130, 1300,
                                       270, frmMainIds::chkAlwaysOnTop);
    for (HWND box : {chkAntiVirus, chkAutoRun, chkAlwaysOnTop}) {
        modAutoSizeForm::SetTag(box, L"MOVEH");
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }

    // Page 1: toolbar strip and the process list.
    picButton = ui::CreateContainer(picTab[1], 120, 60, 9300, 460, frmMainIds::picButton);
    CreateToolbar();
    lvwProcess.Create(picTab[1], frmMainIds::lvwProcess,
                      RECT{vb::TwipsToPixelsX(120), vb::TwipsToPixelsY(600), vb::TwipsToPixelsX(120 + 11250),
                           vb::TwipsToPixelsY(600 + 6540)});
    SendMessageW(lvwProcess.Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(ui::DefaultFont()), FALSE);
    for (const auto& c : kProcessColumns) lvwProcess.AddColumn(c.header, c.width, c.align);
    lvwProcess.SetImageList(ilsPrcIcon);
    modAutoSizeForm::SetTag(lvwProcess.Hwnd(), L"STRETCHALL");

    // Page 2: ports.
    lvwPorts.Create(picTab[2], frmMainIds::lvwPorts,
                    RECT{vb::TwipsToPixelsX(120), vb::TwipsToPixelsY(120), vb::TwipsToPixelsX(120 + 11205),
                         vb::TwipsToPixelsY(120 + 6555)});
    SendMessageW(lvwPorts.Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(ui::DefaultFont()), FALSE);
    modAutoSizeForm::SetTag(lvwPorts.Hwnd(), L"STRETCHALL");
    cmdPortsOut = ui::CreateControl(picTab[2], L"BUTTON", L"导出列表", WS_VISIBLE | BS_PUSHBUTTON, 120, 6750, 1095,
                                    375, frmMainIds::cmdPortsOut);
    cmdPortsRefresh = ui::CreateControl(picTab[2], L"BUTTON", L"刷新列表", WS_VISIBLE | BS_PUSHBUTTON, 1320, 6750,
                                        1095, 375, frmMainIds::cmdPortsRefresh);
    modAutoSizeForm::SetTag(cmdPortsOut, L"MOVEV");
    modAutoSizeForm::SetTag(cmdPortsRefresh, L"MOVEV");

    // Page 3: system information.
    lvwSystemInfo.Create(picTab[3], frmMainIds::lvwSystemInfo,
                         RECT{vb::TwipsToPixelsX(5820), vb::TwipsToPixelsY(140), vb::TwipsToPixelsX(5820 + 5475),
                              vb::TwipsToPixelsY(140 + 6950)});
    SendMessageW(lvwSystemInfo.Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(ui::DefaultFont()), FALSE);
    lvwSystemInfo.AddColumn(L"类型", 2646, ui::Align::Left);
    lvwSystemInfo.AddColumn(L"值", 10583, ui::Align::Left);
    modAutoSizeForm::SetTag(lvwSystemInfo.Hwnd(), L"STRETCHALL");
    CreatePages();
    CreateCharts();  // inside the system page's frames

    // Status bar, and the version labels in the box over its last panel.
    staInformation = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                     hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(frmMainIds::staInformation)),
                                     GetModuleHandleW(nullptr), nullptr);
    SendMessageW(staInformation, WM_SETFONT, reinterpret_cast<WPARAM>(ui::DefaultFont()), FALSE);
    SendMessageW(staInformation, WM_SIZE, 0, 0);  // the bar takes its height and place now
    RECT bar;
    GetWindowRect(staInformation, &bar);
    long barHeight = vb::PixelsToTwipsY(bar.bottom - bar.top);
    // The box sits inside the status bar, over its last panel, so the bar
    // never paints over it; it keeps its distance to the right edge.
    Picture2 = ui::CreateContainer(staInformation, 6400, 45, 5200, barHeight - 90);
    modAutoSizeForm::SetTag(Picture2, L"MOVEH");
    lblMainVersion = ui::CreateControl(Picture2, L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 3700,
                                       barHeight - 90, frmMainIds::lblMainVersion);
    lblMDBVersion = ui::CreateControl(Picture2, L"STATIC", L"0000-00-00", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 3720, 0,
                                      1400, barHeight - 90, frmMainIds::lblMDBVersion);
    CreateSidePanels();
    LayoutStatusBar();
    BuildTrayPictures();
    RegisterProcessListCommands();
    RegisterActionCommands();
    RegisterMenuCommands();
    RegisterUpdateCommands();
    RegisterExportCommands();
    RegisterWindowCommands();
    HookToolbarClearing();
}

void frmMain::LayoutStatusBar() {
    if (!staInformation) return;
    SendMessageW(staInformation, WM_SIZE, 0, 0);
    RECT r;
    GetWindowRect(hwnd_, &r);
    long formWidth = vb::PixelsToTwipsX(r.right - r.left);
    // Panels 1 to 3 share 6280 twips; panel 4 takes the rest of the window's width.
    int edges[4] = {vb::TwipsToPixelsX(1700), vb::TwipsToPixelsX(3000), vb::TwipsToPixelsX(6280),
                    vb::TwipsToPixelsX(6280 + std::max(0L, formWidth - 6280))};
    SendMessageW(staInformation, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
}

void frmMain::SetPanelText(int panel, const std::wstring& text) {
    if (PanelText(panel) == text) return;
    SendMessageW(staInformation, SB_SETTEXTW, static_cast<WPARAM>(panel - 1), reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring frmMain::PanelText(int panel) const {
    wchar_t text[256] = {};
    if (LOWORD(SendMessageW(staInformation, SB_GETTEXTLENGTHW, static_cast<WPARAM>(panel - 1), 0)) < 256)
        SendMessageW(staInformation, SB_GETTEXTW, static_cast<WPARAM>(panel - 1), reinterpret_cast<LPARAM>(text));
    return text;
}

void frmMain::SetCheckValue(HWND box, int value) {
    if (ui::GetCheck(box) == value) return;
    ui::SetCheckState(box, value);
    if (box == chkAutoRun) chkAutoRun_Click();
    else if (box == chkAlwaysOnTop) chkAlwaysOnTop_Click();
    else if (box == chkAntiVirus) chkAntiVirus_Click();
    else if (box == chkPopupForm[0]) chkPopupForm_Click(0);
    else if (box == chkPopupForm[1]) chkPopupForm_Click(1);
}

bool frmMain::AutoKillOn() const { return chkAntiVirus && ui::GetCheck(chkAntiVirus) == 1; }

void frmMain::UnloadOtherWindows() {
    // frmAbout, then frmHelp, then frmDownload; each only when it is open
    // (unloading the update window stops its download).
    vb::Try([] { frmAbout::Instance().Unload(); });
    vb::Try([] { frmHelp::Instance().Unload(); });
    vb::Try([] { frmDownload::Instance().Unload(); });
}

LRESULT frmMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        if (loaded_) vb::Try([&] { Form_Resize(); });
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_MOUSEMOVE:
        vb::Try([&] { Form_MouseMove(); });
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_INITMENUPOPUP:
        vb::Try([&] { OnInitMenuPopup(reinterpret_cast<HMENU>(wParam)); });
        return 0;
    case WM_TIMER:
        if (wParam == tmrMonitor) tmrMonitor_Timer();
        else if (wParam == tmrPrcCPUUsage) tmrPrcCPUUsage_Timer();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessageW(hwnd_, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (unloading_) return 0;  // a second close while closing ends nothing more
        if (vb::NestedLoopDepth() > 0) {
            // Inside a box, a wait or the list's pump: remembered once, and
            // carried out by the outermost loop when they are done.
            if (!closeRequested_) {
                closeRequested_ = true;
                vb::RunFromOutermostLoop([this] {
                    if (hwnd_ && !unloading_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
                });
            }
            return 0;
        }
        unloading_ = true;
        {
            int cancel = 0;
            Form_Unload(cancel);
        }
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, tmrMonitor);
        KillTimer(hwnd_, tmrPrcCPUUsage);
        PostQuitMessage(0);
        return 0;
    }
    return DefaultProc(msg, wParam, lParam);
}

bool frmMain::ClosePending() const {
    return !hwnd_ || unloading_ || closeRequested_ || vb::QuitPending();
}

void frmMain::OnCommand(int id, int code, HWND control) {
    if (control == chkAutoRun && code == BN_CLICKED) return vb::Try([&] { chkAutoRun_Click(); }), void();
    if (control == chkAlwaysOnTop && code == BN_CLICKED) return vb::Try([&] { chkAlwaysOnTop_Click(); }), void();
    if (control == chkAntiVirus && code == BN_CLICKED) return vb::Try([&] { chkAntiVirus_Click(); }), void();
    if (control && OnKnowledgeCommand(id, code, control)) return;
    auto it = commands_.find(id);
    if (it != commands_.end()) {
        auto handler = it->second;  // a handler may re-register commands
        vb::Try([&] { handler(); });
    }
}

LRESULT frmMain::OnNotify(NMHDR* hdr) {
    LRESULT result = 0;
    if (lvwProcess.HandleNotify(hdr, &result)) return result;
    if (OnProcessListNotify(hdr, &result)) return result;
    if (hdr->hwndFrom == tabMain && hdr->code == TCN_SELCHANGE) {
        vb::Try([&] { tabMain_Click(); });
        return 0;
    }
    return 0;
}

