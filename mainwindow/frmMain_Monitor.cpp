// The live monitor: the one-second refresh of the list and the displays, the
// two-phase per-process CPU column, the memory readers and the message-pumping wait.
#include <windows.h>

#include <cmath>
#include <optional>
#include <unordered_map>
#include <vector>

#include "mainwindow/frmMain.h"
#include "platform/ui/Form.h"
#include "platform/ui/Icon.h"
#include "mainwindow/modTrayIcon.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "sysaccess/ProcessSnapshot.h"
#include "sysaccess/clsCPUUsage.h"

namespace {

std::pair<uint64_t, uint64_t> RealMemoryStatus() {
    MEMORYSTATUSEX status{sizeof status};
    if (!GlobalMemoryStatusEx(&status)) return {0, 0};
    return {status.ullTotalPhys, status.ullAvailPhys};
}

long Clamp(long v) { return v < 0 ? 0 : v > 100 ? 100 : v; }

}  // namespace

void frmMain::tmrMonitor_Timer() {
    // A tick that arrives while a refresh of the list is still running (its
    // report box is up, or it pumps messages) leaves the list alone, so report
    // boxes never pile up one a second; the displays are kept current.
    if (listRefreshDepth_ == 0) {
        ++listRefreshDepth_;
        vb::Try([&] { modEnumProcess::RefreshProcessList(lvwProcess, ilsPrcIcon, *this); });
        --listRefreshDepth_;
    }
    // The CPU column's first sample goes with the tick and reads the snapshot
    // the refresh has just taken (one system call less a second); the second
    // follows 500 ms later, and the column is written then.
    vb::Try([&] {
        cpuPhase = false;
        UpdateProcessCpuColumn();
        SetTimer(hwnd_, frmMainIds::tmrPrcCPUUsage, 500, nullptr);
    });
    vb::Try([&] { lastCpuPercent = Clamp(cpuUsage_ ? cpuUsage_->Query() : 0); });
    const long cpu = lastCpuPercent;
    vb::Try([&] {
        SetPanelText(1, L"进程数: " + std::to_wstring(lvwProcess.Count()));
        SetPanelText(2, L"CPU: " + std::to_wstring(cpu) + L"%");
    });
    vb::Try([&] {
        // The shell redraws the icon on every call: it is told only when the
        // percentage, and with it picture and tip, has changed.
        if (trayPictureIndex_ == cpu + 1 && modTrayIcon::CurrentTip() == L"CPU 使用率: " + std::to_wstring(cpu) + L"%")
            return;
        SetTrayPicture(cpu + 1);
        modTrayIcon::RefreshTrayIcon();
        modTrayIcon::SetTrayTip(L"CPU 使用率: " + std::to_wstring(cpu) + L"%");
    });
    vb::Try([&] { SetPanelText(3, L"内存: " + GetMemoryUsageText()); });
    vb::Try([&] { FeedCharts(cpu); });
}

void frmMain::tmrPrcCPUUsage_Timer() {
    // Once per first sample: the monitor tick arms it again.
    KillTimer(hwnd_, frmMainIds::tmrPrcCPUUsage);
    if (cpuPhase) vb::Try([&] { UpdateProcessCpuColumn(); });
}

