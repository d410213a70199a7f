// The live monitor of the real main window: the two-phase CPU column from
// injected and from real samples, the memory readers, the message-pumping
// wait, the displays of a tick, and ticks that arrive inside message boxes.
#include <filesystem>
#include <map>
#include <memory>

#include "mainwindow/modMain.h"
#include "mainwindow/modTrayIcon.h"
#include "platform/dao/dao.h"
#include "platform/jet/Jet.h"
#include "sysaccess/ProcessSnapshot.h"
#include "test_listview_fixture.h"

using namespace mwtest;
using testsupport::Child;

namespace {

using Samples = std::map<unsigned long, uint32_t>;

// Runs both phases of the column with the given samples.
class CpuColumn : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        AddRow(0, L"System Idle Process", L"", L"", 0, L"16");
        for (DWORD pid : {7001u, 7002u, 7003u}) AddRow(pid, L"p" + std::to_wstring(pid) + L".exe", L"", L"标准", 0);
    }
    void TearDown() override {
        Form().sources.processTimes = nullptr;
        for (DWORD pid : {0u, 7001u, 7002u, 7003u, 7004u}) RemoveRow(pid);
    }
    void Phases(const Samples& first, const Samples& second, long cpu,
                const std::function<void()>& between = [] {}) {
        Form().lastCpuPercent = cpu;
        Form().cpuPhase = false;
        Form().sources.processTimes = [first] { return first; };
        Form().UpdateProcessCpuColumn();
        between();
        Form().sources.processTimes = [second] { return second; };
        Form().UpdateProcessCpuColumn();
    }
    static std::wstring Cpu(DWORD pid) { return List().SubItem(Row(pid), 3); }
};

}  // namespace

TEST_F(CpuColumn, SharesOfTheOverallLoadOnceASecond) {
    for (DWORD pid : {0u, 7001u, 7002u, 7003u}) List().SetSubItem(Row(pid), 3, L"zz");
    Form().lastCpuPercent = 60;
    Form().cpuPhase = false;
    Form().sources.processTimes = [] { return Samples{{7001, 1000}, {7002, 5000}, {7003, 0}}; };
    Form().UpdateProcessCpuColumn();
    EXPECT_EQ(Cpu(7001), L"zz") << "the first phase writes nothing";
    EXPECT_EQ(Cpu(0), L"zz");
    Form().sources.processTimes = [] { return Samples{{7001, 1300}, {7002, 5100}, {7003, 0}}; };
    Form().UpdateProcessCpuColumn();
    EXPECT_EQ(Cpu(7001), L"45");
    EXPECT_EQ(Cpu(7002), L"15");
    EXPECT_EQ(Cpu(7003), L"00");
    EXPECT_EQ(Cpu(0), L"40");
    EXPECT_EQ(List().SubItem(Row(GetCurrentProcessId()), 3), L"00") << "no samples of ours: no share";
}

TEST_F(CpuColumn, IdleRowShowsTheRestWithAtLeastTwoDigitsAndNeverMoreThan100) {
    const std::pair<long, const wchar_t*> cases[] = {{3, L"97"}, {95, L"05"}, {0, L"100"}, {100, L"00"},
                                                     {-1, L"100"}, {101, L"00"}};
    for (auto [cpu, idle] : cases) {
        Phases({{7001, 0}}, {{7001, 10}}, cpu);
        EXPECT_EQ(Cpu(0), idle) << cpu;
        EXPECT_EQ(Cpu(7001), cpu <= 0 ? L"00" : cpu >= 100 ? L"100" : vb::FormatZeroFill(cpu, 2)) << cpu;
    }
}

TEST_F(CpuColumn, ARowAddedBetweenThePhasesShowsZero) {
    Phases({{7001, 100}, {7002, 100}}, {{7001, 200}, {7002, 200}, {7004, 5'000'000}}, 80,
           [] { AddRow(7004, L"new.exe", L"", L"标准", 0); });
    EXPECT_EQ(Cpu(7004), L"00");
    EXPECT_EQ(Cpu(7001), L"40");
    EXPECT_EQ(Cpu(7002), L"40");
}

