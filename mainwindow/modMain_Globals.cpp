#include "mainwindow/modMain.h"

namespace modMain {

bool g_alreadyRunning = false;

}  // namespace modMain
