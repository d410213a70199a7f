// The live process list: one pass adds rows for new processes, rewrites the
// memory and priority of known ones, drops the rows of ended ones, and, with
// automatic ending on, ends newly seen dangerous processes instead of listing
// them.
#include "sysaccess/modEnumProcess.h"

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <map>
#include <unordered_set>

#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Text.h"
#include "sysaccess/ProcessSnapshot.h"
#include "sysaccess/modKillProcess.h"

namespace modEnumProcess {

namespace {

constexpr DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // &H410
constexpr DWORD kQueryOnly = PROCESS_QUERY_INFORMATION;                         // &H400
constexpr const wchar_t* kIdleName = L"System Idle Process";

enum Column { kUser = 1, kPid = 2, kCpu = 3, kMemory = 4, kPriority = 5, kPath = 6 };

std::wstring RowKey(DWORD pid) { return L"PID:" + std::to_wstring(pid); }

// ---- the query-handle cache ----
// One handle per listed process, with the access it was opened with: &H410
// where the memory reader's access is granted, else &H400, which still reads
// the priority (and the exit code) as the priority reader does.
struct CachedProcess {
    win::Handle handle;
    DWORD access = 0;
    // The priority text last read through the handle, and the snapshot's base
    // priority at that moment: while the base priority stays, so does the
    // class, and the text is not read again (a round trip per process).
    std::wstring priority;
    long basePriority = 0;
    bool priorityRead = false;
};

std::map<DWORD, CachedProcess>& HandleCache() {
    static std::map<DWORD, CachedProcess> cache;
    return cache;
}

CachedProcess* CachedHandle(ProcessListOwner& owner, DWORD pid) {
    auto& cache = HandleCache();
    auto it = cache.find(pid);
    if (it != cache.end()) return &it->second;
    for (DWORD access : {kQueryAndRead, kQueryOnly}) {
        win::Handle h(owner.OpenProcessForList(access, pid));
        if (h) return &cache.emplace(pid, CachedProcess{std::move(h), access}).first->second;
    }
    return nullptr;  // not cached: a later pass tries again, as the readers would
}

// Drops the handles of processes that no longer have a row (ended, removed by
// a command, or the whole list rebuilt).
void PruneHandleCache(const ui::ListView& list) {
    auto& cache = HandleCache();
    for (auto it = cache.begin(); it != cache.end();) {
        if (list.FindKey(RowKey(it->first)) == 0)
            it = cache.erase(it);
        else
            ++it;
    }
}

std::wstring MemoryText(HANDLE process) {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (!process || !GetProcessMemoryInfo(process, &pmc, sizeof pmc)) return L"";
    return vb::FormatThousands(static_cast<double>(pmc.WorkingSetSize) / 1024.0);
}

std::wstring PriorityText(HANDLE process) {
    return process ? PriorityClassName(GetPriorityClass(process)) : L"";
}

// The pass's process snapshot: the working sets of every process in one call.
// A process it lacks is read on its own, as the field reader would.
std::unordered_map<DWORD, sysaccess::ProcessSample>& PassSnapshot() {
    static std::unordered_map<DWORD, sysaccess::ProcessSample> snapshot;
    return snapshot;
}

// The memory cell as the memory reader gives it: empty where the process
// cannot be opened with &H410; the working set from the snapshot otherwise.
std::wstring MemoryOf(ProcessListOwner& owner, DWORD pid) {
    if (pid == 0) return L"16";
    const CachedProcess* process = CachedHandle(owner, pid);
    if (!process || process->access != kQueryAndRead) return L"";
    auto& snapshot = PassSnapshot();
    auto it = snapshot.find(pid);
    if (it != snapshot.end() && it->second.workingSet)
        return vb::FormatThousands(static_cast<double>(it->second.workingSet) / 1024.0);
    return MemoryText(process->handle.get());
}

std::wstring PriorityOf(ProcessListOwner& owner, DWORD pid) {
    CachedProcess* process = CachedHandle(owner, pid);
    if (!process) return PriorityText(nullptr);
    const auto& snapshot = PassSnapshot();
    auto it = snapshot.find(pid);
    if (it == snapshot.end()) {
        process->priorityRead = false;
        return PriorityText(process->handle.get());
    }
    if (!process->priorityRead || process->basePriority != it->second.basePriority) {
        process->priority = PriorityText(process->handle.get());
        process->basePriority = it->second.basePriority;
        process->priorityRead = true;
    }
    return process->priority;
}

// Waiting messages run between processes so the window stays responsive; a
// pump every few milliseconds does that as well as one per process and costs a
// fraction (each pump is a round trip to the window system).
void PumpIfDue() {
    static ULONGLONG last = 0;
    ULONGLONG now = GetTickCount64();
    if (now - last < 8) return;
    last = now;
    vb::DoEvents();
}

struct PassReports {
    std::wstring ended;
    std::wstring failed;
};

std::wstring ReportEntry(const std::wstring& name, DWORD pid) {
    return name + L" [" + std::to_wstring(pid) + L"]\n";
}

// Step 4: rewrite memory and priority when their texts changed.  The row is
// looked up by key for each access: handlers may run between the two.
void UpdateRow(ui::ListView& list, ProcessListOwner& owner, DWORD pid) {
    const std::wstring key = RowKey(pid);
    vb::Try([&] {
        std::wstring memory = MemoryOf(owner, pid);
        int i = list.FindKey(key);
        if (i && list.SubItem(i, kMemory) != memory) list.SetSubItem(i, kMemory, memory);
    });
    vb::Try([&] {
        std::wstring priority = PriorityOf(owner, pid);
        int i = list.FindKey(key);
        if (i && list.SubItem(i, kPriority) != priority) list.SetSubItem(i, kPriority, priority);
    });
}

// Step 5: a process seen for the first time.
void AddNewProcess(ui::ListView& list, ui::ImageList& icons, ProcessListOwner& owner, DWORD pid,
                   const std::wstring& name, const std::wstring& user, PassReports& reports) {
    long colour = kColourUnknown;
    vb::Try([&] { colour = owner.KnowledgeColour(name); });

    if (owner.AutoKillOn() && colour == kColourDangerous) {
        long target = static_cast<long>(pid);
        bool ended = false;
        vb::Try([&] { ended = modKillProcess::KillProcess(target, reinterpret_cast<HWND>(1)); });
        (ended ? reports.ended : reports.failed) += ReportEntry(name, pid);
        return;
    }

    int i = list.Add(RowKey(pid), name);
    if (i == 0) return;
    list.SetForeColor(i, static_cast<unsigned long>(colour));
    list.SetSubItem(i, kUser, user);
    list.SetSubItem(i, kPid, std::to_wstring(pid));
    list.SetSubItem(i, kMemory, MemoryOf(owner, pid));
    list.SetSubItem(i, kPriority, PriorityOf(owner, pid));
    std::wstring path;
    vb::Try([&] { path = GetProcessPath(static_cast<long>(pid)); });
    list.SetSubItem(i, kPath, path);

    if (!path.empty()) {
        if (!icons.Exists(path)) {
            win::Icon icon = GetFileIconPicture(path, true);
            if (icon) icons.Add(path, icon.get());
        }
        int image = icons.IndexOf(path);
        if (image >= 0) list.SetSmallIcon(i, image);
    }
    if (list.Text(i).empty()) list.SetText(i, GetFileNameFromPath(path));
}

void ShowReports(ProcessListOwner& owner, const PassReports& reports) {
    HWND window = owner.MainWindow();
    if (!reports.ended.empty()) {
        SetForegroundWindow(window);
        vb::MsgBox(window, L"发现以下危险进程：  \n" + reports.ended + L"并已被成功结束。  ",
                   MB_OK | MB_ICONINFORMATION);
    }
    if (!reports.failed.empty()) {
        vb::MsgBox(window, L"发现以下危险进程：  \n" + reports.failed + L"但无法结束，请另行处理。  ",
                   MB_OK | MB_ICONEXCLAMATION);
    }
}

// Path A: the Terminal Services list.  False when the call fails or, as under
// Wine, "succeeds" with no records: the tool itself is always running, so an
// empty answer is never true.
bool RefreshFromTerminalServices(ui::ListView& list, ui::ImageList& icons, ProcessListOwner& owner,
                                 PassReports& reports) {
    WTS_PROCESS_INFOW* records = nullptr;
    DWORD count = 0;
    if (!owner.EnumerateSessionProcesses(&records, &count)) return false;
    if (count == 0) {
        WTSFreeMemory(records);
        return false;
    }

    RemoveExitedProcesses(list);
    // Rows whose identifier this enumeration no longer lists are gone even when
    // no handle keeps their exit code readable.
    std::unordered_set<std::wstring> current;
    for (DWORD r = 0; r < count; ++r) current.insert(RowKey(records[r].ProcessId));
    for (int i = list.Count(); i >= 1; --i)
        if (!current.count(list.Key(i))) list.Remove(i);

    for (DWORD r = 0; r < count; ++r) {
        const DWORD pid = records[r].ProcessId;
        if (FindProcessItemIndex(list, static_cast<long>(pid)) != 0) {
            UpdateRow(list, owner, pid);  // a known row needs no name: its text is never rewritten
        } else {
            std::wstring name;
            if (pid == 0) {
                name = kIdleName;
            } else {
                vb::Try([&] { name = GetFileNameFromPath(GetProcessPath(static_cast<long>(pid))); });
                if (name.empty() && records[r].pProcessName) name = records[r].pProcessName;
            }
            std::wstring user;
            vb::Try([&] { user = GetUserNameFromSid(records[r].pUserSid); });
            vb::Try([&] { AddNewProcess(list, icons, owner, pid, name, user, reports); });
        }
        PumpIfDue();
    }
    WTSFreeMemory(records);
    return true;
}

// Path B: a Toolhelp snapshot; ended processes go one pass later.
void RefreshFromToolhelp(ui::ListView& list, ui::ImageList& icons, ProcessListOwner& owner,
                         PassReports& reports) {
    auto& previous = owner.PreviousPassIds();
    std::unordered_set<std::wstring> previousSet(previous.begin(), previous.end());
    for (int i = list.Count(); i >= 1; --i)
        if (!previousSet.count(list.SubItem(i, kPid))) list.Remove(i);
    previous.clear();

    win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot.get(), &entry); ok; ok = Process32NextW(snapshot.get(), &entry)) {
        const DWORD pid = entry.th32ProcessID;
        std::wstring name = entry.szExeFile;
        previous.push_back(std::to_wstring(pid));
        if (pid == 0) name = kIdleName;
        if (FindProcessItemIndex(list, static_cast<long>(pid)) != 0) {
            UpdateRow(list, owner, pid);
        } else {
            std::wstring user;
            vb::Try([&] { user = GetProcessUserByToken(static_cast<long>(pid)); });
            vb::Try([&] { AddNewProcess(list, icons, owner, pid, name, user, reports); });
        }
    }
}

