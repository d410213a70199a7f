// The byte-level pieces of the download class: URLs, redirects, reply
// headers, SOCKS packets and replies, the request text, Base64.
#include <gtest/gtest.h>

#include "update/DownloadCore.h"

using namespace dlcore;

TEST(DownloadUrl, ParsesHostAndPortAndRejectsWhatCannotBeFetched) {
    UrlParts p;
    ASSERT_TRUE(ParseHttpUrl(L"HTTP://WWW.Example.COM:8080/Path/File.TXT", p));
    EXPECT_EQ(p.host, L"www.example.com");
    EXPECT_EQ(p.port, 8080);
    ASSERT_TRUE(ParseHttpUrl(L"http://host", p));
    EXPECT_EQ(p.host, L"host");
    EXPECT_EQ(p.port, 80);
    ASSERT_TRUE(ParseHttpUrl(L"http://host?q=1", p));
    EXPECT_EQ(p.host, L"host");
    for (const wchar_t* bad : {L"ftp://h/", L"h/x", L"http:/h/", L"http:///x", L"http://h:0/",
                               L"http://h:/", L"http://h:abc/", L"http://h:80x/", L"http://h:65536/",
                               L"http://h:99999999999999999999/", L"http://h/\r\nX: y", L"http://h/\n"})
        EXPECT_FALSE(ParseHttpUrl(bad, p)) << std::string(bad, bad + wcslen(bad));
    EXPECT_TRUE(ParseHttpUrl(L"http://h:65535/", p));
    EXPECT_FALSE(ParseHttpUrl(std::wstring(L"http://h/\0x", 11), p));
}

TEST(DownloadUrl, LocationsResolveAgainstTheCurrentUrl) {
    std::wstring out;
    const wchar_t* base = L"http://Host:81/a/b/file.txt?q=1";
    struct Case {
        const wchar_t* loc;
        const wchar_t* want;
    } cases[] = {
        {L"http://other:82/x", L"http://other:82/x"},
        {L"  HTTP://other/x#frag ", L"HTTP://other/x"},
        {L"//other:83/y", L"http://other:83/y"},
        {L"/root.bin", L"http://Host:81/root.bin"},
        {L"sib.bin", L"http://Host:81/a/b/sib.bin"},
        {L"../up.bin", L"http://Host:81/a/b/../up.bin"},
        {L"?z=2", L"http://Host:81/a/b/file.txt?z=2"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ResolveLocation(base, c.loc, out));
        EXPECT_EQ(out, c.want);
    }
    ASSERT_TRUE(ResolveLocation(L"http://h:5", L"x", out));
    EXPECT_EQ(out, L"http://h:5/x");
    for (const wchar_t* bad : {L"https://h/", L"ftp://h/", L"mailto:a@b", L"", L"  ", L"/a\r\nb",
                               L"http://h:0/"})
        EXPECT_FALSE(ResolveLocation(base, bad, out));
}

TEST(DownloadHeader, StatusLengthLocationAndRange) {
    ReplyHeader r = ParseReplyHeader(
        "HTTP/1.1 206 Partial Content\r\nContent-Length:  500 \r\nLOCATION:  /x y \r\n"
        "Content-Range: bytes 1000-1499/1500\r\nNoColon\r\n\r\n");
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.contentLength, 500);
    EXPECT_FALSE(r.contentLengthBad);
    EXPECT_EQ(r.location, "/x y");
    EXPECT_EQ(r.rangeStart, 1000);

    EXPECT_EQ(ParseReplyHeader("HTTP/1.0 200\r\n\r\n").status, 999);   // no reason phrase
    EXPECT_EQ(ParseReplyHeader("HTTP/1.0  200 OK\r\n\r\n").status, 999);
    EXPECT_EQ(ParseReplyHeader("HTTP/1.0 2x0 OK\r\n\r\n").status, 999);
    EXPECT_EQ(ParseReplyHeader("garbage").status, 999);
    EXPECT_EQ(ParseReplyHeader("").status, 999);
    EXPECT_EQ(ParseReplyHeader("HTTP/1.0 404 Not Found\r\n\r\n").contentLength, -1);
    // A key keeps its blanks: "Content-Length :" is some other header.
    EXPECT_EQ(ParseReplyHeader("HTTP/1.0 200 OK\r\nContent-Length : 5\r\n\r\n").contentLength, -1);

    for (const char* bad : {"12abc", "", "-1", "0x10", "2147483648", "99999999999999999999", "1 2"}) {
        ReplyHeader b = ParseReplyHeader(std::string("HTTP/1.0 200 OK\r\nContent-Length: ") + bad + "\r\n\r\n");
        EXPECT_TRUE(b.contentLengthBad) << bad;
    }
    EXPECT_EQ(ParseReplyHeader("HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\n").contentLength,
              2147483647);
    EXPECT_FALSE(ParseReplyHeader("HTTP/1.0 200 OK\r\nContent-Length: 7\r\ncontent-length: 7\r\n\r\n")
                     .contentLengthBad);
    EXPECT_TRUE(ParseReplyHeader("HTTP/1.0 200 OK\r\nContent-Length: 7\r\ncontent-length: 8\r\n\r\n")
                    .contentLengthBad);
}

