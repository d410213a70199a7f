#pragma once
// The main window: process list with toolbar and side panels, ports page,
// system page, menus, status bar, timers.  One class, split across files by
// concern (frmMain_Startup.cpp, frmMain_Controls.cpp, frmMain_Menus.cpp, ...).
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Form.h"
#include "platform/win/Handle.h"
#include "platform/ui/ListView.h"
#include "mainwindow/modAutoSizeForm.h"
#include "mainwindow/modTrayIcon.h"
#include "mainwindow/ucDiagram.h"
#include "sysaccess/modEnumProcess.h"

class clsCPUUsage;

namespace frmMainIds {
// Control identifiers.  Arrays take base + Index.
enum : int {
    tabMain = 100,
    picTab = 110,          // + 1..3
    lvwProcess = 120,
    lvwPorts = 121,
    lvwSystemInfo = 122,
    staInformation = 130,
    chkAutoRun = 140,
    chkAlwaysOnTop = 141,
    chkAntiVirus = 142,
    lblMainVersion = 150,
    lblMDBVersion = 151,
    picButton = 160,
    cmdPortsOut = 170,
    cmdPortsRefresh = 171,
    // knowledge panel and editor (frmMain_Knowledge.cpp)
    chkPopupForm = 400,    // + 0, 1
    imgPopupFormX = 402,   // + 0, 1
    txtPrcName = 410,
    txtPrcDescription = 411,
    cmdPrcFind = 412,
    cmdPrcAdd = 413,
    cmdPrcEdit = 414,
    optLevel = 415,        // + 1, 2
    lblSearchBaidu = 420,
    lblSearchGoogle = 421,
    lblProcessComplate = 422,
    cmdModulesRefresh = 430,
    cmdModulesOut = 431,
    lblProcessCompleteLinker = 440,
    imgProcessComplateX = 441,
    lblProcessCompleteB = 442,
    cmdSetFocus = 450,
    ucDiagramCPU = 190,
    ucDiagramMemory = 191,
    // the system page (frmMain_Pages.cpp)
    fraCPUUsage = 180,
    picCPUUsage = 181,
    fraMemoryUsage = 182,
    picMemoryUsage = 183,
    Picture1 = 184,
    cmdCleanMemory = 185,
    picCleanMemoryProgress = 186,
    lblCleanMemoryProgress = 187,
    lblCleanMemoryText = 188,
    tmrMonitor = 1,        // timers
    tmrPrcCPUUsage = 2,
};
}  // namespace frmMainIds

class frmMain : public ui::Form, private modEnumProcess::ProcessListOwner {
public:
    // The process-wide main window ("frmMain" of the program).
    static frmMain& Instance();
    static bool Exists();

    // Creating the window object runs Form_Initialize; Load creates the window
    // and runs Form_Load.  Show makes it visible (modeless).
    void Load();
    void Show();
    HWND hWnd() { Load(); return hwnd_; }
    void SetWindowState(int state);  // 0 normal, 1 minimised, 2 maximised
    // Opens a pop-up menu at the pointer (VB's PopupMenu); commands run before it returns.
    void PopupMenu(HMENU menu);
    int WindowState() const;
    void Unload();
    // Takes the notification icon's hook and the size hook off, in that order.
    void RemoveWindowHooks();

