// The main window's spine: creation (debug privilege, pending knowledge base,
// the two knowledge-base connections), loading (priority, settings, auto-start,
// window-on-top, first list fill, CPU sampler, tray icon, status bar, timers),
// resizing, unloading, and the option boxes that live here.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/modMain.h"
#include "mainwindow/modTrayIcon.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"
#include "sysaccess/clsCPUUsage.h"
#include "sysaccess/modAdjustToken.h"
#include "sysaccess/modEnDeCryption.h"
#include "sysaccess/modReg.h"
#include "update/frmDownload.h"

using namespace frmMainMenu;

namespace {

constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"Morvix_AutoRun_Hide";
constexpr const wchar_t* kCipherKey = L"46120573";

std::wstring RunValueData() {
    return L"\"" + vb::AppPath() + L"\\" + vb::AppEXEName() + L".exe\" /h";
}

// A copy being installed: a new file beside db.mdb, held with no sharing
// from its creation until it is db.mdb or gone, so nobody else can open it
// (virus scanners open new files as they appear) or change it.  It is
// written, checked, renamed into place or deleted through this one handle.
struct StagedCopy {
    win::FileHandle file;
    std::wstring name;
    // Marks the copy for deletion; it goes when the handle closes.
    void Discard() {
        FILE_DISPOSITION_INFO dispose{TRUE};
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
        file.reset();
    }
    // Renames the held copy over target.
    bool Install(const std::wstring& target) {
        std::vector<BYTE> bytes(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
        info->ReplaceIfExists = TRUE;
        info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
        std::copy(target.begin(), target.end(), info->FileName);
        return SetFileInformationByHandle(file.get(), FileRenameInfo, info, static_cast<DWORD>(bytes.size())) != FALSE;
    }
};

StagedCopy CreateStagedFile(const std::wstring& folder) {
    StagedCopy staged;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        staged.name = folder + L"\\mxd" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                      std::to_wstring(GetTickCount() + attempt) + L".tmp";
        HANDLE h = CreateFileW(staged.name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        staged.file.reset(h);
        if (staged.file || error != ERROR_FILE_EXISTS) break;
    }
    return staged;
}

// Copies source into a staged copy beside target, flushed to disk.  The
// source is read through one handle that lets nobody write it meanwhile.  No
// file when the copy failed (the source held by another program among the
// reasons); nothing is left behind then.
StagedCopy StageCopy(const std::wstring& source, const std::wstring& target) {
    win::FileHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return {};
    StagedCopy staged = CreateStagedFile(target.substr(0, target.find_last_of(L'\\')));
    if (!staged.file) return {};
    auto copy = [&] {
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            DWORD read = 0, written = 0;
            if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
            if (read == 0) return FlushFileBuffers(staged.file.get()) != FALSE;
            if (!WriteFile(staged.file.get(), buffer.data(), read, &written, nullptr) || written != read) return false;
        }
    };
    if (!copy()) {
        staged.Discard();
        return {};
    }
    return staged;
}

// The knowledge base a download left for this start.  Only a whole database
// is installed (the check the update window makes after its download: it
// opens with the password and every table reads to its end), and the check is
// made through the held copy beside db.mdb that then becomes db.mdb: the
// temporary folder is open to other programs, and a file checked there could
// be another by the time it is copied.  db.mdb is at every moment the whole
// old file or the whole new one.  The pending file goes once it is installed
// or refused; one that another program holds, or a copy, check or rename
// that could not be made, keeps it (and the old db.mdb) for the next start.
void InstallPendingDatabase(const std::wstring& pending, const std::wstring& target) {
    if (GetFileAttributesW(pending.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    StagedCopy staged = StageCopy(pending, target);
    if (!staged.file) return;
    using Check = frmDownload::DatabaseCheck;
    const Check check = frmDownload::CheckCompleteDatabase(staged.file.get(), staged.name);
    if (check == Check::Complete && staged.Install(target)) {
        staged.file.reset();
        DeleteFileW(pending.c_str());
        return;
    }
    staged.Discard();
    if (check == Check::Incomplete) DeleteFileW(pending.c_str());
}

}  // namespace

void frmMain::Form_Initialize() {
    vb::Try([] { modAdjustToken::EnableDebugPrivilege(); });
    vb::Try([] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES |
                                                 ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
    });
    vb::Try([] { InitializeCom(); });
    if (vb::CommandLineArgs() == L"/updatemdb") {
        vb::Try([] {
            InstallPendingDatabase(vb::TempPath() + frmDownload::kPendingDatabaseName, vb::AppPath() + L"\\db.mdb");
        });
    }
    vb::Try([] {
        modMain::g_dbMain = dao::DBEngine::OpenDatabase(vb::AppPath() + L"\\db.mdb", true, false,
                                                        std::wstring(L";pwd=") + modMain::kDatabasePassword);
    });
    vb::Try([] { modMain::g_dbUser = dao::DBEngine::OpenDatabase(vb::AppPath() + L"\\userdb.mdb", true, false); });
    modEnDeCryption::g_cipherKey = kCipherKey;
    vb::TrimWorkingSet();
}

void frmMain::RaiseOwnPriority() {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd_, &pid);
    win::Handle h(OpenProcess(0x264, FALSE, pid));
    if (h) SetPriorityClass(h.get(), HIGH_PRIORITY_CLASS);
}

