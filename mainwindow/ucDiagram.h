#pragma once
// The scrolling line chart: the most recent whole-number samples drawn over a
// grid.  Every redraw paints the whole chart on an off-screen surface
// (picHist, a memory bitmap 8 pixels wider than the control, drawn in twips);
// the control shows that surface from its ninth pixel column on, and paints it
// again from the kept bitmap whenever the system asks.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/vb/PropertyBag.h"

class ucDiagram {
public:
    static constexpr const wchar_t* kClassName = L"ucDiagram";

    ucDiagram() { UserControl_InitProperties(); }
    ~ucDiagram();
    ucDiagram(const ucDiagram&) = delete;
    ucDiagram& operator=(const ucDiagram&) = delete;

    // Places an instance on a container at a twips rectangle and loads it:
    // its properties are read from the bag, then it takes its first size.
    HWND Create(HWND parent, long left, long top, long width, long height, const vb::PropertyBag& bag, int id = 0);
    HWND Hwnd() const { return hwnd_; }

    // Adds one sample and redraws; a value above Max is ignored.
    void NextPoint(long value);
    // Redraws the chart from the buffer.
    void Refresh();

    // ---- properties: every assignment stores the value, applies what the
    // property applies, and reports the change to the container ----
    short Appearance() const { return appearance_; }
    void SetAppearance(short value);
    short DrawWidth() const { return drawWidth_; }
    void SetDrawWidth(short value);
    short GridTickHorizontal() const { return gridTickHorizontal_; }
    // Takes any number that rounds (halves to even) to a 16-bit integer; one
    // that does not raises run-time error 6 and leaves the property as it was.
    void SetGridTickHorizontal(double value);
    void SetGridTickHorizontal(const std::wstring& value);  // text that converts; else error 13
    short GridTickVertical() const { return gridTickVertical_; }
    void SetGridTickVertical(double value);
    void SetGridTickVertical(const std::wstring& value);
    long NumberOfPoints() const { return numberOfPoints_; }
    void SetNumberOfPoints(long value);
    unsigned long BackColor() const { return backColor_; }
    void SetBackColor(unsigned long value);
    unsigned long GridColour() const { return gridColour_; }
    void SetGridColour(unsigned long value);
    long Max() const { return max_; }
    void SetMax(long value);
    unsigned long ForeColor() const { return foreColor_; }
    void SetForeColor(unsigned long value);
    short BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(short value);

    // The container's property-changed notification (the property's name).
    std::function<void(const std::wstring&)> PropertyChanged;

    // ---- container events ----
    void UserControl_InitProperties();
    void UserControl_ReadProperties(const vb::PropertyBag& bag);
    void UserControl_WriteProperties(vb::PropertyBag& bag) const;
    void UserControl_Resize();

    // ---- what the chart computed, for the window's own checks ----
    short HorizontalStep() const { return step_; }             // twips between neighbouring points
    long HorizontalGridSpacing() const { return hGridSpacing_; }  // twips between horizontal lines
    long VerticalGridSpacing() const { return vGridSpacing_; }    // twips between vertical lines
    long VerticalFactor() const { return verticalFactor_; }       // twips per unit of value at the last redraw
    long NextIndex() const { return nextIndex_; }
    const std::vector<long>& Points() const { return points_; }
    // The surface: size in pixels and its pixels (0x00RRGGBB, top row first).
    SIZE SurfaceSize() const { return SIZE{surfaceWidth_, surfaceHeight_}; }
    uint32_t SurfacePixel(int x, int y) const;
    // True once the surface has been drawn and is what the control shows.
    bool SurfaceShown() const { return drawn_; }

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void Changed(const wchar_t* name) {
        if (PropertyChanged) PropertyChanged(name);
    }
    void ApplyBorder();
    void SizeSurface(int width, int height);
    void ReleaseSurface();
    void Redraw();
    void Line(double x1, double y1, double x2, double y2, COLORREF colour, int width);
    void Paint(HDC dc);
    long InnerWidthTwips() const;
    long InnerHeightTwips() const;

    HWND hwnd_ = nullptr;

    short appearance_ = 1, borderStyle_ = 1, drawWidth_ = 1;
    short gridTickHorizontal_ = 10, gridTickVertical_ = 25;
    long numberOfPoints_ = 100, max_ = 100;
    unsigned long backColor_ = 0x80000012, gridColour_ = 0x8000, foreColor_ = 0xFF00;

    std::vector<long> points_;  // indices 0 .. NumberOfPoints as read at load
    long nextIndex_ = 1;
    short step_ = 0;
    long hGridSpacing_ = 0, vGridSpacing_ = 0, verticalFactor_ = 0;

    // picHist: a memory bitmap, its background from BackColor as read at load.
    HDC surfaceDc_ = nullptr;
    HBITMAP surfaceBitmap_ = nullptr;
    HGDIOBJ surfaceOldBitmap_ = nullptr;
    uint32_t* surfaceBits_ = nullptr;
    int surfaceWidth_ = 0, surfaceHeight_ = 0;
    unsigned long surfaceBackColor_ = 0;
    int surfacePenWidth_ = 1;  // the width the next grid is drawn with
    bool drawn_ = false;
};
