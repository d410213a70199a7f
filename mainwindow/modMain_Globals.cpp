#include "mainwindow/modMain.h"

namespace modMain {

bool g_alreadyRunning = false;
dao::DatabasePtr g_dbMain;
dao::DatabasePtr g_dbUser;
dao::RecordsetPtr g_rsMain;
dao::RecordsetPtr g_rsUser;

}  // namespace modMain