    // ---- controls (public: the other windows and the tests read them) ----
    ui::ListView lvwProcess;
    ui::ImageList ilsPrcIcon{16, 16};
    std::vector<std::wstring> lstPrcID;  // the hidden list of the previous Toolhelp pass
    HWND tabMain = nullptr;
    HWND picTab[4] = {};                 // pages 1..3
    HWND staInformation = nullptr;
    HWND chkAutoRun = nullptr, chkAlwaysOnTop = nullptr, chkAntiVirus = nullptr;
    HWND lblMainVersion = nullptr, lblMDBVersion = nullptr;
    HWND picButton = nullptr;
    HWND Picture2 = nullptr;            // holds the version labels, bottom right
    ui::ListView lvwPorts;
    ui::ListView lvwSystemInfo;
    HWND cmdPortsOut = nullptr, cmdPortsRefresh = nullptr;
    HWND picPopupForm[2] = {};          // the description and module side panels
    HWND fraProcessComplate = nullptr;
    ui::ImageList ilsTrayIcon{16, 16};  // 101 pictures: image p + 1 shows p % CPU
    HICON picTrayIcon = nullptr;        // the picture the notification area shows
    void SetTrayPicture(int image);     // picTrayIcon = image 1..101 of ilsTrayIcon
    // Lets a message from programs of lower rights through to a window (the
    // system's call, found at run time; none on older systems); tests hand in their own.
    modTrayIcon::MessageFilterFunction changeMessageFilter = modTrayIcon::SystemMessageFilter();
    modAutoSizeForm::LayoutRecords layout;  // records of the proportional layout
    ucDiagram ucDiagramCPU, ucDiagramMemory;  // the system page's load histories

    // The last overall CPU percentage, 0..100 (set at load and by each tick).
    long lastCpuPercent = 0;
    long referenceWidth = 0, referenceHeight = 0;  // twips, for the proportional layout

    // ---- event handlers ----
    void Form_Initialize();
    void Form_Load();
    void Form_Resize();
    void Form_Unload(int& cancel);
    void chkAutoRun_Click();
    void chkAlwaysOnTop_Click();
    void chkAntiVirus_Click();
    void tabMain_Click();

    // ---- settings, help and notification-area menus (frmMain_Commands.cpp) ----
    void mnuSettingAlwaysOnTop_Click();
    void mnuSettingAntiVirus_Click();
    void mnuSettingAutoRun_Click();
    void mnuSettingTaskmgr1_Click();
    void mnuSettingTaskmgr2_Click();
    void mnuTray_Click();
    void mnuTrayDisplay_Click();
    void mnuTrayExit_Click();
    // Task Manager replacement: the value "Debugger" under this key of HKLM.
    static constexpr const wchar_t* kTaskmgrKey =
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\taskmgr.exe";
    static std::wstring TaskmgrDebuggerData();
    void mnuListRefresh_Click();
    void lvwProcess_Click();
    // The rest of the process list view (frmMain_ProcessList.cpp).
    void lvwProcess_KeyUp(int keyCode, int shift);
    void lvwProcess_DblClick();
    void lvwProcess_MouseUp(int button, int shift, long x, long y);
    void lvwProcess_ColumnClick(int column);  // 1-based column index
    void mnuListViewSub_Click(int index);     // 1..7
    void mnuListOrderSub_Click(int index);    // 0..6
    void mnuListOrder1Sub_Click(int index);
    void mnuListRefresh1_Click();
    // Menu states, computed each time the menu opens.
    void mnuPopup_Click();
    void mnuList_Click();
    void mnuProcess_Click();
    void tmrMonitor_Timer();
    void tmrPrcCPUUsage_Timer();
    void UpdateProcessCpuColumn();
    clsCPUUsage* cpuUsage() { return cpuUsage_.get(); }

    // Check boxes: assigning a changed Value runs the box's Click handler.
    void SetCheckValue(HWND box, int value);
    // Menu items by id (frmMain_MenuIds.h): tick, enable, caption (without shortcut).
    void SetMenuChecked(int id, bool checked);
    bool MenuChecked(int id) const;
    void SetMenuEnabled(int id, bool enabled);
    bool MenuEnabled(int id) const;
    std::wstring MenuCaption(int id) const;
    HMENU MenuHolding(int id) const;  // the menu set (bar, pop-up, tray) that holds the item
    void SetMenuCaption(int id, const std::wstring& caption);

    struct Menus {
        HMENU bar = nullptr, list = nullptr, process = nullptr, processClass1 = nullptr, setting = nullptr,
              help = nullptr, popup = nullptr, processClass = nullptr, tray = nullptr;
    };
    const Menus& menus() const { return menus_; }

    // Status bar panel text (1-based) and width of panel 4.
    void SetPanelText(int panel, const std::wstring& text);
    std::wstring PanelText(int panel) const;

