// The process list view: selection, sorting, column show and hide, refresh
// now, and the menu states computed each time a menu opens.
#include <windows.h>
#include <commctrl.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

using namespace frmMainMenu;

void frmMain::RegisterProcessListCommands() {
    commands_[mnuListRefresh] = [this] { mnuListRefresh_Click(); };
    commands_[mnuListRefresh1] = [this] { mnuListRefresh_Click(); };
}

bool frmMain::OnProcessListNotify(NMHDR* hdr, LRESULT* result) {
    if (hdr->hwndFrom != lvwProcess.Hwnd()) return false;
    if (hdr->code == NM_CLICK) {
        vb::Try([&] { lvwProcess_Click(); });
        *result = 0;
        return true;
    }
    return false;
}

void frmMain::OnInitMenuPopup(HMENU /*menu*/) {}

void frmMain::CreateSidePanels() {
    // The module panel: its list is refilled on every row click.
    picPopupForm[1] = ui::CreateContainer(picTab[1], 7800, 600, 3570, 6540, 0, false);
    lblModules = ui::CreateControl(picPopupForm[1], L"STATIC", L"进程模块信息", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 60,
                                   60, 3450, 240);
    lstModules = ui::CreateControl(picPopupForm[1], L"LISTBOX", L"",
                                   WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, 60, 360,
                                   3450, 5700, 0, WS_EX_CLIENTEDGE);
}

void frmMain::mnuListRefresh_Click() {
    EnableWindow(hwnd_, FALSE);
    vb::Try([&] {
        lvwProcess.Clear();
        lvwProcess.SortKey = 3;
        lvwProcess.SetSorted(false);
        modEnumProcess::RefreshProcessList(lvwProcess, ilsPrcIcon, *this);
        lvwProcess_Click();
        vb::TrimWorkingSet();
    });
    EnableWindow(hwnd_, TRUE);
}

void frmMain::lvwProcess_Click() {
    vb::TrimWorkingSet();
}
