// The socket support of modProcessPorts: Winsock counting, the hidden window
// and its router, the routing tables, error texts and word conversions.
#include "netports/tests/test_socket_support.h"

using namespace sockettest;
using S = clsProcessPorts;
namespace mp = modProcessPorts;

namespace {

LPARAM Notification(long event, long error) {
    return static_cast<LPARAM>(WSAMAKESELECTREPLY(event, error));
}

// What the window procedure was when the window went.
WNDPROC g_procAtDestroy = nullptr;
HWND g_watched = nullptr;
LRESULT CALLBACK WatchDestroy(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_DESTROYWND && reinterpret_cast<HWND>(wParam) == g_watched)
        g_procAtDestroy = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(g_watched, GWLP_WNDPROC));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST(SocketModule, WinsockLivesAsLongAsTheLastObject) {
    ASSERT_EQ(mp::SocketInstanceCount(), 0);
    ASSERT_FALSE(mp::WinsockStarted());
    auto a = std::make_unique<S>();
    auto b = std::make_unique<S>();
    EXPECT_EQ(mp::SocketInstanceCount(), 2);
    EXPECT_TRUE(mp::WinsockStarted());
    a.reset();
    EXPECT_TRUE(mp::WinsockStarted());
    EXPECT_EQ(mp::SocketInstanceCount(), 1);
    b->Bind();  // Winsock still works for the one left
    EXPECT_EQ(b->State(), S::sckOpen);
    b.reset();
    EXPECT_EQ(mp::SocketInstanceCount(), 0);
    EXPECT_FALSE(mp::WinsockStarted());
    // Winsock really stopped: the module's start was the only one.
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(SocketModule, AFailingCleanupIsRaisedWithItsCode) {
    EXPECT_EQ(mp::InitiateProcesses(), 0);
    ASSERT_TRUE(mp::WinsockStarted());
    WSACleanup();  // behind the module's back
    ExpectRaises([] { mp::FinalizeProcesses(); }, 10093, L"modProcessPorts.FinalizeProcesses",
                 L"Successful WSAStartup not yet performed.");
    EXPECT_EQ(mp::SocketInstanceCount(), 0);
    EXPECT_TRUE(mp::WinsockStarted());  // nothing else was undone
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    mp::InitiateProcesses();
    mp::FinalizeProcesses();
    EXPECT_FALSE(mp::WinsockStarted());
}

TEST(SocketModule, TheWindowComesWithTheFirstSocketAndGoesWithTheLast) {
    S a, b;
    EXPECT_EQ(mp::SocketWindow(), nullptr);
    a.Bind();
    HWND window = mp::SocketWindow();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    wchar_t text[64] = {}, cls[64] = {};
    // Messages that are not the router's reach the window's own procedure.
    SendMessageW(window, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
    GetClassNameW(window, cls, 64);
    EXPECT_STREQ(text, L"SOCKET_WINDOW");
    EXPECT_EQ(_wcsicmp(cls, L"STATIC"), 0);
    b.Bind();
    EXPECT_EQ(mp::SocketWindow(), window);

    // The class's own procedure, as an unhooked STATIC window has it.
    HWND plain = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(plain, GWLP_WNDPROC));
    DestroyWindow(plain);
    EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC)), original);

    g_watched = window;
    HHOOK hook = SetWindowsHookExW(WH_CBT, WatchDestroy, nullptr, GetCurrentThreadId());
    a.CloseSck();
    EXPECT_TRUE(IsWindow(window));
    b.CloseSck();
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(mp::SocketWindow(), nullptr);
    EXPECT_EQ(g_procAtDestroy, original);  // put back before it was destroyed
    b.Bind();  // a new one for the next socket
    EXPECT_TRUE(IsWindow(mp::SocketWindow()));
}

TEST(SocketModule, FreedSlotsAreReusedAndAFirstOwnerStays) {
    S a, b, c;
    a.Bind();
    b.Bind();
    EXPECT_EQ(mp::SocketTableCount(), 2);
    a.CloseSck();
    c.Bind();
    EXPECT_EQ(mp::SocketTableCount(), 2);

    SOCKET handle = static_cast<SOCKET>(c.SocketHandle());
    EXPECT_TRUE(mp::IsSocketRegistered(handle));
    ExpectRaises([&] { mp::RegisterSocket(handle, &a, false); }, 457, L"modProcessPorts.RegisterSocket");
    EXPECT_EQ(mp::SocketTableCount(), 2);
    // A notification for the socket still goes to c.
    EventLog logA, logC;
    Attach(a, logA);
    Attach(c, logC);
    PostMessageW(mp::SocketWindow(), mp::kSocketMessage, handle, Notification(FD_READ, WSAECONNRESET));
    ASSERT_TRUE(Pump([&] { return !logC.errors.empty(); }));
    EXPECT_EQ(logC.errors[0].number, 10054);
    EXPECT_EQ(logC.errors[0].source, L"clsProcessPorts.PostSocket");
    EXPECT_EQ(c.State(), S::sckError);
    EXPECT_TRUE(logA.events.empty());
}

