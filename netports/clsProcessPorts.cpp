#include "netports/clsProcessPorts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/vb/Format.h"
#include "platform/vb/Runtime.h"
#include "platform/vb/VbError.h"
#include "platform/win/Text.h"

namespace {

using Variant = clsProcessPorts::Variant;
using Bytes = clsProcessPorts::Bytes;

constexpr const wchar_t* kInvalidState = L"Invalid operation at current state";
constexpr const wchar_t* kOutOfRange =
    L"The argument passed to a function was not in the correct format or in the specified range.";
constexpr const wchar_t* kInvalidArgument = L"Invalid argument";
constexpr const wchar_t* kUnsupportedType = L"Unsupported variant type.";
constexpr const wchar_t* kWrongState =
    L"Wrong protocol or connection state for the requested transaction or request";

std::wstring SourceOf(const wchar_t* operation) {
    return std::wstring(L"clsProcessPorts.") + operation;
}

[[noreturn]] void Fail(long number, const wchar_t* operation, const std::wstring& description) {
    throw vb::Error(number, SourceOf(operation), description);
}

[[noreturn]] void FailWinsock(long code, const wchar_t* operation) {
    Fail(code, operation, modProcessPorts::GetErrorDescription(code));
}

// The four address bytes in memory order, in decimal, joined by ".".
std::wstring Dotted(unsigned long address) {
    unsigned char b[4];
    std::memcpy(b, &address, 4);
    wchar_t text[16];
    std::swprintf(text, 16, L"%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

bool ParseNumber(const std::wstring& text, double& value) {
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return false;
    const wchar_t* start = text.c_str() + first;
    wchar_t* end = nullptr;
    value = std::wcstod(start, &end);
    if (end == start) return false;
    while (*end == L' ' || *end == L'\t') ++end;
    return *end == 0;
}

// IsNumeric and the value, as the language's Variant conversions see them.
bool NumberOf(const Variant& v, double& value) {
    switch (v.index()) {
    case 0: value = 0; return true;
    case 1: value = std::get<std::int16_t>(v); return true;
    case 2: value = std::get<std::int32_t>(v); return true;
    case 3: value = std::get<float>(v); return true;
    case 4: value = std::get<double>(v); return true;
    case 5: value = static_cast<double>(std::get<clsProcessPorts::Currency>(v).scaled) / 10000.0; return true;
    case 7: value = std::get<bool>(v) ? -1 : 0; return true;
    case 8: value = std::get<std::uint8_t>(v); return true;
    case 9: return ParseNumber(std::get<std::wstring>(v), value);
    default: return false;  // Date, byte array
    }
}

// A port argument: not numeric 40018, outside low..65535 40014.
long PortArgument(const Variant& v, long low, const wchar_t* operation) {
    double value = 0;
    if (!NumberOf(v, value)) Fail(40018, operation, kUnsupportedType);
    if (!(value > -2147483649.0 && value < 2147483648.0)) Fail(40014, operation, kOutOfRange);
    long long port = vb::RoundHalfEven(value);
    if (port < low || port > 65535) Fail(40014, operation, kOutOfRange);
    return static_cast<long>(port);
}

template <class T>
Bytes BytesOfValue(const T& value) {
    Bytes out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out;
}

Bytes BytesOf(const Variant& data) {
    switch (data.index()) {
    case 1: return BytesOfValue(std::get<std::int16_t>(data));
    case 2: return BytesOfValue(std::get<std::int32_t>(data));
    case 3: return BytesOfValue(std::get<float>(data));
    case 4: return BytesOfValue(std::get<double>(data));
    case 5: return BytesOfValue(std::get<clsProcessPorts::Currency>(data).scaled);
    case 6: return BytesOfValue(std::get<clsProcessPorts::Date>(data).value);
    case 7: return BytesOfValue(static_cast<std::int16_t>(std::get<bool>(data) ? -1 : 0));
    case 8: return BytesOfValue(std::get<std::uint8_t>(data));
    case 9: {
        std::string ansi = win::ToAnsi(std::get<std::wstring>(data));
        return Bytes(ansi.begin(), ansi.end());
    }
    case 10: return std::get<Bytes>(data);
    default: Fail(40018, L"SendData", kUnsupportedType);
    }
}

size_t FixedSize(long type) {
    switch (type) {
    case clsProcessPorts::vbBoolean: return 2;
    case clsProcessPorts::vbByte: return 1;
    case clsProcessPorts::vbCurrency: return 8;
    case clsProcessPorts::vbDate: return 8;
    case clsProcessPorts::vbDouble: return 8;
    case clsProcessPorts::vbInteger: return 2;
    case clsProcessPorts::vbLong: return 4;
    case clsProcessPorts::vbSingle: return 4;
    default: return 0;
    }
}

template <class T>
T ValueOfBytes(const Bytes& bytes) {
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

Variant FixedValue(long type, const Bytes& bytes) {
    switch (type) {
    case clsProcessPorts::vbBoolean: return ValueOfBytes<std::int16_t>(bytes) != 0;
    case clsProcessPorts::vbByte: return bytes[0];
    case clsProcessPorts::vbCurrency: return clsProcessPorts::Currency{ValueOfBytes<std::int64_t>(bytes)};
    case clsProcessPorts::vbDate: return clsProcessPorts::Date{ValueOfBytes<double>(bytes)};
    case clsProcessPorts::vbDouble: return ValueOfBytes<double>(bytes);
    case clsProcessPorts::vbInteger: return ValueOfBytes<std::int16_t>(bytes);
    case clsProcessPorts::vbLong: return ValueOfBytes<std::int32_t>(bytes);
    default: return ValueOfBytes<float>(bytes);
    }
}

sockaddr_in InetAddress(unsigned long address, long port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = address;
    return a;
}

}  // namespace

long clsProcessPorts::VarTypeOf(const Variant& value) {
    static const long types[] = {vbEmpty, vbInteger, vbLong, vbSingle, vbDouble, vbCurrency,
                                 vbDate,  vbBoolean, vbByte, vbString, vbByteArray};
    return types[value.index()];
}

clsProcessPorts::clsProcessPorts() {
    modProcessPorts::InitiateProcesses();
}

clsProcessPorts::~clsProcessPorts() {
    life_.reset();
    vb::Try([&] { CancelResolutions(); });
    // An adopting object leaves the connection open for the object that accepts it.
    if (!adopted_) vb::Try([&] { DestroySocket(); });
    vb::Try([&] { modProcessPorts::UnregisterOwner(this); });
    vb::Try([] { modProcessPorts::FinalizeProcesses(); });
}

template <class Handler, class... Args>
void clsProcessPorts::RaiseEvent(const Handler& handler, Args&&... args) {
    if (!handler) return;
    std::weak_ptr<int> life = life_;
    Handler run = handler;  // the holder may destroy the object, and with it Events
    try {
        run(std::forward<Args>(args)...);
    } catch (...) {
    }
    if (life.expired()) throw Released{};
}

void clsProcessPorts::ReportError(long number, const std::wstring& description, const std::wstring& source) {
    state_ = sckError;
    std::weak_ptr<int> life = life_;
    std::wstring text = description;
    bool cancelDisplay = true;
    if (Events.Error) {
        auto run = Events.Error;
        try {
            run(number, text, 0, source, L"", 0, cancelDisplay);
        } catch (...) {
        }
    }
    if (!cancelDisplay) vb::MsgBox(nullptr, text, MB_OK, source);
    if (life.expired()) throw Released{};
}

void clsProcessPorts::ReportWinsock(long code, const wchar_t* operation) {
    ReportError(code, modProcessPorts::GetErrorDescription(code), SourceOf(operation));
}

long clsProcessPorts::WndProc(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    try {
        try {
            if (uMsg == modProcessPorts::kResolveMessage)
                PostResolution(reinterpret_cast<HANDLE>(wParam), modProcessPorts::HiWord(static_cast<long>(lParam)));
            else if (uMsg == modProcessPorts::kSocketMessage)
                PostSocket(modProcessPorts::LoWord(static_cast<long>(lParam)),
                           modProcessPorts::HiWord(static_cast<long>(lParam)));
        } catch (const vb::Error& e) {
            // Nobody called us: a failure while handling a notification is
            // reported, or the object would wait for ever.
            ReportError(e.Number(), e.Description(), e.Source());
        }
    } catch (...) {
    }
    return 0;
}

// ---- properties -------------------------------------------------------------

void clsProcessPorts::RemotePort(long lngPort) {
    if (!IsUdp() && state_ != sckClosed) Fail(40020, L"RemotePort", kInvalidState);
    if (lngPort < 0 || lngPort > 65535) Fail(40014, L"RemotePort", kOutOfRange);
    remotePort_ = lngPort;
}

void clsProcessPorts::RemoteHost(const std::wstring& strHost) {
    if (!IsUdp() && state_ != sckClosed) Fail(40020, L"RemoteHost", kInvalidState);
    remoteHost_ = strHost;
}

void clsProcessPorts::LocalPort(long lngPort) {
    if (state_ != sckClosed) Fail(40020, L"LocalPort", kInvalidState);
    if (lngPort < 0 || lngPort > 65535) Fail(40014, L"LocalPort", kOutOfRange);
    localPort_ = lngPort;
}

std::wstring clsProcessPorts::LocalHostName() const {
    return GetLocalHostName();
}

std::wstring clsProcessPorts::LocalIP() const {
    // Bound to every address, the machine's own address is the one to show.
    if ((state_ == sckOpen || state_ == sckListening) && !boundToAny_) return localIP_;
    return GetLocalIP();
}

long clsProcessPorts::BytesReceived() const {
    if (IsUdp()) return GetBytesAvailable();
    return static_cast<long>(receiveBuffer_.size());
}

void clsProcessPorts::Protocol(long enmProtocol) {
    if (state_ != sckClosed) Fail(40020, L"Protocol", kInvalidState);
    protocol_ = enmProtocol;
}

// ---- socket and connection ------------------------------------------------------

bool clsProcessPorts::SocketExists() {
    if (socket_ != INVALID_SOCKET) return true;
    SOCKET s = IsUdp() ? socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP) : socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        ReportWinsock(WSAGetLastError(), L"SocketExists");
        return false;
    }
    socket_ = s;
    ProcessOptions(s);
    modProcessPorts::RegisterSocket(s, this, true);
    return true;
}

void clsProcessPorts::ProcessOptions(SOCKET socket) {
    auto read = [&](int option) {
        int value = 0;
        int length = sizeof value;
        if (getsockopt(socket, SOL_SOCKET, option, reinterpret_cast<char*>(&value), &length) == SOCKET_ERROR)
            FailWinsock(WSAGetLastError(), L"ProcessOptions");
        return static_cast<long>(value);
    };
    if (!IsUdp()) {
        receiveSize_ = read(SO_RCVBUF);
        sendChunkSize_ = read(SO_SNDBUF);
        return;
    }
    BOOL on = TRUE;
    if (setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == SOCKET_ERROR)
        FailWinsock(WSAGetLastError(), L"ProcessOptions");
    receiveSize_ = sendChunkSize_ = read(SO_MAX_MSG_SIZE);
}

void clsProcessPorts::DestroySocket() {
    if (socket_ == INVALID_SOCKET) return;
    SOCKET s = socket_;
    bool failed = closesocket(s) == SOCKET_ERROR;
    long code = failed ? WSAGetLastError() : 0;
    // The number is free for the next socket at once: no route may stay.
    socket_ = INVALID_SOCKET;
    modProcessPorts::UnregisterSocket(s);
    if (failed) {
        state_ = sckError;
        FailWinsock(code, L"DestroySocket");
    }
}

void clsProcessPorts::ResetConnection() {
    boundLocalPort_ = 0;
    boundToAny_ = false;
    remoteHostIP_.clear();
    receiveBuffer_.clear();
    sendBuffer_.clear();
    sendChunkSize_ = 0;
    receiveSize_ = 0;
}

void clsProcessPorts::CloseSck() {
    if (socket_ == INVALID_SOCKET) {
        // Left in the error state without a socket (its creation or its
        // closing failed): closing still makes the object usable again.
        if (state_ != sckClosed) {
            CancelResolutions();
            ResetConnection();
            state_ = sckClosed;
        }
        return;
    }
    state_ = sckClosing;
    CancelResolutions();
    DestroySocket();
    ResetConnection();
    state_ = sckClosed;
}

void clsProcessPorts::Connect(std::optional<std::wstring> remoteHost, std::optional<Variant> remotePort) {
    if (state_ != sckClosed) Fail(40020, L"Connect", kInvalidState);
    if (remoteHost) remoteHost_ = *remoteHost;
    if (remotePort) remotePort_ = PortArgument(*remotePort, 1, L"Connect");
    try {
        if (!SocketExists()) return;
        if (IsUdp()) {
            if (BindInternal()) state_ = sckOpen;
            return;
        }
        std::optional<unsigned long> address = ResolveIfHostname(remoteHost_, 0);
        if (address) ConnectToIP(*address, 0);
    } catch (const Released&) {
    }
}

std::optional<unsigned long> clsProcessPorts::ResolveIfHostname(const std::wstring& host, long connectFlag) {
    std::string ansi = win::ToAnsi(host);
    unsigned long address = inet_addr(ansi.c_str());
    if (address != INADDR_NONE) return address;
    state_ = sckResolvingHost;
    HANDLE handle = nullptr;
    try {
        handle = modProcessPorts::StartHostResolution(host, this);
    } catch (const std::bad_alloc&) {
        state_ = sckError;
        Fail(7, L"ResolveIfHostname", L"Out of memory");
    }
    if (!handle) {
        ReportWinsock(WSAGetLastError(), L"ResolveIfHostname");
        return std::nullopt;
    }
    pendingLookups_[handle] = connectFlag;
    return std::nullopt;  // pending: PostResolution goes on
}

void clsProcessPorts::PostResolution(HANDLE handle, long error) {
    if (state_ != sckResolvingHost) return;
    auto it = pendingLookups_.find(handle);
    if (it == pendingLookups_.end()) return;
    long item = it->second;
    pendingLookups_.erase(it);
    unsigned long address = 0;
    if (error == 0) {
        const hostent* entry = modProcessPorts::ResolutionResult(handle);
        if (entry && entry->h_addr_list && entry->h_addr_list[0])
            std::memcpy(&address, entry->h_addr_list[0], 4);
        else
            error = WSANO_DATA;
    }
    modProcessPorts::UnregisterResolution(handle);
    if (error != 0) {
        if (item == 0) ConnectToIP(0, error);
        return;
    }
    state_ = sckHostResolved;
    if (item == 0) ConnectToIP(address, 0);
}

void clsProcessPorts::ConnectToIP(unsigned long address, long error) {
    if (error != 0) {
        ReportWinsock(error, L"ConnectToIP");
        return;
    }
    if (!BindInternal()) return;
    state_ = sckConnecting;
    sockaddr_in to = InetAddress(address, remotePort_);
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return;
    long code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return;  // the connect notification follows
    if (code == WSAEADDRNOTAVAIL) FailWinsock(code, L"ConnectToIP");
    ReportWinsock(code, L"ConnectToIP");
}

void clsProcessPorts::Bind(std::optional<Variant> localPort, std::optional<std::wstring> localIP) {
    if (state_ != sckClosed) Fail(40020, L"Bind", kInvalidState);
    try {
        if (BindInternal(std::move(localPort), std::move(localIP))) state_ = sckOpen;
    } catch (const Released&) {
    }
}

bool clsProcessPorts::BindInternal(std::optional<Variant> localPort, std::optional<std::wstring> localIP) {
    if (state_ == sckOpen) return true;
    long port = localPort ? PortArgument(*localPort, 0, L"BindInternal") : localPort_;
    unsigned long address = INADDR_ANY;
    std::wstring dotted = L"0.0.0.0";
    bool any = !localIP || localIP->empty();
    if (!any) {
        Address resolved = GetAddressSync(*localIP);
        if (resolved.error != 0) Fail(40014, L"BindInternal", kInvalidArgument);
        address = resolved.address;
        dotted = resolved.dotted;
    }
    if (!SocketExists()) return false;
    sockaddr_in at = InetAddress(address, port);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&at), sizeof at) == SOCKET_ERROR)
        FailWinsock(WSAGetLastError(), L"BindInternal");
    localIP_ = dotted;
    boundToAny_ = any;
    if (port != 0)
        localPort_ = port;
    else
        boundLocalPort_ = GetLocalPortOf(socket_);
    return true;
}