// True when the pass's snapshot holds exactly the processes the list shows.
// Most passes find nothing started or ended; they only rewrite memory and
// priority, which is all an enumeration would do for rows it already has.
bool SameProcessesAsListed(ui::ListView& list) {
    const auto& snapshot = PassSnapshot();
    if (snapshot.empty() || static_cast<size_t>(list.Count()) != snapshot.size()) return false;
    for (const auto& entry : snapshot)
        if (list.FindKey(RowKey(entry.first)) == 0) return false;
    return true;
}

void UpdateListedRows(ui::ListView& list, ProcessListOwner& owner) {
    std::vector<DWORD> pids;  // handlers that run while messages are pumped may take a new snapshot
    for (const auto& entry : PassSnapshot()) pids.push_back(entry.first);
    for (DWORD pid : pids) {
        UpdateRow(list, owner, pid);
        PumpIfDue();
    }
}

}  // namespace

long ProcessListOwner::KnowledgeColour(const std::wstring& name) { return GetProcessListColor(name); }

bool ProcessListOwner::EnumerateSessionProcesses(WTS_PROCESS_INFOW** records, DWORD* count) {
    return WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, records, count) != FALSE;
}

HANDLE ProcessListOwner::OpenProcessForList(DWORD access, DWORD pid) { return OpenProcess(access, FALSE, pid); }

