// The port list from the handle table, with the system's answers injected:
// tables of several sizes and classes, device names, driver answers that
// fail, pend or never complete, and a name query that blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "netports/modProcessPorts2.h"

#include <tlhelp32.h>
#include "netports/tests/test_ports_window.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "tests/helpers/TestSupport.h"

using namespace modProcessPorts2;
using portstest::PortsWindow;

namespace {

constexpr NTSTATUS kPending = 0x103;
constexpr NTSTATUS kMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kInvalidClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kCancelled = static_cast<NTSTATUS>(0xC0000120);
constexpr ULONG kPipeAccess = 0x0012019F;
constexpr ULONG kDeviceAccess = 0x001F01FF;
constexpr ULONG_PTR kDeadPid = 60001;

enum class Pending { None, CompleteOnCancel, Never };

// One object a scripted handle refers to, and how the system answers for it.
struct FakeObject {
    std::wstring name;
    long port = 0;
    NTSTATUS nameStatus = 0;
    NTSTATUS driverStatus = 0;
    bool blockName = false;
    bool duplicable = true;
    Pending pending = Pending::None;
};

struct FakeEntry {
    ULONG_PTR pid;
    ULONG_PTR handle;
    ULONG access = kDeviceAccess;
};

// The system as the walk sees it.  Process handles are real handles of this
// process and copies are real events, so closing them is checked for real;
// everything the walk must close is tracked, and misuse is recorded.
class FakeSystem : public HandleSystem {
public:
    std::vector<FakeEntry> table;
    std::map<ULONG_PTR, FakeObject> objects;  // by the handle value in its owner
    std::set<ULONG_PTR> deadPids{kDeadPid};
    bool offerExtended = true;
    int growths = 0;  // answers "too small" this often, adding entries each time
    bool alwaysTooSmall = false;
    bool hintLength = true;

    int tableCalls = 0;
    std::vector<ULONG> classesAsked;
    std::vector<ULONG_PTR> openedPids;
    std::vector<std::string> errors;

    FakeSystem() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeSystem() override {
        SetEvent(release_);
        for (auto& t : threads_) t.join();
        CloseHandle(release_);
    }

    void Add(ULONG_PTR pid, ULONG_PTR handle, FakeObject object, ULONG access = kDeviceAccess) {
        table.push_back({pid, handle, access});
        objects[handle] = std::move(object);
    }
    void ReleaseBlockedQueries() { SetEvent(release_); }
    size_t OpenCount() {
        std::lock_guard<std::mutex> lock(m_);
        return processes_.size() + copies_.size();
    }
    bool Cancelled(ULONG_PTR handle) {
        std::lock_guard<std::mutex> lock(m_);
        return cancelledHandles_.count(handle) != 0;
    }
    // Completes the requests the driver never finished, writing into their
    // buffers as a late driver would.
    void CompleteLate() {
        std::lock_guard<std::mutex> lock(m_);
        for (auto& p : pendings_)
            if (!p.completed) Complete(p);
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> lock(m_);
        return errors;
    }

    NTSTATUS QuerySystemInformation(ULONG infoClass, void* buffer, ULONG length, ULONG* returned) override {
        std::lock_guard<std::mutex> lock(m_);
        ++tableCalls;
        classesAsked.push_back(infoClass);
        if (infoClass != kSystemHandleInformation && (infoClass != kSystemExtendedHandleInformation || !offerExtended))
            return kInvalidClass;
        std::vector<unsigned char> bytes = Serialize(infoClass);
        if (alwaysTooSmall || growths > 0 || length < bytes.size()) {
            if (growths > 0) {
                --growths;
                for (int i = 0; i < 700; ++i) table.push_back({kDeadPid, 0x40000 + table.size(), 0});
            }
            if (returned) *returned = hintLength ? static_cast<ULONG>(bytes.size()) : 0;
            return kMismatch;
        }
        std::memcpy(buffer, bytes.data(), bytes.size());
        if (returned) *returned = static_cast<ULONG>(bytes.size());
        return 0;
    }

