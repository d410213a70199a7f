#include "sysaccess/modAdjustToken.h"

#include <windows.h>

#include "platform/win/Handle.h"

namespace modAdjustToken {

void EnableDebugPrivilege() {
    win::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token.put())) return;
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(L"", SE_DEBUG_NAME, &state.Privileges[0].Luid)) return;
    TOKEN_PRIVILEGES previous{};
    DWORD previousLength = sizeof previous;
    AdjustTokenPrivileges(token.get(), FALSE, &state, sizeof state, &previous, &previousLength);
}

}  // namespace modAdjustToken
