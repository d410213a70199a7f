// Quenlo with nothing to run says "重启失败！" after its wait and ends once the
// box is answered.  (Its wait and a command with blanks in its paths are
// measured end to end by the update window's relaunch test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/helpers/TestSupport.h"

namespace {

struct BoxSearch {
    DWORD pid;
    HWND box;
};
BOOL CALLBACK FindBoxOf(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t title[16] = {};
    GetWindowTextW(w, title, 16);
    if (pid == s->pid && IsWindowVisible(w) && std::wstring(title) == L"提示") s->box = w;
    return s->box == nullptr;
}

}  // namespace

TEST(Quenlo, WithAnEmptyCommandLineSaysItFailedAndEnds) {
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + testsupport::TestBinDir() + L"\\Quenlo.exe\"";
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    win::Handle process(pi.hProcess), thread(pi.hThread);

    BoxSearch search{pi.dwProcessId, nullptr};
    for (DWORD t0 = GetTickCount(); !search.box && GetTickCount() - t0 < 12000; Sleep(50))
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
    ASSERT_NE(search.box, nullptr) << "no \"重启失败！\" box";
    wchar_t text[32] = {};
    GetDlgItemTextW(search.box, 0xFFFF, text, 32);
    EXPECT_EQ(std::wstring(text), L"重启失败！");
    EXPECT_NE(GetDlgItem(search.box, 1088), nullptr) << "the box has its icon";
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(process.get(), 5000), WAIT_OBJECT_0);
}
