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

}  // namespace

TEST(UpdateCommand, MenuItemAndButtonSixOpenTheUpdateWindowOnce) {
    Form();
    StopTimers();
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    // A server that accepts and never answers keeps the window in its check.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    frmDownload::Instance().serverHost = L"127.0.0.1";
    frmDownload::Instance().serverPort = ntohs(a.sin_port);

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
    closesocket(listener);
    WSACleanup();
}
