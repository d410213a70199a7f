// The process list of the real main window: what a selected row does to the
// toolbar and the menus, sorting by every column both ways, hiding and showing
// columns, and refresh now; against helper processes.
#include <filesystem>
#include <memory>

#include "test_listview_fixture.h"

using namespace mwtest;
using namespace frmMainMenu;
using testsupport::Child;

namespace {

constexpr unsigned long kGrey = 0xA8A8A8, kRed = 255, kBlue = 0xFF0000, kBlack = 0, kWindowText = 0x80000008;
constexpr unsigned long kDisabled = 0xC0C0C0, kEnabled = 0;

const int kPopupFive[] = {mnuProcessKill, mnuProcessPause, mnuProcessDelete, mnuProcessProperty, mnuProcessWhere};
const int kBarFive[] = {mnuProcessKill1, mnuProcessPause1, mnuProcessDelete1, mnuProcessProperty1, mnuProcessWhere1};

// The five process items of both menus, each menu opened afresh.
std::vector<bool> FiveStates(bool popup) {
    OpenMenu(popup ? Form().menus().popup : Form().menus().process);
    std::vector<bool> states;
    for (int id : popup ? kPopupFive : kBarFive) states.push_back(Form().MenuEnabled(id));
    return states;
}


class ListView : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Form();
        StopTimers();
        child_ = std::make_unique<Child>(L"--priority below");
        ASSERT_TRUE(child_->WaitReady());
        Form().mnuListRefresh_Click();
    }
    static void TearDownTestSuite() { child_.reset(); }
    void TearDown() override {
        for (DWORD pid : {0u, 4u, 7u, 13u, 101u, 999996u}) RemoveRow(pid);
        if (int i = Row(child_->Pid())) List().SetForeColor(i, kBlue);
    }
    int ChildRow() {
        int i = Row(child_->Pid());
        EXPECT_GT(i, 0);
        return i;
    }
    static std::unique_ptr<Child> child_;
};
std::unique_ptr<Child> ListView::child_;

}  // namespace

TEST_F(ListView, SystemRowsGreyTheToolbarAndTheMenus) {
    for (DWORD pid : {0u, 4u}) {
        int i = pid == 0 ? AddRow(0, L"System Idle Process", L"", L"", kBlack, L"16")
                         : AddRow(4, L"System", L"", L"", kBlack);
        ClickRow(i);
        EXPECT_EQ(ToolbarColours(), std::vector<unsigned long>(5, kDisabled)) << pid;
        for (bool popup : {true, false}) {
            EXPECT_EQ(FiveStates(popup), std::vector<bool>(5, false)) << pid;
            EXPECT_FALSE(SubmenuEnabled(popup ? Form().menus().popup : Form().menus().process,
                                        popup ? Form().menus().processClass : Form().menus().processClass1));
        }
    }
    // Even with a path and a priority, the identifier alone greys the priority item.
    ClickRow(AddRow(4, L"System", L"C:\\windows\\system32\\ntoskrnl.exe", L"标准", kBlack));
    OpenMenu(Form().menus().popup);
    EXPECT_FALSE(SubmenuEnabled(Form().menus().popup, Form().menus().processClass));
    EXPECT_TRUE(Form().MenuChecked(mnuProcessClassSub + 3)) << "the tick is set all the same";
}

TEST_F(ListView, OwnRowKeepsPropertiesAndLocateButNotEndPauseDelete) {
    int own = Row(GetCurrentProcessId());
    ASSERT_GT(own, 0);
    ClickRow(own);
    EXPECT_EQ(ToolbarColours(), (std::vector<unsigned long>{kDisabled, kDisabled, kDisabled, kEnabled, kEnabled}));
    for (bool popup : {true, false}) {
        EXPECT_EQ(FiveStates(popup), (std::vector<bool>{false, false, false, true, true})) << popup;
        EXPECT_TRUE(SubmenuEnabled(popup ? Form().menus().popup : Form().menus().process,
                                   popup ? Form().menus().processClass : Form().menus().processClass1));
    }
    // The window raised its own priority at load; the menus tick it.
    EXPECT_EQ(List().SubItem(own, 5), L"高");
    EXPECT_TRUE(Form().MenuChecked(mnuProcessClass1Sub + 1));
    EXPECT_FALSE(Form().MenuChecked(mnuProcessClass1Sub + 3));
}