TEST(DownloadHeader, ContentRangeIsReadWholeOrMarkedBad) {
    auto range = [](const std::string& value) {
        return ParseReplyHeader("HTTP/1.1 206 Partial\r\nContent-Range: " + value + "\r\n\r\n");
    };
    ReplyHeader r = range("BYTES 1000-1499/1500");
    EXPECT_TRUE(r.rangePresent && !r.rangeBad);
    EXPECT_EQ(r.rangeStart, 1000);
    EXPECT_EQ(r.rangeEnd, 1499);
    EXPECT_EQ(r.rangeTotal, 1500);
    r = range("bytes 0-0/*");
    EXPECT_TRUE(!r.rangeBad && r.rangeEnd == 0 && r.rangeTotal == -1);
    EXPECT_FALSE(ParseReplyHeader("HTTP/1.1 206 Partial\r\n\r\n").rangePresent);
    for (const char* bad : {"bytes=500-999/1500", "bytes */1500", "bytes 1000-1499", "bytes 1000-999/1500",
                            "bytes 1000-1500/1500", "bytes -5-9/10", "bytes 1-2/x", "items 1-2/3", "bytes1-2/3",
                            "bytes 99999999999999999999-99999999999999999999/1500", "bytes 0-2147483647/*",
                            "bytes 1 -2/3", ""}) {
        r = range(bad);
        EXPECT_TRUE(r.rangePresent && r.rangeBad) << bad;
    }
    EXPECT_TRUE(ParseReplyHeader("HTTP/1.1 206 P\r\nContent-Range: bytes 1-2/3\r\nContent-Range: bytes 1-2/4\r\n\r\n")
                    .rangeBad);
}

TEST(DownloadHeader, EndIsFoundAcrossPiecesAndHighBytes) {
    std::string h = "HTTP/1.0 200 OK\r\nX: \xb2\xe2\r\n\r\nbody\r\n\r\n";
    EXPECT_EQ(FindHeaderEnd(h), h.find("body"));
    EXPECT_EQ(FindHeaderEnd("HTTP/1.0 200 OK\r\n\r"), std::string::npos);
    EXPECT_EQ(FindHeaderEnd("\r\n\r\n", 0), 4u);
}

TEST(DownloadLines, SplitFirstLine) {
    std::wstring t = L"one\r\ntwo\r\n";
    EXPECT_EQ(SplitFirstLine(t), L"one");
    EXPECT_EQ(t, L"two\r\n");
    EXPECT_EQ(SplitFirstLine(t), L"two");
    EXPECT_EQ(t, L"");
    t = L"a\rb\nc";
    EXPECT_EQ(SplitFirstLine(t), L"a\rb\nc");
    EXPECT_EQ(t, L"");
}

