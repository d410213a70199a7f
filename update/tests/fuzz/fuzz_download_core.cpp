// libFuzzer target for the download class without sockets.  The parsers
// alone (reply header, URL, redirect target, SOCKS replies) must never read
// out of bounds or overflow; and the whole engine, fed the same bytes as a
// server's (or proxy's) reply in pieces, must end each fetch exactly once and
// never report a file it did not write right:
//  - failure 4 or 13 (a reply refused at its header) leaves the file as it was;
//  - a download that ends as complete holds DownloadLength bytes when the
//    length is known, and a resumed one keeps the bytes before ResumeFrom.
// The first four bytes choose the settings (proxy, resume point, existing
// file, piece size, byte cap); the rest is what the peer sends.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "update/DownloadCore.h"
#include "update/DownloadEngine.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// One peer whose bytes arrive in pieces, and an output file in memory.
class ScriptPlatform : public DownloadPlatform {
public:
    std::string incoming;
    std::size_t pos = 0, available = 0;
    bool eof = false;
    std::string file;
    std::size_t filePos = 0;
    bool fileOpen = false;
    long open = -1, next = 100;

    bool Resolve(const std::string&, dlcore::Ipv4& address) override {
        address = {127, 0, 0, 1};
        return true;
    }
    long Connect(const dlcore::Ipv4&, long) override { return open = next++; }
    long Send(long socket, const char*, long size) override { return socket == open ? size : kError; }
    long Recv(long socket, char* data, long size) override {
        if (socket != open) return kError;
        if (available == 0) return eof ? 0 : kWouldBlock;
        std::size_t n = std::min<std::size_t>(std::size_t(size), available);
        std::memcpy(data, incoming.data() + pos, n);
        pos += n;
        available -= n;
        return long(n);
    }
    void Shutdown(long, bool) override {}
    void CloseSocket(long socket) override {
        if (socket == open) open = -1;
    }
    bool OpenFile(const std::wstring&, bool keepContents) override {
        if (!keepContents) file.clear();
        filePos = 0;
        fileOpen = true;
        return true;
    }
    bool WriteFile(const char* data, long size) override {
        Check(fileOpen && size > 0);
        if (filePos + std::size_t(size) > file.size()) file.resize(filePos + std::size_t(size));
        std::memcpy(&file[filePos], data, std::size_t(size));
        filePos += std::size_t(size);
        return true;
    }
    long long FileSize() override { return static_cast<long long>(file.size()); }
    bool TruncateAt(long long position) override {
        file.resize(std::size_t(position));
        filePos = std::size_t(position);
        return true;
    }
    void CloseFile() override { fileOpen = false; }
    std::wstring MakeTempFileName() override { return L"out.tmp"; }
    std::string ToAnsi(std::wstring_view text) override {
        std::string out;
        for (wchar_t c : text) out.push_back(char(c));
        return out;
    }
    std::string lastHeader;  // the engine turns each whole reply header into text here
    std::wstring FromAnsi(std::string_view bytes) override {
        if (dlcore::FindHeaderEnd(bytes) == bytes.size()) lastHeader = bytes;
        std::wstring out;
        for (char c : bytes) out.push_back(wchar_t(std::uint8_t(c)));
        return out;
    }
};

struct Ends : DownloadEvents {
    int count = 0;
    bool complete = false;
    long code = -1;
    void Disconnected(long&) override { ++count, complete = true; }
    void DownloadFailed(long& why, long&) override { ++count, code = why; }
    void ObjectMoved(std::wstring&, long&) override { ++count; }
};

