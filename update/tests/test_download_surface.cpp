// The Win32 side of the download class: the shared hidden window and its
// window procedure, the registry of objects, notifications of closed sockets,
// releasing the object from inside its events, temporary names.  A small
// loopback server in a thread of this test plays the web server.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/helpers/TestSupport.h"
#include "update/clsDownload.h"
#include "update/modDownload.h"

namespace {

constexpr const wchar_t* kWindowName = L"QLM_WINSOCK_SUBCLASS_LABEL";

// The hidden window of this process.  FindWindow alone also finds the one of
// another test program running beside this one on the same Wine desktop
// (ctest -j: the download peers test), which made these tests fail at random.
HWND FindSocketWindow() {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"STATIC", kWindowName)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId()) return w;
    }
    return nullptr;
}

// A web server on 127.0.0.1 run on the test's own thread (Wine under an
// emulator is not safe with a second thread blocking in Winsock): Service()
// accepts, reads each request header and answers `reply` (or holds the
// connection open when `reply` is empty), then closes.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string reply) : reply_(std::move(reply)) {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        int len = sizeof sa;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        listen(listener_, 16);
        u_long nb = 1;
        ioctlsocket(listener_, FIONBIO, &nb);
        All().push_back(this);
    }
    ~LoopbackServer() {
        for (auto& c : conns_) closesocket(c.s);
        closesocket(listener_);
        std::erase(All(), this);
    }
    long Port() const { return port_; }
    std::wstring Url(const std::wstring& path = L"/file") const {
        return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
    }
    static void ServiceAll() {
        for (auto* s : All()) s->Service();
    }

