// The actions on the selected processes: end, pause and resume, end and delete
// the image file, priority, properties, locate, copy name and path.
//
// Boxes and waits run the message loop, so other handlers may change the list
// meanwhile: every command fixes what it acts on (key, name, identifier, path)
// before it asks, finds each row again by its key afterwards, and skips a row
// that has gone.  A close of the window asked for meanwhile ends the command.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cwctype>
#include <vector>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"
#include "sysaccess/modKillProcess.h"
#include "sysaccess/modThread.h"

using namespace frmMainMenu;

namespace {

constexpr int kPidColumn = 2, kPathColumn = 6;
constexpr unsigned long kSuspendedGrey = 0xA8A8A8;
const std::wstring kPauseMode = L"暂停进程";
const std::wstring kResumeMode = L"恢复进程";
const std::wstring kLF = L"\n";

constexpr UINT kConfirm = MB_YESNO | MB_ICONEXCLAMATION;                      // &H34
constexpr UINT kConfirmNoDefault = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;  // &H134
constexpr UINT kFailure = MB_OK | MB_ICONINFORMATION;                         // &H40
constexpr UINT kCritical = MB_OK | MB_ICONHAND;                               // &H10

// Priority items 0..5 and the class each sets.
constexpr DWORD kPriorityClass[6] = {REALTIME_PRIORITY_CLASS, HIGH_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS,
                                     NORMAL_PRIORITY_CLASS,   BELOW_NORMAL_PRIORITY_CLASS, IDLE_PRIORITY_CLASS};

// One selected row as it was when the command began.
struct Target {
    std::wstring key;
    std::wstring name;
    std::wstring pidText;  // as the row shows it
    long pid = 0;
    std::wstring path;

    std::wstring Line() const { return name + L" [" + pidText + L"]" + kLF; }  // end, pause and resume lists
    std::wstring PathLine() const { return path + L"  " + kLF; }              // delete lists
    bool Own() const { return static_cast<DWORD>(pid) == GetCurrentProcessId(); }
};

// The identifier of the row's PID cell; a cell that is no whole number is a type mismatch.
long ParsePid(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == L' ') ++i;
    if (i == text.size()) throw vb::Error(13);
    long long value = 0;
    for (; i < text.size() && std::iswdigit(text[i]); ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > 0x7FFFFFFF) throw vb::Error(6);
    }
    while (i < text.size() && text[i] == L' ') ++i;
    if (i != text.size()) throw vb::Error(13);
    return static_cast<long>(value);
}

// The list's SelectedItem; none is an unset object.
int SelectedRow(const ui::ListView& list) {
    int row = list.SelectedIndex();
    if (row < 1 || row > list.Count()) throw vb::Error(91);
    return row;
}

Target TargetOf(const ui::ListView& list, int row) {
    if (row < 1 || row > list.Count()) throw vb::Error(91);
    Target t;
    t.key = list.Key(row);
    t.name = list.Text(row);
    t.pidText = list.SubItem(row, kPidColumn);
    t.pid = ParsePid(t.pidText);
    t.path = list.SubItem(row, kPathColumn);
    return t;
}

// The several-rows form acts on every selected row in list order.
std::vector<Target> SelectedTargets(const ui::ListView& list) {
    std::vector<Target> out;
    for (int row : list.SelectedIndices()) out.push_back(TargetOf(list, row));
    return out;
}

// Number of selected rows, as the list counts them.
int SelectedCount(const ui::ListView& list) {
    return static_cast<int>(SendMessageW(list.Hwnd(), LVM_GETSELECTEDCOUNT, 0, 0));
}

// Pause with the retry rule: a process suspended once already counts as
// paused.  The tool itself is never paused: that would hang it for good.
bool PauseProcess(const Target& t) {
    if (t.Own()) return false;
    if (modThread::SuspendProcess(t.pid) == 0) return true;
    modThread::ResumeProcess(t.pid);
    modThread::ResumeProcess(t.pid);
    return modThread::SuspendProcess(t.pid) == 0;
}

