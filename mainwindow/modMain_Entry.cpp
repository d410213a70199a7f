// The program file's entry point.  Apart from modMain.cpp so that programs
// built around the same main window (the update round-trip test's stand-in)
// run the same Main.
#include <windows.h>

#include "mainwindow/modMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return modMain::Main(); }