TEST_F(ListView, KnowledgeColoursPauseAndOnlyGreyResumes) {
    int i = ChildRow();
    struct Case {
        unsigned long colour;
        const wchar_t* caption;
        const wchar_t* picture;
    } cases[] = {{kGrey, L"恢复进程", L"btn021"}, {kRed, L"暂停进程", L"btn020"},  {kGrey, L"恢复进程", L"btn021"},
                 {kBlue, L"暂停进程", L"btn020"}, {kBlack, L"暂停进程", L"btn020"}, {kGrey, L"恢复进程", L"btn021"},
                 {kWindowText, L"暂停进程", L"btn020"}};
    for (const auto& c : cases) {
        List().SetForeColor(i, c.colour);
        ClickRow(i);
        EXPECT_EQ(Form().ButtonCaption(1), c.caption) << std::hex << c.colour;
        EXPECT_EQ(Form().ButtonPicture(1), c.picture) << std::hex << c.colour;
        OpenMenu(Form().menus().popup);
        EXPECT_EQ(Form().MenuCaption(mnuProcessPause), c.caption) << std::hex << c.colour;
        OpenMenu(Form().menus().process);
        EXPECT_EQ(Form().MenuCaption(mnuProcessPause1), c.caption) << std::hex << c.colour;
        EXPECT_EQ(ToolbarColours(), std::vector<unsigned long>(5, kEnabled));
        EXPECT_EQ(FiveStates(true), std::vector<bool>(5, true));
    }
    // The bar item keeps its shortcut text beside the caption.
    wchar_t text[64] = {};
    GetMenuStringW(Form().menus().process, mnuProcessPause1, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"暂停进程\tCtrl+P");
}

TEST_F(ListView, PriorityTickFollowsTheRowInBothMenus) {
    int i = ChildRow();
    ClickRow(i);
    EXPECT_EQ(List().SubItem(i, 5), L"低于标准");
    for (bool popup : {true, false}) {
        OpenMenu(popup ? Form().menus().popup : Form().menus().process);
        int base = popup ? mnuProcessClassSub : mnuProcessClass1Sub;
        for (int k = 0; k <= 5; ++k) EXPECT_EQ(Form().MenuChecked(base + k), k == 4) << popup << k;
    }
    // An unknown priority text ticks nothing, an empty one greys the item.
    ClickRow(AddRow(7, L"odd.exe", L"C:\\odd.exe", L"其他", kBlue));
    OpenMenu(Form().menus().popup);
    for (int k = 0; k <= 5; ++k) EXPECT_FALSE(Form().MenuChecked(mnuProcessClassSub + k));
    EXPECT_TRUE(SubmenuEnabled(Form().menus().popup, Form().menus().processClass));
    ClickRow(AddRow(13, L"odd2.exe", L"C:\\odd2.exe", L"", kBlue));
    OpenMenu(Form().menus().popup);
    EXPECT_FALSE(SubmenuEnabled(Form().menus().popup, Form().menus().processClass));
}

TEST_F(ListView, EmptyPathKeepsTheToolbarButGreysTheMenus) {
    ClickRow(AddRow(999996, L"nopath.exe", L"", L"标准", kBlue));
    EXPECT_EQ(ToolbarColours(), std::vector<unsigned long>(5, kEnabled));
    EXPECT_EQ(FiveStates(true), std::vector<bool>(5, false));
    EXPECT_EQ(FiveStates(false), std::vector<bool>(5, false));
    for (int id : {mnuProcessCopyName, mnuProcessCopyPath, mnuListRefresh, mnuListOut}) EXPECT_TRUE(Form().MenuEnabled(id));
    for (int id : {mnuProcessNew1, mnuProcessCopyName1, mnuProcessCopyPath1}) EXPECT_TRUE(Form().MenuEnabled(id));
}