void frmMain::UpdateProcessCpuColumn() {
    const int n = lvwProcess.Count();
    cpuPhase = !cpuPhase;
    // One system-wide snapshot per phase (or the samples a test hands in); the
    // first phase takes one the list refresh took a moment ago.
    std::map<unsigned long, uint32_t> injected;
    std::unordered_map<DWORD, sysaccess::ProcessSample> snapshot;
    if (sources.processTimes)
        injected = sources.processTimes();
    else
        snapshot = cpuPhase ? sysaccess::RecentProcessSnapshot(100) : sysaccess::TakeProcessSnapshot();
    auto sampleOf = [&](unsigned long pid) -> std::optional<uint32_t> {
        if (sources.processTimes) {
            auto it = injected.find(pid);
            return it == injected.end() ? std::nullopt : std::optional<uint32_t>(it->second);
        }
        auto it = snapshot.find(static_cast<DWORD>(pid));
        return it == snapshot.end() ? std::nullopt : std::optional<uint32_t>(it->second.cpuTime);
    };
    auto pidOf = [&](int i) { return static_cast<unsigned long>(vb::ParseDisplayedNumber(lvwProcess.SubItem(i, 2))); };

    if (cpuPhase) {
        firstSamples.clear();
        for (int i = 1; i <= n; ++i) {
            unsigned long pid = pidOf(i);
            if (auto sample = sampleOf(pid)) firstSamples[pid] = *sample;
        }
        return;
    }

    std::vector<uint32_t> differences(static_cast<size_t>(n) + 1, 0);
    uint64_t total = 0;
    for (int i = 1; i <= n; ++i) {
        unsigned long pid = pidOf(i);
        auto second = sampleOf(pid);
        auto first = firstSamples.find(pid);
        // A difference counts only when both samples exist: a process that
        // started or ended between the phases takes no share.
        if (second && first != firstSamples.end()) differences[static_cast<size_t>(i)] = *second - first->second;
        total += differences[static_cast<size_t>(i)];
    }
    const long cpu = Clamp(lastCpuPercent);
    lvwProcess.BeginUpdate();
    for (int i = 1; i <= n; ++i) {
        vb::Try([&] {
            if (lvwProcess.SubItem(i, 2) == L"0") {
                lvwProcess.SetSubItem(i, 3, vb::FormatZeroFill(100 - cpu, 2));
                return;
            }
            if (total == 0) {
                lvwProcess.SetSubItem(i, 3, L"00");
                return;
            }
            double share = static_cast<double>(differences[static_cast<size_t>(i)]) / static_cast<double>(total) * cpu;
            long p = std::labs(static_cast<long>(std::floor(share + 0.5)));
            if (p <= 100) lvwProcess.SetSubItem(i, 3, vb::FormatZeroFill(p, 2));
        });
    }
    lvwProcess.EndUpdate();
}

std::wstring frmMain::GetMemoryUsageText() {
    auto [total, available] = sources.memoryStatus ? sources.memoryStatus() : RealMemoryStatus();
    uint64_t used = total - available;
    return std::to_wstring(used / 1048576) + L" / " + std::to_wstring(total / 1048576) + L" MB";
}

long frmMain::GetMemoryLoadPercent() {
    auto [total, available] = sources.memoryStatus ? sources.memoryStatus() : RealMemoryStatus();
    uint64_t totalMb = total / 1048576;
    if (totalMb == 0) throw vb::Error(11);
    uint64_t usedMb = (total - available) / 1048576;
    return static_cast<long>(vb::RoundHalfEven(static_cast<double>(usedMb) * 100.0 / static_cast<double>(totalMb)));
}

void frmMain::Delay(long ms) {
    vb::NestedLoopScope nested;
    auto tick = [&] { return sources.tickCount ? sources.tickCount() : static_cast<uint32_t>(GetTickCount()); };
    const uint32_t start = tick();
    for (;;) {
        uint32_t elapsed = tick() - start;  // modulo 2^32: a wrap of the counter is harmless
        if (static_cast<long long>(elapsed) > ms) return;
        if (!vb::DoEvents()) return;  // a quit is pending: the outer loop ends the program
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

// ---- notification-area pictures: 101 small bars, image p + 1 for p % ----

void frmMain::BuildTrayPictures() {
    uint32_t px[16 * 16];
    for (int p = 0; p <= 100; ++p) {
        const int lit = (p * 14 + 50) / 100;  // rows of the 14-row bar that are lit
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                uint32_t c = 0xFF000000;  // black frame and background
                bool inside = x >= 2 && x <= 13 && y >= 1 && y <= 14;
                if (inside) c = (15 - y) <= lit ? 0xFF00E000 : 0xFF004000;
                px[y * 16 + x] = c;
            }
        win::Icon icon(ui::IconFromPixels(16, px));
        ilsTrayIcon.Add(L"cpu" + std::to_wstring(p), icon.get());
        // Each picture is made once here: the tick only points at one.
        trayPictures_.emplace_back(ilsTrayIcon.ExtractIcon(ilsTrayIcon.Count() - 1));
    }
}

void frmMain::SetTrayPicture(int image) {
    if (image < 1 || image > static_cast<int>(trayPictures_.size())) return;
    picTrayIcon = trayPictures_[static_cast<size_t>(image - 1)].get();
    trayPictureIndex_ = image;
}
