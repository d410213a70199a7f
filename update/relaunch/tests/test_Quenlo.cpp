// Quenlo as the tool starts it: after its five-second wait it runs its
// command line unchanged (paths with blanks included); with nothing to run it
// says "重启失败！" and ends.  Both runs go side by side to keep the wait single.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/helpers/TestSupport.h"

namespace {

std::wstring QuenloPath() { return testsupport::TestBinDir() + L"\\Quenlo.exe"; }

win::Handle Start(const std::wstring& commandLine, DWORD* pid) {
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::wstring buffer = commandLine;
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    CloseHandle(pi.hThread);
    *pid = pi.dwProcessId;
    return win::Handle(pi.hProcess);
}

DWORD FindProcessByName(const std::wstring& exeName) {
    win::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W e{sizeof e};
    for (BOOL ok = Process32FirstW(snap.get(), &e); ok; ok = Process32NextW(snap.get(), &e))
        if (_wcsicmp(e.szExeFile, exeName.c_str()) == 0) return e.th32ProcessID;
    return 0;
}

struct BoxSearch {
    DWORD pid;
    HWND box;
};
BOOL CALLBACK FindBoxOf(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t title[64] = {};
    GetWindowTextW(w, title, 64);
    if (pid == s->pid && IsWindowVisible(w) && std::wstring(title) == L"提示") {
        s->box = w;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

TEST(Quenlo, WaitsFiveSecondsThenRunsItsCommandLineOrSaysItFailed) {
    testsupport::TempDir dir(L"quenlo test");
    const std::wstring childName = L"Quenlo child.exe";
    const std::wstring child = dir.File(childName);
    ASSERT_TRUE(CopyFileW(testsupport::TestChildPath().c_str(), child.c_str(), FALSE));

    const DWORD started = GetTickCount();
    DWORD runPid = 0, emptyPid = 0;
    // As the tool writes it: both paths quoted; the child must get its own arguments.
    win::Handle run = Start(L"\"" + QuenloPath() + L"\" \"" + child + L"\" --exit-after 300", &runPid);
    win::Handle empty = Start(L"\"" + QuenloPath() + L"\"", &emptyPid);
    ASSERT_TRUE(run);
    ASSERT_TRUE(empty);

    DWORD childPid = 0;
    while (!(childPid = FindProcessByName(childName)) && GetTickCount() - started < 15000) Sleep(20);
    const DWORD waited = GetTickCount() - started;
    ASSERT_NE(childPid, 0u) << "the command line was not run";
    EXPECT_GE(waited, 4900u);
    EXPECT_LT(waited, 9000u);
    std::printf("Quenlo started its command after %lu ms\n", static_cast<unsigned long>(waited));

    // The child ends by itself only when it got "--exit-after 300".
    win::Handle childProcess(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, childPid));
    ASSERT_TRUE(childProcess);
    ASSERT_EQ(WaitForSingleObject(childProcess.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(childProcess.get(), &code);
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(WaitForSingleObject(run.get(), 5000), WAIT_OBJECT_0) << "Quenlo ends after starting the command";

    // Nothing to run: the failure box, and the end once it is answered.
    BoxSearch search{emptyPid, nullptr};
    for (DWORD t0 = GetTickCount(); !search.box && GetTickCount() - t0 < 5000; Sleep(20))
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
    ASSERT_NE(search.box, nullptr) << "no \"重启失败！\" box";
    wchar_t text[64] = {};
    GetDlgItemTextW(search.box, 0xFFFF, text, 64);
    EXPECT_EQ(std::wstring(text), L"重启失败！");
    EXPECT_NE(GetDlgItem(search.box, 1088), nullptr) << "the box has its icon";
    PostMessageW(search.box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(empty.get(), 5000), WAIT_OBJECT_0);
}
