// The process actions of the real main window against helper processes: end,
// the forms with nothing selected, rows that go while a box is up, priority,
// copy, properties and locate; the texts and icons of every box they show.
#include <algorithm>

#include "sysaccess/modThread.h"
#include "test_actions_support.h"

using namespace acttest;
using namespace frmMainMenu;
using testsupport::MessageBoxAnswerer;

// ---- end ----

TEST_F(Actions, EndOneRowAsksAndEndsIt) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    SelectOnly(child.Pid());
    const std::wstring name = List().Text(Row(child.Pid()));
    {
        MessageBoxAnswerer no({IDNO});
        Command(mnuProcessKill);
        ASSERT_EQ(no.Boxes().size(), 1u);
        ExpectBox(no.Boxes()[0],
                  kEndWarning + L"是否确定要结束进程 " + name + L" [" + std::to_wstring(child.Pid()) + L"] ？  ",
                  MB_ICONEXCLAMATION);
        EXPECT_FALSE(child.WaitExit(300)) << "No leaves it running";
    }
    MessageBoxAnswerer yes({IDYES});
    Command(mnuProcessKill1);  // the menu bar's twin
    EXPECT_EQ(yes.Boxes().size(), 1u) << "no failure box";
    EXPECT_TRUE(child.WaitExit(5000));
}

TEST_F(Actions, EndOneRowThatCannotBeEndedSaysSo) {
    // A row for a process that does not exist.
    List().Select(AddRow(999991, L"gone.exe", L"C:\\gone.exe", L"标准", kBlue));
    MessageBoxAnswerer yes({IDYES});
    Form().mnuProcessKill_Click();
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法结束该进程。", MB_ICONINFORMATION);
}

TEST_F(Actions, EndSeveralLeavesTheToolRunningAndListsIt) {
    Child a, b;
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    Refresh();
    List().Select(0);
    for (DWORD pid : {a.Pid(), GetCurrentProcessId(), b.Pid()}) SelectAlso(pid);
    // The confirmation lists the rows in list order.
    std::vector<std::pair<int, DWORD>> order;
    for (DWORD pid : {a.Pid(), GetCurrentProcessId(), b.Pid()}) order.emplace_back(Row(pid), pid);
    std::sort(order.begin(), order.end());
    std::wstring list;
    for (auto& [row, pid] : order) list += Line(pid);
    const std::wstring own = Line(GetCurrentProcessId());

    MessageBoxAnswerer yes({IDYES});
    Command(mnuProcessKill);
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[0], kEndWarning + L"是否确定要结束以下进程？\n" + list, MB_ICONEXCLAMATION);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法结束以下进程：  \n" + own, MB_ICONINFORMATION);
    EXPECT_TRUE(a.WaitExit(5000));
    EXPECT_TRUE(b.WaitExit(5000));
}

TEST_F(Actions, NothingSelectedAsksWithAnEmptyListAndDoesNothing) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    List().Select(0);
    MessageBoxAnswerer yes({IDYES, IDYES});
    Command(mnuProcessKill);
    Form().PauseResumeSelection(kPause, false);
    Form().PauseResumeSelection(kResume, false);  // resume asks nothing
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[0], kEndWarning + L"是否确定要结束以下进程？\n", MB_ICONEXCLAMATION);
    ExpectBox(yes.Boxes()[1], kPauseWarning + L"您是否确定要暂停以下进程？\n", MB_ICONEXCLAMATION);
    EXPECT_TRUE(child.Runs());
    // Any other mode text does nothing at all.
    Form().PauseResumeSelection(L"暂停", false);
    EXPECT_EQ(yes.Boxes().size(), 2u);
}

