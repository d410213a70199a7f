#pragma once
// "Velkaro 使用帮助": the fixed help text.
#include <windows.h>

#include <string>

#include "platform/ui/Form.h"

class frmHelp : public ui::Form {
public:
    static frmHelp& Instance();
    bool Loaded() const { return hwnd_ != nullptr; }
    void Load();
    void Show();  // modeless, no owner
    void Unload();

    HWND Label1 = nullptr, Label2 = nullptr, Label5 = nullptr, Label6 = nullptr, lblHelpText = nullptr;
    HWND cmdExit = nullptr;

    void Form_Load();
    void cmdExit_Click();

    static constexpr const wchar_t* kCaption = L"Velkaro 使用帮助";
    static const std::wstring& HelpText();  // the help body, lines joined by CR LF
    static const std::wstring& IntroText();

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    frmHelp();
    void FitText();
    int dialogKeys_ = 0;
};
