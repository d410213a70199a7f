// How long one pass of the process-list refresh takes over a few hundred
// unchanged processes, and whether the tool's handle count stays flat over many
// passes.  Starts N copies of the test child (default 200) and reports the
// median pass time and the handle count before and after the passes.
//   bench_refresh [processes] [passes]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/ui/ListView.h"
#include "sysaccess/modEnumProcess.h"
#include "tests/helpers/TestSupport.h"

namespace {

class Owner : public modEnumProcess::ProcessListOwner {
public:
    std::vector<std::wstring> ids;
    bool AutoKillOn() const override { return false; }
    std::vector<std::wstring>& PreviousPassIds() override { return ids; }
    HWND MainWindow() const override { return nullptr; }
    long KnowledgeColour(const std::wstring&) override { return 0xFF0000; }
};

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int processes = argc > 1 ? _wtoi(argv[1]) : 200;
    const int passes = argc > 2 ? _wtoi(argv[2]) : 1000;

    std::vector<std::unique_ptr<testsupport::Child>> children;
    for (int i = 0; i < processes; ++i) children.push_back(std::make_unique<testsupport::Child>());
    for (auto& c : children) c->WaitReady(30000);

    HWND window = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ui::ListView list;
    ui::ImageList icons;
    list.Create(window, 1, RECT{0, 0, 780, 580});
    for (int i = 0; i < 7; ++i) list.AddColumn(L"c", 1000, ui::Align::Left);
    list.SetImageList(icons);
    Owner owner;

    modEnumProcess::RefreshProcessList(list, icons, owner);  // adds every row
    modEnumProcess::RefreshProcessList(list, icons, owner);
    size_t handlesBefore = testsupport::CountOpenHandles();

    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        double t0 = Now();
        modEnumProcess::RefreshProcessList(list, icons, owner);
        times.push_back(Now() - t0);
    }
    size_t handlesAfter = testsupport::CountOpenHandles();
    std::sort(times.begin(), times.end());
    std::printf("rows %d, passes %d\n", list.Count(), passes);
    std::printf("median pass %.2f ms, p90 %.2f ms, max %.2f ms\n", times[times.size() / 2],
                times[times.size() * 9 / 10], times.back());
    std::printf("handles before %zu, after %zu\n", handlesBefore, handlesAfter);
    DestroyWindow(window);
    return 0;
}