void frmMain::Form_Load() {
    vb::Try([&] { RaiseOwnPriority(); });
    // Step 2 (window icon) happened when the window class was registered.
    vb::Try([&] { ui::SetText(lblMainVersion, std::wstring(L"Velkaro V") + kProgramVersion + L" - 数据库版本"); });
    vb::Try([&] {
        referenceWidth = 800L * vb::TwipsPerPixelX();
        referenceHeight = 600L * vb::TwipsPerPixelY();
        modAutoSizeForm::SetFormSizeLimits(hwnd_, referenceWidth, referenceHeight);
    });
    vb::Try([&] { LoadToolbarPictures(); });

    // Settings: "@@" on every start; a section holding only the marker is a first run.
    vb::Try([] {
        vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"@@", L"0");
        if (vb::GetAllSettings(frmMain::kSettingsApp, frmMain::kSettingsSection).size() == 1) {
            vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AlwaysOnTop", L"0");
            vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AntiVirus", L"0");
            vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AutoRun", L"0");
        }
    });
    vb::Try([&] {
        if (vb::GetSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AutoRun") == L"1") {
            modReg::SetRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, RunValueData(), REG_SZ);
            SetCheckValue(chkAutoRun, 1);
            SetMenuChecked(mnuSettingAutoRun, true);
        } else {
            modReg::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
            SetCheckValue(chkAutoRun, 0);
            SetMenuChecked(mnuSettingAutoRun, false);
        }
    });
    vb::Try([&] {
        if (vb::GetSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AlwaysOnTop") == L"1") {
            SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetCheckValue(chkAlwaysOnTop, 1);
            SetMenuChecked(mnuSettingAlwaysOnTop, true);
        } else {
            SetCheckValue(chkAlwaysOnTop, 0);
            SetMenuChecked(mnuSettingAlwaysOnTop, false);
        }
    });
    vb::Try([&] {
        bool on = vb::GetSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AntiVirus") == L"1";
        SetCheckValue(chkAntiVirus, on ? 1 : 0);
        SetMenuChecked(mnuSettingAntiVirus, on);
    });

    vb::Try([&] { modEnumProcess::RefreshProcessList(lvwProcess, ilsPrcIcon, *this); });
    lvwProcess.SortKey = 3;
    vb::Try([&] {
        cpuUsage_ = std::make_unique<clsCPUUsage>();
        cpuUsage_->Initialize();
        lastCpuPercent = std::clamp(cpuUsage_->Query(), 0L, 100L);  // the first value can fall outside
    });
    vb::Try([&] { UpdateProcessCpuColumn(); });
    if (!modMain::g_alreadyRunning) {
        vb::Try([&] {
            SetTrayPicture(1);
            modTrayIcon::AddTrayIcon(*this);
            modTrayIcon::SetTrayTip(L"CPU 使用率: " + std::to_wstring(lastCpuPercent) + L"%");
        });
    }
    vb::Try([&] {
        modMain::g_rsMain = vb::Deref(modMain::g_dbMain).OpenRecordset(L"SELECT * FROM Version");
        modMain::g_rsMain->MoveFirst();
        ui::SetText(lblMDBVersion, modMain::g_rsMain->Fields(L"Version").value_or(L""));
    });
    modMain::g_rsMain.reset();

    vb::Try([&] {
        SetPanelText(1, L"进程数: " + std::to_wstring(lvwProcess.Count()));
        SetPanelText(2, L"CPU: " + std::to_wstring(lastCpuPercent) + L"%");
        SetPanelText(3, L"内存: " + GetMemoryUsageText());
    });
    SetTimer(hwnd_, frmMainIds::tmrMonitor, 1000, nullptr);
    EnableWindow(hwnd_, TRUE);
    vb::Try([&] { mnuListRefresh_Click(); });
    vb::Try([&] { lvwProcess_Click(); });
    vb::TrimWorkingSet();
}

