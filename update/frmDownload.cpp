#include "update/frmDownload.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/jet/File.h"
#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"
#include "platform/win/Text.h"
#include "sysaccess/KnowledgeBase.h"
#include "update/modDownload.h"

using namespace frmDownloadIds;

namespace {

constexpr const wchar_t* kClassName = L"MorvixDownload";
constexpr const wchar_t* kProgressClass = L"MorvixProgressBox";
constexpr UINT kInformation = MB_ICONINFORMATION;
constexpr UINT kExclamation = MB_ICONEXCLAMATION;
constexpr long kJetPageSize = 4096;
constexpr int kResourceId = 101;
constexpr const wchar_t* kResourceType = L"VBRESEXE";

// Client area and controls, in twips as designed.
constexpr long kClientWidth = 5400, kClientHeight = 1680;

// Lets the window messages run until something arrives or a moment passes.
void WaitAndPump() {
    MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    vb::DoEvents();
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    // CR LF, LF or CR ends a line, as the servers write them.
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines.push_back(line);
            line.clear();
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// One or more whole numbers joined by ".".
bool IsVersionText(const std::wstring& s) {
    if (s.empty() || s.front() == L'.' || s.back() == L'.' || s.find(L"..") != std::wstring::npos) return false;
    return std::all_of(s.begin(), s.end(), [](wchar_t c) { return c == L'.' || (c >= L'0' && c <= L'9'); });
}

long VersionPart(const std::wstring& s) {
    long long v = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') break;
        v = std::min<long long>(v * 10 + (c - L'0'), 0x7FFFFFFF);
    }
    return static_cast<long>(v);
}

std::vector<std::wstring> SplitDots(const std::wstring& s) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = s.find(L'.', start);
        parts.push_back(s.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
        if (dot == std::wstring::npos) return parts;
        start = dot + 1;
    }
}

LRESULT CALLBACK ProgressBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
        const frmDownload& form = frmDownload::Instance();
        long scale = std::max(1L, form.ProgressScale());
        long value = std::clamp(form.ProgressValue(), 0L, scale);
        r.right = static_cast<LONG>(static_cast<long long>(r.right) * value / scale);
        if (r.right > 0) FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterProgressClass() {
    WNDCLASSEXW wc{sizeof wc};
    if (GetClassInfoExW(GetModuleHandleW(nullptr), kProgressClass, &wc)) return;
    wc = WNDCLASSEXW{sizeof wc};
    wc.lpfnWndProc = ProgressBoxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kProgressClass;
    RegisterClassExW(&wc);
}

}  // namespace

frmDownload& frmDownload::Instance() {
    static frmDownload* instance = new frmDownload();  // lives until the process ends, like the form object
    return *instance;
}

// ---- pure pieces ----

long frmDownload::CompareVersions(const std::wstring& a, const std::wstring& b) {
    std::vector<std::wstring> pa = SplitDots(a), pb = SplitDots(b);
    for (size_t i = 0; i < std::min(pa.size(), pb.size()); ++i) {
        long x = VersionPart(pa[i]), y = VersionPart(pb[i]);
        if (x != y) return x - y;  // both within 0..2^31-1: no overflow
    }
    return 0;
}

long frmDownload::DateValue(const std::wstring& text) {
    std::wstring s = vb::Trim(text, L" \t");
    long parts[3] = {};
    int n = 0;
    size_t i = 0;
    wchar_t separator = 0;
    while (n < 3) {
        size_t start = i;
        long v = 0;
        while (i < s.size() && s[i] >= L'0' && s[i] <= L'9' && i - start < 4) v = v * 10 + (s[i++] - L'0');
        if (i == start) return -1;
        parts[n++] = v;
        if (n == 3) break;
        if (i >= s.size() || (s[i] != L'-' && s[i] != L'/')) return -1;
        if (separator && s[i] != separator) return -1;
        separator = s[i++];
    }
    if (i != s.size()) return -1;
    long y = parts[0], m = parts[1], d = parts[2];
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || m < 1 || m > 12 || d < 1) return -1;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return -1;
    return y * 10000 + m * 100 + d;
}

std::wstring frmDownload::RelaunchCommand(const std::wstring& tempDir, const std::wstring& tool) {
    return L"\"" + tempDir + kRelaunchName + L"\" \"" + tool + L"\" /updatemdb";
}

