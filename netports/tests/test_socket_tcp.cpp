// TCP through clsProcessPorts on 127.0.0.1: client and server in this process.
#include <algorithm>
#include <numeric>

#include "netports/tests/test_socket_support.h"

using namespace sockettest;
using S = clsProcessPorts;

TEST(SocketTcp, ConnectAcceptAndTalkBothWays) {
    TcpPair p;
    ASSERT_EQ(p.listener->State(), S::sckListening);
    ASSERT_GT(p.port, 0);
    p.client->Connect(L"127.0.0.1", static_cast<int>(p.port));
    EXPECT_EQ(p.client->State(), S::sckConnecting);  // a dotted address needs no lookup
    ASSERT_TRUE(Pump([&] { return p.client->State() == S::sckConnected && p.server; }));

    EXPECT_EQ(p.clientLog.events, std::vector<std::string>{"Connect"});
    EXPECT_EQ(p.client->RemotePort(), p.port);
    EXPECT_EQ(p.client->RemoteHostIP(), L"127.0.0.1");
    EXPECT_EQ(p.server->State(), S::sckConnected);
    EXPECT_EQ(p.server->RemotePort(), p.client->LocalPort());
    EXPECT_EQ(p.server->RemoteHostIP(), L"127.0.0.1");
    EXPECT_EQ(p.server->LocalPort(), p.port);
    // The listener listens on, with its own peer values put back.
    EXPECT_EQ(p.listener->State(), S::sckListening);
    EXPECT_EQ(p.listener->RemoteHostIP(), L"");
    EXPECT_FALSE(modProcessPorts::IsAcceptRegistered(static_cast<SOCKET>(p.listenerLog.requests.at(0))));

    p.client->SendData(std::wstring(L"hello"));
    EXPECT_EQ(p.clientLog.Count("SendComplete"), 1u);
    ASSERT_TRUE(Pump([&] { return p.server->BytesReceived() == 5; }));
    Variant text = std::wstring();
    p.server->GetData(text);
    EXPECT_EQ(std::get<std::wstring>(text), L"hello");
    EXPECT_EQ(p.server->BytesReceived(), 0);

    p.server->SendData(std::int32_t{0x01020304});
    p.server->SendData(Bytes{9, 8, 7});
    ASSERT_TRUE(Pump([&] { return p.client->BytesReceived() == 7; }));
    Variant number = std::int32_t{0};
    p.client->PeekData(number);
    EXPECT_EQ(std::get<std::int32_t>(number), 0x01020304);
    EXPECT_EQ(p.client->BytesReceived(), 7);  // peeking takes nothing
    p.client->GetData(number);
    EXPECT_EQ(p.client->BytesReceived(), 3);
    // A Long needs four bytes: with three waiting nothing changes.
    Variant tooShort = std::int32_t{77};
    p.client->GetData(tooShort);
    EXPECT_EQ(std::get<std::int32_t>(tooShort), 77);
    EXPECT_EQ(p.client->BytesReceived(), 3);
    Variant rest;
    p.client->GetData(rest, std::nullopt, 2);
    EXPECT_EQ(std::get<Bytes>(rest), (Bytes{9, 8}));
    p.client->GetData(rest);
    EXPECT_EQ(std::get<Bytes>(rest), (Bytes{7}));
}

TEST(SocketTcp, LargeSendGoesInChunksAndTheWriteNotificationCarriesOn) {
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    Bytes big(24 * 1024 * 1024);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + (i >> 13));
    Bytes received;
    received.reserve(big.size());
    p.server->Events.DataArrival = [&](long) {
        Variant chunk;
        p.server->GetData(chunk);
        const Bytes& b = std::get<Bytes>(chunk);
        received.insert(received.end(), b.begin(), b.end());
    };
    p.client->SendData(big);
    // More than the socket takes at once: the rest waits for the write notification.
    EXPECT_EQ(p.clientLog.Count("SendComplete"), 0u);
    ASSERT_FALSE(p.clientLog.progress.empty());
    EXPECT_GT(p.clientLog.progress.front().second, 0);
    ASSERT_TRUE(Pump([&] { return p.clientLog.Count("SendComplete") == 1; }, 30000));
    ASSERT_TRUE(Pump([&] { return received.size() == big.size(); }, 30000));
    EXPECT_TRUE(received == big);
    // One progress report per interrupted run, and (total, 0) right before the end.
    EXPECT_EQ(p.clientLog.events.back(), "SendComplete");
    EXPECT_EQ(p.clientLog.progress.back().second, 0);
    long long reported = 0;
    for (const auto& pr : p.clientLog.progress) reported += pr.first;
    EXPECT_EQ(reported, static_cast<long long>(big.size()));
}

