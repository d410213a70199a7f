// The program's entry: one instance per user session, and the hidden start
// that auto-start uses ("/h").
#include "mainwindow/modMain.h"

#include <windows.h>

#include "mainwindow/frmMain.h"
#include "platform/vb/Runtime.h"

namespace modMain {

int Main() {
    HWND other = FindWindowW(nullptr, frmMain::kCaption);
    if (other) {
        g_alreadyRunning = true;
        ShowWindow(other, SW_SHOWNORMAL);
        SetForegroundWindow(other);
        return 0;
    }
    g_alreadyRunning = false;
    frmMain& form = frmMain::Instance();
    if (vb::CommandLineArgs() == L"/h") {
        // Shown fully transparent and minimised (which hides it to the
        // notification area), then made opaque again: the window is never seen.
        HWND hwnd = form.hWnd();
        LONG_PTR saved = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
        SetWindowLongPtrW(hwnd, GWL_EXSTYLE, WS_EX_LAYERED);
        SetLayeredWindowAttributes(hwnd, 0, 0, LWA_ALPHA);
        form.Show();
        form.SetWindowState(1);
        SetWindowLongPtrW(hwnd, GWL_EXSTYLE, WS_EX_LAYERED);
        SetLayeredWindowAttributes(hwnd, 0, 255, LWA_ALPHA);
        SetWindowLongPtrW(hwnd, GWL_EXSTYLE, saved);
    } else {
        form.Show();
    }
    return vb::RunMessageLoop();
}

}  // namespace modMain

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return modMain::Main(); }
