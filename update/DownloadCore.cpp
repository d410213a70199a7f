#include "update/DownloadCore.h"

namespace dlcore {

namespace {

template <class Ch>
Ch AsciiLower(Ch c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<Ch>(c - 'A' + 'a') : c;
}

std::wstring LowerAscii(std::wstring_view s) {
    std::wstring out(s);
    for (auto& c : out) c = AsciiLower(c);
    return out;
}

template <class Str>
Str TrimBlanks(Str s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// A whole non-negative decimal number no larger than `max`; -1 otherwise.
template <class Str>
long long ParseDecimal(Str s, long long max) {
    if (s.empty()) return -1;
    long long v = 0;
    for (auto c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        if (v > max) return -1;
    }
    return v;
}

bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(s[i]) != prefix[i]) return false;
    return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(s[i]) != prefix[i]) return false;
    return true;
}

template <class Str>
Str SplitLine(Str& text) {
    size_t p = text.find(typename Str::value_type('\r'));
    while (p != Str::npos && (p + 1 >= text.size() || text[p + 1] != '\n'))
        p = text.find(typename Str::value_type('\r'), p + 1);
    if (p == Str::npos) {
        Str all = std::move(text);
        text.clear();
        return all;
    }
    Str line = text.substr(0, p);
    text.erase(0, p + 2);
    return line;
}

void PutPort(std::string& out, long port) {
    out.push_back(static_cast<char>((port >> 8) & 0xFF));
    out.push_back(static_cast<char>(port & 0xFF));
}

bool FitsSocksField(std::string_view s) {
    return s.size() <= kMaxSocksField && s.find('\0') == std::string_view::npos;
}

// "bytes a-b/c" or "bytes a-b/*", with a <= b < c; every number a Long.
bool ParseContentRange(std::string_view value, long long& start, long long& end, long long& total) {
    if (!StartsWithNoCase(value, "bytes") || value.size() < 6 || (value[5] != ' ' && value[5] != '\t'))
        return false;
    std::string_view rest = TrimBlanks(value.substr(5));
    size_t dash = rest.find('-'), slash = rest.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
    start = ParseDecimal(rest.substr(0, dash), kMaxLong);
    end = ParseDecimal(rest.substr(dash + 1, slash - dash - 1), kMaxLong);
    std::string_view complete = rest.substr(slash + 1);
    total = complete == "*" ? -1 : ParseDecimal(complete, kMaxLong);
    // The end's successor is a length too, so it must be a Long as well.
    if (start < 0 || end < start || end >= kMaxLong || (complete != "*" && (total < 0 || end >= total)))
        return false;
    return true;
}

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::wstring FailureToString(long code) {
    switch (code) {
    case 0: return L"The connection with the proxy or host has been closed, before downloading the entire file.";
    case 1: return L"The download has been aborted by the user.";
    case 2: return L"Unable to create a necessary window.";
    case 3: return L"Unable to send data to the host or proxy";
    case 4: return L"The server didn't reply with a 200 or 206 reply code.";
    case 5: return L"Unable to connect to the host.";
    case 6: return L"Unable to create the file, specified in the Filename property.";
    case 7: return L"Unable to connect to the proxy or unable to send data to it.";
    case 8: return L"The connection request has failed or the proxy server has rejected it.";
    case 9: return L"The selected authentication method was not accepted by the proxy.";
    case 10: return L"The user/password combination was not accepted by the proxy.";
    case 12: return L"Unable to write to the file, specified in the Filename property.";
    case 13: return L"The server's reply header is too large or states a length that cannot be used.";
    default: return L"Unknown Error!";
    }
}

std::wstring SplitFirstLine(std::wstring& text) { return SplitLine(text); }
std::string SplitFirstLine(std::string& text) { return SplitLine(text); }

bool HasLineBreak(std::wstring_view text) {
    return text.find_first_of(std::wstring_view(L"\r\n\0", 3)) != std::wstring_view::npos;
}

bool IsValidPort(long port) { return port >= 1 && port <= 65535; }

