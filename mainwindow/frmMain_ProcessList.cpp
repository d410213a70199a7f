// The process list view: selection, sorting, column show and hide, refresh
// now, the menu states computed each time a menu opens, and the keyboard
// shortcuts of the menu bar.
#include <windows.h>
#include <commctrl.h>

#include <cwctype>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "sysaccess/modEnumModules.h"

using namespace frmMainMenu;

namespace {

constexpr int kPidColumn = 2, kPathColumn = 6, kPriorityColumn = 5, kMemoryColumn = 4;
constexpr int kStartOrderKey = 3;  // the CPU column's key: never sorted by, marks the start order

constexpr unsigned long kSuspendedGrey = 0xA8A8A8;
constexpr unsigned long kButtonDisabled = 0xC0C0C0;  // RGB(192, 192, 192)
constexpr unsigned long kButtonEnabled = 0x000000;
const wchar_t* const kPauseCaption = L"暂停进程";
const wchar_t* const kResumeCaption = L"恢复进程";

// Sort item -> SortKey it sorts by (item 6 is refresh now, the start order).
constexpr int kOrderItemKey[7] = {0, 2, 1, 4, 5, 6, kStartOrderKey};
// View item -> column it hides and shows.  Items 2 and 3 follow their captions
// ("进程ID", "用户名"), so they govern columns 3 and 2.
constexpr int kViewItemColumn[8] = {0, 1, 3, 2, 4, 5, 6, 7};
// Priority names of the priority submenus, item 0..5.
const wchar_t* const kPriorityNames[6] = {L"实时", L"高", L"高于标准", L"标准", L"低于标准", L"低"};

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

// The program's own process: its name is our executable's file name.
bool IsOwnExecutable(const std::wstring& processName) {
    return Lower(processName) == Lower(vb::AppEXEName() + L".exe");
}

// Only a row the program itself suspended (grey) offers to resume; every
// other colour, the knowledge colours included, offers to pause.
bool OffersResume(unsigned long rowColour) { return rowColour == kSuspendedGrey; }

long RowIdentifier(const ui::ListView& list, int index) {
    std::wstring key = list.Key(index);
    if (key.rfind(L"PID:", 0) == 0) key.erase(0, 4);
    return static_cast<long>(vb::ParseDisplayedNumber(key));
}

// Enables the item of parent that opens submenu sub (such items have no id).
void EnableSubmenuItem(HMENU parent, HMENU sub, bool enabled) {
    for (int i = GetMenuItemCount(parent) - 1; i >= 0; --i)
        if (GetSubMenu(parent, i) == sub)
            EnableMenuItem(parent, static_cast<UINT>(i), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
}

int ShiftState() {
    return (GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
           (GetKeyState(VK_MENU) < 0 ? 4 : 0);
}

// ---- keyboard ----

LRESULT CALLBACK ListKeyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR form) {
    if (msg == WM_KEYUP) {
        LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
        int keyCode = static_cast<int>(wParam);
        vb::Try([&] { reinterpret_cast<frmMain*>(form)->lvwProcess_KeyUp(keyCode, ShiftState()); });
        return result;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ListKeyProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// The menu bar's shortcuts.
HACCEL Shortcuts() {
    static HACCEL table = [] {
        ACCEL keys[] = {
            {FVIRTKEY, VK_F5, mnuListRefresh1},
            {FVIRTKEY | FCONTROL, 'N', mnuProcessNew1},
            {FVIRTKEY, VK_DELETE, mnuProcessKill1},
            {FVIRTKEY | FCONTROL, 'P', mnuProcessPause1},
            {FVIRTKEY | FSHIFT, VK_DELETE, mnuProcessDelete1},
            {FVIRTKEY | FCONTROL, 'I', mnuProcessProperty1},
            {FVIRTKEY | FCONTROL, 'W', mnuProcessWhere1},
            {FVIRTKEY | FCONTROL, 'C', mnuProcessCopyName1},
            {FVIRTKEY | FCONTROL, 'X', mnuProcessCopyPath1},
            {FVIRTKEY, VK_F11, mnuSettingTaskmgr1},
            {FVIRTKEY, VK_F12, mnuSettingTaskmgr2},
            {FVIRTKEY, VK_F1, mnuHelpHelp},
        };
        return CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
    }();
    return table;
}

// Del, Shift+Del, Ctrl+C and Ctrl+X typed into a text box edit its text; they
// must not end, delete or copy the selected process.
bool TextBoxOwnsKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    wchar_t cls[16] = {};
    if (!GetClassNameW(msg.hwnd, cls, 16) || _wcsicmp(cls, L"Edit") != 0) return false;
    if (msg.wParam == VK_DELETE) return true;
    return GetKeyState(VK_CONTROL) < 0 && (msg.wParam == 'C' || msg.wParam == 'X');
}

// The process page, the first tab, for the menus that act on the list.
void SelectProcessTab(frmMain& form) {
    if (TabCtrl_GetCurSel(form.tabMain) == 0) return;
    TabCtrl_SetCurSel(form.tabMain, 0);
    form.tabMain_Click();
}

}  // namespace

void frmMain::RegisterProcessListCommands() {
    commands_[mnuListRefresh] = [this] { mnuListRefresh_Click(); };
    commands_[mnuListRefresh1] = [this] { mnuListRefresh1_Click(); };
    for (int i = 1; i <= 7; ++i) commands_[mnuListViewSub + i] = [this, i] { mnuListViewSub_Click(i); };
    for (int i = 0; i <= 6; ++i) {
        commands_[mnuListOrderSub + i] = [this, i] { mnuListOrderSub_Click(i); };
        commands_[mnuListOrder1Sub + i] = [this, i] { mnuListOrder1Sub_Click(i); };
    }
    InstallKeyboardHooks();
}

void frmMain::InstallKeyboardHooks() {
    SetWindowSubclass(lvwProcess.Hwnd(), ListKeyProc, 1, reinterpret_cast<DWORD_PTR>(this));
    // Shortcuts work wherever the focus is inside the main window.  Translated
    // against the menu bar, so a greyed item's shortcut does nothing.
    vb::AddMessageFilter([this](MSG& msg) {
        if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
        if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
        if (TextBoxOwnsKey(msg)) return false;
        return TranslateAcceleratorW(hwnd_, Shortcuts(), &msg) != 0;
    });
}

bool frmMain::OnProcessListNotify(NMHDR* hdr, LRESULT* result) {
    if (hdr->hwndFrom != lvwProcess.Hwnd()) return false;
    *result = 0;
    switch (hdr->code) {
    case NM_CLICK:
        vb::Try([&] { lvwProcess_Click(); });
        return true;
    case NM_DBLCLK:
        vb::Try([&] { lvwProcess_DblClick(); });
        return true;
    case NM_RCLICK: {
        // The right button's release; the list never passes it to a subclass.
        POINT p = reinterpret_cast<NMITEMACTIVATE*>(hdr)->ptAction;
        vb::Try([&] { lvwProcess_MouseUp(2, ShiftState(), vb::PixelsToTwipsX(p.x), vb::PixelsToTwipsY(p.y)); });
        *result = 1;  // handled: no WM_CONTEXTMENU after it
        return true;
    }
    case LVN_COLUMNCLICK: {
        int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1;
        vb::Try([&] { lvwProcess_ColumnClick(column); });
        return true;
    }
    default:
        return false;
    }
}

void frmMain::OnInitMenuPopup(HMENU menu) {
    if (!menu) return;
    if (menu == menus_.popup) mnuPopup_Click();
    else if (menu == menus_.list) mnuList_Click();
    else if (menu == menus_.process) mnuProcess_Click();
}

void frmMain::CreateSidePanels() {
    // The module panel: its list is refilled on every row click.
    picPopupForm[1] = ui::CreateContainer(picTab[1], 7800, 600, 3570, 6540, 0, false);
    lblModules = ui::CreateControl(picPopupForm[1], L"STATIC", L"进程模块信息", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 60,
                                   60, 3450, 240);
    lstModules = ui::CreateControl(picPopupForm[1], L"LISTBOX", L"",
                                   WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, 60, 360,
                                   3450, 5700, 0, WS_EX_CLIENTEDGE);
    modAutoSizeForm::SetTag(picPopupForm[1], L"MOVEH");
    modAutoSizeForm::SetTag(lstModules, L"STRETCHV");
}

// ---- selection ----

void frmMain::lvwProcess_Click() {
    const int row = lvwProcess.SelectedIndex();
    if (row == 0) return;  // nothing selected: every state stays as it is
    const std::wstring name = lvwProcess.Text(row);
    const long pid = RowIdentifier(lvwProcess, row);

    const bool systemProcess = pid == 0 || pid == 4;
    const bool own = IsOwnExecutable(name);
    for (int button = 0; button <= 4; ++button) {
        bool enabled = !systemProcess && !(own && button <= 2);
        SetButtonTextColor(button, enabled ? kButtonEnabled : kButtonDisabled);
    }
    const bool resume = OffersResume(lvwProcess.ForeColor(row));
    SetButtonCaption(1, resume ? kResumeCaption : kPauseCaption);
    SetButtonPicture(1, resume ? L"btn021" : L"btn020");

    modEnumModules::ListProcessModules(pid, lstModules);
    long modules = static_cast<long>(SendMessageW(lstModules, LB_GETCOUNT, 0, 0));
    ui::SetText(lblModules, name + L" 进程包含 " + std::to_wstring(modules) + L" 个模块");
    vb::TrimWorkingSet();
}

void frmMain::lvwProcess_KeyUp(int keyCode, int /*shift*/) {
    if (keyCode != VK_UP && keyCode != VK_DOWN) return;
    lvwProcess_Click();
    vb::TrimWorkingSet();
}

void frmMain::lvwProcess_DblClick() {
    // Toggles the description panel; nothing to toggle before it exists.
    HWND panel = picPopupForm[0];
    if (!panel) return;
    ShowWindow(panel, IsWindowVisible(panel) ? SW_HIDE : SW_SHOW);
}

void frmMain::lvwProcess_MouseUp(int button, int /*shift*/, long /*x*/, long /*y*/) {
    if (button == 2) PopupMenu(menus_.popup);
}

// ---- sorting ----

void frmMain::SortProcessList(int key) {
    const bool numeric = key == kPidColumn || key == kMemoryColumn;
    lvwProcess.BeginUpdate();
    vb::Try([&] {
        // Numbers are zero-filled for the sort, so that text order is numeric order.
        if (numeric)
            for (int i = 1; i <= lvwProcess.Count(); ++i) {
                std::wstring text = lvwProcess.SubItem(i, key);
                if (!text.empty())
                    lvwProcess.SetSubItem(i, key, vb::FormatZeroFill(vb::ParseDisplayedNumber(text), 9));
            }
        lvwProcess.SortKey = key;
        lvwProcess.SortOrder = (lvwProcess.SortOrder + 1) % 2;
        lvwProcess.SetSorted(true);
        if (numeric)
            for (int i = 1; i <= lvwProcess.Count(); ++i) {
                std::wstring text = lvwProcess.SubItem(i, key);
                if (text.empty()) continue;
                double value = vb::ParseDisplayedNumber(text);
                lvwProcess.SetSubItem(i, key,
                                      key == kPidColumn ? vb::FormatZeroFill(value, 1) : vb::FormatThousands(value));
            }
    });
    lvwProcess.EndUpdate();
    vb::TrimWorkingSet();
}

void frmMain::lvwProcess_ColumnClick(int column) {
    if (column >= 1 && column <= lvwProcess.ColumnCount() && column - 1 != kStartOrderKey)
        SortProcessList(column - 1);  // column n sorts by key n - 1
    else
        vb::TrimWorkingSet();
}

void frmMain::mnuListOrderSub_Click(int index) {
    if (index < 0 || index > 6) return;
    if (kOrderItemKey[index] == kStartOrderKey)
        mnuListRefresh_Click();
    else
        SortProcessList(kOrderItemKey[index]);
}

void frmMain::mnuListOrder1Sub_Click(int index) { mnuListOrderSub_Click(index); }

// ---- columns ----

void frmMain::mnuListViewSub_Click(int index) {
    if (index < 1 || index > 7) return;
    const int column = kViewItemColumn[index];
    const int item = mnuListViewSub + index;
    if (MenuChecked(item)) {
        lvwProcess.ColumnTag(column) = std::to_wstring(lvwProcess.ColumnWidth(column));
        lvwProcess.SetColumnWidth(column, 0);
    } else {
        lvwProcess.SetColumnWidth(column, static_cast<long>(vb::ParseDisplayedNumber(lvwProcess.ColumnTag(column))));
    }
    SetMenuChecked(item, !MenuChecked(item));
    vb::TrimWorkingSet();
}

// ---- refresh now ----

void frmMain::mnuListRefresh_Click() {
    EnableWindow(hwnd_, FALSE);  // no input while the list is rebuilt
    ++listRefreshDepth_;
    vb::Try([&] {
        const std::wstring selectedKey = lvwProcess.Key(lvwProcess.SelectedIndex());
        lvwProcess.Clear();
        lvwProcess.SortKey = kStartOrderKey;
        lvwProcess.SetSorted(false);
        modEnumProcess::RefreshProcessList(lvwProcess, ilsPrcIcon, *this);
        // The selected process stays selected; without one the first row is.
        int again = selectedKey.empty() ? 0 : lvwProcess.FindKey(selectedKey);
        if (again == 0 && lvwProcess.Count() > 0) again = 1;
        if (again) lvwProcess.Select(again);
        lvwProcess_Click();
        vb::TrimWorkingSet();
    });
    --listRefreshDepth_;
    EnableWindow(hwnd_, TRUE);
}

void frmMain::mnuListRefresh1_Click() { mnuListRefresh_Click(); }

// ---- menu states ----

void frmMain::ApplyProcessMenuStates(bool popup) {
    const int kill = popup ? mnuProcessKill : mnuProcessKill1;
    const int pause = popup ? mnuProcessPause : mnuProcessPause1;
    const int del = popup ? mnuProcessDelete : mnuProcessDelete1;
    const int property = popup ? mnuProcessProperty : mnuProcessProperty1;
    const int where = popup ? mnuProcessWhere : mnuProcessWhere1;
    const int classSub = popup ? mnuProcessClassSub : mnuProcessClass1Sub;
    HMENU parent = popup ? menus_.popup : menus_.process;
    HMENU classMenu = popup ? menus_.processClass : menus_.processClass1;
    const int row = lvwProcess.SelectedIndex();

    // Each step stands on its own: a failing one leaves the next to run.
    vb::Try([&] {
        bool anyPath = row != 0 && !lvwProcess.SubItem(row, kPathColumn).empty();
        bool own = anyPath && IsOwnExecutable(lvwProcess.Text(row));
        for (int id : {kill, pause, del}) SetMenuEnabled(id, anyPath && !own);
        for (int id : {property, where}) SetMenuEnabled(id, anyPath);
    });
    vb::Try([&] {
        bool resume = row != 0 && OffersResume(lvwProcess.ForeColor(row));
        SetMenuCaption(pause, resume ? kResumeCaption : kPauseCaption);
    });
    vb::Try([&] {
        long pid = row ? static_cast<long>(vb::ParseDisplayedNumber(lvwProcess.SubItem(row, kPidColumn))) : 0;
        bool enabled = row != 0 && pid != 0 && pid != 4 && !lvwProcess.SubItem(row, kPriorityColumn).empty();
        EnableSubmenuItem(parent, classMenu, enabled);
    });
    if (popup)
        vb::Try([&] {
            for (int i = 0; i <= 6; ++i) SetMenuChecked(mnuListOrderSub + i, kOrderItemKey[i] == lvwProcess.SortKey);
        });
    vb::Try([&] {
        std::wstring priority = row ? lvwProcess.SubItem(row, kPriorityColumn) : L"";
        for (int i = 0; i <= 5; ++i) SetMenuChecked(classSub + i, !priority.empty() && priority == kPriorityNames[i]);
    });
}

void frmMain::mnuPopup_Click() { ApplyProcessMenuStates(true); }

void frmMain::mnuProcess_Click() {
    vb::Try([&] { SelectProcessTab(*this); });
    ApplyProcessMenuStates(false);
}

void frmMain::mnuList_Click() {
    SelectProcessTab(*this);
    for (int i = 0; i <= 6; ++i) SetMenuChecked(mnuListOrder1Sub + i, kOrderItemKey[i] == lvwProcess.SortKey);
    for (int i = 1; i <= 7; ++i) SetMenuChecked(mnuListViewSub + i, lvwProcess.ColumnWidth(kViewItemColumn[i]) != 0);
}
