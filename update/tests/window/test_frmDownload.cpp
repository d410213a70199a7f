// The update window against nginx on loopback: the version check and its
// answers, the two downloads, the hand-over to Quenlo and the relaunched
// program installing the new knowledge base, and the failures that must end
// with one message and the old knowledge base kept.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "mainwindow/frmMain_MenuIds.h"
#include "mainwindow/modMain.h"
#include "platform/vb/Runtime.h"
#include "tests/helpers/TestSupport.h"
#include "tools/KnowledgeFiles.h"
#include "update/frmDownload.h"
#include "update/modDownload.h"

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

fs::path Served(const std::string& relative) {
    const std::string root = Env("MX_PEER_ROOT");
    std::wstring p = L"Z:" + std::wstring(root.begin(), root.end()) + L"/" + std::wstring(relative.begin(), relative.end());
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    return p;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

void MakeKnowledgeBase(const std::wstring& path, const std::wstring& date, int rows = 400) {
    knowledge::Source source{date, {}};
    // Enough rows to fill several pages, so a cut-off copy loses rows.
    for (int i = 0; i < rows; ++i)
        source.entries.push_back({L"proc" + std::to_wstring(i) + L".exe", L"测试进程 " + std::to_wstring(i), L"N"});
    knowledge::WriteMakerFile(path, source, [](const std::wstring& s) { return s; }, modMain::kDatabasePassword);
}

// Picks `folder` in the folder dialog once it shows, then presses OK.
struct FolderChoice {
    std::wstring folder;
    bool done = false;
};
BOOL CALLBACK FindBrowseDialog(HWND w, LPARAM p) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (pid == GetCurrentProcessId() && IsWindowVisible(w) && std::wstring(cls) == L"#32770" &&
        FindWindowExW(w, nullptr, L"SysTreeView32", nullptr)) {
        *reinterpret_cast<HWND*>(p) = w;
        return FALSE;
    }
    return TRUE;
}
std::wstring SelectedFolderName(HWND dialog) {
    HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
    wchar_t text[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (item.hItem) SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return text;
}
DWORD WINAPI DriveFolderDialog(void* param) {
    auto* choice = static_cast<FolderChoice*>(param);
    HWND dialog = nullptr;
    for (DWORD t0 = GetTickCount(); !dialog && GetTickCount() - t0 < 30000; Sleep(50))
        EnumWindows(FindBrowseDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return 1;
    // OK only once the folder is really selected; else Cancel, so nothing lands
    // elsewhere.  The shell fills the tree slowly on a loaded machine.
    const std::wstring leaf = fs::path(choice->folder).filename().wstring();
    for (DWORD t0 = GetTickCount(); !choice->done && GetTickCount() - t0 < 30000; Sleep(100)) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(choice->folder.c_str()));
        choice->done = SelectedFolderName(dialog) == leaf;
    }
    PostMessageW(dialog, WM_COMMAND, choice->done ? IDOK : IDCANCEL, 0);
    return 0;
}

std::wstring ControlText(HWND top, int id) {
    HWND control = testsupport::ChildById(top, id);
    wchar_t text[128] = {};
    if (control) GetWindowTextW(control, text, 128);
    return text;
}

// Closes another process's main window and waits for that process.
void CloseProgram(HWND main) {
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    win::Handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
}

class UpdateWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("MX_NGINX_PORT").empty()) GTEST_SKIP() << "needs nginx (run_with_peers.sh)";
        frmDownload& f = frmDownload::Instance();
        f.serverHost = L"127.0.0.1";
        f.serverPort = std::atol(Env("MX_NGINX_PORT").c_str());
        f.toolPath.clear();
        f.closeTool = [this] { ++toolClosed; };
        MakeKnowledgeBase(local.File(L"db.mdb"), L"2008-05-09");
        modMain::g_dbMain = dao::DBEngine::OpenDatabase(local.File(L"db.mdb"), true, false,
                                                        std::wstring(L";pwd=") + modMain::kDatabasePassword);
        DeleteFileW((vb::TempPath() + frmDownload::kPendingDatabaseName).c_str());
    }
    void TearDown() override {
        frmDownload::Instance().Unload();
        modMain::g_dbMain.reset();
    }
    void ServeVersion(const std::string& text) { WriteAll(Served("download/morvix/update/ver.txt"), text); }
    // The boxes of the tool (the folder dialog is a dialog too).
    static std::vector<testsupport::BoxRecord> ToolBoxes(const testsupport::MessageBoxAnswerer& a) {
        std::vector<testsupport::BoxRecord> boxes;
        for (const auto& b : a.Boxes())
            if (b.title == L"提示") boxes.push_back(b);
        return boxes;
    }

    testsupport::TempDir local{L"mx local"};
    int toolClosed = 0;
};

}  // namespace

