// The download engine on POSIX sockets against the real peers (host build,
// with AddressSanitizer: releasing the object inside its events is checked
// for use after free here).
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "update/tests/host/PosixDownloadPlatform.h"
#include "update/tests/peers/PeerCases.h"

namespace {

class HostHarness : public PeerHarness {
public:
    PollLoop loop;

    std::shared_ptr<DownloadEngine> Make() override {
        return MakeHostDownload(loop, peers::Env("MX_TEMP"));
    }
    bool Pump(const std::function<bool()>& pred, int ms) override { return loop.RunUntil(pred, ms); }
    std::wstring LocalPath(const std::string& unixPath) override { return peers::Widen(unixPath); }
    bool ReadAll(const std::wstring& path, std::string& bytes) override {
        std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        bytes = s.str();
        return static_cast<bool>(in);
    }
    void WriteAll(const std::wstring& path, const std::string& bytes) override {
        std::ofstream(std::string(path.begin(), path.end()), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::wstring FailingWritePath() override { return L"/dev/full"; }
};

}  // namespace

PeerHarness& Harness() {
    static HostHarness h;
    return h;
}

namespace peers {

// Winsock may announce the close while data is still unread; the close
// handling takes in the rest before it judges the download.
TEST_F(Peers, CloseAnnouncedBeforeTheLastBytesStillCompletes) {
    auto& loop = static_cast<HostHarness&>(Harness()).loop;
    loop.closeEarly = true;
    for (const char* name : {"odd.bin", "mid.bin"}) {
        auto f = NewFetch();
        f->d->PacketSize(1024);
        f->d->FetchURLString(Url("MX_NGINX_PORT", std::string("/") + name));
        ASSERT_TRUE(Finish(*f));
        EXPECT_EQ(f->rec.seq.back(), "D");
        EXPECT_TRUE(FileBytes(f->file) == Served(name));
    }
    loop.closeEarly = false;
}

// Notices still queued for a closed socket reach nobody, even when the next
// socket has the same number at once.
TEST_F(Peers, NoticesOfAClosedSocketAreIgnored) {
    auto& loop = static_cast<HostHarness&>(Harness()).loop;
    auto f = NewFetch();
    f->d->FetchURLString(Url("MX_NGINX_PORT", "/mid.bin"));
    long old = f->d->SocketHandle();
    unsigned oldGen = loop.GenerationOf(static_cast<int>(old));
    f->d->Disconnect();
    EXPECT_EQ(f->rec.Joined(), "C F1 ");
    f->rec = Recorder{};
    f->d->FetchURLString(Url("MX_NGINX_PORT", "/mid.bin"));
    ASSERT_EQ(f->d->SocketHandle(), old) << "the number is reused at once";
    size_t before = loop.StaleDelivered();
    loop.Inject(static_cast<int>(old), oldGen, DownloadEngine::kClose);
    loop.Inject(static_cast<int>(old), oldGen, DownloadEngine::kRead);
    ASSERT_TRUE(Finish(*f));
    EXPECT_GE(loop.StaleDelivered(), before + 2);
    EXPECT_EQ(f->rec.Joined(), "C Q D ");
    EXPECT_TRUE(FileBytes(f->file) == Served("mid.bin"));
}

}  // namespace peers
