// Ending, suspending and resuming real child processes.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "sysaccess/modCleanMemory.h"
#include "sysaccess/modKillProcess.h"
#include "sysaccess/modThread.h"
#include "tests/helpers/TestSupport.h"

using testsupport::Child;

TEST(KillProcess, EndsTheProcessItIsGiven) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    EXPECT_TRUE(modKillProcess::KillProcess(pid, reinterpret_cast<HWND>(1)));
    EXPECT_EQ(pid, static_cast<long>(child.Pid())) << "window 1 names no window: the identifier stays";
    EXPECT_TRUE(child.WaitExit(5000));
}

TEST(KillProcess, WindowZeroEndsTheSameProcess) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    EXPECT_TRUE(modKillProcess::KillProcess(pid, nullptr));
    EXPECT_TRUE(child.WaitExit(5000));
}

// The tool often ends a helper while it is still starting.  A helper with a
// console host of its own could leave that host behind, holding the test's
// output open until CTest gives up on the suite.
TEST(KillProcess, AHelperStartsNoProcessThatCouldOutliveIt) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    EXPECT_TRUE(testsupport::ChildProcessesOf(child.Pid(), child.Created()).empty());
    // Identifiers are reused: Wine's services were started by a process long
    // gone, and a helper that now holds its identifier must not end them.
    win::FileHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W e{sizeof e};
    for (BOOL ok = Process32FirstW(snap.get(), &e); ok; ok = Process32NextW(snap.get(), &e))
        if (e.th32ParentProcessID != 0 && !win::Handle(OpenProcess(SYNCHRONIZE, FALSE, e.th32ParentProcessID)))
            EXPECT_TRUE(testsupport::ChildProcessesOf(e.th32ParentProcessID, child.Created()).empty()) << e.th32ProcessID;
}

TEST(KillProcess, RefusesMissingProcessesAndTheToolItself) {
    long missing = 0x7FFFFFF0;
    EXPECT_FALSE(modKillProcess::KillProcess(missing, nullptr));
    long self = static_cast<long>(GetCurrentProcessId());
    EXPECT_FALSE(modKillProcess::KillProcess(self, nullptr));
}

TEST(SuspendResume, CountsFollowThePlatformsSuspendCount) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    EXPECT_EQ(modThread::SuspendProcess(pid), 0) << "was running";
    EXPECT_TRUE(child.Frozen());
    EXPECT_NE(child.Describe().find(L"suspended 1 times"), std::wstring::npos) << "what a stalled helper reports";
    EXPECT_EQ(modThread::SuspendProcess(pid), 1) << "already suspended once";
    EXPECT_EQ(modThread::ResumeProcess(pid), 2);
    EXPECT_TRUE(child.Frozen()) << "suspended twice needs two resumes";
    EXPECT_EQ(modThread::ResumeProcess(pid), 1) << "was suspended once, now runs";
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(modThread::ResumeProcess(pid), 0) << "resuming a running process";
}

TEST(SuspendResume, EveryThreadOfTheProcessStops) {
    Child child(L"--threads 3 --idle-threads 2");
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    EXPECT_EQ(modThread::SuspendProcess(pid), 0);
    EXPECT_TRUE(child.Frozen());
    EXPECT_EQ(modThread::ResumeProcess(pid), 1);
    EXPECT_TRUE(child.Runs());
}

TEST(SuspendResume, NoThreadsIsAFailureForPauseAndNothingForResume) {
    Child child;
    ASSERT_TRUE(child.WaitReady());
    long pid = static_cast<long>(child.Pid());
    child.Kill();
    EXPECT_EQ(modThread::SuspendProcess(pid), -1);
    EXPECT_EQ(modThread::ResumeProcess(pid), 0);
    EXPECT_EQ(modThread::SuspendProcess(0x7FFFFFF0), -1);
}

TEST(SuspendResume, TheToolNeverPausesItself) {
    EXPECT_EQ(modThread::SuspendProcess(static_cast<long>(GetCurrentProcessId())), -1);
}

TEST(SuspendResume, ThreadListHoldsTheWholeSystemAfterAnEmptyEntry) {
    Child child(L"--idle-threads 2");
    ASSERT_TRUE(child.WaitReady());
    std::vector<THREADENTRY32> list;
    long n = modThread::GetThreadList(list, 0);
    ASSERT_GT(n, 3);
    EXPECT_EQ(static_cast<long>(list.size()), n + 1);
    EXPECT_EQ(list[0].th32ThreadID, 0u);
    int ofChild = 0;
    for (long i = 1; i <= n; ++i) ofChild += list[static_cast<size_t>(i)].th32OwnerProcessID == child.Pid();
    EXPECT_EQ(ofChild, 3);
}

TEST(CleanMemory, TrimsEveryProcessWithoutHarm) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    modCleanMemory::CleanMemory();
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(WaitForSingleObject(child.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}
