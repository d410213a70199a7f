#include "netports/modProcessPorts2.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "platform/win/Handle.h"
#include "sysaccess/modEnumProcess.h"

namespace modProcessPorts2 {

PortOwners PortOwnerTable[65536];

// The layouts the system uses for a 32-bit program.
static_assert(sizeof(void*) != 4 || (sizeof(HandleTableEntry) == 16 && offsetof(HandleTableInfo, entries) == 4 &&
                                     sizeof(HandleTableEntryEx) == 28 && offsetof(HandleTableInfoEx, entries) == 8));
static_assert(sizeof(TdiQueryRequest) == 24);

namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);
constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BB);

constexpr ULONG kObjectNameInformation = 1;
constexpr DWORD kDuplicateAccess = 0x101F0000;

// The handle table: start with room for a few thousand entries, grow from
// the length the system asks for, and give up after a bounded number of tries
// or a size no handle table reaches.
constexpr ULONG kTableFirstSize = 64 * 1024;
constexpr int kTableTries = 8;
constexpr ULONG kTableMaxSize = 256u * 1024 * 1024;

// A name query that has not answered by then is given up (it can block for
// good on a synchronous file with a read pending).
constexpr DWORD kNameQueryMs = 250;
// A driver request still pending after this is cancelled; one that has not
// completed after the cancel keeps its buffers until it does.
constexpr DWORD kDriverWaitMs = 50;
constexpr DWORD kCancelWaitMs = 500;

// ---------------------------------------------------------------- platform

template <class Fn>
Fn NtEntry(const char* name) {
    static HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

using NtQuerySystemInformationFn = NTSTATUS(NTAPI*)(ULONG, void*, ULONG, ULONG*);
using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using NtDeviceIoControlFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, void*, void*, IO_STATUS_BLOCK*, ULONG, void*,
                                                 ULONG, void*, ULONG);
using NtCancelIoFileExFn = NTSTATUS(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, IO_STATUS_BLOCK*);
using NtCancelIoFileFn = NTSTATUS(NTAPI*)(HANDLE, IO_STATUS_BLOCK*);

// ---------------------------------------------------------------- handle table

bool TableTooSmall(NTSTATUS status) {
    return status == kStatusInfoLengthMismatch || status == kStatusBufferTooSmall ||
           status == kStatusBufferOverflow;
}

// One call of the given class, growing the buffer as the system asks.  False
// when the class is not offered.
bool ReadTableClass(HandleSystem& system, ULONG infoClass, std::vector<unsigned char>& table) {
    ULONG size = kTableFirstSize;
    for (int tries = 0; tries < kTableTries; ++tries) {
        table.assign(size, 0);
        ULONG returned = 0;
        NTSTATUS status = system.QuerySystemInformation(infoClass, table.data(), size, &returned);
        if (status == kStatusSuccess) {
            if (returned > 0 && returned < size) table.resize(returned);
            return true;
        }
        if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented || status == kStatusNotSupported)
            return false;
        table.clear();
        if (!TableTooSmall(status)) return true;  // nothing to probe
        // The table may grow again before the next call: ask for a margin.
        ULONG64 next = std::max<ULONG64>(ULONG64{size} * 2, ULONG64{returned} + returned / 8 + 4096);
        if (next > kTableMaxSize) break;
        size = static_cast<ULONG>(next);
    }
    table.clear();
    return true;
}

template <class Info, class Entry>
std::vector<HandleEntry> ParseTable(const std::vector<unsigned char>& table) {
    std::vector<HandleEntry> out;
    constexpr size_t head = offsetof(Info, entries);
    if (table.size() < head) return out;
    Info info;
    std::memcpy(&info, table.data(), head);
    size_t fit = (table.size() - head) / sizeof(Entry);
    size_t count = std::min<size_t>(info.count, fit);  // never past what the system wrote
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        Entry e;
        std::memcpy(&e, table.data() + head + i * sizeof(Entry), sizeof e);
        out.push_back({static_cast<ULONG_PTR>(e.processId), static_cast<ULONG_PTR>(e.handle), e.grantedAccess,
                       reinterpret_cast<ULONG_PTR>(e.object)});
    }
    return out;
}

std::vector<HandleEntry> ReadHandleTable(HandleSystem& system) {
    std::vector<unsigned char> table;
    if (ReadTableClass(system, kSystemExtendedHandleInformation, table))
        return ParseTable<HandleTableInfoEx, HandleTableEntryEx>(table);
    ReadTableClass(system, kSystemHandleInformation, table);
    return ParseTable<HandleTableInfo, HandleTableEntry>(table);
}