void Parsers(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t end = dlcore::FindHeaderEnd(bytes);
    dlcore::ReplyHeader r = dlcore::ParseReplyHeader(end == std::string::npos ? bytes : bytes.substr(0, end));
    Check(r.contentLength <= dlcore::kMaxLong);
    if (r.rangePresent && !r.rangeBad)
        Check(0 <= r.rangeStart && r.rangeStart <= r.rangeEnd && r.rangeEnd < dlcore::kMaxLong &&
              (r.rangeTotal == -1 || r.rangeEnd < r.rangeTotal));

    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    dlcore::UrlParts parts;
    if (dlcore::ParseHttpUrl(text, parts)) Check(dlcore::IsValidPort(parts.port) && !parts.host.empty());
    std::wstring out;
    if (dlcore::ResolveLocation(L"http://h:8080/a/b?c", text, out)) Check(dlcore::ParseHttpUrl(out, parts));
    std::wstring line = text;
    while (!line.empty()) dlcore::SplitFirstLine(line);
    for (auto kind : {dlcore::SocksReply::Socks4, dlcore::SocksReply::Socks5Method,
                      dlcore::SocksReply::Socks5Auth, dlcore::SocksReply::Socks5Connect})
        dlcore::SocksReplyLength(kind, bytes);
    dlcore::Base64(bytes);
}

void Engine(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    const std::uint8_t mode = data[0], piece = data[1], resumeAt = data[2], extra = data[3];
    auto owned = std::make_unique<ScriptPlatform>();
    ScriptPlatform& peer = *owned;
    auto d = std::make_shared<DownloadEngine>(std::move(owned));
    Ends ends;
    d->SetEvents(&ends);

    d->ProxyType(mode & 3);
    d->ProxyHostname(L"proxy.example");
    d->ProxyPort(1080);
    d->ProxyUseRemoteDNS((mode & 4) != 0);
    d->ProxyAuthentication((mode & 16) ? 2 : 0);
    d->ProxyUsername(L"user");
    d->ProxyPassword(L"secret");
    d->AutoRedirect((mode & 32) != 0);
    d->UseTempFile(false);
    d->Filename(L"out.bin");
    if (mode & 64) d->MaxDownload(long(extra) * 16);
    d->PacketSize(1 + (piece & 31));
    const bool resume = (mode & 8) != 0;
    const long from = long(resumeAt) * 8;
    if (resume) {
        d->UseResume(true);
        d->ResumeFrom(from);
        // An existing file a little shorter or longer than the resume point.
        peer.file.assign(std::size_t(std::max(0L, from - 8 + long(extra & 15))), 'E');
    }
    const std::string before = resume && from > 0 ? peer.file : std::string();
    peer.incoming.assign(reinterpret_cast<const char*>(data + 4), size - 4);

    d->FetchURLString(L"http://host.example:8080/file.bin");
    const std::size_t step = 1 + piece;
    while (peer.pos < peer.incoming.size() && d->IsConnected()) {
        d->ProcessMessage(DownloadEngine::kWrite);
        peer.available = std::min(step, peer.incoming.size() - peer.pos);
        d->ProcessMessage(DownloadEngine::kRead);
        if (peer.available != 0) break;  // the engine stopped reading
    }
    peer.available = 0;
    peer.eof = true;
    d->ProcessMessage(DownloadEngine::kClose);
    d->ProcessMessage(DownloadEngine::kClose);  // a second close changes nothing

    Check(ends.count == 1);
    Check(!d->IsConnected() && !peer.fileOpen);
    if (ends.code == dlcore::kBadReply || ends.code == dlcore::kUnusableHeader) Check(peer.file == before);
    if (ends.complete && d->MaxDownload() < 0 && d->DownloadLength() >= 0)
        Check(peer.file.size() == std::size_t(d->DownloadLength()));
    if (ends.complete && d->HTTPReply() == 206) {
        // The part continues the file exactly: its range starts at the resume
        // point and runs to its total, and the bytes before it are kept.
        const long start = resume ? from : 0;
        dlcore::ReplyHeader h = dlcore::ParseReplyHeader(peer.lastHeader);
        Check(h.rangePresent && !h.rangeBad && h.rangeStart == start);
        Check(d->DownloadLength() == h.rangeEnd + 1 && (h.rangeTotal < 0 || h.rangeTotal == h.rangeEnd + 1));
        Check(peer.file.compare(0, std::size_t(start), before, 0, std::size_t(start)) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Parsers(data, size);
    Engine(data, size);
    return 0;
}
