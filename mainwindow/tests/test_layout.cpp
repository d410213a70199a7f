// The proportional layout: tags applied on a window of our own and on the
// real main window at several sizes, the size limits, maximising, the focus
// and the visibility of pages through a resize, the two window hooks
// installed twice and removed in either order, and the charts the monitor feeds.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <map>

#include "mainwindow/modAutoSizeForm.h"
#include "mainwindow/modTrayIcon.h"
#include "test_listview_fixture.h"

using namespace mwtest;

namespace {

RECT Twips(HWND c) { return ui::ControlRectTwips(c); }

void SizeWindow(HWND w, int cx, int cy) {
    SetWindowPos(w, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

MINMAXINFO AskLimits(HWND w) {
    MINMAXINFO info{};
    info.ptMaxSize = {1300, 1040};
    SendMessageW(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    return info;
}

// A window of our own that counts the messages its own procedure sees.
int g_ownMessages = 0;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP + 5) ++g_ownMessages;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class OwnWindow : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"LayoutTestWindow";
        RegisterClassW(&wc);
        form_ = CreateWindowExW(0, wc.lpszClassName, L"layout", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_TRUE(form_);
    }
    void TearDown() override {
        modAutoSizeForm::UnhookForm(form_);
        DestroyWindow(form_);
    }
    HWND Child(const std::wstring& tag, long left, long top, long width, long height, bool visible = true) {
        HWND c = ui::CreateControl(form_, L"STATIC", tag, visible ? WS_VISIBLE : 0, left, top, width, height);
        modAutoSizeForm::SetTag(c, tag);
        return c;
    }
    HWND form_ = nullptr;
};

}  // namespace

TEST_F(OwnWindow, EachTagFollowsTheWindowAndShrinkingBackRestoresThePlaces) {
    // Tag -> left, top, width, height after 300 twips more width and 600 more height.
    const std::map<std::wstring, RECT> grown{
        {L"STRETCHH", {300, 600, 1800, 900}},      {L"STRETCHV", {300, 600, 1500, 1500}},
        {L"STRETCHALL", {300, 600, 1800, 1500}},   {L"MOVEH", {600, 600, 1500, 900}},
        {L"MOVEV", {300, 1200, 1500, 900}},        {L"N_MOVEV", {300, 1200, 1500, 900}},
        {L"MOVEALL", {600, 1200, 1500, 900}},      {L"STRETCHVMOVEH", {600, 600, 1500, 1500}},
        {L"STRETCHHMOVEV", {300, 1200, 1800, 900}}, {L"OTHER", {300, 600, 1500, 900}}};
    std::map<std::wstring, HWND> c;
    for (auto& [tag, r] : grown) c[tag] = Child(tag, 300, 600, 1500, 900, tag != L"MOVEV");
    HWND untagged = ui::CreateControl(form_, L"STATIC", L"", WS_VISIBLE, 150, 150, 600, 600);
    modAutoSizeForm::LayoutRecords layout;
    modAutoSizeForm::ResizeControls(layout, form_, false, 0);
    EXPECT_EQ(layout.count, 10);
    EXPECT_EQ(layout.width, 800 * 15);

    for (SIZE s : {SIZE{820, 640}, SIZE{800, 600}}) {
        SizeWindow(form_, s.cx, s.cy);
        modAutoSizeForm::ResizeControls(layout, form_, false, 0);
        for (auto& [tag, want] : grown) {
            RECT r = Twips(c[tag]);
            RECT expected = s.cx == 800 ? RECT{300, 600, 1500, 900} : want;
            EXPECT_EQ(r.left, expected.left) << tag;
            EXPECT_EQ(r.top, expected.top) << tag;
            EXPECT_EQ(r.right - r.left, expected.right) << tag;
            EXPECT_EQ(r.bottom - r.top, expected.bottom) << tag;
            EXPECT_EQ(IsWindowVisible(c[tag]) != 0, tag != L"N_MOVEV") << tag;
        }
    }
    EXPECT_EQ(Twips(untagged).left, 150);

    // A minimised window is left alone; mode 1 applies only the horizontal parts.
    ShowWindow(form_, SW_MINIMIZE);
    modAutoSizeForm::ResizeControls(layout, form_, false, 0);
    EXPECT_EQ(Twips(c[L"MOVEH"]).left, 300);
    ShowWindow(form_, SW_RESTORE);
    SizeWindow(form_, 820, 640);
    modAutoSizeForm::ResizeControls(layout, form_, false, 1);
    EXPECT_EQ(Twips(c[L"MOVEALL"]).left, 600);
    EXPECT_EQ(Twips(c[L"MOVEALL"]).top, 600);
}

TEST_F(OwnWindow, SizeHookTwiceIsOneHookAndComesOffOnce) {
    modAutoSizeForm::SetFormSizeLimits(form_, 800 * 15, 600 * 15);
    modAutoSizeForm::HookForm(form_);  // a second installation never calls itself
    g_ownMessages = 0;
    SendMessageW(form_, WM_APP + 5, 0, 0);
    EXPECT_EQ(g_ownMessages, 1);
    MINMAXINFO info = AskLimits(form_);
    EXPECT_EQ(info.ptMinTrackSize.x, 800);
    EXPECT_EQ(info.ptMinTrackSize.y, 600);
    EXPECT_EQ(info.ptMaxTrackSize.x, 1300) << "room for a maximised window's frame";
    EXPECT_EQ(modAutoSizeForm::MaxTrackSize().x, GetSystemMetrics(SM_CXSCREEN));

    SizeWindow(form_, 400, 300);
    RECT r;
    GetWindowRect(form_, &r);
    EXPECT_GE(r.right - r.left, 800);
    EXPECT_GE(r.bottom - r.top, 600);

    modAutoSizeForm::RemoveHook(form_);
    modAutoSizeForm::RemoveHook(form_);
    EXPECT_FALSE(modAutoSizeForm::Hooked());
    EXPECT_EQ(GetWindowLongPtrW(form_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&CountingProc));
    EXPECT_NE(AskLimits(form_).ptMinTrackSize.x, 800);
    SendMessageW(form_, WM_APP + 5, 0, 0);
    EXPECT_EQ(g_ownMessages, 2);
}

// ---- the main window ----

namespace {

// Which of left, top, width and height follow the window's growth.
struct Follows {
    bool left, top, width, height;
};
const std::map<std::wstring, Follows> kFollows{
    {L"STRETCHALL", {false, false, true, true}}, {L"STRETCHV", {false, false, false, true}},
    {L"MOVEH", {true, false, false, false}},     {L"MOVEV", {false, true, false, false}},
    {L"N_MOVEV", {false, true, false, false}},   {L"MOVEALL", {true, true, false, false}}};

// A control's place in twips: within its container, or within the window.
RECT Place(HWND c, bool onWindow) {
    if (!onWindow) return Twips(c);
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, Form().Hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return RECT{vb::PixelsToTwipsX(r.left), vb::PixelsToTwipsY(r.top), vb::PixelsToTwipsX(r.right),
                vb::PixelsToTwipsY(r.bottom)};
}

}  // namespace

TEST(MainWindowLayout, TaggedControlsAtSeveralSizes) {
    HWND form = Form().Hwnd();
    StopTimers();
    ShowWindow(form, SW_RESTORE);
    SizeWindow(form, 800, 600);
    auto& f = Form();
    struct Tagged {
        HWND c;
        const wchar_t* tag;
        RECT design;          // left, top, width, height; all 0 when the design table gives none
        bool onWindow = false;  // measured on the window rather than in its container
    };
    const Tagged tagged[] = {
        {f.tabMain, L"STRETCHALL", {120, 120, 11535, 7560}},
        {f.picTab[1], L"STRETCHALL", {140, 420, 11490, 7230}},
        {f.picTab[2], L"STRETCHALL", {140, 420, 11490, 7230}},
        {f.picTab[3], L"STRETCHALL", {140, 420, 11490, 7230}},
        {f.lvwProcess.Hwnd(), L"STRETCHALL", {}},
        {f.lvwPorts.Hwnd(), L"STRETCHALL", {120, 120, 11205, 6555}},
        {f.lvwSystemInfo.Hwnd(), L"STRETCHALL", {5820, 140, 5475, 6950}},
        {f.txtPrcDescription, L"STRETCHV", {}},
        {f.lstModules, L"STRETCHV", {}},
        {f.chkAutoRun, L"MOVEH", {}},
        {f.chkAntiVirus, L"MOVEH", {}},
        {f.chkAlwaysOnTop, L"MOVEH", {}},
        {f.picPopupForm[0], L"MOVEH", {}},
        {f.picPopupForm[1], L"MOVEH", {}},
        {f.picPopupFormButton, L"MOVEH", {}},
        {f.cmdPrcAdd, L"MOVEV", {}},
        {f.cmdPrcEdit, L"MOVEV", {}},
        {f.cmdModulesRefresh, L"MOVEV", {}},
        {f.cmdModulesOut, L"MOVEV", {}},
        {f.cmdPortsRefresh, L"MOVEV", {1320, 6750, 1095, 375}},
        {f.cmdPortsOut, L"MOVEV", {120, 6750, 1095, 375}},
        {f.fraSearch, L"N_MOVEV", {}},
        {f.picLevel, L"N_MOVEV", {}},
        // The version box sits inside the status bar, which follows the bottom
        // edge by itself: its own tag moves it right only, and on the window it
        // keeps its distance to both edges.
        {f.Picture2, L"MOVEALL", {}, true},
    };
    auto& layout = f.layout;
    ASSERT_EQ(layout.count, 24) << "recorded when the window was first shown; no other control has a tag";
    EXPECT_EQ(layout.width, 800 * 15);
    EXPECT_EQ(layout.height, 600 * 15);
    std::vector<RECT> base;
    for (const Tagged& t : tagged) {
        EXPECT_EQ(modAutoSizeForm::GetTag(t.c), t.onWindow ? L"MOVEH" : t.tag);
        EXPECT_NE(std::find(layout.controls.begin(), layout.controls.end(), t.c), layout.controls.end()) << t.tag;
        base.push_back(Place(t.c, t.onWindow));
        const RECT& r = base.back();
        if (t.design.right == 0) continue;
        // At the reference size each control stands at its design place, to the pixel.
        EXPECT_NEAR(r.left, t.design.left, 14) << t.tag;
        EXPECT_NEAR(r.top, t.design.top, 14) << t.tag;
        EXPECT_NEAR(r.right - r.left, t.design.right, 14) << t.tag;
        EXPECT_NEAR(r.bottom - r.top, t.design.bottom, 14) << t.tag;
    }

    for (SIZE s : {SIZE{1024, 768}, SIZE{1200, 900}, SIZE{900, 640}, SIZE{800, 600}}) {
        SizeWindow(form, s.cx, s.cy);
        const long dw = (s.cx - 800) * 15, dh = (s.cy - 600) * 15;
        const RECT list = Twips(f.lvwProcess.Hwnd());
        for (size_t i = 0; i < std::size(tagged); ++i) {
            const Tagged& t = tagged[i];
            const Follows how = kFollows.at(t.tag);
            const RECT& b = base[i];
            const RECT r = Place(t.c, t.onWindow);
            EXPECT_EQ(r.left, b.left + (how.left ? dw : 0)) << i << " " << t.tag << " at " << s.cx;
            EXPECT_EQ(r.top, b.top + (how.top ? dh : 0)) << i << " " << t.tag << " at " << s.cx;
            EXPECT_EQ(r.right - r.left, b.right - b.left + (how.width ? dw : 0)) << i << " " << t.tag;
            // The side panels take the process list's height afterwards.
            const long height = t.c == f.picPopupForm[0] || t.c == f.picPopupForm[1]
                                    ? list.bottom - list.top
                                    : b.bottom - b.top + (how.height ? dh : 0);
            EXPECT_EQ(r.bottom - r.top, height) << i << " " << t.tag;
            if (std::wstring(t.tag) == L"N_MOVEV") {
                EXPECT_EQ(GetWindowLongPtrW(t.c, GWL_STYLE) & WS_VISIBLE, 0) << i << " is left hidden";
            }
        }
        // The charts keep their design size and place.
        RECT chart = Twips(f.ucDiagramCPU.Hwnd());
        EXPECT_EQ(chart.right - chart.left, 3975);
        EXPECT_EQ(f.ucDiagramCPU.GridTickHorizontal(), 8);  // 11 / (3975 / 2910)
        EXPECT_EQ(f.ucDiagramMemory.GridTickHorizontal(), 7);
    }
    // Below the minimum is refused.
    SizeWindow(form, 500, 400);
    RECT r;
    GetWindowRect(form, &r);
    EXPECT_EQ(r.right - r.left, 800);
    EXPECT_EQ(r.bottom - r.top, 600);
    StartTimers();
}

TEST(MainWindowLayout, MaximisedFillsTheWorkArea) {
    HWND form = Form().Hwnd();
    ShowWindow(form, SW_RESTORE);
    SizeWindow(form, 800, 600);
    const RECT list = Twips(Form().lvwProcess.Hwnd());
    Form().SetWindowState(2);
    RECT work{}, window{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(form, &window);
    EXPECT_LE(window.left, work.left);
    EXPECT_LE(window.top, work.top);
    EXPECT_GE(window.right, work.right);
    EXPECT_GE(window.bottom, work.bottom);
    RECT wide = Twips(Form().lvwProcess.Hwnd());
    EXPECT_EQ(wide.right - wide.left - (list.right - list.left),
              (window.right - window.left - 800) * 15);
    Form().SetWindowState(0);
    EXPECT_EQ(Twips(Form().lvwProcess.Hwnd()).right, list.right);
}

namespace {
// Shows and hides that a control goes through, recorded by a subclass.
std::map<HWND, std::vector<UINT>> g_visibility;
LRESULT CALLBACK Watch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (msg == WM_WINDOWPOSCHANGING) {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW))
            g_visibility[hwnd].push_back(pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW));
    }
    if (msg == WM_SHOWWINDOW) g_visibility[hwnd].push_back(wParam ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}
}  // namespace