// ---------------------------------------------------------------- bounded name query

// The object name buffer: the counted string, then room for the 11
// characters of "\Device\Tcp" and a NUL.
struct NameBuffer {
    UNICODE_STRING name;
    wchar_t text[12];
};
static_assert(sizeof(void*) != 4 || sizeof(NameBuffer) == 32);

bool SameHandle(const HandleEntry& a, const HandleEntry& b) {
    return a.pid == b.pid && a.handle == b.handle && a.object == b.object;
}

// A worker thread that answers name queries one at a time and is kept for the
// next walk.  A query that has not answered in time is left to its worker,
// which becomes "stuck": the walk goes on with a fresh worker, and the stuck
// one, once its query returns at last, closes the copy it was given and ends.
// While it is stuck, later walks pass over the one handle it is waiting on, so
// a query that never returns costs one thread and one copy however many walks
// follow, and hides no other handle.
struct NameWorker {
    enum Phase { kIdle, kRunning, kAnswered, kAbandoned, kEnded };
    win::Handle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    win::Handle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    HandleSystem* system = nullptr;
    HANDLE copy = nullptr;
    NameBuffer buffer{};
    NTSTATUS status = 0;
    HandleEntry entry;  // what the query is about; read on the walk's thread only
    std::atomic<int> phase{kIdle};
};

DWORD WINAPI NameWorkerMain(void* param) {
    std::shared_ptr<NameWorker> w = std::move(*static_cast<std::shared_ptr<NameWorker>*>(param));
    delete static_cast<std::shared_ptr<NameWorker>*>(param);
    for (;;) {
        WaitForSingleObject(w->wake.get(), INFINITE);
        ULONG returned = 0;
        w->status = w->system->QueryObject(w->copy, kObjectNameInformation, &w->buffer, sizeof w->buffer, &returned);
        int running = NameWorker::kRunning;
        if (!w->phase.compare_exchange_strong(running, NameWorker::kAnswered)) {
            w->system->CloseHandle(w->copy);
            w->phase = NameWorker::kEnded;
            return 0;
        }
        SetEvent(w->done.get());
    }
}

// Workers stuck at the same time, each on a different handle; past this the
// walk names nothing more until one of them returns.
constexpr size_t kMaxStuckWorkers = 4;

class NameQueries {
public:
    enum class Result {
        kAnswered,  // buffer and status hold the answer
        kGivenUp,   // no answer in time: the copy now belongs to the stuck worker
        kSkipped,   // too many workers stuck: nothing asked, the copy is still the caller's
    };

    Result Query(HandleSystem& system, const HandleEntry& entry, HANDLE copy, NameBuffer& buffer,
                 NTSTATUS& status) {
        if (!worker_) {
            if (stuck_.size() >= kMaxStuckWorkers) return Result::kSkipped;
            if (!Start()) {  // no thread to spare: ask directly
                ULONG returned = 0;
                status = system.QueryObject(copy, kObjectNameInformation, &buffer, sizeof buffer, &returned);
                return Result::kAnswered;
            }
        }
        NameWorker& w = *worker_;
        w.system = &system;
        w.copy = copy;
        w.entry = entry;
        w.buffer = NameBuffer{};
        w.phase = NameWorker::kRunning;
        SetEvent(w.wake.get());
        if (WaitForSingleObject(w.done.get(), kNameQueryMs) != WAIT_OBJECT_0) {
            int running = NameWorker::kRunning;
            if (w.phase.compare_exchange_strong(running, NameWorker::kAbandoned)) {
                stuck_.push_back(std::move(worker_));
                return Result::kGivenUp;
            }
            WaitForSingleObject(w.done.get(), INFINITE);  // it answered just now
        }
        buffer = w.buffer;
        status = w.status;
        w.phase = NameWorker::kIdle;
        return Result::kAnswered;
    }

    // Forgets the workers whose query has returned since (their threads have
    // ended or are ending).
    void Prune() {
        std::erase_if(stuck_, [](const std::shared_ptr<NameWorker>& w) { return w->phase == NameWorker::kEnded; });
    }

    // True when a stuck worker is still waiting on this very handle.
    bool StuckOn(const HandleEntry& entry) const {
        for (const auto& w : stuck_)
            if (SameHandle(w->entry, entry)) return true;
        return false;
    }

private:
    bool Start() {
        auto w = std::make_shared<NameWorker>();
        if (!w->wake || !w->done) return false;
        auto* param = new std::shared_ptr<NameWorker>(w);
        HANDLE thread = CreateThread(nullptr, 64 * 1024, NameWorkerMain, param, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) {
            delete param;
            return false;
        }
        CloseHandle(thread);
        worker_ = std::move(w);
        return true;
    }

