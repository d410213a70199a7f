#pragma once
// Builds and refreshes the process list and reads each process's fields.
#include <string>

#include "platform/ui/ListView.h"

namespace modEnumProcess {

// ProcessRowColour values of the knowledge base.
constexpr long kColourKnown = 0;           // black: known and harmless
constexpr long kColourDangerous = 255;     // red: dangerous
constexpr long kColourUnknown = 0xFF0000;  // blue: in neither knowledge file

void RefreshProcessList(ui::ListView& list, ui::ImageList& icons);
void RemoveExitedProcesses(ui::ListView& list);
long FindProcessItemIndex(ui::ListView& list, long pid);

std::wstring GetProcessPath(long pid);
std::wstring NormalizeImagePath(std::wstring path);
std::wstring GetFileNameFromPath(const std::wstring& path);
std::wstring PtrToAnsiString(const char* p);
std::wstring GetUserNameFromSid(void* sid);
std::wstring GetProcessUserByToken(long pid);
std::wstring GetProcessMemory(long pid);
std::wstring GetProcessPriority(long pid);
std::wstring PriorityClassName(unsigned long priorityClass);

// Knowledge colour of a process name: the user's file first, then the maker's
// file with the enciphered name; never fails towards the caller.
long GetProcessListColor(const std::wstring& name);

}  // namespace modEnumProcess
