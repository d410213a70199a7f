// The port list from the extended tables: live loopback sockets of a child
// process, and injected table rows for what the sandbox's tables cannot show
// (owner PIDs, failures, odd values).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "netports/modProcessPorts.h"
#include "netports/tests/test_ports_window.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "tests/helpers/TestSupport.h"

using modProcessPorts::TcpExRow;
using modProcessPorts::UdpExRow;
using portstest::PortsWindow;

namespace {

std::uint32_t NetPort(unsigned port) { return ((port & 0xFF) << 8) | (port >> 8); }

class FakeTables : public modProcessPorts::ExTables {
public:
    unsigned long tcpResult = 0, udpResult = 0;  // answered by the failing reads
    int tcpFailing = 1000, udpFailing = 1000;       // how many reads fail before the rows come
    std::vector<TcpExRow> tcp;
    std::vector<UdpExRow> udp;
    bool missing = false;
    int tcpReads = 0, udpReads = 0;

    unsigned long ReadTcpTable(std::vector<TcpExRow>& rows) override {
        if (missing) throw vb::Error(453, L"modProcessPorts.ListPortsFromExTables", L"Specified DLL function not found");
        return Read(tcpResult, ++tcpReads <= tcpFailing, tcp, rows);
    }
    unsigned long ReadUdpTable(std::vector<UdpExRow>& rows) override {
        return Read(udpResult, ++udpReads <= udpFailing, udp, rows);
    }

private:
    template <class Row>
    static unsigned long Read(unsigned long result, bool failing, const std::vector<Row>& table,
                              std::vector<Row>& rows) {
        if (!result || !failing) result = 0;
        rows = result ? std::vector<Row>{} : table;
        return result;
    }
};

// The system's tables, each read's result kept for the failure message.
class RecordedTables : public modProcessPorts::ExTables {
public:
    std::vector<unsigned long> tcpResults, udpResults;

    unsigned long ReadTcpTable(std::vector<TcpExRow>& rows) override {
        tcpResults.push_back(ExTables::ReadTcpTable(rows));
        return tcpResults.back();
    }
    unsigned long ReadUdpTable(std::vector<UdpExRow>& rows) override {
        udpResults.push_back(ExTables::ReadUdpTable(rows));
        return udpResults.back();
    }
};

std::string Results(const std::vector<unsigned long>& results) {
    std::string s;
    for (unsigned long r : results) s += " " + std::to_string(r);
    return s;
}

}  // namespace

TEST(PortHelpers, TcpStateNameCoversEveryStateValue) {
    const wchar_t* expected[] = {L"已关闭",   L"监听中",   L"同步发送", L"同步接收", L"建立连接", L"最终等待1",
                                 L"最终等待2", L"等待关闭", L"关闭中",   L"最终确认", L"等待中",   L"可删除"};
    for (long state = 1; state <= 12; ++state) EXPECT_EQ(modProcessPorts::TcpStateName(state), expected[state - 1]);
    for (long state : {0L, 13L, -1L, 0x7FFFFFFFL}) EXPECT_EQ(modProcessPorts::TcpStateName(state), L"") << state;
}

TEST(PortHelpers, PortFromNetworkOrderReadsTheLowWordBigEndian) {
    EXPECT_EQ(modProcessPorts::PortFromNetworkOrder(0), 0);
    EXPECT_EQ(modProcessPorts::PortFromNetworkOrder(0x5000), 80);
    EXPECT_EQ(modProcessPorts::PortFromNetworkOrder(0x901F), 8080);
    EXPECT_EQ(modProcessPorts::PortFromNetworkOrder(0xFFFF), 65535);
    EXPECT_EQ(modProcessPorts::PortFromNetworkOrder(static_cast<long>(0xABCD5000)), 80);  // high word ignored
}

TEST(PortHelpers, GetProcessPathNamesTheTwoSystemProcessesAndReadsOthers) {
    EXPECT_EQ(modProcessPorts::GetProcessPath(0), L"System Idle Process");
    EXPECT_EQ(modProcessPorts::GetProcessPath(4), L"System");
    EXPECT_EQ(portstest::Lower(modProcessPorts::GetProcessPath(static_cast<long>(GetCurrentProcessId()))),
              portstest::Lower(portstest::OwnExePath()));
    EXPECT_EQ(modProcessPorts::GetProcessPath(0x7FFFFFF0), L"");
}

