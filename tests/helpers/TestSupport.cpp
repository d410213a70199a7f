#include "tests/helpers/TestSupport.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstdio>

#include "platform/win/Text.h"
#include "tests/helpers/TestChildShared.h"

namespace testsupport {

std::wstring TestBinDir() {
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    std::wstring path(buffer, n);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring TestChildPath() { return TestBinDir() + L"\\TestChild.exe"; }
std::wstring TestChildDllPath() { return TestBinDir() + L"\\TestChildDll.dll"; }

TempDir::TempDir(const std::wstring& prefix, const std::wstring& parent) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = (parent.empty() ? std::wstring(temp) : parent + L"\\") + prefix + L"_" +
            std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount()) + L"_" +
            std::to_wstring(++counter);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Child::Child(const std::wstring& args, const std::wstring& exePath) {
    std::wstring exe = exePath.empty() ? TestChildPath() : exePath;
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    // Detached: a console program given a console of its own gets a console
    // host process too, which one ended while it starts leaves behind.
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &si, &pi)) {
        startError_ = GetLastError();
        return;
    }
    CloseHandle(pi.hThread);
    process_.reset(pi.hProcess);
    pid_ = pi.dwProcessId;
    firstThread_ = pi.dwThreadId;
    created_ = CreationTime(process_.get());
}

Child::Child(StartedElsewhere started)
    : pid_(started.pid),
      adopted_(true),
      process_(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, started.pid)),
      created_(CreationTime(process_.get())) {
    if (!process_) {
        startError_ = GetLastError();
        pid_ = 0;
    }
}

Child::~Child() {
    Kill();
    if (view_) UnmapViewOfFile(view_);
}

bool Child::WaitReady(DWORD ms) {
    if (!process_) {
        std::fprintf(stderr, "TestChild was not started: error %lu\n", static_cast<unsigned long>(startError_));
        return false;
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (!view_) {
            mapping_.reset(OpenFileMappingW(FILE_MAP_READ, FALSE, TestChildSharedName(pid_).c_str()));
            if (mapping_) view_ = MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0);
        }
        if (view_ && static_cast<TestChildShared*>(view_)->ready) return true;
        if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_.get(), &code);
            std::fprintf(stderr, "TestChild %lu ended before it was ready (exit code %lu)\n",
                         static_cast<unsigned long>(pid_), static_cast<unsigned long>(code));
            return false;
        }
        Sleep(10);
    }
    std::fprintf(stderr, "TestChild %lu not ready after %lu ms: %s\n", static_cast<unsigned long>(pid_),
                 static_cast<unsigned long>(ms), win::ToUtf8(Describe()).c_str());
    return false;
}

// Where a helper that never became ready stands: alive or ended, its threads
// (the first one's suspend count) and the modules it has loaded.
std::wstring Child::Describe() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    std::wstring out = code == STILL_ACTIVE ? L"alive" : L"ended with exit code " + std::to_wstring(code);
    out += view_ ? L", its shared memory open" : L", no shared memory yet";
    std::vector<DWORD> threads;
    win::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 t{sizeof t};
    for (BOOL ok = Thread32First(snap.get(), &t); ok; ok = Thread32Next(snap.get(), &t))
        if (t.th32OwnerProcessID == pid_) threads.push_back(t.th32ThreadID);
    out += L"; " + std::to_wstring(threads.size()) + L" threads";
    DWORD first = firstThread_ ? firstThread_ : threads.empty() ? 0 : threads.front();
    win::Handle thread(first ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, first) : nullptr);
    DWORD count = thread ? SuspendThread(thread.get()) : static_cast<DWORD>(-1);
    if (count != static_cast<DWORD>(-1)) {
        ResumeThread(thread.get());
        out += L", the first (" + std::to_wstring(first) + L") suspended " + std::to_wstring(count) + L" times";
    } else {
        out += L", the first (" + std::to_wstring(first) + L") not open";
    }
    out += L"; modules:";
    win::FileHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid_));
    MODULEENTRY32W m{sizeof m};
    for (BOOL ok = Module32FirstW(modules.get(), &m); ok; ok = Module32NextW(modules.get(), &m))
        out += L" " + std::wstring(m.szModule);
    return out;
}

LONG64 Child::Counter() const { return view_ ? static_cast<TestChildShared*>(view_)->counter : -1; }
bool Child::Frozen(DWORD ms) const {
    LONG64 a = Counter();
    Sleep(ms);
    return Counter() == a;
}

bool Child::Runs(DWORD ms) const {
    LONG64 a = Counter();
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10))
        if (Counter() != a) return true;
    return false;
}

long Child::TcpPort() const { return view_ ? static_cast<TestChildShared*>(view_)->tcpPort : 0; }
long Child::UdpPort() const { return view_ ? static_cast<TestChildShared*>(view_)->udpPort : 0; }
long Child::TcpPeerPort() const { return view_ ? static_cast<TestChildShared*>(view_)->tcpPeerPort : 0; }

void Child::RequestExit() {
    win::Handle e(OpenEventW(EVENT_MODIFY_STATE, FALSE, TestChildExitEventName(pid_).c_str()));
    if (e) SetEvent(e.get());
}

