// The new-process, about and help windows on the real main window: starting a
// helper by path, the typed text kept whole, browse and Cancel, the dialog
// keys, the about links and clicks, the help text fully shown, and the main
// window's on-top option.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <filesystem>
#include <thread>

#include "mainwindow/frmAbout.h"
#include "mainwindow/frmHelp.h"
#include "mainwindow/frmNewProcess.h"
#include "platform/win/Text.h"
#include "test_listview_fixture.h"

namespace {

using namespace mwtest;

bool Topmost(HWND w) { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// Runs an action from inside the modal loop of the command that is running.
std::function<void()> g_inside;
void CALLBACK RunInside(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto action = std::move(g_inside);
    if (action) action();
}
void WhenModal(std::function<void()> action) {
    g_inside = std::move(action);
    SetTimer(nullptr, 0, 100, RunInside);
}

DWORD FindProcess(const std::wstring& exeName) {
    win::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W e{sizeof e};
    for (BOOL ok = Process32FirstW(snap.get(), &e); ok; ok = Process32NextW(snap.get(), &e))
        if (_wcsicmp(e.szExeFile, exeName.c_str()) == 0) return e.th32ProcessID;
    return 0;
}

void Key(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 0);
    PostMessageW(target, WM_KEYUP, key, 0xC0000000);
    PumpFor(100);
}

// The text of a label, in the font it really has, fits its client area.
void ExpectFullyShown(HWND label, bool wrap) {
    std::wstring text = ui::GetText(label);
    RECT client{};
    GetClientRect(label, &client);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT need{0, 0, wrap ? client.right : 0, 0};
    DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_NOPREFIX | (wrap ? DT_WORDBREAK : 0));
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    EXPECT_LE(need.right, client.right) << ui::GetText(label).substr(0, 12);
    EXPECT_LE(need.bottom, client.bottom) << ui::GetText(label).substr(0, 12);
}

class SmallWindows : public ::testing::Test {
protected:
    void SetUp() override {
        StopTimers();
        Form();
        frmAbout::Instance().shellOpen = [this](HWND owner, const std::wstring& a, int show) {
            opened_.push_back({owner, a, show});
        };
    }
    void TearDown() override {
        frmNewProcess::Instance().Unload();
        frmAbout::Instance().Unload();
        frmHelp::Instance().Unload();
        Form().SetCheckValue(Form().chkAlwaysOnTop, 0);
        EnableWindow(Form().Hwnd(), TRUE);
    }
    struct Opened {
        HWND owner;
        std::wstring address;
        int show;
    };
    std::vector<Opened> opened_;
};

TEST_F(SmallWindows, NewProcessFromTheMenuStartsAProgramByItsPath) {
    testsupport::TempDir dir;
    const std::wstring exe = dir.File(L"new process child.exe");  // a blank in the name: the whole text is the file
    ASSERT_TRUE(CopyFileW(testsupport::TestChildPath().c_str(), exe.c_str(), FALSE));
    bool ownerDisabled = false;
    WhenModal([&] {
        frmNewProcess& w = frmNewProcess::Instance();
        ownerDisabled = !IsWindowEnabled(Form().Hwnd());
        EXPECT_EQ(GetWindow(w.Hwnd(), GW_OWNER), Form().Hwnd());
        ui::SetText(w.txtProcessPath, exe);
        SendMessageW(w.btnOK, BM_CLICK, 0, 0);
    });
    Command(frmMainMenu::mnuProcessNew1);  // returns when the modal window is closed
    EXPECT_TRUE(ownerDisabled);
    EXPECT_FALSE(frmNewProcess::Instance().Loaded());
    EXPECT_TRUE(IsWindowEnabled(Form().Hwnd()));
    DWORD pid = 0;
    ASSERT_TRUE(Pump([&] { return (pid = FindProcess(L"new process child.exe")) != 0; }, 10000));
    ULONGLONG created = 0;
    {
        testsupport::Child started(testsupport::StartedElsewhere{pid});
        EXPECT_TRUE(started.WaitReady());
        created = started.Created();
    }
    // Nothing it started outlives it: a console host would hold the test's output open.
    EXPECT_TRUE(Pump([&] { return testsupport::ChildProcessesOf(pid, created).empty(); }, 10000));
}

