// The text exports of the main window: the process list, the module list of
// the selected process and the ports list, each written as code page 936 text
// into the program folder under the moment of the export, and opened in
// Notepad on request.  An export whose file cannot be written says so and
// opens nothing.
#include <windows.h>

#include <string>
#include <vector>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "platform/ui/Form.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"
#include "platform/win/Text.h"

namespace {

// Blanks after a field; a field as wide as its column or wider gets none.
std::wstring Blanks(long count) { return std::wstring(static_cast<size_t>(count > 0 ? count : 0), L' '); }
long Len(const std::wstring& s) { return static_cast<long>(s.size()); }

const std::wstring kProcessHeader =
    L"进程ID" + Blanks(4) + L"用户名" + Blanks(14) + L"CPU(%)" + Blanks(2) + L"内存(KB)" + Blanks(2) + L"优先级" +
    Blanks(4) + L"进程及路径";
const std::wstring kPortHeader =
    L"协议" + Blanks(4) + L"端口" + Blanks(5) + L"状态" + Blanks(7) + L"PID" + Blanks(4) + L"进程路径";
const std::wstring kAskToOpen = L"要查看该文件请点“确定”，否则“取消”。";

// Every line ends with CR LF.  False when the file could not be created or
// written whole; a partly written file is removed.
bool WriteAnsiLines(const std::wstring& path, const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const auto& line : lines) text += line + L"\r\n";
    const std::string bytes = win::ToAnsi(text);
    win::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    file.reset();
    if (!whole) DeleteFileW(path.c_str());
    return whole;
}

enum class Trim { AfterNotepad, Always };

// Writes the stamp, an empty line and the body to "<word> <stamp>.txt" in the
// program folder, tells the user and opens the file on OK.
void Export(frmMain& form, const std::wstring& word, const std::vector<std::wstring>& body, const std::wstring& done,
            const std::wstring& doneTail, Trim trim) {
    const std::wstring stamp = frmMain::ExportTimeStamp(form.exportClock());
    const std::wstring path = frmMain::ExportFileName(vb::AppPath(), word, stamp);
    std::vector<std::wstring> lines{stamp, L""};
    lines.insert(lines.end(), body.begin(), body.end());
    if (!WriteAnsiLines(path, lines)) {
        vb::MsgBox(form.Hwnd(), L"列表导出失败，无法写入文件——\n" + path + L"  ", MB_OK | MB_ICONINFORMATION);
        vb::TrimWorkingSet();
        return;
    }
    const int answer = vb::MsgBox(form.Hwnd(), done + L"\n" + path + L"中。  \n" + kAskToOpen + doneTail,
                                  MB_OKCANCEL | MB_ICONINFORMATION);
    if (answer == IDOK) vb::Try([&] { form.openInNotepad(path); });
    if (answer == IDOK || trim == Trim::Always) vb::TrimWorkingSet();
}

void StartNotepad(const std::wstring& path) {
    // Not quoted: Notepad takes the whole rest of the line as one name.
    std::wstring commandLine = L"notepad.exe " + path;
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESHOWWINDOW;
    start.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &started)) {
        win::Handle process(started.hProcess), thread(started.hThread);
    }
}

SYSTEMTIME LocalNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

}  // namespace

void frmMain::RegisterExportCommands() {
    if (!exportClock) exportClock = LocalNow;
    if (!openInNotepad) openInNotepad = StartNotepad;
    commands_[frmMainMenu::mnuListOut] = [this] { mnuListOut_Click(); };
    commands_[frmMainMenu::mnuListOut1] = [this] { mnuListOut1_Click(); };
    commands_[frmMainIds::cmdModulesOut] = [this] { cmdModulesOut_Click(); };
    commands_[frmMainIds::cmdPortsOut] = [this] { cmdPortsOut_Click(); };
}

std::wstring frmMain::ExportTimeStamp(const SYSTEMTIME& t) {
    auto n = [](WORD v) { return std::to_wstring(v); };
    return n(t.wYear) + L"年" + n(t.wMonth) + L"月" + n(t.wDay) + L"日" + n(t.wHour) + L"时" + n(t.wMinute) + L"分" +
           n(t.wSecond) + L"秒";
}

std::wstring frmMain::ExportFileName(const std::wstring& folder, const std::wstring& word, const std::wstring& stamp) {
    // One backslash between folder and name, also for a drive's root ("C:\").
    const bool slash = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    return folder + (slash ? L"" : L"\\") + word + L" " + stamp + L".txt";
}

void frmMain::mnuListOut_Click() {
    const int rows = lvwProcess.Count();
    std::vector<std::wstring> body{L"系统当前共" + std::to_wstring(rows) + L"项进程：", L"", kProcessHeader, L""};
    for (int i = 1; i <= rows; ++i) {
        const std::wstring pid = lvwProcess.SubItem(i, 2), user = lvwProcess.SubItem(i, 1),
                           cpu = lvwProcess.SubItem(i, 3), memory = lvwProcess.SubItem(i, 4),
                           priority = lvwProcess.SubItem(i, 5);
        std::wstring path = lvwProcess.SubItem(i, 6);
        if (path.empty()) path = lvwProcess.Text(i);
        // The priority names are Chinese: two columns a character.
        body.push_back(pid + Blanks(10 - Len(pid)) + user + Blanks(20 - Len(user)) + cpu + Blanks(8 - Len(cpu)) +
                       memory + Blanks(10 - Len(memory)) + priority + Blanks(10 - 2 * Len(priority)) + path);
    }
    Export(*this, L"进程", body, L"进程列表已导出到——", L"", Trim::AfterNotepad);
}

void frmMain::mnuListOut1_Click() { mnuListOut_Click(); }

void frmMain::cmdModulesOut_Click() {
    const long count = static_cast<long>(SendMessageW(lstModules, LB_GETCOUNT, 0, 0));
    if (count <= 0) return;  // an empty list: no file, no message
    std::vector<std::wstring> body{ui::GetText(lblModules), L""};
    for (long i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(lstModules, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring entry(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        if (length > 0)
            SendMessageW(lstModules, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry.data()));
        entry.resize(wcslen(entry.c_str()));
        body.push_back(entry);
    }
    Export(*this, L"模块", body, L"列表内容已导出到——", L"  ", Trim::Always);
}

void frmMain::cmdPortsOut_Click() {
    const int rows = lvwPorts.Count();
    if (rows == 0) return;  // an empty list: no file, no message
    std::vector<std::wstring> body{L"当前进程访问网络端口情况 " + std::to_wstring(rows), L"", kPortHeader};
    for (int i = 1; i <= rows; ++i) {
        // The port ends in column 12, under "端口"; the state stands under "状态".
        const std::wstring protocol = lvwPorts.Text(i), state = lvwPorts.SubItem(i, 1),
                           port = lvwPorts.SubItem(i, 2), pid = lvwPorts.SubItem(i, 3),
                           path = lvwPorts.SubItem(i, 4);
        body.push_back(protocol + Blanks(12 - Len(protocol) - Len(port)) + port + Blanks(4) + state +
                       Blanks(9 - Len(pid)) + pid + Blanks(4) + path);
    }
    Export(*this, L"端口", body, L"列表内容已导出到——", L"  ", Trim::Always);
}
