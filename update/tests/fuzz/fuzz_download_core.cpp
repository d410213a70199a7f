// Feeds arbitrary bytes to the reply-header, URL, redirect and SOCKS-reply
// parsers: they must never read out of bounds or overflow.
#include <cstddef>
#include <cstdint>
#include <string>

#include "update/DownloadCore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t end = dlcore::FindHeaderEnd(bytes);
    dlcore::ReplyHeader r = dlcore::ParseReplyHeader(end == std::string::npos ? bytes : bytes.substr(0, end));
    if (r.contentLength > dlcore::kMaxLong) __builtin_trap();

    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    dlcore::UrlParts parts;
    if (dlcore::ParseHttpUrl(text, parts) && (!dlcore::IsValidPort(parts.port) || parts.host.empty()))
        __builtin_trap();
    std::wstring out;
    if (dlcore::ResolveLocation(L"http://h:8080/a/b?c", text, out) && !dlcore::ParseHttpUrl(out, parts))
        __builtin_trap();
    std::wstring line = text;
    while (!line.empty()) dlcore::SplitFirstLine(line);

    for (auto kind : {dlcore::SocksReply::Socks4, dlcore::SocksReply::Socks5Method,
                      dlcore::SocksReply::Socks5Auth, dlcore::SocksReply::Socks5Connect})
        dlcore::SocksReplyLength(kind, bytes);
    dlcore::Base64(bytes);
    return 0;
}
