#pragma once
// The small VB-runtime vocabulary the program speaks: the message pump
// (DoEvents and its quit rule), the "提示" message box, App.Path / EXEName,
// the per-user settings store, twips and colour values.
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vb {

// ---- message pump --------------------------------------------------------
// Handles what is waiting when it is called, once: the posted messages queued
// before the call, then waiting input, painting and due timers.  Messages that
// the handlers post meanwhile wait for the next call, so one call never spins.
// A WM_QUIT met here is not swallowed: it is remembered and posted again, so
// the outermost loop ends the program.  Returns false once a quit is pending.
// Called from no handler and no other loop (a test's own loop), it is the
// outermost loop itself.
bool DoEvents();
bool QuitPending();
// The one place a message is dispatched (DoEvents, modal waits and the main
// loop): lets the registered filters (accelerators, dialog navigation) see it.
void DispatchOne(MSG& msg);
// Filters return true when they consumed the message.  The returned id removes it.
int AddMessageFilter(std::function<bool(MSG&)> filter);
void RemoveMessageFilter(int id);
// The outermost message loop; returns the quit code.
int RunMessageLoop();
// How many nested message loops (boxes, waits, DoEvents, a list refresh's
// pump) are running now.  Handlers that must not run inside another (a close)
// test it.
int NestedLoopDepth();
class NestedLoopScope {
public:
    NestedLoopScope();
    ~NestedLoopScope();
    NestedLoopScope(const NestedLoopScope&) = delete;
    NestedLoopScope& operator=(const NestedLoopScope&) = delete;
};
// Work that must not run inside a box, a wait or a handler (closing the
// window): remembered, and run by the outermost loop once every nested loop
// and handler has returned.  Run at once when called from the outermost loop.
void RunFromOutermostLoop(std::function<void()> action);
// True while such work waits: a wait with no end of its own (a server that
// never answers) gives up, so the outermost loop gets to run it.
bool OutermostWorkWaiting();

// ---- message boxes --------------------------------------------------------
// Every box of the tool goes through here.  Style is the MB_* flags; the
// result is IDYES, IDNO, IDOK ...  The owner is disabled while the box is up.
constexpr const wchar_t* kMsgTitle = L"提示";
int MsgBox(HWND owner, const std::wstring& text, UINT style, const std::wstring& title = kMsgTitle);

// ---- App -------------------------------------------------------------------
std::wstring AppPath();      // folder of the program file, no trailing "\"
std::wstring AppEXEName();   // program file name without extension
std::wstring CommandLineArgs();  // arguments after the program name, untrimmed
// The user's temporary folder, ending with "\", however long it is; every
// reader of the program takes it from here.  Empty when the system has none.
std::wstring TempPath();

// ---- per-user settings store ----------------------------------------------
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>, string values.
std::wstring GetSetting(const std::wstring& app, const std::wstring& section,
                        const std::wstring& key, const std::wstring& def = L"");
bool SaveSetting(const std::wstring& app, const std::wstring& section,
                 const std::wstring& key, const std::wstring& value);
std::vector<std::pair<std::wstring, std::wstring>> GetAllSettings(const std::wstring& app,
                                                                  const std::wstring& section);
bool DeleteSetting(const std::wstring& app, const std::wstring& section = L"",
                   const std::wstring& key = L"");

// ---- twips and colours ----------------------------------------------------
int TwipsPerPixelX();
int TwipsPerPixelY();
int TwipsToPixelsX(long twips);
int TwipsToPixelsY(long twips);
long PixelsToTwipsX(int pixels);
long PixelsToTwipsY(int pixels);

// OLE colour: values with the top bit set name a system colour by index
// (&H80000008 window text ...); others are RGB with red in the low byte.
constexpr unsigned long kSysWindowText = 0x80000008;
constexpr unsigned long kSysHighlight = 0x8000000D;
constexpr unsigned long kSysButtonText = 0x80000012;
constexpr unsigned long kSysActiveCaption = 0x80000002;
COLORREF TranslateColor(unsigned long oleColour);

// ---- working-set trim --------------------------------------------------------
// The tool ends most handlers by emptying its own working set.
void TrimWorkingSet();

}  // namespace vb