clsProcessPorts::Address clsProcessPorts::GetAddressSync(const std::wstring& host) {
    Address result;
    if (host.empty()) {
        result.error = WSAEAFNOSUPPORT;
        result.address = 1;
        return result;
    }
    std::string ansi = win::ToAnsi(host);
    unsigned long address = inet_addr(ansi.c_str());
    if (address == INADDR_NONE) {
        const hostent* entry = gethostbyname(ansi.c_str());
        if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
            result.error = WSAGetLastError();
            if (result.error == 0) result.error = WSAHOST_NOT_FOUND;
            result.address = 1;
            return result;
        }
        std::memcpy(&address, entry->h_addr_list[0], 4);
    }
    result.address = address;
    result.dotted = Dotted(address);
    return result;
}

std::wstring clsProcessPorts::GetLocalHostName() const {
    char name[256] = {};
    if (gethostname(name, sizeof name) == SOCKET_ERROR) FailWinsock(WSAGetLastError(), L"GetLocalHostName");
    name[sizeof name - 1] = 0;
    return win::FromAnsi(name);
}

std::wstring clsProcessPorts::GetLocalIP() const {
    std::string name = win::ToAnsi(GetLocalHostName());
    const hostent* entry = gethostbyname(name.c_str());
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
        long code = WSAGetLastError();
        FailWinsock(code ? code : WSAHOST_NOT_FOUND, L"GetLocalIP");
    }
    unsigned long address = 0;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return Dotted(address);
}

