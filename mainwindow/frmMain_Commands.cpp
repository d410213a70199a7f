// The commands of the settings, help and notification-area menus: the three
// settings items that mirror the option boxes, Task Manager replacement, and
// the notification-area menu's show/hide and exit.
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "sysaccess/modReg.h"

using namespace frmMainMenu;

namespace {

constexpr UINT kReport = MB_OK | MB_ICONINFORMATION;

}  // namespace

std::wstring frmMain::TaskmgrDebuggerData() {
    // Quoted: the system puts the value in front of Task Manager's command
    // line and parses the result, so an unquoted path with a blank would
    // start its first word, C:\Program.exe, instead.
    return L"\"" + vb::AppPath() + L"\\" + vb::AppEXEName() + L".exe\"";
}

void frmMain::RegisterMenuCommands() {
    commands_[mnuSettingAlwaysOnTop] = [this] { mnuSettingAlwaysOnTop_Click(); };
    commands_[mnuSettingAntiVirus] = [this] { mnuSettingAntiVirus_Click(); };
    commands_[mnuSettingAutoRun] = [this] { mnuSettingAutoRun_Click(); };
    commands_[mnuSettingTaskmgr1] = [this] { mnuSettingTaskmgr1_Click(); };
    commands_[mnuSettingTaskmgr2] = [this] { mnuSettingTaskmgr2_Click(); };
    commands_[mnuTrayDisplay] = [this] { mnuTrayDisplay_Click(); };
    commands_[mnuTrayExit] = [this] { mnuTrayExit_Click(); };
}

// A settings item flips its own tick, then the box; the box's handler applies
// and saves the setting and sets the tick again from what really happened.
void frmMain::ToggleSettingBox(int menuId, HWND box) {
    SetMenuChecked(menuId, !MenuChecked(menuId));
    SetCheckValue(box, ui::GetCheck(box) == 1 ? 0 : 1);
}

void frmMain::mnuSettingAlwaysOnTop_Click() { ToggleSettingBox(mnuSettingAlwaysOnTop, chkAlwaysOnTop); }
void frmMain::mnuSettingAntiVirus_Click() { ToggleSettingBox(mnuSettingAntiVirus, chkAntiVirus); }
void frmMain::mnuSettingAutoRun_Click() { ToggleSettingBox(mnuSettingAutoRun, chkAutoRun); }

void frmMain::mnuSettingTaskmgr1_Click() {
    bool written = modReg::SetRegistryValue(HKEY_LOCAL_MACHINE, kTaskmgrKey, L"Debugger", TaskmgrDebuggerData(), REG_SZ);
    vb::MsgBox(hwnd_, written ? L"替换成功！  " : L"替换失败！  ", kReport);
    vb::TrimWorkingSet();
}

void frmMain::mnuSettingTaskmgr2_Click() {
    bool deleted = modReg::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kTaskmgrKey, L"Debugger");
    vb::MsgBox(hwnd_, deleted ? L"恢复成功！  " : L"恢复失败！  ", kReport);
    vb::TrimWorkingSet();
}

void frmMain::mnuTray_Click() {
    SetMenuCaption(mnuTrayDisplay, WindowState() == 1 ? L"显示窗口" : L"隐藏窗口");
}

void frmMain::mnuTrayDisplay_Click() {
    if (WindowState() == 1) {
        SetWindowState(0);
        ShowWindow(hwnd_, SW_SHOW);
        SetFocus(hwnd_);
        SetMenuCaption(mnuTrayDisplay, L"隐藏窗口");
    } else {
        SetWindowState(1);  // the resize handler hides the minimised window
        SetMenuCaption(mnuTrayDisplay, L"显示窗口");
    }
    vb::TrimWorkingSet();
}

void frmMain::mnuTrayExit_Click() {
    // Each step runs even when the one before failed.  Unload closes the
    // window at once from the outermost loop, or, inside a box or a wait,
    // once that has returned.
    RemoveWindowHooks();
    vb::Try([&] { UnloadOtherWindows(); });
    vb::Try([&] { Unload(); });
}