TEST_F(CpuColumn, AProcessThatEndedBetweenThePhasesTakesNoShare) {
    // Its row is still listed; only its second sample is missing.
    Phases({{7001, 4'000'000'000u}, {7002, 100}}, {{7002, 300}}, 60);
    EXPECT_EQ(Cpu(7001), L"00");
    EXPECT_EQ(Cpu(7002), L"60");
}

TEST_F(CpuColumn, CountersThatWrapStillGiveTheDifference) {
    Phases({{7001, 0xFFFFFF00u}, {7002, 0}}, {{7001, 0x100}, {7002, 0x200}}, 50);
    EXPECT_EQ(Cpu(7001), L"25");
    EXPECT_EQ(Cpu(7002), L"25");
}

TEST_F(CpuColumn, NoTimeAtAllGivesZeroEverywhere) {
    Phases({{7001, 5}, {7002, 9}}, {{7001, 5}, {7002, 9}}, 30);
    for (DWORD pid : {7001u, 7002u, 7003u}) EXPECT_EQ(Cpu(pid), L"00");
    EXPECT_EQ(Cpu(0), L"70");
}

TEST_F(CpuColumn, OnlyChangedCellsAreRepainted) {
    HWND list = List().Hwnd();
    const int row = List().Key(1) == L"PID:0" ? 2 : 1;  // two neighbouring rows on screen
    auto pidAt = [](int i) { return static_cast<unsigned long>(vb::ParseDisplayedNumber(List().SubItem(i, 2))); };
    const unsigned long a = pidAt(row), b = pidAt(row + 1);
    ASSERT_NE(b, 0u);
    Phases({{a, 0}, {b, 0}}, {{a, 10}, {b, 10}}, 40);
    ASSERT_EQ(List().SubItem(row, 3), L"20");
    UpdateWindow(list);
    ValidateRect(list, nullptr);

    Phases({{a, 0}, {b, 0}}, {{a, 10}, {b, 10}}, 40);  // the same again
    RECT dirty{};
    EXPECT_FALSE(GetUpdateRect(list, &dirty, FALSE)) << "nothing changed, nothing to paint";

    Phases({{a, 0}, {b, 0}}, {{a, 30}, {b, 10}}, 40);
    ASSERT_EQ(List().SubItem(row, 3), L"30");
    ASSERT_EQ(List().SubItem(row + 1, 3), L"10");
    RECT first{LVIR_BOUNDS}, second{LVIR_BOUNDS};
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row - 1), reinterpret_cast<LPARAM>(&first));
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&second));
    ASSERT_TRUE(GetUpdateRect(list, &dirty, FALSE));
    EXPECT_GE(dirty.top, first.top);
    EXPECT_LE(dirty.bottom, second.bottom) << "only the two changed cells are repainted, not the whole list";
}

namespace {

// A helper that spins one thread, listed, with the real snapshots.
class CpuColumnReal : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        Form().sources.processTimes = nullptr;
        ASSERT_TRUE(spinner.WaitReady());
        Form().mnuListRefresh_Click();
        ASSERT_GT(Row(spinner.Pid()), 0);
    }
    void TearDown() override { StopTimers(); }
    Child spinner{L"--threads 1"};
};

}  // namespace

TEST_F(CpuColumnReal, ASpinningHelperTakesTheLoad) {
    Form().lastCpuPercent = 100;
    Form().cpuPhase = false;
    Form().UpdateProcessCpuColumn();
    Sleep(600);
    Form().UpdateProcessCpuColumn();
    long share = static_cast<long>(vb::ParseDisplayedNumber(List().SubItem(Row(spinner.Pid()), 3)));
    EXPECT_GE(share, 50);
    for (int i = 1; i <= List().Count(); ++i)
        if (List().Key(i) != Key(spinner.Pid()) && List().Key(i) != L"PID:0") {
            EXPECT_LE(vb::ParseDisplayedNumber(List().SubItem(i, 3)), share) << List().Text(i);
        }
}

