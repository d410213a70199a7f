#pragma once
// The ports page's second source, for systems whose IP helper cannot say who
// owns a port: walk the system handle table, ask the transport driver for the
// local port of every TCP and UDP device handle, and keep one owner per
// protocol and port.  It knows no connection state.
#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>

#include "netports/modProcessPorts.h"
#include "platform/ui/ListView.h"

namespace modProcessPorts2 {

// What the walk asks the system.  The default is the real platform (ntdll
// entry points looked up at run time); each member behaves like the call it
// is named after.  May be called from a second thread (the name query).
class HandleSystem {
public:
    virtual ~HandleSystem() = default;
    virtual NTSTATUS QuerySystemInformation(ULONG infoClass, void* buffer, ULONG length, ULONG* returned);
    virtual HANDLE OpenProcess(DWORD access, DWORD pid);
    // The copy in this process, or nullptr.
    virtual HANDLE DuplicateHandle(HANDLE process, HANDLE source, DWORD access);
    virtual NTSTATUS QueryObject(HANDLE object, ULONG infoClass, void* buffer, ULONG length, ULONG* returned);
    virtual NTSTATUS DeviceIoControlFile(HANDLE file, HANDLE event, IO_STATUS_BLOCK* status, ULONG code,
                                         void* input, ULONG inputLength, void* output, ULONG outputLength);
    // Cancels the request whose status block this is.
    virtual void CancelIo(HANDLE file, IO_STATUS_BLOCK* status);
    virtual void CloseHandle(HANDLE handle);
    static HandleSystem& Platform();
};

// The handle table as the system lays it out.  Class 16 has 16-bit process
// ids and handle values; class 64 (where offered) has full-width ones.
constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kSystemExtendedHandleInformation = 64;
struct HandleTableEntry {  // class 16, after a 32-bit count
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT handle;
    void* object;
    ULONG grantedAccess;
};
struct HandleTableInfo {
    ULONG count;
    HandleTableEntry entries[1];
};
struct HandleTableEntryEx {  // class 64, after a count and a reserved word
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTableInfoEx {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleTableEntryEx entries[1];
};

// One entry of the table, whichever class it came from.
struct HandleEntry {
    ULONG_PTR pid = 0;
    ULONG_PTR handle = 0;
    ULONG grantedAccess = 0;
    ULONG_PTR object = 0;  // with pid and handle: tells a reused handle value apart
};

// IOCTL_TDI_QUERY_INFORMATION with TDI_QUERY_ADDRESS_INFO: the request and
// the answer, whose IP record starts with the local port in network order.
constexpr ULONG kTdiQueryInformation = 0x210012;
struct TdiQueryRequest {
    unsigned char header[16];
    std::uint32_t queryType;  // 3
    std::uint32_t connectionInformation;
};
constexpr size_t kTdiPortOffset = 12;
constexpr size_t kTdiAnswerSize = 52;

// One owner per protocol and port; 0 means none known.  Emptied at the start
// of every walk.
struct PortOwners {
    long TcpOwnerPid = 0;
    long UdpOwnerPid = 0;
};
extern PortOwners PortOwnerTable[65536];

// Hides the state column (width 0), clears the list, fills PortOwnerTable and
// adds one row per owned port, in port order, TCP before UDP.  Shows nothing.
void ListPortsFromHandles(ui::ListView& lvw, HandleSystem& system = HandleSystem::Platform());

// Reads the handle table and probes every entry; always true.
bool BuildPortTable(HandleSystem& system = HandleSystem::Platform());
// Records the entry's owner when it is a \Device\Tcp or \Device\Udp handle
// with a known local port.  Every handle it opens is closed again.
void ProbeHandle(const HandleEntry& entry, HandleSystem& system = HandleSystem::Platform());
// The local port of a transport handle; 0 when the driver does not answer
// with success at once.
long QueryTdiLocalPort(HANDLE handle, HandleSystem& system = HandleSystem::Platform());
std::wstring TrimAtNull(const std::wstring& text);  // empty when there is no NUL
std::wstring GetOwnerPath(long pid);  // modEnumProcess::GetProcessImagePath: not normalised

// The ports refresh: the extended tables first; on any run-time error of
// theirs, the handle walk on the same list.
void ListPorts(ui::ListView& lvw, modProcessPorts::ExTables& tables = modProcessPorts::ExTables::Platform(),
               HandleSystem& system = HandleSystem::Platform());

}  // namespace modProcessPorts2
