#include "framework/noticesink.h"
#include "platform/hostresolver.h"
#include "platform/winsock.h"
#include "support/eventwait.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <unistd.h>
#include <vector>

namespace ws = platform::winsock;
using framework::Notice;
using framework::NoticeSink;
using testsupport::waitUntil;

namespace {

constexpr uint32_t kMessage = framework::WM_USER + 101;

struct Events
{
    std::vector<Notice> notices;
    NoticeSink sink { "TestSocketWindow", nullptr, [this](const Notice &n) { notices.push_back(n); } };

    int count(long event) const
    {
        int n = 0;
        for (const Notice &notice : notices)
            n += framework::lowWord(notice.lParam) == event;
        return n;
    }
    const Notice *find(long event) const
    {
        for (const Notice &notice : notices)
            if (framework::lowWord(notice.lParam) == event)
                return &notice;
        return nullptr;
    }
};

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t boundPort(ws::Socket socket)
{
    sockaddr_in local {};
    ws::localName(socket, local);
    return ntohs(local.sin_port);
}

} // namespace

TEST(InetAddr, ParsesDottedTextWithTheSystemsRules)
{
    struct Case
    {
        const char *text;
        const char *expected; // dotted result, or null for "not an address"
    };
    const Case cases[] = {
        { "127.0.0.1", "127.0.0.1" }, { "10.0.0.7", "10.0.0.7" }, { "192.168.1.20 Kitchen (Anna)", "192.168.1.20" },
        { "192.168.1.20\tx", "192.168.1.20" }, { "0.0.0.0", "0.0.0.0" }, { "192.168.1.20x", nullptr },
        { "256.1.1.1", nullptr }, { "kitchen", nullptr }, { "", nullptr },
        { "255.255.255.255", nullptr }, // the failure value: callers treat it as a name
    };
    for (const Case &c : cases) {
        const uint32_t address = ws::inetAddr(QString::fromLatin1(c.text));
        if (c.expected)
            EXPECT_EQ(ws::dottedText(address), c.expected) << c.text;
        else
            EXPECT_EQ(address, ws::kNoneAddress) << c.text;
    }
    EXPECT_EQ(ws::inetAddr(QString::fromLatin1("10.1.2.3\0garbage", 16)), ws::inetAddr("10.1.2.3"));
}

TEST(InetAddr, DottedTextHasNoLeadingZerosOrBlanks)
{
    EXPECT_EQ(ws::dottedText(::inet_addr("192.168.1.20")), "192.168.1.20");
    EXPECT_EQ(ws::dottedText(::inet_addr("10.0.0.7")), "10.0.0.7");
    EXPECT_EQ(ws::dottedText(0xFFFFFFFFu), "255.255.255.255");
}