bool ParseHttpUrl(std::wstring_view url, UrlParts& out) {
    if (HasLineBreak(url)) return false;
    std::wstring work = LowerAscii(url);
    size_t sep = work.find(L"://");
    if (sep == std::wstring::npos || work.compare(0, sep, L"http") != 0) return false;
    size_t start = sep + 3;
    size_t end = work.find_first_of(L"/?#", start);
    if (end == std::wstring::npos) end = work.size();
    std::wstring hostPort = work.substr(start, end - start);
    long port = 80;
    size_t colon = hostPort.find(L':');
    if (colon != std::wstring::npos) {
        long long p = ParseDecimal(std::wstring_view(hostPort).substr(colon + 1), 65535);
        if (p < 1) return false;
        port = static_cast<long>(p);
        hostPort.resize(colon);
    }
    if (hostPort.empty()) return false;
    out.host = std::move(hostPort);
    out.port = port;
    return true;
}

bool ResolveLocation(std::wstring_view base, std::wstring_view location, std::wstring& out) {
    std::wstring loc(TrimBlanks(location));
    if (loc.empty() || HasLineBreak(loc)) return false;
    // A fragment is never sent.
    if (size_t hash = loc.find(L'#'); hash != std::wstring::npos) loc.resize(hash);
    UrlParts parts;
    if (StartsWithNoCase(std::wstring_view(loc), L"http://")) {
        out = loc;
        return ParseHttpUrl(out, parts);
    }
    size_t delim = loc.find_first_of(L"/?#");
    size_t colon = loc.find(L':');
    if (colon != std::wstring::npos && (delim == std::wstring::npos || colon < delim))
        return false;  // another scheme (https:, ftp:, mailto: ...)
    if (!ParseHttpUrl(base, parts)) return false;
    if (loc.compare(0, 2, L"//") == 0) {
        out = L"http:" + loc;
        return ParseHttpUrl(out, parts);
    }
    std::wstring_view b = base;
    if (size_t cut = b.find_first_of(L"?#"); cut != std::wstring_view::npos) b = b.substr(0, cut);
    size_t hostStart = b.find(L"://") + 3;
    size_t pathStart = b.find(L'/', hostStart);
    std::wstring origin(b.substr(0, pathStart == std::wstring_view::npos ? b.size() : pathStart));
    if (loc.empty()) {
        out = std::wstring(b);
    } else if (loc[0] == L'/') {
        out = origin + loc;
    } else if (loc[0] == L'?') {
        out = std::wstring(b) + loc;
    } else if (pathStart == std::wstring_view::npos) {
        out = origin + L"/" + loc;
    } else {
        size_t lastSlash = b.rfind(L'/');
        out = std::wstring(b.substr(0, lastSlash + 1)) + loc;
    }
    return ParseHttpUrl(out, parts);
}

size_t FindHeaderEnd(std::string_view data, size_t from) {
    size_t p = data.find("\r\n\r\n", from);
    return p == std::string_view::npos ? std::string_view::npos : p + 4;
}

ReplyHeader ParseReplyHeader(std::string_view header) {
    ReplyHeader r;
    std::string text(header);
    std::string statusLine = SplitFirstLine(text);
    while (!text.empty()) {
        std::string line = SplitFirstLine(text);
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        for (auto& c : key) c = AsciiLower(c);
        std::string_view value = TrimBlanks(std::string_view(line).substr(colon + 1));
        if (key == "content-length") {
            long long v = ParseDecimal(value, kMaxLong);
            if (v < 0 || (r.contentLength >= 0 && v != r.contentLength))
                r.contentLengthBad = true;
            else
                r.contentLength = v;
        } else if (key == "location") {
            r.location = std::string(value);
        } else if (key == "content-range") {
            long long start = -1, end = -1, total = -1;
            bool good = ParseContentRange(value, start, end, total);
            // A repeated range must say the same.
            if (!good || (r.rangePresent && (start != r.rangeStart || end != r.rangeEnd || total != r.rangeTotal)))
                r.rangeBad = true;
            r.rangePresent = true;
            r.rangeStart = start;
            r.rangeEnd = end;
            r.rangeTotal = total;
        }
    }
    size_t first = statusLine.find(' ');
    size_t second = first == std::string::npos ? std::string::npos : statusLine.find(' ', first + 1);
    if (second == std::string::npos || second == first + 1) {
        r.status = 999;
    } else {
        long long code = ParseDecimal(std::string_view(statusLine).substr(first + 1, second - first - 1), 999);
        r.status = code < 0 ? 999 : static_cast<long>(code);
    }
    return r;
}

