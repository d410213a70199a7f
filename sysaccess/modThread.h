#pragma once
// Suspending and resuming every thread of a process.
#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace modThread {

// Fills list with entry 0 empty and entries 1..n the threads of the whole
// system; returns n, or -1 when the snapshot gives no first thread.
long GetThreadList(std::vector<THREADENTRY32>& list, long pid);

// Previous suspend count of the last thread of the process that was suspended
// (0: it was running); -1 when that thread could not be opened or the process
// is the tool itself; -1 also when the process has no thread listed, since
// nothing was paused.
long SuspendProcess(long pid);
// Previous suspend count of the last thread resumed (1: it was suspended once
// and now runs); 0 when the process has no thread listed.
long ResumeProcess(long pid);

}  // namespace modThread