    HANDLE OpenProcess(DWORD access, DWORD pid) override {
        std::lock_guard<std::mutex> lock(m_);
        openedPids.push_back(pid);
        if (access != PROCESS_DUP_HANDLE) errors.push_back("process opened with access " + std::to_string(access));
        if (deadPids.count(pid)) return nullptr;
        HANDLE h = ::OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetCurrentProcessId());
        processes_.insert(h);
        return h;
    }

    HANDLE DuplicateHandle(HANDLE process, HANDLE source, DWORD access) override {
        std::lock_guard<std::mutex> lock(m_);
        if (!processes_.count(process)) errors.push_back("duplicate from a process handle not opened here");
        auto it = objects.find(reinterpret_cast<ULONG_PTR>(source));
        if (it == objects.end() || !it->second.duplicable) return nullptr;
        HANDLE copy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        copies_[copy] = it->first;
        return copy;
    }

    NTSTATUS QueryObject(HANDLE object, ULONG infoClass, void* buffer, ULONG length, ULONG* returned) override {
        FakeObject o;
        {
            std::lock_guard<std::mutex> lock(m_);
            auto it = copies_.find(object);
            if (it == copies_.end()) {
                errors.push_back("name query of a handle that is no copy");
                return kInvalidClass;
            }
            o = objects[it->second];
        }
        if (infoClass != 1) return kInvalidClass;
        if (o.blockName) WaitForSingleObject(release_, INFINITE);
        if (o.nameStatus) return o.nameStatus;
        ULONG needed = static_cast<ULONG>(sizeof(UNICODE_STRING) + (o.name.size() + 1) * sizeof(wchar_t));
        if (returned) *returned = needed;
        if (length < needed) return kBufferOverflow;
        auto* us = static_cast<UNICODE_STRING*>(buffer);
        us->Length = static_cast<USHORT>(o.name.size() * sizeof(wchar_t));
        us->MaximumLength = static_cast<USHORT>(us->Length + sizeof(wchar_t));
        us->Buffer = reinterpret_cast<PWSTR>(us + 1);
        std::memcpy(us->Buffer, o.name.c_str(), (o.name.size() + 1) * sizeof(wchar_t));
        return 0;
    }

    NTSTATUS DeviceIoControlFile(HANDLE file, HANDLE event, IO_STATUS_BLOCK* status, ULONG code, void* input,
                                 ULONG inputLength, void* output, ULONG outputLength) override {
        std::lock_guard<std::mutex> lock(m_);
        auto it = copies_.find(file);
        if (it == copies_.end()) {
            errors.push_back("driver request on a handle that is no copy");
            return kInvalidClass;
        }
        auto* request = static_cast<TdiQueryRequest*>(input);
        if (code != kTdiQueryInformation || inputLength != 24 || outputLength != kTdiAnswerSize ||
            request->queryType != 3 || request->connectionInformation != 0)
            errors.push_back("not an address query");
        const FakeObject& o = objects[it->second];
        if (o.pending != Pending::None) {
            status->Status = kPending;
            pendings_.push_back({event, status, static_cast<unsigned char*>(output), file, it->second, o.pending});
            return kPending;
        }
        if (o.driverStatus) return o.driverStatus;
        auto* out = static_cast<unsigned char*>(output);
        out[kTdiPortOffset] = static_cast<unsigned char>(o.port >> 8);
        out[kTdiPortOffset + 1] = static_cast<unsigned char>(o.port & 0xFF);
        status->Status = 0;
        if (event) SetEvent(event);
        return 0;
    }

    void CancelIo(HANDLE file, IO_STATUS_BLOCK* status) override {
        std::lock_guard<std::mutex> lock(m_);
        // Handle values and buffers are reused: the newest open request is the one.
        for (size_t i = pendings_.size(); i-- > 0;) {
            PendingRequest& p = pendings_[i];
            if (p.copy != file || p.status != status || p.completed) continue;
            cancelledHandles_.insert(p.source);
            p.cancelled = true;
            if (p.kind == Pending::CompleteOnCancel)
                threads_.emplace_back([this, i] {
                    Sleep(30);
                    std::lock_guard<std::mutex> inner(m_);
                    Complete(pendings_[i]);
                });
            return;
        }
        errors.push_back("cancel of no pending request");
    }

