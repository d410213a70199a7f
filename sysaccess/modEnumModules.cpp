#include "sysaccess/modEnumModules.h"

#include <tlhelp32.h>

#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"

namespace modEnumModules {

std::vector<std::wstring> GetProcessModules(long pid) {
    std::vector<std::wstring> paths;
    // A module snapshot of identifier 0 lists the calling process; the idle
    // process has no modules of its own.
    if (pid == 0) return paths;
    win::FileHandle snapshot;
    // The system answers a snapshot taken while the process loads or unloads a
    // module with ERROR_BAD_LENGTH; a second try usually gets it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        snapshot.reset(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, static_cast<DWORD>(pid)));
        if (snapshot || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    if (!snapshot) return paths;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // The first entry is the executable itself: not listed.
    if (!Module32FirstW(snapshot.get(), &entry)) return paths;
    for (;;) {
        entry.dwSize = sizeof entry;
        entry.szExePath[0] = L'\0';
        if (!Module32NextW(snapshot.get(), &entry)) break;
        paths.emplace_back(entry.szExePath, wcsnlen(entry.szExePath, MAX_PATH));
    }
    return paths;
}

void ListProcessModules(long pid, HWND list) {
    if (!IsWindow(list)) throw vb::Error(91);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::wstring& path : GetProcessModules(pid)) {
        LRESULT r = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
        if (r == LB_ERR || r == LB_ERRSPACE) throw vb::Error(7, L"ListProcessModules", vb::Error::DefaultDescription(7));
    }
}

}  // namespace modEnumModules
