#include "sysaccess/modThread.h"

#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"

namespace modThread {

namespace {

std::vector<THREADENTRY32>& ModuleThreadList() {
    static std::vector<THREADENTRY32> list;
    return list;
}

template <class Act>
long ForEachThreadOf(long pid, long noThreads, Act act) {
    auto& list = ModuleThreadList();
    long n = GetThreadList(list, pid);
    if (n > 32767) throw vb::Error(6);  // the count is held as a 16-bit number
    if (n < 1) return noThreads;
    long result = noThreads;
    for (long i = 1; i <= n; ++i) {
        if (list[static_cast<size_t>(i)].th32OwnerProcessID != static_cast<DWORD>(pid)) continue;
        win::Handle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, list[static_cast<size_t>(i)].th32ThreadID));
        result = static_cast<long>(act(thread.get()));
    }
    return result;
}

}  // namespace

long GetThreadList(std::vector<THREADENTRY32>& list, long pid) {
    list.assign(1, THREADENTRY32{});
    win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, static_cast<DWORD>(pid)));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !Thread32First(snapshot.get(), &entry)) return -1;
    do {
        list.push_back(entry);
        entry.dwSize = sizeof entry;
    } while (Thread32Next(snapshot.get(), &entry));
    return static_cast<long>(list.size()) - 1;
}

long SuspendProcess(long pid) {
    // Suspending our own threads would freeze the window for good.
    if (static_cast<DWORD>(pid) == GetCurrentProcessId()) return -1;
    // A process with no thread left was not paused: that is a failure, not the
    // "was running" answer 0.
    return ForEachThreadOf(pid, -1, [](HANDLE t) { return SuspendThread(t); });
}

long ResumeProcess(long pid) {
    return ForEachThreadOf(pid, 0, [](HANDLE t) { return ResumeThread(t); });
}

}  // namespace modThread
