#include "update/DownloadEngine.h"

#include <algorithm>
#include <climits>

using namespace dlcore;

namespace {
// One receive never asks for more than this, whatever PacketSize says.
constexpr long kMaxChunk = 1 << 20;
// Receives per read notification; data still waiting brings another one.
constexpr int kReadsPerNotification = 64;
}  // namespace

template <class F>
void DownloadEngine::Raise(F&& f) {
    if (events_) f(*events_);
}

DownloadEngine::DownloadEngine(std::unique_ptr<DownloadPlatform> platform)
    : platform_(std::move(platform)) {}

DownloadEngine::~DownloadEngine() { ReleaseAll(); }

void DownloadEngine::ReleaseAll() {
    if (HasSocket()) platform_->CloseSocket(socket_);
    socket_ = -1;
    if (fileOpen_) platform_->CloseFile();
    fileOpen_ = false;
    isConnected_ = false;
    ++fetch_;
    ClearBuffer();
}

long DownloadEngine::ReceivedBytes() const {
    long long r = received_;
    if (maxDownload_ >= 0 && r > maxDownload_) r = maxDownload_;
    return static_cast<long>(std::min<long long>(r, kMaxLong));
}

long DownloadEngine::RealReceivedBytes() const {
    return useResume_ ? ReceivedBytes() - resumeFrom_ : ReceivedBytes();
}

// ---- starting and ending a fetch ------------------------------------------------

void DownloadEngine::FetchURL() {
    auto keep = weak_from_this().lock();
    StartFetch(false);
}

void DownloadEngine::FetchURLString(const std::wstring& sURL) {
    auto keep = weak_from_this().lock();
    UrlParts parts;
    if (!ParseHttpUrl(sURL, parts)) {
        long why = kBadInput, id = id_;
        Raise([&](DownloadEvents& e) { e.DownloadFailed(why, id); });
        return;
    }
    url_ = sURL;
    hostname_ = parts.host;
    port_ = parts.port;
    StartFetch(false);
}

bool DownloadEngine::CheckSettings() {
    if (HasLineBreak(url_) || HasLineBreak(hostname_) || HasLineBreak(httpUser_) ||
        HasLineBreak(httpPass_) || !IsValidPort(port_))
        return false;
    if (proxyType_ != 0 && (HasLineBreak(proxyHostname_) || !IsValidPort(proxyPort_)))
        return false;
    if (UsesSocks()) {
        if (HasLineBreak(proxyUsername_) || HasLineBreak(proxyPassword_)) return false;
        if (platform_->ToAnsi(proxyUsername_).size() > kMaxSocksField ||
            platform_->ToAnsi(proxyPassword_).size() > kMaxSocksField ||
            platform_->ToAnsi(hostname_).size() > kMaxSocksField)
            return false;
        if (proxyType_ == 3 && (proxyAuthentication_ < 0 || proxyAuthentication_ > 255)) return false;
        if (proxyUseRemoteDNS_ && hostname_.empty()) return false;
    }
    return true;
}

void DownloadEngine::StartFetch(bool redirect) {
    // A fetch still running is superseded without an event.
    if (HasSocket()) platform_->CloseSocket(socket_);
    socket_ = -1;
    if (!redirect) {
        if (fileOpen_) platform_->CloseFile();
        fileOpen_ = false;
        redirecting_ = false;
        redirects_ = 0;
    }
    ++fetch_;
    isConnected_ = false;
    closeHandled_ = false;
    awaitingHeaders_ = true;
    headerBytes_.clear();
    headerText_.clear();
    proxyConnected_ = false;
    proxyReply_.clear();
    socksStep_ = 0;
    socksSentStep_ = -1;
    out_.clear();
    requestQueued_ = false;
    received_ = 0;
    downloadLength_ = -1;
    httpReply_ = 0;
    aborted_ = false;
    ClearBuffer();
    if (resumeFrom_ == 0) useResume_ = false;

    if (!platform_->Ready()) return EndFetch(End::Failed, kNoWindow);
    // Checked before the output file is touched: bad input loses nothing.
    if (!CheckSettings()) return EndFetch(End::Failed, kBadInput);
    if (downloadType_ == 0 && !redirect) {
        if (useTempFile_) filename_ = platform_->MakeTempFileName();
        if (!platform_->OpenFile(filename_, useResume_)) return EndFetch(End::Failed, kFileCreate);
        fileOpen_ = true;
    }
    // SOCKS4 and SOCKS5 by address carry the web server's address.
    if (UsesSocks() && !proxyUseRemoteDNS_ &&
        !platform_->Resolve(platform_->ToAnsi(hostname_), targetAddress_))
        return EndFetch(End::Failed, kConnectFailed);

    bool viaProxy = proxyType_ != 0;
    std::string host = platform_->ToAnsi(viaProxy ? proxyHostname_ : hostname_);
    long port = viaProxy ? proxyPort_ : port_;
    Ipv4 address{};
    long s = platform_->Resolve(host, address) ? platform_->Connect(address, port) : -1;
    if (s == -1) return EndFetch(End::Failed, viaProxy ? kProxyConnect : kConnectFailed);
    socket_ = s;
    isConnected_ = true;
    proxyOffered_ = proxyAuthentication_;
    if (!redirect) {
        long id = id_;
        Raise([&](DownloadEvents& e) { e.Connected(id); });
    }
}