TEST(WinsockErrors, ErrnoValuesMapToWinsockNumbers)
{
    EXPECT_EQ(ws::fromErrno(0), 0);
    EXPECT_EQ(ws::fromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(ws::fromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(ws::fromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(ws::fromErrno(EINPROGRESS), 10035);
    EXPECT_EQ(ws::fromErrno(EMFILE), 10024);
    EXPECT_EQ(ws::fromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(ws::fromErrno(ECONNRESET), 10054);
    EXPECT_EQ(ws::fromErrno(EMSGSIZE), 10040);
    // No errno without a counterpart may land on a Winsock number.
    for (int e = 1; e < 140; ++e) {
        const int mapped = ws::fromErrno(e);
        EXPECT_TRUE((mapped >= 10004 && mapped <= 10093) || mapped == 20000 + e) << e;
    }
}

TEST(WinsockErrors, EveryFailedLookUpGivesAHostLookUpNumber)
{
    struct Case
    {
        int eaiCode;
        int errnoValue; // what the system left in errno
        int expected;
    };
    const Case cases[] = {
        { 0, 0, 0 }, { EAI_NONAME, 0, 11001 }, { EAI_AGAIN, 0, 11002 }, { EAI_FAIL, 0, 11003 },
        { EAI_SYSTEM, ECONNREFUSED, 10061 }, { EAI_SYSTEM, 0, 11003 }, // a failure with errno clear is still a failure
    };
    for (const Case &c : cases) {
        errno = c.errnoValue;
        EXPECT_EQ(ws::fromResolverError(c.eaiCode), c.expected) << c.eaiCode << " errno " << c.errnoValue;
    }
}

TEST(WinsockStartup, VersionsAndTheStartUpCount)
{
    ws::WsaData data;
    const int before = ws::startupCount();
    EXPECT_EQ(ws::startup(ws::makeVersion(1, 0), data), ws::WSAVERNOTSUPPORTED);
    EXPECT_EQ(ws::startupCount(), before);
    ASSERT_EQ(ws::startup(ws::makeVersion(1, 1), data), 0);
    EXPECT_EQ(data.version, ws::makeVersion(1, 1));
    EXPECT_EQ(data.maxUdpDatagram, 65507);
    EXPECT_GT(data.maxSockets, 0);
    EXPECT_STRNE(data.description, "");
    EXPECT_EQ(ws::startupCount(), before + 1);
    EXPECT_EQ(ws::cleanup(), 0);
    EXPECT_EQ(ws::startupCount(), before);
    if (before == 0) {
        EXPECT_EQ(ws::cleanup(), ws::kSocketError);
        EXPECT_EQ(ws::lastError(), ws::WSANOTINITIALISED);
    }
}

TEST(AsyncSelect, AReadNoticeComesOnceUntilTheDatagramIsRead)
{
    Events events;
    const ws::Socket socket = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(socket, ws::kInvalidSocket);
    ASSERT_EQ(ws::bind(socket, htonl(INADDR_LOOPBACK), 0), 0);
    ASSERT_EQ(ws::asyncSelect(socket, &events.sink, kMessage, ws::FD_READ), 0);
    const ws::Socket sender = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ws::sendTo(sender, "a", 1, loopback(boundPort(socket)));
    ws::sendTo(sender, "b", 1, loopback(boundPort(socket)));
    ASSERT_TRUE(waitUntil([&] { return events.count(ws::FD_READ) == 1; }));
    testsupport::serveEvents(30);
    EXPECT_EQ(events.count(ws::FD_READ), 1);
    EXPECT_EQ(events.notices[0].message, kMessage);
    EXPECT_EQ(events.notices[0].wParam, uintptr_t(socket));
    EXPECT_EQ(framework::highWord(events.notices[0].lParam), 0);
    char byte = 0;
    EXPECT_EQ(ws::recvFrom(socket, &byte, 1, nullptr), 1);
    ASSERT_TRUE(waitUntil([&] { return events.count(ws::FD_READ) == 2; }));
    EXPECT_EQ(ws::recvFrom(socket, &byte, 1, nullptr), 1);
    EXPECT_EQ(ws::recvFrom(socket, &byte, 1, nullptr), ws::kSocketError);
    EXPECT_EQ(ws::lastError(), ws::WSAEWOULDBLOCK);
    ws::closeSocket(sender);
    ws::closeSocket(socket);
}

TEST(AsyncSelect, AConnectionGivesAcceptConnectWriteReadAndClose)
{
    Events server;
    Events client;
    const ws::Socket listener = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::bind(listener, htonl(INADDR_LOOPBACK), 0), 0);
    ASSERT_EQ(ws::asyncSelect(listener, &server.sink, kMessage, 63), 0);
    ASSERT_EQ(ws::listen(listener, 5), 0);
    const ws::Socket socket = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::asyncSelect(socket, &client.sink, kMessage, 63), 0);
    const int connected = ws::connect(socket, loopback(boundPort(listener)));
    EXPECT_TRUE(connected == 0 || ws::lastError() == ws::WSAEWOULDBLOCK);

    ASSERT_TRUE(waitUntil([&] { return server.count(ws::FD_ACCEPT) == 1 && client.count(ws::FD_CONNECT) == 1; }));
    EXPECT_EQ(framework::highWord(client.find(ws::FD_CONNECT)->lParam), 0);
    ASSERT_TRUE(waitUntil([&] { return client.count(ws::FD_WRITE) >= 1; }));
    sockaddr_in peer {};
    const ws::Socket accepted = ws::accept(listener, &peer);
    ASSERT_NE(accepted, ws::kInvalidSocket);
    EXPECT_EQ(ws::dottedText(peer.sin_addr.s_addr), "127.0.0.1");

    EXPECT_EQ(ws::send(socket, "line\n", 5), 5);
    ASSERT_TRUE(waitUntil([&] { return server.count(ws::FD_READ) == 1; }));
    EXPECT_EQ(server.find(ws::FD_READ)->wParam, uintptr_t(accepted)) << "the accepted socket inherits the notices";
    char buffer[16];
    EXPECT_EQ(ws::recv(accepted, buffer, sizeof buffer), 5);

    ws::closeSocket(socket);
    ASSERT_TRUE(waitUntil([&] { return server.count(ws::FD_CLOSE) == 1; }));
    ws::closeSocket(accepted);
    ws::closeSocket(listener);
}

TEST(AsyncSelect, ARefusedConnectionReportsItsErrorInTheConnectNotice)
{
    Events client;
    const ws::Socket closedPort = ws::socket(AF_INET, SOCK_STREAM, 0);
    ws::bind(closedPort, htonl(INADDR_LOOPBACK), 0);
    const uint16_t port = boundPort(closedPort); // bound but not listening: refused
    const ws::Socket socket = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::asyncSelect(socket, &client.sink, kMessage, 63), 0);
    const int result = ws::connect(socket, loopback(port));
    if (result == ws::kSocketError && ws::lastError() == ws::WSAECONNREFUSED) {
        SUCCEED() << "refused at once";
    } else {
        ASSERT_TRUE(waitUntil([&] { return client.count(ws::FD_CONNECT) == 1; }));
        EXPECT_EQ(framework::highWord(client.find(ws::FD_CONNECT)->lParam), ws::WSAECONNREFUSED);
        EXPECT_EQ(client.count(ws::FD_WRITE), 0);
    }
    ws::closeSocket(socket);
    ws::closeSocket(closedPort);
}

TEST(AsyncSelect, ADestroyedSinkReceivesNothingAndTheDatagramWaits)
{
    const ws::Socket socket = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(ws::bind(socket, htonl(INADDR_LOOPBACK), 0), 0);
    {
        Events events;
        ASSERT_EQ(ws::asyncSelect(socket, &events.sink, kMessage, ws::FD_READ), 0);
    }
    const ws::Socket sender = ws::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(ws::sendTo(sender, "a", 1, loopback(boundPort(socket))), 1);
    testsupport::serveEvents(30); // the layer sees the datagram with nobody to tell
    // Nothing was lost on the way: a new selection hears of the datagram, and it is all there.
    Events again;
    ASSERT_EQ(ws::asyncSelect(socket, &again.sink, kMessage, ws::FD_READ), 0);
    EXPECT_TRUE(waitUntil([&] { return again.count(ws::FD_READ) == 1; }));
    char byte = 0;
    EXPECT_EQ(ws::recvFrom(socket, &byte, 1, nullptr), 1);
    EXPECT_EQ(byte, 'a');
    ws::closeSocket(sender);
    ws::closeSocket(socket);
}

TEST(HostLookup, CompletionIsPostedWithTheHandleAndError)
{
    Events events;
    ws::HostEntry entry;
    const uintptr_t handle = ws::asyncGetHostByName("localhost", &events.sink, kMessage + 1, &entry);
    EXPECT_NE(handle, 0u);
    ASSERT_TRUE(waitUntil([&] { return !events.notices.empty(); }, 10000));
    EXPECT_EQ(events.notices[0].message, kMessage + 1);
    EXPECT_EQ(events.notices[0].wParam, handle);
    EXPECT_EQ(framework::highWord(events.notices[0].lParam), 0);
    ASSERT_FALSE(entry.addresses.empty());
    EXPECT_EQ(ws::dottedText(entry.addresses[0]), "127.0.0.1");
}

TEST(HostLookup, BlockingLookupGivesIPv4AddressesOrAWinsockError)
{
    const platform::HostLookup local = platform::resolveHostNow("localhost");
    EXPECT_EQ(local.error, 0);
    ASSERT_FALSE(local.addresses.empty());
    EXPECT_EQ(ws::dottedText(local.addresses[0]), "127.0.0.1");
    const platform::HostLookup bad = platform::resolveHostNow("no such host name.invalid");
    EXPECT_NE(bad.error, 0);
    EXPECT_TRUE(bad.addresses.empty());
}