TEST_F(ListView, NoSelectionGreysProcessItemsAndLeavesTheToolbar) {
    ClickRow(ChildRow());
    auto before = ToolbarColours();
    List().Select(0);  // none
    Form().lvwProcess_Click();
    EXPECT_EQ(ToolbarColours(), before);
    List().SetForeColor(ChildRow(), kGrey);
    OpenMenu(Form().menus().popup);
    EXPECT_EQ(FiveStates(true), std::vector<bool>(5, false));
    EXPECT_FALSE(SubmenuEnabled(Form().menus().popup, Form().menus().processClass));
    EXPECT_EQ(Form().MenuCaption(mnuProcessPause), L"暂停进程");
    for (int k = 0; k <= 5; ++k) EXPECT_FALSE(Form().MenuChecked(mnuProcessClassSub + k));
}

TEST_F(ListView, ClickListsTheModulesOfTheRow) {
    int i = ChildRow();
    ClickRow(i);
    long count = static_cast<long>(SendMessageW(Form().lstModules, LB_GETCOUNT, 0, 0));
    EXPECT_GT(count, 0) << "the helper loads at least the system libraries";
    EXPECT_EQ(ui::GetText(Form().lblModules), L"TestChild.exe 进程包含 " + std::to_wstring(count) + L" 个模块");
}

TEST_F(ListView, ProcessMenuBringsTheProcessPageForward) {
    for (HMENU menu : {Form().menus().process, Form().menus().list}) {
        TabCtrl_SetCurSel(Form().tabMain, 2);
        Form().tabMain_Click();
        ASSERT_FALSE(IsWindowVisible(Form().picTab[1]));
        OpenMenu(menu);
        EXPECT_EQ(TabCtrl_GetCurSel(Form().tabMain), 0);
        EXPECT_TRUE(IsWindowVisible(Form().picTab[1]));
    }
}

// The menus as the user reads them: captions with their shortcut texts, "-" for
// separators, submenus in brackets, "*" after a ticked item.
std::wstring Describe(HMENU menu, bool ticks) {
    std::wstring out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (i) out += L"|";
        MENUITEMINFOW info{sizeof info};
        info.fMask = MIIM_FTYPE | MIIM_STATE;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            out += L"-";
            continue;
        }
        wchar_t text[128] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        out += text;
        if (ticks && (info.fState & MFS_CHECKED)) out += L"*";
        if (HMENU sub = GetSubMenu(menu, i)) out += L"[" + Describe(sub, ticks) + L"]";
    }
    return out;
}

TEST(Menus, EveryMenuItemCaptionAndShortcut) {
    const auto& m = Form().menus();
    const std::wstring priorities = L"实时 (&R)|高 (&H)|高于标准 (&A)|标准 (&N)|低于标准 (&B)|低 (&L)";
    const std::wstring orders =
        L"按进程名 (&N)|按进程ID (&I)|按用户名 (&U)|按内存 (&M)|按优先级 (&O)|按路径 (&P)|按启动时间 (&T)";
    EXPECT_EQ(Describe(m.bar, false),
              L"列表(&L)[查看选项[进程名 (&N)|进程ID (&I)|用户名 (&U)|CPU (&C)|内存 (&M)|优先级 (&O)|路径 (&P)]|"
              L"列表排序[" + orders + L"]|立即刷新\tF5|导出列表]|"
              L"进程(&P)[新建进程 ...\tCtrl+N|-|结束进程\tDel|暂停进程\tCtrl+P|删除文件(慎用)\tShift+Del|设置优先级[" +
                  priorities +
                  L"]|-|查看属性\tCtrl+I|文件定位\tCtrl+W|复制进程名\tCtrl+C|复制进程路径\tCtrl+X]|"
                  L"设置(&S)[自动屏蔽危险进程|开机自动运行|窗口置顶|-|替换任务管理器\tF11|恢复任务管理器\tF12]|"
                  L"帮助(&H)[使用帮助\tF1|检查更新|进程补完|关于 ...]");
    EXPECT_EQ(Describe(m.popup, false), L"结束进程|暂停进程|删除文件(慎用)|设置优先级[" + priorities +
                                            L"]|-|查看属性|文件定位|复制进程名|复制进程路径|-|列表排序[" + orders +
                                            L"]|立即刷新|导出列表");
    EXPECT_EQ(Describe(m.tray, false), L"显示窗口|退出程序|关于 ...");
    // Every column is shown: the view items are ticked.
    OpenMenu(m.list);
    EXPECT_NE(Describe(m.list, true).find(L"查看选项[进程名 (&N)*|进程ID (&I)*|用户名 (&U)*|CPU (&C)*|内存 (&M)*|优先级 (&O)*|路径 (&P)*]"),
              std::wstring::npos);
}