    void CloseHandle(HANDLE handle) override {
        std::lock_guard<std::mutex> lock(m_);
        if (copies_.count(handle)) {
            for (auto& p : pendings_)
                if (p.copy == handle && p.kind == Pending::CompleteOnCancel && !p.completed)
                    errors.push_back("copy closed while its cancelled request was still pending");
            copies_.erase(handle);
        } else if (processes_.count(handle)) {
            processes_.erase(handle);
        } else {
            errors.push_back("close of a handle the walk does not own");
            return;
        }
        ::CloseHandle(handle);
    }

private:
    struct PendingRequest {
        HANDLE event;
        IO_STATUS_BLOCK* status;
        unsigned char* output;
        HANDLE copy;
        ULONG_PTR source;
        Pending kind;
        bool completed = false;
        bool cancelled = false;
    };

    void Complete(PendingRequest& p) {
        std::memset(p.output, 0xEE, kTdiAnswerSize);
        p.status->Status = kCancelled;
        p.completed = true;
        if (p.event) SetEvent(p.event);
    }

    std::vector<unsigned char> Serialize(ULONG infoClass) const {
        std::vector<unsigned char> bytes;
        auto put = [&bytes](const auto& value) {
            const auto* p = reinterpret_cast<const unsigned char*>(&value);
            bytes.insert(bytes.end(), p, p + sizeof value);
        };
        if (infoClass == kSystemExtendedHandleInformation) {
            bytes.resize(offsetof(HandleTableInfoEx, entries));
            ULONG_PTR count = table.size();
            std::memcpy(bytes.data(), &count, sizeof count);
            for (const FakeEntry& e : table) {
                HandleTableEntryEx x{};
                x.processId = e.pid;
                x.handle = e.handle;
                x.grantedAccess = e.access;
                put(x);
            }
        } else {
            bytes.resize(offsetof(HandleTableInfo, entries));
            ULONG count = static_cast<ULONG>(table.size());
            std::memcpy(bytes.data(), &count, sizeof count);
            for (const FakeEntry& e : table) {
                HandleTableEntry x{};
                x.processId = static_cast<USHORT>(e.pid);
                x.handle = static_cast<USHORT>(e.handle);
                x.grantedAccess = e.access;
                put(x);
            }
        }
        return bytes;
    }

    std::mutex m_;
    HANDLE release_;
    std::set<HANDLE> processes_;
    std::map<HANDLE, ULONG_PTR> copies_;
    std::vector<PendingRequest> pendings_;
    std::set<ULONG_PTR> cancelledHandles_;
    std::vector<std::thread> threads_;
};

using Row = std::tuple<std::wstring, long, long>;  // protocol, port, PID

std::vector<Row> Rows(const ui::ListView& lvw) {
    std::vector<Row> rows;
    for (int i = 1; i <= lvw.Count(); ++i)
        rows.emplace_back(lvw.Text(i), std::stol(lvw.SubItem(i, 2)), std::stol(lvw.SubItem(i, 3)));
    return rows;
}

FakeObject Device(const wchar_t* name, long port) {
    FakeObject o;
    o.name = name;
    o.port = port;
    return o;
}

// Waits (bounded) until every handle the walk opened is closed again.
bool AllClosed(FakeSystem& system) {
    for (int i = 0; i < 200 && system.OpenCount() != 0; ++i) Sleep(10);
    return system.OpenCount() == 0;
}

DWORD Elapsed(DWORD start) { return GetTickCount() - start; }

}  // namespace

TEST(HandleHelpers, TrimAtNullKeepsTheTextBeforeTheFirstNul) {
    EXPECT_EQ(TrimAtNull(std::wstring(L"\\Device\\Tcp\0xy", 14)), L"\\Device\\Tcp");
    EXPECT_EQ(TrimAtNull(std::wstring(L"\0abc", 4)), L"");
    EXPECT_EQ(TrimAtNull(L"no terminator"), L"");
    EXPECT_EQ(TrimAtNull(L""), L"");
}

