#include "update/tests/host/PosixDownloadPlatform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

long PollLoop::Register(int fd, std::weak_ptr<DownloadEngine> owner) {
    Reg r;
    r.gen = ++nextGen_;
    r.owner = std::move(owner);
    regs_[fd] = r;
    queue_.push_back({fd, r.gen, DownloadEngine::kWrite});  // as after a blocking connect
    return fd;
}

void PollLoop::Unregister(int fd) { regs_.erase(fd); }

void PollLoop::Rearm(int fd) {
    auto it = regs_.find(fd);
    if (it != regs_.end()) it->second.readArmed = true;
}

void PollLoop::WantWrite(int fd) {
    auto it = regs_.find(fd);
    if (it != regs_.end()) it->second.wantWrite = true;
}

void PollLoop::RunOnce(int timeoutMs) {
    std::deque<Notice> now;
    now.swap(queue_);
    for (const Notice& n : now) {
        auto it = regs_.find(n.fd);
        if (it == regs_.end() || it->second.gen != n.gen) {
            ++staleDelivered_;  // a notice of a closed socket: nobody takes it
            continue;
        }
        if (auto owner = it->second.owner.lock()) {
            if (owner->SocketHandle() == n.fd) owner->ProcessMessage(n.event);
        }
    }
    if (!queue_.empty()) timeoutMs = 0;

    std::vector<pollfd> fds;
    for (auto& [fd, r] : regs_) {
        short ev = 0;
        if (r.readArmed && !r.closeSent) ev |= POLLIN | POLLRDHUP;
        if (r.wantWrite) ev |= POLLOUT;
        if (ev) fds.push_back({fd, ev, 0});
    }
    if (fds.empty()) {
        if (timeoutMs > 0 && queue_.empty()) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return;
    }
    if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
    for (const pollfd& p : fds) {
        auto it = regs_.find(p.fd);
        if (it == regs_.end()) continue;
        Reg& r = it->second;
        if (p.revents & POLLOUT) {
            r.wantWrite = false;
            queue_.push_back({p.fd, r.gen, DownloadEngine::kWrite});
        }
        if (!(p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))) continue;
        char c;
        ssize_t n = recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        bool peerGone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                        (closeEarly && (p.revents & (POLLRDHUP | POLLHUP)));
        if (peerGone) {
            r.closeSent = true;
            queue_.push_back({p.fd, r.gen, DownloadEngine::kClose});
        } else if (n > 0) {
            r.readArmed = false;
            queue_.push_back({p.fd, r.gen, DownloadEngine::kRead});
        }
    }
}

bool PollLoop::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return pred();
        RunOnce(20);
    }
    return true;
}

// ---- platform ---------------------------------------------------------------------

bool PosixDownloadPlatform::Resolve(const std::string& host, dlcore::Ipv4& address) {
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1) {
        addrinfo hints{}, *res = nullptr;
        hints.ai_family = AF_INET;
        if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
        a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    }
    std::memcpy(address.data(), &a, 4);
    return true;
}

long PosixDownloadPlatform::Connect(const dlcore::Ipv4& address, long port) {
    int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd < 0) return -1;
    linger l{1, 0};
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    std::memcpy(&sa.sin_addr, address.data(), 4);
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return loop_.Register(fd, owner_);
}

long PosixDownloadPlatform::Send(long socket, const char* data, long size) {
    ssize_t n = send(static_cast<int>(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        loop_.WantWrite(static_cast<int>(socket));
        return kWouldBlock;
    }
    return kError;
}

long PosixDownloadPlatform::Recv(long socket, char* data, long size) {
    loop_.Rearm(static_cast<int>(socket));
    ssize_t n = recv(static_cast<int>(socket), data, static_cast<size_t>(size), 0);
    if (n >= 0) return static_cast<long>(n);
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kError;
}

void PosixDownloadPlatform::Shutdown(long socket, bool both) {
    shutdown(static_cast<int>(socket), both ? SHUT_RDWR : SHUT_WR);
}

void PosixDownloadPlatform::CloseSocket(long socket) {
    loop_.Unregister(static_cast<int>(socket));
    close(static_cast<int>(socket));
}

bool PosixDownloadPlatform::OpenFile(const std::wstring& path, bool keepContents) {
    CloseFile();
    file_ = open(ToAnsi(path).c_str(), O_WRONLY | O_CREAT | (keepContents ? 0 : O_TRUNC), 0644);
    return file_ >= 0;
}

bool PosixDownloadPlatform::WriteFile(const char* data, long size) {
    while (size > 0) {
        ssize_t n = write(file_, data, static_cast<size_t>(size));
        if (n <= 0) return false;
        data += n;
        size -= static_cast<long>(n);
    }
    return true;
}

long long PosixDownloadPlatform::FileSize() {
    struct stat st {};
    return fstat(file_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool PosixDownloadPlatform::TruncateAt(long long position) {
    return ftruncate(file_, position) == 0 && lseek(file_, position, SEEK_SET) == position;
}

void PosixDownloadPlatform::CloseFile() {
    if (file_ >= 0) close(file_);
    file_ = -1;
}

std::wstring PosixDownloadPlatform::MakeTempFileName() {
    static std::mt19937 rng{std::random_device{}()};
    for (;;) {
        std::string name;
        for (int i = 0; i < 8; ++i) name += static_cast<char>('a' + rng() % 26);
        std::string path = tempDir_ + "/" + name + ".tmp";
        if (access(path.c_str(), F_OK) != 0) return FromAnsi(path);
    }
}

// Test text is ASCII; anything else becomes '?'.
std::string PosixDownloadPlatform::ToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    return out;
}

std::wstring PosixDownloadPlatform::FromAnsi(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return out;
}

std::shared_ptr<DownloadEngine> MakeHostDownload(PollLoop& loop, const std::string& tempDir) {
    auto platform = std::make_unique<PosixDownloadPlatform>(loop, tempDir);
    PosixDownloadPlatform* raw = platform.get();
    auto engine = std::make_shared<DownloadEngine>(std::move(platform));
    raw->Bind(engine);
    return engine;
}