TEST(UpdateWindowRules, VersionsDatesTargetsAndTheRelaunchCommand) {
    EXPECT_GT(frmDownload::CompareVersions(L"4.13", L"4.12.20080509"), 0);
    EXPECT_EQ(frmDownload::CompareVersions(L"4.12", L"4.12.20080509"), 0);
    EXPECT_LT(frmDownload::CompareVersions(L"4.12.20070101", L"4.12.20080509"), 0);
    EXPECT_EQ(frmDownload::DateValue(L"2008-05-09"), 20080509);
    EXPECT_EQ(frmDownload::DateValue(L"2008/5/9"), 20080509);
    EXPECT_LT(frmDownload::DateValue(L"2008-02-30"), 0);
    EXPECT_LT(frmDownload::DateValue(L"<html>"), 0);
    EXPECT_LT(frmDownload::DateValue(L""), 0);
    // A copy that could not be checked is no refusal: the start-up keeps the pending file.
    EXPECT_EQ(frmDownload::CheckCompleteDatabase(nullptr, L"db.mdb"), frmDownload::DatabaseCheck::NotChecked);
    EXPECT_EQ(frmDownload::ProgramTarget(L"D:\\"), L"D:\\Morvix.rar");
    EXPECT_EQ(frmDownload::ProgramTarget(L"D:\\down load"), L"D:\\down load\\Morvix.rar");

    // Quenlo runs what follows its own name; the program then sees exactly
    // "/updatemdb", also with blanks in both paths.
    std::wstring command = frmDownload::RelaunchCommand(L"C:\\Temp Dir\\", L"C:\\Program Files\\Morvix\\Morvix.exe");
    EXPECT_EQ(command, L"\"C:\\Temp Dir\\tmp_Quenlo.exe\" \"C:\\Program Files\\Morvix\\Morvix.exe\" /updatemdb");
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(command.c_str(), &argc);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[0], L"C:\\Temp Dir\\tmp_Quenlo.exe");
    EXPECT_STREQ(argv[1], L"C:\\Program Files\\Morvix\\Morvix.exe");
    EXPECT_STREQ(argv[2], L"/updatemdb");
    LocalFree(argv);
}