// ---------------------------------------------------------------- sorting

namespace {

// Three helpers with names and priorities of their own, from copies of the
// helper program; and three rows whose numbers differ in length.
class Sorting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Form();
        StopTimers();
        dir_ = std::make_unique<testsupport::TempDir>(L"mxsort");
        const wchar_t* names[3] = {L"sortA.exe", L"sortb.exe", L"sortC.exe"};
        const wchar_t* priorities[3] = {L"high", L"idle", L"above"};
        for (int k = 0; k < 3; ++k) {
            std::filesystem::copy_file(testsupport::TestChildPath(), dir_->File(names[k]));
            children_[k] = std::make_unique<Child>(std::wstring(L"--priority ") + priorities[k], dir_->File(names[k]));
            ASSERT_TRUE(children_[k]->WaitReady());
        }
    }
    static void TearDownTestSuite() {
        for (auto& c : children_) c.reset();
        dir_.reset();
    }
    void SetUp() override {
        Form().mnuListRefresh_Click();
        AddRow(7, L"n7.exe", L"", L"", kBlue, L"9,800");
        AddRow(13, L"n13.exe", L"", L"", kBlue, L"12,000");
        AddRow(101, L"n101.exe", L"", L"", kBlue, L"980");
    }
    void TearDown() override {
        for (DWORD pid : {7u, 13u, 101u}) RemoveRow(pid);
    }

    static std::vector<std::wstring> Column(int key) {
        std::vector<std::wstring> texts;
        for (int i = 1; i <= List().Count(); ++i) texts.push_back(List().SubItem(i, key));
        return texts;
    }
    static std::vector<int> Positions(const std::vector<DWORD>& pids) {
        std::vector<int> at;
        for (DWORD pid : pids) at.push_back(Row(pid));
        return at;
    }
    static std::vector<DWORD> ChildPids() {
        return {children_[0]->Pid(), children_[1]->Pid(), children_[2]->Pid()};
    }
    static bool Increasing(const std::vector<int>& v) { return std::is_sorted(v.begin(), v.end()) && v.front() < v.back(); }
    static bool Decreasing(const std::vector<int>& v) { return std::is_sorted(v.rbegin(), v.rend()) && v.front() > v.back(); }
    static double Number(const std::wstring& text) { return text.empty() ? -1 : vb::ParseDisplayedNumber(text); }

    static void ExpectNumericOrder(int key, bool ascending) {
        auto texts = Column(key);
        for (size_t i = 1; i < texts.size(); ++i) {
            double a = Number(texts[i - 1]), b = Number(texts[i]);
            EXPECT_TRUE(ascending ? a <= b : a >= b) << key << ": " << i << " " << a << " " << b;
        }
    }
    static void ExpectTextOrder(int key, bool ascending) {
        auto texts = Column(key);
        for (size_t i = 1; i < texts.size(); ++i) {
            int c = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, texts[i - 1].c_str(), -1, texts[i].c_str(), -1);
            EXPECT_TRUE(ascending ? c != CSTR_GREATER_THAN : c != CSTR_LESS_THAN) << key << ": " << i;
        }
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<Child> children_[3];
};
std::unique_ptr<testsupport::TempDir> Sorting::dir_;
std::unique_ptr<Child> Sorting::children_[3];

}  // namespace

