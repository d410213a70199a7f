#include "platform/vb/Runtime.h"

#include <psapi.h>
#include <shellapi.h>

#include <map>
#include <optional>
#include <set>

#include "platform/win/Handle.h"

namespace vb {

namespace {

bool g_quitPending = false;
int g_nestedDepth = 0;
int g_dispatchDepth = 0;  // DispatchOne calls in progress
int g_quitCode = 0;
std::map<int, std::function<bool(MSG&)>>& Filters() {
    static std::map<int, std::function<bool(MSG&)>> filters;
    return filters;
}
std::vector<std::function<void()>>& Deferred() {
    static std::vector<std::function<void()>> deferred;
    return deferred;
}

// The pump's own message-only window.  DoEvents posts a numbered mark to it
// and stops taking posted messages once the mark has been handled, by itself
// or by any loop inside it (a box's loop dispatches it too).  A wake-up tells
// the outermost loop that deferred work waits.
constexpr UINT kPumpMark = WM_APP + 0x3F0;
constexpr UINT kWakeOutermost = WM_APP + 0x3F1;
unsigned g_marksPosted = 0;
unsigned g_marksSeen = 0;

bool AtOutermostLoop(int dispatchesAllowed) { return g_nestedDepth == 0 && g_dispatchDepth <= dispatchesAllowed; }

void RunDeferred() {
    while (!Deferred().empty()) {
        auto work = std::move(Deferred());
        Deferred().clear();
        for (auto& action : work)
            if (action) action();
    }
}

LRESULT CALLBACK PumpWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kPumpMark) {
        if (static_cast<unsigned>(wParam) > g_marksSeen) g_marksSeen = static_cast<unsigned>(wParam);
        return 0;
    }
    if (msg == kWakeOutermost) {
        // Inside a box or a handler nothing runs; the end of that loop wakes again.
        if (AtOutermostLoop(1)) RunDeferred();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND PumpWindow() {
    thread_local HWND window = nullptr;
    if (window && IsWindow(window)) return window;
    static const wchar_t* kClass = L"MorvixPumpWindow";
    WNDCLASSEXW wc{sizeof wc};
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), kClass, &wc)) {
        wc = WNDCLASSEXW{sizeof wc};
        wc.lpfnWndProc = PumpWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);
    }
    window = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    return window;
}

void WakeOutermostLoop() {
    if (HWND w = PumpWindow()) PostMessageW(w, kWakeOutermost, 0, 0);
}

// False when the message was WM_QUIT: remembered and posted again.
bool Handle(MSG& msg) {
    if (msg.message == WM_QUIT) {
        g_quitPending = true;
        g_quitCode = static_cast<int>(msg.wParam);
        ::PostQuitMessage(g_quitCode);
        return false;
    }
    DispatchOne(msg);
    return true;
}

}  // namespace

void DispatchOne(MSG& msg) {
    ++g_dispatchDepth;
    struct Leave {
        ~Leave() {
            --g_dispatchDepth;
            // Back in the outermost loop: work deferred by the handler runs now.
            if (AtOutermostLoop(0) && !Deferred().empty()) RunDeferred();
        }
    } leave;
    // Copy: a filter may add or remove filters while it runs.
    auto filters = Filters();
    for (auto& [id, filter] : filters)
        if (filter && filter(msg)) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

int AddMessageFilter(std::function<bool(MSG&)> filter) {
    static int next = 0;
    Filters()[++next] = std::move(filter);
    return next;
}

void RemoveMessageFilter(int id) { Filters().erase(id); }

int NestedLoopDepth() { return g_nestedDepth; }
NestedLoopScope::NestedLoopScope() { ++g_nestedDepth; }
NestedLoopScope::~NestedLoopScope() {
    // The last nested loop has ended inside a handler (or a test's own code):
    // the outermost loop is told once that deferred work waits.
    if (--g_nestedDepth == 0 && !Deferred().empty()) WakeOutermostLoop();
}

void RunFromOutermostLoop(std::function<void()> action) {
    Deferred().push_back(std::move(action));
    if (AtOutermostLoop(0)) RunDeferred();
    else if (g_nestedDepth == 0) WakeOutermostLoop();
}

bool DoEvents() {
    if (g_quitPending) return false;
    // Called by no handler and no loop, this is the outermost loop itself.
    std::optional<NestedLoopScope> nested;
    if (!AtOutermostLoop(0)) nested.emplace();
    MSG msg;

    // 1. The posted messages that wait now, up to our mark.  Without a mark
    //    (no window) the budget ends the round.
    const unsigned mark = ++g_marksPosted;
    HWND pump = PumpWindow();
    const bool marked = pump && PostMessageW(pump, kPumpMark, mark, 0);
    for (int budget = 4096; budget > 0 && (!marked || g_marksSeen < mark); --budget) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) break;
        if (!Handle(msg)) return false;
    }
    // 2. Keyboard and mouse input that waits.
    for (int budget = 256; budget > 0 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT); --budget)
        if (!Handle(msg)) return false;
    // 3. Painting.
    for (int budget = 64; budget > 0 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT); --budget)
        if (!Handle(msg)) return false;
    // 4. Timers that are due, each once.
    std::set<std::pair<HWND, WPARAM>> ticked;
    for (UINT timerMessage : {UINT(WM_TIMER), UINT(0x0118) /* WM_SYSTIMER */}) {
        for (int budget = 64; budget > 0 && ::PeekMessageW(&msg, nullptr, timerMessage, timerMessage, PM_REMOVE);
             --budget) {
            const bool again = !ticked.insert({msg.hwnd, msg.wParam}).second;
            if (!Handle(msg)) return false;
            if (again) break;  // due again already: the next call takes it
        }
    }
    // 5. A quit comes only once the posted messages are gone: ask for it alone.
    if (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return Handle(msg);
    return true;
}

