#pragma once
// The real main window of the test process, and small ways to drive it: rows
// of our own, menus opened as the system opens them, commands, the message
// loop with the program's own dispatch.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "tests/helpers/TestSupport.h"

namespace mwtest {

// Loaded and shown once; closed by the environment at the end of the run.
// It starts from the first run's settings: one another test program left
// behind (automatic ending above all) must not act here.
inline frmMain& Form() {
    frmMain& f = frmMain::Instance();
    if (!f.Hwnd()) {
        vb::DeleteSetting(frmMain::kSettingsApp);
        f.Show();
    }
    return f;
}

class CloseMainWindow : public ::testing::Environment {
public:
    void TearDown() override {
        if (frmMain::Exists() && frmMain::Instance().Hwnd())
            SendMessageW(frmMain::Instance().Hwnd(), WM_CLOSE, 0, 0);  // takes the tray icon away
    }
};
inline ::testing::Environment* const kCloseAtEnd = ::testing::AddGlobalTestEnvironment(new CloseMainWindow);

// The two timers, so that rows of our own survive until the test is done.
inline void StopTimers() {
    KillTimer(Form().Hwnd(), frmMainIds::tmrMonitor);
    KillTimer(Form().Hwnd(), frmMainIds::tmrPrcCPUUsage);
}
inline void StartTimers() {
    SetTimer(Form().Hwnd(), frmMainIds::tmrMonitor, 1000, nullptr);
    SetTimer(Form().Hwnd(), frmMainIds::tmrPrcCPUUsage, 500, nullptr);
}

// Pumps through the program's dispatch (its shortcut filter included) until
// pred() holds or the time is up.
inline bool Pump(const std::function<bool()>& pred, DWORD ms) {
    for (DWORD start = GetTickCount();;) {
        if (pred()) return true;
        if (GetTickCount() - start >= ms) return pred();
        vb::DoEvents();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}
inline void PumpFor(DWORD ms) { Pump([] { return false; }, ms); }

inline ui::ListView& List() { return Form().lvwProcess; }
inline std::wstring Key(DWORD pid) { return L"PID:" + std::to_wstring(pid); }
inline int Row(DWORD pid) { return List().FindKey(Key(pid)); }

// A row as the refresh makes it, for a process that need not exist.
inline int AddRow(DWORD pid, const std::wstring& name, const std::wstring& path, const std::wstring& priority,
                  unsigned long colour, const std::wstring& memory = L"1,024") {
    auto& l = List();
    int i = l.FindKey(Key(pid));
    if (i == 0) i = l.Add(Key(pid), name);
    l.SetText(i, name);
    l.SetSubItem(i, 1, L"SYSTEM");
    l.SetSubItem(i, 2, std::to_wstring(pid));
    l.SetSubItem(i, 4, memory);
    l.SetSubItem(i, 5, priority);
    l.SetSubItem(i, 6, path);
    l.SetForeColor(i, colour);
    return i;
}
inline void RemoveRow(DWORD pid) {
    if (int i = Row(pid)) List().Remove(i);
}

// Selects a row and runs the list's click, as a click on it does.
inline void ClickRow(int i) {
    List().Select(i);
    Form().lvwProcess_Click();
}

inline void OpenMenu(HMENU menu) {
    SendMessageW(Form().Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
}
inline void Command(int id) { SendMessageW(Form().Hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// State of the item of parent that opens submenu sub ("设置优先级").
inline bool SubmenuEnabled(HMENU parent, HMENU sub) {
    for (int i = 0; i < GetMenuItemCount(parent); ++i)
        if (GetSubMenu(parent, i) == sub)
            return (GetMenuState(parent, static_cast<UINT>(i), MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)) == 0;
    ADD_FAILURE() << "no such submenu";
    return false;
}

// Text colours of toolbar buttons 0 to 4 (RGB(192, 192, 192) is greyed).
inline std::vector<unsigned long> ToolbarColours() {
    std::vector<unsigned long> colours;
    for (int b = 0; b <= 4; ++b) colours.push_back(Form().ButtonTextColor(b));
    return colours;
}

}  // namespace mwtest
