// The chart control on a window of its own: the geometry of the main window's
// CPU chart, the drawn surface after sequences of samples (read from the
// chart's own bitmap), scrolling, the saved properties, and what the control
// paints when the system asks it to.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "mainwindow/ucDiagram.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

// An OLE colour (0x00BBGGRR) as a surface pixel (0x00RRGGBB).
uint32_t Pixel(unsigned long ole) { return ((ole & 0xFF) << 16) | (ole & 0xFF00) | ((ole >> 16) & 0xFF); }

vb::PropertyBag Design(long gridTickVertical, long max) {
    vb::PropertyBag bag;
    bag.WriteProperty(L"Appearance", 0, 1);
    bag.WriteProperty(L"BorderStyle", 0, 1);
    bag.WriteProperty(L"GridTickHorizontal", 7, 10);
    bag.WriteProperty(L"GridTickVertical", gridTickVertical, 25);
    bag.WriteProperty(L"BackColor", 0, static_cast<long>(0x80000012UL));
    bag.WriteProperty(L"GridColour", 0x808000, 0x8000);
    bag.WriteProperty(L"Max", max, 100);
    bag.WriteProperty(L"ForeColor", 0xFFFF80, 0xFF00);
    return bag;
}

template <class F>
long ErrorOf(F&& f) {
    try {
        f();
    } catch (const vb::Error& e) {
        return e.Number();
    }
    return 0;
}

constexpr uint32_t kBlack = 0, kFore = 0x80FFFF, kGrid = 0x008080;

class Chart : public ::testing::Test {
protected:
    void SetUp() override {
        if (vb::TwipsPerPixelX() != 15 || vb::TwipsPerPixelY() != 15) GTEST_SKIP() << "needs 96 dots per inch";
        host_ = CreateWindowExW(0, L"STATIC", L"chart host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                                0, 0, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(host_);
    }
    void TearDown() override {
        chart_.reset();
        if (host_) DestroyWindow(host_);
    }
    // The main window's CPU chart (or its memory chart) at its design size.
    ucDiagram& Make(long gridTickVertical = 11, long max = 110) {
        chart_ = std::make_unique<ucDiagram>();
        chart_->Create(host_, 0, 0, 3975, 2910, Design(gridTickVertical, max));
        return *chart_;
    }
    std::vector<uint32_t> Surface() const {
        std::vector<uint32_t> all;
        SIZE s = chart_->SurfaceSize();
        for (int y = 0; y < s.cy; ++y)
            for (int x = 0; x < s.cx; ++x) all.push_back(chart_->SurfacePixel(x, y));
        return all;
    }
    // What the control paints at a point of its own area (WM_PAINT's drawing).
    COLORREF Painted(int x, int y) {
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, 300, 220);
        HGDIOBJ old = SelectObject(dc, bmp);
        SendMessageW(chart_->Hwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        COLORREF c = GetPixel(dc, x, y);
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        return c;
    }
    HWND host_ = nullptr;
    std::unique_ptr<ucDiagram> chart_;
};

}  // namespace

TEST_F(Chart, WorkedExampleOfTheCpuChart) {
    ucDiagram& c = Make();
    EXPECT_EQ(c.SurfaceSize().cx, 273);  // 8 pixels wider than the control's 265
    EXPECT_EQ(c.SurfaceSize().cy, 194);
    EXPECT_EQ(c.HorizontalStep(), 42);
    EXPECT_EQ(c.HorizontalGridSpacing(), 291);
    EXPECT_EQ(c.VerticalGridSpacing(), 287);
    c.NextPoint(5);
    EXPECT_EQ(c.VerticalFactor(), 26);
    // Idle (5) at y = 105 * 26 = 2730 twips, 182 px; point 1 at x = 84 twips.
    EXPECT_EQ(c.SurfacePixel(6, 182), kFore);
    // The first segment starts from entry 0 (value 0) at x = one step: 42, 2860 twips.
    EXPECT_EQ(c.SurfacePixel(3, 191), kFore);
    c.NextPoint(105);  // at y = 130 twips, x = 126 twips
    EXPECT_EQ(c.SurfacePixel(8, 9), kFore);
    // Vertical grid lines every 287 twips (19, 38 ... px), background between.
    EXPECT_EQ(c.SurfacePixel(19, 100), kGrid);
    EXPECT_EQ(c.SurfacePixel(38, 60), kGrid);
    // Horizontal lines every 291 twips up from 2910: 2619 twips is row 175.
    EXPECT_EQ(c.SurfacePixel(150, 175), kGrid);
    EXPECT_EQ(c.SurfacePixel(100, 100), kBlack);
}