// Every end of a fetch comes through here: notifications stop, the socket and
// the file close, and exactly one event (or none when superseded) is raised.
void DownloadEngine::EndFetch(End how, long code, long socketAfter) {
    if (HasSocket()) platform_->CloseSocket(socket_);
    socket_ = socketAfter;
    if (fileOpen_) platform_->CloseFile();
    fileOpen_ = false;
    isConnected_ = false;
    closeHandled_ = true;
    redirecting_ = false;
    awaitingHeaders_ = false;
    out_.clear();
    ++fetch_;
    long id = id_;
    switch (how) {
    case End::Complete:
        Raise([&](DownloadEvents& e) { e.Disconnected(id); });
        break;
    case End::Failed:
        Raise([&](DownloadEvents& e) { e.DownloadFailed(code, id); });
        break;
    case End::Moved: {
        std::wstring where = redirectLocation_;
        Raise([&](DownloadEvents& e) { e.ObjectMoved(where, id); });
        break;
    }
    case End::Silent:
        break;
    }
}

void DownloadEngine::Disconnect() {
    auto keep = weak_from_this().lock();
    if (!isConnected_) return;
    aborted_ = true;
    redirecting_ = false;
    platform_->Shutdown(socket_, true);
    EndFetch(End::Failed, kAborted, 0);
}

void DownloadEngine::ProcessMessage(long lParam) {
    auto keep = weak_from_this().lock();
    switch (lParam) {
    case kRead: OnRead(); break;
    case kWrite: OnWrite(); break;
    case kClose: OnClose(); break;
    default: break;
    }
}

// ---- sending ---------------------------------------------------------------------

void DownloadEngine::OnWrite() {
    if (!isConnected_) return;
    if (!out_.empty()) {
        FlushOut();
    } else if (UsesSocks() && !proxyConnected_) {
        QueueSocksPacket();
    } else {
        QueueRequest();
    }
}

SocksReply DownloadEngine::ExpectedSocksReply() const {
    if (proxyType_ == 2) return SocksReply::Socks4;
    if (socksStep_ == 0) return SocksReply::Socks5Method;
    if (socksStep_ == 1 && proxyAuthentication_ == 2) return SocksReply::Socks5Auth;
    return SocksReply::Socks5Connect;
}

void DownloadEngine::QueueSocksPacket() {
    if (socksSentStep_ == socksStep_) return;  // this step's packet is out already
    std::string user = platform_->ToAnsi(proxyUsername_);
    std::string host = platform_->ToAnsi(hostname_);
    std::string packet;
    if (proxyType_ == 2) {
        if (socksStep_ != 0) return;
        packet = proxyUseRemoteDNS_ ? Socks4aConnect(port_, user, host)
                                    : Socks4Connect(port_, targetAddress_, user);
    } else if (socksStep_ == 0) {
        packet = Socks5Greeting(proxyAuthentication_);
    } else if (socksStep_ == 1 && proxyAuthentication_ == 2) {
        packet = Socks5UserPass(user, platform_->ToAnsi(proxyPassword_));
    } else if ((socksStep_ == 1 && proxyAuthentication_ == 0) ||
               (socksStep_ == 2 && proxyAuthentication_ == 2)) {
        packet = proxyUseRemoteDNS_ ? Socks5ConnectName(host, port_)
                                    : Socks5ConnectAddress(targetAddress_, port_);
    } else {
        return;
    }
    if (packet.empty()) return EndFetch(End::Failed, kBadInput);
    socksSentStep_ = socksStep_;
    out_ = std::move(packet);
    outIsRequest_ = false;
    FlushOut();
}

