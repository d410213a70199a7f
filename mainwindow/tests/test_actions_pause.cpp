// Pause and resume from the menus against helper processes: the retry rules,
// the row colours, toolbar button 1, and the tool's own process.
#include "sysaccess/modThread.h"
#include "test_actions_support.h"

using namespace acttest;
using namespace frmMainMenu;
using testsupport::MessageBoxAnswerer;

TEST_F(Actions, PauseFromTheMenuGreysTheRowAndOnlyChangesTheToolbarPicture) {
    Child child(L"--threads 2");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ClickRow(Row(child.Pid()));
    ASSERT_EQ(Form().ButtonCaption(1), kPause);
    OpenMenu(Form().menus().popup);
    ASSERT_EQ(Form().MenuCaption(mnuProcessPause), kPause);

    MessageBoxAnswerer yes({IDYES});
    Command(mnuProcessPause);
    ASSERT_EQ(yes.Boxes().size(), 1u);
    ExpectBox(yes.Boxes()[0],
              kPauseWarning + L"您是否确定要暂停进程 " + List().Text(Row(child.Pid())) + L" [" +
                  std::to_wstring(child.Pid()) + L"] ？  ",
              MB_ICONEXCLAMATION);
    EXPECT_TRUE(child.Frozen());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kGrey);
    EXPECT_EQ(Form().ButtonPicture(1), L"btn021");
    EXPECT_EQ(Form().ButtonCaption(1), kPause) << "the menu leaves the toolbar's caption";

    // The bar's item resumes by its own caption, without asking.
    OpenMenu(Form().menus().process);
    ASSERT_EQ(Form().MenuCaption(mnuProcessPause1), kResume);
    Command(mnuProcessPause1);
    EXPECT_EQ(yes.Boxes().size(), 1u);
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kWindowText);
    EXPECT_EQ(Form().ButtonPicture(1), L"btn020");
}

TEST_F(Actions, PauseAnsweredNoChangesNothing) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    SelectOnly(child.Pid());
    const unsigned long before = List().ForeColor(Row(child.Pid()));
    MessageBoxAnswerer no({IDNO});
    Form().PauseResumeSelection(kPause, true);
    EXPECT_EQ(no.Boxes().size(), 1u);
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), before);
}

TEST_F(Actions, PauseRetryRules) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    const long pid = static_cast<long>(child.Pid());
    Refresh();
    SelectOnly(child.Pid());
    MessageBoxAnswerer yes({IDYES, IDYES, IDOK});

    // Suspended once elsewhere: pausing keeps it suspended once and succeeds.
    modThread::SuspendProcess(pid);
    Form().PauseResumeSelection(kPause, false);
    EXPECT_EQ(yes.Boxes().size(), 1u) << "only the confirmation";
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kGrey);
    EXPECT_EQ(modThread::ResumeProcess(pid), 1) << "suspended exactly once";

    // Suspended twice: failure, the row keeps its colour.
    List().SetForeColor(Row(child.Pid()), kBlue);
    modThread::SuspendProcess(pid);
    modThread::SuspendProcess(pid);
    yes.Clear();
    Form().PauseResumeSelection(kPause, false);
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法暂停该进程。", MB_ICONINFORMATION);
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kBlue);
    EXPECT_EQ(modThread::ResumeProcess(pid), 2) << "left suspended twice";
    modThread::ResumeProcess(pid);
    EXPECT_TRUE(child.Runs());
}

TEST_F(Actions, ResumeRetryRules) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    const long pid = static_cast<long>(child.Pid());
    Refresh();
    SelectOnly(child.Pid());
    MessageBoxAnswerer ok;

    // Resumed elsewhere (it runs): suspended and resumed once, a success.
    List().SetForeColor(Row(child.Pid()), kGrey);
    Form().PauseResumeSelection(kResume, false);
    EXPECT_TRUE(ok.Boxes().empty());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kWindowText);
    EXPECT_TRUE(child.Runs());

    // Suspended twice: one resume is left over, and it is a failure.
    modThread::SuspendProcess(pid);
    modThread::SuspendProcess(pid);
    List().SetForeColor(Row(child.Pid()), kGrey);
    Form().PauseResumeSelection(kResume, false);
    ASSERT_EQ(ok.Boxes().size(), 1u);
    ExpectBox(ok.Boxes()[0], L"抱歉！无法恢复该进程。", MB_ICONINFORMATION);
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kGrey);
    EXPECT_TRUE(child.Frozen());
    EXPECT_EQ(modThread::ResumeProcess(pid), 1) << "suspended once now";
}

TEST_F(Actions, PauseOfAProcessThatHasEndedIsAFailure) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    SelectOnly(child.Pid());
    child.Kill();
    List().SetForeColor(Row(child.Pid()), kBlue);
    MessageBoxAnswerer yes({IDYES});
    Form().PauseResumeSelection(kPause, true);
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法暂停该进程。", MB_ICONINFORMATION);
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kBlue);
}

TEST_F(Actions, PauseAndResumeSeveralSkipTheToolItself) {
    Child a(L"--threads 1"), b(L"--threads 1");
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    Refresh();
    List().Select(0);
    for (DWORD pid : {a.Pid(), GetCurrentProcessId(), b.Pid()}) SelectAlso(pid);
    const unsigned long ownColour = List().ForeColor(Row(GetCurrentProcessId()));
    const std::wstring ownLine = Line(GetCurrentProcessId());
    const std::wstring caption = Form().ButtonCaption(1), picture = Form().ButtonPicture(1);

    MessageBoxAnswerer yes({IDYES});
    Form().PauseResumeSelection(kPause, true);
    ASSERT_EQ(yes.Boxes().size(), 2u);
    EXPECT_NE(yes.Boxes()[0].text.find(ownLine), std::wstring::npos);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法暂停以下进程：  \n" + ownLine, MB_ICONINFORMATION);
    EXPECT_TRUE(a.Frozen());
    EXPECT_TRUE(b.Frozen());
    EXPECT_EQ(List().ForeColor(Row(a.Pid())), kGrey);
    EXPECT_EQ(List().ForeColor(Row(b.Pid())), kGrey);
    EXPECT_EQ(List().ForeColor(Row(GetCurrentProcessId())), ownColour);
    EXPECT_EQ(Form().ButtonCaption(1), caption) << "the several-rows form leaves button 1";
    EXPECT_EQ(Form().ButtonPicture(1), picture);

    yes.Clear();
    Form().PauseResumeSelection(kResume, true);
    ASSERT_EQ(yes.Boxes().size(), 1u) << "no confirmation, one failure list";
    ExpectBox(yes.Boxes()[0], L"抱歉！无法恢复以下进程：  \n" + ownLine, MB_ICONINFORMATION);
    EXPECT_TRUE(a.Runs());
    EXPECT_TRUE(b.Runs());
    EXPECT_EQ(List().ForeColor(Row(a.Pid())), kWindowText);
    EXPECT_EQ(List().ForeColor(Row(b.Pid())), kWindowText);
}


