#pragma once
// A plain top-level window holding lvwPorts with its five columns, and ways to
// read what the control itself shows.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "netports/modProcessPorts.h"
#include "platform/ui/ListView.h"

namespace portstest {

class PortsWindow {
public:
    PortsWindow() {
        static const wchar_t* kClass = L"MorvixPortsTestWindow";
        static bool registered = [] {
            INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
            InitCommonControlsEx(&icc);
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kClass;
            return RegisterClassW(&wc) != 0;
        }();
        (void)registered;
        window_ = CreateWindowExW(0, kClass, L"端口监听", WS_OVERLAPPEDWINDOW, 0, 0, 900, 600, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        RECT r{8, 8, 880, 560};
        lvw.Create(window_, 1, r);
        modProcessPorts::AddPortColumns(lvw);
    }
    ~PortsWindow() { DestroyWindow(window_); }
    PortsWindow(const PortsWindow&) = delete;
    PortsWindow& operator=(const PortsWindow&) = delete;

    // The text the control shows in a row (1-based) under a column (1-based).
    std::wstring Shown(int index, int column) const {
        wchar_t text[512] = {};
        ListView_GetItemText(lvw.Hwnd(), index - 1, column - 1, text, 512);
        return text;
    }
    // The first row with this protocol and port (SubItems(2)), 0 when none.
    int Find(const std::wstring& protocol, long port) const {
        for (int i = 1; i <= lvw.Count(); ++i)
            if (lvw.Text(i) == protocol && lvw.SubItem(i, 2) == std::to_wstring(port)) return i;
        return 0;
    }
    int ControlRows() const { return ListView_GetItemCount(lvw.Hwnd()); }

    HWND Window() const { return window_; }
    ui::ListView lvw;

private:
    HWND window_ = nullptr;
};

inline std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

inline std::wstring OwnExePath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

}  // namespace portstest
