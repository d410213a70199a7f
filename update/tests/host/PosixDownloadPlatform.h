#pragma once
// The download engine on POSIX sockets, for the host build: a small loop that
// delivers read, write and close notifications the way the Winsock window
// messages arrive (one read notice until the next receive, a write notice
// after the connect, a close notice once, stale notices of closed sockets
// still queued and to be ignored).
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "update/DownloadEngine.h"

class PollLoop {
public:
    // When set, a peer's close is announced while data is still unread (as
    // Winsock may), instead of after the last byte.
    bool closeEarly = false;

    long Register(int fd, std::weak_ptr<DownloadEngine> owner);
    void Unregister(int fd);
    void Rearm(int fd);        // a receive was made: the next read notice may come
    void WantWrite(int fd);    // a send would have blocked
    void RunOnce(int timeoutMs);
    bool RunUntil(const std::function<bool()>& pred, int timeoutMs);
    size_t StaleDelivered() const { return staleDelivered_; }
    unsigned GenerationOf(int fd) const {
        auto it = regs_.find(fd);
        return it == regs_.end() ? 0 : it->second.gen;
    }
    // Queues a notice as Winsock would have queued it before a close.
    void Inject(int fd, unsigned gen, long event) { queue_.push_back({fd, gen, event}); }

private:
    struct Reg {
        unsigned gen = 0;
        std::weak_ptr<DownloadEngine> owner;
        bool readArmed = true;
        bool wantWrite = false;
        bool closeSent = false;
    };
    struct Notice {
        int fd;
        unsigned gen;
        long event;
    };
    std::map<int, Reg> regs_;
    std::deque<Notice> queue_;
    unsigned nextGen_ = 0;
    size_t staleDelivered_ = 0;
};

class PosixDownloadPlatform : public DownloadPlatform {
public:
    PosixDownloadPlatform(PollLoop& loop, std::string tempDir) : loop_(loop), tempDir_(std::move(tempDir)) {}
    void Bind(std::weak_ptr<DownloadEngine> owner) { owner_ = std::move(owner); }

    bool Resolve(const std::string& host, dlcore::Ipv4& address) override;
    long Connect(const dlcore::Ipv4& address, long port) override;
    long Send(long socket, const char* data, long size) override;
    long Recv(long socket, char* data, long size) override;
    void Shutdown(long socket, bool both) override;
    void CloseSocket(long socket) override;
    bool OpenFile(const std::wstring& path, bool keepContents) override;
    bool WriteFile(const char* data, long size) override;
    long long FileSize() override;
    bool TruncateAt(long long position) override;
    void CloseFile() override;
    std::wstring MakeTempFileName() override;
    std::string ToAnsi(std::wstring_view text) override;
    std::wstring FromAnsi(std::string_view bytes) override;

private:
    PollLoop& loop_;
    std::string tempDir_;
    std::weak_ptr<DownloadEngine> owner_;
    int file_ = -1;
};

// A download object on the loop, writing temporary files into tempDir.
std::shared_ptr<DownloadEngine> MakeHostDownload(PollLoop& loop, const std::string& tempDir);
