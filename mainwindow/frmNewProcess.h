#pragma once
// "新建进程": runs a program or document that the user types or picks.
#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>

#include "platform/ui/Form.h"

class frmNewProcess : public ui::Form {
public:
    static frmNewProcess& Instance();
    bool Loaded() const { return hwnd_ != nullptr; }
    // Creates the window (centred on owner) and runs Form_Load; nothing when loaded.
    void Load(HWND owner = nullptr);
    // Modal: disables the owner and returns when the window is closed.
    void Show(bool modal, HWND owner = nullptr);
    void Unload();

    HWND txtProcessPath = nullptr, btnOK = nullptr, btnCancel = nullptr, btnBrowse = nullptr;
    std::wstring cmndlgBrowseFileName;  // the open-file dialog's file name, kept while loaded

    // The shell's "open" of the typed text and the open-file dialog: the real
    // ones by default, tests hand in their own.
    std::function<void(const std::wstring& file)> shellOpen;
    std::function<bool(OPENFILENAMEW& dialog)> getOpenFileName;

    void Form_Load();
    void tmrSetFocus_Timer();
    void btnOK_Click();
    void btnCancel_Click();
    void btnBrowse_Click();

    static constexpr const wchar_t* kCaption = L"新建进程";
    static constexpr const wchar_t* kBrowseTitle = L"浏览文件";

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    frmNewProcess();
    int dialogKeys_ = 0;
};
