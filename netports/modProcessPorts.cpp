#include "netports/modProcessPorts.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "sysaccess/modEnumProcess.h"

namespace modProcessPorts {

namespace {

constexpr wchar_t kSource[] = L"modProcessPorts.ListPortsFromExTables";
constexpr DWORD kAfInet = 2;
constexpr int kTcpTableOwnerPidAll = 5;  // TCP_TABLE_OWNER_PID_ALL
constexpr int kUdpTableOwnerPid = 1;     // UDP_TABLE_OWNER_PID

using AllocateExTableFn = DWORD(WINAPI*)(void** table, BOOL sorted, HANDLE heap, DWORD flags, DWORD family);

// Neither table function is in MinGW's import library, and a static import of
// one the system lacks would keep the program from loading: look them up.
HMODULE IpHelper() {
    static HMODULE module = LoadLibraryW(L"iphlpapi.dll");
    if (!module) throw vb::Error(48, kSource, L"Error in loading DLL");
    return module;
}

template <class Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(IpHelper(), name)));
}

// Copies count-prefixed rows out of a block of the given size, never past it.
template <class Row>
void CopyRows(const unsigned char* block, size_t size, std::vector<Row>& rows) {
    rows.clear();
    if (!block || size < sizeof(std::uint32_t)) return;
    std::uint32_t count;
    std::memcpy(&count, block, sizeof count);
    size_t fit = (size - sizeof count) / sizeof(Row);
    rows.resize(count < fit ? count : fit);
    if (!rows.empty()) std::memcpy(rows.data(), block + sizeof count, rows.size() * sizeof(Row));
}

// The old function returns a block of the process heap; it goes back there
// exactly once, whatever the result.
struct HeapBlock {
    HANDLE heap;
    void* block = nullptr;
    ~HeapBlock() {
        if (block) HeapFree(heap, 0, block);
    }
};

template <class Row>
DWORD ReadAllocated(AllocateExTableFn allocate, std::vector<Row>& rows) {
    HeapBlock table{GetProcessHeap()};
    DWORD result = allocate(&table.block, TRUE, table.heap, 2, kAfInet);
    if (result == 0 && table.block)
        CopyRows(static_cast<unsigned char*>(table.block), HeapSize(table.heap, 0, table.block), rows);
    return result;
}

// The first try gets a buffer as large as the table last needed rather than
// a size query; a table that grew is read again into the size it asks for
// (with a margin), a few times.  `lastSize` keeps the largest size asked for.
template <class Row>
DWORD ReadExtended(GetExtendedTableFn get, int tableClass, std::vector<Row>& rows, unsigned long& lastSize) {
    if (!get) throw vb::Error(453, kSource, L"Specified DLL function not found");
    unsigned long size = lastSize;
    std::vector<unsigned char> block;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int tries = 0; tries < 5 && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
        block.assign(size + 64 * sizeof(Row), 0);
        size = static_cast<unsigned long>(block.size());
        result = get(block.data(), &size, TRUE, kAfInet, tableClass, 0);
        if (result == 0 || result == ERROR_INSUFFICIENT_BUFFER) lastSize = std::max(lastSize, size);
    }
    if (result == 0) CopyRows(block.data(), block.size(), rows);
    return result;
}

ExtendedTables& PlatformExtended() {
    static ExtendedTables tables(Entry<GetExtendedTableFn>("GetExtendedTcpTable"),
                                 Entry<GetExtendedTableFn>("GetExtendedUdpTable"));
    return tables;
}

