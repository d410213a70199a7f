#include "platform/vb/Runtime.h"

#include <psapi.h>
#include <shellapi.h>

#include <map>

#include "platform/win/Handle.h"

namespace vb {

namespace {

bool g_quitPending = false;
int g_nestedDepth = 0;
int g_quitCode = 0;
std::map<int, std::function<bool(MSG&)>>& Filters() {
    static std::map<int, std::function<bool(MSG&)>> filters;
    return filters;
}

}  // namespace

void DispatchOne(MSG& msg) {
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
NestedLoopScope::~NestedLoopScope() { --g_nestedDepth; }

bool DoEvents() {
    if (g_quitPending) return false;
    NestedLoopScope nested;
    MSG msg;
    // Only what is pending now: messages posted by the handlers we run wait
    // for the next call, so one call never spins for ever.
    for (int budget = 512; budget > 0 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); --budget) {
        if (msg.message == WM_QUIT) {
            g_quitPending = true;
            g_quitCode = static_cast<int>(msg.wParam);
            ::PostQuitMessage(g_quitCode);
            return false;
        }
        DispatchOne(msg);
    }
    return true;
}

bool QuitPending() { return g_quitPending; }

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