void frmMain::Form_Resize() {
    int openPanel = -1;
    vb::Try([&] {
        for (int i = 0; i <= 1; ++i)
            if (picPopupForm[i] && IsWindowVisible(picPopupForm[i])) openPanel = i;
    });
    vb::Try([&] {
        bool first = layout.count == 0;
        // Pages and panels that are not on show are moved but not shown:
        // the page switch and the panel step below would hide them again.
        const int tab = TabCtrl_GetCurSel(tabMain) + 1;
        auto staysHidden = [&](HWND c) {
            for (int i = 1; i <= 3; ++i)
                if (c == picTab[i]) return i != tab;
            for (int i = 0; i <= 1; ++i)
                if (c == picPopupForm[i]) return i != openPanel;
            return false;
        };
        modAutoSizeForm::ResizeControls(layout, hwnd_, false, 0, staysHidden);
        if (first && layout.count) {
            referenceWidth = layout.width;
            referenceHeight = layout.height;
        }
    });
    vb::Try([&] { LayoutStatusBar(); });
    vb::Try([&] { tabMain_Click(); });
    vb::Try([&] {
        // Only the remembered panel ends visible; it is not hidden on the way.
        for (int i = 0; i <= 1; ++i)
            if (picPopupForm[i] && i != openPanel) ShowWindow(picPopupForm[i], SW_HIDE);
        if (openPanel >= 0) ShowWindow(picPopupForm[openPanel], SW_SHOW);
    });
    vb::Try([&] {
        RECT list = ui::ControlRectTwips(lvwProcess.Hwnd());
        for (HWND panel : picPopupForm) {
            if (!panel) continue;
            RECT r = ui::ControlRectTwips(panel);
            ui::MoveControl(panel, r.left, r.top, r.right - r.left, list.bottom - list.top);
        }
        bool anyOpen = (picPopupForm[0] && IsWindowVisible(picPopupForm[0])) ||
                       (picPopupForm[1] && IsWindowVisible(picPopupForm[1]));
        if (anyOpen) {
            RECT panel = ui::ControlRectTwips(picPopupForm[0]);
            ui::MoveControl(lvwProcess.Hwnd(), list.left, list.top, panel.left - 200,
                            list.bottom - list.top);
        }
    });
    vb::Try([&] { ResizeCharts(); });
    vb::Try([&] {
        if (fraProcessComplate) ShowWindow(fraProcessComplate, SW_HIDE);
    });
    vb::Try([&] {
        if (IsIconic(hwnd_))
            ShowWindow(hwnd_, SW_HIDE);  // it lives in the notification area
        else if (!IsWindowVisible(hwnd_) && shown_)
            ShowWindow(hwnd_, SW_SHOW);
    });
    vb::TrimWorkingSet();
}

// The notification icon's hook was installed last and comes off first, then
// the size hook; each does nothing once it is off.
void frmMain::RemoveWindowHooks() {
    vb::Try([] { modTrayIcon::RemoveTrayIcon(); });
    vb::Try([&] { modAutoSizeForm::UnhookForm(hwnd_); });
}

void frmMain::Form_Unload(int& /*cancel*/) {
    RemoveWindowHooks();
    vb::Try([&] { UnloadOtherWindows(); });
}

void frmMain::chkAutoRun_Click() {
    SetMenuChecked(mnuSettingAutoRun, false);
    if (ui::GetCheck(chkAutoRun) == 1) {
        if (modReg::SetRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, RunValueData(), REG_SZ)) {
            SetMenuChecked(mnuSettingAutoRun, true);
            vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AutoRun", L"1");
        }
    } else {
        if (modReg::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue)) {
            SetMenuChecked(mnuSettingAutoRun, false);
            vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AutoRun", L"0");
        }
    }
    vb::TrimWorkingSet();
}

void frmMain::chkAlwaysOnTop_Click() {
    SetMenuChecked(mnuSettingAlwaysOnTop, false);
    bool on = ui::GetCheck(chkAlwaysOnTop) == 1;
    SetWindowPos(hwnd_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetMenuChecked(mnuSettingAlwaysOnTop, on);
    vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AlwaysOnTop", on ? L"1" : L"0");
}