TEST(HandleHelpers, GetOwnerPathIsTheFirstModulesPath) {
    EXPECT_EQ(portstest::Lower(GetOwnerPath(static_cast<long>(GetCurrentProcessId()))),
              portstest::Lower(portstest::OwnExePath()));
    EXPECT_EQ(GetOwnerPath(0x7FFFFFF0), L"");
}

TEST(HandleWalk, OneRowPerOwnedPortInPortOrderWithTheLastOwnerAndOnlyTheTwoDevices) {
    FakeSystem system;
    const ULONG_PTR own = GetCurrentProcessId();
    system.Add(40000, 0x10, Device(L"\\Device\\Tcp", 8080));
    system.Add(own, 0x14, Device(L"\\Device\\Udp", 8080));
    system.Add(50000, 0x18, Device(L"\\Device\\Tcp", 80));
    system.Add(50001, 0x1C, Device(L"\\Device\\Tcp", 80));  // same port later in the table: it wins
    system.Add(40000, 0x20, Device(L"\\Device\\Afd", 99));
    system.Add(40000, 0x24, Device(L"\\Device\\Ipx", 98));  // 11 characters, but no transport device
    system.Add(40000, 0x28, Device(L"\\device\\udp", 7));
    system.Add(40000, 0x2C, Device(L"\\Device\\TcpX", 97));
    FakeObject refused = Device(L"\\Device\\Tcp", 96);
    refused.driverStatus = static_cast<NTSTATUS>(0xC0000010);
    system.Add(40000, 0x30, refused);
    system.Add(40000, 0x34, Device(L"\\Device\\Tcp", 0));
    FakeObject unnamed = Device(L"\\Device\\Tcp", 95);
    unnamed.nameStatus = static_cast<NTSTATUS>(0xC0000022);
    system.Add(40000, 0x38, unnamed);
    system.Add(0, 0x3C, Device(L"\\Device\\Tcp", 94));
    system.Add(kDeadPid, 0x40, Device(L"\\Device\\Tcp", 93));
    FakeObject sealed = Device(L"\\Device\\Tcp", 92);
    sealed.duplicable = false;
    system.Add(40000, 0x44, sealed);

    PortsWindow w;
    w.lvw.Add(L"", L"old row");
    testsupport::MessageBoxAnswerer boxes;
    ListPortsFromHandles(w.lvw, system);

    EXPECT_TRUE(boxes.Boxes().empty());
    std::vector<Row> expected = {{L"UDP", 7, 40000}, {L"TCP", 80, 50001}, {L"TCP", 8080, 40000},
                                 {L"UDP", 8080, static_cast<long>(own)}};
    EXPECT_EQ(Rows(w.lvw), expected);
    ASSERT_EQ(w.lvw.Count(), 4);
    EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(w.lvw.SubItem(i, 1), L"");
        EXPECT_EQ(w.Shown(i, 2), w.lvw.SubItem(i, 2));  // the port stands under "端口"
        EXPECT_EQ(w.Shown(i, 4), w.lvw.SubItem(i, 3));
    }
    EXPECT_EQ(w.lvw.SubItem(1, 4), L"");  // no such process here
    EXPECT_EQ(portstest::Lower(w.lvw.SubItem(4, 4)), portstest::Lower(portstest::OwnExePath()));
    EXPECT_EQ(PortOwnerTable[80].TcpOwnerPid, 50001);
    EXPECT_EQ(PortOwnerTable[8080].UdpOwnerPid, static_cast<long>(own));
    EXPECT_EQ(PortOwnerTable[99].TcpOwnerPid + PortOwnerTable[99].UdpOwnerPid, 0);
    EXPECT_EQ(PortOwnerTable[98].UdpOwnerPid, 0);

    EXPECT_EQ(std::count(system.openedPids.begin(), system.openedPids.end(), ULONG_PTR{0}), 0);
    EXPECT_TRUE(AllClosed(system));
    EXPECT_TRUE(system.Errors().empty()) << system.Errors().front();

    // A port closed before the next walk is gone from it.
    system.table.erase(system.table.begin());
    ListPortsFromHandles(w.lvw, system);
    EXPECT_EQ(w.Find(L"TCP", 8080), 0);
    EXPECT_NE(w.Find(L"UDP", 8080), 0);
}