TEST(SocketTcp, DataSentBeforeThePeerClosedStaysReadable) {
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    p.client->SendData(std::wstring(L"last words"));
    p.client->CloseSck();
    EXPECT_EQ(p.client->State(), S::sckClosed);
    EXPECT_EQ(p.client->SocketHandle(), -1);
    ASSERT_TRUE(Pump([&] { return p.server->State() == S::sckClosing; }));
    EXPECT_EQ(p.serverLog.events, (std::vector<std::string>{"DataArrival", "CloseSck"}));
    Variant text = std::wstring();
    p.server->GetData(text);
    EXPECT_EQ(std::get<std::wstring>(text), L"last words");
    p.server->CloseSck();
    EXPECT_EQ(p.server->State(), S::sckClosed);
    EXPECT_TRUE(p.clientLog.errors.empty());
}

TEST(SocketTcp, ServerCloseReachesTheClient) {
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    p.server->CloseSck();
    ASSERT_TRUE(Pump([&] { return p.client->State() == S::sckClosing; }));
    EXPECT_EQ(p.clientLog.Count("CloseSck"), 1u);
    p.client->CloseSck();
    EXPECT_EQ(p.client->State(), S::sckClosed);
    EXPECT_EQ(p.client->RemoteHostIP(), L"");
    // A closed object connects again.
    p.client->Connect(L"127.0.0.1", static_cast<int>(p.port));
    ASSERT_TRUE(Pump([&] { return p.client->State() == S::sckConnected; }));
}

TEST(SocketTcp, AConnectionNobodyAcceptsIsClosed) {
    S listener;
    EventLog log;
    Attach(listener, log);
    listener.RemoteHost(L"kept");
    listener.Listen();
    S client;
    EventLog clientLog;
    Attach(client, clientLog);
    client.Connect(L"127.0.0.1", static_cast<int>(listener.LocalPort()));
    ASSERT_TRUE(Pump([&] { return client.State() == S::sckClosing; }));
    EXPECT_EQ(log.events, std::vector<std::string>{"ConnectionRequest"});
    EXPECT_EQ(listener.State(), S::sckListening);
    EXPECT_EQ(listener.RemoteHost(), L"kept");
    EXPECT_EQ(listener.RemoteHostIP(), L"");
    EXPECT_FALSE(modProcessPorts::IsAcceptRegistered(static_cast<SOCKET>(log.requests.at(0))));
    EXPECT_FALSE(modProcessPorts::IsSocketRegistered(static_cast<SOCKET>(log.requests.at(0))));
}

TEST(SocketTcp, DataAndCloseBeforeAcceptComeRightAfterIt) {
    S listener;
    listener.Listen();
    S client;
    std::unique_ptr<S> server;
    EventLog serverLog;
    std::vector<std::string> seenInsideAccept;
    listener.Events.ConnectionRequest = [&](long id) {
        // The peer talks and leaves while the request is still open.
        ASSERT_TRUE(Pump([&] { return client.State() == S::sckConnected; }));
        client.SendData(std::wstring(L"early"));
        client.CloseSck();
        auto adopter = modProcessPorts::GetAcceptClass(static_cast<SOCKET>(id));
        ASSERT_TRUE(Pump([&] { return adopter->State() == S::sckClosing; }));
        adopter.reset();
        server = std::make_unique<S>();
        Attach(*server, serverLog);
        server->Accept(id);
        seenInsideAccept = serverLog.events;
    };
    client.Connect(L"127.0.0.1", static_cast<int>(listener.LocalPort()));
    ASSERT_TRUE(Pump([&] { return server != nullptr; }));
    EXPECT_EQ(seenInsideAccept, (std::vector<std::string>{"DataArrival", "CloseSck"}));
    EXPECT_EQ(serverLog.arrivals, std::vector<long>{5});
    EXPECT_EQ(server->State(), S::sckClosing);
    Variant text = std::wstring();
    server->GetData(text);
    EXPECT_EQ(std::get<std::wstring>(text), L"early");
}