    std::wstring GetMemoryUsageText();
    long GetMemoryLoadPercent();
    // Waits by pumping messages until more than ms milliseconds have passed.
    void Delay(long ms);

    // What the monitor reads of the system; the real calls by default, tests
    // hand in their own.
    struct MonitorSources {
        // pid -> low 32 bits of kernel time + low 32 bits of user time (mod 2^32)
        std::function<std::map<unsigned long, uint32_t>()> processTimes;
        // total and available physical memory in bytes
        std::function<std::pair<uint64_t, uint64_t>()> memoryStatus;
        std::function<uint32_t()> tickCount;
    };
    MonitorSources sources;
    bool cpuPhase = false;  // flipped by every UpdateProcessCpuColumn
    std::map<unsigned long, uint32_t> firstSamples;

    // ---- toolbar (frmMain_Toolbar.cpp): the caption colour is the button's
    // state; RGB(192,192,192) exactly means disabled ----
    unsigned long ButtonTextColor(int index) const;
    void SetButtonTextColor(int index, unsigned long oleColour);
    std::wstring ButtonCaption(int index) const;
    void SetButtonCaption(int index, const std::wstring& caption);
    void SetButtonPicture(int index, const std::wstring& imageKey);  // "btn010" ...
    std::wstring ButtonPicture(int index) const;
    // The seven buttons (one window each: hit area, icon, caption and frame).
    HWND lblButton[7] = {};
    ui::ImageList ilsButtonIcon{24, 24};  // "btn010" .. "btn070" and "btn021"
    bool ButtonFrameVisible(int index) const;
    void lblButton_Click(int index);
    void lblButton_MouseDown(int index);
    void lblButton_MouseUp(int index);
    void lblButton_MouseMove(int index);
    // Movements that clear the toolbar's hover.
    void picTab_MouseMove(int index);
    void Form_MouseMove();
    void lvwProcess_MouseMove();
    void staInformation_MouseMove();

    // ---- process actions (frmMain_Actions.cpp) ----
    void mnuProcessKill_Click();
    void mnuProcessPause_Click();
    void mnuProcessPause1_Click();
    // mode "暂停进程" pauses, "恢复进程" resumes; toolbarLabel: flip button 1's caption.
    void PauseResumeSelection(const std::wstring& mode, bool toolbarLabel);
    void mnuProcessDelete_Click();
    void mnuProcessClassSub_Click(int index);   // 0..5
    void mnuProcessClass1Sub_Click(int index);
    void mnuProcessProperty_Click();
    void mnuProcessWhere_Click();
    void mnuProcessCopyName_Click();
    void mnuProcessCopyPath_Click();
    void ShowFileProperties(const std::wstring& path, HWND window);
    // ---- update (frmMain_Update.cpp) ----
    void mnuHelpUpdate_Click();
    // True once the window was asked to close while a box or a wait ran.
    bool ClosePending() const;

    // ---- tab pages, usage bars and memory clean-up (frmMain_Pages.cpp) ----
    // The first-show markers: the Tag of tabs 2 and 3 ("Y" once shown).
    std::wstring tabTag[4];
    // The system page.
    HWND fraCPUUsage = nullptr, picCPUUsage = nullptr;
    HWND fraMemoryUsage = nullptr, picMemoryUsage = nullptr;
    HWND Picture1 = nullptr, cmdCleanMemory = nullptr;
    HWND picCleanMemoryProgress = nullptr, lblCleanMemoryProgress = nullptr, lblCleanMemoryText = nullptr;
    ui::ImageList ilsSysIcon{16, 16};  // "sysicon01" .. "sysicon09"
    void cmdPortsRefresh_Click();
    void cmdCleanMemory_Click();
    // Paints the 101 stripes of a usage bar (picCPUUsage, picMemoryUsage).
    void DrawUsageBar(long percent, HWND picture);
    // Selects tab 1..3 as a click on it does.
    void SelectTab(int tab);
    // What the pages read; the real calls by default, tests hand in their own.
    struct PageSources {
        std::function<void(ui::ListView&)> listPorts;        // modProcessPorts2::ListPorts
        std::function<void(ui::ListView&, const ui::ImageList&)> showSystemInfo;  // modSystemInfo
        std::function<void()> cleanMemoryRound;              // modCleanMemory::CleanMemory
        std::function<std::wstring()> cleanMemoryBlock;      // 80,000,000 blanks; may throw bad_alloc
    };
    PageSources pageSources;
    bool CleanMemoryRunning() const { return cleanMemoryRunning_; }