TEST(HandleWalk, ReadsFullWidthIdentifiersFromTheExtendedClassAndSixteenBitOnesOtherwise) {
    {
        FakeSystem system;
        system.Add(70000, 0x12345, Device(L"\\Device\\Tcp", 135));
        PortsWindow w;
        ListPortsFromHandles(w.lvw, system);
        EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 135, 70000}}));
        EXPECT_EQ(system.classesAsked.front(), kSystemExtendedHandleInformation);
        EXPECT_TRUE(AllClosed(system));
    }
    {
        FakeSystem system;
        system.offerExtended = false;
        system.Add(40000, 0x88, Device(L"\\Device\\Udp", 137));  // a PID above 32767 is no negative number
        PortsWindow w;
        ListPortsFromHandles(w.lvw, system);
        EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"UDP", 137, 40000}}));
        EXPECT_EQ(system.classesAsked.back(), kSystemHandleInformation);
        EXPECT_TRUE(AllClosed(system));
    }
}

TEST(HandleWalk, HandleTablesOfEverySizeAreReadWhole) {
    struct Case {
        const char* what;
        size_t fillers;
        int growths;
        bool hint;
        bool extended;
    } cases[] = {{"empty", 0, 0, true, true},
                 {"larger than the first buffer", 6000, 0, true, true},
                 {"larger, no length hint", 6000, 0, false, true},
                 {"grows between calls", 10, 3, true, true},
                 {"grows, no length hint", 10, 3, false, false},
                 {"larger, sixteen-bit class", 9000, 0, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSystem system;
        system.offerExtended = c.extended;
        system.growths = c.growths;
        system.hintLength = c.hint;
        for (size_t i = 0; i < c.fillers; ++i) system.table.push_back({kDeadPid, 0x8000 + i, 0});
        if (c.fillers || c.growths) system.Add(40000, 0x7FFC, Device(L"\\Device\\Tcp", 445));
        PortsWindow w;
        ListPortsFromHandles(w.lvw, system);
        if (c.fillers || c.growths)
            EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 445, 40000}}));
        else
            EXPECT_EQ(w.lvw.Count(), 0);
        EXPECT_LE(system.tableCalls, 10);
        EXPECT_TRUE(AllClosed(system));
    }
}

TEST(HandleWalk, ATableThatNeverFitsEndsTheWalkWithNoRows) {
    FakeSystem system;
    system.alwaysTooSmall = true;
    system.Add(40000, 0x10, Device(L"\\Device\\Tcp", 80));
    PortsWindow w;
    DWORD start = GetTickCount();
    ListPortsFromHandles(w.lvw, system);
    EXPECT_LT(Elapsed(start), 5000u);
    EXPECT_EQ(w.lvw.Count(), 0);
    EXPECT_LE(system.tableCalls, 20);
    EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
}

TEST(HandleWalk, PendingDriverRequestsAreCancelledAndTheirBuffersOutliveThem) {
    FakeSystem system;
    FakeObject late = Device(L"\\Device\\Tcp", 9000);
    late.pending = Pending::CompleteOnCancel;
    FakeObject stuck = Device(L"\\Device\\Udp", 9001);
    stuck.pending = Pending::Never;
    system.Add(40000, 0x10, late);
    system.Add(40000, 0x14, stuck);
    system.Add(40000, 0x18, Device(L"\\Device\\Tcp", 9002));
    PortsWindow w;
    DWORD start = GetTickCount();
    ListPortsFromHandles(w.lvw, system);
    EXPECT_LT(Elapsed(start), 3000u);
    // A pending answer is no answer: only the port that answered at once.
    EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 9002, 40000}}));
    EXPECT_TRUE(system.Cancelled(0x10));
    EXPECT_TRUE(system.Cancelled(0x14));
    EXPECT_TRUE(AllClosed(system));
    EXPECT_TRUE(system.Errors().empty()) << system.Errors().front();

    // The driver finally lets go of the request it held: it writes into the
    // buffers the walk kept for it, and the next walk goes on as usual.
    system.CompleteLate();
    ListPortsFromHandles(w.lvw, system);
    EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 9002, 40000}}));
    EXPECT_TRUE(AllClosed(system));
    system.CompleteLate();  // a request left parked would keep its handle out of later walks
}