TEST(SocketTcp, ConnectByNameLooksUpLocalhost) {
    TcpPair p;
    p.client->Connect(L"localhost", static_cast<int>(p.port));
    EXPECT_EQ(p.client->State(), S::sckResolvingHost);
    EXPECT_EQ(modProcessPorts::ResolveTableCount(), 1);
    ASSERT_TRUE(Pump([&] { return p.client->State() == S::sckConnected; }));
    EXPECT_EQ(p.client->RemoteHostIP(), L"127.0.0.1");
    EXPECT_EQ(p.client->RemoteHost(), L"localhost");
    EXPECT_TRUE(p.clientLog.errors.empty());
    EXPECT_EQ(modProcessPorts::RetainedLookupCount(), 0);
}

TEST(SocketTcp, ALookupCancelledByCloseOrDestructionReachesNobody) {
    S keeper;  // keeps the window, so the lookups' completions arrive
    keeper.Listen();
    S closed;
    EventLog closedLog;
    Attach(closed, closedLog);
    closed.Connect(L"localhost", static_cast<int>(keeper.LocalPort()));
    closed.CloseSck();
    EXPECT_EQ(closed.State(), S::sckClosed);

    auto destroyed = std::make_unique<S>();
    EventLog destroyedLog;
    Attach(*destroyed, destroyedLog);
    destroyed->Connect(L"localhost", static_cast<int>(keeper.LocalPort()));
    ASSERT_EQ(destroyed->State(), S::sckResolvingHost);
    destroyed.reset();
    // Their buffers stay until the lookups have finished writing them.
    EXPECT_EQ(modProcessPorts::RetainedLookupCount(), 2);
    ASSERT_TRUE(Pump([] { return modProcessPorts::RetainedLookupCount() == 0; }));
    EXPECT_EQ(closed.State(), S::sckClosed);
    EXPECT_TRUE(closedLog.events.empty());
    EXPECT_TRUE(destroyedLog.events.empty());
}

namespace {

// Lookups that never run and a cancel as documented: success only for a
// pending lookup, which then posts nothing.  (Wine's cancel answers success
// for anything: the test above shows the buffers waiting for the completions
// there.)
std::vector<HANDLE> g_pending;
HANDLE WSAAPI FakeStart(HWND, u_int, const char*, char*, int) {
    static ULONG_PTR next = 0x7000;
    g_pending.push_back(reinterpret_cast<HANDLE>(++next));
    return g_pending.back();
}
int WSAAPI FakeCancel(HANDLE handle) {
    auto it = std::find(g_pending.begin(), g_pending.end(), handle);
    if (it == g_pending.end()) return SOCKET_ERROR;
    g_pending.erase(it);
    return 0;
}

}  // namespace

TEST(SocketTcp, ALookupReallyCancelledFreesItsBufferAtOnce) {
    const modProcessPorts::LookupCalls saved = modProcessPorts::Lookups();
    modProcessPorts::Lookups() = {FakeStart, FakeCancel};
    S closed;
    closed.Connect(L"nowhere.example", 80);
    EXPECT_EQ(closed.State(), S::sckResolvingHost);
    closed.CloseSck();
    auto destroyed = std::make_unique<S>();
    destroyed->Connect(L"nowhere.example", 80);
    EXPECT_EQ(destroyed->State(), S::sckResolvingHost);
    destroyed.reset();
    modProcessPorts::Lookups() = saved;
    EXPECT_TRUE(g_pending.empty());
    EXPECT_EQ(modProcessPorts::RetainedLookupCount(), 0);  // no completion will come for them
}