size_t CachedHandleCount() { return HandleCache().size(); }

void RefreshProcessList(ui::ListView& list, ui::ImageList& icons, ProcessListOwner& owner) {
    // The pass pumps messages: it is a nested loop, so a close asked for
    // meanwhile waits for the outermost loop instead of ending it half-way.
    vb::NestedLoopScope nested;
    PassReports reports;
    vb::Try([] { PassSnapshot() = sysaccess::TakeProcessSnapshot(); });
    list.BeginUpdate();
    vb::Try([&] {
        if (SameProcessesAsListed(list))
            UpdateListedRows(list, owner);  // nothing started or ended: the enumeration would change nothing else
        else if (!RefreshFromTerminalServices(list, icons, owner, reports))
            RefreshFromToolhelp(list, icons, owner, reports);
    });
    vb::Try([&] { PruneHandleCache(list); });
    list.EndUpdate();
    vb::Try([&] { ShowReports(owner, reports); });
}

void RemoveExitedProcesses(ui::ListView& list) {
    const int count = list.Count();
    int i = 1;
    for (int examined = 0; examined < count && i <= list.Count(); ++examined) {
        bool removed = false;
        vb::Try([&] {
            DWORD pid = static_cast<DWORD>(vb::ParseDisplayedNumber(list.SubItem(i, kPid)));
            // A process in this pass's snapshot is running: no need to ask.
            if (PassSnapshot().count(pid)) return;
            // The handle kept for the row answers as an opened one would.
            HANDLE kept = HandleCache().count(pid) ? HandleCache()[pid].handle.get() : nullptr;
            win::Handle opened;
            if (!kept) opened.reset(OpenProcess(kQueryAndRead, FALSE, pid));
            HANDLE h = kept ? kept : opened.get();
            if (!h) return;
            DWORD code = 0;
            GetExitCodeProcess(h, &code);
            if (pid != 0 && code != STILL_ACTIVE) {
                list.Remove(i);
                // Its identifier may come back in this very pass for a new
                // process, which must not be read through the old handle.
                HandleCache().erase(pid);
                removed = true;
            }
        });
        if (!removed) ++i;  // the row that moved into a removed row's place is examined next
        PumpIfDue();
    }
}