TEST(HandleWalk, ABlockingNameQueryIsGivenUpAndTheWalkGoesOn) {
    FakeSystem system;
    FakeObject pipe;
    pipe.name = L"\\Device\\NamedPipe\\x";
    pipe.blockName = true;
    system.Add(40000, 0x10, pipe, kPipeAccess);
    system.Add(40000, 0x14, Device(L"\\Device\\Tcp", 1234));
    system.Add(40001, 0x18, Device(L"\\Device\\Udp", 555), kPipeAccess);  // same access as the blocking one
    system.Add(40002, 0x1C, Device(L"\\Device\\Udp", 556));
    const std::vector<Row> all = {{L"UDP", 555, 40001}, {L"UDP", 556, 40002}, {L"TCP", 1234, 40000}};
    PortsWindow w;
    DWORD start = GetTickCount();
    ListPortsFromHandles(w.lvw, system);
    EXPECT_LT(Elapsed(start), 3000u);
    // Only the blocking handle itself is lost: no port hides behind it.
    EXPECT_EQ(Rows(w.lvw), all);

    // The query returns in the end; the copy it held is closed then.
    system.ReleaseBlockedQueries();
    EXPECT_TRUE(AllClosed(system));
    EXPECT_TRUE(system.Errors().empty()) << system.Errors().front();

    system.objects[0x10].blockName = false;
    ListPortsFromHandles(w.lvw, system);
    EXPECT_EQ(Rows(w.lvw), all);
    EXPECT_TRUE(AllClosed(system));
}

namespace {

size_t ThreadCount() {
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL ok = Thread32First(snapshot.get(), &entry); ok; ok = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

}  // namespace

TEST(HandleWalk, AQueryThatNeverReturnsKeepsThreadsAndHandlesFlatOverManyWalks) {
    FakeSystem system;
    FakeObject pipe;
    pipe.name = L"\\Device\\NamedPipe\\x";
    pipe.blockName = true;
    system.Add(40000, 0x10, pipe, kPipeAccess);
    FakeObject stuck = Device(L"\\Device\\Udp", 9001);
    stuck.pending = Pending::Never;
    system.Add(40000, 0x14, stuck);
    system.Add(40001, 0x18, Device(L"\\Device\\Udp", 555), kPipeAccess);
    const std::vector<Row> rows = {{L"UDP", 555, 40001}};
    PortsWindow w;
    ListPortsFromHandles(w.lvw, system);  // meets both for the first time
    EXPECT_EQ(Rows(w.lvw), rows);
    const size_t threads = ThreadCount();
    const size_t handles = testsupport::CountOpenHandles();
    EXPECT_EQ(system.OpenCount(), 1u);  // the copy the stuck query holds

    for (int walk = 1; walk <= 10; ++walk) {  // (a SCOPED_TRACE here would start a thread of the test's own)
        DWORD start = GetTickCount();
        ListPortsFromHandles(w.lvw, system);
        EXPECT_LT(Elapsed(start), 200u) << walk;  // neither handle is waited for again
        EXPECT_EQ(Rows(w.lvw), rows) << walk;
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(testsupport::CountOpenHandles(), handles);
    EXPECT_EQ(system.OpenCount(), 1u);

    // Once the query returns, its worker closes the copy and ends, and the
    // handle is asked again.
    system.ReleaseBlockedQueries();
    EXPECT_TRUE(AllClosed(system));
    system.objects[0x10].blockName = false;
    system.objects[0x14].pending = Pending::None;
    system.CompleteLate();
    ListPortsFromHandles(w.lvw, system);
    EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"UDP", 555, 40001}, {L"UDP", 9001, 40000}}));
    EXPECT_TRUE(AllClosed(system));
    for (int i = 0; i < 200 && ThreadCount() >= threads; ++i) Sleep(10);
    EXPECT_LT(ThreadCount(), threads);
    EXPECT_TRUE(system.Errors().empty()) << system.Errors().front();
}