TEST(SocketModule, NotificationsForUnknownHandlesAreDropped) {
    S a;
    EventLog log;
    Attach(a, log);
    a.Bind();
    SOCKET handle = static_cast<SOCKET>(a.SocketHandle());
    PostMessageW(mp::SocketWindow(), mp::kSocketMessage, handle + 4000, Notification(FD_CLOSE, WSAECONNRESET));
    PostMessageW(mp::SocketWindow(), mp::kResolveMessage, 0x7777, 0);
    testsupport::PumpFor(100);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(a.State(), S::sckOpen);

    // Notifications queued for a socket are gone with it; the others stay.
    S other;
    EventLog otherLog;
    Attach(other, otherLog);
    other.Bind();
    HWND window = mp::SocketWindow();
    SOCKET otherHandle = static_cast<SOCKET>(other.SocketHandle());
    PostMessageW(window, mp::kSocketMessage, handle, Notification(FD_CLOSE, WSAECONNRESET));
    PostMessageW(window, mp::kSocketMessage, otherHandle, Notification(FD_READ, WSAENETDOWN));
    a.CloseSck();
    testsupport::PumpFor(100);
    EXPECT_TRUE(log.events.empty());
    ASSERT_EQ(otherLog.errors.size(), 1u);
    EXPECT_EQ(otherLog.errors[0].number, 10050);
}

TEST(SocketModule, ARegistrationThatFailsLeavesNoRoute) {
    SOCKET bogus = 0x7FFC;
    S owner;
    ExpectRaises([&] { mp::RegisterSocket(bogus, &owner, true); }, 10038, L"modProcessPorts.RegisterSocket",
                 L"Socket operation on nonsocket.");
    EXPECT_FALSE(mp::IsSocketRegistered(bogus));
    EXPECT_EQ(mp::SocketWindow(), nullptr);
    // Without events nothing is asked of the socket; the owner may go first.
    {
        S shortLived;
        mp::RegisterSocket(bogus, &shortLived, false);
        EXPECT_TRUE(mp::IsSocketRegistered(bogus));
    }
    EXPECT_FALSE(mp::IsSocketRegistered(bogus));
    EXPECT_EQ(mp::SocketWindow(), nullptr);
}

TEST(SocketModule, ErrorTextsAndConversions) {
    EXPECT_EQ(mp::GetErrorDescription(10035), L"Resource temporarily unavailable.");
    EXPECT_EQ(mp::GetErrorDescription(10061), L"Connection refused.");
    EXPECT_EQ(mp::GetErrorDescription(11004), L"Valid name, no data record of requested type.");
    EXPECT_EQ(mp::GetErrorDescription(0), L"Unknown error.");
    EXPECT_EQ(mp::GetErrorDescription(10059), L"Unknown error.");

    EXPECT_EQ(mp::HiWord(static_cast<long>(0x8001FFFFu)), 32769);
    EXPECT_EQ(mp::HiWord(-1), 65535);
    EXPECT_EQ(mp::LoWord(static_cast<long>(0x8001FFFEu)), 65534);
    EXPECT_EQ(mp::UnsignedToInteger(65535), -1);
    EXPECT_EQ(mp::UnsignedToInteger(32768), -32768);
    EXPECT_EQ(mp::UnsignedToInteger(7), 7);
    ExpectRaises([] { mp::UnsignedToInteger(65536); }, 6, L"modProcessPorts.UnsignedToInteger", L"Overflow");
    ExpectRaises([] { mp::UnsignedToInteger(-1); }, 6, L"modProcessPorts.UnsignedToInteger", L"Overflow");
    EXPECT_EQ(mp::IntegerToUnsigned(-1), 65535);
    EXPECT_EQ(mp::IntegerToUnsigned(-32768), 32768);
    EXPECT_EQ(mp::StringFromPointer("host.example"), L"host.example");
    EXPECT_EQ(mp::StringFromPointer("\xD6\xD0\xCE\xC4"), L"中文");  // code page 936
    EXPECT_EQ(mp::StringFromPointer(nullptr), L"");
}

TEST(SocketModule, AcceptedConnectionsAreKeptOnlyWhileOffered) {
    TcpPair p;
    SOCKET offered = INVALID_SOCKET;
    bool heldDuringRequest = false;
    p.listener->Events.ConnectionRequest = [&](long id) {
        offered = static_cast<SOCKET>(id);
        heldDuringRequest = mp::IsAcceptRegistered(offered) && mp::GetAcceptClass(offered)->State() == S::sckConnected;
    };
    long before = mp::SocketInstanceCount();
    p.client->Connect(L"127.0.0.1", static_cast<int>(p.port));
    ASSERT_TRUE(Pump([&] { return offered != INVALID_SOCKET; }));
    EXPECT_TRUE(heldDuringRequest);
    EXPECT_FALSE(mp::IsAcceptRegistered(offered));
    EXPECT_EQ(mp::SocketInstanceCount(), before);  // the adopting object is gone again
    ExpectRaises([&] { mp::GetAcceptClass(offered); }, 5, L"modProcessPorts.GetAcceptClass");
    ExpectRaises([&] { mp::UnregisterAccept(offered); }, 5, L"modProcessPorts.UnregisterAccept");
}
