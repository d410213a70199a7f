// The right-hand side of the process page: the description panel with the
// knowledge editor of the user's file, the module panel, the two tabs that
// open them, the web searches and the invitation to submit a process; and the
// option that ends dangerous processes, with its immediate sweep.
//
// Every query uses a record set of its own that is gone before any message
// box: a box runs the message loop, and the monitor's colour lookup reads the
// same files meanwhile.  A knowledge file that is not open, a failed query or
// a field that cannot be read finds nothing; nothing here ends the tool.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <optional>
#include <set>

#include "mainwindow/frmMain.h"
#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/modMain.h"
#include "platform/dao/dao.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Text.h"
#include "sysaccess/modEnDeCryption.h"
#include "sysaccess/modEnumModules.h"
#include "sysaccess/modKillProcess.h"

namespace {


// Where the links lead.
constexpr const wchar_t* kBaiduHost = L"https://www.baidu.com";
constexpr const wchar_t* kGoogleHost = L"https://www.google.com";
constexpr const wchar_t* kMakerHost = L"http://www.morvix.example";

constexpr unsigned long kRed = 0x0000FF;   // RGB(255, 0, 0)
constexpr unsigned long kBlack = 0x000000;
constexpr unsigned long kBlue = 0xFF0000;  // RGB(0, 0, 255)

const std::wstring kAdd = L"添加", kEdit = L"修改", kConfirm = L"确定";
const std::wstring kFillIn = L"请填写完整！";
const std::wstring kNamePrompt = L"请输入您要查询的进程名！";
const std::wstring kNotFound = L"抱歉！没有找到该进程相关信息。";

constexpr UINT kInformation = MB_OK | MB_ICONINFORMATION;
constexpr UINT kExclamation = MB_OK | MB_ICONEXCLAMATION;

const wchar_t* const kInvitation[] = {
    L"　　虽然目前的进程信息数据库中已收录了", L"数千条进程信息，但这些还远远不够，毕竟",
    L"现在的应用软件种类太多了。所以我提出了", L"这个“进程补完计划”，希望借助大家的力",
    L"量来完善程序的进程信息库。",             L"　　您要做的事很简单，只要把您系统里存",
    L"在的而程序中还未收录到的进程信息通过我", L"主页的在线提交页面提交给我就行了。",
    L"　　进程补完计划，期待您你的加入！"};

// ---- the knowledge files ----

struct Entry {
    std::wstring description;
    bool dangerous = false;
};

dao::RecordsetPtr NameQuery(const dao::DatabasePtr& db, const std::wstring& name) {
    return vb::Deref(db).OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(name));
}

std::wstring EncipheredName(const std::wstring& name) {
    try {
        return modEnDeCryption::Encrypt(name, modEnDeCryption::g_cipherKey);
    } catch (...) {
        return name;  // looked up as it is, like the colour lookup does
    }
}

