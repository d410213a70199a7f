// Start-up as a user meets it: Morvix.exe itself, started as a real process.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>

#include "platform/jet/Jet.h"
#include "tests/helpers/TestSupport.h"

namespace {

const wchar_t* kCaption = L" Velkaro  ";
const wchar_t* kSettings = L"Software\\VB and VBA Program Settings\\Morvix\\Setting";
const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

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
        if (HWND w = Window()) PostMessageW(w, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
    HANDLE Process() const { return process_; }
    // The main window once it is loaded (enabled), or nullptr.
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
        if (HWND w = Window()) PostMessageW(w, WM_CLOSE, 0, 0);
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
        ASSERT_NE(m.WaitWindow(), nullptr);
        wchar_t data[1024] = {};
        DWORD size = sizeof data;
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"Morvix_AutoRun_Hide", RRF_RT_REG_SZ, nullptr, data,
                               &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(data), L"\"" + MorvixPath() + L"\" /h");
        EXPECT_EQ(SendMessageW(ChildById(m.Window(), 140), BM_GETCHECK, 0, 0), BST_CHECKED);
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

TEST_F(Startup, PendingKnowledgeBaseIsInstalledAndAMissingOneChangesNothing) {
    testsupport::TempDir dir(L"morvix_app");
    std::wstring exe = dir.File(L"Morvix.exe");
    ASSERT_TRUE(CopyFileW(MorvixPath().c_str(), exe.c_str(), FALSE));
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring pending = std::wstring(temp) + L"_mx_db._tmp";
    std::ofstream(std::filesystem::path(pending), std::ios::binary) << "new knowledge";
    std::ofstream(std::filesystem::path(dir.File(L"db.mdb")), std::ios::binary) << "old";
    {
        Morvix m(L"/updatemdb", exe);
        HWND w = m.WaitWindow();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(Text(ChildById(w, 151)), L"0000-00-00") << "not a database: the version stays at its design text";
        m.Close();
    }
    std::ifstream in(std::filesystem::path(dir.File(L"db.mdb")), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "new knowledge");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(pending))) << "the downloaded file stays";
    std::filesystem::remove(std::filesystem::path(pending));

    std::ofstream(std::filesystem::path(dir.File(L"db.mdb")), std::ios::binary) << "kept";
    {
        Morvix m(L"/updatemdb", exe);
        ASSERT_NE(m.WaitWindow(), nullptr);
        m.Close();
    }
    std::ifstream kept(std::filesystem::path(dir.File(L"db.mdb")), std::ios::binary);
    std::string keptContent((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(keptContent, "kept");
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
