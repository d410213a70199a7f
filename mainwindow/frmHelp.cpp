#include "mainwindow/frmHelp.h"

#include <algorithm>
#include <cstdint>

#include "mainwindow/SmallWindowSupport.h"
#include "platform/ui/Icon.h"
#include "platform/ui/ModalLoop.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

constexpr long kClientWidth = 7215, kClientHeight = 8175;
constexpr unsigned long kInfoBackground = 0x80000018;  // COLOR_INFOBK
constexpr unsigned long kWindowBackground = 0x80000005;  // COLOR_WINDOW

const wchar_t* const kHelpLines[] = {
    L"[进程查询]",
    L"进程查询是本软件的一大特色。从进程列表右下角打开“描述”或“模块”框即",
    L"可查询列表中当前选中进程的“描述”或“模块”信息。软件拥有强大的进程信",
    L"息数据库，您还可直接在“描述”框中输入进程名来查询指定进程的相关信息。",
    L"如果遇到未知进程(进程数据库中尚未收录)，您还可以通过点击给出的快捷链接",
    L"在百度或 Google 上查询进程信息。同时也请关注“进程补完计划”。",
    L"",
    L"[进程管理]",
    L"结束进程 -- 强行结束正在运行的进程。",
    L"暂停进程 -- 暂时停止进程的运行，使进程挂起。",
    L"恢复进程 -- 使挂起的进程恢复运行。",
    L"删除文件 -- 强行结束进程并删除进程文件(慎用)。",
    L"查看属性 -- 查看进程文件的属性。",
    L"所在目录 -- 打开进程文件所在目录(文件夹)。",
    L"自动屏蔽危险进程 -- 发现危险进程(病毒或木马等)后能自动结束该进程。",
    L"多个进程同时操作 -- 这是本软件的特点，可以同时对多个进程进行管理操作。",
    L"您可以通过 Ctrl/Shift 键或直接拖动鼠标选中多个进程，然后便可同时对它",
    L"们进行各种管理操作。这一功能可用于对付多进程的病毒木马等。",
    L"",
    L"[列表操作]",
    L"查看选项 -- 设定进程列表中所要显示的内容，包括：进程名、PID、用户名、",
    L"CPU、内存、优先级和进程路径。",
    L"列表排序 -- 对进程列表中的进程按照进程名、PID、用户名、内存占用、优先",
    L"级、进程路径或启动时间进行排序。",
    L"导出列表 -- 将列表中的进程信息导出并以当前时间命名保存到文本文件中。",
    L"",
    L"[端口访问查询]",
    L"“端口信息”选项卡中显示出当前正在访问网络端口的进程列表。",
    L"",
    L"[系统性能/信息]",
    L"“系统信息”选项卡中实时显示 CPU 和物理内存的使用率(并以图形直观表现)",
    L"以及关于系统的信息摘要。",
    L"",
    L"[内存整理]",
    L"点击物理内存使用率柱状图下的“整理内存”按钮能有效释放出大量可用物理内",
    L"存，以提高系统运行性能。",
};