    std::shared_ptr<NameWorker> worker_;              // idle between queries, kept between walks
    std::vector<std::shared_ptr<NameWorker>> stuck_;  // each still inside a query it was left with
};

NameQueries g_nameQueries;

// ---------------------------------------------------------------- driver requests

struct DriverRequest {
    IO_STATUS_BLOCK status{};
    TdiQueryRequest input{};
    unsigned char output[kTdiAnswerSize]{};
    win::Handle event;
    HandleEntry entry;  // the handle asked about, when the walk knows it
};

// Requests the driver never completed, even after the cancel: their buffers
// stay valid until it does, and their handles are not asked again meanwhile
// (each new request would park another event).
std::vector<std::unique_ptr<DriverRequest>> g_parkedRequests;

bool RequestParked(const HandleEntry& entry) {
    for (const auto& r : g_parkedRequests)
        if (SameHandle(r->entry, entry)) return true;
    return false;
}

long QueryPort(HANDLE handle, HandleSystem& system, const HandleEntry& entry);

void ReleaseCompletedRequests() {
    std::erase_if(g_parkedRequests, [](const std::unique_ptr<DriverRequest>& r) {
        return WaitForSingleObject(r->event.get(), 0) == WAIT_OBJECT_0;
    });
}

bool IsTransportDevice(const std::wstring& upperName) {
    return upperName == L"\\DEVICE\\TCP" || upperName == L"\\DEVICE\\UDP";
}

std::wstring UpperCase(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

void AddOwnerRow(ui::ListView& lvw, const wchar_t* protocol, long port, long pid) {
    int i = lvw.Add(L"", protocol);
    lvw.SetSubItem(i, 2, std::to_wstring(port));
    lvw.SetSubItem(i, 1, L"");
    lvw.SetSubItem(i, 3, std::to_wstring(pid));
    lvw.SetSubItem(i, 4, GetOwnerPath(pid));
}

}  // namespace

// ---------------------------------------------------------------- HandleSystem

NTSTATUS HandleSystem::QuerySystemInformation(ULONG infoClass, void* buffer, ULONG length, ULONG* returned) {
    static auto fn = NtEntry<NtQuerySystemInformationFn>("NtQuerySystemInformation");
    return fn ? fn(infoClass, buffer, length, returned) : kStatusNotImplemented;
}

HANDLE HandleSystem::OpenProcess(DWORD access, DWORD pid) { return ::OpenProcess(access, FALSE, pid); }

HANDLE HandleSystem::DuplicateHandle(HANDLE process, HANDLE source, DWORD access) {
    HANDLE copy = nullptr;
    return ::DuplicateHandle(process, source, GetCurrentProcess(), &copy, access, FALSE, 0) ? copy : nullptr;
}

NTSTATUS HandleSystem::QueryObject(HANDLE object, ULONG infoClass, void* buffer, ULONG length, ULONG* returned) {
    static auto fn = NtEntry<NtQueryObjectFn>("NtQueryObject");
    return fn ? fn(object, infoClass, buffer, length, returned) : kStatusNotImplemented;
}

NTSTATUS HandleSystem::DeviceIoControlFile(HANDLE file, HANDLE event, IO_STATUS_BLOCK* status, ULONG code,
                                           void* input, ULONG inputLength, void* output, ULONG outputLength) {
    static auto fn = NtEntry<NtDeviceIoControlFileFn>("NtDeviceIoControlFile");
    return fn ? fn(file, event, nullptr, nullptr, status, code, input, inputLength, output, outputLength)
              : kStatusNotImplemented;
}

void HandleSystem::CancelIo(HANDLE file, IO_STATUS_BLOCK* status) {
    static auto cancelEx = NtEntry<NtCancelIoFileExFn>("NtCancelIoFileEx");
    static auto cancel = NtEntry<NtCancelIoFileFn>("NtCancelIoFile");
    IO_STATUS_BLOCK result{};
    if (cancelEx) cancelEx(file, status, &result);
    else if (cancel) cancel(file, &result);  // this thread's requests on the handle
}

void HandleSystem::CloseHandle(HANDLE handle) { ::CloseHandle(handle); }

HandleSystem& HandleSystem::Platform() {
    static HandleSystem platform;
    return platform;
}

// ---------------------------------------------------------------- the walk

