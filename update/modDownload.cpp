#include "update/modDownload.h"

#include "update/DownloadCore.h"
#include "update/clsDownload.h"

namespace modDownload {

bool WinsockStarted = false;
HWND SocketWindow = nullptr;
WNDPROC SavedWindowProc = nullptr;
std::vector<clsDownload*> Downloads;
long SlotCount = 0;
long LiveCount = 0;

namespace {
UINT nextMessage = 0;
int dispatching = 0;  // depth of socket notifications being handled

void DestroySocketWindow() {
    if (!SocketWindow) return;
    HWND w = SocketWindow;
    SocketWindow = nullptr;
    if (SavedWindowProc) SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SavedWindowProc));
    SavedWindowProc = nullptr;
    DestroyWindow(w);
}
}  // namespace

UINT NextSocketMessage() {
    UINT m = kFirstSocketMessage + nextMessage;
    nextMessage = (nextMessage + 1) % kSocketMessageCount;
    return m;
}

bool StartWinsock(std::wstring& description) {
    if (WinsockStarted) return true;
    WSADATA data{};
    if (WSAStartup(0x0101, &data) != 0) return false;
    WinsockStarted = true;
    std::string text(data.szDescription);
    description.assign(text.begin(), text.end());
    return true;
}

void StopWinsock() {
    if (WSAIsBlocking()) WSACancelBlockingCall();
    WSACleanup();
    WinsockStarted = false;
}

LRESULT CALLBACK SocketWindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg < kFirstSocketMessage || msg >= kFirstSocketMessage + kSocketMessageCount) {
        // Everything else (among it log-off and shutdown queries) goes on as usual.
        if (SavedWindowProc) return CallWindowProcW(SavedWindowProc, hWnd, msg, wParam, lParam);
        return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
    long slot = FindDownloadBySocket(static_cast<long>(wParam), msg);
    if (slot >= 0) {
        // The strong reference keeps the object alive while its handlers run,
        // even when the holder lets go of it inside one of them.
        std::shared_ptr<clsDownload> keep = Downloads[slot]->Strong();
        if (keep) {
            ++dispatching;
            try {
                keep->ProcessMessage(WSAGETSELECTEVENT(lParam));
            } catch (...) {
                // Nothing may unwind through the window manager.
            }
            keep.reset();
            --dispatching;
        }
    }
    if (dispatching == 0 && LiveCount == 0) DestroySocketWindow();
    return 0;
}

bool EnsureSocketWindow() {
    if (SocketWindow) return true;
    HWND w = CreateWindowExW(0, L"STATIC", L"QLM_WINSOCK_SUBCLASS_LABEL", 0, 0, 0, 0, 0,
                             nullptr, nullptr, nullptr, nullptr);
    if (!w) return false;
    SavedWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SocketWindowProc)));
    SocketWindow = w;
    return true;
}

void RegisterDownload(clsDownload* download) {
    if (FindDownloadSlot(download) >= 0) return;
    long slot = FindFreeSlot();
    if (slot < 0) {
        Downloads.push_back(download);
        SlotCount = static_cast<long>(Downloads.size());
    } else {
        Downloads[slot] = download;
    }
    ++LiveCount;
}

void UnregisterDownload(clsDownload* download) {
    long slot = FindDownloadSlot(download);
    if (slot < 0) return;
    Downloads[slot] = nullptr;
    --LiveCount;
    // Inside a notification the window goes once the notification is done.
    if (LiveCount == 0 && dispatching == 0) DestroySocketWindow();
}

long FindDownloadBySocket(long socket) {
    for (long i = 0; i < SlotCount; ++i)
        if (Downloads[i] && Downloads[i]->SocketHandle() == socket) return i;
    return -1;
}

long FindDownloadBySocket(long socket, UINT message) {
    for (long i = 0; i < SlotCount; ++i)
        if (Downloads[i] && Downloads[i]->SocketHandle() == socket && Downloads[i]->SocketMessage() == message)
            return i;
    return -1;
}

long FindDownloadSlot(const clsDownload* download) {
    for (long i = 0; i < SlotCount; ++i)
        if (Downloads[i] == download) return i;
    return -1;
}

long FindFreeSlot() {
    for (long i = 0; i < SlotCount; ++i)
        if (!Downloads[i]) return i;
    return -1;
}

std::wstring SplitFirstLine(std::wstring& text) { return dlcore::SplitFirstLine(text); }

}  // namespace modDownload
