// Closing the main window while an action waits: the action stops where it
// is and the window closes once it has returned.  Its own executable, since
// the window does not come back.
#include <algorithm>

#include "test_actions_support.h"

using namespace acttest;
using testsupport::MessageBoxAnswerer;

namespace {

void CALLBACK CloseNow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageW(frmMain::Instance().Hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace

TEST(ActionsClose, CloseDuringTheWaitOfDeleteEndsTheCommand) {
    testsupport::TempDir dir;
    const std::wstring exeA = CopyOfChild(dir, L"a.exe"), exeB = CopyOfChild(dir, L"b.exe");
    Child a(L"", exeA), b(L"", exeB);
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    Refresh();
    List().Select(0);
    SelectAlso(a.Pid());
    SelectAlso(b.Pid());
    // The first row in list order is ended and deleted, the other is left alone.
    const bool aFirst = Row(a.Pid()) < Row(b.Pid());
    Child& first = aFirst ? a : b;
    Child& second = aFirst ? b : a;
    const std::wstring& firstExe = aFirst ? exeA : exeB;
    const std::wstring& secondExe = aFirst ? exeB : exeA;

    MessageBoxAnswerer yes({IDYES});
    {
        WhileBoxUp meanwhile([] { SetTimer(nullptr, 0, 300, CloseNow); });
        Form().mnuProcessDelete_Click();
    }
    EXPECT_EQ(yes.Boxes().size(), 1u) << "no failure report for what was not done";
    EXPECT_TRUE(first.WaitExit(0));
    EXPECT_FALSE(Exists(firstExe));
    EXPECT_FALSE(second.WaitExit(200)) << "nothing more is ended once the window goes";
    EXPECT_TRUE(Exists(secondExe));
    ASSERT_NE(frmMain::Instance().Hwnd(), nullptr) << "closes after the command, not inside it";
    EXPECT_TRUE(testsupport::PumpUntil([] { return frmMain::Instance().Hwnd() == nullptr; }, 5000));
}