std::wstring frmDownload::ProgramTarget(const std::wstring& folder) {
    return folder + (!folder.empty() && folder.back() == L'\\' ? L"Morvix.rar" : L"\\Morvix.rar");
}

namespace {

// A Jet file is whole pages; a cut-off download seldom ends on a page
// boundary, and one that does fails when its tables are read through.
bool WholePages(unsigned long long size) { return size != 0 && size % kJetPageSize == 0; }

bool ReadsThrough(const std::function<dao::DatabasePtr()>& open) {
    return vb::Try([&] {
        dao::DatabasePtr db = open();
        for (const std::wstring& table : db->TableNames()) {
            dao::RecordsetPtr rs = db->OpenRecordset(L"SELECT * FROM " + table);
            while (!rs->EOF_()) rs->MoveNext();
            rs->Close();
        }
        dao::RecordsetPtr rs = db->OpenRecordset(L"SELECT * FROM Version");
        rs->MoveFirst();
        if (frmDownload::DateValue(rs->Fields(L"Version").value_or(L"")) < 0) throw vb::Error(13);
        rs->Close();
        db->Close();
    });
}

const std::wstring kConnect = std::wstring(L";pwd=") + modEnumProcess::kDatabasePassword;

}  // namespace

bool frmDownload::IsCompleteDatabase(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (!WholePages((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow)) return false;
    return ReadsThrough([&] { return dao::DBEngine::OpenDatabase(path, true, true, kConnect); });
}

frmDownload::DatabaseCheck frmDownload::CheckCompleteDatabase(HANDLE file, const std::wstring& name) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return DatabaseCheck::NotChecked;
    if (!WholePages(static_cast<unsigned long long>(size.QuadPart))) return DatabaseCheck::Incomplete;
    HANDLE own = nullptr;  // the engine closes its own copy of the handle
    if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return DatabaseCheck::NotChecked;
    std::unique_ptr<jet::File> engineFile = jet::AdoptFile(own, name);
    return ReadsThrough([&] { return dao::DBEngine::OpenDatabase(std::move(engineFile), true, kConnect); })
               ? DatabaseCheck::Complete
               : DatabaseCheck::Incomplete;
}

// ---- the window ----

void frmDownload::Load() {
    if (hwnd_ || running_) return;  // a loaded window (or one still winding down) is not loaded again
    RegisterProgressClass();
    RECT r{0, 0, vb::TwipsToPixelsX(kClientWidth), vb::TwipsToPixelsY(kClientHeight)};
    // No clipping of children: the group box paints its inside only through the form.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_TOOLWINDOW;
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    if (!CreateForm(kClassName, kCaption, style, exStyle, r.right - r.left, r.bottom - r.top)) return;
    CreateControls();
    Cancelled = false;
    Failed = false;
    running_ = true;
    vb::Try([&] { Form_Load(); });
    running_ = false;
}

void frmDownload::Unload() {
    if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void frmDownload::CreateControls() {
    Frame1 = ui::CreateControl(hwnd_, L"BUTTON", L"更新进度", WS_VISIBLE | BS_GROUPBOX, 120, 60, 5160, 1500,
                               frmDownloadIds::Frame1);
    lblDownloadText = ui::CreateControl(hwnd_, L"STATIC", L"准备更新……", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 300,
                                        360, 4800, 270, frmDownloadIds::lblDownloadText);
    lblDownloadStatus = ui::CreateControl(hwnd_, L"STATIC", L"已下载 0 bytes / 共 ??? bytes.",
                                          WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 300, 720, 4800, 270,
                                          frmDownloadIds::lblDownloadStatus);
    picProgress = ui::CreateControl(hwnd_, kProgressClass, L"", WS_VISIBLE, 300, 1080, 4800, 300,
                                    frmDownloadIds::picProgress, WS_EX_CLIENTEDGE);
    ClearProgress();
}

int frmDownload::GetTaskbarHeight() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return std::max(0, GetSystemMetrics(SM_CYSCREEN) - static_cast<int>(work.bottom));
}

