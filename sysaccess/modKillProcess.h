#pragma once
#include <windows.h>

namespace modKillProcess {

// Ends the process.  When window is not 0 the identifier is first replaced by
// that of the window's creator (1, which every caller passes, names no window
// and leaves it).  The tool's own process is never ended here: False.
bool KillProcess(long& pid, HWND window);

}  // namespace modKillProcess
