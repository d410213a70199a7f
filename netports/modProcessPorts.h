#pragma once
// The ports page's first source: the IP helper's extended TCP and UDP tables,
// which carry each row's owning process (and, for TCP, the connection state).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/ListView.h"

namespace modProcessPorts {

// Rows as the extended tables lay them out (every field 32 bits; ports in
// network byte order in the low 16 bits).
struct TcpExRow {
    std::uint32_t state;
    std::uint32_t localAddr;
    std::uint32_t localPort;
    std::uint32_t remoteAddr;
    std::uint32_t remotePort;
    std::uint32_t pid;
};
struct UdpExRow {
    std::uint32_t localAddr;
    std::uint32_t localPort;
    std::uint32_t pid;
};

// Where the two tables come from.  The default asks the IP helper library,
// looked up at run time: the old "...ExTableFromStack" function where the
// system exports it, otherwise the owner-PID table of GetExtended...Table
// (IPv4, sorted).  Each read answers 0 with the rows in table order, or the
// library's non-zero result; it raises vb::Error 48 when the library cannot
// be loaded and 453 when it has neither function.
class ExTables {
public:
    virtual ~ExTables() = default;
    virtual unsigned long ReadTcpTable(std::vector<TcpExRow>& rows);
    virtual unsigned long ReadUdpTable(std::vector<UdpExRow>& rows);
    static ExTables& Platform();
};

// GetExtendedTcpTable's and GetExtendedUdpTable's shape.
using GetExtendedTableFn = unsigned long(__stdcall*)(void* table, unsigned long* size, int sorted,
                                                     unsigned long family, int tableClass, unsigned long reserved);

// The owner-PID tables through functions of that shape: the platform's
// source where the old functions are missing.  Each call builds the whole
// table, owners included, so a read starts from the largest size its table
// has asked for, also after a read that failed, and grows from there.
class ExtendedTables : public ExTables {
public:
    ExtendedTables(GetExtendedTableFn tcp, GetExtendedTableFn udp) : tcp_(tcp), udp_(udp) {}
    unsigned long ReadTcpTable(std::vector<TcpExRow>& rows) override;
    unsigned long ReadUdpTable(std::vector<UdpExRow>& rows) override;

private:
    GetExtendedTableFn tcp_, udp_;
    unsigned long tcpSize_ = 64 * 1024, udpSize_ = 64 * 1024;
};

// One table as ListPortsFromExTables reads it: a read that fails is tried
// again, a few times, before its result is answered.  Under Wine a read fails
// now and then while sockets open and close elsewhere (the table changes
// size while it is built).
unsigned long ReadTcpRows(ExTables& tables, std::vector<TcpExRow>& rows);
unsigned long ReadUdpRows(ExTables& tables, std::vector<UdpExRow>& rows);

// lvwPorts's five columns: "协议", "端口" (shows SubItems(2)), "状态" (shows
// SubItems(1)), "PID", "进程".
void AddPortColumns(ui::ListView& lvw);

// Clears the list and adds a PortListRow per TCP row, then per UDP row.  A
// table that cannot be read (ReadTcpRows, ReadUdpRows) is reported in a box
// ("无法获取 TCP Table！  " ...); every run-time error is raised to the caller.
void ListPortsFromExTables(ui::ListView& lvw, ExTables& tables = ExTables::Platform());

std::wstring TcpStateName(long state);  // "监听中" ...; empty outside 1..12
long PortFromNetworkOrder(long value);  // 0x5000 -> 80
// "System Idle Process" for 0, "System" for 4, otherwise the process list's
// reader (modEnumProcess::GetProcessPath); empty when it cannot be read.
std::wstring GetProcessPath(long pid);

}  // namespace modProcessPorts