// Resume with the retry rule: a process that runs is suspended and resumed once.
bool ResumeProcess(const Target& t) {
    if (t.Own()) return false;
    if (modThread::ResumeProcess(t.pid) == 1) return true;
    modThread::SuspendProcess(t.pid);
    return modThread::ResumeProcess(t.pid) == 1;
}

bool EndProcess(const Target& t) {
    if (t.Own()) return false;  // ending ourselves would take the window with it
    long pid = t.pid;
    return modKillProcess::KillProcess(pid, reinterpret_cast<HWND>(1));
}

bool SetClipboardText(HWND owner, const std::wstring* text) {
    // Another program may hold the clipboard for a moment.
    bool open = false;
    for (int attempt = 0; attempt < 10 && !(open = OpenClipboard(owner) != FALSE); ++attempt) Sleep(10);
    if (!open) return false;
    bool ok = EmptyClipboard() != FALSE;
    if (ok && text) {
        const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        void* p = memory ? GlobalLock(memory) : nullptr;
        if (p) {
            memcpy(p, text->c_str(), bytes);
            GlobalUnlock(memory);
            ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
            if (!ok) GlobalFree(memory);
        } else {
            if (memory) GlobalFree(memory);
            ok = false;
        }
    }
    CloseClipboard();
    return ok;
}

}  // namespace

void frmMain::RegisterActionCommands() {
    commands_[mnuProcessKill] = [this] { mnuProcessKill_Click(); };
    commands_[mnuProcessKill1] = [this] { mnuProcessKill_Click(); };
    commands_[mnuProcessPause] = [this] { mnuProcessPause_Click(); };
    commands_[mnuProcessPause1] = [this] { mnuProcessPause1_Click(); };
    commands_[mnuProcessDelete] = [this] { mnuProcessDelete_Click(); };
    commands_[mnuProcessDelete1] = [this] { mnuProcessDelete_Click(); };
    for (int i = 0; i <= 5; ++i) {
        commands_[mnuProcessClassSub + i] = [this, i] { mnuProcessClassSub_Click(i); };
        commands_[mnuProcessClass1Sub + i] = [this, i] { mnuProcessClass1Sub_Click(i); };
    }
    commands_[mnuProcessProperty] = [this] { mnuProcessProperty_Click(); };
    commands_[mnuProcessProperty1] = [this] { mnuProcessProperty_Click(); };
    commands_[mnuProcessWhere] = [this] { mnuProcessWhere_Click(); };
    commands_[mnuProcessWhere1] = [this] { mnuProcessWhere_Click(); };
    commands_[mnuProcessCopyName] = [this] { mnuProcessCopyName_Click(); };
    commands_[mnuProcessCopyName1] = [this] { mnuProcessCopyName_Click(); };
    commands_[mnuProcessCopyPath] = [this] { mnuProcessCopyPath_Click(); };
    commands_[mnuProcessCopyPath1] = [this] { mnuProcessCopyPath_Click(); };
}

// ---- end process ----

void frmMain::mnuProcessKill_Click() {
    const std::wstring warning = L"结束进程可能会导致数据丢失或系统不稳定！  " + kLF;
    if (SelectedCount(lvwProcess) == 1) {
        const Target t = TargetOf(lvwProcess, lvwProcess.SelectedIndex());
        int answer = vb::MsgBox(hwnd_, warning + L"是否确定要结束进程 " + t.name + L" [" + t.pidText + L"]" + L" ？  ",
                                kConfirm);
        // A row gone meanwhile is a process that has ended already.
        if (answer == IDYES && !ClosePending() && lvwProcess.FindKey(t.key) && !EndProcess(t))
            vb::MsgBox(hwnd_, L"抱歉！无法结束该进程。", kFailure);
    } else {
        const std::vector<Target> targets = SelectedTargets(lvwProcess);
        std::wstring list;
        for (const Target& t : targets) list += t.Line();
        if (vb::MsgBox(hwnd_, warning + L"是否确定要结束以下进程？" + kLF + list, kConfirm) == IDYES &&
            !ClosePending()) {
            std::wstring failures;
            for (const Target& t : targets) {
                if (!lvwProcess.FindKey(t.key)) continue;
                if (!EndProcess(t)) failures += t.Line();
            }
            if (!failures.empty()) vb::MsgBox(hwnd_, L"抱歉！无法结束以下进程：  " + kLF + failures, kFailure);
        }
    }
    vb::TrimWorkingSet();
}

