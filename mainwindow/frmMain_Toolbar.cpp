// The seven-button toolbar above the process list.
#include <windows.h>

#include "mainwindow/frmMain.h"
#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"

namespace {

struct ButtonState {
    unsigned long colour = vb::kSysButtonText;
    std::wstring caption;
    std::wstring picture;
};
ButtonState g_buttons[7];

}  // namespace

void frmMain::CreateToolbar() {
    const wchar_t* captions[7] = {L"结束进程", L"暂停进程", L"删除文件", L"查看属性", L"文件定位", L"刷新列表", L"检查更新"};
    for (int i = 0; i < 7; ++i) g_buttons[i].caption = captions[i];
}

void frmMain::LoadToolbarPictures() {
    for (int i = 0; i < 7; ++i) SetButtonPicture(i, L"btn0" + std::to_wstring(i + 1) + L"0");
}

unsigned long frmMain::ButtonTextColor(int index) const { return g_buttons[index].colour; }
void frmMain::SetButtonTextColor(int index, unsigned long oleColour) { g_buttons[index].colour = oleColour; }
std::wstring frmMain::ButtonCaption(int index) const { return g_buttons[index].caption; }
void frmMain::SetButtonCaption(int index, const std::wstring& caption) { g_buttons[index].caption = caption; }
void frmMain::SetButtonPicture(int index, const std::wstring& key) { g_buttons[index].picture = key; }
std::wstring frmMain::ButtonPicture(int index) const { return g_buttons[index].picture; }