void frmDownload::Form_Load() {
    vb::Try([&] {
        // Bottom right of the screen, just above the task bar.
        RECT r;
        GetWindowRect(hwnd_, &r);
        int width = r.right - r.left, height = r.bottom - r.top;
        SetWindowPos(hwnd_, nullptr, GetSystemMetrics(SM_CXSCREEN) - width,
                     GetSystemMetrics(SM_CYSCREEN) - height - GetTaskbarHeight(), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
    vb::Try([&] {
        ShowWindow(hwnd_, SW_SHOW);
        UpdateWindow(hwnd_);
        SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    });
    TempDir = vb::TempPath();
    std::wstring description;
    modDownload::StartWinsock(description);
    RemoteFile = clsDownload::Create();
    RemoteFile->SetEvents(this);
    DeleteFileW((TempDir + kVersionFileName).c_str());

    Check result = CheckForUpdate();
    if (!Alive()) return;  // closed meanwhile, or a failure already said so
    switch (result) {
    case Check::UpToDate:
        vb::MsgBox(hwnd_, L"目前已是最新版本，不需更新。  ", kInformation);
        Unload();
        return;
    case Check::Invalid:
        vb::MsgBox(hwnd_, L"服务器上的版本信息无效，无法检查更新。  ", kInformation);
        Unload();
        return;
    case Check::Cancelled:
        return;
    case Check::NewDatabase:
    case Check::NewProgram:
        break;
    }

    bool database = result == Check::NewDatabase;
    std::wstring question =
        database ? L"进程数据库已更新(" + RemoteDBVersion + L")，是否立即升级？    \n或者请访问 " + kHomePage +
                       L" 手动下载更新包。    "
                 : L"发现新版本 v" + RemoteVersion + L" 是否立即下载？  \n或者请访问 " + kHomePage + L" 手动下载。    ";
    int answer = vb::MsgBox(hwnd_, question, kInformation | MB_YESNO);
    if (!Alive()) return;
    if (answer != IDYES) {
        ShellExecuteW(nullptr, L"open", kHomePage, nullptr, nullptr, SW_SHOWMAXIMIZED);
        vb::DoEvents();
        Unload();
        return;
    }
    if (database) {
        ClearProgress();
        if (!WriteRelaunchProgram()) {
            // Without the helper the tool could not restart into the new knowledge base.
            vb::MsgBox(hwnd_, L"无法写出重启程序 " + std::wstring(kRelaunchName) + L"，数据库未更新。  ", kExclamation);
            Unload();
            return;
        }
        vb::DoEvents();
        if (!Alive()) return;
        DownloadDatabase();
    } else {
        std::wstring folder = BrowseForFolder(L"选择文件夹");
        if (!Alive()) return;
        if (folder.empty()) {
            Unload();
            return;
        }
        DownloadProgram(ProgramTarget(folder));
    }
}

void frmDownload::Form_QueryUnload() {
    Cancelled = true;
    if (RemoteFile) {
        RemoteFile->SetEvents(nullptr);  // its end raises nothing more here
        RemoteFile->Disconnect();        // closes the output file now, even while a notification holds the object
        RemoteFile.reset();              // a running notification keeps its own reference
    }
    DiscardPartialDownload();
    relaunchHold_.reset();
    modDownload::StopWinsock();
}

// A download that did not end whole is deleted: a partial knowledge base must
// never wait for a start with "/updatemdb", and a partial archive never looks
// like the program.
void frmDownload::DiscardPartialDownload() {
    if (!partialFile_.empty()) DeleteFileW(partialFile_.c_str());
    partialFile_.clear();
}

LRESULT frmDownload::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        vb::Try([&] { Form_QueryUnload(); });
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        Frame1 = lblDownloadText = lblDownloadStatus = picProgress = nullptr;
        return 0;
    }
    return DefaultProc(msg, wParam, lParam);
}

std::wstring frmDownload::Url(const std::wstring& path) const {
    std::wstring host = serverHost;
    if (serverPort != 80) host += L":" + std::to_wstring(serverPort);
    return L"http://" + host + path;
}

void frmDownload::StartFetch(const std::wstring& file, const std::wstring& path) {
    RemoteFile->DownloadType(0);
    RemoteFile->Filename(file);
    RemoteFile->UseTempFile(false);
    RemoteFile->AutoRedirect(true);
    RemoteFile->AllowCache(false);
    RemoteFile->UseResume(false);
    ClearProgress();
    RemoteFile->Disconnect();
    RemoteFile->UseHttpAuthorization(true);
    RemoteFile->ResumeFrom(0);
    RemoteFile->UseResume(true);
    RemoteFile->PacketSize(10000);
    // Keep the object for the call: a failure inside it may unload the window.
    std::shared_ptr<clsDownload> keep = RemoteFile;
    fetchEnded_ = false;
    keep->FetchURLString(Url(path));
    if (RemoteFile) RemoteFile->MaxDownload(-1);
}

frmDownload::Check frmDownload::CheckForUpdate() {
    ui::SetText(lblDownloadText, L"正在检查版本信息，请稍后……");
    Mode = 0;
    RemoteVersion.clear();
    RemoteDBVersion.clear();
    versionRead_ = false;
    StartFetch(TempDir + kVersionFileName, kVersionPath);
    while (!versionRead_) {
        // The tool is closing (a close waits for the outermost loop): the
        // check gives up quietly rather than keep the close waiting.
        if (!Alive() || vb::QuitPending() || vb::OutermostWorkWaiting()) return Check::Cancelled;
        WaitAndPump();
    }
    if (!Alive()) return Check::Cancelled;
    // A version file without its two lines (an error page, a cut-off file)
    // is a failure, not something to wait for.
    if (!IsVersionText(RemoteVersion) || DateValue(RemoteDBVersion) < 0) return Check::Invalid;

    std::wstring local;
    vb::Try([&] {
        modEnumProcess::g_rsMain = vb::Deref(modEnumProcess::g_dbMain).OpenRecordset(L"SELECT * FROM Version");
        modEnumProcess::g_rsMain->MoveFirst();
        local = modEnumProcess::g_rsMain->Fields(L"Version").value_or(L"");
    });
    modEnumProcess::g_rsMain.reset();
    // A missing or unreadable local version counts as older than any.
    Check result = DateValue(local) < DateValue(RemoteDBVersion) ? Check::NewDatabase : Check::UpToDate;
    if (CompareVersions(RemoteVersion, L"4.12.20080509") > 0) result = Check::NewProgram;
    return result;
}

void frmDownload::DownloadDatabase() {
    std::wstring date = RemoteDBVersion.size() > 10 ? RemoteDBVersion.substr(RemoteDBVersion.size() - 10)
                                                    : RemoteDBVersion;
    ui::SetText(lblDownloadText, L"正在下载最新数据库(" + date + L")：");
    Mode = 1;
    partialFile_ = TempDir + kPendingDatabaseName;
    StartFetch(partialFile_, kDatabasePath);
}

// The archive arrives under a temporary name beside the target and takes the
// target's name only when it is complete: an existing Morvix.rar is kept
// until then.
void frmDownload::DownloadProgram(const std::wstring& target) {
    ui::SetText(lblDownloadText, L"正在下 Velkaro v" + RemoteVersion + L"：");
    Mode = 2;
    programTarget_ = target;
    partialFile_ = target + kPartialSuffix;
    StartFetch(partialFile_, kProgramPath);
}

std::wstring frmDownload::BrowseForFolder(const std::wstring& title) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring result;
    BROWSEINFOW info{};
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item;
    {
        vb::NestedLoopScope nested;  // the dialog runs its own message loop
        item = SHBrowseForFolderW(&info);
    }
    if (item) {
        wchar_t path[512] = {};
        if (SHGetPathFromIDListW(item, path)) result = path;
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}

bool frmDownload::WriteRelaunchProgram() {
    relaunchHold_.reset();
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(kResourceId), kResourceType);
    HGLOBAL loaded = res ? LoadResource(nullptr, res) : nullptr;
    const auto* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = res ? SizeofResource(nullptr, res) : 0;
    if (!bytes || size == 0) return false;
    const std::wstring path = TempDir + kRelaunchName;
    {
        // CREATE_ALWAYS: a longer helper left from an earlier run is cut, not kept.
        win::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), bytes, size, &written, nullptr) || written != size) return false;
    }
    // Held from now until it has been started: others may read it but not
    // write, rename or delete it, so what runs is what was written.  The
    // bytes are read back through the held handle, which also covers the
    // moment between writing and holding.
    win::FileHandle hold(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hold) return false;
    std::vector<BYTE> back(size + 1);
    DWORD read = 0;
    if (!ReadFile(hold.get(), back.data(), size + 1, &read, nullptr) || read != size ||
        !std::equal(bytes, bytes + size, back.begin()))
        return false;
    relaunchHold_ = std::move(hold);
    return true;
}

