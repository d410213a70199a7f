// One monitor tick of the real main window, taken apart, and many ticks in a
// row: where a tick's time goes (with the system page and its two charts on
// show), then the process's handles, GDI and USER objects and private bytes
// over N ticks driven as fast as they run.
//   bench_tick [ticks=10000] [helpers=0]
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "mainwindow/frmMain.h"
#include "platform/vb/Runtime.h"
#include "sysaccess/ProcessSnapshot.h"
#include "sysaccess/clsCPUUsage.h"
#include "tests/helpers/TestSupport.h"

namespace {

double Now() {
    static LARGE_INTEGER f{};
    if (!f.QuadPart) QueryPerformanceFrequency(&f);
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// Runs what the tick leaves queued (the charts' and the list's painting).
void Settle(HWND w) {
    RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    vb::DoEvents();
}

struct Usage {
    DWORD handles = 0, gdi = 0, user = 0;
    uintptr_t nextHandle = 0;
    SIZE_T privateBytes = 0;
};

// Wine answers 0 for the handle count and the GDI and USER object counts;
// there the value of a new kernel handle stands in for the count (handles
// take the lowest free slot, so it grows with every handle left open) and
// the page-file usage for the private bytes.
Usage Measure() {
    Usage u;
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    u.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    u.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    u.nextHandle = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc);
    u.privateBytes = pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
    return u;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int ticks = argc > 1 ? _wtoi(argv[1]) : 10000;
    const int helperCount = argc > 2 ? _wtoi(argv[2]) : 0;
    std::vector<std::unique_ptr<testsupport::Child>> helpers;
    for (int i = 0; i < helperCount; ++i) helpers.push_back(std::make_unique<testsupport::Child>());
    for (auto& h : helpers) h->WaitReady(30000);

    frmMain& f = frmMain::Instance();
    f.Show();
    HWND w = f.Hwnd();
    KillTimer(w, frmMainIds::tmrMonitor);
    KillTimer(w, frmMainIds::tmrPrcCPUUsage);
    TabCtrl_SetCurSel(f.tabMain, 2);
    f.tabMain_Click();
    Settle(w);

    // Where a tick's time goes: the whole tick, and its parts on their own.
    const int rounds = 50;
    double whole = 0, column = 0, query = 0, memory = 0, charts = 0, paint = 0, snapshot = 0;
    for (int i = 0; i < rounds; ++i) {
        double t = Now();
        f.tmrMonitor_Timer();
        whole += Now() - t;
        t = Now();
        Settle(w);
        paint += Now() - t;
        t = Now();
        f.cpuPhase = false;
        f.UpdateProcessCpuColumn();
        column += Now() - t;
        t = Now();
        f.cpuUsage()->Query();
        query += Now() - t;
        t = Now();
        f.GetMemoryUsageText();
        f.GetMemoryLoadPercent();
        memory += Now() - t;
        t = Now();
        sysaccess::TakeProcessSnapshot();
        snapshot += Now() - t;
        t = Now();
        f.ucDiagramCPU.NextPoint(50);
        f.ucDiagramMemory.NextPoint(50);
        charts += Now() - t;
    }
    const double other = whole - column - query - memory - charts;
    std::printf("%d processes listed, %d rounds, milliseconds per tick:\n", f.lvwProcess.Count(), rounds);
    std::printf("  whole tick            %8.3f\n", whole / rounds);
    std::printf("  CPU column, phase 1   %8.3f\n", column / rounds);
    std::printf("  CPU sampler query     %8.3f\n", query / rounds);
    std::printf("  memory status (x2)    %8.3f\n", memory / rounds);
    std::printf("  both charts, drawing  %8.3f\n", charts / rounds);
    std::printf("  list refresh + rest   %8.3f  (whole minus the parts above)\n", other / rounds);
    std::printf("    of which a process snapshot alone  %8.3f\n", snapshot / rounds);
    std::printf("  painting afterwards   %8.3f  (the charts and whatever else the tick invalidated)\n",
                paint / rounds);
    std::fflush(stdout);

    // Many ticks in a row, with what they leave queued run after each.
    Usage start = Measure();
    std::printf("ticks  handles  gdi  user  next-handle  private-KB\n");
    auto row = [](int i, const Usage& u) {
        std::printf("%5d  %7lu  %3lu  %4lu  %11llx  %10llu\n", i, u.handles, u.gdi, u.user,
                    static_cast<unsigned long long>(u.nextHandle),
                    static_cast<unsigned long long>(u.privateBytes / 1024));
        std::fflush(stdout);
    };
    row(0, start);
    const double began = Now();
    for (int i = 1; i <= ticks; ++i) {
        f.tmrMonitor_Timer();
        f.UpdateProcessCpuColumn();  // the second phase, as the 500 ms timer runs it
        Settle(w);
        if (i % (ticks / 10 ? ticks / 10 : 1) == 0) {
            row(i, Measure());
        }
    }
    std::printf("%.2f ms per tick over %d ticks\n", (Now() - began) / ticks, ticks);
    SendMessageW(w, WM_CLOSE, 0, 0);
    return 0;
}
