#pragma once
// "关于 Velkaro": the product, its version and the contact links, over the
// window's own picture.
#include <windows.h>

#include <functional>
#include <string>

#include "platform/ui/Form.h"
#include "platform/win/Handle.h"

class frmAbout : public ui::Form {
public:
    static frmAbout& Instance();
    bool Loaded() const { return hwnd_ != nullptr; }
    void Load();
    // Modal: disables owner and returns when the window is closed.  An open
    // window is only brought to the front.
    void Show(bool modal, HWND owner = nullptr);
    void Unload();

    HWND imgIcon = nullptr;
    HWND lblText[6] = {};  // index 3 is not used
    HWND lblVersion = nullptr, lblWWW = nullptr, lblEMail = nullptr, lblExit = nullptr, lblBorder = nullptr;
    HWND cmdExit = nullptr;
    unsigned long LabelForeColor(HWND label) const;  // OLE colour

    // Opens an address with the shell's "open" verb (owner, address, show
    // command); the real shell by default, tests watch it.
    std::function<void(HWND, const std::wstring&, int)> shellOpen;

    void Form_Load();
    void lblWWW_Click();
    void lblEMail_Click();
    void lblExit_MouseMove();
    void lblExit_Click();
    void lblBorder_Click();
    void cmdExit_Click();

    static constexpr const wchar_t* kCaption = L"关于 Velkaro";
    static constexpr const wchar_t* kWebPage = L"http://www.morvix.example";
    static constexpr const wchar_t* kMailAddress = L"morvix@morvix.example";

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    frmAbout();
    void FitLabels();
    void Paint(HDC dc);
    int dialogKeys_ = 0;
    unsigned long exitColour_ = 0;
    win::GdiObject background_, emblem_, linkFont_;
};