long clsProcessPorts::GetLocalPortOf(SOCKET socket) const {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
        FailWinsock(WSAGetLastError(), L"GetLocalPortOf");
    return ntohs(local.sin_port);
}

void clsProcessPorts::Listen() {
    if (state_ != sckClosed && state_ != sckOpen) Fail(40020, L"Listen", kInvalidState);
    try {
        if (!SocketExists()) return;
        if (!BindInternal()) return;
        if (listen(socket_, 5) == SOCKET_ERROR) FailWinsock(WSAGetLastError(), L"Listen");
        state_ = sckListening;
    } catch (const Released&) {
    }
}

// ---- notifications ----------------------------------------------------------------

void clsProcessPorts::PostSocket(long event, long error) {
    if (error != 0) {
        ReportWinsock(error, L"PostSocket");
        return;
    }
    switch (event) {
    case FD_READ:
        if (!IsUdp() && state_ == sckConnected) {
            if (RecvDataToBuffer() > 0) RaiseEvent(Events.DataArrival, static_cast<long>(receiveBuffer_.size()));
        } else if (IsUdp() && state_ == sckOpen) {
            ReceiveDatagramNotification();
        }
        break;
    case FD_WRITE:
        if (state_ == sckConnected && !sendBuffer_.empty()) SendBufferedDispatch();
        break;
    case FD_ACCEPT:
        if (state_ == sckListening) OnAcceptNotification();
        break;
    case FD_CONNECT:
        if (state_ == sckConnecting) {
            sockaddr_in peer{};
            int length = sizeof peer;
            if (getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
                remotePort_ = ntohs(peer.sin_port);
                remoteHostIP_ = Dotted(peer.sin_addr.s_addr);
            }
            state_ = sckConnected;
            RaiseEvent(Events.Connect);
        }
        break;
    case FD_CLOSE:
        if (state_ == sckConnected) {
            DrainBeforeClose();
            if (state_ != sckConnected) return;  // the holder closed it meanwhile
            state_ = sckClosing;
            RaiseEvent(Events.CloseSck);
        }
        break;
    default:
        break;
    }
}