TEST(DownloadSocks, PacketsAndFieldLimits) {
    Ipv4 a{127, 0, 0, 1};
    EXPECT_EQ(Socks4Connect(0x1F90, a, "id"), std::string("\x04\x01\x1f\x90\x7f\x00\x00\x01id\x00", 11));
    EXPECT_EQ(Socks4aConnect(80, "", "h.x"), std::string("\x04\x01\x00\x50\x00\x00\x00\x01\x00h.x\x00", 13));
    EXPECT_EQ(Socks5Greeting(0), std::string("\x05\x01\x00", 3));
    EXPECT_EQ(Socks5Greeting(2), std::string("\x05\x02\x02\x00", 4));
    EXPECT_EQ(Socks5UserPass("u", "pw"), std::string("\x01\x01u\x02pw", 6));
    EXPECT_EQ(Socks5ConnectName("ab", 443), std::string("\x05\x01\x00\x03\x02" "ab\x01\xbb", 9));
    EXPECT_EQ(Socks5ConnectAddress(a, 80), std::string("\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x50", 10));

    std::string max(255, 'x'), over(256, 'x');
    EXPECT_FALSE(Socks5UserPass(max, max).empty());
    EXPECT_TRUE(Socks5UserPass(over, "").empty());
    EXPECT_TRUE(Socks5UserPass("", over).empty());
    EXPECT_TRUE(Socks5ConnectName(over, 80).empty());
    EXPECT_TRUE(Socks5ConnectName("", 80).empty());
    EXPECT_TRUE(Socks4Connect(80, a, over).empty());
    EXPECT_TRUE(Socks4Connect(80, a, std::string("a\0b", 3)).empty());
    EXPECT_TRUE(Socks4aConnect(80, "", over).empty());
    EXPECT_TRUE(Socks5Greeting(256).empty());
}

TEST(DownloadSocks, ReplyLengths) {
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks4, ""), 8);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Method, ""), 2);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00", 3)), 0);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00\x01", 4)), 10);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00\x04", 4)), 22);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00\x03", 4)), 0);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00\x03\x09", 5)), 16);
    EXPECT_EQ(SocksReplyLength(SocksReply::Socks5Connect, std::string("\x05\x00\x00\x07", 4)), -1);
}

TEST(DownloadRequest, LinesInOrder) {
    RequestFields f;
    f.url = "http://h:81/x";
    f.host = "h";
    f.userAgentWord = "Morvix";
    f.useResume = true;
    f.resumeFrom = 1234;
    f.viaHttpProxy = true;
    f.authorization = "dTpw";
    EXPECT_EQ(BuildRequest(f),
              "GET http://h:81/x HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Morvix Download Class\r\n"
              "Host: h\r\nRange: bytes=1234-\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n"
              "Cache-Control: no-cache\r\nAuthorization: Basic dTpw\r\n\r\n");
    f.useResume = f.viaHttpProxy = false;
    f.allowCache = true;
    f.authorization.clear();
    EXPECT_EQ(BuildRequest(f),
              "GET http://h:81/x HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Morvix Download Class\r\nHost: h\r\n\r\n");
}

TEST(DownloadBase64, PaddingShiftsAndTexts) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("M"), "TQ==");
    EXPECT_EQ(Base64("Ma"), "TWE=");
    EXPECT_EQ(Base64("Man"), "TWFu");
    EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
    EXPECT_EQ(Base64("user:pass"), "dXNlcjpwYXNz");
    const uint8_t b[] = {'M', 'a', 'n', 'M'};
    EXPECT_EQ(TripletToQuartet(b, 4, 0), L"TWFu");
    EXPECT_EQ(TripletToQuartet(b, 4, 3), L"TQ==");
    EXPECT_EQ(TripletToQuartet(b, 4, 4), L"");
    EXPECT_EQ(ShiftLeft(0x81, 1), 0x02);
    EXPECT_EQ(ShiftLeft(1, 7), 0x80);
    EXPECT_EQ(ShiftLeft(1, -1), 0);
    EXPECT_EQ(ShiftRight(0x80, 7), 1);
    EXPECT_EQ(ShiftRight(0xff, -2), 0);
    EXPECT_EQ(FailureToString(11), L"Unknown Error!");
    EXPECT_EQ(FailureToString(-1), L"Unknown Error!");
    EXPECT_EQ(FailureToString(3), L"Unable to send data to the host or proxy");
    EXPECT_EQ(FailureToString(0),
              L"The connection with the proxy or host has been closed, before downloading the entire file.");
}
