// Time of one port-list refresh from the extended tables while a child
// process holds 2,000 listening loopback sockets: the whole refresh, the
// system's table reads alone, and the list's own share (the same number of
// rows injected, each owned by the child, so every row opens it for its path).
//   bench_ports [sockets] [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <vector>

#include "netports/modProcessPorts.h"
#include "netports/tests/test_ports_window.h"
#include "tests/helpers/TestSupport.h"

namespace {

class InjectedTables : public modProcessPorts::ExTables {
public:
    std::vector<modProcessPorts::TcpExRow> tcp;
    unsigned long ReadTcpTable(std::vector<modProcessPorts::TcpExRow>& rows) override {
        rows = tcp;
        return 0;
    }
    unsigned long ReadUdpTable(std::vector<modProcessPorts::UdpExRow>& rows) override {
        rows.clear();
        return 0;
    }
};

double Median(int runs, const std::function<void()>& work) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        work();
        QueryPerformanceCounter(&b);
        ms.push_back(1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int sockets = argc > 1 ? _wtoi(argv[1]) : 2000;
    int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    testsupport::Child child(L"--sockets " + std::to_wstring(sockets));
    if (!child.WaitReady(60000)) {
        std::fprintf(stderr, "child did not start\n");
        return 1;
    }
    portstest::PortsWindow w;
    modProcessPorts::ListPortsFromExTables(w.lvw);  // warm-up: loads the library, sizes the buffers

    double whole = Median(runs, [&] { modProcessPorts::ListPortsFromExTables(w.lvw); });
    int rows = w.lvw.Count();
    double reads = Median(runs, [] {
        std::vector<modProcessPorts::TcpExRow> tcp;
        std::vector<modProcessPorts::UdpExRow> udp;
        modProcessPorts::ExTables::Platform().ReadTcpTable(tcp);
        modProcessPorts::ExTables::Platform().ReadUdpTable(udp);
    });

    InjectedTables injected;
    for (int i = 0; i < sockets; ++i)
        injected.tcp.push_back({2, 0x0100007F, static_cast<std::uint32_t>(((1024 + i) & 0xFF) << 8 | (1024 + i) >> 8),
                                0, 0, child.Pid()});
    double list = Median(runs, [&] { modProcessPorts::ListPortsFromExTables(w.lvw, injected); });

    std::printf("ListPortsFromExTables with %d child sockets (%d rows): median %.1f ms\n", sockets, rows, whole);
    std::printf("  the system's two table reads alone:          median %.1f ms\n", reads);
    std::printf("  %d injected rows owned by the child:        median %.1f ms\n", sockets, list);
    return 0;
}