// What the peer sent before it closed stays readable: it is taken in now.
void clsProcessPorts::DrainBeforeClose() {
    size_t before = receiveBuffer_.size();
    while (RecvDataToBuffer() > 0) {
    }
    if (receiveBuffer_.size() > before) RaiseEvent(Events.DataArrival, static_cast<long>(receiveBuffer_.size()));
}

void clsProcessPorts::OnAcceptNotification() {
    SOCKET accepted = accept(socket_, nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        long code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK) return;  // nothing waiting after all
        FailWinsock(code, L"PostSocket");
    }
    try {
        modProcessPorts::RegisterAccept(accepted);
    } catch (...) {
        closesocket(accepted);
        modProcessPorts::UnregisterSocket(accepted);
        throw;
    }
    long savedPort = remotePort_;
    std::wstring savedIP = remoteHostIP_;
    std::wstring savedHost = remoteHost_;
    GetRemoteInfo(accepted);
    bool released = false;
    try {
        RaiseEvent(Events.ConnectionRequest, static_cast<long>(accepted));
    } catch (const Released&) {
        released = true;
    }
    if (!released && state_ == sckListening) {
        remotePort_ = savedPort;
        remoteHostIP_ = savedIP;
        remoteHost_ = savedHost;
    }
    // Not accepted by anybody: the connection is closed.
    if (modProcessPorts::IsAcceptRegistered(accepted)) {
        closesocket(accepted);
        modProcessPorts::UnregisterSocket(accepted);
        vb::Try([&] { modProcessPorts::UnregisterAccept(accepted); });
    }
    if (released) throw Released{};
}

