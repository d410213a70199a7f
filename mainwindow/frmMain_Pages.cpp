// The three tab pages: the page switch with the one-time filling of the ports
// and system pages, the ports refresh, the system page's controls and icons,
// the two usage bars, and the memory clean-up with its rounds and progress.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <utility>

#include "mainwindow/frmMain.h"
#include "netports/modProcessPorts.h"
#include "netports/modProcessPorts2.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Form.h"
#include "platform/ui/ModalLoop.h"
#include "platform/ui/PictureBox.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Com.h"
#include "sysaccess/modCleanMemory.h"
#include "sysaccess/modSystemInfo.h"

using namespace frmMainIds;

namespace {

constexpr unsigned long kSysWindow = 0x80000005;  // the system window colour
constexpr COLORREF kStripeLit = 0xFFFF80;
constexpr COLORREF kStripeUnlit = 0x808000;
constexpr long kCleanRounds = 16;
constexpr long kCleanProgressWidth = 3980;  // twips, the width of picCleanMemoryProgress
constexpr size_t kCleanBlockChars = 80'000'000;
constexpr RECT kCleanTextDesign{1530, 45, 1530 + 900, 45 + 180};  // twips in picCleanMemoryProgress
constexpr UINT kQuiet = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW;

// A 16-bit whole number as the language's Integer: halves to even, and a
// value out of range is an overflow (error 6).
long Int16(double value) {
    long long v = vb::RoundHalfEven(value);
    if (v < -32768 || v > 32767) throw vb::Error(6);
    return static_cast<long>(v);
}

// The progress text on one line, as large as it is in the label's real font
// (the designed 900 x 180 twips hold only a narrower font's "整理中……"),
// centred where the design placed it, never beyond the box's top or left edge.
void FitCleanMemoryText(HWND label) {
    const SIZE need = ui::MeasureText(label, false);
    const int centreX = vb::TwipsToPixelsX((kCleanTextDesign.left + kCleanTextDesign.right) / 2);
    const int centreY = vb::TwipsToPixelsY((kCleanTextDesign.top + kCleanTextDesign.bottom) / 2);
    SetWindowPos(label, nullptr, std::max<int>(0, centreX - need.cx / 2), std::max<int>(0, centreY - need.cy / 2),
                 need.cx, need.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The pictures of the system-information rows, 16 x 16.
ui::Canvas SysPicture(int n) {
    using namespace ui;
    Canvas c(16);
    switch (n) {
    case 1:  // operating system: an application window
        c.Fill(0x1F4E8C, Rect(1, 2, 15, 14));
        c.Fill(0x6FA8E8, Rect(2, 3, 14, 5.5));
        c.Fill(0xFFFFFF, Rect(2, 6, 14, 13));
        c.Fill(0x3D7CC9, Rect(3.5, 7.5, 8, 11.5));
        break;
    case 2:  // version: a price tag with a hole
        c.Fill(0x9A6A00, Polygon({{1, 8}, {7, 2}, {14.5, 2}, {14.5, 9.5}, {8.5, 15.5}}));
        c.Fill(0xF2C14E, Polygon({{2.4, 8}, {7.5, 3}, {13.5, 3}, {13.5, 9}, {8.5, 14}}));
        c.Fill(0x9A6A00, Circle(11, 5.5, 1.3));
        break;
    case 3:  // maker: a factory with a saw-tooth roof and a chimney
        c.Fill(0x5A6B7C, Rect(11, 1, 13.5, 8));
        c.Fill(0x5A6B7C, Polygon({{1, 15}, {1, 8}, {5, 5}, {5, 8}, {9, 5}, {9, 8}, {15, 5}, {15, 15}}));
        c.Fill(0xC8D2DC, Polygon({{2, 14}, {2, 8.6}, {4, 7}, {4, 9.5}, {8, 7}, {8, 9.5}, {14, 6.6}, {14, 14}}));
        for (double x : {3.5, 7.0, 10.5}) c.Fill(0xF2C14E, Rect(x, 10.5, x + 2, 12.5));
        break;
    case 4:  // computer name: a monitor on its stand
        c.Fill(0x2F3A45, Rect(1, 2, 15, 12));
        c.Fill(0x57A7E0, Rect(2.2, 3.2, 13.8, 10.8));
        c.Fill(0x2F3A45, Rect(6.5, 12, 9.5, 13.5));
        c.Fill(0x5A6B7C, Rect(4, 13.5, 12, 15));
        break;
    case 5:  // computer type: a chip with pins
        for (double p : {4.0, 7.0, 10.0}) {
            c.Fill(0x9AA5B1, Rect(p, 0.5, p + 1.6, 15.5));
            c.Fill(0x9AA5B1, Rect(0.5, p, 15.5, p + 1.6));
        }
        c.Fill(0x2F3A45, Rect(2.5, 2.5, 13.5, 13.5));
        c.Fill(0x4A5866, Rect(4.5, 4.5, 11.5, 11.5));
        break;
    case 6:  // registered owner: a certificate with a seal
        c.Fill(0x5A6B7C, Rect(1, 1, 13, 14));
        c.Fill(0xFFFFFF, Rect(2, 2, 12, 13));
        for (double y : {4.0, 6.5, 9.0}) c.Fill(0x4A78B0, Rect(3.5, y, 10.5, y + 1));
        c.Fill(0xB02020, Circle(11.5, 11.5, 3.6));
        c.Fill(0xE04848, Circle(11.5, 11.5, 2.4));
        break;
    case 7:  // current user: a person
        c.Fill(0x1F5F99, Circle(8, 4.8, 3.6));
        c.Fill(0xF0C8A0, Circle(8, 4.8, 2.7));
        c.Fill(0x1F5F99, Polygon({{1.5, 15.5}, {2.5, 10.5}, {5.5, 8.8}, {10.5, 8.8}, {13.5, 10.5}, {14.5, 15.5}}));
        c.Fill(0x3D7CC9, Polygon({{2.6, 14.6}, {3.4, 11}, {5.8, 9.8}, {10.2, 9.8}, {12.6, 11}, {13.4, 14.6}}));
        break;
    case 8:  // workgroup and domain: three linked computers
        c.Fill(0x5A6B7C, Stroke(8, 5, 3.5, 12, 1.2));
        c.Fill(0x5A6B7C, Stroke(8, 5, 12.5, 12, 1.2));
        c.Fill(0x5A6B7C, Stroke(3.5, 12, 12.5, 12, 1.2));
        for (auto [x, y] : {std::pair{8.0, 3.5}, {3.5, 12.0}, {12.5, 12.0}}) {
            c.Fill(0x1E6B2A, Rect(x - 3, y - 2.5, x + 3, y + 2.5));
            c.Fill(0x7CD68A, Rect(x - 2, y - 1.5, x + 2, y + 1.5));
        }
        break;
    case 9:  // start-up option: a power sign
        c.Fill(0x1E7A3C, Arc(8, 8.5, 4.6, 6.6, 300, 240));
        c.Fill(0x1E7A3C, Stroke(8, 1.5, 8, 8, 2));
        break;
    }
    return c;
}

}  // namespace

void frmMain::InitializeCom() {
    // The system page talks to WMI; the apartment stays for the life of the thread.
    static win::ComApartment apartment;
    (void)apartment;
}

void frmMain::CreatePages() {
    // Page 2: the ports list's five columns, the port bound under "端口".
    modProcessPorts::AddPortColumns(lvwPorts);
    commands_[frmMainIds::cmdPortsRefresh] = [this] { cmdPortsRefresh_Click(); };

    // Page 3: the two usage frames on the left, the information list on the right.
    HWND page = picTab[3];
    fraCPUUsage = ui::CreateFrame(page, L"CPU 使用率", 120, 60, 5595, 3315, frmMainIds::fraCPUUsage);
    picCPUUsage = ui::CreatePictureBox(fraCPUUsage, 180, 250, 1160, 2910, frmMainIds::picCPUUsage, 0x000000);
    // ucDiagramCPU takes 1440, 255, 3975 x 2910 of this frame.
    fraMemoryUsage = ui::CreateFrame(page, L"物理内存使用率", 120, 3480, 5595, 3615, frmMainIds::fraMemoryUsage);
    picMemoryUsage = ui::CreatePictureBox(fraMemoryUsage, 180, 250, 1160, 2910, frmMainIds::picMemoryUsage, 0x000000);
    // ucDiagramMemory takes 1440, 255, 3975 x 2910 of this frame.
    Picture1 = ui::CreateContainer(fraMemoryUsage, 180, 3230, 1155, 350, frmMainIds::Picture1);
    cmdCleanMemory = ui::CreateControl(Picture1, L"BUTTON", L"整理内存", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                                       1155, 315, frmMainIds::cmdCleanMemory);
    picCleanMemoryProgress = ui::CreateContainer(fraMemoryUsage, 1440, 3220, kCleanProgressWidth, 300,
                                                 frmMainIds::picCleanMemoryProgress, false, WS_EX_STATICEDGE);
    ui::SetBackColor(picCleanMemoryProgress, kSysWindow);
    lblCleanMemoryProgress = ui::CreateControl(picCleanMemoryProgress, L"STATIC", L"", WS_VISIBLE | WS_CLIPSIBLINGS,
                                               0, 0, 1020, 300, frmMainIds::lblCleanMemoryProgress);
    ui::SetBackColor(lblCleanMemoryProgress, vb::kSysHighlight);
    lblCleanMemoryText = ui::CreateControl(
        picCleanMemoryProgress, L"STATIC", L"整理中……", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
        kCleanTextDesign.left, kCleanTextDesign.top, kCleanTextDesign.right - kCleanTextDesign.left,
        kCleanTextDesign.bottom - kCleanTextDesign.top, frmMainIds::lblCleanMemoryText);
    ui::SetBackColor(lblCleanMemoryText, kSysWindow);
    FitCleanMemoryText(lblCleanMemoryText);
    // The text stays in front of the growing fill.
    SetWindowPos(lblCleanMemoryText, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    commands_[frmMainIds::cmdCleanMemory] = [this] { cmdCleanMemory_Click(); };

    BuildSysIcons();
    lvwSystemInfo.SetImageList(ilsSysIcon);
}

void frmMain::BuildSysIcons() {
    for (int n = 1; n <= 9; ++n) {
        win::Icon icon = SysPicture(n).ToIcon();
        ilsSysIcon.Add(L"sysicon0" + std::to_wstring(n), icon.get());
    }
}

void frmMain::SelectTab(int tab) {
    TabCtrl_SetCurSel(tabMain, tab - 1);
    tabMain_Click();
}

void frmMain::tabMain_Click() {
    const int tab = TabCtrl_GetCurSel(tabMain) + 1;
    if (tab >= 1 && tab <= 3) {
        ShowWindow(picTab[tab], SW_SHOW);
        for (int i = 1; i <= 3; ++i)
            if (i != tab) ShowWindow(picTab[i], SW_HIDE);
    }
    // A page is filled the first time it is shown.  The marker is set before
    // the slow work: a click or resize that arrives while it runs (a failure
    // box, a COM wait) finds the page taken care of and does not fill it
    // again, and a failure is not repeated on every resize.
    if (tab == 2 && tabTag[2] != L"Y") {
        tabTag[2] = L"Y";
        UpdateWindow(picTab[2]);  // the empty page shows at once
        cmdPortsRefresh_Click();
    } else if (tab == 3 && tabTag[3] != L"Y") {
        tabTag[3] = L"Y";
        UpdateWindow(picTab[3]);
        if (pageSources.showSystemInfo)
            pageSources.showSystemInfo(lvwSystemInfo, ilsSysIcon);
        else
            modSystemInfo::ShowSystemInfo(lvwSystemInfo, ilsSysIcon);
    }
    vb::TrimWorkingSet();
}

void frmMain::cmdPortsRefresh_Click() {
    // The extended tables first; on any run-time error of theirs the handle
    // walk fills the same list (modProcessPorts2::ListPorts).
    //
    // One repaint for the whole refill, the clearing included.  The list is
    // hidden meanwhile, without repainting anything: a visible list view keeps
    // its scroll bars current row by row even with its redraw off (under Wine
    // that is most of the time of a refill of a few hundred rows).
    struct Batch {
        ui::ListView& l;
        bool hidden;
        explicit Batch(ui::ListView& list) : l(list), hidden(IsWindowVisible(list.Hwnd()) != FALSE) {
            if (hidden) SetWindowPos(l.Hwnd(), nullptr, 0, 0, 0, 0, kQuiet | SWP_HIDEWINDOW);
            l.BeginUpdate();
        }
        ~Batch() {
            l.EndUpdate();
            if (!hidden) return;
            SetWindowPos(l.Hwnd(), nullptr, 0, 0, 0, 0, kQuiet | SWP_SHOWWINDOW);
            RedrawWindow(l.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        }
    } batch(lvwPorts);
    if (pageSources.listPorts)
        pageSources.listPorts(lvwPorts);
    else
        modProcessPorts2::ListPorts(lvwPorts);
    vb::TrimWorkingSet();
}

void frmMain::DrawUsageBar(long percent, HWND picture) {
    HDC dc = ui::PictureDC(picture);
    if (!dc) throw vb::Error(91);
    RECT client;
    GetClientRect(picture, &client);
    const long width = vb::PixelsToTwipsX(client.right), height = vb::PixelsToTwipsY(client.bottom);
    const long w = Int16(width - 160.0);
    const long step = Int16((height - 200.0) / 100.0);
    for (long i = 0; i <= 100; ++i) {
        const bool lit = percent >= 100 - i && percent != 0;
        const long top = Int16(80 + Int16(static_cast<double>(i) * step));
        const long bottom = Int16(static_cast<double>(top) + step);
        const long right = Int16(80.0 + w);
        // The box (80, top)-(right, bottom) with both corners inside, in pixels.
        RECT r{vb::TwipsToPixelsX(80), vb::TwipsToPixelsY(top), vb::TwipsToPixelsX(right) + 1,
               vb::TwipsToPixelsY(bottom) + 1};
        HBRUSH brush = CreateSolidBrush(lit ? kStripeLit : kStripeUnlit);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    ui::RefreshPicture(picture);
}

void frmMain::cmdCleanMemory_Click() {
    if (cleanMemoryRunning_) return;  // the disabled button already keeps it from nesting
    cleanMemoryRunning_ = true;
    // Whatever ends the rounds (a failing round, a close asked for during a
    // wait), the button comes back and the progress box goes.
    struct Restore {
        frmMain& f;
        ~Restore() {
            EnableWindow(f.cmdCleanMemory, TRUE);
            ShowWindow(f.picCleanMemoryProgress, SW_HIDE);
            f.cleanMemoryRunning_ = false;
        }
    } restore{*this};

    EnableWindow(cmdCleanMemory, FALSE);
    ui::MoveControl(lblCleanMemoryProgress, 0, 0, 0, 300);
    ShowWindow(picCleanMemoryProgress, SW_SHOW);

    // A block of blanks, every page written, held over all rounds: it pushes
    // the other processes' pages out while their working sets are trimmed.
    // Without it (too little memory) the rounds still trim.
    std::wstring block;
    try {
        block = pageSources.cleanMemoryBlock ? pageSources.cleanMemoryBlock()
                                             : std::wstring(kCleanBlockChars, L' ');
    } catch (const std::bad_alloc&) {
        block.clear();
    } catch (const std::length_error&) {
        block.clear();
    }
    vb::DoEvents();

    for (long i = 1; i <= kCleanRounds; ++i) {
        if (pageSources.cleanMemoryRound)
            pageSources.cleanMemoryRound();
        else
            modCleanMemory::CleanMemory();
        const long width = static_cast<long>(vb::RoundHalfEven(static_cast<double>(kCleanProgressWidth) / kCleanRounds * i));
        ui::MoveControl(lblCleanMemoryProgress, 0, 0, width, 300);
        const long percent = static_cast<long>(std::floor(100.0 / kCleanRounds * i));
        ui::SetText(lblCleanMemoryText, std::to_wstring(percent) + L"% " + L"整理中……");
        FitCleanMemoryText(lblCleanMemoryText);
        RedrawWindow(picCleanMemoryProgress, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        Delay(100);
        if (ClosePending()) break;  // the outer loop closes the window; no more rounds
    }
    EnableWindow(cmdCleanMemory, TRUE);
    ShowWindow(picCleanMemoryProgress, SW_HIDE);
    vb::TrimWorkingSet();
}
