// Closing the main window while the automatic sweep's box is up: the sweep
// ends nothing more, and the window closes once the sweep has returned.  Its
// own executable, since the window does not come back.
#include "mainwindow/modMain.h"
#include "platform/dao/dao.h"
#include "platform/jet/Jet.h"
#include "test_actions_support.h"

using namespace acttest;

TEST(KnowledgeClose, ACloseDuringTheSweepsBoxEndsTheSweep) {
    testsupport::TempDir dir(L"mx_sweepclose");
    {
        auto db = jet::Database::Create(dir.File(L"userdb.mdb"));
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
        for (const wchar_t* name : {L"mxbad1.exe", L"mxbad2.exe"}) t.Append({name, L"", L"Y"});
    }
    Form();
    StopTimers();
    modMain::g_dbMain.reset();
    modMain::g_dbUser = dao::DBEngine::OpenDatabase(dir.File(L"userdb.mdb"), true, false);
    Child bad1(L"", CopyOfChild(dir, L"mxbad1.exe")), bad2(L"", CopyOfChild(dir, L"mxbad2.exe"));
    ASSERT_TRUE(bad1.WaitReady());
    ASSERT_TRUE(bad2.WaitReady());
    AddRow(bad1.Pid(), L"mxbad1.exe", dir.File(L"mxbad1.exe"), L"标准", kBlack);
    AddRow(bad2.Pid(), L"mxbad2.exe", dir.File(L"mxbad2.exe"), L"标准", kBlack);
    ASSERT_EQ(ui::GetCheck(Form().chkAntiVirus), 0);

    const HWND window = Form().Hwnd();
    bool stayed = false;
    {
        // The user closes the window while the first box is up.
        EnterInBoxes enter([&] {
            SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            stayed = IsWindow(window) != FALSE;
        });
        // The option is ticked by a click that the outermost loop dispatches.
        PostMessageW(Form().chkAntiVirus, BM_CLICK, 0, 0);
        EXPECT_TRUE(Pump([&] { return !IsWindow(window); }, 20000)) << "the outer loop closes the window";
        EXPECT_EQ(enter.Texts(), std::vector<std::wstring>{L"发现危险进程 mxbad1.exe [" + std::to_wstring(bad1.Pid()) +
                                                           L"] 并已被结束。  "});
    }
    EXPECT_TRUE(stayed) << "nothing closes inside the box";
    EXPECT_TRUE(bad1.WaitExit(5000));
    EXPECT_FALSE(bad2.WaitExit(200)) << "nothing more is ended once the window goes";
    // The next run of the tool starts with the option off again.
    modMain::g_dbUser.reset();
    vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AntiVirus", L"0");
    EXPECT_EQ(vb::RunMessageLoop(), 0);
}
