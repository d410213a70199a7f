// The live process list against real child processes.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "ListFixture.h"
#include "tests/helpers/TestSupport.h"

using testsupport::Child;

namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

}  // namespace

TEST_F(ProcessListTest, NewProcessGetsEveryFieldWithinOnePass) {
    Refresh();
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    int i = Row(child.Pid());
    ASSERT_GT(i, 0);
    EXPECT_EQ(list.Text(i), L"TestChild.exe");
    EXPECT_FALSE(list.SubItem(i, 1).empty()) << "owner";
    EXPECT_EQ(list.SubItem(i, 2), std::to_wstring(child.Pid()));
    EXPECT_EQ(list.SubItem(i, 3), L"") << "the CPU cell is the monitor's";
    EXPECT_FALSE(list.SubItem(i, 4).empty()) << "memory";
    EXPECT_EQ(list.SubItem(i, 5), L"标准");
    EXPECT_EQ(Lower(list.SubItem(i, 6)), Lower(testsupport::TestChildPath()));
    EXPECT_GE(list.SmallIcon(i), 0);
    EXPECT_EQ(list.ForeColor(i), 0xFF0000u) << "unknown to the knowledge base: blue";
}

TEST_F(ProcessListTest, EndedProcessLeavesWithinTwoPassesAndOurOwnRowStays) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    Refresh();
    ASSERT_GT(Row(child.Pid()), 0);
    child.RequestExit();
    ASSERT_TRUE(child.WaitExit());
    Refresh();
    Refresh();
    EXPECT_EQ(Row(child.Pid()), 0);
    EXPECT_GT(Row(GetCurrentProcessId()), 0) << "the list is never without the tool itself";
}

TEST_F(ProcessListTest, ToolhelpPathDropsAnEndedProcessOnePassLater) {
    owner.terminalServices = false;
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ASSERT_GT(Row(child.Pid()), 0);
    ASSERT_NE(std::find(owner.ids.begin(), owner.ids.end(), std::to_wstring(child.Pid())), owner.ids.end())
        << "the Toolhelp pass wrote the previous pass's identifiers";
    child.RequestExit();
    ASSERT_TRUE(child.WaitExit());
    Refresh();
    EXPECT_GT(Row(child.Pid()), 0) << "listed by the previous pass: it stays one pass";
    Refresh();
    EXPECT_EQ(Row(child.Pid()), 0);
    EXPECT_GT(Row(GetCurrentProcessId()), 0);
}

TEST_F(ProcessListTest, MemoryAndPriorityReadWithTheReadersAccess) {
    Child readable, queryOnly, closed;
    for (Child* c : {&readable, &queryOnly, &closed}) ASSERT_TRUE(c->WaitReady());
    // queryOnly grants &H400 but not &H410; closed grants nothing.
    owner.refuse = [&](DWORD access, DWORD pid) {
        return pid == closed.Pid() || (pid == queryOnly.Pid() && access != PROCESS_QUERY_INFORMATION);
    };
    for (int pass = 0; pass < 2; ++pass) {  // a new row, then an updated one
        Refresh();
        ASSERT_GT(Row(readable.Pid()), 0);
        EXPECT_FALSE(list.SubItem(Row(readable.Pid()), 4).empty());
        EXPECT_EQ(list.SubItem(Row(readable.Pid()), 5), L"标准");
        ASSERT_GT(Row(queryOnly.Pid()), 0);
        EXPECT_EQ(list.SubItem(Row(queryOnly.Pid()), 4), L"") << "the memory reader cannot open it";
        EXPECT_EQ(list.SubItem(Row(queryOnly.Pid()), 5), L"标准") << "the priority reader can";
        ASSERT_GT(Row(closed.Pid()), 0);
        EXPECT_EQ(list.SubItem(Row(closed.Pid()), 4), L"");
        EXPECT_EQ(list.SubItem(Row(closed.Pid()), 5), L"");
    }
}

