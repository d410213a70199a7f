#pragma once
// A picture box that keeps what was drawn on it: drawing goes into a memory
// bitmap the size of the box, and painting copies that bitmap to the screen,
// so a picture survives being covered, hidden and shown again.
#include <windows.h>

namespace ui {

// A borderless box at a twips rectangle, filled with the back colour (an OLE
// colour) until something is drawn.
HWND CreatePictureBox(HWND parent, long left, long top, long width, long height, int id, unsigned long backColour);

// The memory DC to draw on (owned by the box; valid until it is resized or
// destroyed), or nullptr when the window is no picture box.  Drawing shows at
// the next paint: call Refresh.
HDC PictureDC(HWND box);
void RefreshPicture(HWND box);

}  // namespace ui