// ---- pause and resume ----

void frmMain::mnuProcessPause_Click() { PauseResumeSelection(MenuCaption(mnuProcessPause), false); }

void frmMain::mnuProcessPause1_Click() { PauseResumeSelection(MenuCaption(mnuProcessPause1), false); }

void frmMain::PauseResumeSelection(const std::wstring& mode, bool toolbarLabel) {
    const bool pause = mode == kPauseMode;
    if (!pause && mode != kResumeMode) {
        vb::TrimWorkingSet();
        return;
    }
    const std::wstring pauseWarning = L"暂停进程可能会导致程序或系统出错。  " + kLF;
    if (SelectedCount(lvwProcess) == 1) {
        const Target t = TargetOf(lvwProcess, lvwProcess.SelectedIndex());
        if (pause && (vb::MsgBox(hwnd_,
                                 pauseWarning + L"您是否确定要暂停进程 " + t.name + L" [" + t.pidText + L"]" + L" ？  ",
                                 kConfirm) != IDYES ||
                      ClosePending())) {
            vb::TrimWorkingSet();
            return;
        }
        int row = lvwProcess.FindKey(t.key);
        if (row && (pause ? PauseProcess(t) : ResumeProcess(t))) {
            lvwProcess.SetForeColor(row, pause ? kSuspendedGrey : vb::kSysWindowText);
            SetButtonPicture(1, pause ? L"btn021" : L"btn020");
            if (toolbarLabel) SetButtonCaption(1, pause ? kResumeMode : kPauseMode);
        } else {
            vb::MsgBox(hwnd_, pause ? L"抱歉！无法暂停该进程。" : L"抱歉！无法恢复该进程。", kFailure);
        }
    } else {
        const std::vector<Target> targets = SelectedTargets(lvwProcess);
        if (pause) {
            std::wstring list;
            for (const Target& t : targets) list += t.Line();
            if (vb::MsgBox(hwnd_, pauseWarning + L"您是否确定要暂停以下进程？" + kLF + list, kConfirm) != IDYES ||
                ClosePending()) {
                vb::TrimWorkingSet();
                return;
            }
        }
        std::wstring failures;
        for (const Target& t : targets) {
            // The row, found again after the box; one that has gone was not paused.
            int row = lvwProcess.FindKey(t.key);
            if (row && (pause ? PauseProcess(t) : ResumeProcess(t)))
                lvwProcess.SetForeColor(row, pause ? kSuspendedGrey : vb::kSysWindowText);
            else
                failures += t.Line();
        }
        if (!failures.empty())
            vb::MsgBox(hwnd_, (pause ? L"抱歉！无法暂停以下进程：  " : L"抱歉！无法恢复以下进程：  ") + kLF + failures,
                       kFailure);
    }
    vb::TrimWorkingSet();
}

// ---- end and delete the image file ----

