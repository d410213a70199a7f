// The text exports on the real main window: the exact code page 936 bytes of
// each export from fixed rows, the name and the box, Notepad only on OK, and
// an export folder that cannot take the file.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/win/Text.h"
#include "test_listview_fixture.h"

namespace {

using namespace mwtest;
using testsupport::MessageBoxAnswerer;

const std::wstring kStamp = L"2008年5月9日9时5分7秒";

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        StopTimers();
        Form().exportClock = [] {
            SYSTEMTIME t{};
            t.wYear = 2008, t.wMonth = 5, t.wDay = 9, t.wHour = 9, t.wMinute = 5, t.wSecond = 7;
            return t;
        };
        Form().openInNotepad = [this](const std::wstring& path) { opened_.push_back(path); };
        List().Clear();
        SendMessageW(Form().lstModules, LB_RESETCONTENT, 0, 0);
        Ports().Clear();
        if (Ports().ColumnCount() == 0) {  // the ports page's columns: port under "端口", state under "状态"
            Ports().AddColumn(L"协议", 1587, ui::Align::Left, 0);
            Ports().AddColumn(L"端口", 1587, ui::Align::Left, 2);
            Ports().AddColumn(L"状态", 1764, ui::Align::Left, 1);
            Ports().AddColumn(L"PID", 1587, ui::Align::Left, 3);
            Ports().AddColumn(L"进程", 15875, ui::Align::Left, 4);
        }
    }
    void TearDown() override {
        for (const wchar_t* word : {L"进程", L"模块", L"端口"}) std::filesystem::remove_all(std::filesystem::path(File(word)));
        Ports().Clear();
        SendMessageW(Form().lstModules, LB_RESETCONTENT, 0, 0);
        Form().mnuListRefresh_Click();
    }
    static ui::ListView& Ports() { return Form().lvwPorts; }
    static std::wstring File(const std::wstring& word) { return vb::AppPath() + L"\\" + word + L" " + kStamp + L".txt"; }
    static std::string Ansi(const std::vector<std::wstring>& lines) {
        std::wstring text;
        for (const auto& l : lines) text += l + L"\r\n";
        return win::ToAnsi(text);
    }
    static void AddPort(const std::wstring& protocol, const std::wstring& state, const std::wstring& port,
                        const std::wstring& pid, const std::wstring& path) {
        int i = Ports().Add(L"", protocol);
        Ports().SetSubItem(i, 1, state);
        Ports().SetSubItem(i, 2, port);
        Ports().SetSubItem(i, 3, pid);
        Ports().SetSubItem(i, 4, path);
    }
    static void AddModules() {
        for (const wchar_t* m : {L"C:\\windows\\system32\\ntdll.dll", L"C:\\程序\\模块 甲.dll"})
            SendMessageW(Form().lstModules, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m));
        ui::SetText(Form().lblModules, L"test.exe 进程包含 2 个模块");
    }
    static void ClickButton(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }
    std::vector<std::wstring> opened_;
};

