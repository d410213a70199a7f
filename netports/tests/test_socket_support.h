#pragma once
// What the socket tests share: an event log per object, pumping, error checks
// and a connected TCP pair on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "netports/clsProcessPorts.h"
#include "platform/vb/VbError.h"
#include "tests/helpers/TestSupport.h"

namespace sockettest {

using Variant = clsProcessPorts::Variant;
using Bytes = clsProcessPorts::Bytes;

struct RaisedError {
    long number = 0;
    std::wstring description;
    std::wstring source;
};

// Everything an object raised, in order.
struct EventLog {
    std::vector<std::string> events;
    std::vector<long> arrivals;
    std::vector<long> requests;
    std::vector<std::pair<long, long>> progress;
    std::vector<RaisedError> errors;
    bool showErrorBox = false;

    size_t Count(const std::string& name) const {
        size_t n = 0;
        for (const auto& e : events) n += e == name;
        return n;
    }
};

inline void Attach(clsProcessPorts& socket, EventLog& log) {
    socket.Events.CloseSck = [&log] { log.events.push_back("CloseSck"); };
    socket.Events.Connect = [&log] { log.events.push_back("Connect"); };
    socket.Events.ConnectionRequest = [&log](long id) {
        log.events.push_back("ConnectionRequest");
        log.requests.push_back(id);
    };
    socket.Events.DataArrival = [&log](long total) {
        log.events.push_back("DataArrival");
        log.arrivals.push_back(total);
    };
    socket.Events.Error = [&log](long number, std::wstring& description, long, const std::wstring& source,
                                 const std::wstring&, long, bool& cancelDisplay) {
        log.events.push_back("Error");
        log.errors.push_back({number, description, source});
        if (log.showErrorBox) cancelDisplay = false;
    };
    socket.Events.SendComplete = [&log] { log.events.push_back("SendComplete"); };
    socket.Events.SendProgress = [&log](long sent, long remaining) {
        log.events.push_back("SendProgress");
        log.progress.push_back({sent, remaining});
    };
}

inline bool Pump(const std::function<bool()>& pred, DWORD ms = 5000) {
    return testsupport::PumpUntil(pred, ms);
}

// Runs f and checks the vb::Error it must raise.
template <class F>
void ExpectRaises(F&& f, long number, const std::wstring& source, const std::wstring& description = L"") {
    try {
        f();
        ADD_FAILURE() << "no error raised, expected " << number;
    } catch (const vb::Error& e) {
        EXPECT_EQ(e.Number(), number);
        EXPECT_EQ(e.Source(), source);
        if (!description.empty()) {
            EXPECT_EQ(e.Description(), description);
        }
    }
}

inline std::wstring TextOf(const Variant& v) {
    if (auto s = std::get_if<std::wstring>(&v)) return *s;
    if (auto b = std::get_if<Bytes>(&v)) return std::wstring(b->begin(), b->end());
    return L"<not text>";
}

inline Bytes BytesOfText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A listener on a free port of 127.0.0.1 and a client connected to it; the
// server side accepts into its own object.
struct TcpPair {
    EventLog listenerLog, clientLog, serverLog;  // outlive the objects
    std::unique_ptr<clsProcessPorts> listener = std::make_unique<clsProcessPorts>();
    std::unique_ptr<clsProcessPorts> client = std::make_unique<clsProcessPorts>();
    std::unique_ptr<clsProcessPorts> server;
    long port = 0;

    TcpPair() {
        Attach(*listener, listenerLog);
        Attach(*client, clientLog);
        listener->Events.ConnectionRequest = [this](long id) {
            listenerLog.events.push_back("ConnectionRequest");
            listenerLog.requests.push_back(id);
            server = std::make_unique<clsProcessPorts>();
            Attach(*server, serverLog);
            server->Accept(id);
        };
        listener->Listen();
        port = listener->LocalPort();
    }

    bool Connect() {
        client->Connect(L"127.0.0.1", static_cast<int>(port));
        return Pump([&] {
            return client->State() == clsProcessPorts::sckConnected && server &&
                   server->State() == clsProcessPorts::sckConnected;
        });
    }
};

// A port of 127.0.0.1 that nobody listens on (while a socket object keeps
// Winsock started).
inline long ClosedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    closesocket(s);
    return ntohs(a.sin_port);
}

}  // namespace sockettest
