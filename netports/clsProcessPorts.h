#pragma once
// An asynchronous TCP and UDP socket in the manner of an event-raising
// control: the holder sets properties, calls Connect, Listen, Bind, SendData,
// GetData ..., and receives events.  Winsock's notifications reach the object
// through the hidden window of modProcessPorts, which calls WndProc.
//
// Failures of methods are raised as vb::Error whose source names the class and
// the operation ("clsProcessPorts.Connect"); failures found in notifications
// set State 9 and raise the Error event with the same number, text and source.
// A holder may destroy the object inside any of its events.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "netports/modProcessPorts_Socket.h"

class clsProcessPorts {
public:
    enum ProtocolValue : long { sckTCPProtocol = 0, sckUDPProtocol = 1 };
    enum StateValue : long {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9,
    };

    // The values that SendData sends and GetData returns, with their type
    // numbers (what varType names).
    struct Currency {
        std::int64_t scaled = 0;  // value * 10000
    };
    struct Date {
        double value = 0;
    };
    using Bytes = std::vector<std::uint8_t>;
    using Variant = std::variant<std::monostate, std::int16_t, std::int32_t, float, double, Currency, Date,
                                 bool, std::uint8_t, std::wstring, Bytes>;
    enum VarType : long {
        vbEmpty = 0,
        vbInteger = 2,
        vbLong = 3,
        vbSingle = 4,
        vbDouble = 5,
        vbCurrency = 6,
        vbDate = 7,
        vbString = 8,
        vbBoolean = 11,
        vbByte = 17,
        vbByteArray = 8209,
    };
    static long VarTypeOf(const Variant& value);

    // The holder's event handlers; any may be left empty.
    struct EventHandlers {
        std::function<void()> CloseSck;
        std::function<void()> Connect;
        std::function<void(long requestID)> ConnectionRequest;
        std::function<void(long bytesTotal)> DataArrival;
        // Setting cancelDisplay to false shows the description in a box.
        std::function<void(long number, std::wstring& description, long sCode, const std::wstring& source,
                           const std::wstring& helpFile, long helpContext, bool& cancelDisplay)>
            Error;
        std::function<void()> SendComplete;
        std::function<void(long bytesSent, long bytesRemaining)> SendProgress;
    } Events;

    clsProcessPorts();
    ~clsProcessPorts();
    clsProcessPorts(const clsProcessPorts&) = delete;
    clsProcessPorts& operator=(const clsProcessPorts&) = delete;

    // Called by the module's router for this object's messages.
    long WndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    long RemotePort() const { return remotePort_; }
    void RemotePort(long lngPort);
    const std::wstring& RemoteHost() const { return remoteHost_; }
    void RemoteHost(const std::wstring& strHost);
    const std::wstring& RemoteHostIP() const { return remoteHostIP_; }
    long LocalPort() const { return boundLocalPort_ != 0 ? boundLocalPort_ : localPort_; }
    void LocalPort(long lngPort);
    long State() const { return state_; }
    std::wstring LocalHostName() const;
    std::wstring LocalIP() const;
    long BytesReceived() const;
    long SocketHandle() const { return static_cast<long>(socket_); }
    const std::wstring& Tag() const { return tag_; }
    void Tag(const std::wstring& value) { tag_ = value; }
    long Protocol() const { return protocol_; }
    void Protocol(long enmProtocol);

    void CloseSck();
    void Connect(std::optional<std::wstring> remoteHost = std::nullopt,
                 std::optional<Variant> remotePort = std::nullopt);
    void Bind(std::optional<Variant> localPort = std::nullopt, std::optional<std::wstring> localIP = std::nullopt);
    void SendData(const Variant& data);
    void GetData(Variant& data, std::optional<long> varType = std::nullopt,
                 std::optional<Variant> maxLen = std::nullopt);
    void PeekData(Variant& data, std::optional<long> varType = std::nullopt,
                  std::optional<Variant> maxLen = std::nullopt);
    void Listen();
    void Accept(long requestID);

private:
    friend void modProcessPorts::RegisterAccept(SOCKET socket);
    struct Released {};  // the holder destroyed the object inside an event

    struct Address {
        std::wstring dotted;
        long error = 0;
        unsigned long address = 0;  // network order
    };

    void Adopt(SOCKET socket);
    bool IsUdp() const { return protocol_ == sckUDPProtocol; }

    // Runs a holder's handler; throws Released when the holder destroyed the
    // object inside it.  Exceptions leaving a handler are the holder's and
    // are dropped here.
    template <class Handler, class... Args>
    void RaiseEvent(const Handler& handler, Args&&... args);
    void ReportError(long number, const std::wstring& description, const std::wstring& source);
    void ReportWinsock(long code, const wchar_t* operation);

    void DestroySocket();
    bool SocketExists();
    void PostSocket(long event, long error);
    void OnAcceptNotification();
    void ConnectToIP(unsigned long address, long error);
    bool BindInternal(std::optional<Variant> localPort = std::nullopt,
                      std::optional<std::wstring> localIP = std::nullopt);
    std::wstring GetLocalHostName() const;
    std::wstring GetLocalIP() const;
    std::optional<unsigned long> ResolveIfHostname(const std::wstring& host, long connectFlag);
    void ProcessOptions(SOCKET socket);
    long RecvDataToBuffer();
    void ReceiveDatagramNotification();
    void DrainBeforeClose();
    void TakeData(Variant& data, std::optional<long> varType, std::optional<Variant> maxLen, bool peek,
                  const wchar_t* operation);
    long RecvData(Variant& data, bool peek, std::optional<long> varType, std::optional<long> maxLen);
    Bytes TakeBytes(size_t count, bool peek);
    void SendBufferedData();
    void SendBufferedDataUDP();
    void PostResolution(HANDLE handle, long error);
    static Address GetAddressSync(const std::wstring& host);
    long GetLocalPortOf(SOCKET socket) const;
    void SendBufferedDispatch();
    void CancelResolutions();
    void GetRemoteInfo(SOCKET socket);
    void GetRemoteInfoFromAddress(const sockaddr_in& address);
    long GetBytesAvailable() const;
    void EmptyBuffer();
    bool ZeroLengthDatagramWaiting() const;
    void ResetConnection();

    SOCKET socket_ = INVALID_SOCKET;
    long state_ = sckClosed;
    std::wstring tag_;
    std::wstring remoteHost_;
    long remotePort_ = 0;
    std::wstring remoteHostIP_;
    long localPort_ = 0;
    long boundLocalPort_ = 0;
    std::wstring localIP_;
    bool boundToAny_ = false;
    long protocol_ = sckTCPProtocol;
    long sendChunkSize_ = 0;
    long receiveSize_ = 0;
    Bytes sendBuffer_;
    Bytes receiveBuffer_;
    bool adopted_ = false;
    std::map<HANDLE, long> pendingLookups_;  // lookup -> 0: connect when it ends
    unsigned long datagramsTaken_ = 0;
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
};
