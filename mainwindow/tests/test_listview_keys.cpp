// Keys and mouse on the real main window, posted into its message loop: the
// menu bar's shortcuts (greyed items do nothing, text boxes keep their editing
// keys), Up and Down against the other navigation keys, clicks, the right
// button's pop-up menu and the column headers.
#include <set>

#include "test_listview_fixture.h"

using namespace mwtest;
using namespace frmMainMenu;

namespace {

// What reaches the main window as WM_COMMAND.  The process commands are only
// recorded: what they do is tested with them.
std::vector<int> g_commands;
const std::set<int> kRecordOnly = {mnuProcessNew1,      mnuProcessKill1,     mnuProcessPause1,
                                   mnuProcessDelete1,   mnuProcessProperty1, mnuProcessWhere1,
                                   mnuProcessCopyName1, mnuProcessCopyPath1, mnuSettingTaskmgr1,
                                   mnuSettingTaskmgr2,  mnuHelpHelp};

LRESULT CALLBACK Recorder(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (msg == WM_COMMAND) {
        g_commands.push_back(LOWORD(wParam));
        if (kRecordOnly.count(LOWORD(wParam))) return 0;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void SetModifiers(bool shift, bool control) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_LSHIFT] = keys[VK_RSHIFT] = keys[VK_LCONTROL] = keys[VK_RCONTROL] = 0;
    SetKeyboardState(keys);
}

// One key stroke posted to a window, with the given modifiers held.
void Press(HWND target, UINT vk, bool shift = false, bool control = false) {
    g_commands.clear();
    SetModifiers(shift, control);
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    PumpFor(150);
    SetModifiers(false, false);
}

bool Ran(int id) { return std::find(g_commands.begin(), g_commands.end(), id) != g_commands.end(); }

LPARAM RowPoint(int i) {
    RECT r{};
    r.left = LVIR_LABEL;
    SendMessageW(List().Hwnd(), LVM_GETITEMRECT, static_cast<WPARAM>(i - 1), reinterpret_cast<LPARAM>(&r));
    return MAKELPARAM(r.left + 5, (r.top + r.bottom) / 2);
}

const std::vector<unsigned long> kAllDisabled(5, 0xC0C0C0), kAllEnabled(5, 0);

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        SetWindowSubclass(Form().Hwnd(), Recorder, 77, 0);
        SetForegroundWindow(Form().Hwnd());
        SetFocus(List().Hwnd());
        system_ = AddRow(4, L"System", L"", L"", 0);
        normal_ = AddRow(999996, L"plain.exe", L"C:\\plain.exe", L"标准", 0xFF0000);
        own_ = Row(GetCurrentProcessId());
        ASSERT_GT(own_, 0);
    }
    void TearDown() override {
        RemoveWindowSubclass(Form().Hwnd(), Recorder, 77);
        SetModifiers(false, false);
        for (DWORD pid : {4u, 999996u}) RemoveRow(pid);
    }
    int system_ = 0, normal_ = 0, own_ = 0;
};

}  // namespace

TEST_F(Keys, ShortcutsReachTheirItemsUnlessTheItemIsGreyed) {
    ClickRow(normal_);
    Press(List().Hwnd(), VK_DELETE);
    EXPECT_TRUE(Ran(mnuProcessKill1));
    Press(List().Hwnd(), VK_DELETE, true);
    EXPECT_TRUE(Ran(mnuProcessDelete1));
    EXPECT_FALSE(Ran(mnuProcessKill1)) << "Shift+Del is not Del";
    const std::pair<UINT, int> control[] = {{'P', mnuProcessPause1},    {'I', mnuProcessProperty1},
                                            {'W', mnuProcessWhere1},    {'C', mnuProcessCopyName1},
                                            {'X', mnuProcessCopyPath1}, {'N', mnuProcessNew1}};
    for (auto [key, id] : control) {
        Press(List().Hwnd(), key, false, true);
        EXPECT_TRUE(Ran(id)) << static_cast<char>(key);
    }
    for (auto [key, id] : {std::pair<UINT, int>{VK_F11, mnuSettingTaskmgr1}, {VK_F12, mnuSettingTaskmgr2}, {VK_F1, mnuHelpHelp}}) {
        Press(List().Hwnd(), key);
        EXPECT_TRUE(Ran(id)) << key;
    }
    Press(List().Hwnd(), 'P');
    EXPECT_TRUE(g_commands.empty()) << "P alone is no shortcut";

    // Our own row: end, pause and delete are greyed when the menu would open.
    ClickRow(own_);
    struct Stroke {
        UINT key;
        bool shift, control;
        int id;
    };
    for (auto [key, shift, control, id] : {Stroke{VK_DELETE, false, false, mnuProcessKill1},
                                           Stroke{VK_DELETE, true, false, mnuProcessDelete1},
                                           Stroke{'P', false, true, mnuProcessPause1}}) {
        Press(List().Hwnd(), key, shift, control);
        EXPECT_FALSE(Ran(id)) << key;
    }
    Press(List().Hwnd(), 'W', false, true);
    EXPECT_TRUE(Ran(mnuProcessWhere1));
}

