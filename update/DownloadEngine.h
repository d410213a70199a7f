#pragma once
// The protocol engine of the download class: properties, the fetch from the
// connect to its end, SOCKS handshakes, the request, the reply header,
// redirects, resume, the byte cap and the output file.  It talks to the
// operating system only through DownloadPlatform, so the same engine runs on
// Winsock notifications in the program and on a poll loop in the host tests.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "update/DownloadCore.h"

// Events of a download.  Every argument is by reference, as the holder may
// look at or change it; ID is the object's ID property.
class DownloadEvents {
public:
    virtual ~DownloadEvents() = default;
    virtual void Connected(long& ID) {}
    virtual void Disconnected(long& ID) {}
    virtual void DownloadFailed(long& Why, long& ID) {}
    virtual void BytesReceived(long& lByteCount, long& ID) {}
    virtual void QuerySent(long& ID) {}
    virtual void ObjectMoved(std::wstring& sNewUrl, long& ID) {}
};

// What the engine needs from the system.  Socket calls return the byte count,
// kWouldBlock when the call would have to wait, or kError.
class DownloadPlatform {
public:
    static constexpr long kError = -1;
    static constexpr long kWouldBlock = -2;
    virtual ~DownloadPlatform() = default;

    virtual bool Ready() { return true; }  // false when notifications cannot be delivered
    virtual bool Resolve(const std::string& host, dlcore::Ipv4& address) = 0;
    // Blocking connect, then notifications on; the socket or -1.
    virtual long Connect(const dlcore::Ipv4& address, long port) = 0;
    virtual long Send(long socket, const char* data, long size) = 0;
    virtual long Recv(long socket, char* data, long size) = 0;
    virtual void Shutdown(long socket, bool both) = 0;
    // Stops the socket's notifications (also those already queued) and closes it.
    virtual void CloseSocket(long socket) = 0;

    virtual bool OpenFile(const std::wstring& path, bool keepContents) = 0;
    virtual bool WriteFile(const char* data, long size) = 0;
    virtual long long FileSize() = 0;  // -1 when unknown
    // Moves the write position and cuts the file there.
    virtual bool TruncateAt(long long position) = 0;
    virtual void CloseFile() = 0;
    virtual std::wstring MakeTempFileName() = 0;

    virtual std::string ToAnsi(std::wstring_view text) = 0;
    virtual std::wstring FromAnsi(std::string_view bytes) = 0;
};

class DownloadEngine : public std::enable_shared_from_this<DownloadEngine> {
public:
    // Socket notification codes.
    static constexpr long kRead = 1;
    static constexpr long kWrite = 2;
    static constexpr long kClose = 32;

    explicit DownloadEngine(std::unique_ptr<DownloadPlatform> platform);
    virtual ~DownloadEngine();
    DownloadEngine(const DownloadEngine&) = delete;
    DownloadEngine& operator=(const DownloadEngine&) = delete;

    // The receiver of the events; not owned.
    void SetEvents(DownloadEvents* sink) { events_ = sink; }
    DownloadEvents* Events() const { return events_; }

    // ---- properties -------------------------------------------------------------
    long DownloadType() const { return downloadType_; }
    void DownloadType(long v) { downloadType_ = v; }
    const std::wstring& Filename() const { return filename_; }
    void Filename(const std::wstring& v) { filename_ = v; }
    bool UseTempFile() const { return useTempFile_; }
    void UseTempFile(bool v) { useTempFile_ = v; }
    long ProxyType() const { return proxyType_; }
    void ProxyType(long v) { proxyType_ = v; }
    const std::wstring& ProxyHostname() const { return proxyHostname_; }
    void ProxyHostname(const std::wstring& v) { proxyHostname_ = v; }
    long ProxyPort() const { return proxyPort_; }
    void ProxyPort(long v) { proxyPort_ = v; }
    const std::wstring& Hostname() const { return hostname_; }
    void Hostname(const std::wstring& v) { hostname_ = v; }
    long Port() const { return port_; }
    void Port(long v) { port_ = v; }
    const std::wstring& URL() const { return url_; }
    void URL(const std::wstring& v) { url_ = v; }
    const std::wstring& HttpUser() const { return httpUser_; }
    void HttpUser(const std::wstring& v) { httpUser_ = v; }
    const std::wstring& HttpPass() const { return httpPass_; }
    void HttpPass(const std::wstring& v) { httpPass_ = v; }
    bool UseHttpAuthorization() const { return useHttpAuthorization_; }
    void UseHttpAuthorization(bool v) { useHttpAuthorization_ = v; }
    long PacketSize() const { return packetSize_; }
    void PacketSize(long v) { if (v >= 1) packetSize_ = v; }
    long ConnectionType() const { return connectionType_; }
    void ConnectionType(long v) { connectionType_ = v; }
    long ID() const { return id_; }
    void ID(long v) { id_ = v; }
    bool AllowCache() const { return allowCache_; }
    void AllowCache(bool v) { allowCache_ = v; }
    const std::wstring& ProxyUsername() const { return proxyUsername_; }
    void ProxyUsername(const std::wstring& v) { proxyUsername_ = v; }
    const std::wstring& ProxyPassword() const { return proxyPassword_; }
    void ProxyPassword(const std::wstring& v) { proxyPassword_ = v; }
    bool ProxyUseRemoteDNS() const { return proxyUseRemoteDNS_; }
    void ProxyUseRemoteDNS(bool v) { proxyUseRemoteDNS_ = v; }
    long ProxyAuthentication() const { return proxyAuthentication_; }
    void ProxyAuthentication(long v) { proxyAuthentication_ = v; }
    bool IsConnected() const { return isConnected_; }
    long ReceivedBytes() const;
    long RealReceivedBytes() const;
    long MaxDownload() const { return maxDownload_; }
    void MaxDownload(long v) { maxDownload_ = v; }
    long DownloadLength() const { return downloadLength_; }
    long HTTPReply() const { return httpReply_; }
    bool UseResume() const { return useResume_; }
    void UseResume(bool v) { useResume_ = v; }
    long ResumeFrom() const { return resumeFrom_; }
    void ResumeFrom(long v) { resumeFrom_ = v < 0 ? 0 : v; }
    bool AutoRedirect() const { return autoRedirect_; }
    void AutoRedirect(bool v) { autoRedirect_ = v; }
    long SocketHandle() const { return socket_; }