bool Child::WaitExit(DWORD ms) { return process_ && WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }

void Child::Kill() {
    if (!process_ || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) return;
    // Once ready, whatever its start-up began (a console host) is running and listed.
    if (adopted_) WaitReady();
    std::vector<win::Handle> started;
    for (DWORD pid : ChildProcessesOf(pid_, Created()))
        started.emplace_back(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
    for (win::Handle& h : started) {
        TerminateProcess(h.get(), 1);
        WaitForSingleObject(h.get(), 10000);
    }
}

ULONGLONG CreationTime(HANDLE process) {
    FILETIME created{}, exited, kernel, user;
    if (!process || !GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::vector<DWORD> ChildProcessesOf(DWORD pid, ULONGLONG created) {
    std::vector<DWORD> pids;
    win::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W e{sizeof e};
    for (BOOL ok = Process32FirstW(snap.get(), &e); ok; ok = Process32NextW(snap.get(), &e)) {
        if (e.th32ParentProcessID != pid || e.th32ProcessID == pid) continue;
        win::Handle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID));
        if (CreationTime(h.get()) >= created) pids.push_back(e.th32ProcessID);
    }
    return pids;
}

namespace {

thread_local MessageBoxAnswerer* t_answerer = nullptr;

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_answerer) {
        HWND w = reinterpret_cast<HWND>(wParam);
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        if (std::wstring(cls) == L"#32770") t_answerer->OnBox(w);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::wstring WindowText(HWND w) {
    int n = GetWindowTextLengthW(w);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(w, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

UINT IconOf(HWND box) {
    HWND icon = GetDlgItem(box, 1088);
    if (!icon) return 0;
    HICON h = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    if (!h) return 0;
    struct { LPCWSTR id; UINT flag; } known[] = {
        {IDI_INFORMATION, MB_ICONINFORMATION}, {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
        {IDI_QUESTION, MB_ICONQUESTION}, {IDI_ERROR, MB_ICONERROR}};
    for (auto& k : known)
        if (LoadIconW(nullptr, k.id) == h) return k.flag;
    return 0xFFFFFFFF;  // an icon, but not one of the four
}

}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<int> answers, int defaultAnswer)
    : answers_(std::move(answers)), default_(defaultAnswer) {
    t_answerer = this;
    hook_ = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (t_answerer == this) t_answerer = nullptr;
}

void MessageBoxAnswerer::OnBox(HWND box) {
    // A box that loses and regains activation (a busy window manager) is one
    // box: it gets one answer, never the next box's.
    const wchar_t* seen = L"MorvixTest.Answered";
    if (GetPropW(box, seen)) return;
    SetPropW(box, seen, reinterpret_cast<HANDLE>(1));
    BoxRecord r;
    r.title = WindowText(box);
    r.text = WindowText(GetDlgItem(box, 0xFFFF));
    r.icon = IconOf(box);
    boxes_.push_back(r);
    int answer = next_ < answers_.size() ? answers_[next_++] : default_;
    // Posted, not sent: the box runs its own modal loop and picks it up there.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

void PrintTo(const BoxRecord& box, std::ostream* os) {
    *os << "[" << win::ToUtf8(box.title) << "] \"" << win::ToUtf8(box.text) << "\" (icon 0x" << std::hex << box.icon
        << std::dec << ")";
}

size_t CountOpenHandles() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported > 0) return reported;
    size_t count = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

size_t CountGdiObjects() {
    if (DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return reported;
    size_t count = 0;
    for (ULONG_PTR value = 1; value <= 0xFFFF; ++value)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(value))) ++count;
    return count;
}

namespace {

struct BoxSearch {
    DWORD pid;
    const std::wstring* text;
    HWND box;
};
BOOL CALLBACK FindBoxOf(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (pid == s->pid && IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0) {
        wchar_t text[512] = {};
        if (HWND label = GetDlgItem(w, 0xFFFF)) GetWindowTextW(label, text, 512);
        if (s->text->empty() || *s->text == text) s->box = w;
    }
    return s->box == nullptr;
}

struct ChildSearch {
    int id;
    HWND found;
};
BOOL CALLBACK MatchChildId(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<ChildSearch*>(p);
    if (GetDlgCtrlID(w) == s->id) s->found = w;
    return s->found == nullptr;
}

}  // namespace

HWND ChildById(HWND top, int id) {
    ChildSearch s{id, nullptr};
    EnumChildWindows(top, MatchChildId, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitForBoxOf(DWORD pid, DWORD ms, const std::wstring& text) {
    for (DWORD start = GetTickCount();; Sleep(20)) {
        BoxSearch s{pid, &text, nullptr};
        EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&s));
        if (s.box || GetTickCount() - start >= ms) return s.box;
    }
}

void PressKey(WORD virtualKey) {
    INPUT keys[2]{};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = virtualKey;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

void ClickMiddle(HWND window, int clicks) {
    RECT r{};
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    std::vector<INPUT> events(2 * clicks);
    for (size_t i = 0; i < events.size(); ++i) {
        events[i].type = INPUT_MOUSE;
        events[i].mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    }
    SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
}

bool PumpUntil(const std::function<bool()>& pred, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start >= ms) return pred();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

}  // namespace testsupport
