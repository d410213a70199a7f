#pragma once
// The byte-level pieces of the download class that need no operating system:
// URL and redirect handling, the reply header, the SOCKS packets and replies,
// the request text, Base64 and the failure texts.  Portable (no <windows.h>),
// so it also builds natively with the sanitizers and under the fuzzer.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dlcore {

// The class counts bytes in 32-bit Longs; longer lengths cannot be used.
constexpr long long kMaxLong = 2147483647;

// Failure codes raised with DownloadFailed.
enum Failure : long {
    kClosedEarly = 0,       // connection closed before the whole file arrived
    kAborted = 1,           // Disconnect
    kNoWindow = 2,          // the hidden socket window could not be made
    kSendFailed = 3,        // the request could not be sent
    kBadReply = 4,          // status other than 200/206, or a redirect that cannot be followed
    kConnectFailed = 5,     // host unreachable or its name unknown
    kFileCreate = 6,        // output file could not be created
    kProxyConnect = 7,      // proxy unreachable or a handshake packet not sent
    kProxyRefused = 8,      // SOCKS connect refused
    kProxyMethod = 9,       // no SOCKS5 method acceptable
    kProxyAuth = 10,        // SOCKS5 user/password refused
    kBadInput = 11,         // URL or settings that cannot be used
    kFileWrite = 12,        // writing the output file failed
    kUnusableHeader = 13,   // reply header too large, or a length/range that cannot be used
};

std::wstring FailureToString(long code);

// Text before the first CR LF; the rest after it stays in `text`.
std::wstring SplitFirstLine(std::wstring& text);
std::string SplitFirstLine(std::string& text);

// ---- URLs -----------------------------------------------------------------
// CR, LF or NUL: never allowed in anything that goes onto the wire.
bool HasLineBreak(std::wstring_view text);
bool IsValidPort(long port);

struct UrlParts {
    std::wstring host;  // lower case
    long port = 80;
};
// Only "http://host[:port][/...]"; false for anything the class cannot fetch.
bool ParseHttpUrl(std::wstring_view url, UrlParts& out);
// The URL a Location value points to, seen from `base`: absolute http URLs as
// they are, "//host/..." with the scheme added, "/path" on the base's host,
// anything else beside the base's last path segment.  False for another
// scheme or an unusable value.
bool ResolveLocation(std::wstring_view base, std::wstring_view location, std::wstring& out);

// ---- reply header -----------------------------------------------------------
constexpr size_t kMaxHeaderBytes = 64 * 1024;

// Offset just past the first CR LF CR LF, searching from `from`; npos if none.
size_t FindHeaderEnd(std::string_view data, size_t from = 0);

struct ReplyHeader {
    long status = 999;                // 999 when the status line cannot be read
    long long contentLength = -1;     // -1 when absent
    bool contentLengthBad = false;    // present but not a usable number
    std::string location;             // raw bytes of the Location value, trimmed
    // "Content-Range: bytes a-b/c" (c may be "*"): a = rangeStart, b = rangeEnd,
    // c = rangeTotal (-1 for "*").  rangeBad when the header is present but
    // not of that form, a > b, b not below c, or a number past kMaxLong.
    bool rangePresent = false;
    bool rangeBad = false;
    long long rangeStart = -1, rangeEnd = -1, rangeTotal = -1;
};
ReplyHeader ParseReplyHeader(std::string_view header);

// ---- SOCKS --------------------------------------------------------------------
using Ipv4 = std::array<uint8_t, 4>;
constexpr size_t kMaxSocksField = 255;

// Each builder returns "" when a field is too long or holds a NUL.
std::string Socks4Connect(long port, const Ipv4& address, std::string_view userId);
std::string Socks4aConnect(long port, std::string_view userId, std::string_view host);
std::string Socks5Greeting(long authMethod);
std::string Socks5UserPass(std::string_view user, std::string_view password);
std::string Socks5ConnectName(std::string_view host, long port);
std::string Socks5ConnectAddress(const Ipv4& address, long port);

enum class SocksReply { Socks4, Socks5Method, Socks5Auth, Socks5Connect };
// Whole length of the reply whose first bytes are `got`: 0 while not yet
// known, -1 for a reply that cannot be framed.
long SocksReplyLength(SocksReply kind, std::string_view got);

// ---- request ------------------------------------------------------------------
struct RequestFields {
    std::string url;        // ANSI bytes
    std::string host;       // ANSI bytes, without the port
    std::string userAgentWord;
    bool useResume = false;
    long resumeFrom = 0;
    bool viaHttpProxy = false;
    bool allowCache = false;
    std::string authorization;  // Base64 credentials; "" sends none
};
std::string BuildRequest(const RequestFields& f);

// ---- Base64 ---------------------------------------------------------------------
std::string Base64(std::string_view bytes);
// Four characters for the (up to) three bytes at `start`; missing bytes pad.
std::wstring TripletToQuartet(const uint8_t* bytes, size_t size, size_t start);
uint8_t ShiftLeft(uint8_t value, int places);
uint8_t ShiftRight(uint8_t value, int places);

}  // namespace dlcore