    // ---- methods --------------------------------------------------------------------
    void FetchURL();
    void FetchURLString(const std::wstring& sURL);
    long GetBuffer(std::vector<uint8_t>& buffer);
    std::wstring GetBufferAsString();
    long GetBufferSize() const { return static_cast<long>(buffer_.size()); }
    void ClearBuffer();
    void Disconnect();
    void ProcessMessage(long lParam);
    static std::wstring FailureToString(long code) { return dlcore::FailureToString(code); }
    static std::wstring TripletToQuartet(const std::vector<uint8_t>& bIn, long lStart);
    std::wstring ToBase64(const std::wstring& sNormString);
    static uint8_t ShiftLeft(uint8_t bShift, short lPlaces) { return dlcore::ShiftLeft(bShift, lPlaces); }
    static uint8_t ShiftRight(uint8_t bShift, short lPlaces) { return dlcore::ShiftRight(bShift, lPlaces); }

    // The product word of the User-Agent line.
    static constexpr const char* kUserAgentWord = "Morvix";
    // Redirects followed in one fetch before it fails.
    static constexpr int kMaxRedirects = 10;

protected:
    DownloadPlatform& Platform() { return *platform_; }
    // Closes the socket and the file without an event (the object's end).
    void ReleaseAll();

private:
    enum class End { Complete, Failed, Silent, Moved };

    void StartFetch(bool redirect);
    bool CheckSettings();
    void EndFetch(End how, long code = 0, long socketAfter = -1);
    void OnWrite();
    void OnRead();
    void OnClose();
    bool FlushOut();
    void QueueSocksPacket();
    void QueueRequest();
    bool TakeProxyReply();
    bool TakeData(const char* data, long size);
    void ParseReplyHeaders();
    void FollowRedirect();
    bool WriteReceivedData(const char* data, long count);
    bool HasSocket() const { return socket_ != 0 && socket_ != -1; }
    bool UsesSocks() const { return proxyType_ == 2 || proxyType_ == 3; }
    dlcore::SocksReply ExpectedSocksReply() const;
    long RecvChunk() const;
    template <class F> void Raise(F&& f);

    std::unique_ptr<DownloadPlatform> platform_;
    DownloadEvents* events_ = nullptr;

    long downloadType_ = 0;
    std::wstring filename_;
    bool useTempFile_ = true;
    long proxyType_ = 0;
    std::wstring proxyHostname_ = L"localhost";
    long proxyPort_ = 80;
    std::wstring hostname_;
    long port_ = 80;
    std::wstring url_;
    std::wstring httpUser_, httpPass_;
    bool useHttpAuthorization_ = false;
    long packetSize_ = 1024;
    long connectionType_ = 0;
    long id_ = 0;
    bool allowCache_ = false;
    std::wstring proxyUsername_, proxyPassword_;
    bool proxyUseRemoteDNS_ = false;
    long proxyAuthentication_ = 0;
    bool isConnected_ = false;
    long maxDownload_ = -1;
    long downloadLength_ = -1;
    long httpReply_ = 0;
    bool useResume_ = false;
    long resumeFrom_ = 0;
    bool autoRedirect_ = true;
    long socket_ = 0;

    // Per fetch.  `fetch_` changes whenever a fetch starts or ends, so code
    // that raised an event can tell whether its fetch is still the current one.
    unsigned fetch_ = 0;
    bool fileOpen_ = false;
    bool awaitingHeaders_ = false;
    std::string headerBytes_;
    std::wstring headerText_;
    bool proxyConnected_ = false;
    int socksStep_ = 0;
    int socksSentStep_ = -1;
    long proxyOffered_ = 0;
    std::string proxyReply_;
    std::string out_;
    bool outIsRequest_ = false;
    bool requestQueued_ = false;
    bool aborted_ = false;
    bool redirecting_ = false;
    bool closeHandled_ = false;
    int redirects_ = 0;
    std::wstring redirectLocation_;
    dlcore::Ipv4 targetAddress_{};
    long long received_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<char> chunk_;
};
