// The update command: the help menu's "检查更新" and toolbar button 6 open the
// update window, and a second open while it is up adds nothing.
#include <winsock2.h>

#include "test_listview_fixture.h"
#include "update/frmDownload.h"

using namespace frmMainMenu;
using namespace mwtest;

namespace {

int g_updateWindows = -1;

int CountUpdateWindows() {
    int n = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"MorvixDownload", nullptr); w;
         w = FindWindowExW(nullptr, w, L"MorvixDownload", nullptr))
        if (IsWindowVisible(w)) ++n;
    return n;
}

// Runs while the update window waits for the server.
VOID CALLBACK WhileChecking(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    SendMessageW(Form().Hwnd(), WM_COMMAND, mnuHelpUpdate, 0);  // each returns at once
    Form().lblButton_Click(6);
    g_updateWindows = CountUpdateWindows();
    frmDownload::Instance().Unload();
}

VOID CALLBACK CloseTheTool(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageW(Form().Hwnd(), WM_CLOSE, 0, 0);
}
// Ends a check that nothing else ends, so a fault fails the test instead of hanging it.
VOID CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    frmDownload::Instance().Unload();
}

// A server that accepts and never answers: the update window's check waits on it.
class SilentServer {
public:
    SilentServer() {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 4);
        int len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer() {
        closesocket(listener_);
        WSACleanup();
    }
    int Port() const { return port_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
};

}  // namespace

TEST(UpdateCommand, MenuItemAndButtonSixOpenTheUpdateWindowOnce) {
    Form();
    StopTimers();
    SilentServer server;
    frmDownload::Instance().serverHost = L"127.0.0.1";
    frmDownload::Instance().serverPort = server.Port();

    testsupport::MessageBoxAnswerer none;
    for (bool menu : {true, false}) {
        SCOPED_TRACE(menu ? "menu" : "button 6");
        g_updateWindows = -1;
        SetTimer(nullptr, 0, 300, WhileChecking);
        if (menu) SendMessageW(Form().Hwnd(), WM_COMMAND, mnuHelpUpdate, 0);
        else Form().lblButton_Click(6);
        EXPECT_EQ(g_updateWindows, 1);
        EXPECT_FALSE(frmDownload::Instance().Loaded());
    }
    EXPECT_TRUE(none.Boxes().empty());
}

// Last: the main window goes.  Closing it while the update window waits for
// a silent server ends the check quietly, and then both windows go.
TEST(UpdateCommand, ClosingTheToolDuringTheCheckEndsItQuietly) {
    Form();
    StopTimers();
    SilentServer server;
    frmDownload::Instance().serverHost = L"127.0.0.1";
    frmDownload::Instance().serverPort = server.Port();
    testsupport::MessageBoxAnswerer none;
    SetTimer(nullptr, 0, 300, CloseTheTool);
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 8000, Watchdog);
    // The command runs inside the loop, as a user's click does; the close
    // then waits for the outermost loop.
    const DWORD start = GetTickCount();
    PostMessageW(Form().Hwnd(), WM_COMMAND, mnuHelpUpdate, 0);
    EXPECT_TRUE(Pump([] { return frmMain::Instance().Hwnd() == nullptr; }, 10000)) << "the main window closes";
    EXPECT_LT(GetTickCount() - start, 3000u) << "the close had to wait for the check";
    KillTimer(nullptr, watchdog);
    EXPECT_FALSE(frmDownload::Instance().Loaded());
    EXPECT_TRUE(none.Boxes().empty());
}