// A Bind that failed leaves its socket in the object; accepting a connection
// into that object closes it instead of losing it.
TEST(SocketTcp, AcceptIntoAnObjectWhoseBindFailedClosesTheSocketItHeld) {
    TcpPair p;
    S taken;
    taken.Bind(0, std::wstring(L"127.0.0.1"));
    SOCKET held = INVALID_SOCKET;
    p.listener->Events.ConnectionRequest = [&](long id) {
        p.server = std::make_unique<S>();
        Attach(*p.server, p.serverLog);
        ExpectRaises([&] { p.server->Bind(static_cast<int>(taken.LocalPort()), std::wstring(L"127.0.0.1")); },
                     WSAEADDRINUSE, L"clsProcessPorts.BindInternal");
        held = static_cast<SOCKET>(p.server->SocketHandle());
        p.server->Accept(id);
    };
    ASSERT_TRUE(p.Connect());
    ASSERT_NE(held, INVALID_SOCKET);
    EXPECT_NE(static_cast<SOCKET>(p.server->SocketHandle()), held);
    int type = 0, length = sizeof type;
    EXPECT_EQ(getsockopt(held, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_FALSE(modProcessPorts::IsSocketRegistered(held));

    p.client->SendData(std::wstring(L"ok"));
    ASSERT_TRUE(Pump([&] { return p.server->BytesReceived() == 2; }));
}

// A refusal queued for a socket that was then closed must not reach the next
// socket, which gets the same number at once.
TEST(SocketTcp, AReusedHandleReachesOnlyTheNewObject) {
    TcpPair p;
    long closed = ClosedPort();
    for (bool destroy : {false, true}) {
        auto first = std::make_unique<S>();
        EventLog firstLog;
        Attach(*first, firstLog);
        first->Connect(L"127.0.0.1", static_cast<int>(closed));
        long handle = first->SocketHandle();
        Sleep(300);  // the refusal is queued meanwhile, not handled
        if (destroy)
            first.reset();
        else
            first->CloseSck();

        S second;
        EventLog secondLog;
        Attach(second, secondLog);
        second.Connect(L"127.0.0.1", static_cast<int>(p.port));
        EXPECT_EQ(second.SocketHandle(), handle) << "the system gave another number; nothing to prove";
        ASSERT_TRUE(Pump([&] { return second.State() == S::sckConnected || second.State() == S::sckError; }));
        EXPECT_EQ(second.State(), S::sckConnected);
        EXPECT_EQ(secondLog.events, std::vector<std::string>{"Connect"});
        EXPECT_TRUE(firstLog.events.empty());
    }
}

TEST(SocketTcp, ARefusedConnectionRaisesTheErrorEvent) {
    testsupport::MessageBoxAnswerer boxes;
    S client;
    EventLog log;
    Attach(client, log);
    client.Connect(L"127.0.0.1", static_cast<int>(ClosedPort()));
    ASSERT_TRUE(Pump([&] { return client.State() == S::sckError; }));
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].number, 10061);
    EXPECT_EQ(log.errors[0].description, L"Connection refused.");
    EXPECT_EQ(log.errors[0].source, L"clsProcessPorts.PostSocket");
    EXPECT_TRUE(boxes.Boxes().empty());
    // The error state lasts until CloseSck.
    EXPECT_THROW(client.Connect(), vb::Error);
    client.CloseSck();
    EXPECT_EQ(client.State(), S::sckClosed);

    // A handler that lets the error be shown: a box titled with the source.
    log.showErrorBox = true;
    client.Connect(L"127.0.0.1", static_cast<int>(ClosedPort()));
    ASSERT_TRUE(Pump([&] { return client.State() == S::sckError && !boxes.Boxes().empty(); }));
    EXPECT_EQ(boxes.Boxes()[0].text, L"Connection refused.");
    EXPECT_EQ(boxes.Boxes()[0].title, L"clsProcessPorts.PostSocket");
}

// ---- the holder lets go inside an event -------------------------------------------