TEST(PortColumns, FiveLeftAlignedColumnsWithPortAndStateBoundCrosswise) {
    PortsWindow w;
    ui::ListView& lvw = w.lvw;
    ASSERT_EQ(lvw.ColumnCount(), 5);
    const wchar_t* headers[] = {L"协议", L"端口", L"状态", L"PID", L"进程"};
    long widths[] = {1587, 1587, 1764, 1587, 15875};
    int shows[] = {0, 2, 1, 3, 4};
    for (int c = 1; c <= 5; ++c) {
        EXPECT_EQ(lvw.ColumnHeader(c), headers[c - 1]);
        EXPECT_NEAR(lvw.ColumnWidth(c), widths[c - 1], vb::TwipsPerPixelX());
        EXPECT_EQ(lvw.ColumnSubItem(c), shows[c - 1]);
        LVCOLUMNW col{};
        col.mask = LVCF_FMT;
        ASSERT_TRUE(ListView_GetColumn(lvw.Hwnd(), c - 1, &col));
        EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    }
}

TEST(PortColumns, ColumnsWithoutABindingStillShowTheCellOfTheirPosition) {
    PortsWindow w;
    ui::ListView plain;
    plain.Create(w.Window(), 2, RECT{0, 0, 300, 200});
    plain.AddColumn(L"a", 1000, ui::Align::Left);
    plain.AddColumn(L"b", 1000, ui::Align::Right);
    plain.AddColumn(L"c", 1000, ui::Align::Center);
    int i = plain.Add(L"k", L"text");
    plain.SetSubItem(i, 2, L"two");
    plain.SetSubItem(i, 1, L"one");
    wchar_t shown[32];
    const wchar_t* expected[] = {L"text", L"one", L"two"};
    for (int c = 0; c < 3; ++c) {
        ListView_GetItemText(plain.Hwnd(), 0, c, shown, 32);
        EXPECT_EQ(std::wstring(shown), expected[c]);
        EXPECT_EQ(plain.ColumnSubItem(c + 1), c);
    }
}

TEST(ExTablesList, InjectedRowsGiveOneRowEachInTableOrderTcpFirst) {
    testsupport::Child child(L"--tcp");
    ASSERT_TRUE(child.WaitReady());
    FakeTables tables;
    DWORD childPid = child.Pid();
    tables.tcp = {{2, 0x0100007F, 0x5000, 0, 0, 0},
                  {5, 0x0100007F, 0x901F, 0x0100007F, NetPort(4000), 4},
                  {99, 0, 0xFFFF, 0, 0, childPid},
                  {1, 0, NetPort(1), 0, 0, 0x7FFFFFF0}};
    tables.udp = {{0x0100007F, NetPort(53), childPid}, {0, 0, 0}};
    PortsWindow w;
    w.lvw.Add(L"", L"old row");
    testsupport::MessageBoxAnswerer boxes;

    modProcessPorts::ListPortsFromExTables(w.lvw, tables);

    EXPECT_TRUE(boxes.Boxes().empty());
    ASSERT_EQ(w.lvw.Count(), 6);
    EXPECT_EQ(w.ControlRows(), 6);
    struct Expect { const wchar_t* protocol; const wchar_t* state; const wchar_t* port; std::wstring pid; std::wstring path; };
    std::wstring childPath = portstest::Lower(testsupport::TestChildPath());
    Expect rows[] = {{L"TCP", L"监听中", L"80", L"0", L"System Idle Process"},
                     {L"TCP", L"建立连接", L"8080", L"4", L"System"},
                     {L"TCP", L"", L"65535", std::to_wstring(childPid), childPath},
                     {L"TCP", L"已关闭", L"1", L"2147483632", L""},
                     {L"UDP", L"监听中", L"53", std::to_wstring(childPid), childPath},
                     {L"UDP", L"监听中", L"0", L"0", L"System Idle Process"}};
    for (int i = 1; i <= 6; ++i) {
        const Expect& e = rows[i - 1];
        SCOPED_TRACE(i);
        EXPECT_EQ(w.lvw.Key(i), L"");
        EXPECT_EQ(w.lvw.Text(i), e.protocol);
        EXPECT_EQ(w.lvw.SubItem(i, 1), e.state);
        EXPECT_EQ(w.lvw.SubItem(i, 2), e.port);
        EXPECT_EQ(w.lvw.SubItem(i, 3), e.pid);
        EXPECT_EQ(portstest::Lower(w.lvw.SubItem(i, 4)), portstest::Lower(e.path));
        // The control shows each value under its own header.
        EXPECT_EQ(w.Shown(i, 1), e.protocol);
        EXPECT_EQ(w.Shown(i, 2), e.port);
        EXPECT_EQ(w.Shown(i, 3), e.state);
        EXPECT_EQ(w.Shown(i, 4), e.pid);
        EXPECT_EQ(portstest::Lower(w.Shown(i, 5)), portstest::Lower(e.path));
    }
}

