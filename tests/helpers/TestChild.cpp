// A process for the tests to watch and steer.
//   --threads N      spin N busy threads that advance the shared counter (default 0)
//   --idle-threads N start N threads that only sleep
//   --priority P     idle|below|normal|above|high
//   --load-dll PATH  LoadLibrary PATH (exit code 3 when it fails to load)
//   --tcp            listen on a TCP port of 127.0.0.1 (port in shared memory)
//   --udp            bind a UDP port of 127.0.0.1
//   --pair           also connect a TCP client to the listener (an established pair)
//   --sockets N      open N more listening loopback TCP sockets
//   --exit-after MS  exit by itself after MS milliseconds
// Exits when the event "MorvixTestChildExit_<pid>" is set, with exit code 7.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "TestChildShared.h"

namespace {

TestChildShared* g_shared = nullptr;

DWORD WINAPI Spin(void*) {
    for (;;) InterlockedIncrement64(&g_shared->counter);
}

DWORD WINAPI Sleeper(void*) {
    for (;;) Sleep(1000);
}

// Wine keeps a socket's Unix descriptor in its server until the process
// itself needs it, and names a port's owner only by the descriptors the
// process holds: asking an IP option brings it into this process.
void ClaimDescriptor(SOCKET s) {
    int ttl = 0, ttlLength = sizeof ttl;
    getsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&ttl), &ttlLength);
}

SOCKET ListenLoopback(int type, volatile LONG* port) {
    SOCKET s = socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (type == SOCK_STREAM) listen(s, 16);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    if (port) *port = ntohs(a.sin_port);
    ClaimDescriptor(s);
    return s;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD pid = GetCurrentProcessId();
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TestChildShared), TestChildSharedName(pid).c_str());
    g_shared = static_cast<TestChildShared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    HANDLE exitEvent = CreateEventW(nullptr, TRUE, FALSE, TestChildExitEventName(pid).c_str());

    int spinners = 0, sleepers = 0;
    DWORD exitAfter = INFINITE;
    bool tcp = false, udp = false, pair = false;
    int extraSockets = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto next = [&]() -> const wchar_t* { return i + 1 < argc ? argv[++i] : L""; };
        if (a == L"--threads") spinners = _wtoi(next());
        else if (a == L"--idle-threads") sleepers = _wtoi(next());
        else if (a == L"--priority") {
            std::wstring p = next();
            DWORD cls = p == L"idle" ? IDLE_PRIORITY_CLASS
                      : p == L"below" ? BELOW_NORMAL_PRIORITY_CLASS
                      : p == L"above" ? ABOVE_NORMAL_PRIORITY_CLASS
                      : p == L"high" ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
            SetPriorityClass(GetCurrentProcess(), cls);
        } else if (a == L"--load-dll") {
            // A DLL that does not load (a missing import) ends the child before it is
            // ready, so a test never mistakes it for a module list that lacks it.
            const wchar_t* path = next();
            if (!LoadLibraryW(path)) {
                std::fwprintf(stderr, L"TestChild: cannot load %ls (error %lu)\n", path, GetLastError());
                return 3;
            }
        }
        else if (a == L"--tcp") tcp = true;
        else if (a == L"--udp") udp = true;
        else if (a == L"--pair") pair = tcp = true;
        else if (a == L"--sockets") extraSockets = _wtoi(next());
        else if (a == L"--exit-after") exitAfter = static_cast<DWORD>(_wtoi(next()));
    }

    std::vector<SOCKET> sockets;
    if (tcp || udp || extraSockets) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
    }
    if (tcp) sockets.push_back(ListenLoopback(SOCK_STREAM, &g_shared->tcpPort));
    if (udp) sockets.push_back(ListenLoopback(SOCK_DGRAM, &g_shared->udpPort));
    if (pair) {
        SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<u_short>(g_shared->tcpPort));
        connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        SOCKET s = accept(sockets.front(), nullptr, nullptr);
        int len = sizeof a;
        getsockname(c, reinterpret_cast<sockaddr*>(&a), &len);
        g_shared->tcpPeerPort = ntohs(a.sin_port);
        ClaimDescriptor(c);
        ClaimDescriptor(s);
        sockets.push_back(c);
        sockets.push_back(s);
    }
    for (int i = 0; i < extraSockets; ++i) sockets.push_back(ListenLoopback(SOCK_STREAM, nullptr));
    g_shared->socketCount = extraSockets;

    for (int i = 0; i < spinners; ++i) CloseHandle(CreateThread(nullptr, 0, Spin, nullptr, 0, nullptr));
    for (int i = 0; i < sleepers; ++i) CloseHandle(CreateThread(nullptr, 0, Sleeper, nullptr, 0, nullptr));
    InterlockedExchange(&g_shared->ready, 1);

    WaitForSingleObject(exitEvent, exitAfter);
    ExitProcess(7);
}
