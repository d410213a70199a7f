// A close asked for while a box, a wait or the list's pump is open is
// remembered once and carried out by the outermost loop.  Meanwhile the box
// answers a real Enter, timers keep ticking and a refresh keeps its speed.
// Its own executable: the window goes at the end.
#include <algorithm>
#include <thread>

#include "test_listview_fixture.h"

using namespace mwtest;

namespace {

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

// When the box opens: the main window is asked to close, and 300 ms later
// Enter is pressed in the box.  A watchdog thread answers "No" after 8 s, so a
// box that cannot be answered fails the test instead of hanging it.
HWND g_box = nullptr;
void CALLBACK PressEnterInBox(HWND box, UINT, UINT_PTR id, DWORD) {
    KillTimer(box, id);
    SetForegroundWindow(box);
    testsupport::PressKey(VK_RETURN);
}
LRESULT CALLBACK OnBoxOpen(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !g_box) {
        HWND w = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        if (std::wstring(cls) == L"#32770") {
            g_box = w;
            PostMessageW(frmMain::Instance().Hwnd(), WM_CLOSE, 0, 0);
            SetTimer(w, 0x4E54, 300, PressEnterInBox);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD TimeRefresh() {
    const DWORD start = GetTickCount();
    Form().mnuListRefresh_Click();
    return GetTickCount() - start;
}

}  // namespace

TEST(CloseWaits, BoxWaitAndRefreshRunNormallyAndTheOuterLoopCloses) {
    Form();
    StopTimers();
    // A refresh pass that rebuilds the list, without a close waiting.
    TimeRefresh();
    const DWORD normal = std::min(TimeRefresh(), TimeRefresh());
    const int rows = List().Count();

    // 1. A Yes/No box answered by a real Enter while the close waits.
    g_ticks = 0;
    UINT_PTR ticker = SetTimer(nullptr, 0, 50, CountTick);
    HHOOK hook = SetWindowsHookExW(WH_CBT, OnBoxOpen, nullptr, GetCurrentThreadId());
    bool done = false;
    std::thread watchdog([&] {
        for (int i = 0; i < 80 && !done; ++i) Sleep(100);
        if (!done && g_box) PostMessageW(g_box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
    });
    DWORD start = GetTickCount();
    const int answer = vb::MsgBox(Form().Hwnd(), L"关闭等待测试", MB_YESNO | MB_ICONEXCLAMATION);
    const DWORD boxTime = GetTickCount() - start;
    const int boxTicks = g_ticks;
    done = true;
    watchdog.join();
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(answer, IDYES) << "Enter reached the box";
    EXPECT_LT(boxTime, 3000u);
    EXPECT_GE(boxTicks, 3) << "the timer ticked while the box was up";
    ASSERT_TRUE(Form().ClosePending());
    ASSERT_NE(frmMain::Instance().Hwnd(), nullptr) << "nothing closes inside the box";

    // 2. A wait: the timer keeps its pace with the close still waiting.
    g_ticks = 0;
    start = GetTickCount();
    Form().Delay(1000);
    const DWORD waited = GetTickCount() - start;
    // About 20 when idle, 0 with a flooded pump; a loaded machine loses some.
    EXPECT_GE(g_ticks, 6) << "a 50 ms timer during a one-second wait";
    EXPECT_LT(waited, 3000u);
    KillTimer(nullptr, ticker);
    ASSERT_NE(frmMain::Instance().Hwnd(), nullptr) << "nothing closes inside the wait";

    // 3. A refresh pass at its normal speed: the pump is not flooded.
    const DWORD pending = TimeRefresh();
    // Twice the normal time, and a margin for a loaded machine (a flooded pump
    // made it thirty times as long).
    EXPECT_LE(pending, 2 * normal + 300) << "normal " << normal << " ms";
    EXPECT_GE(List().Count(), rows / 2);
    ASSERT_NE(frmMain::Instance().Hwnd(), nullptr) << "nothing closes inside the refresh";

    // 4. The outermost loop closes the window once, and the program's loop
    //    then ends with code 0.
    EXPECT_TRUE(Pump([] { return frmMain::Instance().Hwnd() == nullptr; }, 3000));
    EXPECT_EQ(vb::RunMessageLoop(), 0);
}