// Adds the rows of the list without repainting in between; ends the batch
// also when a row raises.
class Batch {
public:
    explicit Batch(ui::ListView& lvw) : lvw_(lvw) { lvw_.BeginUpdate(); }
    ~Batch() { lvw_.EndUpdate(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    ui::ListView& lvw_;
};

// Image paths of one refresh: a process owning many ports is opened once
// (opening another process for its modules is slow), and nothing is kept for
// the next refresh.
class PathsOfOneRefresh {
public:
    const std::wstring& Of(std::uint32_t pid) {
        auto it = paths_.find(pid);
        if (it == paths_.end()) it = paths_.emplace(pid, GetProcessPath(static_cast<long>(pid))).first;
        return it->second;
    }

private:
    std::unordered_map<std::uint32_t, std::wstring> paths_;
};

void AddRow(ui::ListView& lvw, PathsOfOneRefresh& paths, const wchar_t* protocol, std::uint32_t localPort,
            const std::wstring& state, std::uint32_t pid) {
    int i = lvw.Add(L"", protocol);
    lvw.SetSubItem(i, 2, std::to_wstring(PortFromNetworkOrder(static_cast<long>(localPort))));
    lvw.SetSubItem(i, 1, state);
    lvw.SetSubItem(i, 3, std::to_wstring(pid));
    lvw.SetSubItem(i, 4, paths.Of(pid));
}

constexpr int kTableReads = 3;

template <class Read>
unsigned long ReadAgainOnFailure(Read read) {
    unsigned long result = read();
    for (int i = 1; i < kTableReads && result != 0; ++i) result = read();
    return result;
}

void ShowFailure(ui::ListView& lvw, const wchar_t* text) {
    HWND owner = lvw.Hwnd() ? GetAncestor(lvw.Hwnd(), GA_ROOT) : nullptr;
    vb::MsgBox(owner, text, MB_OK | MB_ICONERROR);
}

}  // namespace

unsigned long ExTables::ReadTcpTable(std::vector<TcpExRow>& rows) {
    if (auto allocate = Entry<AllocateExTableFn>("AllocateAndGetTcpExTableFromStack"))
        return ReadAllocated(allocate, rows);
    return PlatformExtended().ReadTcpTable(rows);
}

unsigned long ExTables::ReadUdpTable(std::vector<UdpExRow>& rows) {
    if (auto allocate = Entry<AllocateExTableFn>("AllocateAndGetUdpExTableFromStack"))
        return ReadAllocated(allocate, rows);
    return PlatformExtended().ReadUdpTable(rows);
}

unsigned long ExtendedTables::ReadTcpTable(std::vector<TcpExRow>& rows) {
    return ReadExtended(tcp_, kTcpTableOwnerPidAll, rows, tcpSize_);
}

unsigned long ExtendedTables::ReadUdpTable(std::vector<UdpExRow>& rows) {
    return ReadExtended(udp_, kUdpTableOwnerPid, rows, udpSize_);
}

ExTables& ExTables::Platform() {
    static ExTables platform;
    return platform;
}

unsigned long ReadTcpRows(ExTables& tables, std::vector<TcpExRow>& rows) {
    return ReadAgainOnFailure([&] { return tables.ReadTcpTable(rows); });
}

unsigned long ReadUdpRows(ExTables& tables, std::vector<UdpExRow>& rows) {
    return ReadAgainOnFailure([&] { return tables.ReadUdpTable(rows); });
}

void AddPortColumns(ui::ListView& lvw) {
    lvw.AddColumn(L"协议", 1587, ui::Align::Left);
    lvw.AddColumn(L"端口", 1587, ui::Align::Left, 2);
    lvw.AddColumn(L"状态", 1764, ui::Align::Left, 1);
    lvw.AddColumn(L"PID", 1587, ui::Align::Left, 3);
    lvw.AddColumn(L"进程", 15875, ui::Align::Left, 4);
}

void ListPortsFromExTables(ui::ListView& lvw, ExTables& tables) {
    lvw.Clear();
    PathsOfOneRefresh paths;

    std::vector<TcpExRow> tcp;
    if (ReadTcpRows(tables, tcp) != 0) {
        ShowFailure(lvw, L"无法获取 TCP Table！  ");
    } else {
        Batch batch(lvw);
        for (const TcpExRow& row : tcp)
            AddRow(lvw, paths, L"TCP", row.localPort, TcpStateName(static_cast<long>(row.state)), row.pid);
    }

    std::vector<UdpExRow> udp;
    if (ReadUdpRows(tables, udp) != 0) {
        ShowFailure(lvw, L"无法获取 UDP Table！  ");
        return;
    }
    Batch batch(lvw);
    for (const UdpExRow& row : udp) AddRow(lvw, paths, L"UDP", row.localPort, L"监听中", row.pid);
}

std::wstring TcpStateName(long state) {
    static const wchar_t* const names[] = {L"已关闭",    L"监听中",    L"同步发送", L"同步接收",
                                           L"建立连接",  L"最终等待1", L"最终等待2", L"等待关闭",
                                           L"关闭中",    L"最终确认",  L"等待中",   L"可删除"};
    return state >= 1 && state <= 12 ? names[state - 1] : L"";
}

long PortFromNetworkOrder(long value) {
    auto field = static_cast<unsigned long>(value);
    return static_cast<long>((field & 0xFF) * 256 + ((field >> 8) & 0xFF));
}

std::wstring GetProcessPath(long pid) {
    if (pid == 0) return L"System Idle Process";
    if (pid == 4) return L"System";
    return modEnumProcess::GetProcessPath(pid);
}

}  // namespace modProcessPorts
