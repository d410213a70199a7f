#include "sysaccess/ProcessSnapshot.h"

#include <cstring>
#include <vector>

namespace sysaccess {

namespace {

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The head of a process record, laid out as the system lays it out for either
// pointer size.
struct ProcessRecordHead {
    ULONG NextEntryOffset;
    ULONG NumberOfThreads;
    LARGE_INTEGER WorkingSetPrivateSize;
    ULONG HardFaultCount;
    ULONG NumberOfThreadsHighWatermark;
    ULONGLONG CycleTime;
    LARGE_INTEGER CreateTime;
    LARGE_INTEGER UserTime;
    LARGE_INTEGER KernelTime;
    struct {
        USHORT Length, MaximumLength;
        PWSTR Buffer;
    } ImageName;
    LONG BasePriority;
    HANDLE UniqueProcessId;
    HANDLE InheritedFromUniqueProcessId;
    ULONG HandleCount;
    ULONG SessionId;
    ULONG_PTR UniqueProcessKey;
    SIZE_T PeakVirtualSize;
    SIZE_T VirtualSize;
    ULONG PageFaultCount;
    SIZE_T PeakWorkingSetSize;
    SIZE_T WorkingSetSize;
};

struct Last {
    std::unordered_map<DWORD, ProcessSample> samples;
    ULONGLONG takenAt = 0;
};
Last& LastSnapshot() {
    static Last last;
    return last;
}

}  // namespace

std::unordered_map<DWORD, ProcessSample> RecentProcessSnapshot(unsigned long maxAgeMs) {
    const Last& last = LastSnapshot();
    if (last.takenAt && GetTickCount64() - last.takenAt <= maxAgeMs) return last.samples;
    return TakeProcessSnapshot();
}

long QuerySystemInformation(unsigned long infoClass, void* buffer, unsigned long size, unsigned long* needed) {
    static auto query = reinterpret_cast<NtQuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    ULONG length = 0;
    LONG status = query(infoClass, buffer, size, &length);
    if (needed) *needed = length;
    return status;
}

std::unordered_map<DWORD, ProcessSample> TakeProcessSnapshot() {
    static std::vector<unsigned char> buffer(256 * 1024);
    std::unordered_map<DWORD, ProcessSample> samples;
    constexpr ULONG kProcessInformation = 5;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    LONG status = 0;
    for (int tries = 0; tries < 8; ++tries) {
        unsigned long needed = 0;
        status = QuerySystemInformation(kProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kInfoLengthMismatch) break;
        buffer.resize(std::max<size_t>(buffer.size() * 2, static_cast<size_t>(needed) + 64 * 1024));
    }
    if (status != 0) return samples;
    for (size_t offset = 0; offset + sizeof(ProcessRecordHead) <= buffer.size();) {
        ProcessRecordHead head;
        std::memcpy(&head, buffer.data() + offset, sizeof head);
        auto pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(head.UniqueProcessId));
        ProcessSample& s = samples[pid];
        s.cpuTime = static_cast<uint32_t>(head.KernelTime.LowPart) + static_cast<uint32_t>(head.UserTime.LowPart);
        s.workingSet = head.WorkingSetSize;
        s.basePriority = head.BasePriority;
        if (head.NextEntryOffset == 0) break;
        offset += head.NextEntryOffset;
    }
    LastSnapshot() = {samples, GetTickCount64()};
    return samples;
}

}  // namespace sysaccess
