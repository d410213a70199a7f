#include "sysaccess/modCleanMemory.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/win/Handle.h"

namespace modCleanMemory {

void CleanMemory() {
    win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;  // a failed snapshot is INVALID_HANDLE_VALUE, not 0
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot.get(), &entry); ok; ok = Process32NextW(snapshot.get(), &entry)) {
        win::Handle h(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
        if (h) SetProcessWorkingSetSize(h.get(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    }
}

}  // namespace modCleanMemory
