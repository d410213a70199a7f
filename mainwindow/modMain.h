#pragma once
// The program's entry and its process-wide state.
#include "platform/dao/dao.h"

namespace modMain {

extern bool g_alreadyRunning;          // another instance's main window was found
extern dao::DatabasePtr g_dbMain;      // App.Path\db.mdb, exclusive, with password; null when not opened
extern dao::DatabasePtr g_dbUser;      // App.Path\userdb.mdb, exclusive; null when not opened
extern dao::RecordsetPtr g_rsMain;     // scratch record set for g_dbMain, released after each query
extern dao::RecordsetPtr g_rsUser;     // scratch record set for g_dbUser, released after each query

// The password of db.mdb (the connect string's ";pwd=").
inline constexpr const wchar_t* kDatabasePassword = L"tqvnal527184wodrk";

int Main();

}  // namespace modMain