TEST(MainWindowLayout, ResizeKeepsTheFocusAndFlashesNothing) {
    HWND form = Form().Hwnd();
    ShowWindow(form, SW_RESTORE);
    TabCtrl_SetCurSel(Form().tabMain, 0);
    Form().tabMain_Click();
    SetForegroundWindow(form);
    HWND list = Form().lvwProcess.Hwnd();
    SetFocus(list);
    ASSERT_EQ(GetFocus(), list);
    std::vector<HWND> watched{list, Form().picTab[1], Form().picTab[2], Form().picTab[3], Form().picPopupForm[1],
                              Form().lstModules};
    for (HWND w : watched) SetWindowSubclass(w, Watch, 1, 0);
    g_visibility.clear();
    SizeWindow(form, 1000, 700);
    SizeWindow(form, 820, 610);
    for (HWND w : watched) RemoveWindowSubclass(w, Watch, 1);
    EXPECT_EQ(GetFocus(), list);
    for (HWND w : watched) EXPECT_TRUE(g_visibility[w].empty()) << modAutoSizeForm::GetTag(w);
    EXPECT_TRUE(IsWindowVisible(Form().picTab[1]));
    EXPECT_FALSE(IsWindowVisible(Form().picTab[2]));
    EXPECT_FALSE(IsWindowVisible(Form().picTab[3]));
    EXPECT_FALSE(IsWindowVisible(Form().picPopupForm[1]));
    SizeWindow(form, 800, 600);
}