TEST_F(Sorting, EveryColumnSortsBothWaysAndFlipsOnEachClick) {
    const int before = List().SortOrder;
    for (int column : {1, 2, 3, 5, 6, 7}) {
        const int key = column - 1;
        for (int pass = 0; pass < 2; ++pass) {
            int order = List().SortOrder;
            Form().lvwProcess_ColumnClick(column);
            ASSERT_EQ(List().SortOrder, 1 - order) << "every sort command flips the order";
            EXPECT_EQ(List().SortKey, key);
            EXPECT_TRUE(List().Sorted());
            bool ascending = List().SortOrder == 0;
            if (key == 2 || key == 4)
                ExpectNumericOrder(key, ascending);
            else
                ExpectTextOrder(key, ascending);
            auto helpers = Positions(ChildPids());  // sortA, sortb, sortC
            if (key == 0 || key == 6) {
                EXPECT_TRUE(ascending ? Increasing(helpers) : Decreasing(helpers)) << key;
            }
        }
    }
    EXPECT_EQ(List().SortOrder, before) << "twelve flips";
}

TEST_F(Sorting, NumbersSortAsNumbersAndKeepTheirUsualText) {
    List().SortOrder = 1;  // the next sort is ascending
    Form().lvwProcess_ColumnClick(3);
    auto at = Positions({7, 13, 101});
    EXPECT_TRUE(Increasing(at)) << "7 before 13 before 101";
    Form().lvwProcess_ColumnClick(3);
    at = Positions({7, 13, 101});
    EXPECT_TRUE(Decreasing(at));
    for (int i = 1; i <= List().Count(); ++i)
        EXPECT_EQ(List().SubItem(i, 2), std::to_wstring(static_cast<long>(Number(List().SubItem(i, 2)))));

    List().SortOrder = 1;
    Form().lvwProcess_ColumnClick(5);
    at = Positions({101, 7, 13});  // 980, 9,800, 12,000
    EXPECT_TRUE(Increasing(at));
    EXPECT_EQ(List().SubItem(Row(7), 4), L"9,800");
    EXPECT_EQ(List().SubItem(Row(13), 4), L"12,000");
    EXPECT_EQ(List().SubItem(Row(101), 4), L"980");
    for (int i = 1; i <= List().Count(); ++i) {
        std::wstring text = List().SubItem(i, 4);
        EXPECT_TRUE(text.empty() || text[0] != L'0') << "no leading zeros left: " << i;
    }
}

TEST_F(Sorting, TwoHeadersInTurnGiveOppositeOrders) {
    Form().lvwProcess_ColumnClick(1);
    int nameOrder = List().SortOrder;
    Form().lvwProcess_ColumnClick(7);
    EXPECT_EQ(List().SortOrder, 1 - nameOrder);
    auto helpers = Positions(ChildPids());
    EXPECT_TRUE(nameOrder == 0 ? Decreasing(helpers) : Increasing(helpers));
}

TEST_F(Sorting, CpuHeaderChangesNothing) {
    Form().lvwProcess_ColumnClick(1);
    int order = List().SortOrder;
    std::vector<std::wstring> keys;
    for (int i = 1; i <= List().Count(); ++i) keys.push_back(List().Key(i));
    Form().lvwProcess_ColumnClick(4);
    EXPECT_EQ(List().SortOrder, order);
    EXPECT_EQ(List().SortKey, 0);
    for (int i = 1; i <= List().Count(); ++i) EXPECT_EQ(List().Key(i), keys[static_cast<size_t>(i - 1)]);
}