namespace {

class ThrowingTables : public modProcessPorts::ExTables {
public:
    bool fail = true;
    unsigned long ReadTcpTable(std::vector<modProcessPorts::TcpExRow>& rows) override {
        rows = {{2, 0, 0x5000, 0, 0, 0}};
        return 0;
    }
    unsigned long ReadUdpTable(std::vector<modProcessPorts::UdpExRow>& rows) override {
        if (fail) throw vb::Error(453, L"modProcessPorts.ListPortsFromExTables", L"Specified DLL function not found");
        rows.clear();
        return 0;
    }
};

}  // namespace

namespace {

// Fails inside the walk: while reading the handle table, or while probing one
// process's handles.
class FailingSystem : public FakeSystem {
public:
    bool failTable = false;
    ULONG_PTR failPid = 0;
    NTSTATUS QuerySystemInformation(ULONG infoClass, void* buffer, ULONG length, ULONG* returned) override {
        if (failTable) throw std::bad_alloc();
        return FakeSystem::QuerySystemInformation(infoClass, buffer, length, returned);
    }
    HANDLE OpenProcess(DWORD access, DWORD pid) override {
        if (pid == failPid) throw std::bad_alloc();
        return FakeSystem::OpenProcess(access, pid);
    }
};

}  // namespace

TEST(PortsRefresh, AFailureInsideTheHandleWalkEndsThatRefreshAndNeverEscapes) {
    ThrowingTables tables;  // the walk runs
    for (bool inTable : {true, false}) {
        SCOPED_TRACE(inTable ? "reading the table" : "probing a handle");
        FailingSystem system;
        system.Add(40000, 0x10, Device(L"\\Device\\Udp", 161));
        system.Add(40002, 0x14, Device(L"\\Device\\Tcp", 80));
        system.failTable = inTable;
        system.failPid = inTable ? 0 : 40002;
        PortsWindow w;
        EXPECT_NO_THROW(ListPorts(w.lvw, tables, system));
        EXPECT_EQ(w.lvw.Count(), 0);
        EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
        EXPECT_TRUE(AllClosed(system));

        system.failTable = false;
        system.failPid = 0;
        ListPorts(w.lvw, tables, system);
        EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 80, 40002}, {L"UDP", 161, 40000}}));
        EXPECT_EQ(w.Shown(2, 2), L"161");
    }
}

TEST(PortsRefresh, AnyErrorOfTheTablesFallsBackToTheHandleWalkOnTheSameList) {
    FakeSystem system;
    system.Add(40000, 0x10, Device(L"\\Device\\Udp", 161));
    PortsWindow w;

    ThrowingTables tables;
    tables.fail = false;
    ListPorts(w.lvw, tables, system);
    EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"TCP", 80, 0}}));
    EXPECT_EQ(w.lvw.SubItem(1, 1), L"监听中");
    EXPECT_NEAR(w.lvw.ColumnWidth(3), 1764, vb::TwipsPerPixelX());
    EXPECT_EQ(system.tableCalls, 0);

    tables.fail = true;  // fails after the TCP rows went in: the walk starts from an empty list
    ListPorts(w.lvw, tables, system);
    EXPECT_EQ(Rows(w.lvw), (std::vector<Row>{{L"UDP", 161, 40000}}));
    EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
    EXPECT_EQ(w.Shown(1, 2), L"161");

    // Once hidden, the state column stays hidden even when the tables work again.
    tables.fail = false;
    ListPorts(w.lvw, tables, system);
    EXPECT_EQ(w.lvw.ColumnWidth(3), 0);
    EXPECT_EQ(w.lvw.SubItem(1, 1), L"监听中");
}
