// The toolbar of the real main window: pictures and cursor, hover, press and
// release colours driven by real mouse messages, the clearing movements, grey
// buttons, and what a click runs for the rows the list can show.
#include <set>

#include "platform/vb/VbError.h"
#include "test_actions_support.h"

using namespace acttest;
using namespace frmMainMenu;
using testsupport::MessageBoxAnswerer;

namespace {

class Toolbar : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
        Clear();
    }
    void TearDown() override {
        for (DWORD pid : {0u, 999993u}) RemoveRow(pid);
        for (int i = 0; i <= 4; ++i) Form().SetButtonTextColor(i, kBlack);
        Clear();
    }
    static HWND Button(int i) { return Form().lblButton[i]; }
    static void Move(HWND w, int x = 5, int y = 5) { SendMessageW(w, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
    static void Down(int i) { SendMessageW(Button(i), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10)); }
    static void Up(int i, int x = 10, int y = 10) { SendMessageW(Button(i), WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
    static void Clear() { Move(Form().Hwnd()); }
    static std::vector<bool> Frames() {
        std::vector<bool> f;
        for (int i = 0; i < 7; ++i) f.push_back(Form().ButtonFrameVisible(i));
        return f;
    }
    static std::vector<bool> Only(int i) {
        std::vector<bool> f(7, false);
        if (i >= 0) f[static_cast<size_t>(i)] = true;
        return f;
    }
    // A row for the idle process, whose actions are all greyed.
    static void SelectIdleRow() { ClickRow(AddRow(0, L"System Idle Process", L"", L"", kBlack, L"16")); }
};

}  // namespace

TEST_F(Toolbar, ButtonsCarryTheirCaptionsPicturesAndTheHandCursor) {
    const wchar_t* captions[7] = {L"结束进程", nullptr, L"删除文件", L"查看属性", L"文件定位", L"刷新列表", L"检查更新"};
    for (int i = 0; i < 7; ++i) {
        if (i == 1) continue;  // follows the selected row
        EXPECT_EQ(Form().ButtonCaption(i), captions[i]);
        wchar_t text[32] = {};
        GetWindowTextW(Button(i), text, 32);
        EXPECT_STREQ(text, captions[i]) << "the window's own text is its caption";
        EXPECT_EQ(Form().ButtonPicture(i), L"btn0" + std::to_wstring(i + 1) + L"0");
    }
    // Eight distinct pictures, "btn021" among them.
    ui::ImageList& images = Form().ilsButtonIcon;
    EXPECT_EQ(images.Count(), 8);
    std::set<std::vector<uint32_t>> distinct;
    for (const wchar_t* key : {L"btn010", L"btn020", L"btn021", L"btn030", L"btn040", L"btn050", L"btn060", L"btn070"}) {
        ASSERT_GE(images.IndexOf(key), 0) << key;
        win::Icon icon(images.ExtractIcon(images.IndexOf(key)));
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        std::vector<uint32_t> px(24 * 24);
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 24, -24, 1, 32, BI_RGB};
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, 24, px.data(), &bi, DIB_RGB_COLORS), 24);
        ReleaseDC(nullptr, dc);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        distinct.insert(px);
    }
    EXPECT_EQ(distinct.size(), 8u);
    // An unknown picture is refused and the button keeps its own.
    EXPECT_THROW(Form().SetButtonPicture(0, L"btn099"), vb::Error);
    EXPECT_EQ(Form().ButtonPicture(0), L"btn010");

    HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
    ASSERT_NE(hand, nullptr) << "cursor resource 101";
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(Button(0), GCLP_HCURSOR)), hand);
}

TEST_F(Toolbar, HoverFramesAndHighlightsOneButtonAtATime) {
    Move(Button(2));
    EXPECT_EQ(Frames(), Only(2));
    EXPECT_EQ(Form().ButtonTextColor(2), kHighlight);
    Move(Button(3));
    EXPECT_EQ(Frames(), Only(3));
    EXPECT_EQ(Form().ButtonTextColor(3), kHighlight);
    EXPECT_EQ(Form().ButtonTextColor(2), kButtonText);

    // The frame is drawn: white at the top left corner while it shows.
    UpdateWindow(Button(3));
    HDC dc = GetDC(Button(3));
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
    ReleaseDC(Button(3), dc);
    Clear();
    UpdateWindow(Button(3));
    dc = GetDC(Button(3));
    EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_BTNFACE));
    ReleaseDC(Button(3), dc);
}

TEST_F(Toolbar, PressAndReleaseColours) {
    SelectIdleRow();  // buttons 0 to 4 grey: nothing runs on the clicks below
    Form().SetButtonTextColor(3, kBlack);
    MessageBoxAnswerer none;
    Down(3);
    EXPECT_EQ(Form().ButtonTextColor(3), 0xFFFFFFu) << "white while held";
    Move(Button(3));
    EXPECT_EQ(Form().ButtonTextColor(3), kHighlight) << "moving while held highlights again";
    Down(3);
    Up(3);
    EXPECT_EQ(Form().ButtonTextColor(3), kHighlight) << "highlight after release";
    EXPECT_TRUE(none.Boxes().empty()) << "properties of a row without a path does nothing";
}