TEST(SocketTcpRelease, InsideConnectAndInsideCloseSck) {
    TcpPair p;
    p.client->Events.Connect = [&] { p.client.reset(); };
    p.client->Connect(L"127.0.0.1", static_cast<int>(p.port));
    ASSERT_TRUE(Pump([&] { return !p.client && p.server && p.server->State() == S::sckClosing; }));
    auto again = std::make_unique<S>();
    again->Events.CloseSck = [&] { again.reset(); };
    again->Connect(L"127.0.0.1", static_cast<int>(p.port));
    ASSERT_TRUE(Pump([&] { return again && again->State() == S::sckConnected && p.server; }));
    p.server->CloseSck();
    ASSERT_TRUE(Pump([&] { return !again; }));
}

TEST(SocketTcpRelease, InsideDataArrivalAndInsideConnectionRequest) {
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    p.server->Events.DataArrival = [&](long) { p.server.reset(); };
    p.client->SendData(std::wstring(L"bye"));
    ASSERT_TRUE(Pump([&] { return !p.server && p.client->State() == S::sckClosing; }));

    p.listener->Events.ConnectionRequest = [&](long id) {
        p.server = std::make_unique<S>();
        p.server->Accept(id);
        p.listener.reset();
    };
    S late;
    late.Connect(L"127.0.0.1", static_cast<int>(p.port));
    ASSERT_TRUE(Pump([&] { return !p.listener && late.State() == S::sckConnected; }));
    ASSERT_TRUE(p.server);
    EXPECT_EQ(p.server->State(), S::sckConnected);
    // Without accepting: the request is closed although the listener is gone.
    auto listener = std::make_unique<S>();
    listener->Listen();
    long port = listener->LocalPort();
    long request = 0;
    listener->Events.ConnectionRequest = [&](long id) {
        request = id;
        listener.reset();
    };
    S refused;
    refused.Connect(L"127.0.0.1", static_cast<int>(port));
    ASSERT_TRUE(Pump([&] { return !listener && refused.State() == S::sckClosing; }));
    EXPECT_FALSE(modProcessPorts::IsAcceptRegistered(static_cast<SOCKET>(request)));
}

TEST(SocketTcpRelease, InsideTheEventsOfSendingAndOfAccept) {
    for (int which = 0; which < 2; ++which) {
        TcpPair p;
        ASSERT_TRUE(p.Connect());
        if (which == 0)
            p.client->Events.SendProgress = [&](long, long) { p.client.reset(); };
        else
            p.client->Events.SendComplete = [&] { p.client.reset(); };
        p.client->SendData(std::wstring(L"x"));
        EXPECT_FALSE(p.client);
    }
    // DataArrival raised by Accept itself.
    S listener;
    listener.Listen();
    S client;
    std::unique_ptr<S> server;
    listener.Events.ConnectionRequest = [&](long id) {
        ASSERT_TRUE(Pump([&] { return client.State() == S::sckConnected; }));
        client.SendData(std::wstring(L"early"));
        auto adopter = modProcessPorts::GetAcceptClass(static_cast<SOCKET>(id));
        ASSERT_TRUE(Pump([&] { return adopter->BytesReceived() == 5; }));
        adopter.reset();
        server = std::make_unique<S>();
        server->Events.DataArrival = [&](long) { server.reset(); };
        server->Accept(id);
    };
    client.Connect(L"127.0.0.1", static_cast<int>(listener.LocalPort()));
    ASSERT_TRUE(Pump([&] { return client.State() == S::sckClosing; }));
    EXPECT_FALSE(server);
}

TEST(SocketTcpRelease, InsideErrorAndTheModuleEndsClean) {
    auto client = std::make_unique<S>();
    client->Events.Error = [&](long, std::wstring&, long, const std::wstring&, const std::wstring&, long, bool&) {
        client.reset();
    };
    client->Connect(L"127.0.0.1", static_cast<int>(ClosedPort()));
    ASSERT_TRUE(Pump([&] { return !client; }));
    EXPECT_EQ(modProcessPorts::SocketInstanceCount(), 0);
    EXPECT_FALSE(modProcessPorts::WinsockStarted());
    EXPECT_EQ(modProcessPorts::SocketWindow(), nullptr);
}
