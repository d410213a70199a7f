// The menu structure of the main window: the menu bar, the list's pop-up menu
// and the notification-area menu, with captions, shortcuts and design states.
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"

using namespace frmMainMenu;

namespace {

const wchar_t* const kViewCaptions[7] = {L"进程名 (&N)", L"进程ID (&I)", L"用户名 (&U)", L"CPU (&C)",
                                         L"内存 (&M)",   L"优先级 (&O)", L"路径 (&P)"};
const wchar_t* const kOrderCaptions[7] = {L"按进程名 (&N)", L"按进程ID (&I)", L"按用户名 (&U)", L"按内存 (&M)",
                                          L"按优先级 (&O)", L"按路径 (&P)",   L"按启动时间 (&T)"};
const wchar_t* const kClassCaptions[6] = {L"实时 (&R)", L"高 (&H)", L"高于标准 (&A)",
                                          L"标准 (&N)", L"低于标准 (&B)", L"低 (&L)"};

void Item(HMENU menu, int id, const std::wstring& caption, bool checked = false) {
    AppendMenuW(menu, MF_STRING | (checked ? MF_CHECKED : 0), static_cast<UINT_PTR>(id), caption.c_str());
}
void Separator(HMENU menu) { AppendMenuW(menu, MF_SEPARATOR, 0, nullptr); }
HMENU Sub(HMENU menu, const std::wstring& caption) {
    HMENU sub = CreatePopupMenu();
    AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), caption.c_str());
    return sub;
}

void ProcessItems(HMENU m, int kill, int pause, int del, int classSub, int property, int where, int copyName,
                  int copyPath, bool withShortcuts, HMENU* classMenu) {
    auto key = [&](const wchar_t* shortcut) { return withShortcuts ? std::wstring(L"\t") + shortcut : L""; };
    Item(m, kill, L"结束进程" + key(L"Del"));
    Item(m, pause, L"暂停进程" + key(L"Ctrl+P"));
    Item(m, del, L"删除文件(慎用)" + key(L"Shift+Del"));
    HMENU cls = Sub(m, L"设置优先级");
    for (int i = 0; i < 6; ++i) Item(cls, classSub + i, kClassCaptions[i]);
    *classMenu = cls;
    Separator(m);  // mnuLine01 / mnuLine03
    Item(m, property, L"查看属性" + key(L"Ctrl+I"));
    Item(m, where, L"文件定位" + key(L"Ctrl+W"));
    Item(m, copyName, L"复制进程名" + key(L"Ctrl+C"));
    Item(m, copyPath, L"复制进程路径" + key(L"Ctrl+X"));
}

}  // namespace

