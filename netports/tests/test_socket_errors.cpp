// The numbered errors of clsProcessPorts: number, text and source of each.
#include "netports/tests/test_socket_support.h"

using namespace sockettest;
using S = clsProcessPorts;

namespace {

const std::wstring kInvalidState = L"Invalid operation at current state";
const std::wstring kOutOfRange =
    L"The argument passed to a function was not in the correct format or in the specified range.";
const std::wstring kUnsupported = L"Unsupported variant type.";
const std::wstring kWrongState = L"Wrong protocol or connection state for the requested transaction or request";

// A name no resolver is asked about: a label longer than 63 characters
// cannot even be put into a query.
const std::wstring kUnresolvable = std::wstring(64, L'x') + L".invalid";

}  // namespace

TEST(SocketErrors, OperationsNotAllowedInTheCurrentState) {
    S s;
    s.Listen();
    ASSERT_EQ(s.State(), S::sckListening);
    ExpectRaises([&] { s.Connect(L"127.0.0.1", 80); }, 40020, L"clsProcessPorts.Connect", kInvalidState);
    ExpectRaises([&] { s.Bind(); }, 40020, L"clsProcessPorts.Bind", kInvalidState);
    ExpectRaises([&] { s.Listen(); }, 40020, L"clsProcessPorts.Listen", kInvalidState);
    ExpectRaises([&] { s.Accept(123); }, 40020, L"clsProcessPorts.Accept", kInvalidState);
    ExpectRaises([&] { s.RemotePort(80); }, 40020, L"clsProcessPorts.RemotePort", kInvalidState);
    ExpectRaises([&] { s.RemoteHost(L"x"); }, 40020, L"clsProcessPorts.RemoteHost", kInvalidState);
    ExpectRaises([&] { s.LocalPort(80); }, 40020, L"clsProcessPorts.LocalPort", kInvalidState);
    ExpectRaises([&] { s.Protocol(S::sckUDPProtocol); }, 40020, L"clsProcessPorts.Protocol", kInvalidState);
    EXPECT_EQ(s.State(), S::sckListening);  // none of them changed anything
    // Listen is allowed on a bound object.
    S bound;
    bound.Bind();
    EXPECT_EQ(bound.State(), S::sckOpen);
    bound.Listen();
    EXPECT_EQ(bound.State(), S::sckListening);
}

TEST(SocketErrors, ArgumentsOutOfRangeOrOfTheWrongKind) {
    S s;
    ExpectRaises([&] { s.RemotePort(65536); }, 40014, L"clsProcessPorts.RemotePort", kOutOfRange);
    ExpectRaises([&] { s.RemotePort(-1); }, 40014, L"clsProcessPorts.RemotePort", kOutOfRange);
    ExpectRaises([&] { s.LocalPort(70000); }, 40014, L"clsProcessPorts.LocalPort", kOutOfRange);
    s.RemotePort(0);  // the property takes 0; Connect does not
    ExpectRaises([&] { s.Connect(L"127.0.0.1", 0); }, 40014, L"clsProcessPorts.Connect", kOutOfRange);
    ExpectRaises([&] { s.Connect(L"127.0.0.1", 65536); }, 40014, L"clsProcessPorts.Connect", kOutOfRange);
    ExpectRaises([&] { s.Connect(L"127.0.0.1", std::wstring(L"http")); }, 40018, L"clsProcessPorts.Connect",
                 kUnsupported);
    ExpectRaises([&] { s.Bind(70000); }, 40014, L"clsProcessPorts.BindInternal", kOutOfRange);
    ExpectRaises([&] { s.Bind(std::wstring(L"any")); }, 40018, L"clsProcessPorts.BindInternal", kUnsupported);
    ExpectRaises([&] { s.Bind(0, kUnresolvable); }, 40014, L"clsProcessPorts.BindInternal", L"Invalid argument");
    EXPECT_EQ(s.State(), S::sckClosed);
    EXPECT_EQ(s.SocketHandle(), -1);  // refused before a socket was made
    // A numeric text is a number.
    s.Bind(std::wstring(L" 0 "), std::wstring(L"127.0.0.1"));
    EXPECT_EQ(s.State(), S::sckOpen);
}

TEST(SocketErrors, ReceivingInTheWrongStateOrWithBadArguments) {
    S s;
    Variant v;
    ExpectRaises([&] { s.GetData(v); }, 40006, L"clsProcessPorts.GetData", kWrongState);
    ExpectRaises([&] { s.PeekData(v); }, 40006, L"clsProcessPorts.PeekData", kWrongState);
    S u;
    u.Protocol(S::sckUDPProtocol);
    ExpectRaises([&] { u.GetData(v); }, 40006, L"clsProcessPorts.GetData", kWrongState);
    u.Bind(0, std::wstring(L"127.0.0.1"));
    u.GetData(v);  // nothing waiting: nothing happens
    EXPECT_EQ(v.index(), 0u);

    TcpPair p;
    ASSERT_TRUE(p.Connect());
    p.client->SendData(BytesOfText("abc"));
    ASSERT_TRUE(Pump([&] { return p.server->BytesReceived() == 3; }));
    ExpectRaises([&] { p.server->GetData(v, std::nullopt, -1); }, 40014, L"clsProcessPorts.GetData", kOutOfRange);
    ExpectRaises([&] { p.server->GetData(v, 12L); }, 40018, L"clsProcessPorts.RecvData", kUnsupported);
    // A limit that is no number means all there is.
    p.server->GetData(v, std::nullopt, std::wstring(L"all"));
    EXPECT_EQ(std::get<Bytes>(v), BytesOfText("abc"));
}