    // ---- module panel (filled on every row click) ----
    HWND lstModules = nullptr;
    HWND lblModules = nullptr;

    // ---- knowledge panel and editor, web search, submission, automatic
    // sweep (frmMain_Knowledge.cpp) ----
    HWND picPopupFormButton = nullptr;           // holds the two tabs
    HWND chkPopupForm[2] = {};                   // "描述", "模块": tabs of the two panels
    HWND picPopupFormLine[2] = {};               // underline of each tab
    HWND imgPopupFormX[2] = {};                  // close a panel
    HWND cmdSetFocus = nullptr;                  // the focus sink
    HWND txtPrcName = nullptr, txtPrcDescription = nullptr;
    HWND cmdPrcFind = nullptr, cmdPrcAdd = nullptr, cmdPrcEdit = nullptr;
    HWND picLevel = nullptr;
    HWND optLevel[3] = {};                       // 1 "正常进程", 2 "病毒＆木马"
    HWND fraSearch = nullptr, Label1 = nullptr, lblSearchBaidu = nullptr, lblSearchGoogle = nullptr,
         lblProcessComplate = nullptr;
    HWND cmdModulesRefresh = nullptr, cmdModulesOut = nullptr;
    HWND lblProcessCompleteT = nullptr, lblProcessCompleteText = nullptr, lblProcessCompleteLinker = nullptr,
         imgProcessComplateX = nullptr, lblProcessCompleteB = nullptr;
    // Opens an address with the shell's "open" verb (owner, address, show
    // command); the real shell by default, tests watch it.
    std::function<void(HWND, const std::wstring&, int)> shellOpen;
    // The web addresses: the name percent-encoded, as code page 936 bytes for
    // the first engine and UTF-8 for the second.
    static std::wstring BaiduSearchAddress(const std::wstring& name);
    static std::wstring GoogleSearchAddress(const std::wstring& name);
    static std::wstring SubmissionAddress();

    void ShowProcessInfo(const std::wstring& name);
    void TrackPanelTabHover(int index, long x, long y);
    void chkPopupForm_MouseMove(int index, long x, long y);  // twips within the tab
    void chkPopupForm_Click(int index);
    void imgPopupFormX_Click(int index);
    void cmdModulesRefresh_Click();
    void txtPrcName_Click();
    void txtPrcName_GotFocus();
    void txtPrcName_LostFocus();
    void cmdPrcFind_Click();
    void cmdPrcAdd_Click();
    void cmdPrcEdit_Click();
    void mnuProcessComplate_Click();
    void lblProcessComplate_Click();
    void imgProcessComplateX_Click();
    void lblProcessCompleteB_Click();
    void lblProcessCompleteLinker_Click();
    void lblSearchBaidu_Click();
    void lblSearchGoogle_Click();
    // The editor back in view mode (captions, read-only description, level hidden).
    void PutEditorInViewMode();
    void OpenEditorForInput();
    bool MarkMissingFields(const std::wstring& name, const std::wstring& description, bool fillInIsEmpty);
    bool FindIsDefault() const { return findIsDefault_; }

    // ---- text exports (frmMain_Exports.cpp) ----
    void mnuListOut_Click();
    void mnuListOut1_Click();
    void cmdModulesOut_Click();
    void cmdPortsOut_Click();
    // The moment an export is named after, and how its file is shown: the
    // local time and Notepad by default, tests hand in their own.
    std::function<SYSTEMTIME()> exportClock;
    std::function<void(const std::wstring& path)> openInNotepad;
    static std::wstring ExportTimeStamp(const SYSTEMTIME& t);  // 2008年5月9日9时5分7秒
    static std::wstring ExportFileName(const std::wstring& folder, const std::wstring& word,
                                       const std::wstring& stamp);