void DownloadEngine::QueueRequest() {
    if (requestQueued_) return;
    requestQueued_ = true;
    RequestFields f;
    f.url = platform_->ToAnsi(url_);
    f.host = platform_->ToAnsi(hostname_);
    f.userAgentWord = kUserAgentWord;
    f.useResume = useResume_;
    f.resumeFrom = resumeFrom_;
    f.viaHttpProxy = proxyType_ == 1;
    f.allowCache = allowCache_;
    if (useHttpAuthorization_ && !(httpUser_.empty() && httpPass_.empty()))
        f.authorization = Base64(platform_->ToAnsi(httpUser_ + L":" + httpPass_));
    out_ = BuildRequest(f);
    outIsRequest_ = true;
    FlushOut();
}

// Sends what is queued; the rest waits for the next write notification.
bool DownloadEngine::FlushOut() {
    unsigned fetch = fetch_;
    while (!out_.empty()) {
        long size = static_cast<long>(std::min<size_t>(out_.size(), LONG_MAX));
        long n = platform_->Send(socket_, out_.data(), size);
        if (n == DownloadPlatform::kWouldBlock) return true;
        if (n <= 0) {
            EndFetch(End::Failed, outIsRequest_ ? kSendFailed : kProxyConnect);
            return false;
        }
        out_.erase(0, static_cast<size_t>(n));
    }
    if (outIsRequest_) {
        outIsRequest_ = false;
        long id = id_;
        Raise([&](DownloadEvents& e) { e.QuerySent(id); });
    }
    return fetch == fetch_;
}

// ---- receiving -------------------------------------------------------------------

long DownloadEngine::RecvChunk() const { return std::min(packetSize_, kMaxChunk); }

void DownloadEngine::OnRead() {
    if (!isConnected_) return;
    unsigned fetch = fetch_;
    for (int i = 0; i < kReadsPerNotification; ++i) {
        long want = RecvChunk();
        if (chunk_.size() < static_cast<size_t>(want)) chunk_.resize(want);
        long n = platform_->Recv(socket_, chunk_.data(), want);
        if (n <= 0) return;
        if (UsesSocks() && !proxyConnected_) {
            proxyReply_.append(chunk_.data(), n);
            if (!TakeProxyReply()) return;
            // The handshake is one reply per notification; the HTTP reply comes later.
            return;
        }
        if (!TakeData(chunk_.data(), n) || fetch != fetch_) return;
        // A short read usually drained the socket; the next receive tells (and
        // saves a notification round trip when more has arrived meanwhile).
    }
}

void DownloadEngine::OnClose() {
    if (closeHandled_ || !isConnected_) return;
    unsigned fetch = fetch_;
    platform_->Shutdown(socket_, false);
    // Take in what is still waiting.
    for (;;) {
        long want = RecvChunk();
        if (chunk_.size() < static_cast<size_t>(want)) chunk_.resize(want);
        long n = platform_->Recv(socket_, chunk_.data(), want);
        if (n <= 0) break;
        bool going = true;
        if (UsesSocks() && !proxyConnected_) {
            proxyReply_.append(chunk_.data(), n);
            going = TakeProxyReply();
        } else {
            going = TakeData(chunk_.data(), n);
        }
        if (!going || fetch != fetch_) return;
    }
    if (fetch != fetch_) return;
    if (aborted_) return EndFetch(End::Failed, kAborted);
    // Closed before the proxy granted the connection or before a whole reply header.
    if ((UsesSocks() && !proxyConnected_) || awaitingHeaders_)
        return EndFetch(End::Failed, kClosedEarly);
    long got = ReceivedBytes();
    bool incomplete = downloadLength_ != -1 && got != downloadLength_ &&
                      (maxDownload_ < 0 || got < maxDownload_);
    if (incomplete) return EndFetch(End::Failed, kClosedEarly);
    EndFetch(End::Complete);
}