TEST_F(Toolbar, ClearingMovements) {
    auto hoverThenMoveOver = [&](HWND w) {
        Move(Button(4));
        EXPECT_EQ(Frames(), Only(4));
        Move(w);
    };
    for (HWND w : {Form().picTab[1], Form().Hwnd(), List().Hwnd(), Form().staInformation}) {
        hoverThenMoveOver(w);
        EXPECT_EQ(Frames(), Only(-1));
        EXPECT_EQ(Form().ButtonTextColor(4), kButtonText);
    }
    // The other pages and the toolbar's own gaps leave the hover as it is.
    for (HWND w : {Form().picTab[2], Form().picTab[3], Form().picButton}) {
        hoverThenMoveOver(w);
        EXPECT_EQ(Frames(), Only(4));
        EXPECT_EQ(Form().ButtonTextColor(4), kHighlight);
    }
    // Enabled black becomes the button-text colour at the first clearing.
    Clear();
    Form().SetButtonTextColor(0, kBlack);
    Clear();
    EXPECT_EQ(Form().ButtonTextColor(0), kButtonText);
}

TEST_F(Toolbar, GreyButtonsIgnoreEverythingButTheFrame) {
    SelectIdleRow();
    for (int i = 0; i <= 4; ++i) ASSERT_EQ(Form().ButtonTextColor(i), kDisabled) << i;
    MessageBoxAnswerer none;
    for (int i = 0; i <= 4; ++i) {
        Move(Button(i));
        EXPECT_EQ(Frames(), Only(i)) << "a grey button still shows its frame";
        Down(i);
        Up(i);
        Form().lblButton_Click(i);
        EXPECT_EQ(Form().ButtonTextColor(i), kDisabled);
    }
    Clear();
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(Form().ButtonTextColor(i), kDisabled);
    EXPECT_TRUE(none.Boxes().empty());
}

TEST_F(Toolbar, OwnRowGreysEndPauseDeleteButNotPropertiesAndLocate) {
    Refresh();
    ClickRow(Row(GetCurrentProcessId()));
    std::vector<unsigned long> colours;
    for (int i = 0; i <= 4; ++i) colours.push_back(Form().ButtonTextColor(i));
    EXPECT_EQ(colours, (std::vector<unsigned long>{kDisabled, kDisabled, kDisabled, kBlack, kBlack}));
    MessageBoxAnswerer none;
    for (int i = 0; i <= 2; ++i) Form().lblButton_Click(i);
    EXPECT_TRUE(none.Boxes().empty());
}

TEST_F(Toolbar, ClickRunsTheButtonsCommand) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ClickRow(Row(child.Pid()));
    ASSERT_EQ(Form().ButtonCaption(1), kPause);

    // Button 1 pauses after asking, and flips to resume with its picture.
    {
        MessageBoxAnswerer yes({IDYES});
        Down(1);
        Up(1);
        ASSERT_EQ(yes.Boxes().size(), 1u);
        EXPECT_EQ(yes.Boxes()[0].text.find(L"暂停进程可能会导致程序或系统出错。"), 0u);
    }
    EXPECT_TRUE(child.Frozen());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kGrey);
    EXPECT_EQ(Form().ButtonCaption(1), kResume);
    EXPECT_EQ(Form().ButtonPicture(1), L"btn021");

    // Resume needs no confirmation and flips back.
    {
        MessageBoxAnswerer none;
        Down(1);
        Up(1);
        EXPECT_TRUE(none.Boxes().empty());
    }
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(List().ForeColor(Row(child.Pid())), kWindowText);
    EXPECT_EQ(Form().ButtonCaption(1), kPause);
    EXPECT_EQ(Form().ButtonPicture(1), L"btn020");

    // A release outside the button is no click.
    {
        MessageBoxAnswerer none;
        Down(0);
        Up(0, 2000, 10);
        EXPECT_TRUE(none.Boxes().empty());
    }
    // Button 0 ends the process after asking.
    {
        MessageBoxAnswerer yes({IDYES});
        Down(0);
        Up(0);
        ASSERT_EQ(yes.Boxes().size(), 1u);
        EXPECT_EQ(yes.Boxes()[0].text.find(L"结束进程可能会导致数据丢失或系统不稳定！"), 0u);
    }
    EXPECT_TRUE(child.WaitExit(5000));

    // Button 5 rebuilds the list: a row of no process goes.
    AddRow(999993, L"ghost.exe", L"C:\\ghost.exe", L"标准", kBlue);
    Down(5);
    Up(5);
    EXPECT_EQ(Row(999993), 0);
    EXPECT_EQ(Row(child.Pid()), 0);
}

TEST_F(Toolbar, ADoubleClickIsOneClick) {
    Child child(L"--threads 1");
    ASSERT_TRUE(child.WaitReady());
    Refresh();
    ClickRow(Row(child.Pid()));
    {
        MessageBoxAnswerer yes({IDYES});
        Down(1);
        Up(1);
    }
    ASSERT_EQ(Form().ButtonCaption(1), kResume);
    ASSERT_TRUE(child.Frozen());

    // Resuming asks nothing; a second click would ask to pause again.
    MessageBoxAnswerer no({}, IDNO);
    SetForegroundWindow(Form().Hwnd());
    testsupport::ClickMiddle(Button(1), 2);  // a real double click
    EXPECT_TRUE(Pump([&] { return Form().ButtonCaption(1) == kPause; }, 3000)) << "the double click reached the button";
    PumpFor(300);
    EXPECT_TRUE(no.Boxes().empty()) << "one click: resume only, no question to pause";
    EXPECT_TRUE(child.Runs());
    EXPECT_EQ(Form().ButtonCaption(1), kPause);
}
