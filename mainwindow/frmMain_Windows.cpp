// The main window's commands that open the small windows: new process, help
// and the two about items.
#include "mainwindow/frmAbout.h"
#include "mainwindow/frmHelp.h"
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/frmNewProcess.h"
#include "platform/vb/Runtime.h"

void frmMain::RegisterWindowCommands() {
    commands_[frmMainMenu::mnuProcessNew1] = [this] { mnuProcessNew1_Click(); };
    commands_[frmMainMenu::mnuHelpHelp] = [this] { mnuHelpHelp_Click(); };
    commands_[frmMainMenu::mnuHelpAbout] = [this] { mnuHelpAbout_Click(); };
    commands_[frmMainMenu::mnuTrayAbout] = [this] { mnuTrayAbout_Click(); };
}

void frmMain::mnuProcessNew1_Click() { frmNewProcess::Instance().Show(true, hwnd_); }

void frmMain::mnuHelpHelp_Click() {
    frmHelp& help = frmHelp::Instance();
    help.Show();
    if (help.Hwnd()) SetForegroundWindow(help.Hwnd());
    vb::TrimWorkingSet();
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout::Instance().Show(true, hwnd_);
    vb::TrimWorkingSet();
}

void frmMain::mnuTrayAbout_Click() {
    frmAbout::Instance().Show(false);
    vb::TrimWorkingSet();
}