std::string Socks4Connect(long port, const Ipv4& address, std::string_view userId) {
    if (!FitsSocksField(userId)) return {};
    std::string p{4, 1};
    PutPort(p, port);
    p.append(reinterpret_cast<const char*>(address.data()), 4);
    p.append(userId);
    p.push_back('\0');
    return p;
}

std::string Socks4aConnect(long port, std::string_view userId, std::string_view host) {
    if (!FitsSocksField(userId) || !FitsSocksField(host) || host.empty()) return {};
    std::string p{4, 1};
    PutPort(p, port);
    p.append({0, 0, 0, 1});
    p.append(userId);
    p.push_back('\0');
    p.append(host);
    p.push_back('\0');
    return p;
}

std::string Socks5Greeting(long authMethod) {
    if (authMethod < 0 || authMethod > 255) return {};
    if (authMethod == 0) return std::string{5, 1, 0};
    return std::string{5, 2, static_cast<char>(authMethod), 0};
}

std::string Socks5UserPass(std::string_view user, std::string_view password) {
    if (user.size() > kMaxSocksField || password.size() > kMaxSocksField) return {};
    std::string p{1};
    p.push_back(static_cast<char>(user.size()));
    p.append(user);
    p.push_back(static_cast<char>(password.size()));
    p.append(password);
    return p;
}

std::string Socks5ConnectName(std::string_view host, long port) {
    if (!FitsSocksField(host) || host.empty()) return {};
    std::string p{5, 1, 0, 3};
    p.push_back(static_cast<char>(host.size()));
    p.append(host);
    PutPort(p, port);
    return p;
}

std::string Socks5ConnectAddress(const Ipv4& address, long port) {
    std::string p{5, 1, 0, 1};
    p.append(reinterpret_cast<const char*>(address.data()), 4);
    PutPort(p, port);
    return p;
}

long SocksReplyLength(SocksReply kind, std::string_view got) {
    switch (kind) {
    case SocksReply::Socks4: return 8;
    case SocksReply::Socks5Method:
    case SocksReply::Socks5Auth: return 2;
    case SocksReply::Socks5Connect:
        if (got.size() < 4) return 0;
        switch (static_cast<uint8_t>(got[3])) {
        case 1: return 10;
        case 4: return 22;
        case 3: return got.size() < 5 ? 0 : 7 + static_cast<uint8_t>(got[4]);
        default: return -1;
        }
    }
    return -1;
}

std::string BuildRequest(const RequestFields& f) {
    std::string r = "GET " + f.url + " HTTP/1.0\r\n";
    r += "Accept: */*\r\n";
    r += "User-Agent: " + f.userAgentWord + " Download Class\r\n";
    r += "Host: " + f.host + "\r\n";
    if (f.useResume) r += "Range: bytes=" + std::to_string(f.resumeFrom) + "-\r\n";
    if (f.viaHttpProxy) r += "Proxy-Connection: Keep-Alive\r\n";
    if (!f.allowCache) r += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    if (!f.authorization.empty()) r += "Authorization: Basic " + f.authorization + "\r\n";
    r += "\r\n";
    return r;
}

std::string Base64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::wstring q = TripletToQuartet(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), i);
        for (wchar_t c : q) out.push_back(static_cast<char>(c));
    }
    return out;
}

std::wstring TripletToQuartet(const uint8_t* bytes, size_t size, size_t start) {
    if (start >= size) return {};
    size_t n = size - start < 3 ? size - start : 3;
    uint8_t b0 = bytes[start];
    uint8_t b1 = n > 1 ? bytes[start + 1] : 0;
    uint8_t b2 = n > 2 ? bytes[start + 2] : 0;
    std::wstring q(4, L'=');
    q[0] = kAlphabet[ShiftRight(b0, 2)];
    q[1] = kAlphabet[ShiftLeft(b0 & 3, 4) | ShiftRight(b1, 4)];
    if (n > 1) q[2] = kAlphabet[ShiftLeft(b1 & 15, 2) | ShiftRight(b2, 6)];
    if (n > 2) q[3] = kAlphabet[b2 & 63];
    return q;
}

uint8_t ShiftLeft(uint8_t value, int places) {
    if (places < 0 || places > 7) return 0;
    return static_cast<uint8_t>((value << places) & 0xFF);
}

uint8_t ShiftRight(uint8_t value, int places) {
    if (places < 0 || places > 7) return 0;
    return static_cast<uint8_t>(value >> places);
}

}  // namespace dlcore