TEST_F(Actions, RowGoneWhileTheBoxIsUpIsSkipped) {
    Child a(L"--threads 1"), b(L"--threads 1");
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    Refresh();
    SelectOnly(a.Pid());
    SelectAlso(b.Pid());
    const std::wstring lineA = Line(a.Pid());
    MessageBoxAnswerer yes({IDYES});
    {
        WhileBoxUp meanwhile([&] { RemoveRow(a.Pid()); });
        Form().PauseResumeSelection(kPause, false);
    }
    EXPECT_TRUE(a.Runs()) << "its row went: not paused";
    EXPECT_TRUE(b.Frozen());
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法暂停以下进程：  \n" + lineA, MB_ICONINFORMATION);
    modThread::ResumeProcess(static_cast<long>(b.Pid()));

    // The single-row form: the row goes while it asks; nothing ends, nothing crashes.
    Refresh();
    SelectOnly(a.Pid());
    yes.Clear();
    {
        WhileBoxUp meanwhile([&] { RemoveRow(a.Pid()); });
        Command(mnuProcessKill);
    }
    EXPECT_EQ(yes.Boxes().size(), 1u);
    EXPECT_FALSE(a.WaitExit(300));
}

// ---- priority ----

TEST_F(Actions, PriorityItemsSetTheClassAndTheListShowsIt) {
    Child child(L"--priority normal");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ClickRow(Row(child.Pid()));
    MessageBoxAnswerer ok;
    OpenMenu(Form().menus().popup);
    Command(mnuProcessClassSub + 5);  // 低
    EXPECT_EQ(GetPriorityClass(child.Process()), static_cast<DWORD>(IDLE_PRIORITY_CLASS));
    Form().tmrMonitor_Timer();
    EXPECT_EQ(List().SubItem(Row(child.Pid()), 5), L"低");

    OpenMenu(Form().menus().process);
    Command(mnuProcessClass1Sub + 2);  // 高于标准
    EXPECT_EQ(GetPriorityClass(child.Process()), static_cast<DWORD>(ABOVE_NORMAL_PRIORITY_CLASS));
    EXPECT_TRUE(ok.Boxes().empty());
}

TEST_F(Actions, TickedPriorityItemDoesNothingAndRefusalIsReported) {
    Child child(L"--priority below");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ClickRow(Row(child.Pid()));
    MessageBoxAnswerer ok;
    OpenMenu(Form().menus().process);
    ASSERT_TRUE(Form().MenuChecked(mnuProcessClass1Sub + 4));
    // Someone else changes the class; choosing the ticked item leaves it.
    SetPriorityClass(child.Process(), NORMAL_PRIORITY_CLASS);
    Command(mnuProcessClass1Sub + 4);
    EXPECT_EQ(GetPriorityClass(child.Process()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));

    List().Select(AddRow(999992, L"gone.exe", L"C:\\gone.exe", L"标准", kBlue));
    OpenMenu(Form().menus().popup);
    Command(mnuProcessClassSub + 1);
    ASSERT_EQ(ok.Boxes().size(), 1u);
    ExpectBox(ok.Boxes()[0], L"无法为该进程设置优先级。  ", MB_ICONERROR);
}

// ---- properties, locate, copy ----

namespace {

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<busy>";
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

}  // namespace

TEST_F(Actions, CopyNameAndPathAsPlainText) {
    List().Select(AddRow(999991, L"名字.exe", L"C:\\某处\\名字.exe", L"标准", kBlue));
    Command(mnuProcessCopyName1);
    EXPECT_EQ(ClipboardText(), L"名字.exe");
    Command(mnuProcessCopyPath);
    EXPECT_EQ(ClipboardText(), L"C:\\某处\\名字.exe");
    // With no selected row the clipboard is left empty.
    List().Select(0);
    Command(mnuProcessCopyName);
    EXPECT_EQ(ClipboardText(), L"");
}

TEST_F(Actions, PropertiesAndLocateOfARowWithoutPathDoNothing) {
    MessageBoxAnswerer ok;
    List().Select(AddRow(999991, L"System", L"", L"", kBlack));
    Command(mnuProcessProperty);
    Command(mnuProcessWhere1);
    // Properties of a real file: the shell may show its sheet or refuse; no box of ours.
    List().Select(AddRow(999992, L"TestChild.exe", testsupport::TestChildPath(), L"标准", kBlue));
    Command(mnuProcessProperty1);
    EXPECT_TRUE(ok.Boxes().empty());
}
