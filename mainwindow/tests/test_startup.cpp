// Start-up as a user meets it: Morvix.exe itself, started as a real process.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/modMain.h"
#include "platform/jet/Jet.h"
#include "platform/vb/Runtime.h"
#include "platform/win/Handle.h"
#include "tests/helpers/TestSupport.h"

namespace {

const wchar_t* kCaption = L" Velkaro  ";
const wchar_t* kSettings = L"Software\\VB and VBA Program Settings\\Morvix\\Setting";
const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* kTaskmgrKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\taskmgr.exe";

std::wstring MorvixPath() { return testsupport::TestBinDir() + L"\\Morvix.exe"; }

// Morvix.exe started with a command line; closed and waited for at the end.
class Morvix {
public:
    explicit Morvix(const std::wstring& args = L"", const std::wstring& exe = MorvixPath()) {
        std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
        STARTUPINFOW si{sizeof si};
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            process_ = pi.hProcess;
        }
    }
    ~Morvix() {
        if (!process_) return;
        if (HWND w = FindWindowW(nullptr, kCaption)) PostMessageW(w, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
    HANDLE Process() const { return process_; }
    // The main window once it is loaded (enabled), or nullptr.  A list
    // refresh disables it for a moment too: keep the window that WaitWindow
    // gave rather than ask again.
    HWND Window() const {
        HWND w = FindWindowW(nullptr, kCaption);
        return w && IsWindowEnabled(w) ? w : nullptr;
    }
    HWND WaitWindow(DWORD ms = 30000) const {
        for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50))
            if (HWND w = Window()) return w;
        return nullptr;
    }
    bool WaitExit(DWORD ms, DWORD* code = nullptr) const {
        if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
        if (code) GetExitCodeProcess(process_, code);
        return true;
    }
    void Close() {
        if (HWND w = FindWindowW(nullptr, kCaption)) PostMessageW(w, WM_CLOSE, 0, 0);
        WaitExit(10000);
    }

private:
    HANDLE process_ = nullptr;
};

std::wstring Setting(const wchar_t* name, bool* exists = nullptr) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    LSTATUS r = RegGetValueW(HKEY_CURRENT_USER, kSettings, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
    if (exists) *exists = r == ERROR_SUCCESS;
    return buffer;
}

void SetSetting(const wchar_t* name, const wchar_t* value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettings, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

bool RunValueExists() {
    return RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"Morvix_AutoRun_Hide", RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

using testsupport::ChildById;

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A maker's knowledge base of the date, with rows enough for several pages.
void MakeKnowledgeBase(const std::wstring& path, const std::wstring& date) {
    auto db = jet::Database::Create(path, modMain::kDatabasePassword);
    db->CreateTable(L"Version", {{L"Version"}}).Append({date});
    auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
    for (int i = 0; i < 400; ++i)
        t.Append({L"proc" + std::to_wstring(i) + L".exe", L"测试进程 " + std::to_wstring(i), std::wstring(L"N")});
}

// A hidden start has ended when the window is minimised and hidden.  The
// window exists, invisible, long before (while it loads, seconds on a loaded
// machine): "not visible" alone is true too early.
bool WaitHiddenInTray(HWND w, DWORD ms = 30000) {
    return testsupport::PumpUntil([&] { return IsIconic(w) && !IsWindowVisible(w); }, ms);
}

std::wstring Text(HWND w) {
    wchar_t buffer[256] = {};
    SendMessageTimeoutW(w, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(nullptr, kCaption), nullptr) << "another Morvix window is open";
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Morvix");
    }
};

}  // namespace