void ListPortsFromHandles(ui::ListView& lvw, HandleSystem& system) {
    lvw.SetColumnWidth(3, 0);  // no states on this path
    lvw.Clear();
    std::fill(std::begin(PortOwnerTable), std::end(PortOwnerTable), PortOwners{});

    // A failure anywhere in the walk (memory for a grown handle table, a row
    // the list refuses) ends this refresh with the rows added so far.
    try {
        BuildPortTable(system);
        struct Batch {
            ui::ListView& lvw;
            explicit Batch(ui::ListView& l) : lvw(l) { lvw.BeginUpdate(); }
            ~Batch() { lvw.EndUpdate(); }
        } batch(lvw);
        for (long port = 0; port <= 65535; ++port) {
            const PortOwners& owners = PortOwnerTable[port];
            if (owners.TcpOwnerPid != 0) AddOwnerRow(lvw, L"TCP", port, owners.TcpOwnerPid);
            if (owners.UdpOwnerPid != 0) AddOwnerRow(lvw, L"UDP", port, owners.UdpOwnerPid);
        }
    } catch (const std::exception&) {
    }
}

bool BuildPortTable(HandleSystem& system) {
    ReleaseCompletedRequests();
    g_nameQueries.Prune();
    for (const HandleEntry& entry : ReadHandleTable(system))
        if (!g_nameQueries.StuckOn(entry) && !RequestParked(entry)) ProbeHandle(entry, system);
    return true;
}

void ProbeHandle(const HandleEntry& entry, HandleSystem& system) {
    if (entry.pid == 0) return;
    HANDLE process = system.OpenProcess(PROCESS_DUP_HANDLE, static_cast<DWORD>(entry.pid));
    if (!process) return;
    HANDLE copy = system.DuplicateHandle(process, reinterpret_cast<HANDLE>(entry.handle), kDuplicateAccess);
    if (copy) {
        NameBuffer buffer{};
        NTSTATUS status = 0;
        NameQueries::Result asked = g_nameQueries.Query(system, entry, copy, buffer, status);
        if (asked == NameQueries::Result::kGivenUp) {
            copy = nullptr;  // the stuck worker closes it once the query returns
        } else if (asked == NameQueries::Result::kAnswered && status == kStatusSuccess && buffer.name.Length == 22) {
            std::wstring name = UpperCase(TrimAtNull(std::wstring(buffer.text, 12)));
            if (IsTransportDevice(name)) {
                long port = QueryPort(copy, system, entry);
                if (port != 0) {
                    PortOwners& owners = PortOwnerTable[port];
                    (name.find(L"TCP") != std::wstring::npos ? owners.TcpOwnerPid : owners.UdpOwnerPid) =
                        static_cast<long>(entry.pid);
                }
            }
        }
        if (copy) system.CloseHandle(copy);
    }
    system.CloseHandle(process);
}

long QueryTdiLocalPort(HANDLE handle, HandleSystem& system) {
    return QueryPort(handle, system, HandleEntry{});
}

namespace {

long QueryPort(HANDLE handle, HandleSystem& system, const HandleEntry& entry) {
    auto request = std::make_unique<DriverRequest>();
    request->entry = entry;
    request->input.queryType = 3;  // TDI_QUERY_ADDRESS_INFO
    request->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    NTSTATUS status = system.DeviceIoControlFile(handle, request->event.get(), &request->status, kTdiQueryInformation,
                                                 &request->input, sizeof request->input, request->output,
                                                 sizeof request->output);
    if (status == kStatusPending) {
        // The driver still owns the buffers: they go only once it has let go.
        HANDLE event = request->event.get();
        bool finished = event && WaitForSingleObject(event, kDriverWaitMs) == WAIT_OBJECT_0;
        if (!finished) {
            system.CancelIo(handle, &request->status);
            finished = event && WaitForSingleObject(event, kCancelWaitMs) == WAIT_OBJECT_0;
        }
        if (!finished) g_parkedRequests.push_back(std::move(request));
        return 0;  // a pending answer counts as no answer
    }
    if (status != kStatusSuccess) return 0;
    std::uint16_t port;
    std::memcpy(&port, request->output + kTdiPortOffset, sizeof port);
    return static_cast<long>((port & 0xFF) << 8 | port >> 8);
}

}  // namespace

std::wstring TrimAtNull(const std::wstring& text) {
    size_t at = text.find(L'\0');
    return at == std::wstring::npos ? std::wstring() : text.substr(0, at);
}

std::wstring GetOwnerPath(long pid) {
    return modEnumProcess::GetProcessImagePath(pid);
}

void ListPorts(ui::ListView& lvw, modProcessPorts::ExTables& tables, HandleSystem& system) {
    try {
        modProcessPorts::ListPortsFromExTables(lvw, tables);
    } catch (const std::exception&) {
        ListPortsFromHandles(lvw, system);
    }
}

}  // namespace modProcessPorts2
