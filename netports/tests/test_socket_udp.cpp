// UDP through clsProcessPorts on 127.0.0.1.
#include "netports/tests/test_socket_support.h"

using namespace sockettest;
using S = clsProcessPorts;

namespace {

struct UdpPair {
    EventLog receiverLog, senderLog;
    S receiver, sender;

    UdpPair() {
        Attach(receiver, receiverLog);
        Attach(sender, senderLog);
        receiver.Protocol(S::sckUDPProtocol);
        receiver.Bind(0, std::wstring(L"127.0.0.1"));
        sender.Protocol(S::sckUDPProtocol);
        sender.RemoteHost(L"127.0.0.1");
        sender.RemotePort(receiver.LocalPort());
    }
};

}  // namespace

TEST(SocketUdp, SeveralDatagramsInARowArriveInOrder) {
    UdpPair u;
    ASSERT_EQ(u.receiver.State(), S::sckOpen);
    ASSERT_GT(u.receiver.LocalPort(), 0);
    EXPECT_EQ(u.receiver.LocalIP(), L"127.0.0.1");
    std::vector<std::wstring> got;
    u.receiver.Events.DataArrival = [&](long total) {
        Variant text = std::wstring();
        u.receiver.GetData(text);
        got.push_back(std::get<std::wstring>(text));
    };
    const std::vector<std::wstring> sent = {L"one", L"two", L"three", L"four", L"five", L"six"};
    for (const auto& s : sent) u.sender.SendData(s);
    EXPECT_EQ(u.sender.State(), S::sckOpen);
    ASSERT_TRUE(Pump([&] { return got.size() == sent.size(); }));
    testsupport::PumpFor(100);
    EXPECT_EQ(got, sent);
    // The sender of the last datagram, as seen by the receiver.
    EXPECT_EQ(u.receiver.RemoteHostIP(), L"127.0.0.1");
    EXPECT_EQ(u.receiver.RemotePort(), u.sender.LocalPort());
    EXPECT_EQ(u.receiver.RemoteHost(), L"");
    EXPECT_TRUE(u.senderLog.events.empty());  // no progress events for UDP
}

TEST(SocketUdp, ADatagramNobodyTakesIsDroppedAndTheNextOnesStillCome) {
    UdpPair u;
    std::vector<std::wstring> got;
    int arrivals = 0;
    u.receiver.Events.DataArrival = [&](long) {
        // The first one is left alone, a Long is asked of the second (3 bytes:
        // nothing taken), the others are read.
        ++arrivals;
        if (arrivals == 1) return;
        if (arrivals == 2) {
            Variant number = std::int32_t{5};
            u.receiver.GetData(number);
            EXPECT_EQ(std::get<std::int32_t>(number), 5);
            return;
        }
        Variant text = std::wstring();
        u.receiver.PeekData(text);
        Variant again = std::wstring();
        u.receiver.GetData(again);
        EXPECT_EQ(std::get<std::wstring>(text), std::get<std::wstring>(again));
        got.push_back(std::get<std::wstring>(again));
    };
    for (const wchar_t* s : {L"ignored", L"abc", L"three", L"four"}) u.sender.SendData(std::wstring(s));
    ASSERT_TRUE(Pump([&] { return got.size() == 2; }));
    EXPECT_EQ(got, (std::vector<std::wstring>{L"three", L"four"}));
    EXPECT_EQ(u.receiver.BytesReceived(), 0);
}

TEST(SocketUdp, FixedSizeValuesAndALimitShorterThanTheDatagram) {
    UdpPair u;
    std::vector<Variant> got;
    std::vector<long> raised;
    std::vector<long> types = {S::vbDouble, S::vbInteger, S::vbBoolean, S::vbByteArray, S::vbByteArray};
    u.receiver.Events.DataArrival = [&](long total) {
        Variant v;
        long type = types.at(got.size());
        try {
            if (got.size() == 3)
                u.receiver.GetData(v, type, 4);
            else
                u.receiver.GetData(v, type);
        } catch (const vb::Error& e) {
            raised.push_back(e.Number());
        }
        got.push_back(v);
    };
    u.sender.SendData(2.5);
    u.sender.SendData(std::int16_t{-2});
    u.sender.SendData(true);
    u.sender.SendData(BytesOfText("abcdefgh"));
    u.sender.SendData(BytesOfText("next"));
    ASSERT_TRUE(Pump([&] { return got.size() == 5; }));
    EXPECT_EQ(std::get<double>(got[0]), 2.5);
    EXPECT_EQ(std::get<std::int16_t>(got[1]), -2);
    EXPECT_EQ(std::get<bool>(got[2]), true);
    // As the system reports a datagram longer than the room given: 10040,
    // and the datagram is gone.
    EXPECT_EQ(raised, std::vector<long>{10040});
    EXPECT_EQ(std::get<Bytes>(got[4]), BytesOfText("next"));
}

