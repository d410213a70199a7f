#pragma once
// Support of the download class: the sockets library, the one hidden window
// that turns socket notifications into calls of the owning object, and the
// registry of live download objects.
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

class clsDownload;

namespace modDownload {

extern bool WinsockStarted;
extern HWND SocketWindow;
extern WNDPROC SavedWindowProc;
// Non-owning: an object leaves the registry when it ends.
extern std::vector<clsDownload*> Downloads;
extern long SlotCount;
extern long LiveCount;

// Each connection gets its own notification message from this range, so a
// notification still queued for a closed socket never reaches the next
// connection that got the same socket number.
constexpr UINT kFirstSocketMessage = 0x401;
constexpr UINT kSocketMessageCount = 0x1000;
UINT NextSocketMessage();

bool StartWinsock(std::wstring& description);
void StopWinsock();
LRESULT CALLBACK SocketWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

void RegisterDownload(clsDownload* download);
void UnregisterDownload(clsDownload* download);
long FindDownloadBySocket(long socket);
long FindDownloadBySocket(long socket, UINT message);
long FindDownloadSlot(const clsDownload* download);
long FindFreeSlot();

std::wstring SplitFirstLine(std::wstring& text);

// Creates SocketWindow when there is none; false when that fails.
bool EnsureSocketWindow();

}  // namespace modDownload