bool QuitPending() { return g_quitPending; }
bool OutermostWorkWaiting() { return !Deferred().empty(); }

int RunMessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchOne(msg);
    return static_cast<int>(msg.wParam);
}

int MsgBox(HWND owner, const std::wstring& text, UINT style, const std::wstring& title) {
    // A quit requested meanwhile is honoured by the outer loop; the box itself
    // must still be answerable, so it is shown even then.
    NestedLoopScope nested;
    return ::MessageBoxW(owner, text.c_str(), title.c_str(), style | MB_SETFOREGROUND);
}

std::wstring AppPath() {
    std::wstring buffer(32768, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    auto slash = buffer.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : buffer.substr(0, slash);
}

std::wstring AppEXEName() {
    std::wstring buffer(32768, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    auto slash = buffer.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? buffer : buffer.substr(slash + 1);
    auto dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring TempPath() {
    // Asked for its length first: a fixed buffer would come back empty for a
    // long TEMP, and the files would land in the current folder instead.
    DWORD needed = ::GetTempPathW(0, nullptr);
    if (needed == 0) return L"";
    std::wstring buffer(needed, L'\0');
    DWORD n = ::GetTempPathW(needed, buffer.data());
    if (n == 0 || n >= needed) return L"";
    buffer.resize(n);
    if (buffer.back() != L'\\') buffer += L'\\';
    return buffer;
}

std::wstring CommandLineArgs() {
    // Like VB's Command(): what follows the program name, with the one blank
    // that separates them removed and nothing else touched.
    const wchar_t* p = ::GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    if (*p == L' ' || *p == L'\t') ++p;
    return p;
}

namespace {

std::wstring SettingsKey(const std::wstring& app, const std::wstring& section) {
    std::wstring key = L"Software\\VB and VBA Program Settings\\" + app;
    if (!section.empty()) key += L"\\" + section;
    return key;
}

}  // namespace

std::wstring GetSetting(const std::wstring& app, const std::wstring& section,
                        const std::wstring& key, const std::wstring& def) {
    win::RegKey k;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(app, section).c_str(), 0, KEY_QUERY_VALUE,
                        k.put()) != ERROR_SUCCESS)
        return def;
    DWORD type = 0, bytes = 0;
    if (::RegQueryValueExW(k.get(), key.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return def;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(k.get(), key.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(value.data()), &bytes) != ERROR_SUCCESS)
        return def;
    value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
    return value;
}

bool SaveSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value) {
    win::RegKey k;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(app, section).c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, k.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(k.get(), key.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::vector<std::pair<std::wstring, std::wstring>> GetAllSettings(const std::wstring& app,
                                                                  const std::wstring& section) {
    std::vector<std::pair<std::wstring, std::wstring>> all;
    win::RegKey k;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(app, section).c_str(), 0, KEY_QUERY_VALUE,
                        k.put()) != ERROR_SUCCESS)
        return all;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, type = 0;
        if (::RegEnumValueW(k.get(), i, name, &nameLen, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring key(name, nameLen);
        all.emplace_back(key, GetSetting(app, section, key));
    }
    return all;
}

bool DeleteSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key) {
    if (!key.empty()) {
        win::RegKey k;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(app, section).c_str(), 0, KEY_SET_VALUE,
                            k.put()) != ERROR_SUCCESS)
            return false;
        return ::RegDeleteValueW(k.get(), key.c_str()) == ERROR_SUCCESS;
    }
    return ::RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey(app, section).c_str()) == ERROR_SUCCESS;
}

namespace {

int QueryScreenDpi(int axis) {
    HDC dc = ::GetDC(nullptr);
    int dpi = dc ? ::GetDeviceCaps(dc, axis) : 96;
    if (dc) ::ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

// The screen's dots per inch are fixed for the session: asked once (every
// twips conversion needs them, hundreds of times in a chart's redraw).
int ScreenDpi(int axis) {
    static const int x = QueryScreenDpi(LOGPIXELSX), y = QueryScreenDpi(LOGPIXELSY);
    return axis == LOGPIXELSX ? x : y;
}

}  // namespace

int TwipsPerPixelX() { return 1440 / ScreenDpi(LOGPIXELSX); }
int TwipsPerPixelY() { return 1440 / ScreenDpi(LOGPIXELSY); }
int TwipsToPixelsX(long twips) { return ::MulDiv(twips, ScreenDpi(LOGPIXELSX), 1440); }
int TwipsToPixelsY(long twips) { return ::MulDiv(twips, ScreenDpi(LOGPIXELSY), 1440); }
long PixelsToTwipsX(int pixels) { return ::MulDiv(pixels, 1440, ScreenDpi(LOGPIXELSX)); }
long PixelsToTwipsY(int pixels) { return ::MulDiv(pixels, 1440, ScreenDpi(LOGPIXELSY)); }

COLORREF TranslateColor(unsigned long oleColour) {
    if (oleColour & 0x80000000UL) return ::GetSysColor(static_cast<int>(oleColour & 0xFF));
    return static_cast<COLORREF>(oleColour & 0xFFFFFF);
}

void TrimWorkingSet() {
    ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

}  // namespace vb
