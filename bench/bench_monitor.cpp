// CPU time of a process-list program while it shows N idle helper processes:
// Morvix.exe at its one-second refresh, then Wine's own taskmgr.exe on its
// process page, each alone for the same time in the same run.  Prints each
// one's CPU time as a share of one core, and, when given the wineserver's
// Unix process id, the server's share in the same window (the process list
// and the snapshots are served by it).
//   bench_monitor [processes=200] [seconds=60] [wineserver-unix-pid] [Morvix's page=1]
// Page 3 shows the system page with its two charts instead of the process list.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sysaccess/ProcessSnapshot.h"
#include "tests/helpers/TestChildShared.h"
#include "tests/helpers/TestSupport.h"

namespace {

// Kernel + user time of one process in 100-ns units, modulo 2^32, from the
// system's process snapshot (under Wine, GetProcessTimes of another process
// leaves out most of its threads' time).  Differences hold up to 429 s.
uint32_t CpuTime(DWORD pid) {
    auto snapshot = sysaccess::TakeProcessSnapshot();
    auto it = snapshot.find(pid);
    return it == snapshot.end() ? 0 : it->second.cpuTime;
}

// utime + stime of a Unix process, in seconds (through Wine's Z: drive).
double UnixCpuSeconds(long unixPid) {
    if (unixPid <= 0) return 0;
    std::ifstream stat("Z:\\proc\\" + std::to_string(unixPid) + "\\stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = all.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < all.size()) {
        size_t end = all.find(' ', at);
        fields.push_back(all.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (fields.size() < 13) return 0;
    return (std::stod(fields[11]) + std::stod(fields[12])) / 100.0;  // fields 14 and 15 of stat, USER_HZ 100
}

// An idle helper without a console (a console would bring a conhost.exe
// along, two processes per helper); ended at destruction.
class Helper {
public:
    Helper() {
        std::wstring exe = testsupport::TestChildPath(), cmd = L"\"" + exe + L"\"";
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                            &si, &pi))
            return;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        pid_ = pi.dwProcessId;
    }
    ~Helper() {
        if (!process_) return;
        TerminateProcess(process_, 0);
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
    }
    bool WaitReady() const {
        for (int i = 0; i < 600; ++i, Sleep(50)) {
            HANDLE m = OpenFileMappingW(FILE_MAP_READ, FALSE, TestChildSharedName(pid_).c_str());
            if (!m) continue;
            auto* shared = static_cast<TestChildShared*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
            bool ready = shared && shared->ready;
            if (shared) UnmapViewOfFile(shared);
            CloseHandle(m);
            if (ready) return true;
        }
        return false;
    }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

struct Program {
    PROCESS_INFORMATION pi{};
    bool Start(const std::wstring& path) {
        std::wstring cmd = L"\"" + path + L"\"";
        STARTUPINFOW si{sizeof si};
        return CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    }
    ~Program() {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
};

// The top-level window of a process that satisfies pred, waiting for it.
HWND WaitWindow(DWORD pid, const wchar_t* caption, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(100)) {
        HWND w = FindWindowW(nullptr, caption);
        DWORD owner = 0;
        if (w) GetWindowThreadProcessId(w, &owner);
        if (w && owner == pid && IsWindowEnabled(w)) return w;
    }
    return nullptr;
}

BOOL CALLBACK KeepLargestListRows(HWND w, LPARAM p) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (wcscmp(cls, WC_LISTVIEWW) == 0 && IsWindowVisible(w)) {
        int n = static_cast<int>(SendMessageW(w, LVM_GETITEMCOUNT, 0, 0));
        auto* best = reinterpret_cast<int*>(p);
        if (n > *best) *best = n;
    }
    return TRUE;
}

// The largest row count among the list views of a window (read across processes).
int ListRows(HWND top) {
    int rows = 0;
    EnumChildWindows(top, KeepLargestListRows, reinterpret_cast<LPARAM>(&rows));
    return rows;
}

struct Measure {
    double share = 0, serverShare = 0;
    int rows = 0;
};

Measure Watch(DWORD pid, HWND window, int seconds, long serverPid) {
    Sleep(3000);  // past the start-up work
    Measure m;
    uint32_t a = CpuTime(pid);
    double sa = UnixCpuSeconds(serverPid);
    DWORD start = GetTickCount();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    uint32_t b = CpuTime(pid);
    double sb = UnixCpuSeconds(serverPid);
    double wall = (GetTickCount() - start) / 1000.0;
    m.rows = ListRows(window);
    m.share = 100.0 * (static_cast<double>(static_cast<uint32_t>(b - a)) / 1e7) / wall;
    m.serverShare = 100.0 * (sb - sa) / wall;
    return m;
}

void Report(const char* who, const Measure& m, long serverPid) {
    std::printf("%-12s %6.2f %% of one core", who, m.share);
    if (serverPid > 0) std::printf("   wineserver %6.2f %%", m.serverShare);
    std::printf("   rows listed %d\n", m.rows);
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int count = argc > 1 ? _wtoi(argv[1]) : 200;
    const int seconds = argc > 2 ? _wtoi(argv[2]) : 60;
    const long serverPid = argc > 3 ? _wtol(argv[3]) : 0;
    const int page = argc > 4 ? _wtoi(argv[4]) : 1;

    std::vector<std::unique_ptr<Helper>> helpers;
    for (int i = 0; i < count; ++i) helpers.push_back(std::make_unique<Helper>());
    for (auto& h : helpers)
        if (!h->WaitReady()) {
            std::fprintf(stderr, "a helper did not start (%lu)\n", GetLastError());
            return 1;
        }
    std::printf("%d idle helpers, %d s each\n", count, seconds);
    Measure idle = Watch(GetCurrentProcessId(), GetDesktopWindow(), 5, serverPid);
    std::printf("%-12s wineserver %6.2f %% with nobody watching\n", "", idle.serverShare);

    {
        Program morvix;
        if (!morvix.Start(testsupport::TestBinDir() + L"\\Morvix.exe")) return 2;
        HWND w = WaitWindow(morvix.pi.dwProcessId, L" Velkaro  ", 60000);
        if (!w) return 3;
        // Another page: the tab strip moves one tab right per arrow key.
        HWND tab = FindWindowExW(w, nullptr, WC_TABCONTROLW, nullptr);
        for (int i = 1; i < page; ++i) {
            SendMessageW(tab, WM_KEYDOWN, VK_RIGHT, 0);
            SendMessageW(tab, WM_KEYUP, VK_RIGHT, 0);
        }
        Report("Morvix", Watch(morvix.pi.dwProcessId, w, seconds, serverPid), serverPid);
        PostMessageW(w, WM_CLOSE, 0, 0);
    }
    {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        Program taskmgr;
        if (!taskmgr.Start(std::wstring(system) + L"\\taskmgr.exe")) return 4;
        HWND w = WaitWindow(taskmgr.pi.dwProcessId, L"Task Manager", 30000);
        if (!w) return 5;
        // Its process page: a click on the second tab.
        HWND tab = FindWindowExW(w, nullptr, WC_TABCONTROLW, nullptr);
        POINT p{110, 10};
        PostMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        PostMessageW(tab, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
        Report("taskmgr", Watch(taskmgr.pi.dwProcessId, w, seconds, serverPid), serverPid);
        PostMessageW(w, WM_CLOSE, 0, 0);
    }
    return 0;
}
