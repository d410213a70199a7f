#pragma once
// The two open knowledge databases and their scratch record sets, kept by the
// knowledge lookup (modEnumProcess_Color.cpp).  Start-up opens them (the main
// window's Form_Initialize); the lookup and the knowledge panel read them.
// They live here, below both, so the main window uses this layer and never
// the reverse.  The cipher key is modEnDeCryption::g_cipherKey.
#include "platform/dao/dao.h"

namespace modEnumProcess {

extern dao::DatabasePtr g_dbMain;   // App.Path\db.mdb, exclusive, with password; null when not opened
extern dao::DatabasePtr g_dbUser;   // App.Path\userdb.mdb, exclusive; null when not opened
extern dao::RecordsetPtr g_rsMain;  // scratch record set for g_dbMain, released after each query
extern dao::RecordsetPtr g_rsUser;  // scratch record set for g_dbUser, released after each query

// The password of db.mdb (the connect string's ";pwd=").
inline constexpr const wchar_t* kDatabasePassword = L"tqvnal527184wodrk";

}  // namespace modEnumProcess
