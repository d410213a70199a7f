// The program's entry: one instance per user session, and the hidden start
// that auto-start uses ("/h").
#include "mainwindow/modMain.h"

#include <windows.h>

#include "mainwindow/frmMain.h"
#include "platform/vb/Runtime.h"
#include "platform/win/Handle.h"

namespace modMain {

namespace {

// How long a relaunched instance waits for the one that started the relaunch.
constexpr DWORD kRelaunchWait = 60000;

// Every instance owns this mutex from its start to its end: the system gives
// it up only when the process is gone, with its knowledge bases closed.
// The caption check below still decides who runs; the mark only tells a
// relaunched instance when the old one has ended.  Acquired, abandoned by an
// ended owner, or still held after the wait: the handle stays open for the
// life of the process either way.
void TakeInstanceMark(DWORD waitMs) {
    static win::Handle mark(CreateMutexW(nullptr, FALSE, kInstanceMark));
    if (mark) WaitForSingleObject(mark.get(), waitMs);
}

}  // namespace

int Main() {
    // A start for a knowledge-base update comes from Quenlo while the
    // instance that downloaded it may still be closing (a box, a menu, the
    // notification icon's removal): it waits for that process to end, so
    // the new file can be installed, instead of stepping aside for it.
    const bool relaunched = vb::CommandLineArgs() == L"/updatemdb";
    TakeInstanceMark(relaunched ? kRelaunchWait : 0);
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

