#pragma once
// Support for the Windows tests: temporary folders, the steerable child
// process, answering real message boxes, and pumping messages for a while.
#include <windows.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/win/Handle.h"

namespace testsupport {

std::wstring TestBinDir();  // folder of the running test executable

// A fresh folder under %TEMP% (or under `parent`), removed with everything in
// it at destruction.
class TempDir {
public:
    explicit TempDir(const std::wstring& prefix = L"morvix", const std::wstring& parent = L"");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// A TestChild that the code under test started, known by its identifier.
struct StartedElsewhere {
    DWORD pid;
};

// TestChild.exe (or a copy of it) started with arguments; ended at destruction
// with what it started.  Started here, it has no console, so no console host
// (which would hold the test's output open) outlives it.
class Child {
public:
    explicit Child(const std::wstring& args = L"", const std::wstring& exePath = L"");
    explicit Child(StartedElsewhere started);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    DWORD Pid() const { return pid_; }
    ULONGLONG Created() const { return created_; }
    HANDLE Process() const { return process_.get(); }
    // A process start under Wine takes milliseconds, but seconds on a loaded
    // machine: the default margin is generous.  False at once when it ended.
    // When it gives up, it says where the helper stands (Describe).
    bool WaitReady(DWORD ms = 30000);
    std::wstring Describe() const;
    LONG64 Counter() const;
    // A helper spinning with --threads: Frozen when its counter stands still
    // for ms; Runs once it moves, waited for up to ms (a loaded machine may
    // leave a running helper without the processor for a while).
    bool Frozen(DWORD ms = 200) const;
    bool Runs(DWORD ms = 10000) const;
    long TcpPort() const;
    long UdpPort() const;
    long TcpPeerPort() const;
    void RequestExit();             // sets the child's exit event
    bool WaitExit(DWORD ms = 10000);
    // Ends it and the processes it started (a console host given to it),
    // and waits for each.  An adopted child is waited for until it is ready
    // first: one ended while it starts may leave a console host behind.
    void Kill();

private:
    DWORD pid_ = 0;
    DWORD firstThread_ = 0;  // 0 for a process started elsewhere
    DWORD startError_ = 0;   // why CreateProcess failed
    bool adopted_ = false;
    win::Handle process_;
    ULONGLONG created_ = 0;
    win::Handle mapping_;
    void* view_ = nullptr;
};

std::wstring TestChildPath();
std::wstring TestChildDllPath();

// Answers the real message boxes that the code under test shows on this
// thread, recording each one.  Answers are taken in order; when they run out,
// the default answer is used.
struct BoxRecord {
    std::wstring title;
    std::wstring text;
    UINT icon = 0;  // MB_ICONINFORMATION, MB_ICONEXCLAMATION, MB_ICONQUESTION, MB_ICONERROR or 0
};
// How a failed assertion shows a box: title, text (UTF-8) and icon.
void PrintTo(const BoxRecord& box, std::ostream* os);
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(std::vector<int> answers = {}, int defaultAnswer = IDOK);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
    const std::vector<BoxRecord>& Boxes() const { return boxes_; }
    void Clear() { boxes_.clear(); }

    // Called by the hook; public for it only.
    void OnBox(HWND box);

private:
    std::vector<int> answers_;
    size_t next_ = 0;
    int default_;
    HHOOK hook_ = nullptr;
    std::vector<BoxRecord> boxes_;
};

// When the process was created (a file time); 0 when it cannot be asked.
ULONGLONG CreationTime(HANDLE process);
// The processes created by pid's process, which was created at `created`.
// Identifiers are reused, busily under a loaded suite: a process made by an
// earlier holder of pid is older than that, and is not listed (ending it
// would end another test's helper).
std::vector<DWORD> ChildProcessesOf(DWORD pid, ULONGLONG created);

// The number of kernel handles this process has open, counted by probing the
// handle values (GetProcessHandleCount answers 0 under Wine).
size_t CountOpenHandles();
// The number of GDI objects this process holds (icons hold some too): the
// system's count, or where it answers none (Wine) the handles whose low word
// GetObjectType knows.
size_t CountGdiObjects();

// The first descendant window of top with the control identifier id, or nullptr.
HWND ChildById(HWND top, int id);

// A visible message box ("#32770") of another process, waited for up to ms;
// with a text, only a box that says exactly that.
HWND WaitForBoxOf(DWORD pid, DWORD ms, const std::wstring& text = L"");
// A key pressed and released through the system's input queue, as the
// keyboard gives it (goes to the window in front).
void PressKey(WORD virtualKey);
// Clicks of the left button in the middle of a window through the system's
// input queue, where a second press becomes a double click and the system
// decides which window a click reaches.
void ClickMiddle(HWND window, int clicks = 1);

// Pumps messages until pred() is true or the time is up; returns pred().
bool PumpUntil(const std::function<bool()>& pred, DWORD ms);
void PumpFor(DWORD ms);

}  // namespace testsupport