TEST(ExTablesList, TablesOfZeroRowsGiveNoRowsAndNoMessage) {
    FakeTables tables;
    PortsWindow w;
    testsupport::MessageBoxAnswerer boxes;
    modProcessPorts::ListPortsFromExTables(w.lvw, tables);
    EXPECT_EQ(w.lvw.Count(), 0);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(ExTablesList, UnavailableTablesAreReportedAndTheOtherProtocolStillListed) {
    PortsWindow w;
    {
        FakeTables tables;
        tables.tcpResult = 232;
        tables.tcp = {{2, 0, NetPort(7), 0, 0, 0}};
        tables.udp = {{0, NetPort(9), 0}};
        testsupport::MessageBoxAnswerer boxes;
        modProcessPorts::ListPortsFromExTables(w.lvw, tables);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].title, L"提示");
        EXPECT_EQ(boxes.Boxes()[0].text, L"无法获取 TCP Table！  ");
        EXPECT_EQ(boxes.Boxes()[0].icon, static_cast<UINT>(MB_ICONERROR));
        ASSERT_EQ(w.lvw.Count(), 1);
        EXPECT_EQ(w.lvw.Text(1), L"UDP");
        EXPECT_EQ(w.lvw.SubItem(1, 2), L"9");
    }
    {
        FakeTables tables;
        tables.udpResult = 50;
        tables.tcp = {{2, 0, NetPort(7), 0, 0, 0}};
        testsupport::MessageBoxAnswerer boxes;
        modProcessPorts::ListPortsFromExTables(w.lvw, tables);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, L"无法获取 UDP Table！  ");
        EXPECT_EQ(boxes.Boxes()[0].icon, static_cast<UINT>(MB_ICONERROR));
        ASSERT_EQ(w.lvw.Count(), 1);  // the TCP rows stay
        EXPECT_EQ(w.lvw.Text(1), L"TCP");
        EXPECT_EQ(tables.udpReads, 3) << "a failing read is tried again before it is reported";
    }
}

// Under Wine a read of the system's tables fails now and then while sockets
// open and close elsewhere: the page reads again instead of reporting it.
TEST(ExTablesList, ATableReadThatFailsOnceIsReadAgainAndNotReported) {
    for (bool tcpFails : {true, false}) {
        SCOPED_TRACE(tcpFails ? "TCP" : "UDP");
        FakeTables tables;
        (tcpFails ? tables.tcpResult : tables.udpResult) = 122;  // ERROR_INSUFFICIENT_BUFFER
        (tcpFails ? tables.tcpFailing : tables.udpFailing) = 1;
        tables.tcp = {{2, 0, NetPort(7), 0, 0, 0}};
        tables.udp = {{0, NetPort(9), 0}};
        PortsWindow w;
        testsupport::MessageBoxAnswerer boxes;
        modProcessPorts::ListPortsFromExTables(w.lvw, tables);
        EXPECT_TRUE(boxes.Boxes().empty());
        ASSERT_EQ(w.lvw.Count(), 2);
        EXPECT_EQ(w.lvw.SubItem(1, 2), L"7");
        EXPECT_EQ(w.lvw.SubItem(2, 2), L"9");
        EXPECT_EQ(tables.tcpReads, tcpFails ? 2 : 1);
        EXPECT_EQ(tables.udpReads, tcpFails ? 1 : 2);
    }
}