TEST_F(CpuColumnReal, TheTimersWriteTheColumnOnceASecond) {
    List().SetSubItem(Row(spinner.Pid()), 3, L"");
    StartTimers();
    EXPECT_TRUE(Pump([&] { return vb::ParseDisplayedNumber(List().SubItem(Row(spinner.Pid()), 3)) > 0; }, 5000))
        << "overall " << Form().lastCpuPercent << "%, cell \"" << List().SubItem(Row(spinner.Pid()), 3) << "\"";
}

TEST(ProcessSnapshot, ReadersAtTheSameMomentShareOneCall) {
    Child spinner(L"--threads 1");
    ASSERT_TRUE(spinner.WaitReady());
    auto first = sysaccess::TakeProcessSnapshot();
    auto shared = sysaccess::RecentProcessSnapshot(100);
    ASSERT_TRUE(first.count(spinner.Pid()));
    EXPECT_EQ(shared.at(spinner.Pid()).cpuTime, first.at(spinner.Pid()).cpuTime) << "the same snapshot";
    Sleep(300);
    auto later = sysaccess::RecentProcessSnapshot(100);
    EXPECT_NE(later.at(spinner.Pid()).cpuTime, first.at(spinner.Pid()).cpuTime) << "too old: a new one";
}

// ---------------------------------------------------------------- memory

namespace {

constexpr uint64_t MB = 1048576;

class Memory : public ::testing::Test {
protected:
    void SetUp() override { Form(); }
    void TearDown() override { Form().sources.memoryStatus = nullptr; }
    void Machine(uint64_t total, uint64_t available) {
        Form().sources.memoryStatus = [=] { return std::make_pair(total, available); };
    }
};

}  // namespace

TEST_F(Memory, UsedAndTotalInWholeMegabytes) {
    Machine(1024 * MB, 512 * MB);
    EXPECT_EQ(Form().GetMemoryUsageText(), L"512 / 1024 MB");
    EXPECT_EQ(Form().GetMemoryLoadPercent(), 50);
    StopTimers();
    Form().tmrMonitor_Timer();
    EXPECT_EQ(Form().PanelText(3), L"内存: 512 / 1024 MB");

    Machine(1024 * MB + 1000, 512 * MB - 1000);  // parts of a megabyte are dropped
    EXPECT_EQ(Form().GetMemoryUsageText(), L"512 / 1024 MB");
}

TEST_F(Memory, MoreThanTwoGigabytesReadsRight) {
    Machine(24 * 1024 * MB, 8 * 1024 * MB);
    EXPECT_EQ(Form().GetMemoryUsageText(), L"16384 / 24576 MB");
    EXPECT_EQ(Form().GetMemoryLoadPercent(), 67);
    Machine(6 * 1024 * MB, 0);
    EXPECT_EQ(Form().GetMemoryLoadPercent(), 100);
}

TEST_F(Memory, LoadRoundsHalvesToEven) {
    Machine(8 * MB, 7 * MB);  // 12.5
    EXPECT_EQ(Form().GetMemoryLoadPercent(), 12);
    Machine(8 * MB, 5 * MB);  // 37.5
    EXPECT_EQ(Form().GetMemoryLoadPercent(), 38);
}

TEST_F(Memory, TheRealMachine) {
    MEMORYSTATUSEX status{sizeof status};
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    std::wstring text = Form().GetMemoryUsageText();
    EXPECT_NE(text.find(L" / " + std::to_wstring(status.ullTotalPhys / MB) + L" MB"), std::wstring::npos) << text;
    long load = Form().GetMemoryLoadPercent();
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
}