TEST(SocketErrors, AcceptTakesOnlyAConnectionThatIsWaiting) {
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    S other;
    // A socket that another object owns.
    ExpectRaises([&] { other.Accept(p.client->SocketHandle()); }, 40006, L"clsProcessPorts.Accept", kWrongState);
    // One that was offered once and is gone now, and one that never was.
    ExpectRaises([&] { other.Accept(p.listenerLog.requests.at(0)); }, 40006, L"clsProcessPorts.Accept",
                 kWrongState);
    ExpectRaises([&] { other.Accept(0x7FFF0); }, 40006, L"clsProcessPorts.Accept", kWrongState);
    EXPECT_EQ(other.State(), S::sckClosed);
    EXPECT_EQ(other.SocketHandle(), -1);
    // The connection is untouched.
    p.client->SendData(BytesOfText("still here"));
    ASSERT_TRUE(Pump([&] { return p.server->BytesReceived() == 10; }));
}

TEST(SocketErrors, SendingInTheWrongStateShowsTheBoxAndRaisesNothing) {
    testsupport::MessageBoxAnswerer boxes;
    S s;
    s.SendData(std::wstring(L"not connected"));
    TcpPair p;
    ASSERT_TRUE(p.Connect());
    p.client->SendData(Variant{});  // no value: not a type that can be sent
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    for (const auto& box : boxes.Boxes()) {
        EXPECT_EQ(box.title, L"Aleart");
        EXPECT_EQ(box.text, L"Winsock Error");
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
    }
    // An empty text sends nothing and is no error.
    p.client->SendData(std::wstring());
    EXPECT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_TRUE(p.clientLog.events.empty() || p.clientLog.events == std::vector<std::string>{"Connect"});
}

TEST(SocketErrors, FailedSocketCallsRaiseTheWinsockCode) {
    S u;
    u.Protocol(S::sckUDPProtocol);
    ExpectRaises([&] { u.Listen(); }, 10045, L"clsProcessPorts.Listen", L"Operation not supported.");

    S first;
    first.Bind(0, std::wstring(L"127.0.0.1"));
    S second;
    ExpectRaises([&] { second.Bind(static_cast<int>(first.LocalPort()), std::wstring(L"127.0.0.1")); }, 10048,
                 L"clsProcessPorts.BindInternal", L"Address already in use.");

    // A socket closed behind the object's back: closing fails, the object
    // lets go of the number all the same and can be reset.
    S victim;
    victim.Bind();
    SOCKET handle = static_cast<SOCKET>(victim.SocketHandle());
    closesocket(handle);
    ExpectRaises([&] { victim.CloseSck(); }, 10038, L"clsProcessPorts.DestroySocket",
                 L"Socket operation on nonsocket.");
    EXPECT_EQ(victim.State(), S::sckError);
    EXPECT_EQ(victim.SocketHandle(), -1);
    EXPECT_FALSE(modProcessPorts::IsSocketRegistered(handle));
    victim.CloseSck();
    EXPECT_EQ(victim.State(), S::sckClosed);
    victim.Bind();
    EXPECT_EQ(victim.State(), S::sckOpen);
}

TEST(SocketErrors, ALookupThatFailsEndsInTheErrorEvent) {
    S s;
    EventLog log;
    Attach(s, log);
    s.Connect(kUnresolvable, 80);
    EXPECT_EQ(s.State(), S::sckResolvingHost);
    ASSERT_TRUE(Pump([&] { return s.State() == S::sckError; }));
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_GE(log.errors[0].number, 11001);
    EXPECT_LE(log.errors[0].number, 11004);
    EXPECT_EQ(log.errors[0].source, L"clsProcessPorts.ConnectToIP");
    EXPECT_EQ(log.errors[0].description, modProcessPorts::GetErrorDescription(log.errors[0].number));
}

// Failing inside the lookup's completion (the bind) still reaches the holder.
TEST(SocketErrors, AFailureWhileALookupCompletesIsReported) {
    S first;
    first.Bind();
    S s;
    EventLog log;
    Attach(s, log);
    s.LocalPort(first.LocalPort());  // taken: the bind after the lookup fails
    s.Connect(L"localhost", 80);
    ASSERT_TRUE(Pump([&] { return s.State() == S::sckError; }));
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].number, 10048);
    EXPECT_EQ(log.errors[0].source, L"clsProcessPorts.BindInternal");
}