TEST_F(Keys, F5RefreshesThroughTheLoop) {
    Form().lvwProcess_ColumnClick(1);
    ASSERT_TRUE(List().Sorted());
    Press(List().Hwnd(), VK_F5);
    EXPECT_TRUE(Ran(mnuListRefresh1));
    EXPECT_EQ(List().SortKey, 3);
    EXPECT_FALSE(List().Sorted());
    EXPECT_EQ(Row(999996), 0) << "rebuilt from the system: our made-up row is gone";
    normal_ = AddRow(999996, L"plain.exe", L"C:\\plain.exe", L"标准", 0xFF0000);
}

TEST_F(Keys, ATextBoxKeepsItsEditingKeys) {
    ClickRow(normal_);
    HWND edit = CreateWindowExW(0, L"EDIT", L"abcd", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 200, 24,
                                Form().picTab[1], nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    SetFocus(edit);

    SendMessageW(edit, EM_SETSEL, 0, 0);
    Press(edit, VK_DELETE);
    EXPECT_EQ(ui::GetText(edit), L"bcd");
    EXPECT_FALSE(Ran(mnuProcessKill1));

    SendMessageW(edit, EM_SETSEL, 0, 1);
    Press(edit, 'C', false, true);
    EXPECT_FALSE(Ran(mnuProcessCopyName1));
    SendMessageW(edit, EM_SETSEL, 1, 2);
    Press(edit, 'X', false, true);
    EXPECT_FALSE(Ran(mnuProcessCopyPath1));
    EXPECT_EQ(ui::GetText(edit), L"bd") << "cut from the text";
    SendMessageW(edit, EM_SETSEL, 0, 1);
    Press(edit, VK_DELETE, true);
    EXPECT_FALSE(Ran(mnuProcessDelete1));
    EXPECT_EQ(ui::GetText(edit), L"d");

    // The other shortcuts still belong to the menu bar.
    Press(edit, 'P', false, true);
    EXPECT_TRUE(Ran(mnuProcessPause1));
    Press(edit, VK_F1);
    EXPECT_TRUE(Ran(mnuHelpHelp));
    DestroyWindow(edit);
    SetFocus(List().Hwnd());
}

TEST_F(Keys, UpAndDownUpdateTheToolbarOtherKeysOnlyMove) {
    ClickRow(own_);
    ASSERT_EQ(normal_, system_ + 1);
    List().Select(system_);  // moved without a click: nothing follows yet
    Press(List().Hwnd(), VK_DOWN);
    EXPECT_EQ(List().SelectedIndex(), normal_);
    EXPECT_EQ(ToolbarColours(), kAllEnabled);
    Press(List().Hwnd(), VK_UP);
    EXPECT_EQ(List().SelectedIndex(), system_);
    EXPECT_EQ(ToolbarColours(), kAllDisabled);
    Press(List().Hwnd(), VK_END);
    EXPECT_EQ(List().SelectedIndex(), List().Count());
    Press(List().Hwnd(), VK_HOME);
    EXPECT_EQ(List().SelectedIndex(), 1);
    EXPECT_EQ(ToolbarColours(), kAllDisabled) << "Home and End move without updating";
}

TEST_F(Keys, ClicksReachTheListHandlers) {
    ClickRow(own_);
    PostMessageW(List().Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, RowPoint(system_));
    PostMessageW(List().Hwnd(), WM_LBUTTONUP, 0, RowPoint(system_));
    PumpFor(300);
    EXPECT_EQ(List().SelectedIndex(), system_);
    EXPECT_EQ(ToolbarColours(), kAllDisabled);

    // A click on the "PID" header sorts by the identifier.
    HWND header = ListView_GetHeader(List().Hwnd());
    RECT r{};
    Header_GetItemRect(header, 2, &r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    int order = List().SortOrder;
    PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(header, WM_LBUTTONUP, 0, at);
    PumpFor(300);
    EXPECT_EQ(List().SortKey, 2);
    EXPECT_EQ(List().SortOrder, 1 - order);
    Form().mnuListRefresh_Click();
}

namespace {

bool g_menuSeen = false;
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu && IsWindowVisible(menu)) {
        g_menuSeen = true;
        EndMenu();
    }
}

}  // namespace

TEST_F(Keys, RightButtonPopsUpTheListMenuForTheRowUnderThePointer) {
    ClickRow(normal_);
    g_menuSeen = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 200, CloseMenu);
    PostMessageW(List().Hwnd(), WM_RBUTTONDOWN, MK_RBUTTON, RowPoint(own_));
    PostMessageW(List().Hwnd(), WM_RBUTTONUP, 0, RowPoint(own_));
    Pump([] { return g_menuSeen; }, 3000);
    PumpFor(200);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(g_menuSeen);
    EXPECT_EQ(List().SelectedIndex(), own_);
    // The menu's states were made for our own row when it opened.
    EXPECT_FALSE(Form().MenuEnabled(mnuProcessKill));
    EXPECT_TRUE(Form().MenuEnabled(mnuProcessWhere));
}
