#pragma once
// The asynchronous HTTP/1.0 download object: the protocol engine on Winsock
// notifications delivered to modDownload's hidden window, writing with the
// Win32 file calls.  Create it with Create(); the holder keeps the
// shared_ptr and may release it from inside any of its events.
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>

#include "update/DownloadEngine.h"

using clsDownloadEvents = DownloadEvents;

class clsDownload : public DownloadEngine {
public:
    static std::shared_ptr<clsDownload> Create();
    ~clsDownload() override;

    // The notification message of the current connection (0 when none).
    UINT SocketMessage() const;
    std::shared_ptr<clsDownload> Strong() {
        return std::static_pointer_cast<clsDownload>(weak_from_this().lock());
    }

    // A fresh name of 8 letters and digits plus ".tmp" in the temporary folder.
    static std::wstring MakeTempFileName();
    static wchar_t RandomFileChar();

private:
    class Winsock;
    explicit clsDownload(std::unique_ptr<Winsock> platform);
    Winsock* winsock_;
    bool registered_ = false;
};