void frmDownload::Relaunch() {
    const std::wstring pending = TempDir + kPendingDatabaseName;
    if (!IsCompleteDatabase(pending)) {
        // Never hand a broken file to the next start: it would replace db.mdb.
        DeleteFileW(pending.c_str());
        vb::MsgBox(hwnd_, L"下载的数据库文件不完整，已保留原数据库。  ", kExclamation);
        Unload();
        return;
    }
    vb::MsgBox(hwnd_, L"下载完毕！现在将要重启程序以完成数据更新。  ", kInformation);
    if (!Alive()) return;
    std::wstring tool = toolPath.empty() ? vb::AppPath() + L"\\" + vb::AppEXEName() + L".exe" : toolPath;
    std::wstring command = RelaunchCommand(TempDir, tool);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    relaunchHold_.reset();
    if (!started) {
        // The tool keeps running with its old knowledge base.
        vb::MsgBox(hwnd_, L"无法启动重启程序 " + std::wstring(kRelaunchName) + L"，请稍后重新启动本程序。  ",
                   kExclamation);
        Unload();
        return;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    vb::DoEvents();
    if (closeTool) {
        auto close = closeTool;  // it unloads this window too
        vb::Try([&] { close(); });
    }
    Unload();
    vb::DoEvents();
}

void frmDownload::ClearProgress() {
    progressScale_ = 1;
    progressValue_ = 0;
    if (picProgress) InvalidateRect(picProgress, nullptr, TRUE);
}

// ---- RemoteFile's events ----

// The first end of a fetch (complete or failed) is its only one: whatever the
// same fetch raises later, also while that end's message box is open, is not
// shown, so one check or download ends with exactly one message.
bool frmDownload::EndFetch() {
    if (fetchEnded_) return false;
    fetchEnded_ = true;
    return true;
}

void frmDownload::BytesReceived(long& lByteCount, long& /*ID*/) {
    if (!Alive() || !RemoteFile || fetchEnded_) return;
    long length = RemoteFile->DownloadLength();
    if (length > 0) {
        if (Mode != 0)
            ui::SetText(lblDownloadStatus, L"已下载 " + std::to_wstring(lByteCount / 1024) + L" KB / 共 " +
                                               std::to_wstring(length / 1024) + L" KB.");
        progressScale_ = length;
        progressValue_ = lByteCount;
        InvalidateRect(picProgress, nullptr, FALSE);
    } else if (Mode != 0) {
        ui::SetText(lblDownloadStatus, L"已下载 " + std::to_wstring(lByteCount / 1024) + L" KB.");
    }
}

void frmDownload::DownloadFailed(long& Why, long& /*ID*/) {
    if (!Alive() || Failed || !EndFetch()) return;  // one end, one message
    Failed = true;
    DiscardPartialDownload();
    vb::MsgBox(hwnd_, L"下载失败！错误代码：" + std::to_wstring(Why) + L".  ", kExclamation);
    Unload();
}

void frmDownload::Disconnected(long& /*ID*/) {
    if (Failed || !Alive() || !EndFetch()) return;
    switch (Mode) {
    case 0: {
        std::ifstream in(std::filesystem::path(TempDir + kVersionFileName), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::wstring> lines = SplitLines(win::FromAnsi(bytes));
        RemoteVersion = lines.size() > 0 ? vb::Trim(lines[0], L" \t") : L"";
        RemoteDBVersion = lines.size() > 1 ? vb::Trim(lines[1], L" \t") : L"";
        versionRead_ = true;  // ends the wait of CheckForUpdate
        break;
    }
    case 1:
        partialFile_.clear();  // whole as far as the download knows: Relaunch checks it
        Relaunch();
        break;
    case 2:
        if (MoveFileExW(partialFile_.c_str(), programTarget_.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            partialFile_.clear();
            vb::MsgBox(hwnd_, L"下载完毕！  ", kInformation);
        } else {
            DiscardPartialDownload();
            vb::MsgBox(hwnd_, L"无法保存下载的文件 " + programTarget_ + L"，原有文件保持不变。  ", kExclamation);
        }
        Unload();
        break;
    }
}