void frmMain::mnuProcessDelete_Click() {
    const std::wstring ask = L"您是否确定要删除以下文件？  " + kLF;
    const std::wstring backup = L"建议您在删除文件前先备份！  ";
    // Ends the process, waits a second for it to let go of its file, deletes it.
    // False when the process was not ended or the file stays.
    auto endAndDelete = [this](const Target& t) {
        if (t.path.empty() || !lvwProcess.FindKey(t.key) || !EndProcess(t)) return false;
        Delay(1000);
        return DeleteFileW(t.path.c_str()) != FALSE;
    };
    if (SelectedCount(lvwProcess) == 1) {
        const Target t = TargetOf(lvwProcess, lvwProcess.SelectedIndex());
        if (vb::MsgBox(hwnd_, ask + t.PathLine() + backup, kConfirmNoDefault) != IDYES || ClosePending()) {
            vb::TrimWorkingSet();
            return;
        }
        if (!endAndDelete(t) && !ClosePending()) vb::MsgBox(hwnd_, L"抱歉！无法删除该文件。  ", kFailure);
    } else {
        // Identifier and path are fixed now: the waits let rows go and others move up.
        const std::vector<Target> targets = SelectedTargets(lvwProcess);
        std::wstring list;
        for (const Target& t : targets) list += t.PathLine();
        if (vb::MsgBox(hwnd_, ask + list + backup, kConfirmNoDefault) != IDYES || ClosePending()) {
            vb::TrimWorkingSet();
            return;
        }
        std::wstring failures;
        for (const Target& t : targets) {
            if (ClosePending()) break;  // the window goes: no more processes are ended
            if (!endAndDelete(t)) failures += t.PathLine();
        }
        if (!failures.empty() && !ClosePending())
            vb::MsgBox(hwnd_, L"抱歉！无法删除以下文件：  " + kLF + failures, kFailure);
    }
    vb::TrimWorkingSet();
}

// ---- priority ----

void frmMain::mnuProcessClassSub_Click(int index) { SetPriorityFromItem(index, mnuProcessClassSub); }

void frmMain::mnuProcessClass1Sub_Click(int index) { SetPriorityFromItem(index, mnuProcessClass1Sub); }

void frmMain::SetPriorityFromItem(int index, int firstItem) {
    if (index < 0 || index > 5) return;
    // The ticked item is the class the process has already.
    if (MenuChecked(firstItem + index)) return;
    const Target t = TargetOf(lvwProcess, lvwProcess.SelectedIndex());
    win::Handle process(OpenProcess(0x264, FALSE, static_cast<DWORD>(t.pid)));
    if (!process || !SetPriorityClass(process.get(), kPriorityClass[index])) {
        process.reset();
        vb::MsgBox(hwnd_, L"无法为该进程设置优先级。  ", kCritical);
    }
    vb::TrimWorkingSet();
}

// ---- properties and locate ----

void frmMain::ShowFileProperties(const std::wstring& path, HWND window) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = window;
    info.lpVerb = L"properties";
    info.lpFile = path.c_str();
    info.lpParameters = L"";
    info.lpDirectory = L"";
    info.nShow = SW_HIDE;
    ShellExecuteExW(&info);
    if (info.hProcess) CloseHandle(info.hProcess);  // asked for; not kept
}

void frmMain::mnuProcessProperty_Click() {
    std::wstring path;
    vb::Try([&] { path = lvwProcess.SubItem(SelectedRow(lvwProcess), kPathColumn); });
    if (path.empty()) return;
    vb::Try([&] { ShowFileProperties(path, hwnd_); });
    vb::Try([] { vb::DoEvents(); });
    vb::TrimWorkingSet();
}

void frmMain::mnuProcessWhere_Click() {
    std::wstring path;
    vb::Try([&] { path = lvwProcess.SubItem(SelectedRow(lvwProcess), kPathColumn); });
    if (path.empty()) return;
    vb::Try([&] {
        const std::wstring parameters = L"/select,\"" + path + L"\"";
        ShellExecuteW(hwnd_, L"open", L"explorer.exe", parameters.c_str(), L"", SW_SHOWNORMAL);
    });
    vb::Try([] { vb::DoEvents(); });
    vb::TrimWorkingSet();
}

// ---- copy name and path ----

void frmMain::mnuProcessCopyName_Click() {
    vb::Try([&] { SetClipboardText(hwnd_, nullptr); });
    vb::Try([&] {
        const std::wstring name = lvwProcess.Text(SelectedRow(lvwProcess));
        SetClipboardText(hwnd_, &name);
    });
    vb::TrimWorkingSet();
}

void frmMain::mnuProcessCopyPath_Click() {
    vb::Try([&] { SetClipboardText(hwnd_, nullptr); });
    vb::Try([&] {
        const std::wstring path = lvwProcess.SubItem(SelectedRow(lvwProcess), kPathColumn);
        SetClipboardText(hwnd_, &path);
    });
    vb::TrimWorkingSet();
}