namespace {

// The first box of the check stays open (the answerer leaves it) until this
// timer has raised a failure of the window's download from inside it, as a
// late event of the version download would arrive; then the box is answered.
BOOL CALLBACK FindToolBox(HWND w, LPARAM p) {
    wchar_t cls[16] = {}, title[8] = {};
    GetClassNameW(w, cls, 16);
    GetWindowTextW(w, title, 8);
    if (IsWindowVisible(w) && std::wstring(cls) == L"#32770" && std::wstring(title) == L"提示")
        *reinterpret_cast<HWND*>(p) = w;
    return *reinterpret_cast<HWND*>(p) == nullptr;
}
VOID CALLBACK RaiseLateFailure(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindToolBox, reinterpret_cast<LPARAM>(&box));
    if (!box) return;
    KillTimer(nullptr, id);
    for (clsDownload* d : modDownload::Downloads)
        if (d && d->Events()) {
            long why = 4, downloadId = d->ID();
            d->Events()->DownloadFailed(why, downloadId);
        }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace

TEST_F(UpdateWindow, UpToDateShortOrHtmlVersionFileAndMissingFileEachEndWithOneMessage) {
    struct Case {
        std::string served;  // "" = no file (404)
        std::wstring text;
        UINT icon;
        bool lateFailure = false;  // the download fails once more while the answer is shown
    } cases[] = {
        {"4.12.20080509\r\n2008-05-09\r\n", L"目前已是最新版本，不需更新。  ", MB_ICONINFORMATION},
        {"4.12\n2008-05-09\n", L"目前已是最新版本，不需更新。  ", MB_ICONINFORMATION},
        {"4.12.20080509\r\n", L"服务器上的版本信息无效，无法检查更新。  ", MB_ICONINFORMATION},
        {"<!DOCTYPE html>\n<html><body>moved</body></html>\n", L"服务器上的版本信息无效，无法检查更新。  ",
         MB_ICONINFORMATION},
        {"", L"下载失败！错误代码：4.  ", MB_ICONEXCLAMATION},
        {"4.12.20080509\r\n2008-05-09\r\n", L"目前已是最新版本，不需更新。  ", MB_ICONINFORMATION, true},
        {"<!DOCTYPE html>\n<html><body>moved</body></html>\n", L"服务器上的版本信息无效，无法检查更新。  ",
         MB_ICONINFORMATION, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.served + (c.lateFailure ? " (a late failure)" : ""));
        if (c.served.empty()) fs::remove(Served("download/morvix/update/ver.txt"));
        else ServeVersion(c.served);
        testsupport::MessageBoxAnswerer answers({c.lateFailure ? 0x7FFF : IDOK});
        if (c.lateFailure) SetTimer(nullptr, 0, 20, RaiseLateFailure);
        DWORD t0 = GetTickCount();
        frmDownload::Instance().Load();
        ASSERT_TRUE(testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 10000));
        EXPECT_LT(GetTickCount() - t0, 5000u);
        auto boxes = ToolBoxes(answers);
        ASSERT_EQ(boxes.size(), 1u) << testing::PrintToString(boxes);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].icon, c.icon);
    }
    EXPECT_EQ(toolClosed, 0);
}

static VOID CALLBACK CloseUpdateWindow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    frmDownload::Instance().Unload();
}

TEST_F(UpdateWindow, ClosingDuringTheCheckEndsQuietly) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    frmDownload::Instance().serverPort = ntohs(a.sin_port);

    testsupport::MessageBoxAnswerer answers;
    SetTimer(nullptr, 0, 300, CloseUpdateWindow);
    DWORD t0 = GetTickCount();
    frmDownload::Instance().Load();  // returns once the window is closed
    EXPECT_LT(GetTickCount() - t0, 3000u);
    EXPECT_FALSE(frmDownload::Instance().Loaded());
    testsupport::PumpFor(200);
    EXPECT_TRUE(ToolBoxes(answers).empty());
    closesocket(listener);
    WSACleanup();
}

TEST_F(UpdateWindow, NewProgramReplacesTheArchiveInTheChosenFolderOnlyWhenComplete) {
    ServeVersion("4.13.1\n2009-06-01\n");  // a new program wins over a new knowledge base
    std::string archive(300000, '\0');
    for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<char>((i * 7919) >> 3);
    const std::string old = "the archive downloaded last year";
    for (bool served : {false, true}) {
        SCOPED_TRACE(served ? "served" : "missing on the server");
        if (served) WriteAll(Served("download/morvix/morvix.rar"), archive);
        else fs::remove(Served("download/morvix/morvix.rar"));
        // In the drive's root, not the temporary folder: other tests make and
        // remove folders there all the time, and Wine's folder dialog loses
        // the rest of a folder whose listing changed while it read it.
        testsupport::TempDir target(L"mx target", vb::TempPath().substr(0, 2));
        WriteAll(target.File(L"Morvix.rar"), old);

        // Yes; the folder dialog is driven from another thread (an unknown command leaves it open).
        testsupport::MessageBoxAnswerer answers({IDYES, 0x7FFF, IDOK});
        FolderChoice choice{target.Path()};
        win::Handle driver(CreateThread(nullptr, 0, DriveFolderDialog, &choice, 0, nullptr));
        frmDownload::Instance().Load();
        ASSERT_TRUE(testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 90000));
        WaitForSingleObject(driver.get(), 30000);
        EXPECT_TRUE(choice.done);
        auto boxes = ToolBoxes(answers);
        ASSERT_EQ(boxes.size(), 2u) << testing::PrintToString(boxes);
        EXPECT_EQ(boxes[0].text, L"发现新版本 v4.13.1 是否立即下载？  \n或者请访问 http://www.morvix.example/ 手动下载。    ");
        EXPECT_EQ(boxes[1].text, served ? L"下载完毕！  " : L"下载失败！错误代码：4.  ");
        EXPECT_TRUE(ReadAll(target.File(L"Morvix.rar")) == (served ? archive : old));
        EXPECT_EQ(std::distance(fs::directory_iterator(target.Path()), {}), 1) << "no partial file is left";
        if (served) {
            EXPECT_EQ(frmDownload::Instance().ProgressValue(), static_cast<long>(archive.size()));
        }
    }
}