private:
    struct Conn {
        SOCKET s;
        std::string got;
        bool answered = false;
    };
    static std::vector<LoopbackServer*>& All() {
        static std::vector<LoopbackServer*> all;
        return all;
    }
    void Service() {
        for (SOCKET c; (c = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;) {
            u_long nb = 1;
            ioctlsocket(c, FIONBIO, &nb);
            conns_.push_back({c, {}});
        }
        for (auto it = conns_.begin(); it != conns_.end();) {
            char buf[4096];
            int n = recv(it->s, buf, sizeof buf, 0);
            if (n > 0) it->got.append(buf, n);
            bool gone = n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
            if (!gone && !it->answered && !reply_.empty() && it->got.find("\r\n\r\n") != std::string::npos) {
                send(it->s, reply_.data(), static_cast<int>(reply_.size()), 0);
                shutdown(it->s, SD_SEND);
                it->answered = true;
            }
            if (gone) {
                closesocket(it->s);
                it = conns_.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::string reply_;
    SOCKET listener_ = INVALID_SOCKET;
    long port_ = 0;
    std::vector<Conn> conns_;
};

bool Pump(const std::function<bool()>& pred, DWORD ms) {
    return testsupport::PumpUntil([&] {
        LoopbackServer::ServiceAll();
        return pred();
    }, ms);
}

struct Events : DownloadEvents {
    std::string seq;
    std::function<void(char)> on;
    void Note(char c) {
        seq += c;
        if (on) on(c);
    }
    void Connected(long&) override { Note('C'); }
    void QuerySent(long&) override { Note('Q'); }
    void Disconnected(long&) override { Note('D'); }
    void DownloadFailed(long& why, long&) override { Note(static_cast<char>('0' + why)); }
    void BytesReceived(long&, long&) override { Note('B'); }
};

class DownloadSurface : public ::testing::Test {
protected:
    // An object reporting to `ev` that writes into a file of the test folder.
    std::shared_ptr<clsDownload> Make(Events& ev, const std::wstring& file) {
        auto d = clsDownload::Create();
        d->SetEvents(&ev);
        d->UseTempFile(false);
        d->Filename(dir.File(file));
        return d;
    }
    static void SetUpTestSuite() {
        std::wstring description;
        ASSERT_TRUE(modDownload::StartWinsock(description));
        EXPECT_FALSE(description.empty());
        EXPECT_TRUE(modDownload::StartWinsock(description)) << "a second start is a no-op";
    }
    testsupport::TempDir dir{L"mxdl"};
};

const char kHello[] = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";

TEST_F(DownloadSurface, DefaultsAndAssignmentRules) {
    auto d = clsDownload::Create();
    EXPECT_EQ(d->DownloadType(), 0);
    EXPECT_TRUE(d->UseTempFile());
    EXPECT_EQ(d->ProxyHostname(), L"localhost");
    EXPECT_EQ(d->ProxyPort(), 80);
    EXPECT_EQ(d->Port(), 80);
    EXPECT_EQ(d->PacketSize(), 1024);
    EXPECT_EQ(d->MaxDownload(), -1);
    EXPECT_EQ(d->DownloadLength(), -1);
    EXPECT_EQ(d->HTTPReply(), 0);
    EXPECT_TRUE(d->AutoRedirect());
    EXPECT_EQ(d->SocketHandle(), 0);
    d->PacketSize(0);
    EXPECT_EQ(d->PacketSize(), 1024);
    d->ResumeFrom(-5);
    EXPECT_EQ(d->ResumeFrom(), 0);
    EXPECT_EQ(d->ToBase64(L""), L"");
    EXPECT_EQ(d->ToBase64(L"a"), L"YQ==");
    EXPECT_EQ(d->ToBase64(L"ab"), L"YWI=");
    EXPECT_EQ(d->ToBase64(L"abc"), L"YWJj");
    EXPECT_EQ(d->ToBase64(L"中"), L"1tA=") << "the text's code page 936 bytes";
    EXPECT_EQ(clsDownload::FailureToString(11), L"Unknown Error!");
    EXPECT_EQ(clsDownload::FailureToString(6),
              L"Unable to create the file, specified in the Filename property.");
}

TEST_F(DownloadSurface, OneHiddenWindowForAllObjectsThatPassesOtherMessagesOn) {
    ASSERT_EQ(FindSocketWindow(), nullptr);
    auto a = clsDownload::Create();
    HWND w = FindSocketWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w, modDownload::SocketWindow);
    auto b = clsDownload::Create();
    EXPECT_EQ(FindSocketWindow(), w);
    EXPECT_EQ(modDownload::LiveCount, 2);
    EXPECT_EQ(modDownload::FindDownloadSlot(b.get()), 1);

    // Not a socket message: handled as by any static control, so log-off and
    // shutdown are never vetoed.
    EXPECT_NE(SendMessageW(w, WM_QUERYENDSESSION, 0, 0), 0);
    wchar_t text[64] = {};
    EXPECT_EQ(SendMessageW(w, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text)), 26);
    EXPECT_STREQ(text, kWindowName);
    // A notification for a socket nobody holds does nothing.
    EXPECT_EQ(SendMessageW(w, modDownload::kFirstSocketMessage, 12345, FD_CLOSE), 0);

    a.reset();
    EXPECT_EQ(FindSocketWindow(), w) << "still used by the second object";
    EXPECT_EQ(modDownload::FindFreeSlot(), 0);
    auto c = clsDownload::Create();
    EXPECT_EQ(modDownload::FindDownloadSlot(c.get()), 0) << "empty slots are reused";
    EXPECT_EQ(modDownload::SlotCount, 2);
    b.reset();
    c.reset();
    EXPECT_EQ(FindSocketWindow(), nullptr);
    EXPECT_FALSE(IsWindow(w));
    auto d = clsDownload::Create();
    EXPECT_NE(FindSocketWindow(), nullptr);
}

TEST_F(DownloadSurface, FetchURLStringKeepsTheUrlAndLowersTheHost) {
    LoopbackServer server("");
    Events ev;
    auto d = Make(ev, L"x.bin");
    std::wstring url = L"HTTP://LOCALHOST:" + std::to_wstring(server.Port()) + L"/Some/Path.TXT";
    d->FetchURLString(url);
    EXPECT_EQ(d->Hostname(), L"localhost");
    EXPECT_EQ(d->Port(), server.Port());
    EXPECT_EQ(d->URL(), url);
    EXPECT_TRUE(d->IsConnected());
    EXPECT_EQ(ev.seq, "C");
    Pump([&] { return ev.seq == "CQ"; }, 5000);
    EXPECT_EQ(ev.seq, "CQ");
    d->Disconnect();
    EXPECT_EQ(ev.seq, "CQ1");
    EXPECT_EQ(d->SocketHandle(), 0);
    EXPECT_FALSE(d->IsConnected());
}

TEST_F(DownloadSurface, DownloadIntoATemporaryFile) {
    LoopbackServer server(kHello);
    auto d = clsDownload::Create();
    Events ev;
    d->SetEvents(&ev);
    d->FetchURLString(server.Url());
    ASSERT_TRUE(Pump([&] { return ev.seq.find('D') != std::string::npos; }, 5000)) << ev.seq;
    EXPECT_EQ(ev.seq, "CQBD");
    std::wstring name = d->Filename();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ASSERT_EQ(name.size(), wcslen(temp) + 12);
    EXPECT_EQ(name.substr(0, wcslen(temp)), temp);
    EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
    for (wchar_t c : name.substr(wcslen(temp), 8)) EXPECT_TRUE(iswalnum(c)) << static_cast<int>(c);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[16];
    DWORD n = 0;
    ReadFile(h, buf, sizeof buf, &n, nullptr);
    CloseHandle(h);
    DeleteFileW(name.c_str());
    EXPECT_EQ(std::string(buf, n), "hello");

    // Names are fresh, with letters of either case and digits.
    std::wstring all;
    for (int i = 0; i < 50; ++i) all += clsDownload::MakeTempFileName();
    EXPECT_NE(all.find_first_of(L"0123456789"), std::wstring::npos);
    EXPECT_NE(all.find_first_of(L"abcdefghijklmnopqrstuvwxyz"), std::wstring::npos);
    EXPECT_NE(all.find_first_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::wstring::npos);
}

TEST_F(DownloadSurface, NotificationsQueuedForAnOldSocketAreIgnored) {
    LoopbackServer silent("");
    Events ev;
    auto d = Make(ev, L"y.bin");
    d->FetchURLString(silent.Url());
    long oldSocket = d->SocketHandle();
    UINT oldMessage = d->SocketMessage();
    d->Disconnect();
    ev.seq.clear();

    LoopbackServer hello(kHello);
    d->FetchURLString(hello.Url());
    // Winsock hands out the closed socket's number again at once; its queued
    // close must not end the new connection.
    PostMessageW(modDownload::SocketWindow, oldMessage, static_cast<WPARAM>(oldSocket), FD_CLOSE);
    PostMessageW(modDownload::SocketWindow, oldMessage, static_cast<WPARAM>(d->SocketHandle()), FD_CLOSE);
    ASSERT_TRUE(Pump([&] { return ev.seq.find('D') != std::string::npos; }, 5000));
    EXPECT_EQ(ev.seq, "CQBD");
}

TEST_F(DownloadSurface, ACloseWithAnErrorCodeIsAClose) {
    LoopbackServer silent("");
    Events ev;
    auto d = Make(ev, L"z.bin");
    d->FetchURLString(silent.Url());
    Pump([&] { return ev.seq == "CQ"; }, 5000);
    SendMessageW(modDownload::SocketWindow, d->SocketMessage(), static_cast<WPARAM>(d->SocketHandle()),
                 WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET));
    EXPECT_EQ(ev.seq, "CQ0") << "closed before a reply header: a failure";
}

TEST_F(DownloadSurface, TheHolderMayReleaseTheObjectInsideItsEvents) {
    LoopbackServer hello(kHello);
    for (char when : {'Q', 'B', 'D'}) {
        auto d = clsDownload::Create();
        std::weak_ptr<clsDownload> watch = d;
        Events ev;
        ev.on = [&](char c) {
            if (c == when) d.reset();
        };
        d->SetEvents(&ev);
        d->UseTempFile(false);
        d->Filename(dir.File(L"r.bin"));
        d->FetchURLString(hello.Url());
        Pump([&] { return watch.expired(); }, 5000);
        EXPECT_TRUE(watch.expired()) << when;
        // At once: the window goes with the last object, also from inside a notification.
        EXPECT_EQ(FindSocketWindow(), nullptr) << "the last object took the window with it";
    }
}

TEST_F(DownloadSurface, AFileThatCannotBeCreatedFailsWithCode6) {
    auto d = clsDownload::Create();
    Events ev;
    d->SetEvents(&ev);
    d->UseTempFile(false);
    d->Filename(dir.Path());  // a folder
    d->FetchURLString(L"http://127.0.0.1:1/x");
    EXPECT_EQ(ev.seq, "6");
}

}  // namespace