TEST_F(Startup, FirstRunWritesTheDefaultsAndALaterRunOnlyTheMarker) {
    {
        Morvix m;
        ASSERT_NE(m.WaitWindow(), nullptr);
        for (auto* name : {L"@@", L"AlwaysOnTop", L"AntiVirus", L"AutoRun"}) {
            bool exists = false;
            EXPECT_EQ(Setting(name, &exists), L"0") << name;
            EXPECT_TRUE(exists) << name;
        }
        m.Close();
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"AlwaysOnTop");
    SetSetting(L"@@", L"x");
    {
        Morvix m;
        ASSERT_NE(m.WaitWindow(), nullptr);
        bool exists = true;
        Setting(L"AlwaysOnTop", &exists);
        EXPECT_FALSE(exists) << "a section with more than the marker is no first run";
        EXPECT_EQ(Setting(L"@@"), L"0");
        m.Close();
    }
}

TEST_F(Startup, AutoRunSettingWritesOrRemovesTheRunValue) {
    SetSetting(L"@@", L"0");
    SetSetting(L"AutoRun", L"1");
    {
        Morvix m;
        HWND w = m.WaitWindow();
        ASSERT_NE(w, nullptr);
        wchar_t data[1024] = {};
        DWORD size = sizeof data;
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"Morvix_AutoRun_Hide", RRF_RT_REG_SZ, nullptr, data,
                               &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(data), L"\"" + MorvixPath() + L"\" /h");
        EXPECT_EQ(SendMessageW(ChildById(w, 140), BM_GETCHECK, 0, 0), BST_CHECKED);
        m.Close();
    }
    SetSetting(L"AutoRun", L"0");
    {
        Morvix m;
        ASSERT_NE(m.WaitWindow(), nullptr);
        EXPECT_FALSE(RunValueExists()) << "a leftover Run value goes when the option is off";
        m.Close();
    }
}

TEST_F(Startup, HiddenStartShowsNoWindowAndOnlyTheExactSwitchHides) {
    {
        Morvix m(L"/h");
        HWND w = m.WaitWindow();
        ASSERT_NE(w, nullptr);
        // Loading ends with the transparent window minimised, which hides it.
        EXPECT_TRUE(WaitHiddenInTray(w));
        Sleep(500);
        EXPECT_FALSE(IsWindowVisible(w));

        m.Close();
    }
    for (const wchar_t* args : {L"/H", L" /h"}) {
        Morvix m(args);
        HWND w = m.WaitWindow();
        ASSERT_NE(w, nullptr) << args;
        EXPECT_TRUE(testsupport::PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 30000)) << args;
        m.Close();
    }
}