frmMain::Menus frmMain::BuildMenuSet() {
    Menus m;
    m.bar = CreateMenu();

    m.list = Sub(m.bar, L"列表(&L)");
    HMENU view = Sub(m.list, L"查看选项");
    for (int i = 1; i <= 7; ++i) Item(view, mnuListViewSub + i, kViewCaptions[i - 1], true);
    HMENU order1 = Sub(m.list, L"列表排序");
    for (int i = 0; i <= 6; ++i) Item(order1, mnuListOrder1Sub + i, kOrderCaptions[i]);
    Item(m.list, mnuListRefresh1, L"立即刷新\tF5");
    Item(m.list, mnuListOut1, L"导出列表");

    m.process = Sub(m.bar, L"进程(&P)");
    Item(m.process, mnuProcessNew1, L"新建进程 ...\tCtrl+N");
    Separator(m.process);  // mnuLine00
    ProcessItems(m.process, mnuProcessKill1, mnuProcessPause1, mnuProcessDelete1, mnuProcessClass1Sub,
                 mnuProcessProperty1, mnuProcessWhere1, mnuProcessCopyName1, mnuProcessCopyPath1, true,
                 &m.processClass1);

    m.setting = Sub(m.bar, L"设置(&S)");
    Item(m.setting, mnuSettingAntiVirus, L"自动屏蔽危险进程", true);
    Item(m.setting, mnuSettingAutoRun, L"开机自动运行", true);
    Item(m.setting, mnuSettingAlwaysOnTop, L"窗口置顶", true);
    Separator(m.setting);  // mnuLine02
    Item(m.setting, mnuSettingTaskmgr1, L"替换任务管理器\tF11");
    Item(m.setting, mnuSettingTaskmgr2, L"恢复任务管理器\tF12");

    m.help = Sub(m.bar, L"帮助(&H)");
    Item(m.help, mnuHelpHelp, L"使用帮助\tF1");
    Item(m.help, mnuHelpUpdate, L"检查更新");
    Item(m.help, mnuProcessComplate, L"进程补完");
    Item(m.help, mnuHelpAbout, L"关于 ...");

    // mnuPopup "进程列表弹出菜单": shown only as a pop-up menu.
    m.popup = CreatePopupMenu();
    ProcessItems(m.popup, mnuProcessKill, mnuProcessPause, mnuProcessDelete, mnuProcessClassSub, mnuProcessProperty,
                 mnuProcessWhere, mnuProcessCopyName, mnuProcessCopyPath, false, &m.processClass);
    Separator(m.popup);  // mnuLine04
    HMENU order = Sub(m.popup, L"列表排序");
    for (int i = 0; i <= 6; ++i) Item(order, mnuListOrderSub + i, kOrderCaptions[i], true);
    Item(m.popup, mnuListRefresh, L"立即刷新");
    Item(m.popup, mnuListOut, L"导出列表");

    // mnuTray "托盘菜单"
    m.tray = CreatePopupMenu();
    Item(m.tray, mnuTrayDisplay, L"显示窗口");
    Item(m.tray, mnuTrayExit, L"退出程序");
    Item(m.tray, mnuTrayAbout, L"关于 ...");
    return m;
}

HMENU frmMain::MenuHolding(int id) const {
    for (HMENU m : {menus_.bar, menus_.popup, menus_.tray})
        if (m && GetMenuState(m, static_cast<UINT>(id), MF_BYCOMMAND) != static_cast<UINT>(-1)) return m;
    return nullptr;
}

void frmMain::SetMenuChecked(int id, bool checked) {
    if (HMENU m = MenuHolding(id))
        CheckMenuItem(m, static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool frmMain::MenuChecked(int id) const {
    HMENU m = MenuHolding(id);
    return m && (GetMenuState(m, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void frmMain::SetMenuEnabled(int id, bool enabled) {
    if (HMENU m = MenuHolding(id))
        EnableMenuItem(m, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool frmMain::MenuEnabled(int id) const {
    HMENU m = MenuHolding(id);
    return m && (GetMenuState(m, static_cast<UINT>(id), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
}

std::wstring frmMain::MenuCaption(int id) const {
    wchar_t text[128] = {};
    HMENU m = MenuHolding(id);
    if (!m || GetMenuStringW(m, static_cast<UINT>(id), text, 128, MF_BYCOMMAND) <= 0) return L"";
    std::wstring caption = text;
    return caption.substr(0, caption.find(L'\t'));  // without the shortcut text
}

void frmMain::SetMenuCaption(int id, const std::wstring& caption) {
    wchar_t text[128] = {};
    HMENU m = MenuHolding(id);
    if (!m || GetMenuStringW(m, static_cast<UINT>(id), text, 128, MF_BYCOMMAND) <= 0) return;
    std::wstring old = text;
    auto tab = old.find(L'\t');  // the shortcut text stays
    std::wstring full = caption + (tab == std::wstring::npos ? L"" : old.substr(tab));
    MENUITEMINFOW info{sizeof info};
    info.fMask = MIIM_STRING;
    info.dwTypeData = full.data();
    SetMenuItemInfoW(m, static_cast<UINT>(id), FALSE, &info);
}
