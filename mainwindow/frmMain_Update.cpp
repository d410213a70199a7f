// The update command (help menu "检查更新" and toolbar button 6) and what the
// update window needs of the main window to end the tool for a relaunch.
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "update/frmDownload.h"

void frmMain::RegisterUpdateCommands() {
    commands_[frmMainMenu::mnuHelpUpdate] = [this] { mnuHelpUpdate_Click(); };
    // Before the relaunch the hooks come off, then the windows go through the
    // main window's own close.
    frmDownload::Instance().closeTool = [] {
        if (!frmMain::Exists()) return;
        frmMain::Instance().RemoveWindowHooks();
        vb::Try([] { frmMain::Instance().Unload(); });
    };
}

void frmMain::mnuHelpUpdate_Click() {
    // Loading a loaded update window does nothing.
    vb::Try([] { frmDownload::Instance().Load(); });
    vb::TrimWorkingSet();
}
