#pragma once
// The patch tool's one window: what the patch does, what it runs, the apply
// and exit buttons and the home-page link.
#include <windows.h>

#include <string>

#include "platform/ui/Form.h"

namespace patch {

inline constexpr const wchar_t* kHomePage = L"http://www.morvix.example/";

class frmMorvixPatch : public ui::Form {
public:
    enum ControlId { idFrame1 = 101, idLabel1, idFrame2, idLabel2, idCmdOK, idCmdExit, idLblWWW };

    // payload: the module whose "CUSTOM" resources are the carried files.
    explicit frmMorvixPatch(HMODULE payload = GetModuleHandleW(nullptr));
    ~frmMorvixPatch() override;

    bool Show(int showCommand);  // creates the window (Form_Load) and shows it
    HWND Control(ControlId id) const { return GetDlgItem(hwnd_, id); }

    void cmdOK_Click();
    void cmdExit_Click();
    void lblWWW_Click();

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Form_Load();

    HMODULE payload_;
    HCURSOR hand_ = nullptr;  // shared resource cursor: not destroyed
    HICON icon_ = nullptr;
    bool applying_ = false;
    int dialogFilter_ = 0;
};

}  // namespace patch