long clsProcessPorts::RecvDataToBuffer() {
    if (receiveSize_ <= 0) {
        state_ = sckError;
        FailWinsock(WSAENOBUFS, L"RecvDataToBuffer");
    }
    Bytes chunk(static_cast<size_t>(receiveSize_));
    int k = recv(socket_, reinterpret_cast<char*>(chunk.data()), receiveSize_, 0);
    if (k == SOCKET_ERROR) {
        long code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK) return 0;  // nothing there after all
        state_ = sckError;
        FailWinsock(code, L"RecvDataToBuffer");
    }
    receiveBuffer_.insert(receiveBuffer_.end(), chunk.begin(), chunk.begin() + k);
    return k;
}

void clsProcessPorts::ReceiveDatagramNotification() {
    long available = GetBytesAvailable();
    unsigned long takenBefore = datagramsTaken_;
    if (available > 0) RaiseEvent(Events.DataArrival, available);
    if (socket_ == INVALID_SOCKET || state_ != sckOpen) return;
    // A datagram the holder did not take would block every later one.
    if (datagramsTaken_ == takenBefore && (available > 0 || ZeroLengthDatagramWaiting())) EmptyBuffer();
}

// ---- sending ------------------------------------------------------------------------

void clsProcessPorts::SendData(const Variant& data) {
    try {
        if (IsUdp()) {
            if (!SocketExists() || !BindInternal()) return;
            state_ = sckOpen;
        } else if (state_ != sckConnected) {
            Fail(40006, L"SendData", kWrongState);
        }
        Bytes bytes = BytesOf(data);
        if (bytes.empty()) return;
        bool wasEmpty = sendBuffer_.empty();
        sendBuffer_.insert(sendBuffer_.end(), bytes.begin(), bytes.end());
        if (wasEmpty) SendBufferedDispatch();
    } catch (const vb::Error&) {
        vb::MsgBox(nullptr, L"Winsock Error", MB_OK | MB_ICONERROR, L"Aleart");
    } catch (const Released&) {
    }
}