TEST(SocketUdp, MaxLenZeroDropsTheDatagramAndRaises10040) {
    UdpPair u;
    bool raised = false;
    std::vector<std::wstring> got;
    u.receiver.Events.DataArrival = [&](long) {
        if (!raised) {
            Variant v = std::wstring(L"old");
            try {
                u.receiver.GetData(v, std::nullopt, 0);
            } catch (const vb::Error& e) {
                raised = true;
                EXPECT_EQ(e.Number(), 10040);
                EXPECT_EQ(e.Description(), L"Message too long.");
                EXPECT_EQ(e.Source(), L"clsProcessPorts.RecvData");
            }
            EXPECT_EQ(std::get<Bytes>(v), Bytes{});
            return;
        }
        Variant v = std::wstring();
        u.receiver.GetData(v);
        got.push_back(std::get<std::wstring>(v));
    };
    u.sender.SendData(std::wstring(L"first"));
    u.sender.SendData(std::wstring(L"second"));
    ASSERT_TRUE(Pump([&] { return got.size() == 1; }));
    EXPECT_TRUE(raised);
    EXPECT_EQ(got[0], L"second");
}

TEST(SocketUdp, ConnectOnlyBindsAndANameIsLookedUpForSending) {
    UdpPair u;
    S other;
    other.Protocol(S::sckUDPProtocol);
    other.Connect(L"localhost", static_cast<int>(u.receiver.LocalPort()));
    EXPECT_EQ(other.State(), S::sckOpen);
    EXPECT_GT(other.LocalPort(), 0);
    testsupport::PumpFor(100);
    EXPECT_TRUE(u.receiverLog.arrivals.empty());  // nothing sent by Connect
    other.SendData(std::wstring(L"by name"));
    std::wstring text;
    u.receiver.Events.DataArrival = [&](long) {
        Variant v = std::wstring();
        u.receiver.GetData(v);
        text = std::get<std::wstring>(v);
    };
    ASSERT_TRUE(Pump([&] { return !text.empty(); }));
    EXPECT_EQ(text, L"by name");
    EXPECT_EQ(u.receiver.RemotePort(), other.LocalPort());
    // A UDP object may change its peer in any state.
    other.RemotePort(9);
    other.RemoteHost(L"127.0.0.1");
    EXPECT_EQ(other.RemotePort(), 9);
}

TEST(SocketUdp, SendingWithoutAUsableHostShowsTheBoxAndKeepsNothing) {
    testsupport::MessageBoxAnswerer boxes;
    S u;
    u.Protocol(S::sckUDPProtocol);
    u.RemotePort(9);
    u.SendData(std::wstring(L"nowhere"));  // no host at all
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, L"Aleart");
    EXPECT_EQ(boxes.Boxes()[0].text, L"Winsock Error");
    EXPECT_EQ(boxes.Boxes()[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(u.State(), S::sckOpen);
    // The next send goes out on its own, without the failed bytes.
    S receiver;
    receiver.Protocol(S::sckUDPProtocol);
    receiver.Bind(0, std::wstring(L"127.0.0.1"));
    Bytes got;
    receiver.Events.DataArrival = [&](long) {
        Variant v;
        receiver.GetData(v);
        got = std::get<Bytes>(v);
    };
    u.RemoteHost(L"127.0.0.1");
    u.RemotePort(receiver.LocalPort());
    u.SendData(BytesOfText("ok"));
    ASSERT_TRUE(Pump([&] { return !got.empty(); }));
    EXPECT_EQ(got, BytesOfText("ok"));
}