TEST_F(ProcessListTest, TwoProcessesOfOneFileShareOneIcon) {
    Child a, b;
    ASSERT_TRUE(a.WaitReady());
    ASSERT_TRUE(b.WaitReady());
    Refresh();
    int ia = Row(a.Pid()), ib = Row(b.Pid());
    ASSERT_GT(ia, 0);
    ASSERT_GT(ib, 0);
    EXPECT_GE(list.SmallIcon(ia), 0);
    EXPECT_EQ(list.SmallIcon(ia), list.SmallIcon(ib));
    Child c;
    ASSERT_TRUE(c.WaitReady());
    Refresh();
    ia = Row(a.Pid());  // rows of other processes may have come and gone meanwhile
    EXPECT_EQ(list.SmallIcon(Row(c.Pid())), list.SmallIcon(ia)) << "a path already seen adds no picture";
    EXPECT_EQ(icons.IndexOf(list.SubItem(ia, 6)), list.SmallIcon(ia));
}

TEST_F(ProcessListTest, PriorityChangeShowsInOnePassAndColourStays) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    owner.colour = [](const std::wstring&) { return 0L; };
    Refresh();
    int i = Row(child.Pid());
    ASSERT_GT(i, 0);
    list.SetForeColor(i, 0xA8A8A8);  // as a pause would leave it
    ASSERT_TRUE(SetPriorityClass(child.Process(), BELOW_NORMAL_PRIORITY_CLASS));
    Refresh();
    i = Row(child.Pid());
    EXPECT_EQ(list.SubItem(i, 5), L"低于标准");
    EXPECT_EQ(list.ForeColor(i), 0xA8A8A8u) << "a refresh never rewrites a row's colour";
    ASSERT_TRUE(SetPriorityClass(child.Process(), IDLE_PRIORITY_CLASS));
    Refresh();
    EXPECT_EQ(list.SubItem(Row(child.Pid()), 5), L"低");
}

TEST_F(ProcessListTest, AutomaticEndingEndsNewDangerousProcessesAndReportsThem) {
    testsupport::TempDir dir;
    std::wstring danger = dir.File(L"DangerChild.exe");
    ASSERT_TRUE(CopyFileW(testsupport::TestChildPath().c_str(), danger.c_str(), FALSE));
    // Only a name of this test is dangerous: automatic ending also ends the new
    // processes of the test programs running beside this one (ctest -j).
    Child listedBefore(L"", danger);  // already listed when the option goes on: left alone
    ASSERT_TRUE(listedBefore.WaitReady());
    owner.colour = [](const std::wstring& name) { return name == L"DangerChild.exe" ? 255L : 0L; };
    Refresh();
    ASSERT_GT(Row(listedBefore.Pid()), 0);

    owner.autoKill = true;
    Child bad1(L"", danger), bad2(L"", danger);
    ASSERT_TRUE(bad1.WaitReady());
    ASSERT_TRUE(bad2.WaitReady());
    testsupport::MessageBoxAnswerer boxes;
    Refresh();
    EXPECT_TRUE(bad1.WaitExit(5000));
    EXPECT_TRUE(bad2.WaitExit(5000));
    EXPECT_EQ(Row(bad1.Pid()), 0);
    EXPECT_EQ(Row(bad2.Pid()), 0);
    EXPECT_GT(Row(listedBefore.Pid()), 0);
    EXPECT_EQ(WaitForSingleObject(listedBefore.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    const auto& box = boxes.Boxes()[0];
    EXPECT_EQ(box.title, L"提示");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(box.text.rfind(L"发现以下危险进程：  \n", 0), 0u) << std::string(box.text.begin(), box.text.end());
    EXPECT_NE(box.text.find(L"DangerChild.exe [" + std::to_wstring(bad1.Pid()) + L"]\n"), std::wstring::npos);
    EXPECT_NE(box.text.find(L"DangerChild.exe [" + std::to_wstring(bad2.Pid()) + L"]\n"), std::wstring::npos);
    EXPECT_NE(box.text.find(L"并已被成功结束。  "), std::wstring::npos);
}

TEST_F(ProcessListTest, HandlesStayFlatOverManyPasses) {
    // The list keeps a handle for each listed process, so the open handles rise
    // and fall with the machine's processes (other tests start theirs): a leak
    // is what is open beyond those.
    auto unaccounted = [] { return testsupport::CountOpenHandles() - modEnumProcess::CachedHandleCount(); };
    Child child;
    ASSERT_TRUE(child.WaitReady());
    for (int i = 0; i < 5; ++i) Refresh();
    // Started now, listed only during the passes; half of them end half-way.
    std::vector<std::unique_ptr<Child>> later(6);
    for (auto& c : later) {
        c = std::make_unique<Child>();
        ASSERT_TRUE(c->WaitReady());
    }
    size_t before = unaccounted();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 100; ++i) {
        if (i == 50) {
            for (int k = 0; k < 3; ++k) later[k]->RequestExit();
            for (int k = 0; k < 3; ++k) ASSERT_TRUE(later[k]->WaitExit());
        }
        Refresh();
    }
    for (int k = 0; k < 6; ++k) EXPECT_EQ(Row(later[k]->Pid()) > 0, k >= 3) << k;
    EXPECT_LE(unaccounted(), before + 2);
    EXPECT_LE(modEnumProcess::CachedHandleCount(), static_cast<size_t>(list.Count()));
}

TEST_F(ProcessListTest, RowsRemovedByOthersReleaseTheirHandles) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    size_t cached = modEnumProcess::CachedHandleCount();
    ASSERT_GT(cached, 0u);
    list.Clear();
    owner.ids.clear();
    Refresh();  // the Toolhelp pass drops every row when the previous ids are gone
    Refresh();
    EXPECT_LE(modEnumProcess::CachedHandleCount(), static_cast<size_t>(list.Count()));
}