// The entry of one file under the stored name; nothing when there is none or
// the file cannot be read.  A Null description reads as empty.
std::optional<Entry> ReadEntry(const dao::DatabasePtr& db, const std::wstring& stored, bool enciphered) {
    try {
        dao::RecordsetPtr rs = NameQuery(db, stored);
        if (rs->RecordCount() == 0) return std::nullopt;
        Entry e;
        vb::Try([&] { e.dangerous = rs->Fields(L"Virus").value_or(L"") == L"Y"; });
        vb::Try([&] { e.description = rs->Fields(L"Description").value_or(L""); });
        if (enciphered && !e.description.empty()) {
            try {
                std::wstring plain = modEnDeCryption::Decrypt(e.description, modEnDeCryption::g_cipherKey);
                plain.erase(plain.find_last_not_of(L' ') + 1);
                e.description = plain;
            } catch (...) {
                // A text that will not decipher is shown as it is stored.
            }
        }
        return e;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<Entry> UserEntry(const std::wstring& name) { return ReadEntry(modMain::g_dbUser, name, false); }
std::optional<Entry> MakerEntry(const std::wstring& name) {
    return ReadEntry(modMain::g_dbMain, EncipheredName(name), true);
}

bool HasRecord(const dao::DatabasePtr& db, const std::wstring& stored) {
    try {
        return NameQuery(db, stored)->RecordCount() != 0;
    } catch (...) {
        return false;
    }
}

void SetEntryFields(dao::Recordset& rs, const std::wstring& name, const std::wstring& description,
                    const std::wstring& virus) {
    rs.SetField(L"ProcessName", name);
    rs.SetField(L"Description", description);
    rs.SetField(L"Virus", virus);
}

// Appends an entry to the user's file; false when it could not be saved.
bool AppendUserEntry(const std::wstring& name, const std::wstring& description, const std::wstring& virus) {
    try {
        dao::RecordsetPtr rs = vb::Deref(modMain::g_dbUser).OpenRecordset(L"SELECT * FROM Process");
        rs->AddNew();
        SetEntryFields(*rs, name, description, virus);
        rs->Update();
        return true;
    } catch (...) {
        return false;
    }
}

// Replaces the user's entry of the name, or adds one.  The new record is
// written before the old one goes, so a failure keeps the old entry.
bool ReplaceUserEntry(const std::wstring& name, const std::wstring& description, const std::wstring& virus) {
    try {
        dao::RecordsetPtr rs = NameQuery(modMain::g_dbUser, name);
        if (rs->RecordCount() == 0) return AppendUserEntry(name, description, virus);
        rs->Edit();
        SetEntryFields(*rs, name, description, virus);
        rs->Update();
        return true;
    } catch (...) {
        return false;
    }
}

// ---- texts ----

bool EndsWithExe(const std::wstring& name) {
    return name.size() >= 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0;
}

// Percent-encoding of bytes: letters, digits and "-_.~" stay, all else is %XX.
std::wstring PercentEncode(const std::string& bytes) {
    static const wchar_t hex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out.push_back(static_cast<wchar_t>(c));
        } else {
            out.push_back(L'%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

long RowPid(const ui::ListView& list, int row) {
    std::wstring key = list.Key(row);
    if (key.rfind(L"PID:", 0) != 0) throw vb::Error(13);
    return static_cast<long>(vb::ParseDisplayedNumber(key.substr(4)));
}

// ---- control behaviour the window classes lack ----

HCURSOR HandCursor() {
    static HCURSOR c = [] {
        HCURSOR own = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101));
        return own ? own : LoadCursorW(nullptr, IDC_HAND);
    }();
    return c;
}

// Link labels and close images show the hand.
LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_SETCURSOR) {
        SetCursor(HandCursor());
        return TRUE;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, LinkProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// The tabs report the pointer's movement in twips of their own area.
LRESULT CALLBACK TabProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR form) {
    if (msg == WM_MOUSEMOVE) {
        LRESULT r = DefSubclassProc(hwnd, msg, wParam, lParam);
        long x = vb::PixelsToTwipsX(static_cast<short>(LOWORD(lParam)));
        long y = vb::PixelsToTwipsY(static_cast<short>(HIWORD(lParam)));
        int index = static_cast<int>(id) - 1;
        vb::Try([&] { reinterpret_cast<frmMain*>(form)->chkPopupForm_MouseMove(index, x, y); });
        return r;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, TabProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// The name box: a click, and Enter while "查询" is the default button.
LRESULT CALLBACK NameBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR form) {
    auto* f = reinterpret_cast<frmMain*>(form);
    switch (msg) {
    case WM_LBUTTONUP: {
        LRESULT r = DefSubclassProc(hwnd, msg, wParam, lParam);
        vb::Try([&] { f->txtPrcName_Click(); });
        return r;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN && f->FindIsDefault()) {
            vb::Try([&] { f->cmdPrcFind_Click(); });
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L'\r') return 0;  // no beep
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, NameBoxProc, id);
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

HWND Label(HWND parent, const std::wstring& caption, long left, long top, long width, long height, int id = 0,
           bool link = false) {
    HWND w = ui::CreateControl(parent, L"STATIC", caption, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | (link ? SS_NOTIFY : 0),
                               left, top, width, height, id);
    if (link) SetWindowSubclass(w, LinkProc, 1, 0);
    return w;
}

HWND Button(HWND parent, const std::wstring& caption, long left, long top, long width, long height, int id) {
    return ui::CreateControl(parent, L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, left, top, width,
                             height, id);
}

// A close image: a small "×" that takes clicks.
HWND CloseImage(HWND parent, long left, long top, int id) {
    HWND w = Label(parent, L"×", left, top, 240, 240, id, true);
    SetWindowLongPtrW(w, GWL_STYLE, GetWindowLongPtrW(w, GWL_STYLE) | SS_CENTER);
    return w;
}

void AddToolTip(HWND tip, HWND owner, HWND tool, const wchar_t* text) {
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = owner;
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

}  // namespace

using namespace frmMainIds;

// ---- creation ----

void frmMain::CreateSidePanels() {
    shellOpen = [](HWND owner, const std::wstring& address, int show) {
        ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, show);
    };
    HWND page = picTab[1];

    // The two tabs, each with its underline.
    picPopupFormButton = ui::CreateContainer(page, 9480, 150, 1890, 390);
    modAutoSizeForm::SetTag(picPopupFormButton, L"MOVEH");
    const wchar_t* tabCaptions[2] = {L"描述", L"模块"};
    for (int i = 0; i <= 1; ++i) {
        chkPopupForm[i] = ui::CreateControl(picPopupFormButton, L"BUTTON", tabCaptions[i],
                                            WS_VISIBLE | BS_AUTOCHECKBOX | BS_PUSHLIKE, 960L * i, 0, 900, 330,
                                            frmMainIds::chkPopupForm + i);
        SetWindowSubclass(chkPopupForm[i], TabProc, static_cast<UINT_PTR>(i + 1), reinterpret_cast<DWORD_PTR>(this));
        picPopupFormLine[i] = ui::CreateContainer(picPopupFormButton, 960L * i, 330, 900, 45, 0, false);
        ui::SetBackColor(picPopupFormLine[i], vb::kSysActiveCaption);
    }
    // The focus sink, out of sight.
    cmdSetFocus = ui::CreateControl(hwnd_, L"BUTTON", L"", WS_VISIBLE | BS_PUSHBUTTON, -3000, -3000, 90, 90,
                                    frmMainIds::cmdSetFocus);

    // The description panel.
    HWND d = picPopupForm[0] = ui::CreateContainer(page, 7800, 600, 3570, 6540, 0, false);
    modAutoSizeForm::SetTag(d, L"MOVEH");
    txtPrcName = ui::CreateControl(d, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 60, 60, 2280, 330,
                                   frmMainIds::txtPrcName, WS_EX_CLIENTEDGE);
    SetWindowSubclass(txtPrcName, NameBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));
    cmdPrcFind = Button(d, L"查询", 2400, 60, 780, 330, frmMainIds::cmdPrcFind);
    imgPopupFormX[0] = CloseImage(d, 3270, 105, frmMainIds::imgPopupFormX);
    txtPrcDescription = ui::CreateControl(
        d, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_READONLY,
        60, 450, 3450, 4620, frmMainIds::txtPrcDescription, WS_EX_CLIENTEDGE);
    modAutoSizeForm::SetTag(txtPrcDescription, L"STRETCHV");
    for (HWND box : {txtPrcName, txtPrcDescription}) ui::SetForeColor(box, kBlack);

    picLevel = ui::CreateContainer(d, 60, 5130, 3450, 330, 0, false);
    modAutoSizeForm::SetTag(picLevel, L"N_MOVEV");
    optLevel[1] = ui::CreateControl(picLevel, L"BUTTON", L"正常进程", WS_VISIBLE | WS_GROUP | BS_AUTORADIOBUTTON, 0, 30,
                                    1400, 270, frmMainIds::optLevel + 1);
    optLevel[2] = ui::CreateControl(picLevel, L"BUTTON", L"病毒＆木马", WS_VISIBLE | BS_AUTORADIOBUTTON, 1500, 30,
                                    1900, 270, frmMainIds::optLevel + 2);
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    for (HWND tool : {picLevel, optLevel[1], optLevel[2]}) AddToolTip(tip, hwnd_, tool, L"进程安全等级请参考帮助文件");

    fraSearch = ui::CreateContainer(d, 60, 5520, 3450, 360, 0, false, WS_EX_STATICEDGE);
    modAutoSizeForm::SetTag(fraSearch, L"N_MOVEV");
    Label1 = Label(fraSearch, L"搜索：", 60, 60, 600, 240);
    lblSearchBaidu = Label(fraSearch, L"[百度]", 660, 60, 600, 240, frmMainIds::lblSearchBaidu, true);
    lblSearchGoogle = Label(fraSearch, L"[Google]", 1290, 60, 840, 240, frmMainIds::lblSearchGoogle, true);
    lblProcessComplate = Label(fraSearch, L"[进程补完计划]", 2160, 60, 1230, 240, frmMainIds::lblProcessComplate, true);
    for (HWND link : {lblSearchBaidu, lblSearchGoogle, lblProcessComplate}) ui::SetForeColor(link, kBlue);

    cmdPrcAdd = Button(d, kAdd, 60, 6030, 1095, 375, frmMainIds::cmdPrcAdd);
    cmdPrcEdit = Button(d, kEdit, 1260, 6030, 1095, 375, frmMainIds::cmdPrcEdit);
    modAutoSizeForm::SetTag(cmdPrcAdd, L"MOVEV");
    modAutoSizeForm::SetTag(cmdPrcEdit, L"MOVEV");

    // The module panel: its list is refilled on every row click.
    HWND m = picPopupForm[1] = ui::CreateContainer(page, 7800, 600, 3570, 6540, 0, false);
    modAutoSizeForm::SetTag(m, L"MOVEH");
    lblModules = Label(m, L"进程模块信息", 60, 105, 3150, 240);
    imgPopupFormX[1] = CloseImage(m, 3270, 105, frmMainIds::imgPopupFormX + 1);
    lstModules = ui::CreateControl(m, L"LISTBOX", L"",
                                   WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, 60, 450,
                                   3450, 5490, 0, WS_EX_CLIENTEDGE);
    modAutoSizeForm::SetTag(lstModules, L"STRETCHV");
    cmdModulesRefresh = Button(m, L"刷新列表", 60, 6030, 1095, 375, frmMainIds::cmdModulesRefresh);
    cmdModulesOut = Button(m, L"导出列表", 1260, 6030, 1095, 375, frmMainIds::cmdModulesOut);
    modAutoSizeForm::SetTag(cmdModulesRefresh, L"MOVEV");
    modAutoSizeForm::SetTag(cmdModulesOut, L"MOVEV");

    // The invitation to submit processes, over the whole window when asked for.
    fraProcessComplate = ui::CreateContainer(hwnd_, 0, 0, 4800, 3180, 0, false, WS_EX_DLGMODALFRAME);
    lblProcessCompleteT = Label(fraProcessComplate, L"【进程补完计划】", 120, 120, 3000, 270);
    imgProcessComplateX = CloseImage(fraProcessComplate, 4380, 90, frmMainIds::imgProcessComplateX);
    std::wstring text;
    for (const wchar_t* line : kInvitation) text += (text.empty() ? L"" : L"\r\n") + std::wstring(line);
    lblProcessCompleteText = Label(fraProcessComplate, text, 120, 480, 4500, 2040);
    lblProcessCompleteLinker = Label(fraProcessComplate, L"点击进入进程信息在线提交页面", 120, 2640, 3300, 270,
                                     frmMainIds::lblProcessCompleteLinker, true);
    lblProcessCompleteB = Label(fraProcessComplate, L"[关闭]", 3900, 2640, 720, 270, frmMainIds::lblProcessCompleteB,
                                true);
    ui::SetForeColor(lblProcessCompleteLinker, kBlue);
    ui::SetForeColor(lblProcessCompleteB, kBlue);

    commands_[frmMainMenu::mnuProcessComplate] = [this] { mnuProcessComplate_Click(); };
}

bool frmMain::OnKnowledgeCommand(int /*id*/, int code, HWND c) {
    auto run = [](auto&& handler) {
        vb::Try(handler);
        return true;
    };
    for (int i = 0; i <= 1; ++i) {
        if (c == chkPopupForm[i]) return code == BN_CLICKED ? run([&] { chkPopupForm_Click(i); }) : true;
        if (c == imgPopupFormX[i]) return code == STN_CLICKED ? run([&] { imgPopupFormX_Click(i); }) : true;
    }
    if (c == txtPrcName) {
        if (code == EN_SETFOCUS) run([&] { txtPrcName_GotFocus(); });
        if (code == EN_KILLFOCUS) run([&] { txtPrcName_LostFocus(); });
        return true;
    }
    struct Click {
        HWND control;
        int code;
        void (frmMain::*handler)();
    };
    const Click clicks[] = {
        {cmdPrcFind, BN_CLICKED, &frmMain::cmdPrcFind_Click},
        {cmdPrcAdd, BN_CLICKED, &frmMain::cmdPrcAdd_Click},
        {cmdPrcEdit, BN_CLICKED, &frmMain::cmdPrcEdit_Click},
        {cmdModulesRefresh, BN_CLICKED, &frmMain::cmdModulesRefresh_Click},
        {lblSearchBaidu, STN_CLICKED, &frmMain::lblSearchBaidu_Click},
        {lblSearchGoogle, STN_CLICKED, &frmMain::lblSearchGoogle_Click},
        {lblProcessComplate, STN_CLICKED, &frmMain::lblProcessComplate_Click},
        {lblProcessCompleteLinker, STN_CLICKED, &frmMain::lblProcessCompleteLinker_Click},
        {imgProcessComplateX, STN_CLICKED, &frmMain::imgProcessComplateX_Click},
        {lblProcessCompleteB, STN_CLICKED, &frmMain::lblProcessCompleteB_Click},
    };
    for (const Click& k : clicks)
        if (c == k.control) return code == k.code ? run([&] { (this->*k.handler)(); }) : true;
    return false;
}

// ---- description lookup ----

void frmMain::ShowProcessInfo(const std::wstring& name) {
    ShowWindow(fraSearch, SW_HIDE);
    ui::SetText(txtPrcName, name);
    auto show = [&](const Entry& e) {
        for (HWND box : {txtPrcName, txtPrcDescription}) ui::SetForeColor(box, e.dangerous ? kRed : kBlack);
        ui::SetText(txtPrcDescription, e.description);
    };
    const bool exe = EndsWithExe(name);
    // The user's file before the maker's, the exact name before name & ".exe".
    if (auto e = UserEntry(name)) return show(*e);
    if (!exe)
        if (auto e = UserEntry(name + L".exe")) {
            show(*e);
            return ui::SetText(txtPrcName, name + L".exe");
        }
    if (auto e = MakerEntry(name)) return show(*e);
    if (!exe)
        if (auto e = MakerEntry(name + L".exe")) {
            show(*e);
            return ui::SetText(txtPrcName, name + L".exe");
        }
    for (HWND box : {txtPrcName, txtPrcDescription}) ui::SetForeColor(box, kBlue);
    ui::SetText(txtPrcDescription, kNotFound);
    ShowWindow(fraSearch, SW_SHOW);
}

void frmMain::PutEditorInViewMode() {
    ui::SetText(cmdPrcAdd, kAdd);
    ui::SetText(cmdPrcEdit, kEdit);
    SendMessageW(txtPrcDescription, EM_SETREADONLY, TRUE, 0);
    ShowWindow(picLevel, SW_HIDE);
}

void frmMain::txtPrcName_Click() { ui::SetForeColor(txtPrcName, kBlack); }

void frmMain::txtPrcName_GotFocus() {
    findIsDefault_ = true;
    SendMessageW(cmdPrcFind, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void frmMain::txtPrcName_LostFocus() {
    findIsDefault_ = false;
    SendMessageW(cmdPrcFind, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
}

void frmMain::cmdPrcFind_Click() {
    PutEditorInViewMode();
    ui::SetText(txtPrcDescription, L"");
    const std::wstring name = ui::GetText(txtPrcName);
    if (name != L"" && name != kNamePrompt) {
        ShowProcessInfo(name);
        txtPrcName_Click();  // only the description keeps the colour
        vb::TrimWorkingSet();
    } else {
        ui::SetText(txtPrcName, kNamePrompt);
    }
}

// ---- the editor ----

// The description becomes writable and the level choice shows, "正常进程" chosen.
void frmMain::OpenEditorForInput() {
    SendMessageW(txtPrcDescription, EM_SETREADONLY, FALSE, 0);
    ui::SetCheckState(optLevel[2], 0);
    ui::SetCheckState(optLevel[1], 1);
    ShowWindow(picLevel, SW_SHOW);
    vb::TrimWorkingSet();
}

// Puts the blue fill-in request into each empty field; false when one was empty.
// The edit also counts a field still holding that request as empty.
bool frmMain::MarkMissingFields(const std::wstring& name, const std::wstring& description, bool fillInIsEmpty) {
    auto empty = [&](const std::wstring& text) {
        const std::wstring t = vb::Trim(text);
        return t.empty() || (fillInIsEmpty && t == kFillIn);
    };
    const bool noName = empty(name), noDescription = empty(description);
    if (noName) ui::SetForeColor(txtPrcName, kBlue), ui::SetText(txtPrcName, kFillIn);
    if (noDescription) ui::SetForeColor(txtPrcDescription, kBlue), ui::SetText(txtPrcDescription, kFillIn);
    return !noName && !noDescription;
}

void frmMain::cmdPrcAdd_Click() {
    ui::SetText(cmdPrcEdit, kEdit);
    for (HWND box : {txtPrcName, txtPrcDescription}) ui::SetForeColor(box, kBlack);
    SetFocus(txtPrcName);
    if (ui::GetText(cmdPrcAdd) == kAdd) {
        ui::SetText(cmdPrcAdd, kConfirm);
        ui::SetText(txtPrcName, L"");
        ui::SetText(txtPrcDescription, L"");
        OpenEditorForInput();
        return;
    }
    const std::wstring name = ui::GetText(txtPrcName), description = ui::GetText(txtPrcDescription);
    if (MarkMissingFields(name, description, false)) {
        const std::wstring virus = ui::GetCheck(optLevel[2]) == 1 ? L"Y" : L"N";
        const bool exists =
            HasRecord(modMain::g_dbUser, name) || HasRecord(modMain::g_dbMain, EncipheredName(name));
        if (exists)
            vb::MsgBox(hwnd_, L"该记录已存在，不能重复添加。若需修改描述，请使用修改键。", kInformation);
        else if (AppendUserEntry(name, description, virus))
            vb::MsgBox(hwnd_, L"添加成功！", kInformation, L"添加");
        else
            vb::MsgBox(hwnd_, L"抱歉！无法添加该记录。", kInformation);
    }
    PutEditorInViewMode();
    vb::TrimWorkingSet();
}

void frmMain::cmdPrcEdit_Click() {
    ui::SetText(cmdPrcAdd, kAdd);
    for (HWND box : {txtPrcName, txtPrcDescription}) ui::SetForeColor(box, kBlack);
    SetFocus(txtPrcName);
    if (ui::GetText(cmdPrcEdit) == kEdit) {
        ui::SetText(cmdPrcEdit, kConfirm);
        OpenEditorForInput();
        return;
    }
    const std::wstring name = ui::GetText(txtPrcName), description = ui::GetText(txtPrcDescription);
    if (MarkMissingFields(name, description, true)) {
        const std::wstring virus = ui::GetCheck(optLevel[2]) == 1 ? L"Y" : L"N";
        if (ReplaceUserEntry(name, description, virus))
            vb::MsgBox(hwnd_, L"修改成功！", kInformation, L"修改");
        else
            vb::MsgBox(hwnd_, L"抱歉！无法修改该记录，原有记录保持不变。", kInformation);
    }
    PutEditorInViewMode();
    vb::TrimWorkingSet();
}

// ---- module panel ----

void frmMain::cmdModulesRefresh_Click() {
    const int row = lvwProcess.SelectedIndex();
    if (row == 0) return;
    const std::wstring name = lvwProcess.Text(row);
    const long pid = static_cast<long>(vb::ParseDisplayedNumber(lvwProcess.SubItem(row, 2)));
    modEnumModules::ListProcessModules(pid, lstModules);
    long modules = static_cast<long>(SendMessageW(lstModules, LB_GETCOUNT, 0, 0));
    ui::SetText(lblModules, name + L" 进程包含 " + std::to_wstring(modules) + L" 个模块");
}

// ---- panels and their tabs ----

void frmMain::SetProcessListWidth(long twips) {
    RECT r = ui::ControlRectTwips(lvwProcess.Hwnd());
    ui::MoveControl(lvwProcess.Hwnd(), r.left, r.top, std::max(0L, twips), r.bottom - r.top);
}

void frmMain::chkPopupForm_Click(int index) {
    if (index < 0 || index > 1) return;
    SetFocus(cmdSetFocus);
    const int other = 1 - index;
    if (ui::GetCheck(chkPopupForm[index]) == 1 && ui::GetCheck(chkPopupForm[other]) == 1)
        SetCheckValue(chkPopupForm[other], 0);  // its own click closes its panel
    if (ui::GetCheck(chkPopupForm[0]) == 0 && ui::GetCheck(chkPopupForm[1]) == 0) return imgPopupFormX_Click(index);
    const bool open = ui::GetCheck(chkPopupForm[index]) == 1;
    ShowWindow(picPopupForm[index], open ? SW_SHOW : SW_HIDE);
    if (open) {
        ShowWindow(picPopupFormLine[index], SW_SHOW);
        ui::SetBackColor(picPopupFormLine[index], vb::kSysHighlight);
        SetProcessListWidth(ui::ControlRectTwips(picPopupForm[index]).left - 200);
        if (index == 0) SetFocus(txtPrcName);
    } else {
        ShowWindow(picPopupFormLine[index], SW_HIDE);
        ui::SetBackColor(picPopupFormLine[index], vb::kSysActiveCaption);
    }
}

void frmMain::imgPopupFormX_Click(int index) {
    if (index < 0 || index > 1) return;
    SetCheckValue(chkPopupForm[index], 0);
    ShowWindow(picPopupForm[index], SW_HIDE);
    ShowWindow(picPopupFormLine[index], SW_HIDE);
    ui::SetBackColor(picPopupFormLine[index], vb::kSysActiveCaption);
    RECT page = ui::ControlRectTwips(picTab[1]);
    SetProcessListWidth(page.right - page.left - 280);
}

void frmMain::chkPopupForm_MouseMove(int index, long x, long y) {
    if (index < 0 || index > 1 || ui::GetCheck(chkPopupForm[index]) == 1) return;
    TrackPanelTabHover(index, x, y);
}

void frmMain::TrackPanelTabHover(int index, long x, long y) {
    HWND tab = chkPopupForm[index];
    RECT r = ui::ControlRectTwips(tab);
    if (x >= 0 && x <= r.right - r.left && y >= 0 && y <= r.bottom - r.top) {
        // Holding the mouse is what tells the tab that the pointer has left.
        if (GetCapture() != tab) SetCapture(tab);
        ShowWindow(picPopupFormLine[index], SW_SHOW);
    } else {
        if (GetCapture() == tab) ReleaseCapture();
        ShowWindow(picPopupFormLine[index], SW_HIDE);
    }
}

// ---- web search and the invitation ----

std::wstring frmMain::BaiduSearchAddress(const std::wstring& name) {
    return std::wstring(kBaiduHost) + L"/baidu?word=" + PercentEncode(win::ToAnsi(name + L" 进程"));
}

std::wstring frmMain::GoogleSearchAddress(const std::wstring& name) {
    return std::wstring(kGoogleHost) + L"/search?biw=1003&hl=zh-CN&q=" + PercentEncode(win::ToUtf8(name)) +
           L"+%E8%BF%9B%E7%A8%8B&btnG=Google+%E6%90%9C%E7%B4%A2&lr=";
}

std::wstring frmMain::SubmissionAddress() { return std::wstring(kMakerHost) + L"/Process/submit.html"; }

void frmMain::lblSearchBaidu_Click() {
    vb::Try([&] { shellOpen(nullptr, BaiduSearchAddress(ui::GetText(txtPrcName)), SW_MAXIMIZE); });
    vb::DoEvents();
    vb::TrimWorkingSet();
}

void frmMain::lblSearchGoogle_Click() {
    vb::Try([&] { shellOpen(nullptr, GoogleSearchAddress(ui::GetText(txtPrcName)), SW_MAXIMIZE); });
    vb::DoEvents();
    vb::TrimWorkingSet();
}

void frmMain::mnuProcessComplate_Click() {
    RECT form;
    GetWindowRect(hwnd_, &form);
    RECT frame = ui::ControlRectTwips(fraProcessComplate);
    const long width = frame.right - frame.left, height = frame.bottom - frame.top;
    const long left = (vb::PixelsToTwipsX(form.right - form.left) - width) / 2;
    const long top = (vb::PixelsToTwipsY(form.bottom - form.top) - height) / 2 - 1000;
    ui::MoveControl(fraProcessComplate, left, top, width, height);
    SetWindowPos(fraProcessComplate, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    vb::TrimWorkingSet();
}

void frmMain::lblProcessComplate_Click() { mnuProcessComplate_Click(); }

void frmMain::imgProcessComplateX_Click() {
    ShowWindow(fraProcessComplate, SW_HIDE);
    vb::TrimWorkingSet();
}

void frmMain::lblProcessCompleteB_Click() { imgProcessComplateX_Click(); }

void frmMain::lblProcessCompleteLinker_Click() {
    vb::Try([&] { shellOpen(hwnd_, SubmissionAddress(), SW_HIDE); });
    vb::DoEvents();
    vb::TrimWorkingSet();
}

// ---- automatic ending ----

void frmMain::chkAntiVirus_Click() {
    SetMenuChecked(frmMainMenu::mnuSettingAntiVirus, false);
    if (ui::GetCheck(chkAntiVirus) == 1) {
        SetMenuChecked(frmMainMenu::mnuSettingAntiVirus, true);
        vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AntiVirus", L"1");
        // Turned on again inside a sweep's box: the running sweep goes on.
        if (sweepDepth_ == 0) {
            ++sweepDepth_;
            vb::Try([&] { SweepDangerousProcesses(); });
            --sweepDepth_;
        }
        modMain::g_rsMain.reset();
        modMain::g_rsUser.reset();
    } else {
        SetMenuChecked(frmMainMenu::mnuSettingAntiVirus, false);
        vb::SaveSetting(frmMain::kSettingsApp, frmMain::kSettingsSection, L"AntiVirus", L"0");
    }
    vb::TrimWorkingSet();
}

// Ends every listed process that the knowledge base marks dangerous, by the
// rule that colours the rows (the user's "N" wins over the maker's "Y").  The
// boxes run the message loop, so the list may change under it: the count is
// read at every step, rows are found again by key, and the sweep starts over
// after each process it ends.
void frmMain::SweepDangerousProcesses() {
    std::set<long> ended;  // a process ended once is not asked about again
    const long self = static_cast<long>(GetCurrentProcessId());
    for (bool again = true; again;) {
        again = false;
        for (int i = 1; i <= lvwProcess.Count(); ++i) {
            if (ClosePending() || !AutoKillOn()) return;  // closing, or the option was turned off meanwhile
            const std::wstring key = lvwProcess.Key(i), name = lvwProcess.Text(i);
            long pid = 0;
            if (!vb::Try([&] { pid = RowPid(lvwProcess, i); })) continue;
            if (pid == self || ended.count(pid)) continue;
            if (KnowledgeColour(name) != modEnumProcess::kColourDangerous) continue;
            long target = pid;
            bool killed = false;
            vb::Try([&] { killed = modKillProcess::KillProcess(target, reinterpret_cast<HWND>(1)); });
            const std::wstring who = L"发现危险进程 " + name + L" [" + std::to_wstring(pid) + L"] ";
            if (killed) {
                ended.insert(pid);
                SetForegroundWindow(hwnd_);
                vb::MsgBox(hwnd_, who + L"并已被结束。  ", kInformation);
                if (int row = lvwProcess.FindKey(key)) lvwProcess.Remove(row);
                again = true;
                break;
            }
            vb::MsgBox(hwnd_, who + L"但无法结束，请另行处理。  ", kExclamation);
            // Go on after the row, wherever the box has left it; gone, the row
            // that took its place comes next.
            int row = lvwProcess.FindKey(key);
            i = row ? row : i - 1;
        }
    }
}
