// The notification-area icon of the real main window: added, changed and
// removed in the shell, its tip, its menu, the shell's restart, and a picture
// changed many times without handles piling up.
#include "test_listview_fixture.h"

#include <shellapi.h>

#include "mainwindow/modTrayIcon.h"
#include "platform/ui/Icon.h"
#include "sysaccess/modEnumProcess.h"

using namespace mwtest;
using namespace frmMainMenu;

namespace {

// Whether the shell knows an icon (window, id 0): only a known icon can be modified.
bool ShellHasIcon() {
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = Form().Hwnd();
    probe.uFlags = NIF_TIP;
    wcscpy(probe.szTip, modTrayIcon::CurrentTip().c_str());
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

bool g_menuSeen = false;
void CALLBACK CloseTrayMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu || !IsWindowVisible(menu)) return;
    g_menuSeen = true;
    KillTimer(nullptr, id);
    EndMenu();
}

class TrayIcon : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        if (!modTrayIcon::Added()) modTrayIcon::AddTrayIcon(Form());
    }
};

}  // namespace

TEST_F(TrayIcon, AddedChangedAndRemovedOnceWithTheHook) {
    ASSERT_TRUE(modTrayIcon::Added());
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_TRUE(modTrayIcon::Hooked());

    // The tip: 63 characters at most, always ended.
    modTrayIcon::SetTrayTip(std::wstring(100, L'占'));
    EXPECT_EQ(modTrayIcon::CurrentTip(), std::wstring(63, L'占'));
    modTrayIcon::SetTrayTip(L"CPU 使用率: 7%");
    EXPECT_EQ(modTrayIcon::CurrentTip(), L"CPU 使用率: 7%");

    modTrayIcon::RemoveTrayIcon();
    EXPECT_FALSE(ShellHasIcon());
    EXPECT_FALSE(modTrayIcon::Hooked());
    modTrayIcon::RemoveTrayIcon();  // a second removal changes nothing
    EXPECT_FALSE(modTrayIcon::Hooked());
    // Clicks no longer reach the icon's procedure once it is off.
    const int before = Form().WindowState();
    SendMessageW(Form().Hwnd(), modTrayIcon::kCallbackMessage, 0, WM_LBUTTONUP);
    EXPECT_EQ(Form().WindowState(), before);

    modTrayIcon::AddTrayIcon(Form());
    EXPECT_TRUE(ShellHasIcon());
    EXPECT_TRUE(modTrayIcon::Hooked());
}

TEST_F(TrayIcon, TheShellsRestartBringsTheIconBack) {
    NOTIFYICONDATAW gone{};
    gone.cbSize = NOTIFYICONDATAW_V1_SIZE;
    gone.hWnd = Form().Hwnd();
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));  // the shell forgot it
    ASSERT_FALSE(ShellHasIcon());
    SendMessageW(Form().Hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHasIcon());
}

namespace {

struct FilterCall {
    HWND window;
    UINT message;
    DWORD action;
} g_filterCall{};
BOOL WINAPI RecordFilterCall(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
    g_filterCall = {window, message, action};
    return TRUE;
}

}  // namespace

// Wine filters nothing between levels of rights (its ChangeWindowMessageFilterEx
// changes and reports nothing), so what is seen is the call itself.
TEST_F(TrayIcon, TheShellsRestartMessageIsLetThroughToTheMainWindow) {
    const auto real = Form().changeMessageFilter;
    EXPECT_EQ(reinterpret_cast<FARPROC>(real),
              GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx"));
    Form().changeMessageFilter = RecordFilterCall;
    modTrayIcon::RemoveTrayIcon();
    modTrayIcon::AddTrayIcon(Form());
    EXPECT_EQ(g_filterCall.window, Form().Hwnd());
    EXPECT_EQ(g_filterCall.message, RegisterWindowMessageW(L"TaskbarCreated"));
    EXPECT_EQ(g_filterCall.action, static_cast<DWORD>(MSGFLT_ALLOW));

    // Where the system has no such function the icon comes all the same.
    Form().changeMessageFilter = nullptr;
    modTrayIcon::RemoveTrayIcon();
    modTrayIcon::AddTrayIcon(Form());
    Form().changeMessageFilter = real;
    EXPECT_TRUE(ShellHasIcon());
}

TEST_F(TrayIcon, RightClickOpensTheTrayMenuWithTheRightCaption) {
    Form().SetWindowState(0);
    ShowWindow(Form().Hwnd(), SW_SHOW);
    g_menuSeen = false;
    SetTimer(nullptr, 0, 50, CloseTrayMenu);
    SendMessageW(Form().Hwnd(), modTrayIcon::kCallbackMessage, 0, WM_RBUTTONUP);
    EXPECT_TRUE(g_menuSeen);
    EXPECT_EQ(Form().MenuCaption(mnuTrayDisplay), L"隐藏窗口");
    // Pointer moves and button downs change nothing.
    for (LPARAM m : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK})
        SendMessageW(Form().Hwnd(), modTrayIcon::kCallbackMessage, 0, m);
    EXPECT_EQ(Form().WindowState(), 0);
    EXPECT_TRUE(IsWindowVisible(Form().Hwnd()));
}

TEST_F(TrayIcon, TenThousandUpdatesLeaveNoObjectsBehind) {
    // The list keeps a handle per listed process (others' tests start and
    // end theirs meanwhile): what it does not keep is what could leak.
    auto unaccounted = [] { return testsupport::CountOpenHandles() - modEnumProcess::CachedHandleCount(); };
    auto pictures = [] { return win::Icon::Live() + win::GdiObject::Live(); };
    const size_t handles = unaccounted();
    const long owned = pictures();
    const size_t gdi = testsupport::CountGdiObjects();
    for (int i = 0; i < 100; ++i) Form().tmrMonitor_Timer();  // real ticks
    // Every picture many times over; each shell call costs Wine ~3 ms, so
    // one change in ten is also passed to the shell.
    for (int i = 0; i < 10000; ++i) {
        const int cpu = (i * 37) % 101;
        Form().SetTrayPicture(cpu + 1);
        if (i % 10) continue;
        modTrayIcon::RefreshTrayIcon();
        modTrayIcon::SetTrayTip(L"CPU 使用率: " + std::to_wstring(cpu) + L"%");
        if (i % 500 == 0) vb::DoEvents();
    }
    // Every icon, bitmap and brush made through the owners is gone again.
    EXPECT_EQ(pictures(), owned);
    // So is every one made past them: an icon holds bitmaps of the process
    // that made it, and only this process's own objects are counted.
    EXPECT_LE(testsupport::CountGdiObjects(), gdi + 20);
    EXPECT_LE(unaccounted(), handles + 8);
}
