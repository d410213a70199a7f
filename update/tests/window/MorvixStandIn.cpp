// Morvix itself, but for its update window, which asks the test's web server
// on 127.0.0.1 (MX_NGINX_PORT) instead of the product's.  The round-trip test
// runs it, beside a copy of Morvix.exe, as the instance that downloads a new
// knowledge base, relaunches Morvix.exe through Quenlo and ends.
#include <windows.h>

#include <cstdlib>

#include "mainwindow/modMain.h"
#include "platform/vb/Runtime.h"
#include "update/frmDownload.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    frmDownload& update = frmDownload::Instance();
    update.serverHost = L"127.0.0.1";
    const wchar_t* port = _wgetenv(L"MX_NGINX_PORT");
    update.serverPort = port ? std::wcstol(port, nullptr, 10) : 80;
    update.toolPath = vb::AppPath() + L"\\Morvix.exe";
    return modMain::Main();
}
