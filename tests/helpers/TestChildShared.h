#pragma once
// Shared memory between a test and TestChild.exe: "MorvixTestChild_<pid>".
#include <windows.h>

#include <string>

struct TestChildShared {
    volatile LONG64 counter;  // advanced by the spinning threads
    volatile LONG ready;      // 1 once the child has done everything its command line asked
    volatile LONG tcpPort;    // listening TCP port on 127.0.0.1, 0 when none
    volatile LONG udpPort;    // bound UDP port on 127.0.0.1, 0 when none
    volatile LONG tcpPeerPort;  // local port of the connected TCP pair's client end
    volatile LONG socketCount;  // extra loopback sockets opened (--sockets N)
};

inline std::wstring TestChildSharedName(DWORD pid) {
    return L"MorvixTestChild_" + std::to_wstring(pid);
}
inline std::wstring TestChildExitEventName(DWORD pid) {
    return L"MorvixTestChildExit_" + std::to_wstring(pid);
}