TEST_F(Sorting, SortItemsOfBothMenusAndTheirTicks) {
    const int keyOfItem[6] = {0, 2, 1, 4, 5, 6};
    for (int item = 0; item <= 5; ++item) {
        Command((item % 2 ? mnuListOrder1Sub : mnuListOrderSub) + item);
        EXPECT_EQ(List().SortKey, keyOfItem[item]);
        OpenMenu(Form().menus().list);
        OpenMenu(Form().menus().popup);
        for (int k = 0; k <= 6; ++k) {
            EXPECT_EQ(Form().MenuChecked(mnuListOrder1Sub + k), k == item) << item << " " << k;
            EXPECT_EQ(Form().MenuChecked(mnuListOrderSub + k), k == item) << item << " " << k;
        }
    }
    // 按启动时间 is refresh now: start order, not sorted, order not flipped.
    int order = List().SortOrder;
    Command(mnuListOrder1Sub + 6);
    EXPECT_EQ(List().SortKey, 3);
    EXPECT_FALSE(List().Sorted());
    EXPECT_EQ(List().SortOrder, order);
    OpenMenu(Form().menus().popup);
    for (int k = 0; k <= 6; ++k) EXPECT_EQ(Form().MenuChecked(mnuListOrderSub + k), k == 6);
    List().SortKey = 9;
    OpenMenu(Form().menus().popup);
    for (int k = 0; k <= 6; ++k) EXPECT_FALSE(Form().MenuChecked(mnuListOrderSub + k));
    List().SortKey = 3;
}

TEST_F(Sorting, SelectionFollowsTheRowThroughSortsAndRefreshes) {
    const std::wstring key = Key(children_[1]->Pid());
    ClickRow(List().FindKey(key));
    for (int column : {1, 3, 5, 1}) {
        Form().lvwProcess_ColumnClick(column);
        ASSERT_EQ(List().Key(List().SelectedIndex()), key) << column;
        EXPECT_EQ(List().SelectedIndices().size(), 1u);
    }
    List().SetForeColor(List().FindKey(key), kGrey);
    Form().mnuListRefresh_Click();
    EXPECT_EQ(List().Key(List().SelectedIndex()), key);
    EXPECT_EQ(List().ForeColor(List().FindKey(key)), kBlue) << "a rebuilt row has its knowledge colour again";
    EXPECT_EQ(Form().ButtonCaption(1), L"暂停进程");
    EXPECT_EQ(Form().lvwProcess.Count(), List().Count());
    EXPECT_TRUE(IsWindowEnabled(Form().Hwnd()));
}

TEST_F(Sorting, RefreshWithoutSelectionSelectsTheFirstRow) {
    List().Select(0);
    Form().mnuListRefresh_Click();
    EXPECT_EQ(List().SelectedIndex(), 1);
}

// ---------------------------------------------------------------- columns

TEST(Columns, HideAndShowRestoresTheWidthAndTicksFollowTheWidth) {
    Form();
    StopTimers();
    // Items 2 and 3 are named after the identifier and the user: they govern those columns.
    const int columnOfItem[8] = {0, 1, 3, 2, 4, 5, 6, 7};
    for (int item = 1; item <= 7; ++item) {
        const int column = columnOfItem[item];
        const long width = List().ColumnWidth(column);
        ASSERT_GT(width, 0);
        OpenMenu(Form().menus().list);
        ASSERT_TRUE(Form().MenuChecked(mnuListViewSub + item));
        Command(mnuListViewSub + item);
        EXPECT_EQ(List().ColumnWidth(column), 0) << item;
        EXPECT_EQ(List().ColumnTag(column), std::to_wstring(width));
        OpenMenu(Form().menus().list);
        EXPECT_FALSE(Form().MenuChecked(mnuListViewSub + item));
        for (int other = 1; other <= 7; ++other)
            if (other != item) {
                EXPECT_TRUE(Form().MenuChecked(mnuListViewSub + other)) << item << " " << other;
            }
        Command(mnuListViewSub + item);
        EXPECT_EQ(List().ColumnWidth(column), width) << item;
        OpenMenu(Form().menus().list);
        EXPECT_TRUE(Form().MenuChecked(mnuListViewSub + item));
    }
}

TEST(Columns, AColumnDraggedShutWithoutATagStaysShut) {
    Form();
    const long width = List().ColumnWidth(6);
    List().ColumnTag(6).clear();
    List().SetColumnWidth(6, 0);  // as a drag of the divider leaves it
    OpenMenu(Form().menus().list);
    EXPECT_FALSE(Form().MenuChecked(mnuListViewSub + 6));
    Command(mnuListViewSub + 6);
    EXPECT_EQ(List().ColumnWidth(6), 0);
    List().SetColumnWidth(6, width);
}
