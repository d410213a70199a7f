#pragma once
// The update window: checks the product's web server for a newer knowledge
// base or program, downloads what the user accepts, and hands a new knowledge
// base over to the relaunch helper Quenlo.  All its work starts when it is
// loaded; unloading it at any moment stops the download quietly.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Form.h"
#include "platform/win/Handle.h"
#include "update/clsDownload.h"

namespace frmDownloadIds {
enum : int { Frame1 = 100, lblDownloadText = 101, lblDownloadStatus = 102, picProgress = 103 };
}

class frmDownload : public ui::Form, private DownloadEvents {
public:
    // The process-wide update window object ("frmDownload" of the program).
    static frmDownload& Instance();

    static constexpr const wchar_t* kCaption = L"Velkaro 下载更新";
    static constexpr const wchar_t* kServerHost = L"www.morvix.example";
    static constexpr const wchar_t* kHomePage = L"http://www.morvix.example/";
    static constexpr const wchar_t* kVersionPath = L"/download/morvix/update/ver.txt";
    static constexpr const wchar_t* kDatabasePath = L"/download/morvix/update/db.zip";
    static constexpr const wchar_t* kProgramPath = L"/download/morvix/morvix.rar";
    static constexpr const wchar_t* kVersionFileName = L"_mx_ver_check._tmp.tmp";
    static constexpr const wchar_t* kPendingDatabaseName = L"_mx_db._tmp";  // PendingDatabaseFile
    static constexpr const wchar_t* kRelaunchName = L"tmp_Quenlo.exe";
    // Appended to the archive's target while it downloads.
    static constexpr const wchar_t* kPartialSuffix = L".part";

    // Where the window looks and what it relaunches; the defaults are the
    // product's server and this program.
    std::wstring serverHost = kServerHost;
    long serverPort = 80;
    std::wstring toolPath;  // empty: App.Path\App.EXEName.exe
    // Ends the tool after the relaunch helper has started (notification-area
    // icon, window hooks, all windows); without one only this window goes.
    std::function<void()> closeTool;

    // Loading runs the whole update (Form_Load); loading a loaded window does nothing.
    void Load();
    void Unload();
    bool Loaded() const { return hwnd_ != nullptr; }

    HWND Frame1 = nullptr, lblDownloadText = nullptr, lblDownloadStatus = nullptr, picProgress = nullptr;

    // ---- pure pieces, public for the tests ----
    // a minus b at the first differing part of the "."-separated whole numbers; 0 when equal.
    static long CompareVersions(const std::wstring& a, const std::wstring& b);
    // A date text ("2008-05-09", "2008/5/9") as yyyymmdd; -1 when it is no date.
    static long DateValue(const std::wstring& text);
    // The relaunch: the helper and the tool each in quotes, so the new
    // instance sees exactly "/updatemdb" whatever blanks the paths hold.
    static std::wstring RelaunchCommand(const std::wstring& tempDir, const std::wstring& tool);
    // True when the file is a whole Jet database that opens with the
    // knowledge base's password and whose every table reads to its end.
    static bool IsCompleteDatabase(const std::wstring& path);
    // The same check through a handle the caller holds (and keeps): the file
    // checked is the one the caller goes on to use, and no other program
    // can stand in the way of the check.  NotChecked when the handle could
    // not be read or copied: that is no verdict on the file.
    enum class DatabaseCheck { Complete, Incomplete, NotChecked };
    static DatabaseCheck CheckCompleteDatabase(HANDLE file, const std::wstring& name);
    // The folder and "Morvix.rar", with one backslash between.
    static std::wstring ProgramTarget(const std::wstring& folder);

    // Progress bar state: scale width and filled part (what the box shows).
    long ProgressScale() const { return progressScale_; }
    long ProgressValue() const { return progressValue_; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    enum class Check { UpToDate = 0, NewDatabase = 1, NewProgram = 2, Cancelled, Invalid };

    frmDownload() = default;
    void Form_Load();
    void Form_QueryUnload();
    void CreateControls();
    int GetTaskbarHeight();  // pixels of the screen strip below the work area
    Check CheckForUpdate();
    void StartFetch(const std::wstring& file, const std::wstring& path);
    void DownloadDatabase();
    void DownloadProgram(const std::wstring& target);
    std::wstring BrowseForFolder(const std::wstring& title);
    bool WriteRelaunchProgram();
    void Relaunch();
    void ClearProgress();
    void DiscardPartialDownload();
    bool EndFetch();  // true for the first end of the current fetch
    bool Alive() const { return hwnd_ != nullptr && !Cancelled; }
    std::wstring Url(const std::wstring& path) const;

    // RemoteFile's events.
    void Connected(long&) override {}
    void ObjectMoved(std::wstring&, long&) override {}
    void BytesReceived(long& lByteCount, long& ID) override;
    void Disconnected(long& ID) override;
    void DownloadFailed(long& Why, long& ID) override;

    std::shared_ptr<clsDownload> RemoteFile;
    std::wstring TempDir;
    int Mode = 0;  // 0 version check, 1 knowledge base, 2 program archive
    std::wstring RemoteVersion, RemoteDBVersion;
    bool Cancelled = false;
    bool Failed = false;
    bool versionRead_ = false;  // the version file has arrived and was read
    bool fetchEnded_ = false;   // the current fetch has raised its end
    bool running_ = false;      // Form_Load is on the stack
    std::wstring partialFile_;  // the download's output until it is known whole; deleted otherwise
    std::wstring programTarget_;  // where the archive goes once complete
    win::FileHandle relaunchHold_;  // tmp_Quenlo.exe, held from its writing until it has been started
    long progressScale_ = 1, progressValue_ = 0;
};