TEST_F(Chart, FreshInstanceShowsOnlyItsBackground) {
    ucDiagram& c = Make();
    EXPECT_FALSE(c.SurfaceShown());
    EXPECT_EQ(c.Points()[0], 0);
    EXPECT_EQ(c.Points()[1], -1);
    EXPECT_EQ(Painted(5, 5), RGB(0, 0, 0));
    c.SetBackColor(0x0000FF);  // red: the control's own background only
    EXPECT_EQ(Painted(5, 5), RGB(255, 0, 0));
    c.Refresh();
    EXPECT_TRUE(c.SurfaceShown());
    EXPECT_EQ(c.SurfacePixel(100, 100), kBlack) << "the chart area keeps the colour read at load";
    // The control shows the surface from its ninth pixel column on.
    EXPECT_EQ(Painted(19 - 8, 100), RGB(0, 128, 128));
}

TEST_F(Chart, TopEdgeNegativeSamplesAndValuesAboveMax) {
    ucDiagram& c = Make(10, 100);  // the memory chart: k = round(2910 / 100) = 29
    c.NextPoint(100);
    EXPECT_EQ(c.VerticalFactor(), 29);
    EXPECT_EQ(c.SurfacePixel(6, 0), kFore) << "Max lies on the top edge";
    const auto before = Surface();
    c.NextPoint(101);
    EXPECT_EQ(c.NextIndex(), 2);
    EXPECT_EQ(Surface(), before) << "a sample above Max changes nothing";

    c.NextPoint(-1);  // ends the curve here
    c.NextPoint(50);  // point 3 at x = 168 twips, y = 1450 twips (11, 97 px)
    EXPECT_EQ(c.Points()[2], -1);
    EXPECT_EQ(c.Points()[3], 50);
    EXPECT_NE(c.SurfacePixel(11, 97), kFore) << "nothing is drawn after a negative sample";
    EXPECT_EQ(c.SurfacePixel(6, 0), kFore);
}

TEST_F(Chart, FullBufferScrollsOneStepPerSample) {
    ucDiagram& c = Make(10, 100);
    for (long v = 1; v <= 100; ++v) c.NextPoint(v % 2 ? 20 : 80);
    EXPECT_EQ(c.NextIndex(), 101);
    EXPECT_EQ(c.Points()[100], 80);
    const auto full = Surface();
    c.NextPoint(50);
    EXPECT_EQ(c.NextIndex(), 101) << "the buffer stays full";
    EXPECT_EQ(c.Points()[0], 20) << "the oldest sample dropped, its successor is the start";
    EXPECT_EQ(c.Points()[1], 80);
    EXPECT_EQ(c.Points()[99], 80);
    EXPECT_EQ(c.Points()[100], 50);
    // The zig-zag moved one step left: x = 42 (i + 1) twips, so point 2 (80,
    // y = 580 twips, 39 px) was at 126 twips (8 px) and is now point 1 at 84 (6 px).
    EXPECT_EQ(full[39 * 273 + 8], kFore);
    EXPECT_EQ(c.SurfacePixel(6, 39), kFore);
    EXPECT_NE(c.SurfacePixel(8, 39), kFore);
    c.NextPoint(60);
    EXPECT_EQ(c.Points()[99], 50);
    EXPECT_EQ(c.Points()[100], 60);
}

TEST_F(Chart, RepaintsFromItsSurfaceAfterBeingCovered) {
    ucDiagram& c = Make();
    for (long v : {5L, 105L, 55L}) c.NextPoint(v);
    UpdateWindow(host_);
    // Covered and uncovered: the system asks for a repaint, nothing new is sampled.
    RECT r{0, 0, 200, 150};
    InvalidateRect(c.Hwnd(), &r, TRUE);
    ValidateRect(host_, nullptr);
    UpdateWindow(c.Hwnd());
    HDC dc = GetDC(c.Hwnd());
    for (POINT p : {POINT{8, 9}, POINT{19, 100}, POINT{100, 100}}) {
        uint32_t s = c.SurfacePixel(p.x, p.y);
        EXPECT_EQ(GetPixel(dc, p.x - 8, p.y), RGB((s >> 16) & 0xFF, (s >> 8) & 0xFF, s & 0xFF))
            << p.x << "," << p.y;
    }
    ReleaseDC(c.Hwnd(), dc);
}