long FindProcessItemIndex(ui::ListView& list, long pid) {
    return list.FindKey(RowKey(static_cast<DWORD>(pid)));
}

std::wstring NormalizeImagePath(std::wstring path) {
    auto replaceAll = [&](const std::wstring& from, const std::wstring& to) {
        for (size_t at = path.find(from); at != std::wstring::npos; at = path.find(from, at + to.size()))
            path.replace(at, from.size(), to);
    };
    replaceAll(L"\\??\\", L"");
    replaceAll(L"\\SystemRoot\\", L"C:\\WINDOWS\\");
    replaceAll(L"System32", L"system32");
    return path;
}

namespace {

// The kernel's own name of the image: it reads processes the module functions
// cannot (a 64-bit process seen from the 32-bit program, a process whose
// loader has not run yet).  Systems before Vista lack the function.
std::wstring FullImageName(DWORD pid) {
    using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, wchar_t*, DWORD*);
    static const auto query = reinterpret_cast<QueryFullProcessImageNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    if (!query) return L"";
    win::Handle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!h) return L"";
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = static_cast<DWORD>(std::size(buffer));
    if (!query(h.get(), 0, buffer, &size)) return L"";
    return std::wstring(buffer, std::min<DWORD>(size, static_cast<DWORD>(std::size(buffer))));
}

}  // namespace

