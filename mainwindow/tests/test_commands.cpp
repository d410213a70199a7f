// The settings and notification-area menus of the real main window: Task
// Manager replacement in the registry, settings items in step with their
// boxes and the stored settings, the show/hide caption.
#include "test_listview_fixture.h"

using namespace mwtest;
using namespace frmMainMenu;
using testsupport::MessageBoxAnswerer;

namespace {

const wchar_t* kSettings = L"Software\\VB and VBA Program Settings\\Morvix\\Setting";
const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool ReadValue(HKEY hive, const wchar_t* key, const wchar_t* name, std::wstring* data = nullptr) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer, type = 0;
    if (RegGetValueW(hive, key, name, RRF_RT_ANY, &type, buffer, &size) != ERROR_SUCCESS) return false;
    if (data) *data = type == REG_SZ ? buffer : L"<not REG_SZ>";
    return true;
}

std::wstring Setting(const wchar_t* name) {
    std::wstring v;
    ReadValue(HKEY_CURRENT_USER, kSettings, name, &v);
    return v;
}

bool Topmost() { return (GetWindowLongW(Form().Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        Form();
        StopTimers();
    }
};

}  // namespace

TEST_F(Commands, TaskManagerIsReplacedByTheQuotedPathAndRestoredOnce) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, frmMain::kTaskmgrKey, L"Debugger");

    MessageBoxAnswerer ok;
    Command(mnuSettingTaskmgr1);
    Command(mnuSettingTaskmgr1);  // written again: success again
    std::wstring data;
    ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, frmMain::kTaskmgrKey, L"Debugger", &data));
    EXPECT_EQ(_wcsicmp(data.c_str(), (L"\"" + std::wstring(self) + L"\"").c_str()), 0)
        << "the program's own path, quoted: " << testing::PrintToString(data);

    Command(mnuSettingTaskmgr2);
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, frmMain::kTaskmgrKey, L"Debugger"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, frmMain::kTaskmgrKey, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "only the value goes, the key stays";
    if (key) RegCloseKey(key);
    Command(mnuSettingTaskmgr2);  // nothing left to delete

    std::vector<std::wstring> texts;
    for (const auto& b : ok.Boxes()) {
        texts.push_back(b.text);
        EXPECT_EQ(b.title, L"提示");
        EXPECT_EQ(b.icon, static_cast<UINT>(MB_ICONINFORMATION));
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"替换成功！  ", L"替换成功！  ", L"恢复成功！  ", L"恢复失败！  "}));
}

TEST_F(Commands, SettingsItemsMoveTheirBoxesAndTheStoredSettings) {
    // Window on top: item, box, window style and setting end the same way.
    Form().SetCheckValue(Form().chkAlwaysOnTop, 0);
    Command(mnuSettingAlwaysOnTop);
    EXPECT_EQ(ui::GetCheck(Form().chkAlwaysOnTop), 1);
    EXPECT_TRUE(Form().MenuChecked(mnuSettingAlwaysOnTop));
    EXPECT_TRUE(Topmost());
    EXPECT_EQ(Setting(L"AlwaysOnTop"), L"1");
    Command(mnuSettingAlwaysOnTop);
    EXPECT_EQ(ui::GetCheck(Form().chkAlwaysOnTop), 0);
    EXPECT_FALSE(Form().MenuChecked(mnuSettingAlwaysOnTop));
    EXPECT_FALSE(Topmost());
    EXPECT_EQ(Setting(L"AlwaysOnTop"), L"0");

    // Start with Windows: the Run value follows, and the tick with it.
    Form().SetCheckValue(Form().chkAutoRun, 0);
    Command(mnuSettingAutoRun);
    EXPECT_EQ(ui::GetCheck(Form().chkAutoRun), 1);
    EXPECT_TRUE(Form().MenuChecked(mnuSettingAutoRun));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"Morvix_AutoRun_Hide"));
    EXPECT_EQ(Setting(L"AutoRun"), L"1");
    Command(mnuSettingAutoRun);
    EXPECT_EQ(ui::GetCheck(Form().chkAutoRun), 0);
    EXPECT_FALSE(Form().MenuChecked(mnuSettingAutoRun));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"Morvix_AutoRun_Hide"));
    EXPECT_EQ(Setting(L"AutoRun"), L"0");

    // Automatic ending: the box's handler sweeps the list and stores the choice.
    Form().SetCheckValue(Form().chkAntiVirus, 0);
    Command(mnuSettingAntiVirus);
    EXPECT_EQ(ui::GetCheck(Form().chkAntiVirus), 1);
    EXPECT_TRUE(Form().MenuChecked(mnuSettingAntiVirus));
    EXPECT_EQ(Setting(L"AntiVirus"), L"1");
    Command(mnuSettingAntiVirus);
    EXPECT_EQ(ui::GetCheck(Form().chkAntiVirus), 0);
    EXPECT_FALSE(Form().MenuChecked(mnuSettingAntiVirus));
    EXPECT_EQ(Setting(L"AntiVirus"), L"0");
}

TEST_F(Commands, ShowHideFollowsTheWindowAndTheTrayMenuCaption) {
    HWND w = Form().Hwnd();
    Form().SetWindowState(0);
    ShowWindow(w, SW_SHOW);
    OpenMenu(Form().menus().tray);
    EXPECT_EQ(Form().MenuCaption(mnuTrayDisplay), L"隐藏窗口");

    Command(mnuTrayDisplay);
    EXPECT_EQ(Form().WindowState(), 1);
    EXPECT_FALSE(IsWindowVisible(w)) << "minimised means hidden in the notification area";
    EXPECT_EQ(Form().MenuCaption(mnuTrayDisplay), L"显示窗口");
    OpenMenu(Form().menus().tray);
    EXPECT_EQ(Form().MenuCaption(mnuTrayDisplay), L"显示窗口");

    // A left click on the icon is the same toggle.
    SendMessageW(w, 2025, 0, WM_LBUTTONUP);
    EXPECT_EQ(Form().WindowState(), 0);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(Form().MenuCaption(mnuTrayDisplay), L"隐藏窗口");
}
