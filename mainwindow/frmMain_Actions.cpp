// The actions on the selected processes: end, pause and resume, delete the
// image file, priority, properties, locate, copy, new process.
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

using namespace frmMainMenu;

void frmMain::RegisterActionCommands() {}

void frmMain::chkAntiVirus_Click() {}
