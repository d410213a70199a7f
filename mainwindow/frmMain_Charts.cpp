// The two charts of the system page: their design settings, the grid that
// follows the window's size, and the samples the monitor hands them.
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "platform/vb/VbError.h"

namespace {

// Design settings saved with the window; the rest keep the chart's defaults.
vb::PropertyBag ChartDesign(long gridTickVertical, long max) {
    vb::PropertyBag bag;
    bag.WriteProperty(L"Appearance", 0, 1);
    bag.WriteProperty(L"BorderStyle", 0, 1);
    bag.WriteProperty(L"GridTickHorizontal", 7, 10);
    bag.WriteProperty(L"GridTickVertical", gridTickVertical, 25);
    bag.WriteProperty(L"BackColor", 0x0, static_cast<long>(0x80000012UL));
    bag.WriteProperty(L"GridColour", 0x808000, 0x8000);
    bag.WriteProperty(L"Max", max, 100);
    bag.WriteProperty(L"ForeColor", 0xFFFF80, 0xFF00);
    return bag;
}

}  // namespace

void frmMain::CreateCharts() {
    // Each chart sits in its frame, right of the frame's usage bar.
    ucDiagramCPU.Create(fraCPUUsage, 1440, 255, 3975, 2910, ChartDesign(11, 110), frmMainIds::ucDiagramCPU);
    ucDiagramMemory.Create(fraMemoryUsage, 1440, 255, 3975, 2910, ChartDesign(10, 100), frmMainIds::ucDiagramMemory);
}

// One grid column as wide as a grid band is high: the vertical band count
// divided by the chart's width-to-height ratio.
void frmMain::ResizeCharts() {
    for (ucDiagram* chart : {&ucDiagramCPU, &ucDiagramMemory}) {
        vb::Try([&] {
            RECT r = ui::ControlRectTwips(chart->Hwnd());
            const double width = r.right - r.left, height = r.bottom - r.top;
            if (height == 0 || width == 0) throw vb::Error(11);
            chart->SetGridTickHorizontal(chart->GridTickVertical() / (width / height));
        });
    }
}

// The CPU chart gets 5 to 105 against its Max of 110, so the curve never
// lies on an edge; the memory chart the load percentage against 100.  The
// usage bars and their frames' captions follow the same figures.
void frmMain::FeedCharts(long cpu) {
    const long memory = GetMemoryLoadPercent();
    vb::Try([&] { ucDiagramCPU.NextPoint(cpu + 5); });
    vb::Try([&] { ucDiagramMemory.NextPoint(memory); });
    vb::Try([&] { DrawUsageBar(cpu, picCPUUsage); });
    vb::Try([&] { ui::SetText(fraCPUUsage, L"CPU 使用率: " + std::to_wstring(cpu) + L"%"); });
    vb::Try([&] { DrawUsageBar(memory, picMemoryUsage); });
    vb::Try([&] { ui::SetText(fraMemoryUsage, L"物理内存使用率: " + std::to_wstring(memory) + L"%"); });
}