TEST_F(Startup, SecondInstanceActivatesTheFirstAndEnds) {
    Morvix first(L"/h");
    HWND w = first.WaitWindow();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(WaitHiddenInTray(w));
    Morvix second;
    DWORD code = 99;
    ASSERT_TRUE(second.WaitExit(20000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 30000))
        << "the first instance's window is shown again";
    EXPECT_EQ(WaitForSingleObject(first.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// Another program at the files while Morvix starts.
enum class Meddler {
    None,
    HoldsPending,    // writes the pending file, sharing it with nobody but a delete
    HoldsDatabase,   // has db.mdb open, which then cannot be replaced
    SwapsAfterUse,   // replaces the pending file by a cut one as soon as Morvix lets go of it
    OpensTheCopy,    // opens the copy beside db.mdb as soon as it can, as virus scanners do
};

// The files created in a folder from the moment this is made on.  Morvix
// creates its copy beside db.mdb while it holds the pending file, so the
// copy's appearance tells that the pending file's first use has begun, with
// nothing opened that could stand in Morvix's way.
class FolderWatch {
public:
    explicit FolderWatch(const std::wstring& folder)
        : folder_(folder),
          dir_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
          done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        Read();
    }
    ~FolderWatch() {
        DWORD n = 0;
        if (CancelIoEx(dir_.get(), &at_)) GetOverlappedResult(dir_.get(), &at_, &n, TRUE);
    }
    // The full path of the next file created whose name starts with prefix;
    // empty when none came within ms.
    std::wstring WaitCreated(const std::wstring& prefix, DWORD ms) {
        for (DWORD start = GetTickCount(), n = 0;; n = 0) {
            if (WaitForSingleObject(done_.get(), ms - std::min(ms, GetTickCount() - start)) != WAIT_OBJECT_0 ||
                !GetOverlappedResult(dir_.get(), &at_, &n, FALSE))
                return L"";
            std::wstring found;
            for (auto* p = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer_); n > 0 && found.empty();) {
                std::wstring name(p->FileName, p->FileNameLength / sizeof(wchar_t));
                if (p->Action == FILE_ACTION_ADDED && name.rfind(prefix, 0) == 0) found = folder_ + L"\\" + name;
                if (p->NextEntryOffset == 0) break;
                p = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(reinterpret_cast<BYTE*>(p) + p->NextEntryOffset);
            }
            Read();
            if (!found.empty()) return found;
        }
    }

private:
    void Read() {
        ResetEvent(done_.get());
        at_ = OVERLAPPED{};
        at_.hEvent = done_.get();
        ReadDirectoryChangesW(dir_.get(), buffer_, sizeof buffer_, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &at_,
                              nullptr);
    }
    std::wstring folder_;
    win::FileHandle dir_;
    win::Handle done_;
    OVERLAPPED at_{};
    alignas(DWORD) BYTE buffer_[16384];
};

// Once Morvix has made its copy, replaces the pending file by `cut` the moment
// it can be renamed over, unless Morvix has installed and removed it first.
struct Swap {
    bool sawCopy = false, swapped = false;
};
Swap SwapAfterUse(FolderWatch& watch, const std::wstring& pending, const std::wstring& cut) {
    Swap r;
    r.sawCopy = !watch.WaitCreated(L"mxd", 30000).empty();
    // Every try is a round trip to the wineserver all tests share: a short pause between them.
    for (DWORD start = GetTickCount(); r.sawCopy && GetTickCount() - start < 30000; Sleep(1)) {
        if (GetFileAttributesW(pending.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        if ((r.swapped = MoveFileExW(cut.c_str(), pending.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE)) break;
    }
    return r;
}

// Opens Morvix's copy beside db.mdb for reading, sharing everything, as often
// as it can and holds each open a second, until told to stop; how many opens
// succeeded.
int OpenTheCopy(FolderWatch& watch, const std::atomic<bool>& stop) {
    const std::wstring copy = watch.WaitCreated(L"mxd", 30000);
    int opened = 0;
    while (!copy.empty() && !stop) {
        win::FileHandle scan(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!scan) {
            Sleep(5);  // as above: no busy loop against the shared wineserver
            continue;
        }
        ++opened;
        Sleep(1000);
    }
    return opened;
}

TEST_F(Startup, OnlyAWholePendingKnowledgeBaseIsInstalledAndThePendingFileGoes) {
    testsupport::TempDir dir(L"morvix_app");
    const std::wstring exe = dir.File(L"Morvix.exe"), db = dir.File(L"db.mdb");
    ASSERT_TRUE(CopyFileW(MorvixPath().c_str(), exe.c_str(), FALSE));
    const std::wstring pending = vb::TempPath() + L"_mx_db._tmp";
    testsupport::TempDir made(L"morvix_made");
    MakeKnowledgeBase(made.File(L"old.mdb"), L"2008-05-09");
    MakeKnowledgeBase(made.File(L"new.mdb"), L"2009-06-01");
    const std::string old = ReadAll(made.File(L"old.mdb")), fresh = ReadAll(made.File(L"new.mdb"));
    const size_t half = fresh.size() / 2 / 4096 * 4096;  // whole pages, yet tables cut off
    struct Case {
        const char* what;
        std::optional<std::string> pending;
        bool installed;
        Meddler meddler = Meddler::None;
        bool pendingKept = false;
    } cases[] = {
        {"not a database", std::string("new knowledge"), false},
        {"a cut-off download", fresh.substr(0, fresh.size() / 2 + 100), false},
        {"a cut-off download of whole pages", fresh.substr(0, half), false},
        {"no pending file", std::nullopt, false},
        {"a whole database", fresh, true},
        // What was checked is what is installed, whatever happens to the pending file afterwards.
        {"a whole database swapped for a cut one after its first use", fresh, true, Meddler::SwapsAfterUse},
        {"a pending file another program holds", fresh, false, Meddler::HoldsPending, true},
        {"a db.mdb another program holds", fresh, false, Meddler::HoldsDatabase, true},
        {"a copy another program opens the moment it appears", fresh, true, Meddler::OpensTheCopy},
    };
    for (size_t i = 0, swapStarts = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        WriteAll(db, old);
        DeleteFileW(pending.c_str());
        if (c.pending) WriteAll(pending, *c.pending);
        const std::wstring cut = made.File(L"cut.mdb");
        WriteAll(cut, fresh.substr(0, half));
        win::FileHandle hold;
        if (c.meddler == Meddler::HoldsPending)
            hold.reset(CreateFileW(pending.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (c.meddler == Meddler::HoldsDatabase)
            hold.reset(CreateFileW(db.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_EQ(static_cast<bool>(hold), c.meddler == Meddler::HoldsPending || c.meddler == Meddler::HoldsDatabase);
        FolderWatch watch(dir.Path());
        std::thread meddler;
        Swap swap;
        std::atomic<bool> stop{false};
        int scans = 0;
        if (c.meddler == Meddler::SwapsAfterUse)
            meddler = std::thread([&] { swap = SwapAfterUse(watch, pending, cut); });
        if (c.meddler == Meddler::OpensTheCopy)
            meddler = std::thread([&] { scans = OpenTheCopy(watch, stop); });
        {
            Morvix m(L"/updatemdb", exe);
            HWND w = m.WaitWindow();
            stop = true;
            if (meddler.joinable()) meddler.join();
            hold.reset();  // a db.mdb held until now could not be opened: the text is not asked
            ASSERT_NE(w, nullptr);
            if (c.meddler != Meddler::HoldsDatabase) {
                EXPECT_EQ(Text(ChildById(w, 151)), c.installed ? L"2009-06-01" : L"2008-05-09");
            }
            m.Close();
        }
        if (c.meddler == Meddler::SwapsAfterUse) {
            EXPECT_TRUE(swap.sawCopy) << "Morvix never made its copy";
            std::printf("the pending file was %s\n", swap.swapped ? "swapped after its first use"
                                                                  : "installed before a swap could land");
        }
        if (c.meddler == Meddler::OpensTheCopy) std::printf("the copy was opened %d times by another program\n", scans);
        EXPECT_TRUE(ReadAll(db) == (c.installed ? fresh : old));
        if (c.pendingKept) {
            EXPECT_TRUE(ReadAll(pending) == fresh) << "kept for the next start";
        } else if (c.meddler == Meddler::SwapsAfterUse && GetFileAttributesW(pending.c_str()) != INVALID_FILE_ATTRIBUTES) {
            // The swapper's rename may land at the moment Morvix deletes the
            // pending file (and keep it from going): what stays is its own.
            EXPECT_TRUE(ReadAll(pending) == fresh.substr(0, half)) << "only the swapper's file may stay";
        } else {
            EXPECT_EQ(GetFileAttributesW(pending.c_str()), INVALID_FILE_ATTRIBUTES) << "installed or refused, it goes";
        }
        // Nothing of the install is left beside db.mdb.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
        // The swap row has tested its case only when the swap landed before
        // Morvix installed and removed the pending file: else it starts again.
        if (c.meddler == Meddler::SwapsAfterUse && !swap.swapped) {
            if (++swapStarts < 5) --i;
            else ADD_FAILURE() << "in 5 starts the swap never landed: the row tested nothing";
        }
    }
    DeleteFileW(pending.c_str());
}

TEST_F(Startup, TaskManagerValueStartsTheWholePathFromAFolderWithABlank) {
    testsupport::TempDir dir(L"mx program files");
    const std::wstring exe = dir.File(L"Morvix.exe");
    ASSERT_TRUE(CopyFileW(MorvixPath().c_str(), exe.c_str(), FALSE));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTaskmgrKey, L"Debugger");
    Morvix m(L"", exe);
    HWND w = m.WaitWindow();
    ASSERT_NE(w, nullptr);
    PostMessageW(w, WM_COMMAND, frmMainMenu::mnuSettingTaskmgr1, 0);
    HWND box = testsupport::WaitForBoxOf(GetProcessId(m.Process()), 15000);
    ASSERT_NE(box, nullptr) << "the report box";
    SetForegroundWindow(box);
    testsupport::PressKey(VK_RETURN);
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, kTaskmgrKey, L"Debugger", RRF_RT_REG_SZ, nullptr, data, &size);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTaskmgrKey, L"Debugger");
    ASSERT_EQ(read, ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(data), L"\"" + exe + L"\"");
    // As the system uses it: the value, then Task Manager's own command line.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW((std::wstring(data) + L" taskmgr.exe").c_str(), &argc);
    ASSERT_EQ(argc, 2);
    EXPECT_EQ(_wcsicmp(argv[0], exe.c_str()), 0) << argv[0];
    EXPECT_STREQ(argv[1], L"taskmgr.exe");
    LocalFree(argv);
}

TEST_F(Startup, WindowShowsTheLiveListAndCannotShrinkBelowTheMinimum) {
    Morvix m;
    HWND w = m.WaitWindow();
    ASSERT_NE(w, nullptr);
    HWND list = ChildById(w, 120);
    ASSERT_NE(list, nullptr);
    // The list fills while the window is already up (a refresh follows the
    // first pass): wait for the rows.
    auto rows = [&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); };
    EXPECT_TRUE(testsupport::PumpUntil([&] { return rows() > 3; }, 30000)) << rows() << " rows";
    SetWindowPos(w, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    RECT r;
    GetWindowRect(w, &r);
    EXPECT_GE(r.right - r.left, 800);
    EXPECT_GE(r.bottom - r.top, 600);
}

TEST_F(Startup, ACloseDuringTheDangerReportWaitsForTheAnswerAndTheProgramEndsWithCodeZero) {
    testsupport::TempDir dir(L"morvix_close");
    const std::wstring exe = dir.File(L"Morvix.exe"), danger = dir.File(L"mxdanger.exe");
    ASSERT_TRUE(CopyFileW(MorvixPath().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(testsupport::TestChildPath().c_str(), danger.c_str(), FALSE));
    {
        auto user = jet::Database::Create(dir.File(L"userdb.mdb"));
        auto& t = user->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
        t.Append({std::wstring(L"mxdanger.exe"), std::wstring(L"测试"), std::wstring(L"Y")});
    }
    SetSetting(L"@@", L"0");
    SetSetting(L"AntiVirus", L"1");

    Morvix m(L"", exe);
    HWND main = m.WaitWindow();
    ASSERT_NE(main, nullptr);
    testsupport::Child child(L"", danger);  // ended by the next tick, which reports it in a box
    HWND box = testsupport::WaitForBoxOf(GetProcessId(m.Process()), 15000);
    ASSERT_NE(box, nullptr) << "the report box";
    EXPECT_TRUE(child.WaitExit(5000));

    PostMessageW(main, WM_CLOSE, 0, 0);
    Sleep(700);
    EXPECT_TRUE(IsWindow(main)) << "the close waits for the box";
    ASSERT_TRUE(IsWindow(box));

    // Enter, through the system's input queue, into the box in front.
    SetForegroundWindow(box);
    testsupport::PressKey(VK_RETURN);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !IsWindow(box); }, 10000)) << "Enter answers the box";
    // Closing takes seconds under Xvfb (the tray and the window manager are
    // waited for), more on a loaded machine: the deadline is generous.
    DWORD code = 1234;
    EXPECT_TRUE(m.WaitExit(30000, &code)) << "the window closed once the box was answered";
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(IsWindow(main));
}