    // ---- the small windows (frmMain_Windows.cpp) ----
    void mnuProcessNew1_Click();
    void mnuHelpHelp_Click();
    void mnuHelpAbout_Click();
    void mnuTrayAbout_Click();

    // ProcessListOwner
    bool AutoKillOn() const override;
    std::vector<std::wstring>& PreviousPassIds() override { return lstPrcID; }
    HWND MainWindow() const override { return hwnd_; }

    static constexpr const wchar_t* kCaption = L" Velkaro  ";
    static constexpr const wchar_t* kProgramVersion = L"4.12.20080509";
    // Where the settings live in the per-user settings store.
    static constexpr const wchar_t* kSettingsApp = L"Morvix";
    static constexpr const wchar_t* kSettingsSection = L"Setting";

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    frmMain();
    ~frmMain() override;
    void CreateControls();
    static Menus BuildMenuSet();
    void RaiseOwnPriority();
    void LayoutStatusBar();
    void OnCommand(int id, int code, HWND control);
    // Command ids (menu items, buttons) -> handlers; each concern registers its own.
    std::map<int, std::function<void()>> commands_;
    void RegisterProcessListCommands();  // frmMain_ProcessList.cpp
    void RegisterActionCommands();       // frmMain_Actions.cpp
    void RegisterMenuCommands();         // frmMain_Commands.cpp
    void ToggleSettingBox(int menuId, HWND box);
    void RegisterUpdateCommands();       // frmMain_Update.cpp
    void RegisterExportCommands();       // frmMain_Exports.cpp
    void RegisterWindowCommands();       // frmMain_Windows.cpp
    void CreateToolbar();                // frmMain_Toolbar.cpp
    void ClearToolbarHover();            // frmMain_Toolbar.cpp
    void HookToolbarClearing();          // frmMain_Toolbar.cpp: movement over the list and status bar
    void SetPriorityFromItem(int index, int firstItem);  // frmMain_Actions.cpp
    void CreateSidePanels();             // frmMain_Knowledge.cpp
    bool OnKnowledgeCommand(int id, int code, HWND control);  // frmMain_Knowledge.cpp
    void SweepDangerousProcesses();      // frmMain_Knowledge.cpp
    void SetProcessListWidth(long twips);
    int sweepDepth_ = 0;
    bool findIsDefault_ = false;
    // Notifications of the process list; true with *result when handled.
    bool OnProcessListNotify(NMHDR* hdr, LRESULT* result);  // frmMain_ProcessList.cpp
    void OnInitMenuPopup(HMENU menu);                          // frmMain_ProcessList.cpp
    LRESULT OnNotify(NMHDR* hdr);
    void LoadToolbarPictures();
    void BuildTrayPictures();
    void CreateCharts();  // frmMain_Charts.cpp
    void ResizeCharts();
    void UnloadOtherWindows();
    void CreatePages();             // frmMain_Pages.cpp: the ports columns and the system page
    void BuildSysIcons();           // frmMain_Pages.cpp
    static void InitializeCom();    // frmMain_Pages.cpp: once for the UI thread
    bool cleanMemoryRunning_ = false;

    bool shown_ = false;
    int trayPictureIndex_ = 0;
    std::vector<win::Icon> trayPictures_;  // the 101 pictures of ilsTrayIcon as icons, made once
    void FeedCharts(long cpu);

    bool initialized_ = false;
    bool loaded_ = false;
    bool unloading_ = false;
    bool closeRequested_ = false;  // asked to close inside a box or a wait; the outer loop closes
    std::unique_ptr<clsCPUUsage> cpuUsage_;
    Menus menus_;

    // List refreshes in progress (monitor tick or refresh now): a tick that
    // arrives inside one leaves the list alone.
    int listRefreshDepth_ = 0;
    void SortProcessList(int key);                     // frmMain_ProcessList.cpp
    void ApplyProcessMenuStates(bool popup);           // frmMain_ProcessList.cpp
    void InstallKeyboardHooks();                       // frmMain_ProcessList.cpp
};