TEST_F(SmallWindows, NewProcessKeepsTheTextWholeAndStaysOpenForBlanks) {
    frmNewProcess& w = frmNewProcess::Instance();
    std::vector<std::wstring> run;
    w.shellOpen = [&](const std::wstring& f) { run.push_back(f); };
    w.Show(false, Form().Hwnd());
    EXPECT_EQ(ui::GetText(w.Hwnd()), L"新建进程");
    ui::SetText(w.txtProcessPath, L"   ");
    Key(w.txtProcessPath, VK_RETURN);  // Enter is "确认"
    EXPECT_TRUE(w.Loaded());
    EXPECT_EQ(GetFocus(), w.txtProcessPath);
    EXPECT_TRUE(run.empty());
    ui::SetText(w.txtProcessPath, L"  C:\\some dir\\tool.exe -x  ");
    Key(w.txtProcessPath, VK_RETURN);
    EXPECT_FALSE(w.Loaded());
    EXPECT_EQ(run, std::vector<std::wstring>{L"  C:\\some dir\\tool.exe -x  "});

    w.Show(false, Form().Hwnd());
    ui::SetText(w.txtProcessPath, L"C:\\x.exe");
    Key(w.txtProcessPath, VK_ESCAPE);  // Esc is "取消"
    EXPECT_FALSE(w.Loaded());
    EXPECT_EQ(run.size(), 1u);
    w.shellOpen = [](const std::wstring& f) { ShellExecuteW(nullptr, L"open", f.c_str(), nullptr, nullptr, SW_SHOWNORMAL); };
}

TEST_F(SmallWindows, BrowseFillsThePathAndCancelKeepsTheTypedOne) {
    frmNewProcess& w = frmNewProcess::Instance();
    w.Show(false, Form().Hwnd());
    ui::SetText(w.txtProcessPath, L"C:\\typed.exe");
    // The real dialog, cancelled from outside.
    std::thread cancel([] {
        for (int i = 0; i < 200; ++i, Sleep(50))
            if (HWND d = FindWindowW(nullptr, frmNewProcess::kBrowseTitle)) {
                PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
                return;
            }
    });
    SendMessageW(w.btnBrowse, BM_CLICK, 0, 0);
    cancel.join();
    EXPECT_EQ(ui::GetText(w.txtProcessPath), L"C:\\typed.exe");

    OPENFILENAMEW seen{};
    std::wstring startName;
    w.getOpenFileName = [&](OPENFILENAMEW& d) {
        seen = d;
        startName = d.lpstrFile;
        wcscpy(d.lpstrFile, L"C:\\chosen\\app.exe");
        return true;
    };
    SendMessageW(w.btnBrowse, BM_CLICK, 0, 0);
    EXPECT_EQ(ui::GetText(w.txtProcessPath), L"C:\\chosen\\app.exe");
    EXPECT_EQ(GetFocus(), w.txtProcessPath);
    EXPECT_STREQ(seen.lpstrTitle, L"浏览文件");
    const wchar_t filter[] = L"应用程序(*.exe)\0*.exe\0所有文件(*.*)\0*.*\0";
    EXPECT_EQ(std::wstring(seen.lpstrFilter, std::size(filter)), std::wstring(filter, std::size(filter)));
    EXPECT_TRUE(seen.Flags & OFN_HIDEREADONLY);
    EXPECT_EQ(startName, L"");
    SendMessageW(w.btnBrowse, BM_CLICK, 0, 0);  // the dialog starts from the last choice
    EXPECT_EQ(startName, L"C:\\chosen\\app.exe");
    w.getOpenFileName = [](OPENFILENAMEW& d) { return GetOpenFileNameW(&d) != FALSE; };
}