RECT RectIn(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void Resize(HWND control, int dw, int dh) {
    RECT r = RectIn(control);
    SetWindowPos(control, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Move(HWND control, int dy) {
    RECT r = RectIn(control);
    SetWindowPos(control, nullptr, r.left, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A white question mark on a blue disc, 16 x 16: the window's own icon.
win::Icon DrawHelpIcon() {
    static const char* const art[16] = {
        "     ######     ", "   ##########   ", "  ############  ", " #####....##### ",
        " ####..##..#### ", "########..######", "#######..#######", "######..########",
        "######..########", "################", "######..########", " #####..####### ",
        " ############## ", "  ############  ", "   ##########   ", "     ######     ",
    };
    uint32_t pixels[256];
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            char c = art[y][x];
            pixels[y * 16 + x] = c == '#' ? 0xFF1E4696u : c == '.' ? 0xFFFFFFFFu : 0u;
        }
    return ui::IconFromPixels(16, pixels);
}

}  // namespace

const std::wstring& frmHelp::HelpText() {
    static const std::wstring text = [] {
        std::wstring t;
        for (const wchar_t* line : kHelpLines) {
            if (line != kHelpLines[0]) t += L"\r\n";
            t += line;
        }
        return t;
    }();
    return text;
}

const std::wstring& frmHelp::IntroText() {
    static const std::wstring text =
        L"Velkaro是一款功能比较强大的进程管理工具。它为您提供以下功能：进程查询(描述/模块)、进程管理(结束/暂停/恢复/删除……)、"
        L"端口访问查询、系统性能/信息等。";
    return text;
}

frmHelp& frmHelp::Instance() {
    static frmHelp* form = new frmHelp();  // lives as long as the program, like the form object
    return *form;
}

frmHelp::frmHelp() = default;

void frmHelp::Load() {
    if (hwnd_) return;
    static HICON icon = DrawHelpIcon().release();  // also the window class's: never destroyed
    CreateForm(L"MorvixHelp", kCaption, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, icon);
    if (!hwnd_) return;
    smallwin::SetWindowIcon(hwnd_, icon);
    smallwin::Place(hwnd_, kClientWidth, kClientHeight);
    auto label = [&](const std::wstring& text, long left, long top, long width, long height, DWORD style,
                     unsigned long back) {
        HWND w = ui::CreateControl(hwnd_, L"STATIC", text, WS_VISIBLE | WS_CLIPSIBLINGS | SS_LEFT | SS_NOPREFIX | style,
                                   left, top, width, height);
        ui::SetBackColor(w, back);
        return w;
    };
    // Created front to back; each later one lies under the earlier ones.
    Label5 = label(IntroText(), 720, 480, 5775, 615, 0, kWindowBackground);
    lblHelpText = label(HelpText(), 420, 1380, 6375, 6615, 0, kInfoBackground);
    Label6 = label(L"", 240, 1200, 6735, 180, 0, kInfoBackground);
    Label2 = label(L"", 360, 240, 6495, 975, WS_BORDER, kWindowBackground);
    Label1 = label(L"", 120, 120, 6975, 7935, WS_BORDER, kInfoBackground);
    for (HWND w : {Label5, lblHelpText, Label6, Label2, Label1})
        SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    cmdExit = ui::CreateControl(hwnd_, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 7320, 360, 255, 255,
                                IDCANCEL);
    dialogKeys_ = ui::AddDialogKeys(hwnd_);
    FitText();
    Form_Load();
}

// The designed sizes assume a narrower font than the system may give: the
// intro and the help body grow until all of their text shows, and the frame,
// the boxes and the window grow with them.  The body is never wrapped.
void frmHelp::FitText() {
    RECT body = RectIn(lblHelpText);
    SIZE need = ui::MeasureText(lblHelpText, false);
    const int wider = std::max<int>(0, need.cx - (body.right - body.left));
    for (HWND w : {Label1, Label2, Label5, Label6, lblHelpText}) Resize(w, wider, 0);

    RECT intro = RectIn(Label5);
    const int introTaller = std::max<int>(0, ui::MeasureText(Label5, true).cy - (intro.bottom - intro.top));
    Resize(Label5, 0, introTaller);
    Resize(Label2, 0, introTaller);
    Move(Label6, introTaller);
    Move(lblHelpText, introTaller);

    const int bodyTaller = std::max<int>(0, need.cy - (body.bottom - body.top));
    Resize(lblHelpText, 0, bodyTaller);
    Resize(Label1, 0, introTaller + bodyTaller);
    if (wider || introTaller || bodyTaller)
        smallwin::Place(hwnd_, kClientWidth + vb::PixelsToTwipsX(wider),
                        kClientHeight + vb::PixelsToTwipsY(introTaller + bodyTaller));
}

void frmHelp::Form_Load() { smallwin::ApplyTopmostRule(hwnd_); }

void frmHelp::Show() {
    Load();
    if (!hwnd_) return;
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetFocus(cmdExit);
}

void frmHelp::Unload() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void frmHelp::cmdExit_Click() { Unload(); }

LRESULT frmHelp::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) vb::Try([&] { cmdExit_Click(); });
        return 0;
    case WM_CLOSE:
        Unload();
        return 0;
    case WM_DESTROY:
        vb::RemoveMessageFilter(dialogKeys_);
        dialogKeys_ = 0;
        return 0;
    case WM_NCDESTROY:
        Label1 = Label2 = Label5 = Label6 = lblHelpText = cmdExit = nullptr;
        break;
    }
    return DefaultProc(msg, wParam, lParam);
}