// Acts on the proxy's replies collected so far; false once the fetch ended.
bool DownloadEngine::TakeProxyReply() {
    unsigned fetch = fetch_;
    while (!proxyConnected_) {
        if (proxyReply_.size() < 2) return true;
        uint8_t verdict = static_cast<uint8_t>(proxyReply_[1]);
        SocksReply kind = ExpectedSocksReply();
        switch (kind) {
        case SocksReply::Socks4:
            if (verdict != 90) return EndFetch(End::Failed, kProxyRefused), false;
            break;
        case SocksReply::Socks5Method:
            if (verdict != 0 && !(verdict == 2 && proxyOffered_ == 2))
                return EndFetch(End::Failed, kProxyMethod), false;
            break;
        case SocksReply::Socks5Auth:
            if (verdict != 0) return EndFetch(End::Failed, kProxyAuth), false;
            break;
        case SocksReply::Socks5Connect:
            if (verdict != 0) return EndFetch(End::Failed, kProxyRefused), false;
            break;
        }
        long need = SocksReplyLength(kind, proxyReply_);
        if (need < 0) return EndFetch(End::Failed, kProxyRefused), false;
        if (need == 0 || proxyReply_.size() < static_cast<size_t>(need)) return true;
        proxyReply_.erase(0, static_cast<size_t>(need));
        if (kind == SocksReply::Socks5Method) proxyAuthentication_ = verdict;
        if (kind == SocksReply::Socks4 || kind == SocksReply::Socks5Connect) proxyConnected_ = true;
        ++socksStep_;
        OnWrite();  // the next packet, or the request once connected
        if (fetch != fetch_ || !isConnected_) return false;
    }
    if (!proxyReply_.empty()) {
        std::string early = std::move(proxyReply_);
        proxyReply_.clear();
        return TakeData(early.data(), static_cast<long>(early.size()));
    }
    return true;
}

// Header bytes until the empty line, body after it; false once the fetch ended
// or moved on to a redirect.
bool DownloadEngine::TakeData(const char* data, long size) {
    if (!awaitingHeaders_) return WriteReceivedData(data, size);
    unsigned fetch = fetch_;
    size_t from = headerBytes_.size() >= 3 ? headerBytes_.size() - 3 : 0;
    headerBytes_.append(data, static_cast<size_t>(size));
    size_t end = FindHeaderEnd(headerBytes_, from);
    if (end == std::string::npos) {
        if (headerBytes_.size() > kMaxHeaderBytes) return EndFetch(End::Failed, kUnusableHeader), false;
        return true;
    }
    if (end > kMaxHeaderBytes) return EndFetch(End::Failed, kUnusableHeader), false;
    std::string body = headerBytes_.substr(end);
    headerBytes_.resize(end);
    awaitingHeaders_ = false;
    ParseReplyHeaders();
    if (fetch != fetch_ || !isConnected_) return false;
    // A body of length 0 (or a part already complete) is complete with its header.
    if (downloadLength_ >= 0 && received_ >= downloadLength_) {
        EndFetch(End::Complete);
        return false;
    }
    if (body.empty()) return true;
    return WriteReceivedData(body.data(), static_cast<long>(body.size()));
}

void DownloadEngine::ParseReplyHeaders() {
    redirecting_ = false;
    redirectLocation_.clear();
    ReplyHeader r = ParseReplyHeader(headerBytes_);
    headerText_ = platform_->FromAnsi(headerBytes_);
    redirectLocation_ = platform_->FromAnsi(r.location);
    httpReply_ = r.status;
    long long start = useResume_ ? resumeFrom_ : 0;
    switch (httpReply_) {
    case 200:
        if (r.contentLengthBad) return EndFetch(End::Failed, kUnusableHeader);
        useResume_ = false;
        downloadLength_ = static_cast<long>(r.contentLength);
        // The whole file comes again: start it afresh, without stale bytes.
        if (downloadType_ == 0 && !platform_->TruncateAt(0)) return EndFetch(End::Failed, kFileWrite);
        return;
    case 206:
        // Only a part that continues the file exactly where it stops and runs
        // to the file's end can be written: the range must be stated and
        // readable, start at the resume point, end at its total, and agree
        // with the length.  Anything else fails before the file is touched.
        if (r.contentLengthBad || !r.rangePresent || r.rangeBad || r.rangeStart != start ||
            (r.rangeTotal >= 0 && r.rangeEnd + 1 != r.rangeTotal) ||
            (r.contentLength >= 0 && r.contentLength != r.rangeEnd - r.rangeStart + 1))
            return EndFetch(End::Failed, kUnusableHeader);
        downloadLength_ = static_cast<long>(r.rangeEnd + 1);
        received_ = start;
        if (downloadType_ == 0) {
            // The rest only fits behind a file that holds the first part.
            if (platform_->FileSize() < start) return EndFetch(End::Failed, kUnusableHeader);
            if (!platform_->TruncateAt(start)) return EndFetch(End::Failed, kFileWrite);
        }
        return;
    case 301:
    case 302:
        if (!redirectLocation_.empty()) {
            if (autoRedirect_) return FollowRedirect();
            return EndFetch(End::Moved);
        }
        break;
    default:
        break;
    }
    EndFetch(End::Failed, kBadReply);
}