TEST_F(SmallWindows, AboutTextsLinksAndClicks) {
    frmAbout& a = frmAbout::Instance();
    a.Show(false);
    EXPECT_EQ(ui::GetText(a.Hwnd()), L"关于 Velkaro");
    EXPECT_EQ(ui::GetText(a.lblText[0]), L"软件名称：Velkaro");
    EXPECT_EQ(ui::GetText(a.lblText[1]), L"软件版本：");
    EXPECT_EQ(ui::GetText(a.lblVersion), L"V4.12.20080509");
    EXPECT_EQ(ui::GetText(a.lblText[2]), L"软件类别：系统辅助");
    EXPECT_EQ(ui::GetText(a.lblText[4]), L"应用平台：Windows 2000/XP/2003");
    EXPECT_EQ(ui::GetText(a.lblText[5]),
              L"虽然现在工作很忙，但仍然感谢大家一直支持着我的软件，不断提供进程信息和提出改进意见。谢谢！");
    for (HWND l : {a.lblText[0], a.lblText[1], a.lblVersion, a.lblText[2], a.lblText[4], a.lblWWW, a.lblEMail})
        ExpectFullyShown(l, false);
    ExpectFullyShown(a.lblText[5], true);

    // Each control is on top where it stands, over the border label.
    auto centre = [](HWND w) {
        RECT r;
        GetWindowRect(w, &r);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    for (HWND w : {a.imgIcon, a.lblWWW, a.lblEMail, a.lblExit, a.lblText[2]}) EXPECT_EQ(WindowFromPoint(centre(w)), w);

    SendMessageW(a.lblWWW, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageW(a.lblEMail, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].owner, nullptr);
    EXPECT_EQ(opened_[0].address, frmAbout::kWebPage);
    EXPECT_EQ(opened_[0].show, SW_SHOWMAXIMIZED);
    EXPECT_EQ(opened_[1].owner, a.Hwnd());
    EXPECT_EQ(opened_[1].address, std::wstring(L"mailto:") + frmAbout::kMailAddress);
    EXPECT_EQ(opened_[1].show, SW_SHOWNORMAL);  // the mail window is shown, not hidden

    EXPECT_EQ(a.LabelForeColor(a.lblExit), 0u);
    SendMessageW(a.Hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(a.lblExit), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(a.LabelForeColor(a.lblExit), 0x808080u);

    SendMessageW(a.imgIcon, WM_LBUTTONDOWN, MK_LBUTTON, 0);  // does nothing
    EXPECT_TRUE(a.Loaded());
    SendMessageW(a.lblBorder, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_FALSE(a.Loaded());
    a.Show(false);
    Key(a.cmdExit, VK_ESCAPE);
    EXPECT_FALSE(a.Loaded());
    a.Show(false);
    SendMessageW(a.lblExit, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_FALSE(a.Loaded());
}

TEST_F(SmallWindows, AboutReactsToRealClicksOnItsLinksAndCloseLabelOnly) {
    frmAbout& a = frmAbout::Instance();
    a.Show(false);
    SetForegroundWindow(a.Hwnd());
    // Each plain text, then the web link: once the link has reacted, the
    // click on the text before it has been handled too.
    for (HWND text : {a.lblText[0], a.lblText[1], a.lblVersion, a.lblText[2], a.lblText[4], a.lblText[5], a.imgIcon}) {
        const size_t before = opened_.size();
        const std::string name = win::ToUtf8(ui::GetText(text));
        testsupport::ClickMiddle(text);
        testsupport::ClickMiddle(a.lblWWW);
        ASSERT_TRUE(Pump([&] { return opened_.size() > before || !a.Loaded(); }, 5000));
        ASSERT_TRUE(a.Loaded()) << "closed by a click on \"" << name << "\"";
        EXPECT_EQ(opened_.back().address, frmAbout::kWebPage);
    }
    testsupport::ClickMiddle(a.lblEMail);
    EXPECT_TRUE(Pump([&] { return opened_.back().address.rfind(L"mailto:", 0) == 0; }, 5000));
    testsupport::ClickMiddle(a.lblExit);
    EXPECT_TRUE(Pump([&] { return !a.Loaded(); }, 5000));
}

TEST_F(SmallWindows, AboutFromTheMenuBarIsModalAndFromTheTrayNot) {
    bool disabled = false, shown = false;
    WhenModal([&] {
        disabled = !IsWindowEnabled(Form().Hwnd());
        shown = frmAbout::Instance().Loaded() && IsWindowVisible(frmAbout::Instance().Hwnd());
        frmAbout::Instance().cmdExit_Click();
    });
    Command(frmMainMenu::mnuHelpAbout);
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(IsWindowEnabled(Form().Hwnd()));

    Command(frmMainMenu::mnuTrayAbout);
    EXPECT_TRUE(frmAbout::Instance().Loaded());
    EXPECT_TRUE(IsWindowEnabled(Form().Hwnd()));
    Command(frmMainMenu::mnuHelpAbout);  // already open: brought to the front, nothing waits
    EXPECT_TRUE(IsWindowEnabled(Form().Hwnd()));
}

TEST_F(SmallWindows, HelpShowsItsWholeText) {
    Command(frmMainMenu::mnuHelpHelp);
    frmHelp& h = frmHelp::Instance();
    ASSERT_TRUE(h.Loaded());
    EXPECT_TRUE(IsWindowVisible(h.Hwnd()));
    EXPECT_EQ(GetWindow(h.Hwnd(), GW_OWNER), nullptr);
    EXPECT_EQ(ui::GetText(h.Hwnd()), L"Velkaro 使用帮助");
    const wchar_t* const lines[] = {
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
    std::wstring text;
    for (const wchar_t* line : lines) text += (line == lines[0] ? L"" : L"\r\n") + std::wstring(line);
    EXPECT_EQ(ui::GetText(h.lblHelpText), text);
    EXPECT_EQ(ui::GetText(h.Label5), L"Velkaro是一款功能比较强大的进程管理工具。它为您提供以下功能：进程查询(描述/模块)、"
                                     L"进程管理(结束/暂停/恢复/删除……)、端口访问查询、系统性能/信息等。");
    ExpectFullyShown(h.lblHelpText, false);
    ExpectFullyShown(h.Label5, true);
    // The body lies inside the panel, the panel inside the window.
    RECT body_{}, panel{}, client{};
    GetWindowRect(h.lblHelpText, &body_);
    GetWindowRect(h.Label1, &panel);
    GetClientRect(h.Hwnd(), &client);
    MapWindowPoints(h.Hwnd(), nullptr, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_TRUE(body_.right <= panel.right && body_.bottom <= panel.bottom);
    EXPECT_TRUE(panel.right <= client.right && panel.bottom <= client.bottom);

    HWND first = h.Hwnd();
    Command(frmMainMenu::mnuHelpHelp);  // open already: the same window
    EXPECT_EQ(h.Hwnd(), first);
    Key(h.cmdExit, VK_ESCAPE);
    EXPECT_FALSE(h.Loaded());
}

TEST_F(SmallWindows, OnTopOptionMakesEachWindowTopmostWhenItLoads) {
    Form().SetCheckValue(Form().chkAlwaysOnTop, 1);
    frmNewProcess::Instance().Show(false, Form().Hwnd());
    frmAbout::Instance().Show(false);
    frmHelp::Instance().Show();
    EXPECT_TRUE(Topmost(frmNewProcess::Instance().Hwnd()));
    EXPECT_TRUE(Topmost(frmAbout::Instance().Hwnd()));
    EXPECT_TRUE(Topmost(frmHelp::Instance().Hwnd()));
    Form().SetCheckValue(Form().chkAlwaysOnTop, 0);  // read once, at load
    EXPECT_TRUE(Topmost(frmHelp::Instance().Hwnd()));
    frmHelp::Instance().Unload();
    frmHelp::Instance().Show();
    EXPECT_FALSE(Topmost(frmHelp::Instance().Hwnd()));
}

}  // namespace

namespace {

// Last in this file: it closes the main window.
TEST_F(SmallWindows, ClosingTheMainWindowUnloadsAboutAndHelp) {
    frmAbout::Instance().Show(false);
    frmHelp::Instance().Show();
    SendMessageW(Form().Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(frmAbout::Instance().Loaded());
    EXPECT_FALSE(frmHelp::Instance().Loaded());
}

}  // namespace