TEST(ProcessFields, PathNormalisation) {
    using modEnumProcess::NormalizeImagePath;
    EXPECT_EQ(NormalizeImagePath(L"\\??\\C:\\WINDOWS\\system32\\winlogon.exe"), L"C:\\WINDOWS\\system32\\winlogon.exe");
    EXPECT_EQ(NormalizeImagePath(L"\\SystemRoot\\System32\\smss.exe"), L"C:\\WINDOWS\\system32\\smss.exe");
    EXPECT_EQ(NormalizeImagePath(L"D:\\Apps\\System32Tool\\x.exe"), L"D:\\Apps\\system32Tool\\x.exe")
        << "the rename is case-sensitive and applies anywhere";
    EXPECT_EQ(NormalizeImagePath(L"c:\\windows\\SYSTEM32\\a.exe"), L"c:\\windows\\SYSTEM32\\a.exe");
}

TEST(ProcessFields, FileNameFromPath) {
    using modEnumProcess::GetFileNameFromPath;
    EXPECT_EQ(GetFileNameFromPath(L"C:\\a\\b\\进程.exe"), L"进程.exe");
    EXPECT_EQ(GetFileNameFromPath(L"   "), L"");
    EXPECT_EQ(GetFileNameFromPath(L""), L"");
    EXPECT_EQ(GetFileNameFromPath(L"plain.exe"), L"plain.exe");
}

TEST(ProcessFields, ReadersForSpecialAndMissingProcesses) {
    using namespace modEnumProcess;
    EXPECT_EQ(GetProcessMemory(0), L"16");
    EXPECT_EQ(GetProcessUserByToken(0), L"SYSTEM");
    EXPECT_EQ(GetProcessUserByToken(4), L"SYSTEM");
    // An identifier no process has: empty texts, no failure.
    EXPECT_EQ(GetProcessPath(0x7FFFFFF0), L"");
    EXPECT_EQ(GetProcessMemory(0x7FFFFFF0), L"");
    EXPECT_EQ(GetProcessPriority(0x7FFFFFF0), L"");
    EXPECT_EQ(PriorityClassName(0x12345), L"");
    EXPECT_EQ(PriorityClassName(HIGH_PRIORITY_CLASS), L"高");
    EXPECT_EQ(PriorityClassName(ABOVE_NORMAL_PRIORITY_CLASS), L"高于标准");
    EXPECT_EQ(PriorityClassName(REALTIME_PRIORITY_CLASS), L"实时");
}

TEST(ProcessFields, ChinesePathSurvives) {
    testsupport::TempDir dir(L"进程测试");
    std::wstring exe = dir.File(L"测试进程.exe");
    ASSERT_TRUE(CopyFileW(testsupport::TestChildPath().c_str(), exe.c_str(), FALSE));
    Child child(L"", exe);
    ASSERT_TRUE(child.WaitReady());
    std::wstring path = modEnumProcess::GetProcessPath(static_cast<long>(child.Pid()));
    EXPECT_EQ(modEnumProcess::GetFileNameFromPath(path), L"测试进程.exe");
}
