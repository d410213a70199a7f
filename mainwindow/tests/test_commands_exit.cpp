// "退出程序" chosen while a message box of the program is open: the box stays
// answerable, the window goes once the box has been answered, and the
// process ends by itself with code 0.  Morvix.exe itself, as a user runs it.
#include <gtest/gtest.h>
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "tests/helpers/TestSupport.h"

namespace {

struct BoxSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindBoxOf(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[16] = {}, title[16] = {};
    GetClassNameW(w, cls, 16);
    GetWindowTextW(w, title, 16);
    if (pid == s->pid && IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0 && wcscmp(title, L"提示") == 0) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND WaitBox(DWORD pid, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20)) {
        BoxSearch s{pid, nullptr};
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
    }
    return nullptr;
}

void PressEnter() {
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_RETURN;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

}  // namespace

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
    HWND box = WaitBox(pi.dwProcessId, 10000);
    ASSERT_NE(box, nullptr);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(frmMainMenu::mnuTrayExit, 0), 0);
    Sleep(500);
    EXPECT_TRUE(IsWindow(box)) << "the box stays until it is answered";
    EXPECT_TRUE(IsWindow(main)) << "nothing is destroyed under the open box";
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Answered by the keyboard, as a user does.
    SetForegroundWindow(box);
    PressEnter();
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
