// Quenlo with nothing to run says "重启失败！" after its wait and ends once the
// box is answered.  (Its wait and a command with blanks in its paths are
// measured end to end by the update window's relaunch test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/helpers/TestSupport.h"

TEST(Quenlo, WithAnEmptyCommandLineSaysItFailedAndEnds) {
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + testsupport::TestBinDir() + L"\\Quenlo.exe\"";
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    win::Handle process(pi.hProcess), thread(pi.hThread);

    HWND box = testsupport::WaitForBoxOf(pi.dwProcessId, 12000);
    ASSERT_NE(box, nullptr) << "no \"重启失败！\" box";
    wchar_t text[32] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 32);
    EXPECT_EQ(std::wstring(text), L"重启失败！");
    EXPECT_NE(GetDlgItem(box, 1088), nullptr) << "the box has its icon";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(process.get(), 5000), WAIT_OBJECT_0);
}
