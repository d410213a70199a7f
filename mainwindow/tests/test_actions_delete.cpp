// End and delete against copies of the helper program: the waits, exactly the
// listed files, and the failures reported.
#include <algorithm>

#include "test_actions_support.h"

using namespace acttest;
using namespace frmMainMenu;
using testsupport::MessageBoxAnswerer;

TEST_F(Actions, DeleteEndsTheProcessAndRemovesItsFile) {
    testsupport::TempDir dir;
    const std::wstring exe = CopyOfChild(dir, L"删除我.exe");
    Child child(L"", exe);
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    SelectOnly(child.Pid());
    const std::wstring shown = List().SubItem(Row(child.Pid()), 6);
    ASSERT_FALSE(shown.empty());
    {
        MessageBoxAnswerer no({IDNO});
        Command(mnuProcessDelete1);
        ASSERT_EQ(no.Boxes().size(), 1u);
        ExpectBox(no.Boxes()[0], L"您是否确定要删除以下文件？  \n" + shown + L"  \n建议您在删除文件前先备份！  ",
                  MB_ICONEXCLAMATION);
        EXPECT_FALSE(child.WaitExit(200));
    }
    MessageBoxAnswerer yes({IDYES});
    const DWORD start = GetTickCount();
    Command(mnuProcessDelete);
    EXPECT_GE(GetTickCount() - start, 1000u) << "waits for the process to let go";
    EXPECT_EQ(yes.Boxes().size(), 1u) << "no failure";
    EXPECT_TRUE(child.WaitExit(0));
    EXPECT_FALSE(Exists(exe));
}

TEST_F(Actions, DeleteOfARowWithoutPathEndsNothing) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    SelectOnly(child.Pid());
    List().SetSubItem(Row(child.Pid()), 6, L"");
    MessageBoxAnswerer yes({IDYES});
    Form().mnuProcessDelete_Click();
    ASSERT_EQ(yes.Boxes().size(), 2u);
    ExpectBox(yes.Boxes()[1], L"抱歉！无法删除该文件。  ", MB_ICONINFORMATION);
    EXPECT_FALSE(child.WaitExit(300));
}

TEST_F(Actions, DeleteSeveralDeletesExactlyTheListedFilesAndReportsTheRest) {
    testsupport::TempDir dir;
    const std::wstring exeA = CopyOfChild(dir, L"a.exe"), exeB = CopyOfChild(dir, L"b.exe");
    Child a(L"", exeA), b(L"", exeB), c;
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    ASSERT_TRUE(c.WaitReady());
    Refresh();
    // c's row names a folder: the process ends, the folder cannot go.
    const std::wstring folder = dir.File(L"folder");
    std::filesystem::create_directory(folder);
    List().SetSubItem(Row(c.Pid()), 6, folder);
    List().Select(0);
    for (DWORD pid : {a.Pid(), b.Pid(), c.Pid(), GetCurrentProcessId()}) SelectAlso(pid);
    // The failures in list order: c's folder and the tool's own file.
    std::vector<std::pair<int, std::wstring>> failed = {
        {Row(c.Pid()), folder}, {Row(GetCurrentProcessId()), List().SubItem(Row(GetCurrentProcessId()), 6)}};
    std::sort(failed.begin(), failed.end());
    const std::wstring shownA = List().SubItem(Row(a.Pid()), 6);

    MessageBoxAnswerer yes({IDYES});
    const DWORD start = GetTickCount();
    Form().mnuProcessDelete_Click();
    EXPECT_GE(GetTickCount() - start, 3000u) << "one wait per ended process";
    ASSERT_EQ(yes.Boxes().size(), 2u);
    EXPECT_EQ(yes.Boxes()[0].text.find(L"您是否确定要删除以下文件？  \n"), 0u);
    EXPECT_NE(yes.Boxes()[0].text.find(L"\n" + shownA + L"  \n"), std::wstring::npos);
    ExpectBox(yes.Boxes()[1],
              L"抱歉！无法删除以下文件：  \n" + failed[0].second + L"  \n" + failed[1].second + L"  \n",
              MB_ICONINFORMATION);
    EXPECT_TRUE(a.WaitExit(0));
    EXPECT_TRUE(b.WaitExit(0));
    EXPECT_TRUE(c.WaitExit(0));
    EXPECT_FALSE(Exists(exeA));
    EXPECT_FALSE(Exists(exeB));
    EXPECT_TRUE(Exists(folder));
    EXPECT_TRUE(Exists(testsupport::TestChildPath()));
}


