#pragma once
// The window base and the small control vocabulary the windows are built from.
// Positions are given in twips relative to the container, as designed.
#include <windows.h>

#include <string>

namespace ui {

// A top-level window object: registers its class on demand, keeps `this` from
// WM_NCCREATE on, and hands every message to WndProc.
class Form {
public:
    Form() = default;
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND Hwnd() const { return hwnd_; }
    static Form* FromHwnd(HWND hwnd);

protected:
    // Creates the window; width and height in pixels of the outer frame.
    bool CreateForm(const wchar_t* className, const std::wstring& caption, DWORD style, DWORD exStyle,
                    int width, int height, HICON icon = nullptr, HMENU menu = nullptr);
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// The dialog font of the tool: "宋体" 9 pt (Wine maps it to a CJK font).
HFONT DefaultFont();

// Creates a child control at a twips rectangle and gives it the default font.
HWND CreateControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
                   long left, long top, long width, long height, int id = 0, DWORD exStyle = 0);

// A plain container ("picture box"): passes WM_COMMAND, WM_NOTIFY, colour and
// draw requests of its children on to its top-level window, so one form
// handles every control it owns whatever box the control sits in.
HWND CreateContainer(HWND parent, long left, long top, long width, long height, int id = 0,
                     bool visible = true, DWORD exStyle = 0);

// A frame: a container with a group-box edge and caption, holding controls
// placed relative to it.  Setting its text (SetText) rewrites the caption.
HWND CreateFrame(HWND parent, const std::wstring& caption, long left, long top, long width, long height, int id = 0);

// Moves a control to a twips rectangle within its container.
void MoveControl(HWND control, long left, long top, long width, long height);
RECT ControlRectTwips(HWND control);  // left, top, right, bottom in twips within its parent

// Text colour of a label or check box as an OLE colour (system colours included),
// applied through WM_CTLCOLORSTATIC by the form and the containers.
void SetForeColor(HWND control, unsigned long oleColour);
unsigned long GetForeColor(HWND control);
void SetBackColor(HWND control, unsigned long oleColour);
// For WM_CTLCOLORSTATIC / WM_CTLCOLORBTN: returns the brush, or nullptr when
// the control has no colours of ours.
HBRUSH HandleCtlColor(HDC dc, HWND control);

std::wstring GetText(HWND control);
void SetText(HWND control, const std::wstring& text);

// Check boxes: Value 0 or 1.
int GetCheck(HWND checkBox);
void SetCheckState(HWND checkBox, int value);

}  // namespace ui