TEST_F(Chart, PropertiesSavedAndReadBack) {
    ucDiagram& c = Make();
    std::vector<std::wstring> changed;
    c.PropertyChanged = [&](const std::wstring& name) { changed.push_back(name); };
    c.SetGridTickHorizontal(7.5);  // halves to even
    EXPECT_EQ(c.GridTickHorizontal(), 8);
    c.SetGridTickVertical(L" 6.5 ");
    EXPECT_EQ(c.GridTickVertical(), 6);
    EXPECT_EQ(ErrorOf([&] { c.SetGridTickHorizontal(L"abc"); }), 13);
    EXPECT_EQ(ErrorOf([&] { c.SetGridTickVertical(40000.0); }), 6);
    EXPECT_EQ(c.GridTickVertical(), 6);
    EXPECT_EQ(changed, (std::vector<std::wstring>{L"GridTickHorizontal", L"GridTickVertical"}));

    // The grid follows the new setting only at the next resize.
    EXPECT_EQ(c.VerticalGridSpacing(), 287);
    SetWindowPos(c.Hwnd(), nullptr, 0, 0, 300, 194, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(c.HorizontalStep(), 47);          // round(4620 / 100) + 1
    EXPECT_EQ(c.VerticalGridSpacing(), 46 * 8);  // round(46.2) * 8

    vb::PropertyBag saved, none;
    c.UserControl_WriteProperties(saved);
    EXPECT_FALSE(saved.Contains(L"DrawWidth")) << "a default is not stored";
    EXPECT_EQ(saved.Count(), 8u);
    ucDiagram again, fresh;
    again.UserControl_ReadProperties(saved);
    vb::PropertyBag back;
    again.UserControl_WriteProperties(back);
    for (const wchar_t* name : {L"Appearance", L"BorderStyle", L"GridTickHorizontal", L"GridTickVertical",
                                L"BackColor", L"GridColour", L"Max", L"ForeColor"})
        EXPECT_EQ(back.ReadProperty(name, -7), saved.ReadProperty(name, -8)) << name;
    EXPECT_EQ(again.Points().size(), 101u);
    fresh.UserControl_WriteProperties(none);
    EXPECT_EQ(none.Count(), 0u);
}

TEST(ChartDefaults, NewReadAndSavedInstancesUseTheDesignDefaults) {
    using Get = long (*)(const ucDiagram&);
    const struct {
        const wchar_t* name;
        long value;
        Get get;
    } defaults[] = {
        {L"Appearance", 1, [](const ucDiagram& c) -> long { return c.Appearance(); }},
        {L"BorderStyle", 1, [](const ucDiagram& c) -> long { return c.BorderStyle(); }},
        {L"DrawWidth", 1, [](const ucDiagram& c) -> long { return c.DrawWidth(); }},
        {L"GridTickHorizontal", 10, [](const ucDiagram& c) -> long { return c.GridTickHorizontal(); }},
        {L"GridTickVertical", 25, [](const ucDiagram& c) -> long { return c.GridTickVertical(); }},
        {L"NumberOfPoints", 100, [](const ucDiagram& c) { return c.NumberOfPoints(); }},
        {L"BackColor", static_cast<long>(0x80000012UL), [](const ucDiagram& c) { return long(c.BackColor()); }},
        {L"GridColour", 0x8000, [](const ucDiagram& c) { return long(c.GridColour()); }},
        {L"Max", 100, [](const ucDiagram& c) { return c.Max(); }},
        {L"ForeColor", 0xFF00, [](const ucDiagram& c) { return long(c.ForeColor()); }},
    };
    ucDiagram fresh, read, other;
    read.UserControl_ReadProperties(vb::PropertyBag{});
    vb::PropertyBag changed, saved, none;
    for (const auto& d : defaults) changed.WriteProperty(d.name, d.value + 1, d.value);
    other.UserControl_ReadProperties(changed);
    other.UserControl_WriteProperties(saved);
    read.UserControl_WriteProperties(none);
    for (const auto& d : defaults) {
        EXPECT_EQ(d.get(fresh), d.value) << d.name;
        EXPECT_EQ(d.get(read), d.value) << d.name << " read from an empty bag";
        EXPECT_EQ(d.get(other), d.value + 1) << d.name << " read under its name";
        EXPECT_EQ(saved.ReadProperty(d.name, d.value), d.value + 1) << d.name << " saved under its name";
    }
    EXPECT_EQ(none.Count(), 0u) << "values at their defaults are not stored";
}