void clsProcessPorts::SendBufferedDispatch() {
    if (IsUdp())
        SendBufferedDataUDP();
    else
        SendBufferedData();
}

void clsProcessPorts::SendBufferedData() {
    long total = 0;
    while (!sendBuffer_.empty()) {
        if (sendChunkSize_ <= 0) {
            ReportWinsock(WSAENOBUFS, L"SendBufferedData");
            return;
        }
        size_t chunk = std::min(static_cast<size_t>(sendChunkSize_), sendBuffer_.size());
        int k = send(socket_, reinterpret_cast<const char*>(sendBuffer_.data()), static_cast<int>(chunk), 0);
        if (k == SOCKET_ERROR) {
            long code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK) {
                // The write notification carries on.
                if (total > 0) RaiseEvent(Events.SendProgress, total, static_cast<long>(sendBuffer_.size()));
                return;
            }
            ReportWinsock(code, L"SendBufferedData");
            return;
        }
        total += k;
        if (static_cast<size_t>(k) == sendBuffer_.size()) {
            sendBuffer_.clear();
            long sent = total;
            total = 0;
            RaiseEvent(Events.SendProgress, sent, 0L);
            RaiseEvent(Events.SendComplete);
        } else {
            sendBuffer_.erase(sendBuffer_.begin(), sendBuffer_.begin() + k);
        }
    }
}

