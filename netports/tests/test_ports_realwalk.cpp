// Both sources against the real system, with a child holding loopback ports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "netports/modProcessPorts2.h"
#include "netports/tests/test_ports_window.h"
#include "tests/helpers/TestSupport.h"

using portstest::PortsWindow;

namespace {

// The real system, counting what the walk asked of it.  Only this process
// and its child are opened: a copy of another test's file handle would keep
// that file open, and its next exclusive open would be refused.
class CountingSystem : public modProcessPorts2::HandleSystem {
public:
    explicit CountingSystem(DWORD child) : child_(child) {}
    std::atomic<int> opened{0}, named{0}, ownEntries{0};
    HANDLE OpenProcess(DWORD access, DWORD pid) override {
        ++opened;
        if (pid == GetCurrentProcessId()) ++ownEntries;
        if (pid != GetCurrentProcessId() && pid != child_) return nullptr;
        return HandleSystem::OpenProcess(access, pid);
    }
    NTSTATUS QueryObject(HANDLE object, ULONG infoClass, void* buffer, ULONG length, ULONG* returned) override {
        ++named;
        return HandleSystem::QueryObject(object, infoClass, buffer, length, returned);
    }

private:
    DWORD child_;
};

}  // namespace

TEST(RealSystem, TheHandleWalkFinishesQuicklyWithTheStateColumnHidden) {
    testsupport::Child child(L"--tcp --udp --pair");
    ASSERT_TRUE(child.WaitReady());
    PortsWindow w;
    testsupport::MessageBoxAnswerer boxes;
    const size_t handlesBefore = testsupport::CountOpenHandles();

    CountingSystem system(child.Pid());
    DWORD start = GetTickCount();
    modProcessPorts2::ListPortsFromHandles(w.lvw, system);
    DWORD elapsed = GetTickCount() - start;
    std::printf("handle walk: %lu ms, %d rows, %d entries opened, %d named\n", static_cast<unsigned long>(elapsed),
                w.lvw.Count(), system.opened.load(), system.named.load());

    // The table was really read: this process's own handles were among it.
    EXPECT_GT(system.ownEntries.load(), 0);
    EXPECT_GT(system.named.load(), 0);

    EXPECT_LT(elapsed, 20000u);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
    EXPECT_EQ(w.lvw.ColumnHeader(3), L"状态");
    for (int i = 1; i <= w.lvw.Count(); ++i) {
        EXPECT_TRUE(w.lvw.Text(i) == L"TCP" || w.lvw.Text(i) == L"UDP");
        long port = std::stol(w.lvw.SubItem(i, 2));
        EXPECT_TRUE(port > 0 && port <= 65535);
        EXPECT_EQ(w.lvw.SubItem(i, 1), L"");
    }
    // Every copy and process handle the walk made is closed again.
    EXPECT_GT(handlesBefore, 0u);
    EXPECT_LE(testsupport::CountOpenHandles(), handlesBefore + 4);  // the name-query thread's own
}

TEST(RealSystem, TheRefreshUsesTheTablesWhereTheyCanBeRead) {
    testsupport::Child child(L"--tcp --udp");
    ASSERT_TRUE(child.WaitReady());
    PortsWindow w;
    testsupport::MessageBoxAnswerer boxes;
    modProcessPorts2::ListPorts(w.lvw);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_GT(w.lvw.ColumnWidth(3), 0);
    int listen = w.Find(L"TCP", child.TcpPort());
    ASSERT_NE(listen, 0);
    EXPECT_EQ(w.Shown(listen, 3), L"监听中");
    EXPECT_NE(w.Find(L"UDP", child.UdpPort()), 0);
}
