#include "mainwindow/frmNewProcess.h"

#include <shellapi.h>

#include <algorithm>

#include "mainwindow/frmMain.h"
#include "mainwindow/SmallWindowSupport.h"
#include "platform/ui/ModalLoop.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"

namespace {

constexpr UINT_PTR tmrSetFocus = 1;
constexpr int idBrowse = 100;

}  // namespace

frmNewProcess& frmNewProcess::Instance() {
    static frmNewProcess* form = new frmNewProcess();  // lives as long as the program, like the form object
    return *form;
}

frmNewProcess::frmNewProcess() {
    shellOpen = [](const std::wstring& file) {
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    getOpenFileName = [](OPENFILENAMEW& dialog) { return GetOpenFileNameW(&dialog) != FALSE; };
}

void frmNewProcess::Load(HWND owner) {
    if (hwnd_) return;
    CreateForm(L"MorvixNewProcess", kCaption, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
               WS_EX_DLGMODALFRAME, 0, 0, smallwin::ProgramIcon());
    if (!hwnd_) return;
    smallwin::Place(hwnd_, 3975, 1350, owner);
    txtProcessPath = ui::CreateControl(hwnd_, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 240, 240, 3495,
                                       285, 0, WS_EX_CLIENTEDGE);
    btnOK = ui::CreateControl(hwnd_, L"BUTTON", L"确认", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 240, 720, 1095,
                              375, IDOK);
    btnCancel = ui::CreateControl(hwnd_, L"BUTTON", L"取消", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 1440, 720,
                                  1095, 375, IDCANCEL);
    btnBrowse = ui::CreateControl(hwnd_, L"BUTTON", L"浏览...", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 2640, 720,
                                  1095, 375, idBrowse);
    dialogKeys_ = ui::AddDialogKeys(hwnd_);
    Form_Load();
}

void frmNewProcess::Form_Load() {
    smallwin::SetWindowIcon(hwnd_, smallwin::ProgramIcon());
    smallwin::ApplyTopmostRule(hwnd_);
    SetTimer(hwnd_, tmrSetFocus, 200, nullptr);
}

void frmNewProcess::Show(bool modal, HWND owner) {
    if (hwnd_) {  // already open: to the front
        SetForegroundWindow(hwnd_);
        return;
    }
    Load(owner);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    SetFocus(txtProcessPath);
    if (modal) ui::RunModal(hwnd_, owner);
}

void frmNewProcess::Unload() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void frmNewProcess::tmrSetFocus_Timer() {
    SetFocus(txtProcessPath);
    KillTimer(hwnd_, tmrSetFocus);
}

void frmNewProcess::btnOK_Click() {
    // The whole text, blanks included, is the file: nothing is split off as arguments.
    const std::wstring file = ui::GetText(txtProcessPath);
    if (file.find_first_not_of(L' ') == std::wstring::npos) {
        SetFocus(txtProcessPath);
        return;
    }
    vb::Try([&] { shellOpen(file); });  // a name that cannot be opened is not reported
    vb::DoEvents();
    Unload();
}

void frmNewProcess::btnCancel_Click() { Unload(); }

void frmNewProcess::btnBrowse_Click() {
    // Every step is tried on its own.  Cancel leaves the typed path as it is.
    std::wstring buffer(32768, L'\0');
    static const wchar_t kFilter[] = L"应用程序(*.exe)\0*.exe\0所有文件(*.*)\0*.*\0";
    OPENFILENAMEW dialog{};
    vb::Try([&] {
        cmndlgBrowseFileName.copy(buffer.data(), std::min(cmndlgBrowseFileName.size(), buffer.size() - 1));
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = hwnd_;
        dialog.lpstrFilter = kFilter;
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = buffer.data();
        dialog.nMaxFile = static_cast<DWORD>(buffer.size());
        dialog.lpstrTitle = kBrowseTitle;
        dialog.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    });
    bool chosen = false;
    vb::Try([&] { chosen = getOpenFileName(dialog); });
    if (chosen) {
        vb::Try([&] {
            cmndlgBrowseFileName = buffer.c_str();
            ui::SetText(txtProcessPath, cmndlgBrowseFileName);
        });
    }
    if (hwnd_) SetFocus(txtProcessPath);
}

LRESULT frmNewProcess::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
            switch (LOWORD(wParam)) {
            case IDOK: vb::Try([&] { btnOK_Click(); }); return 0;
            case IDCANCEL: vb::Try([&] { btnCancel_Click(); }); return 0;
            case idBrowse: vb::Try([&] { btnBrowse_Click(); }); return 0;
            }
        }
        return 0;
    case WM_TIMER:
        if (wParam == tmrSetFocus) vb::Try([&] { tmrSetFocus_Timer(); });
        return 0;
    case WM_CLOSE:
        Unload();
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, tmrSetFocus);
        vb::RemoveMessageFilter(dialogKeys_);
        dialogKeys_ = 0;
        cmndlgBrowseFileName.clear();  // nothing of the window outlives it
        txtProcessPath = btnOK = btnCancel = btnBrowse = nullptr;
        return 0;
    }
    return DefaultProc(msg, wParam, lParam);
}
