#pragma once
// One system-wide process snapshot (NtQuerySystemInformation, process class):
// CPU times and working sets of every process in one call, instead of opening
// each process every second.
#include <windows.h>

#include <cstdint>
#include <unordered_map>

namespace sysaccess {

struct ProcessSample {
    uint32_t cpuTime = 0;      // low 32 bits of kernel time + low 32 bits of user time, modulo 2^32
    uint64_t workingSet = 0;   // bytes
    // The process's base priority as this system reports it.  Its scale is
    // the system's own (Wine reports its priority-class numbers), so it only
    // tells whether the priority class changed since an earlier snapshot.
    long basePriority = 0;
};

// NtQuerySystemInformation, looked up at run time; -1 when ntdll lacks it.
long QuerySystemInformation(unsigned long infoClass, void* buffer, unsigned long size, unsigned long* needed);

// Empty when the call fails.
std::unordered_map<DWORD, ProcessSample> TakeProcessSnapshot();

// The last snapshot taken, by any caller, when it is at most maxAgeMs old;
// otherwise a new one.  Readers that sample at the same moment share a call.
std::unordered_map<DWORD, ProcessSample> RecentProcessSnapshot(unsigned long maxAgeMs);

}  // namespace sysaccess
