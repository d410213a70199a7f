#include "sysaccess/modKillProcess.h"

#include "platform/win/Handle.h"

namespace modKillProcess {

bool KillProcess(long& pid, HWND window) {
    if (window) {
        DWORD owner = 0;
        if (GetWindowThreadProcessId(window, &owner) && owner) pid = static_cast<long>(owner);
    }
    // Ending ourselves from a list action would take the window with it
    // half-way through a command.
    if (static_cast<DWORD>(pid) == GetCurrentProcessId()) return false;
    win::Handle h(OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(pid)));
    if (!h) h.reset(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
    if (!h) return false;
    return TerminateProcess(h.get(), 0) != FALSE;
}

}  // namespace modKillProcess