TEST_F(Exports, ProcessListBytesNameAndBox) {
    // name, pid, user, cpu, memory, priority, path
    int a = AddRow(8, L"smss.exe", L"C:\\Windows\\System32\\smss.exe", L"标准", 0);
    List().SetSubItem(a, 3, L"00");
    int b = AddRow(123456, L"无路径.exe", L"", L"低于标准", 0, L"123,456,789");
    List().SetSubItem(b, 1, L"A_VERY_LONG_USER_NAME_22");  // 24 characters: no blanks after it
    List().SetSubItem(b, 3, L"5");
    int c = AddRow(4, L"System", L"System", L"", 0, L"");
    (void)c;
    MessageBoxAnswerer boxes({IDOK});
    Command(frmMainMenu::mnuListOut1);  // the menu bar's item runs the pop-up's export

    const std::wstring path = File(L"进程");
    EXPECT_EQ(ReadBytes(path),
              Ansi({kStamp, L"", L"系统当前共3项进程：", L"",
                    L"进程ID    用户名              CPU(%)  内存(KB)  优先级    进程及路径", L"",
                    L"8         SYSTEM              00      1,024     标准      C:\\Windows\\System32\\smss.exe",
                    L"123456    A_VERY_LONG_USER_NAME_225       123,456,789低于标准  无路径.exe",
                    L"4         SYSTEM                                          System"}));
    // Code page 936 on disk: 2008年 is 32 30 30 38 C4 EA.
    EXPECT_EQ(ReadBytes(path).substr(0, 6), std::string("2008\xC4\xEA"));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, L"提示");
    EXPECT_EQ(boxes.Boxes()[0].text, L"进程列表已导出到——\n" + path + L"中。  \n要查看该文件请点“确定”，否则“取消”。");
    EXPECT_EQ(boxes.Boxes()[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(opened_, std::vector<std::wstring>{path});
}

TEST_F(Exports, EmptyProcessListStillWritesCountZeroAndCancelOpensNothing) {
    MessageBoxAnswerer boxes({IDCANCEL});
    Command(frmMainMenu::mnuListOut);
    EXPECT_EQ(ReadBytes(File(L"进程")),
              Ansi({kStamp, L"", L"系统当前共0项进程：", L"",
                    L"进程ID    用户名              CPU(%)  内存(KB)  优先级    进程及路径", L""}));
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(Exports, ModuleListBytesAndEmptyList) {
    {
        MessageBoxAnswerer boxes({IDOK});
        ClickButton(Form().cmdModulesOut);  // nothing listed: no file, no box
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(File(L"模块"))));
    }
    AddModules();
    MessageBoxAnswerer boxes({IDOK});
    ClickButton(Form().cmdModulesOut);
    const std::wstring path = File(L"模块");
    EXPECT_EQ(ReadBytes(path), Ansi({kStamp, L"", L"test.exe 进程包含 2 个模块", L"",
                                     L"C:\\windows\\system32\\ntdll.dll", L"C:\\程序\\模块 甲.dll"}));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              L"列表内容已导出到——\n" + path + L"中。  \n要查看该文件请点“确定”，否则“取消”。  ");
    EXPECT_EQ(opened_, std::vector<std::wstring>{path});
}

TEST_F(Exports, PortListBytesWithClampedPaddingAndEmptyList) {
    {
        MessageBoxAnswerer boxes({IDOK});
        ClickButton(Form().cmdPortsOut);
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(File(L"端口"))));
    }
    AddPort(L"TCP", L"监听中", L"135", L"4", L"System");
    AddPort(L"UDP", L"监听中", L"65535", L"1234567890", L"C:\\程序\\服务.exe");  // the PID overflows its column
    AddPort(L"TCPv6-LONG", L"已建立", L"50000", L"77", L"");                      // protocol and port overflow
    MessageBoxAnswerer boxes({IDCANCEL});
    ClickButton(Form().cmdPortsOut);
    EXPECT_EQ(ReadBytes(File(L"端口")),
              Ansi({kStamp, L"", L"当前进程访问网络端口情况 3", L"", L"协议    端口     状态       PID    进程路径",
                    L"TCP      135    监听中        4    System",
                    L"UDP    65535    监听中1234567890    C:\\程序\\服务.exe",
                    L"TCPv6-LONG50000    已建立       77    "}));
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(Exports, FolderInTheFilesPlaceGivesAFailureBoxAndOpensNothing) {
    AddRow(8, L"smss.exe", L"C:\\smss.exe", L"标准", 0);
    AddModules();
    AddPort(L"TCP", L"监听中", L"135", L"4", L"System");
    for (const wchar_t* word : {L"进程", L"模块", L"端口"}) std::filesystem::create_directory(std::filesystem::path(File(word)));
    MessageBoxAnswerer boxes({IDOK, IDOK, IDOK});
    Command(frmMainMenu::mnuListOut);
    ClickButton(Form().cmdModulesOut);
    ClickButton(Form().cmdPortsOut);
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    const wchar_t* words[] = {L"进程", L"模块", L"端口"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes.Boxes()[i].text, L"列表导出失败，无法写入文件——\n" + File(words[i]) + L"  ");
        EXPECT_EQ(boxes.Boxes()[i].icon, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(File(words[i]))));
    }
    EXPECT_TRUE(opened_.empty());
}

TEST(ExportNames, OneBackslashAndNoLeadingZeros) {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 31, t.wHour = 0, t.wMinute = 0, t.wSecond = 59;
    EXPECT_EQ(frmMain::ExportTimeStamp(t), L"2026年12月31日0时0分59秒");
    EXPECT_EQ(frmMain::ExportFileName(L"C:\\", L"进程", L"T"), L"C:\\进程 T.txt");
    EXPECT_EQ(frmMain::ExportFileName(L"C:\\Program Files\\Morvix", L"端口", L"T"),
              L"C:\\Program Files\\Morvix\\端口 T.txt");
}

}  // namespace
