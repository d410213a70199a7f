// What .ci/run uses to prove the README's run command, as a user would see it:
// waits until the Morvix main window is visible with its process list filled,
// closes it through the window (WM_CLOSE) and waits for Morvix to exit.
//   MorvixWindowCheck.exe [seconds]   (default 120: how long each step may take)
// Exit code 0 when Morvix exited by itself with code 0; 1 with the step that
// did not happen on standard error.  Runs in Morvix's Wine prefix.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>

#include "mainwindow/frmMain.h"

namespace {

struct Found {
    HWND window = nullptr;
    int rows = -1;
};

HWND VisibleMainWindow() {
    HWND w = FindWindowW(nullptr, frmMain::kCaption);
    return w && IsWindowVisible(w) ? w : nullptr;
}

BOOL CALLBACK FindProcessList(HWND child, LPARAM p) {
    if (GetDlgCtrlID(child) != frmMainIds::lvwProcess) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(child, cls, 64);
    if (wcscmp(cls, WC_LISTVIEWW) != 0) return TRUE;
    reinterpret_cast<Found*>(p)->rows = static_cast<int>(SendMessageW(child, LVM_GETITEMCOUNT, 0, 0));
    return FALSE;
}

int Fail(const char* what, DWORD seconds) {
    std::fprintf(stderr, "MorvixWindowCheck: %s within %lu s\n", what, static_cast<unsigned long>(seconds));
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD seconds = argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 120;
    if (seconds == 0) seconds = 120;
    const DWORD limit = seconds * 1000;

    Found found;
    DWORD start = GetTickCount();
    for (; GetTickCount() - start < limit; Sleep(100)) {
        found = {};
        found.window = VisibleMainWindow();
        if (!found.window) continue;
        EnumChildWindows(found.window, FindProcessList, reinterpret_cast<LPARAM>(&found));
        if (found.rows > 0) break;
    }
    if (!found.window) return Fail("no visible Morvix window", seconds);
    if (found.rows <= 0) return Fail("the process list stayed empty", seconds);
    std::printf("MorvixWindowCheck: window visible, process list has %d rows\n", found.rows);

    DWORD pid = 0;
    GetWindowThreadProcessId(found.window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return Fail("Morvix's process could not be opened", seconds);

    if (!PostMessageW(found.window, WM_CLOSE, 0, 0)) return Fail("WM_CLOSE could not be posted", seconds);
    if (WaitForSingleObject(process, limit) != WAIT_OBJECT_0) {
        CloseHandle(process);
        return Fail("Morvix did not exit after WM_CLOSE", seconds);
    }
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    std::printf("MorvixWindowCheck: Morvix exited with code %lu after WM_CLOSE\n", static_cast<unsigned long>(code));
    return code == 0 ? 0 : 1;
}