namespace {

// A table of 200,000 bytes whose first five builds fail however large the
// buffer (sockets opening and closing meanwhile): the buffer each call got.
std::vector<unsigned long> g_buffers;
unsigned long __stdcall ChangingTable(void* table, unsigned long* size, int, unsigned long, int, unsigned long) {
    constexpr unsigned long kNeeded = 200000;
    g_buffers.push_back(*size);
    if (g_buffers.size() <= 5 || *size < kNeeded) {
        *size = kNeeded;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memset(table, 0, 4);  // no rows
    return 0;
}

}  // namespace

// A read that failed has grown the buffer: the next read starts there rather
// than building the whole table again into the size of the last success.
TEST(ExTablesList, AFailedReadKeepsTheSizeTheTableAskedFor) {
    g_buffers.clear();
    modProcessPorts::ExtendedTables tables(ChangingTable, ChangingTable);
    std::vector<TcpExRow> rows;
    EXPECT_EQ(modProcessPorts::ReadTcpRows(tables, rows), 0u);
    ASSERT_EQ(g_buffers.size(), 6u) << "five failed builds of the first read, then one";
    for (size_t i = 1; i < g_buffers.size(); ++i) EXPECT_GE(g_buffers[i], 200000u) << "call " << i + 1;
}

TEST(ExTablesList, MissingTableFunctionsReachTheCaller) {
    FakeTables tables;
    tables.missing = true;
    PortsWindow w;
    try {
        modProcessPorts::ListPortsFromExTables(w.lvw, tables);
        FAIL() << "no error raised";
    } catch (const vb::Error& e) {
        EXPECT_EQ(e.Number(), 453);
    }
    EXPECT_EQ(tables.udpReads, 0);
}

TEST(ExTablesList, LiveLoopbackSocketsOfAChildAreListed) {
    testsupport::Child child(L"--tcp --udp --pair");
    ASSERT_TRUE(child.WaitReady());
    ASSERT_NE(child.TcpPort(), 0);
    ASSERT_NE(child.UdpPort(), 0);
    ASSERT_NE(child.TcpPeerPort(), 0);
    PortsWindow w;
    testsupport::MessageBoxAnswerer boxes;
    RecordedTables tables;

    modProcessPorts::ListPortsFromExTables(w.lvw, tables);

    for (const testsupport::BoxRecord& box : boxes.Boxes())
        ADD_FAILURE() << "box: " << box.text << "; TCP reads:" << Results(tables.tcpResults)
                      << "; UDP reads:" << Results(tables.udpResults);
    int listen = w.Find(L"TCP", child.TcpPort());
    ASSERT_NE(listen, 0) << "listening port " << child.TcpPort();
    EXPECT_EQ(w.lvw.SubItem(listen, 1), L"监听中");
    EXPECT_EQ(w.Shown(listen, 3), L"监听中");
    EXPECT_EQ(w.Shown(listen, 2), std::to_wstring(child.TcpPort()));

    int peer = w.Find(L"TCP", child.TcpPeerPort());
    ASSERT_NE(peer, 0) << "connected port " << child.TcpPeerPort();
    EXPECT_EQ(w.lvw.SubItem(peer, 1), L"建立连接");

    int udp = w.Find(L"UDP", child.UdpPort());
    ASSERT_NE(udp, 0) << "bound port " << child.UdpPort();
    EXPECT_EQ(w.lvw.SubItem(udp, 1), L"监听中");

    // Every row's PID cell agrees with its path cell.
    bool ownersKnown = false;
    for (int i = 1; i <= w.lvw.Count(); ++i) {
        long pid = std::stol(w.lvw.SubItem(i, 3));
        ownersKnown = ownersKnown || pid != 0;
        EXPECT_EQ(w.lvw.SubItem(i, 4), modProcessPorts::GetProcessPath(pid)) << i;
    }
    // Wine on some machines cannot map sockets to processes and names the
    // idle process as the owner of every row.
    if (!ownersKnown) GTEST_SKIP() << "the system's tables name no owner for any port";
    // The helper's ports carry the helper's identifier and image path.
    for (int i : {listen, peer, udp}) {
        EXPECT_EQ(w.lvw.SubItem(i, 3), std::to_wstring(child.Pid())) << i;
        EXPECT_EQ(w.Shown(i, 4), std::to_wstring(child.Pid())) << i;
        EXPECT_EQ(portstest::Lower(w.lvw.SubItem(i, 4)), portstest::Lower(testsupport::TestChildPath())) << i;
    }

}