std::wstring GetProcessImagePath(long pid) {
    win::Handle h(OpenProcess(kQueryAndRead, FALSE, static_cast<DWORD>(pid)));
    if (h) {
        // Zero-filled: a call that succeeds with no modules leaves modules[0]
        // null, which names the process's own image.
        HMODULE modules[255] = {};
        DWORD needed = 0;
        wchar_t buffer[MAX_PATH * 2] = {};
        if (EnumProcessModules(h.get(), modules, 255, &needed) &&
            GetModuleFileNameExW(h.get(), modules[0], buffer, static_cast<DWORD>(std::size(buffer))))
            return std::wstring(buffer, wcsnlen(buffer, std::size(buffer)));
    }
    return FullImageName(static_cast<DWORD>(pid));
}

std::wstring GetProcessPath(long pid) {
    return NormalizeImagePath(GetProcessImagePath(pid));
}

std::wstring GetFileNameFromPath(const std::wstring& path) {
    if (path.find_first_not_of(L' ') == std::wstring::npos) return L"";
    auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring PtrToAnsiString(const char* p) {
    if (!p) return L"";
    return win::FromAnsi(p, CP_ACP);
}

std::wstring GetUserNameFromSid(void* sid) {
    wchar_t name[256], domain[256];
    std::fill(std::begin(name), std::end(name), L' ');
    std::fill(std::begin(domain), std::end(domain), L' ');
    DWORD nameLen = 255, domainLen = 255;
    SID_NAME_USE use;
    if (!sid || !LookupAccountSidW(nullptr, sid, name, &nameLen, domain, &domainLen, &use))
        return L"SYSTEM";  // the buffer still holds its blanks
    return std::wstring(name, wcsnlen(name, 255));
}

std::wstring GetProcessUserByToken(long pid) {
    if (pid == 0 || pid == 4) return L"SYSTEM";
    win::Handle process(OpenProcess(kQueryAndRead, FALSE, static_cast<DWORD>(pid)));
    if (!process) return L"";
    win::Handle token;
    if (!OpenProcessToken(process.get(), TOKEN_READ, token.put())) return L"SERVICE";
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    if (needed == 0 || needed >= 510) return L"";
    alignas(8) unsigned char record[512];
    if (!GetTokenInformation(token.get(), TokenUser, record, sizeof record, &needed)) return L"";
    wchar_t name[256] = {}, domain[256] = {};
    DWORD nameLen = 255, domainLen = 255;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(record)->User.Sid, name, &nameLen,
                           domain, &domainLen, &use))
        return L"";
    std::wstring user(name, wcsnlen(name, 255));
    auto first = user.find_first_not_of(L' ');
    if (first == std::wstring::npos) return L"";
    return user.substr(first, user.find_last_not_of(L' ') - first + 1);
}

std::wstring GetProcessMemory(long pid) {
    if (pid == 0) return L"16";
    win::Handle h(OpenProcess(kQueryAndRead, FALSE, static_cast<DWORD>(pid)));
    return MemoryText(h.get());
}

std::wstring GetProcessPriority(long pid) {
    win::Handle h(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    return PriorityText(h.get());
}

std::wstring PriorityClassName(unsigned long priorityClass) {
    switch (priorityClass) {
    case REALTIME_PRIORITY_CLASS: return L"实时";
    case HIGH_PRIORITY_CLASS: return L"高";
    case ABOVE_NORMAL_PRIORITY_CLASS: return L"高于标准";
    case NORMAL_PRIORITY_CLASS: return L"标准";
    case BELOW_NORMAL_PRIORITY_CLASS: return L"低于标准";
    case IDLE_PRIORITY_CLASS: return L"低";
    default: return L"";
    }
}

win::Icon GetFileIconPicture(const std::wstring& path, bool small) {
    SHFILEINFOW info{};
    UINT flags = SHGFI_ICON | (small ? SHGFI_SMALLICON : 0);
    if (!SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, flags) || !info.hIcon) return win::Icon();
    return win::Icon(info.hIcon);
}

}  // namespace modEnumProcess