void clsProcessPorts::SendBufferedDataUDP() {
    Address to = GetAddressSync(remoteHost_);
    if (to.error != 0) {
        sendBuffer_.clear();
        if (remoteHost_.empty()) FailWinsock(WSAEAFNOSUPPORT, L"SendBufferedDataUDP");
        Fail(40014, L"SendBufferedDataUDP", kInvalidArgument);
    }
    Bytes datagram;
    datagram.swap(sendBuffer_);
    sockaddr_in target = InetAddress(to.address, remotePort_);
    if (sendto(socket_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR)
        ReportWinsock(WSAGetLastError(), L"SendBufferedDataUDP");
}

// ---- receiving ------------------------------------------------------------------------

void clsProcessPorts::GetData(Variant& data, std::optional<long> varType, std::optional<Variant> maxLen) {
    TakeData(data, varType, std::move(maxLen), false, L"GetData");
}

void clsProcessPorts::PeekData(Variant& data, std::optional<long> varType, std::optional<Variant> maxLen) {
    TakeData(data, varType, std::move(maxLen), true, L"PeekData");
}

void clsProcessPorts::TakeData(Variant& data, std::optional<long> varType, std::optional<Variant> maxLen,
                               bool peek, const wchar_t* operation) {
    long available;
    if (IsUdp()) {
        if (state_ != sckOpen) Fail(40006, operation, kWrongState);
        available = GetBytesAvailable();
        if (available == 0) return;
    } else {
        // After the peer closed, what it sent is still there to take; an
        // adopting object hands its data over in any state.
        bool allowed = state_ == sckConnected || state_ == sckClosing || (!peek && adopted_);
        if (!allowed) Fail(40006, operation, kWrongState);
        available = static_cast<long>(receiveBuffer_.size());
    }
    std::optional<long> limit;
    if (maxLen) {
        double value = 0;
        if (!NumberOf(*maxLen, value)) {
            limit = available;
        } else {
            if (value < 0) Fail(40014, operation, kOutOfRange);
            limit = value >= static_cast<double>(LONG_MAX) ? LONG_MAX : static_cast<long>(vb::RoundHalfEven(value));
        }
    }
    RecvData(data, peek, varType, limit);
}

long clsProcessPorts::RecvData(Variant& data, bool peek, std::optional<long> varType, std::optional<long> maxLen) {
    long available = IsUdp() ? GetBytesAvailable() : static_cast<long>(receiveBuffer_.size());
    long type = data.index() != 0 ? VarTypeOf(data) : (varType ? *varType : vbByteArray);
    if (type == vbString || type == vbByteArray) {
        size_t count;
        if (!maxLen) {
            if (available == 0) {
                data = Bytes{};
                return 0;
            }
            count = static_cast<size_t>(available);
        } else {
            if (*maxLen == 0 || available == 0) {
                data = Bytes{};
                if (IsUdp()) {
                    EmptyBuffer();
                    FailWinsock(WSAEMSGSIZE, L"RecvData");
                }
                return 0;
            }
            count = static_cast<size_t>(std::min(*maxLen, available));
        }
        Bytes taken = TakeBytes(count, peek);
        long n = static_cast<long>(taken.size());
        if (type == vbString)
            data = win::FromAnsi(std::string(taken.begin(), taken.end()));
        else
            data = std::move(taken);
        return n;
    }
    size_t size = FixedSize(type);
    if (size == 0) Fail(40018, L"RecvData", kUnsupportedType);
    if (static_cast<size_t>(available) < size) return 0;
    Bytes taken = TakeBytes(size, peek);
    if (taken.size() < size) return static_cast<long>(taken.size());
    data = FixedValue(type, taken);
    return static_cast<long>(size);
}

clsProcessPorts::Bytes clsProcessPorts::TakeBytes(size_t count, bool peek) {
    if (IsUdp()) {
        Bytes datagram(count);
        sockaddr_in from{};
        int fromLength = sizeof from;
        int k = recvfrom(socket_, reinterpret_cast<char*>(datagram.data()), static_cast<int>(count),
                         peek ? MSG_PEEK : 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (k == SOCKET_ERROR) {
            long code = WSAGetLastError();
            if (!peek && code == WSAEMSGSIZE) ++datagramsTaken_;  // gone, though cut short
            FailWinsock(code, L"RecvData");
        }
        if (!peek) ++datagramsTaken_;
        datagram.resize(static_cast<size_t>(k));  // what arrived, not what was asked for
        GetRemoteInfoFromAddress(from);
        return datagram;
    }
    count = std::min(count, receiveBuffer_.size());
    Bytes taken(receiveBuffer_.begin(), receiveBuffer_.begin() + count);
    if (!peek) receiveBuffer_.erase(receiveBuffer_.begin(), receiveBuffer_.begin() + count);
    return taken;
}

// ---- accepting --------------------------------------------------------------------------

void clsProcessPorts::Adopt(SOCKET socket) {
    protocol_ = sckTCPProtocol;
    ProcessOptions(socket);
    socket_ = socket;
    adopted_ = true;
    state_ = sckConnected;
    // No events of its own: the accepted socket keeps the listener's notifications.
    modProcessPorts::RegisterSocket(socket, this, false);
}

void clsProcessPorts::Accept(long requestID) {
    if (state_ != sckClosed) Fail(40020, L"Accept", kInvalidState);
    SOCKET socket = static_cast<SOCKET>(requestID);
    // Only a connection waiting in a ConnectionRequest can be taken over.
    if (!modProcessPorts::IsAcceptRegistered(socket)) Fail(40006, L"Accept", kWrongState);
    long savedProtocol = protocol_;
    protocol_ = sckTCPProtocol;
    sockaddr_in local{};
    int length = sizeof local;
    try {
        ProcessOptions(socket);
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
            FailWinsock(WSAGetLastError(), L"Accept");
    } catch (...) {
        protocol_ = savedProtocol;
        throw;
    }
    std::shared_ptr<clsProcessPorts> adopter = modProcessPorts::GetAcceptClass(socket);
    modProcessPorts::UnregisterAccept(socket);
    // A failed Bind or Listen leaves a socket behind in state 0: it goes
    // before the connection takes its place.
    vb::Try([&] { DestroySocket(); });
    socket_ = socket;
    boundLocalPort_ = ntohs(local.sin_port);
    localIP_ = Dotted(local.sin_addr.s_addr);
    GetRemoteInfo(socket);
    state_ = sckConnected;
    receiveBuffer_ = std::move(adopter->receiveBuffer_);
    adopter->receiveBuffer_.clear();
    modProcessPorts::ModifySocketEntry(socket, this);
    try {
        if (!receiveBuffer_.empty()) RaiseEvent(Events.DataArrival, static_cast<long>(receiveBuffer_.size()));
        if (state_ == sckConnected && adopter->state_ == sckClosing) {
            state_ = sckClosing;
            RaiseEvent(Events.CloseSck);
        }
    } catch (const Released&) {
    }
}

// ---- helpers ------------------------------------------------------------------------------

void clsProcessPorts::CancelResolutions() {
    for (const auto& lookup : pendingLookups_) modProcessPorts::CancelResolution(lookup.first);
    pendingLookups_.clear();
}

void clsProcessPorts::GetRemoteInfo(SOCKET socket) {
    sockaddr_in peer{};
    int length = sizeof peer;
    remoteHost_.clear();
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == SOCKET_ERROR) {
        remotePort_ = 0;
        remoteHostIP_.clear();
        return;
    }
    remotePort_ = ntohs(peer.sin_port);
    remoteHostIP_ = Dotted(peer.sin_addr.s_addr);
}

void clsProcessPorts::GetRemoteInfoFromAddress(const sockaddr_in& address) {
    remotePort_ = ntohs(address.sin_port);
    remoteHostIP_ = Dotted(address.sin_addr.s_addr);
    remoteHost_.clear();
}

long clsProcessPorts::GetBytesAvailable() const {
    u_long count = 0;
    if (socket_ == INVALID_SOCKET || ioctlsocket(socket_, FIONREAD, &count) == SOCKET_ERROR) return 0;
    return static_cast<long>(count);
}

// Discards the datagram now first in the queue.
void clsProcessPorts::EmptyBuffer() {
    char byte;
    recv(socket_, &byte, 1, 0);
    ++datagramsTaken_;
}

bool clsProcessPorts::ZeroLengthDatagramWaiting() const {
    char byte;
    sockaddr_in from{};
    int length = sizeof from;
    return recvfrom(socket_, &byte, 1, MSG_PEEK, reinterpret_cast<sockaddr*>(&from), &length) == 0;
}
