#pragma once
// Builds and refreshes the process list and reads each process's fields.
#include <windows.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "platform/ui/ListView.h"
#include "platform/win/Handle.h"

namespace modEnumProcess {

// What the refresh needs of the window that owns the list: the automatic-ending
// option, the previous Toolhelp pass's identifiers (the hidden lstPrcID), the
// window for the reports, and the knowledge colour of a name.
class ProcessListOwner {
public:
    virtual ~ProcessListOwner() = default;
    virtual bool AutoKillOn() const = 0;                     // chkAntiVirus.Value = 1
    virtual std::vector<std::wstring>& PreviousPassIds() = 0;  // lstPrcID
    virtual HWND MainWindow() const = 0;
    virtual long KnowledgeColour(const std::wstring& name);  // GetProcessListColor by default
    // The system calls the refresh builds on, here so that a caller can stand
    // in for them (a system without Terminal Services, a process that refuses
    // an access).  The Terminal Services list (freed with WTSFreeMemory);
    // false when the call fails and the Toolhelp snapshot is used.
    virtual bool EnumerateSessionProcesses(WTS_PROCESS_INFOW** records, DWORD* count);
    // OpenProcess for the list's memory and priority cells.
    virtual HANDLE OpenProcessForList(DWORD access, DWORD pid);
};

// ProcessRowColour values of the knowledge base.
constexpr long kColourKnown = 0;           // black: known and harmless
constexpr long kColourDangerous = 255;     // red: dangerous
constexpr long kColourUnknown = 0xFF0000;  // blue: in neither knowledge file

void RefreshProcessList(ui::ListView& list, ui::ImageList& icons, ProcessListOwner& owner);
void RemoveExitedProcesses(ui::ListView& list);
long FindProcessItemIndex(ui::ListView& list, long pid);

// The image path as the system reports it (its "\??\" and "\SystemRoot\"
// forms included): the first module's file name, or, where the module
// functions cannot read the process, QueryFullProcessImageNameW where the
// system has it; empty when neither answers.  The one path reader of the
// process list and the port list.
std::wstring GetProcessImagePath(long pid);
std::wstring GetProcessPath(long pid);  // GetProcessImagePath, normalised
std::wstring NormalizeImagePath(std::wstring path);
std::wstring GetFileNameFromPath(const std::wstring& path);
std::wstring PtrToAnsiString(const char* p);
std::wstring GetUserNameFromSid(void* sid);
std::wstring GetProcessUserByToken(long pid);
std::wstring GetProcessMemory(long pid);
std::wstring GetProcessPriority(long pid);
std::wstring PriorityClassName(unsigned long priorityClass);
// The shell's small (or large) icon of a file; empty when there is none.
win::Icon GetFileIconPicture(const std::wstring& path, bool small);

// Query handles kept for listed processes, so that a pass reads the memory and
// priority of rows it already has without opening each process again.  One
// handle per listed process, closed when its row goes: the count stays flat.
// The cells read as the field readers give them: memory needs &H410 (empty
// otherwise), priority &H400.
size_t CachedHandleCount();

// Knowledge colour of a process name: the user's file first, then the maker's
// file with the enciphered name; never fails towards the caller.
long GetProcessListColor(const std::wstring& name);

}  // namespace modEnumProcess