void DownloadEngine::FollowRedirect() {
    if (++redirects_ > kMaxRedirects) return EndFetch(End::Failed, kBadReply);
    std::wstring base = url_;
    UrlParts parts;
    if (!ParseHttpUrl(base, parts)) {
        // URL set by hand without scheme and host: relative to the server in use.
        base = L"http://" + hostname_ + L":" + std::to_wstring(port_) +
               (!url_.empty() && url_[0] == L'/' ? url_ : L"/");
    }
    std::wstring next;
    if (!ResolveLocation(base, redirectLocation_, next) || !ParseHttpUrl(next, parts))
        return EndFetch(End::Failed, kBadReply);
    url_ = next;
    hostname_ = parts.host;
    port_ = parts.port;
    redirecting_ = true;
    StartFetch(true);
}

bool DownloadEngine::WriteReceivedData(const char* data, long count) {
    unsigned fetch = fetch_;
    long long n = count;
    // Bytes past the stated length are no part of the body.
    if (downloadLength_ >= 0 && received_ + n > downloadLength_) n = downloadLength_ - received_;
    if (maxDownload_ >= 0 && received_ + n >= maxDownload_) n = maxDownload_ - received_;
    if (n < 1) {
        EndFetch(End::Complete);
        return false;
    }
    received_ += n;
    if (downloadType_ == 0) {
        if (!fileOpen_ || !platform_->WriteFile(data, static_cast<long>(n)))
            return EndFetch(End::Failed, kFileWrite), false;
    } else {
        buffer_.insert(buffer_.end(), data, data + n);
    }
    long total = ReceivedBytes(), id = id_;
    Raise([&](DownloadEvents& e) { e.BytesReceived(total, id); });
    if (fetch != fetch_ || !isConnected_) return false;
    // The whole body, or the cap: done without waiting for the server to close.
    if ((downloadLength_ >= 0 && received_ >= downloadLength_) ||
        (maxDownload_ >= 0 && received_ >= maxDownload_)) {
        EndFetch(End::Complete);
        return false;
    }
    return true;
}

// ---- buffer and Base64 -------------------------------------------------------------

long DownloadEngine::GetBuffer(std::vector<uint8_t>& buffer) {
    if (buffer_.empty()) return 0;
    buffer = buffer_;
    return static_cast<long>(buffer_.size());
}

std::wstring DownloadEngine::GetBufferAsString() {
    if (buffer_.empty()) return L"";
    std::wstring text = platform_->FromAnsi(
        std::string_view(reinterpret_cast<const char*>(buffer_.data()), buffer_.size()));
    if (text.size() > buffer_.size()) text.resize(buffer_.size());
    return text;
}

void DownloadEngine::ClearBuffer() {
    buffer_.clear();
    buffer_.shrink_to_fit();
}

std::wstring DownloadEngine::TripletToQuartet(const std::vector<uint8_t>& bIn, long lStart) {
    if (lStart < 0) return L"";
    return dlcore::TripletToQuartet(bIn.data(), bIn.size(), static_cast<size_t>(lStart));
}

std::wstring DownloadEngine::ToBase64(const std::wstring& sNormString) {
    std::string b64 = Base64(platform_->ToAnsi(sNormString));
    return std::wstring(b64.begin(), b64.end());
}