// ---------------------------------------------------------------- Delay

TEST(Delay, WaitsAcrossAWrapOfTheTickCounter) {
    Form();
    uint32_t now = 0xFFFFFE00u;
    int reads = 0;
    Form().sources.tickCount = [&] {
        ++reads;
        uint32_t t = now;
        now += 25;
        return t;
    };
    Form().Delay(1000);
    Form().sources.tickCount = nullptr;
    EXPECT_GE(reads, 42) << "more than 1000 ms must pass, 25 ms a read";
    EXPECT_LT(now, 0x1000u) << "the counter wrapped during the wait";
    EXPECT_LT(reads, 50);
}

namespace {
int g_timerCalls = 0;
void CALLBACK CountCall(HWND, UINT, UINT_PTR, DWORD) { ++g_timerCalls; }
}  // namespace

TEST(Delay, RunsOtherHandlersWhileItWaits) {
    Form();
    StopTimers();
    g_timerCalls = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 30, CountCall);
    DWORD start = GetTickCount();
    Form().Delay(300);
    DWORD took = GetTickCount() - start;
    KillTimer(nullptr, timer);
    EXPECT_GT(took, 300u);
    EXPECT_LT(took, 1500u);
    EXPECT_GE(g_timerCalls, 3);
}

// ---------------------------------------------------------------- ticks

TEST(Tick, StatusBarAndTrayFollowTheLoad) {
    Form();
    StopTimers();
    Form().tmrMonitor_Timer();
    const long cpu = Form().lastCpuPercent;
    EXPECT_GE(cpu, 0);
    EXPECT_LE(cpu, 100);
    EXPECT_EQ(Form().PanelText(1), L"进程数: " + std::to_wstring(List().Count()));
    EXPECT_EQ(Form().PanelText(2), L"CPU: " + std::to_wstring(cpu) + L"%");
    EXPECT_EQ(modTrayIcon::CurrentTip(), L"CPU 使用率: " + std::to_wstring(cpu) + L"%");
    EXPECT_NE(Form().picTrayIcon, nullptr);
}

namespace {

// Keeps the program's message boxes open for a while, answering them later,
// and lets a test act when one opens and when it closes.
class SlowBoxes {
public:
    std::function<void(HWND)> onOpen = [](HWND) {};
    std::function<void(HWND)> onClose = [](HWND) {};
    std::vector<std::wstring> texts;
    DWORD keepOpen = 2600;  // or, with closeWhen, the deadline for it
    std::function<bool()> closeWhen;

    SlowBoxes() {
        self_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~SlowBoxes() {
        UnhookWindowsHookEx(hook_);
        self_ = nullptr;
    }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && self_) {
            HWND box = reinterpret_cast<HWND>(wParam);
            wchar_t cls[16] = {};
            GetClassNameW(box, cls, 16);
            if (std::wstring(cls) == L"#32770" && !GetPropW(box, L"seen")) {
                SetPropW(box, L"seen", reinterpret_cast<HANDLE>(1));
                wchar_t text[512] = {};
                GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 512);
                self_->texts.push_back(text);
                self_->onOpen(box);
                SetPropW(box, L"opened", reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetTickCount())));
                SetTimer(box, 0x5150, self_->closeWhen ? 20 : self_->keepOpen, Close);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static void CALLBACK Close(HWND box, UINT, UINT_PTR id, DWORD) {
        if (self_ && self_->closeWhen && !self_->closeWhen()) {
            auto opened = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(GetPropW(box, L"opened")));
            if (GetTickCount() - opened < self_->keepOpen) return;
        }
        KillTimer(box, id);
        if (self_) self_->onClose(box);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    static inline SlowBoxes* self_ = nullptr;
    HHOOK hook_ = nullptr;
};

