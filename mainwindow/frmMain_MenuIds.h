#pragma once
// Menu item identifiers of the main window, named after the items.  Item
// arrays take base + Index (mnuListViewSub(1..7) = mnuListViewSub + 1 ...).
namespace frmMainMenu {
enum : int {
    // 列表(&L)
    mnuListViewSub = 2000,     // + 1..7
    mnuListOrder1Sub = 2010,   // + 0..6
    mnuListRefresh1 = 2020,
    mnuListOut1 = 2021,
    // 进程(&P)
    mnuProcessNew1 = 2100,
    mnuProcessKill1 = 2101,
    mnuProcessPause1 = 2102,
    mnuProcessDelete1 = 2103,
    mnuProcessClass1Sub = 2110,  // + 0..5
    mnuProcessProperty1 = 2120,
    mnuProcessWhere1 = 2121,
    mnuProcessCopyName1 = 2122,
    mnuProcessCopyPath1 = 2123,
    // 设置(&S)
    mnuSettingAntiVirus = 2200,
    mnuSettingAutoRun = 2201,
    mnuSettingAlwaysOnTop = 2202,
    mnuSettingTaskmgr1 = 2203,
    mnuSettingTaskmgr2 = 2204,
    // 帮助(&H)
    mnuHelpHelp = 2300,
    mnuHelpUpdate = 2301,
    mnuProcessComplate = 2302,
    mnuHelpAbout = 2303,
    // 进程列表弹出菜单 (mnuPopup)
    mnuProcessKill = 2401,
    mnuProcessPause = 2402,
    mnuProcessDelete = 2403,
    mnuProcessClassSub = 2410,  // + 0..5
    mnuProcessProperty = 2420,
    mnuProcessWhere = 2421,
    mnuProcessCopyName = 2422,
    mnuProcessCopyPath = 2423,
    mnuListOrderSub = 2430,     // + 0..6
    mnuListRefresh = 2440,
    mnuListOut = 2441,
    // 托盘菜单 (mnuTray)
    mnuTrayDisplay = 2500,
    mnuTrayExit = 2501,
    mnuTrayAbout = 2502,
};
}  // namespace frmMainMenu