TEST(MainWindowLayout, BothHooksRemovedInEitherOrder) {
    HWND form = Form().Hwnd();
    ASSERT_TRUE(modAutoSizeForm::Hooked());
    ASSERT_TRUE(modTrayIcon::Hooked());
    // Size hook first, the tray hook stays working.
    modAutoSizeForm::UnhookForm(form);
    modAutoSizeForm::UnhookForm(form);
    EXPECT_TRUE(modTrayIcon::Hooked());
    EXPECT_NE(AskLimits(form).ptMinTrackSize.x, 800);
    // Back on, twice; now the tray hook first.
    modAutoSizeForm::SetFormSizeLimits(form, 800 * 15, 600 * 15);
    modAutoSizeForm::HookForm(form);
    modTrayIcon::RemoveTrayIcon();
    modTrayIcon::RemoveTrayIcon();
    EXPECT_EQ(AskLimits(form).ptMinTrackSize.x, 800);
    modAutoSizeForm::UnhookForm(form);
    EXPECT_EQ(GetWindowLongPtrW(form, GWLP_WNDPROC), static_cast<LONG_PTR>(GetClassLongPtrW(form, GCLP_WNDPROC)))
        << "the window ends with its own procedure";
    // As the window loaded them, for the tests that follow.
    modAutoSizeForm::SetFormSizeLimits(form, 800 * 15, 600 * 15);
    modTrayIcon::AddTrayIcon(Form());
    EXPECT_TRUE(modTrayIcon::Hooked());
}

TEST(MainWindowCharts, TheMonitorFeedsBothChartsOnceATick) {
    StopTimers();
    ucDiagram& cpu = Form().ucDiagramCPU;
    ucDiagram& memory = Form().ucDiagramMemory;
    EXPECT_EQ(cpu.Max(), 110);
    EXPECT_EQ(memory.GridTickVertical(), 10);
    const long before = cpu.NextIndex();
    Form().sources.memoryStatus = [] { return std::pair<uint64_t, uint64_t>{1000ull << 20, 250ull << 20}; };
    Form().tmrMonitor_Timer();
    Form().tmrMonitor_Timer();
    Form().sources.memoryStatus = nullptr;
    ASSERT_EQ(cpu.NextIndex(), before + 2);
    EXPECT_EQ(cpu.Points()[static_cast<size_t>(before + 1)], Form().lastCpuPercent + 5);
    EXPECT_EQ(memory.Points()[static_cast<size_t>(memory.NextIndex() - 1)], 75);
    EXPECT_TRUE(cpu.SurfaceShown());
    StartTimers();
}