// A user knowledge file that marks one name dangerous.
class DangerousName : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        dir_ = std::make_unique<testsupport::TempDir>(L"mxtick");
        const std::wstring db = dir_->File(L"userdb.mdb");
        {
            auto file = jet::Database::Create(db);
            auto& t = file->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
            t.Append({std::wstring(L"mxdanger.exe"), std::wstring(L"测试"), std::wstring(L"Y")});
        }
        saved_ = modMain::g_dbUser;
        modMain::g_dbUser = dao::DBEngine::OpenDatabase(db, true, false);
        std::filesystem::copy_file(testsupport::TestChildPath(), dir_->File(L"mxdanger.exe"));
        Form().mnuListRefresh_Click();
    }
    void TearDown() override {
        StopTimers();
        ui::SetCheckState(Form().chkAntiVirus, 0);
        modMain::g_dbUser = saved_;
    }
    std::wstring Dangerous() const { return dir_->File(L"mxdanger.exe"); }

    std::unique_ptr<testsupport::TempDir> dir_;
    dao::DatabasePtr saved_;
};

}  // namespace

TEST_F(DangerousName, TicksInsideTheRefreshesReportLeaveTheListAlone) {
    ui::SetCheckState(Form().chkAntiVirus, 1);
    std::unique_ptr<Child> second;
    bool secondAliveAtClose = false, displaysRanMeanwhile = false;
    SlowBoxes boxes;
    boxes.onOpen = [&](HWND) {
        if (second) {
            boxes.closeWhen = nullptr;
            boxes.keepOpen = 100;
            return;
        }
        // A second dangerous process appears while the first report is up.
        second = std::make_unique<Child>(L"", Dangerous());
        second->WaitReady();
        Form().SetPanelText(3, L"-");
        // Open until a tick has run inside it (it writes the displays).
        boxes.keepOpen = 20000;
        boxes.closeWhen = [&] { return Form().PanelText(3) != L"-"; };
    };
    boxes.onClose = [&](HWND) {
        if (!second || boxes.texts.size() != 1) return;
        secondAliveAtClose = WaitForSingleObject(second->Process(), 0) == WAIT_TIMEOUT;
        displaysRanMeanwhile = Form().PanelText(3) != L"-";
    };

    Child first(L"", Dangerous());
    ASSERT_TRUE(first.WaitReady());
    StartTimers();
    EXPECT_TRUE(Pump([&] { return boxes.texts.size() >= 2; }, 20000));
    StopTimers();

    ASSERT_GE(boxes.texts.size(), 2u);
    EXPECT_NE(boxes.texts[0].find(L"mxdanger.exe [" + std::to_wstring(first.Pid()) + L"]"), std::wstring::npos);
    EXPECT_TRUE(secondAliveAtClose) << "no refresh ran while the first report was open";
    EXPECT_TRUE(displaysRanMeanwhile) << "the ticks still updated the displays";
    EXPECT_NE(boxes.texts[1].find(L"[" + std::to_wstring(second->Pid()) + L"]"), std::wstring::npos);
    EXPECT_TRUE(first.WaitExit(5000));
    EXPECT_TRUE(second->WaitExit(5000));
    EXPECT_EQ(boxes.texts.size(), 2u);
}

TEST_F(DangerousName, TicksInsideAnotherHandlersBoxStillRefresh) {
    std::unique_ptr<Child> started;
    bool listedWhileOpen = false;
    SlowBoxes boxes;
    boxes.onOpen = [&](HWND) {
        started = std::make_unique<Child>();
        started->WaitReady();
    };
    // Open until the helper is listed, or the deadline.
    boxes.keepOpen = 20000;
    boxes.closeWhen = [&] { return started && Row(started->Pid()) > 0; };
    boxes.onClose = [&](HWND) { listedWhileOpen = started && Row(started->Pid()) > 0; };
    StartTimers();
    vb::MsgBox(Form().Hwnd(), L"等待", MB_OK | MB_ICONINFORMATION);
    StopTimers();
    EXPECT_TRUE(listedWhileOpen);
}
