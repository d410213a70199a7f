#pragma once
// The module list of one process, for the module panel.
#include <windows.h>

#include <string>
#include <vector>

namespace modEnumModules {

// Full paths of the modules the process loaded besides its executable, in
// snapshot order.  Empty when the modules cannot be read, and for the idle
// process (identifier 0), which a module snapshot would take for the caller.
std::vector<std::wstring> GetProcessModules(long pid);

// Clears the list box and adds one line per module of GetProcessModules.  A
// line the list box refuses raises run-time error 7 to the caller.
void ListProcessModules(long pid, HWND list);

}  // namespace modEnumModules