TEST_F(UpdateWindow, ACutOffKnowledgeBaseIsReportedOnceAndNeverHandedOver) {
    ServeVersion("4.12.20080509\n2009-06-01\n");
    testsupport::TempDir made(L"mx made");
    MakeKnowledgeBase(made.File(L"db.mdb"), L"2009-06-01");
    std::string whole = ReadAll(made.File(L"db.mdb"));
    for (size_t cut : {whole.size() / 2 + 100, whole.size() - 4096}) {
        SCOPED_TRACE(cut);
        WriteAll(Served("download/morvix/update/db.zip"), whole.substr(0, cut));
        testsupport::MessageBoxAnswerer answers({IDYES, IDOK});
        frmDownload::Instance().Load();
        ASSERT_TRUE(testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 10000));
        auto boxes = ToolBoxes(answers);
        ASSERT_EQ(boxes.size(), 2u) << testing::PrintToString(boxes);
        EXPECT_EQ(boxes[0].text, L"进程数据库已更新(2009-06-01)，是否立即升级？    \n或者请访问 "
                                 L"http://www.morvix.example/ 手动下载更新包。    ");
        EXPECT_EQ(boxes[1].text, L"下载的数据库文件不完整，已保留原数据库。  ");
        EXPECT_EQ(GetFileAttributesW((vb::TempPath() + frmDownload::kPendingDatabaseName).c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(toolClosed, 0);
}

TEST_F(UpdateWindow, AHelperThatCannotBeWrittenIsReportedAndTheToolKeepsRunning) {
    ServeVersion("4.12.20080509\n2009-06-01\n");
    // A folder where the helper should go: writing it fails.
    const std::wstring helper = vb::TempPath() + frmDownload::kRelaunchName;
    DeleteFileW(helper.c_str());
    ASSERT_TRUE(CreateDirectoryW(helper.c_str(), nullptr));
    testsupport::MessageBoxAnswerer answers({IDYES, IDOK});
    frmDownload::Instance().Load();
    bool closed = testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 10000);
    RemoveDirectoryW(helper.c_str());
    ASSERT_TRUE(closed);
    auto boxes = ToolBoxes(answers);
    ASSERT_EQ(boxes.size(), 2u) << testing::PrintToString(boxes);
    EXPECT_EQ(boxes[1].text, L"无法写出重启程序 tmp_Quenlo.exe，数据库未更新。  ");
    EXPECT_EQ(toolClosed, 0);
    EXPECT_EQ(GetFileAttributesW((vb::TempPath() + frmDownload::kPendingDatabaseName).c_str()), INVALID_FILE_ATTRIBUTES);
}

namespace {

// Runs a command of cmd.exe in a process of its own and waits for it.
void RunInOtherProcess(const std::wstring& command) {
    std::wstring line = L"cmd.exe /c " + command + L" >nul 2>&1";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    win::Handle process(pi.hProcess), thread(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
}

}  // namespace

TEST_F(UpdateWindow, NewKnowledgeBaseIsInstalledByTheRelaunchedProgram) {
    frmDownload::Instance().serverPort = std::atol(Env("MX_NGINX2_PORT").c_str());  // serves db.zip slowly
    ServeVersion("4.12.20080509\r\n2009-06-01\r\n");
    testsupport::TempDir made(L"mx made");
    MakeKnowledgeBase(made.File(L"db.mdb"), L"2009-06-01", 2000);
    const std::string fresh = ReadAll(made.File(L"db.mdb"));
    WriteAll(Served("download/morvix/update/db.zip"), fresh);

    // The program to relaunch, in a folder with a blank, with its old knowledge base.
    testsupport::TempDir tool(L"mx tool");
    ASSERT_TRUE(CopyFileW((testsupport::TestBinDir() + L"\\Morvix.exe").c_str(), tool.File(L"Morvix.exe").c_str(),
                          FALSE));
    MakeKnowledgeBase(tool.File(L"db.mdb"), L"2008-05-09");
    frmDownload::Instance().toolPath = tool.File(L"Morvix.exe");
    // A longer leftover helper must not leave its tail behind.
    const std::wstring helper = vb::TempPath() + frmDownload::kRelaunchName;
    const std::string quenlo = ReadAll(testsupport::TestBinDir() + L"\\Quenlo.exe");
    WriteAll(helper, std::string(quenlo.size() + 50000, 'x'));

    testsupport::MessageBoxAnswerer answers({IDYES, IDOK});
    const DWORD t0 = GetTickCount();
    frmDownload::Instance().Load();
    // While the download runs, the helper written for the relaunch can be
    // read by others but not replaced, moved away or deleted.  (Nothing is
    // received while this thread waits for the other processes.)
    ASSERT_TRUE(testsupport::PumpUntil([] { return frmDownload::Instance().ProgressValue() > 0; }, 20000));
    ASSERT_LT(frmDownload::Instance().ProgressValue(), frmDownload::Instance().ProgressScale());
    const std::wstring q = L"\"" + helper + L"\"";
    for (const std::wstring& attempt : {L"copy /y \"" + tool.File(L"db.mdb") + L"\" " + q,
                                        L"move /y " + q + L" \"" + helper + L".old\"", L"del /f /q " + q}) {
        RunInOtherProcess(attempt);
        EXPECT_TRUE(ReadAll(helper) == quenlo) << testing::PrintToString(attempt);
    }

    ASSERT_TRUE(testsupport::PumpUntil([&] { return toolClosed > 0; }, 60000));
    const DWORD handedOver = GetTickCount();
    auto boxes = ToolBoxes(answers);
    ASSERT_EQ(boxes.size(), 2u) << testing::PrintToString(boxes);
    EXPECT_EQ(boxes[1].text, L"下载完毕！现在将要重启程序以完成数据更新。  ");
    EXPECT_FALSE(frmDownload::Instance().Loaded());
    EXPECT_TRUE(ReadAll(helper) == quenlo);

    // After Quenlo's wait the program starts with "/updatemdb" and shows the new date.
    HWND main = nullptr;
    std::wstring shown;
    for (; GetTickCount() - handedOver < 30000 && shown != L"2009-06-01"; Sleep(100)) {
        main = FindWindowW(nullptr, L" Velkaro  ");
        if (main) shown = ControlText(main, 151);  // lblMDBVersion
    }
    ASSERT_NE(main, nullptr) << "the program was not relaunched";
    EXPECT_EQ(shown, L"2009-06-01");
    // Quenlo waits five seconds before it starts the program.
    EXPECT_GE(GetTickCount() - handedOver, 4900u);
    std::printf("relaunched program showed the new knowledge base %lu ms after the hand-over (%lu ms in all)\n",
                static_cast<unsigned long>(GetTickCount() - handedOver), static_cast<unsigned long>(GetTickCount() - t0));
    CloseProgram(main);
    EXPECT_TRUE(ReadAll(tool.File(L"db.mdb")) == fresh);
    EXPECT_EQ(GetFileAttributesW((vb::TempPath() + frmDownload::kPendingDatabaseName).c_str()), INVALID_FILE_ATTRIBUTES)
        << "installed, the pending file goes";
}

TEST_F(UpdateWindow, AFailedOrCancelledKnowledgeBaseDownloadLeavesNoPendingFile) {
    frmDownload::Instance().serverPort = std::atol(Env("MX_NGINX2_PORT").c_str());  // serves db.zip slowly
    ServeVersion("4.12.20080509\n2009-06-01\n");
    testsupport::TempDir made(L"mx made");
    MakeKnowledgeBase(made.File(L"db.mdb"), L"2009-06-01", 2000);
    const std::wstring pending = vb::TempPath() + frmDownload::kPendingDatabaseName;
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "closed during the download" : "missing on the server");
        if (cancel) WriteAll(Served("download/morvix/update/db.zip"), ReadAll(made.File(L"db.mdb")));
        else fs::remove(Served("download/morvix/update/db.zip"));
        testsupport::MessageBoxAnswerer answers({IDYES, IDOK});
        frmDownload::Instance().Load();
        if (cancel) {
            ASSERT_TRUE(testsupport::PumpUntil([] { return frmDownload::Instance().ProgressValue() > 0; }, 20000));
            ASSERT_NE(GetFileAttributesW(pending.c_str()), INVALID_FILE_ATTRIBUTES) << "the download was under way";
            frmDownload::Instance().Unload();
        }
        ASSERT_TRUE(testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 20000));
        auto boxes = ToolBoxes(answers);
        ASSERT_EQ(boxes.size(), cancel ? 1u : 2u) << testing::PrintToString(boxes);
        if (!cancel) {
            EXPECT_EQ(boxes[1].text, L"下载失败！错误代码：4.  ");
        }
        EXPECT_EQ(GetFileAttributesW(pending.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(toolClosed, 0);
}

TEST_F(UpdateWindow, ALongTemporaryFolderIsWhereTheWindowWritesItsFiles) {
    // 258 characters with the backslash: longer than the window's old
    // 255-character buffer, within what every reader of the system allows.
    std::wstring folder = vb::TempPath() + L"mx long";
    while (folder.size() < 257) folder += L"\\" + std::wstring(std::min<size_t>(60, 257 - folder.size() - 1), L'd');
    ASSERT_EQ(folder.size(), 257u);
    fs::create_directories(fs::path(folder));
    std::wstring saved[2];
    const wchar_t* names[] = {L"TMP", L"TEMP"};
    for (int i = 0; i < 2; ++i) {
        saved[i].resize(32768);
        saved[i].resize(GetEnvironmentVariableW(names[i], saved[i].data(), 32768));
        SetEnvironmentVariableW(names[i], folder.c_str());
    }
    EXPECT_EQ(vb::TempPath(), folder + L"\\");
    ServeVersion("4.12.20080509\n2008-05-09\n");
    fs::remove(fs::path(frmDownload::kVersionFileName));  // a run of the old reader may have left one
    testsupport::MessageBoxAnswerer answers;
    frmDownload::Instance().Load();
    bool closed = testsupport::PumpUntil([] { return !frmDownload::Instance().Loaded(); }, 10000);
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(names[i], saved[i].empty() ? nullptr : saved[i].c_str());
    ASSERT_TRUE(closed);
    EXPECT_EQ(ReadAll(folder + L"\\" + frmDownload::kVersionFileName), "4.12.20080509\n2008-05-09\n");
    EXPECT_FALSE(fs::exists(fs::path(frmDownload::kVersionFileName))) << "nothing lands in the current folder";
    fs::remove_all(fs::path(vb::TempPath() + L"mx long"));
}

// ---- the round trip, with the program in processes of its own ----

namespace {

BOOL CALLBACK FindMainWindowOf(HWND w, LPARAM p) {
    auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t caption[32] = {};
    GetWindowTextW(w, caption, 32);
    if (pid == found->first && std::wstring(caption) == L" Velkaro  " && IsWindowEnabled(w)) found->second = w;
    return found->second == nullptr;
}
// The loaded main window of the process, waited for.
HWND WaitMainWindowOf(DWORD pid, DWORD ms) {
    std::pair<DWORD, HWND> found{pid, nullptr};
    for (DWORD t0 = GetTickCount(); !found.second && GetTickCount() - t0 < ms; Sleep(50))
        EnumWindows(FindMainWindowOf, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

// Presses Enter in the process's box that says text, once it shows.
bool AnswerBox(DWORD pid, const std::wstring& text, DWORD ms = 30000) {
    HWND box = testsupport::WaitForBoxOf(pid, ms, text);
    if (!box) return false;
    SetForegroundWindow(box);
    testsupport::PressKey(VK_RETURN);
    for (DWORD t0 = GetTickCount(); IsWindow(box) && GetTickCount() - t0 < 10000; Sleep(50)) {
    }
    return !IsWindow(box);
}

// One update as a user meets it.  The stand-in (the program, asking the
// test's server) downloads the new knowledge base, starts Quenlo and ends;
// Quenlo starts Morvix.exe of the same folder with "/updatemdb", which waits
// for the stand-in to end, installs the file and shows its date.  With
// holdMs, a box of the main window is open while the download ends and is
// answered that long after the download's last box.
void RoundTrip(DWORD holdMs) {
    testsupport::TempDir tool(L"mx round trip");
    for (const wchar_t* exe : {L"Morvix.exe", L"MorvixStandIn.exe"})
        ASSERT_TRUE(CopyFileW((testsupport::TestBinDir() + L"\\" + exe).c_str(), tool.File(exe).c_str(), FALSE));
    MakeKnowledgeBase(tool.File(L"db.mdb"), L"2008-05-09");
    std::wstring line = L"\"" + tool.File(L"MorvixStandIn.exe") + L"\"";
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    win::Handle standIn(pi.hProcess), thread(pi.hThread);
    struct Ender {  // the stand-in never outlives the test
        HANDLE process;
        ~Ender() {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
        }
    } ender{standIn.get()};
    HWND main = WaitMainWindowOf(pi.dwProcessId, 30000);
    ASSERT_NE(main, nullptr);

    HWND held = nullptr;
    if (holdMs) {
        PostMessageW(main, WM_COMMAND, frmMainMenu::mnuSettingTaskmgr2, 0);  // says whether it could restore
        held = testsupport::WaitForBoxOf(pi.dwProcessId, 15000);
        ASSERT_NE(held, nullptr);
    }
    PostMessageW(main, WM_COMMAND, frmMainMenu::mnuHelpUpdate, 0);
    ASSERT_TRUE(AnswerBox(pi.dwProcessId, L"进程数据库已更新(2009-06-01)，是否立即升级？    \n或者请访问 "
                                          L"http://www.morvix.example/ 手动下载更新包。    "));
    ASSERT_TRUE(AnswerBox(pi.dwProcessId, L"下载完毕！现在将要重启程序以完成数据更新。  "));
    if (held) {
        Sleep(holdMs);
        EXPECT_EQ(WaitForSingleObject(standIn.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the close waits for the open box";
        SetForegroundWindow(held);
        testsupport::PressKey(VK_RETURN);
    }
    ASSERT_EQ(WaitForSingleObject(standIn.get(), 60000), WAIT_OBJECT_0) << "the stand-in ended";

    HWND relaunched = nullptr;
    std::wstring shown;
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < 60000 && shown != L"2009-06-01"; Sleep(100)) {
        relaunched = FindWindowW(nullptr, L" Velkaro  ");
        shown = relaunched && IsWindowEnabled(relaunched) ? ControlText(relaunched, 151) : L"";
    }
    EXPECT_EQ(shown, L"2009-06-01") << "the relaunched program installed the new knowledge base";
    if (relaunched) CloseProgram(relaunched);
}

}  // namespace

TEST_F(UpdateWindow, EveryRoundTripInstallsTheNewKnowledgeBase) {
    ServeVersion("4.12.20080509\n2009-06-01\n");
    testsupport::TempDir made(L"mx made");
    MakeKnowledgeBase(made.File(L"db.mdb"), L"2009-06-01");
    WriteAll(Served("download/morvix/update/db.zip"), ReadAll(made.File(L"db.mdb")));
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE(run);
        RoundTrip(0);
    }
    // A box of the main window holds the close for ten seconds.
    RoundTrip(10000);
}
