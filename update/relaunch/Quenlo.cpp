// Quenlo: the relaunch helper the tool writes out before it ends for a
// knowledge-base update.  It waits five seconds, so that the tool that started
// it has time to end, then runs its own command line (everything after its own
// name) as a new process and ends.
#include <windows.h>

#include <string>

#include "platform/vb/Runtime.h"

namespace {

constexpr UINT_PTR tmrDelay = 1;
constexpr UINT kDelayInterval = 5000;  // ms
constexpr int kMinimizedFocus = 2;     // SW_SHOWMINIMIZED: minimised, with the focus

// The command line after the program's own name, as the new process gets it.
std::wstring CommandAfterOwnName() {
    std::wstring text = vb::CommandLineArgs();
    // A second blank after the name would only be part of no program's name.
    size_t first = text.find_first_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first);
}

bool StartCommand(const std::wstring& command) {
    if (command.empty()) return false;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = kMinimizedFocus;
    PROCESS_INFORMATION pi{};
    std::wstring buffer = command;  // CreateProcessW may write into it
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void tmrDelay_Timer(HWND frmReboot) {
    KillTimer(frmReboot, tmrDelay);  // one tick only
    if (!StartCommand(CommandAfterOwnName())) vb::MsgBox(nullptr, L"重启失败！", MB_ICONERROR);
    DestroyWindow(frmReboot);
}

LRESULT CALLBACK frmRebootProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        if (wParam == tmrDelay) tmrDelay_Timer(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = frmRebootProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"QuenloReboot";
    if (!RegisterClassW(&wc)) return 1;
    // The window is never shown: it only carries the timer.
    HWND frmReboot = CreateWindowExW(0, wc.lpszClassName, L"Form1", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                     instance, nullptr);
    if (!frmReboot) return 1;
    SetTimer(frmReboot, tmrDelay, kDelayInterval, nullptr);
    return vb::RunMessageLoop();
}
