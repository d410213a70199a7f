#include "update/clsDownload.h"

#include <random>

#include "platform/vb/Runtime.h"
#include "platform/win/Text.h"
#include "update/modDownload.h"

// The engine's view of the system: Winsock sockets whose notifications come
// to the hidden window as a message of their own, and the output file.
class clsDownload::Winsock : public DownloadPlatform {
public:
    UINT message = 0;
    bool windowOk = false;

    bool Ready() override { return windowOk && modDownload::SocketWindow != nullptr; }

    bool Resolve(const std::string& host, dlcore::Ipv4& address) override {
        unsigned long a = inet_addr(host.c_str());
        if (a == INADDR_NONE && host != "255.255.255.255") {
            if (host.empty()) return false;
            hostent* he = gethostbyname(host.c_str());
            if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list[0]) return false;
            memcpy(&a, he->h_addr_list[0], 4);
        }
        memcpy(address.data(), &a, 4);
        return true;
    }

    long Connect(const dlcore::Ipv4& address, long port) override {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) return -1;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<u_short>(port));
        memcpy(&sa.sin_addr, address.data(), 4);
        UINT msg = modDownload::NextSocketMessage();
        // Linger on with time-out 0: a close resets the connection at once.
        linger l{1, 0}, back{};
        int backSize = sizeof back;
        if (setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) != 0 ||
            getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&back), &backSize) != 0 ||
            connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
            WSAAsyncSelect(s, modDownload::SocketWindow, msg, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) != 0) {
            closesocket(s);
            return -1;
        }
        message = msg;
        return static_cast<long>(s);
    }

    long Send(long socket, const char* data, long size) override {
        int n = send(static_cast<SOCKET>(socket), data, size, 0);
        if (n != SOCKET_ERROR) return n;
        return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kError;
    }

    long Recv(long socket, char* data, long size) override {
        int n = recv(static_cast<SOCKET>(socket), data, size, 0);
        if (n != SOCKET_ERROR) return n;
        return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kError;
    }

    void Shutdown(long socket, bool both) override {
        shutdown(static_cast<SOCKET>(socket), both ? SD_BOTH : SD_SEND);
    }

    void CloseSocket(long socket) override {
        // Notifications already queued carry the old message and find nobody.
        if (modDownload::SocketWindow) WSAAsyncSelect(static_cast<SOCKET>(socket), modDownload::SocketWindow, 0, 0);
        closesocket(static_cast<SOCKET>(socket));
        message = 0;
    }

    bool OpenFile(const std::wstring& path, bool keepContents) override {
        CloseFile();
        file_ = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, keepContents ? OPEN_ALWAYS : CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        return file_ != INVALID_HANDLE_VALUE;
    }

    bool WriteFile(const char* data, long size) override {
        while (size > 0) {
            DWORD written = 0;
            if (!::WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return false;
            data += written;
            size -= static_cast<long>(written);
        }
        return true;
    }

    long long FileSize() override {
        LARGE_INTEGER size{};
        return GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
    }

    bool TruncateAt(long long position) override {
        LARGE_INTEGER pos{};
        pos.QuadPart = position;
        return SetFilePointerEx(file_, pos, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
    }

    void CloseFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

    std::wstring MakeTempFileName() override { return clsDownload::MakeTempFileName(); }
    std::string ToAnsi(std::wstring_view text) override { return win::ToAnsi(text); }
    std::wstring FromAnsi(std::string_view bytes) override { return win::FromAnsi(bytes); }

    ~Winsock() override { CloseFile(); }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

clsDownload::clsDownload(std::unique_ptr<Winsock> platform)
    : DownloadEngine(std::unique_ptr<DownloadPlatform>(platform.get())), winsock_(platform.release()) {
    // Without the window no notification can arrive: the object is not
    // registered and every fetch fails with code 2.
    winsock_->windowOk = modDownload::EnsureSocketWindow();
    if (winsock_->windowOk) {
        modDownload::RegisterDownload(this);
        registered_ = true;
    }
}

std::shared_ptr<clsDownload> clsDownload::Create() {
    return std::shared_ptr<clsDownload>(new clsDownload(std::make_unique<Winsock>()));
}

clsDownload::~clsDownload() {
    ReleaseAll();
    if (registered_) modDownload::UnregisterDownload(this);
}

UINT clsDownload::SocketMessage() const { return winsock_->message; }

wchar_t clsDownload::RandomFileChar() {
    static std::mt19937 rng{std::random_device{}() ^ static_cast<unsigned>(GetTickCount())};
    std::uniform_real_distribution<double> r(0.0, 1.0);
    if (static_cast<int>(r(rng) * 3) == 0) return static_cast<wchar_t>(L'0' + static_cast<int>(r(rng) * 10));
    wchar_t c = static_cast<wchar_t>(L'A' + static_cast<int>(r(rng) * 26));
    return static_cast<int>(r(rng) * 2) == 0 ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring clsDownload::MakeTempFileName() {
    const std::wstring folder = vb::TempPath();
    if (folder.empty()) return L"";
    for (;;) {
        std::wstring name;
        for (int i = 0; i < 8; ++i) name += RandomFileChar();
        std::wstring path = folder + name + L".tmp";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return path;
    }
}
