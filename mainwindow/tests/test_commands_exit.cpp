// "退出程序" chosen while a message box of the program is open: the box stays
// answerable, the window goes once the box has been answered, and the
// process ends by itself with code 0.  Morvix.exe itself, as a user runs it.
#include <gtest/gtest.h>
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "tests/helpers/TestSupport.h"

TEST(TrayExit, ExitInsideAnOpenBoxWaitsForTheBoxAndEndsWithCodeZero) {
    ASSERT_EQ(FindWindowW(nullptr, frmMain::kCaption), nullptr) << "another Morvix window is open";
    std::wstring exe = testsupport::TestBinDir() + L"\\Morvix.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    win::Handle process(pi.hProcess), thread(pi.hThread);
    struct EndOnFailure {  // never leave a Morvix behind with its box open
        HANDLE p;
        ~EndOnFailure() {
            if (WaitForSingleObject(p, 0) == WAIT_TIMEOUT) TerminateProcess(p, 99);
        }
    } guard{process.get()};

    HWND main = nullptr;
    for (DWORD start = GetTickCount(); !main && GetTickCount() - start < 30000; Sleep(50)) {
        HWND w = FindWindowW(nullptr, frmMain::kCaption);
        if (w && IsWindowEnabled(w)) main = w;
    }
    ASSERT_NE(main, nullptr);

    // F11 opens "替换成功！"; exit is chosen while that box is up.
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(frmMainMenu::mnuSettingTaskmgr1, 0), 0);
    HWND box = testsupport::WaitForBoxOf(pi.dwProcessId, 10000);
    ASSERT_NE(box, nullptr);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(frmMainMenu::mnuTrayExit, 0), 0);
    Sleep(500);
    EXPECT_TRUE(IsWindow(box)) << "the box stays until it is answered";
    EXPECT_TRUE(IsWindow(main)) << "nothing is destroyed under the open box";
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Answered by the keyboard, as a user does.
    SetForegroundWindow(box);
    testsupport::PressKey(VK_RETURN);
    for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 5000;) Sleep(20);
    ASSERT_FALSE(IsWindow(box)) << "Enter answers the box";
    DWORD code = 1234;
    bool ended = WaitForSingleObject(process.get(), 15000) == WAIT_OBJECT_0;
    ASSERT_TRUE(ended) << "the process ends once the box is answered";
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowW(nullptr, frmMain::kCaption), nullptr);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, frmMain::kTaskmgrKey, L"Debugger");
}
