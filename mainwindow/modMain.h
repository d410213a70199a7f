#pragma once
// The program's entry and its process-wide state.
#include "sysaccess/KnowledgeBase.h"

namespace modMain {

extern bool g_alreadyRunning;  // another instance's main window was found

// The open knowledge databases, kept by the process-access layer.
using modEnumProcess::g_dbMain;
using modEnumProcess::g_dbUser;
using modEnumProcess::g_rsMain;
using modEnumProcess::g_rsUser;
using modEnumProcess::kDatabasePassword;

// The name of the mutex each running instance owns until it ends.
inline constexpr const wchar_t* kInstanceMark = L"Local\\Morvix.Instance";

int Main();

}  // namespace modMain
