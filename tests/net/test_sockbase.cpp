#include "framework/exception.h"
#include "net/sockbase.h"
#include "net/threadtimer.h"
#include "platform/localaddresses.h"
#include "platform/winsock.h"
#include "sockpeer.h"
#include "support/eventwait.h"
#include "support/raised.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

namespace ws = platform::winsock;
using net::ESockError;
using net::TSockBase;
using testsupport::cancelAfter;
using testsupport::connectBounded;
using testsupport::LoopbackServer;
using testsupport::raisedText;

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char('A' + i % 23);
    return bytes;
}

TEST(SockBase, NewComponentHasASocketAndReportsNothing)
{
    const int users = TSockBase::WinsockUsers();
    TSockBase sock;
    EXPECT_EQ(TSockBase::WinsockUsers(), users + 1);
    EXPECT_NE(sock.SocketHandle(), TSockBase::kNoSocket);
    EXPECT_NE(sock.WindowHandle(), nullptr);
    EXPECT_FALSE(sock.Timer()->Enabled());
    EXPECT_EQ(sock.ReportLevel(), 0);
    EXPECT_EQ(sock.TimeOut(), 0);
    EXPECT_FALSE(sock.Connected());
    EXPECT_FALSE(sock.CancelRequested());
    EXPECT_TRUE(sock.LastStatus().isEmpty());
}

TEST(SockBaseConnect, ConnectsToALoopbackServer)
{
    LoopbackServer server;
    TSockBase sock;
    int connects = 0;
    sock.OnConnect = [&](QObject *sender) {
        EXPECT_EQ(sender, &sock);
        ++connects;
    };
    connectBounded(sock, server.port());
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(sock.RemoteAddress().sin_family, AF_INET);
    EXPECT_EQ(sock.RemoteAddress().sin_port, htons(server.port()));
    EXPECT_EQ(sock.RemoteAddress().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_TRUE(server.acceptClient());
    EXPECT_EQ(raisedText<ESockError>([&] { sock.Connect(); }), QStringLiteral("Already connected"));
}

TEST(SockBaseConnect, PortsOutsideSixteenBitsAreRefused)
{
    LoopbackServer server;
    TSockBase sock;
    sock.setPort(server.port());
    for (int bad : { -1, 65536, 65536 + server.port() }) {
        EXPECT_EQ(raisedText<ESockError>([&] { sock.setPort(bad); }),
            QStringLiteral("Port %1 is out of range: ports are 0 to 65535").arg(bad));
    }
    EXPECT_EQ(sock.Port(), server.port());
}

TEST(SockBaseConnect, RefusedConnectionFiresOnConnectionFailed)
{
    uint16_t closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    TSockBase sock;
    int failures = 0;
    sock.OnConnectionFailed = [&](QObject *) { ++failures; };
    EXPECT_EQ(raisedText<ESockError>([&] { connectBounded(sock, closedPort); }), QStringLiteral("Connection Failed"));
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(sock.Connected());
}

TEST(SockBaseConnect, ImmediateConnectErrorIsReportedWithItsText)
{
    TSockBase sock;
    sock.setHost(QStringLiteral("224.0.0.1")); // TCP to a multicast address fails at once
    sock.setPort(9);
    std::vector<std::pair<uint16_t, QString>> reported;
    sock.OnSocketError = [&](QObject *, uint16_t number, const QString &text) { reported.emplace_back(number, text); };
    const auto safety = cancelAfter(sock, 3000);
    const QString message = raisedText<ESockError>([&] { sock.Connect(); });
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].first, sock.LastErrorNo());
    EXPECT_NE(sock.LastErrorNo(), ws::WSAEWOULDBLOCK);
    EXPECT_EQ(reported[0].second, message);
    EXPECT_EQ(message, sock.ErrorText(uint16_t(sock.LastErrorNo())));
}

TEST(SockBaseLines, ReadLnReturnsTheLineWithItsEndAndKeepsTheRest)
{
    LoopbackServer server;
    TSockBase sock;
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    const auto safety = cancelAfter(sock, 3000);
    server.send(QByteArray("abc\r\ndef"));
    EXPECT_EQ(sock.ReadLn(), QStringLiteral("abc\r\n"));
    EXPECT_EQ(sock.IncomingData().bytes(), QByteArray("def"));
    server.send(QByteArray("\nghi\n"));
    EXPECT_EQ(sock.ReadLn(), QStringLiteral("def\n"));
    EXPECT_EQ(sock.ReadLn(), QStringLiteral("ghi\n"));
    EXPECT_EQ(sock.IncomingData().size(), 0);
}

TEST(SockBaseLines, WriteSendsLatin1TextUpToItsFirstZeroCharacter)
{
    LoopbackServer server;
    TSockBase sock;
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    const auto safety = cancelAfter(sock, 3000);
    sock.Writeln(QStringLiteral("hello"));
    sock.Write(QStringLiteral("caf\u00e9") + QChar(0) + QStringLiteral("lost"));
    sock.Write(QString()); // nothing to send: returns at once
    EXPECT_TRUE(testsupport::waitUntil([&] { return server.received().size() >= 11; }, 3000));
    EXPECT_EQ(server.received(), QByteArray("hello\r\ncaf\xe9"));
}

TEST(SockBaseLines, TextLongerThanTheTextBufferGoesOutWhole)
{
    LoopbackServer server;
    TSockBase sock;
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    const auto safety = cancelAfter(sock, 5000);
    const QString longLine = QString(16383, QLatin1Char('x')) + QStringLiteral("yz");
    sock.Writeln(longLine);
    const QByteArray expected = longLine.toLatin1() + "\r\n";
    EXPECT_TRUE(testsupport::waitUntil([&] { return server.received().size() >= expected.size(); }, 3000));
    EXPECT_EQ(server.received(), expected);
}

TEST(SockBaseTransaction, ReplyNumbersFromTheLeadingDigits)
{
    LoopbackServer server;
    server.responder = [](const QByteArray &line) -> QByteArray {
        if (line == "HELO me\r\n")
            return "250 Hello\r\n";
        if (line == "MAX\r\n")
            return "32767 max\r\n";
        if (line == "BIG\r\n")
            return "32768 over\r\n";
        if (line == "HUGE\r\n")
            return "9999999999 beyond 32 bits\r\n";
        if (line == "LONG\r\n")
            return "12345678901 ten digits are read\r\n";
        if (line == "MINUS\r\n")
            return "-12 no digits first\r\n";
        return "ok\r\n";
    };
    TSockBase sock;
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    QStringList statuses;
    sock.setReportLevel(1);
    sock.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    const auto safety = cancelAfter(sock, 5000);

    EXPECT_EQ(sock.Transaction(QStringLiteral("HELO me")), QStringLiteral("250 Hello\r\n"));
    EXPECT_EQ(sock.ReplyNumber(), 250);
    EXPECT_EQ(sock.LastReply(), QStringLiteral("250 Hello\r\n"));
    EXPECT_EQ(statuses, QStringList { QStringLiteral("250 Hello\r\n") });

    sock.Transaction(QStringLiteral("NOOP"));
    EXPECT_EQ(sock.ReplyNumber(), 0);
    sock.Transaction(QStringLiteral("MAX"));
    EXPECT_EQ(sock.ReplyNumber(), 32767);
    EXPECT_THROW(sock.Transaction(QStringLiteral("BIG")), framework::ERangeError);
    EXPECT_EQ(sock.LastReply(), QStringLiteral("32768 over\r\n"));
    sock.Transaction(QStringLiteral("HUGE"));
    EXPECT_EQ(sock.ReplyNumber(), 0);
    EXPECT_THROW(sock.Transaction(QStringLiteral("LONG")), framework::ERangeError);
    sock.Transaction(QStringLiteral("MINUS"));
    EXPECT_EQ(sock.ReplyNumber(), 0);
    EXPECT_EQ(server.received(), QByteArray("HELO me\r\nNOOP\r\nMAX\r\nBIG\r\nHUGE\r\nLONG\r\nMINUS\r\n"));
}

// Records the messages its window hands over, then handles them as usual.
class RecordingSock : public TSockBase
{
public:
    void DispatchSocketMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        messages.push_back(message);
        TSockBase::DispatchSocketMessage(message, wParam, lParam);
    }
    int count(uint32_t message) const { return int(std::count(messages.begin(), messages.end(), message)); }
    std::vector<uint32_t> messages;
};

// Chunk reads scheduled after the peer sent size bytes at once, and the errors of the reads.
int chunkReadsFor(int size, std::vector<uint16_t> *readErrors)
{
    LoopbackServer server;
    RecordingSock sock;
    connectBounded(sock, server.port());
    EXPECT_TRUE(server.acceptClient());
    sock.OnSocketError = [&](QObject *, uint16_t number, const QString &) { readErrors->push_back(number); };
    server.send(pattern(size)); // in the receive buffer before the component reads
    EXPECT_TRUE(testsupport::waitUntil([&] { return sock.IncomingData().size() == size; }, 3000));
    testsupport::serveEvents(50);
    EXPECT_EQ(sock.IncomingData().bytes(), pattern(size));
    return sock.count(TSockBase::ReadChunkMessage);
}

TEST(SockBaseChunks, AFullChunkSchedulesAnotherReadAShorterOneDoesNot)
{
    std::vector<uint16_t> readErrors;
    EXPECT_EQ(chunkReadsFor(16383, &readErrors), 1);
    // The extra read finds nothing more.
    EXPECT_EQ(readErrors, std::vector<uint16_t> { uint16_t(ws::WSAEWOULDBLOCK) });
    readErrors.clear();
    EXPECT_EQ(chunkReadsFor(16382, &readErrors), 0);
    EXPECT_TRUE(readErrors.empty());
}

TEST(SockBaseChunks, LargeTransfersArriveWholeInBothDirections)
{
    LoopbackServer server;
    TSockBase sock;
    sock.setChunkEvents(true);
    int chunksIn = 0;
    int chunksOut = 0;
    sock.OnChunkReceived = [&](QObject *) { ++chunksIn; };
    sock.OnChunkSent = [&](QObject *) { ++chunksOut; };
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());

    const QByteArray inbound = pattern(100000);
    server.send(inbound);
    ASSERT_TRUE(testsupport::waitUntil([&] { return sock.IncomingData().size() >= inbound.size(); }, 3000));
    EXPECT_EQ(sock.IncomingData().bytes(), inbound);
    EXPECT_EQ(sock.BytesReceived(), 100000u);
    EXPECT_GE(chunksIn, 7); // at most 16383 bytes per read

    const QByteArray outbound = pattern(65535);
    const auto safety = cancelAfter(sock, 5000);
    sock.SendBuffer(outbound.constData(), 65535);
    EXPECT_TRUE(sock.SendDone());
    EXPECT_EQ(sock.BytesSent(), 65535u);
    EXPECT_GE(chunksOut, 5);
    EXPECT_EQ(sock.OutgoingData().size(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.received().size() >= outbound.size(); }, 3000));
    EXPECT_EQ(server.received(), outbound);
}

TEST(SockBaseChunks, KeepSendPositionSendsFromBytesSentAndKeepsTheData)
{
    LoopbackServer server;
    TSockBase sock;
    connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    ASSERT_EQ(sock.BytesSent(), 0u);
    const QByteArray data = pattern(40000);
    sock.setKeepSendPosition(true);
    sock.OutgoingData().write(data);
    sock.OutgoingData().setPosition(0);
    sock.DispatchSocketMessage(TSockBase::WriteChunkMessage, 0, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return sock.SendDone(); }, 3000));
    EXPECT_EQ(sock.BytesSent(), 40000u);
    EXPECT_EQ(sock.OutgoingData().bytes(), data);
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.received().size() >= data.size(); }, 3000));
    EXPECT_EQ(server.received(), data);
}

TEST(SockBaseAccept, AcceptsIncomingConnectionsAndIgnoresTheirNotices)
{
    testsupport::ListenSock listener;
    int accepted = 0;
    int disconnects = 0;
    listener.OnAccepted = [&](QObject *) { ++accepted; };
    listener.OnDisconnect = [&](QObject *) { ++disconnects; };
    const uint16_t listening = listener.SocketHandle();

    TSockBase client;
    connectBounded(client, listener.port());
    const auto safety = cancelAfter(listener, 3000);
    const uint16_t handle = listener.Accept();
    ASSERT_NE(handle, TSockBase::kNoSocket);
    EXPECT_EQ(accepted, 1);
    EXPECT_FALSE(listener.AcceptPending());
    sockaddr_in clientAddress {};
    ws::localName(client.SocketHandle(), clientAddress);
    EXPECT_EQ(listener.RemoteAddress().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(listener.RemoteAddress().sin_port, clientAddress.sin_port);

    // The accepted connection carries data both ways.
    ASSERT_EQ(ws::send(handle, "hi\n", 3), 3);
    const auto clientSafety = cancelAfter(client, 3000);
    EXPECT_EQ(client.ReadLn(), QStringLiteral("hi\n"));
    client.Writeln(QStringLiteral("back"));
    char reply[16] = {};
    ASSERT_TRUE(testsupport::waitUntil([&] { return ws::recv(handle, reply, sizeof reply) == 6; }, 3000));
    EXPECT_EQ(QByteArray(reply), QByteArray("back\r\n"));

    // The accepted socket's own notices (data, close) do not touch the listening socket.
    client.Disconnect();
    testsupport::serveEvents(100);
    EXPECT_EQ(listener.SocketHandle(), listening);
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(listener.IncomingData().size(), 0);
    ws::closeSocket(handle);

    // A second connection is accepted as well.
    TSockBase second;
    connectBounded(second, listener.port());
    const uint16_t secondHandle = listener.Accept();
    EXPECT_NE(secondHandle, TSockBase::kNoSocket);
    EXPECT_EQ(accepted, 2);
    ws::closeSocket(secondHandle);
}

// Exposes the look-up step, to end a look-up on a listening component.
class ResolvingListenSock : public testsupport::ListenSock
{
public:
    using TSockBase::ResolveRemoteHost;
};

TEST(SockBaseAccept, AFinishedLookupIsNoIncomingConnection)
{
    ResolvingListenSock listener;
    listener.setHost(QStringLiteral("localhost")); // in /etc/hosts: no DNS needed
    listener.ResolveRemoteHost();
    ASSERT_TRUE(listener.LookupDone());
    const auto safety = cancelAfter(listener, 150);
    EXPECT_EQ(raisedText<ESockError>([&] { listener.Accept(); }), QStringLiteral("Accepting Canceled"));
}

// A component connected to a loopback server, counting its disconnections.
struct ConnectedSock : ::testing::Test
{
    LoopbackServer server;
    TSockBase sock;
    int disconnects = 0;

    void SetUp() override
    {
        sock.OnDisconnect = [this](QObject *sender) {
            EXPECT_EQ(sender, &sock);
            ++disconnects;
        };
        connectBounded(sock, server.port());
        ASSERT_TRUE(server.acceptClient());
    }
};

using SockBaseClose = ConnectedSock;

TEST_F(SockBaseClose, DisconnectClosesAndOpensAFreshSocket)
{
    sock.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(sock.Connected());
    EXPECT_NE(sock.SocketHandle(), TSockBase::kNoSocket);

    // The fresh socket connects again.
    server.closeClient();
    connectBounded(sock, server.port());
    EXPECT_TRUE(sock.Connected());
    ASSERT_TRUE(server.acceptClient());
}

TEST_F(SockBaseClose, TheOldSocketsCloseNoticeNeverReachesTheFreshOne)
{
    testsupport::serveEvents(30); // nothing of the connection's start is left to deliver
    const uint16_t old = sock.SocketHandle();
    server.closeClient();
    pollfd hangUp { old, POLLRDHUP, 0 };
    ASSERT_EQ(::poll(&hangUp, 1, 3000), 1);
    // One pass of the loop: the layer sees the hang-up and posts its close notice, which waits for
    // the next pass. Meanwhile the component closes and at once opens a socket under the same
    // descriptor number.
    QCoreApplication::processEvents();
    ASSERT_EQ(disconnects, 0) << "the close notice was delivered at once";
    sock.Disconnect();
    ASSERT_EQ(sock.SocketHandle(), old);
    ASSERT_EQ(raisedText<ESockError>([&] { connectBounded(sock, server.port(), 1000); }), QString())
        << "the old socket's close notice closed the new one";
    ASSERT_TRUE(server.acceptClient());
    testsupport::serveEvents(50);
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(disconnects, 1);
}

TEST_F(SockBaseClose, PeerCloseKeepsTheLastBytesForReadLn)
{
    server.send(QByteArray("last words\r\n"));
    server.closeClient();
    ASSERT_TRUE(testsupport::waitUntil([&] { return disconnects == 1; }, 3000));
    EXPECT_FALSE(sock.Connected());
    EXPECT_NE(sock.SocketHandle(), TSockBase::kNoSocket);
    const auto safety = cancelAfter(sock, 3000);
    EXPECT_EQ(sock.ReadLn(), QStringLiteral("last words\r\n"));
}

TEST(SockBaseWinsock, StartUpCountOverTwoInstances)
{
    ASSERT_EQ(TSockBase::WinsockUsers(), 0);
    const int startups = ws::startupCount();
    auto first = std::make_unique<TSockBase>();
    EXPECT_EQ(TSockBase::WinsockUsers(), 1);
    EXPECT_EQ(ws::startupCount(), startups + 1);
    const QStringList info = first->WinsockInfo();
    ASSERT_EQ(info.size(), 6);
    EXPECT_EQ(info[0], QStringLiteral("Version= 1.1"));
    EXPECT_EQ(info[1], QStringLiteral("High Version= 1.1"));
    EXPECT_TRUE(info[2].startsWith(QStringLiteral("Description= ")) && info[2].size() > 13);
    EXPECT_TRUE(info[3].startsWith(QStringLiteral("System= ")));
    EXPECT_TRUE(info[4].startsWith(QStringLiteral("Max Sockets= ")));
    EXPECT_EQ(info[5], QStringLiteral("Max Udp pack size= 65507"));

    auto second = std::make_unique<TSockBase>();
    EXPECT_EQ(TSockBase::WinsockUsers(), 2);
    EXPECT_EQ(ws::startupCount(), startups + 1);
    EXPECT_TRUE(second->WinsockInfo().isEmpty());

    first.reset();
    EXPECT_EQ(TSockBase::WinsockUsers(), 1);
    EXPECT_EQ(ws::startupCount(), startups + 1);
    second.reset();
    EXPECT_EQ(TSockBase::WinsockUsers(), 0);
    EXPECT_EQ(ws::startupCount(), startups);
}

TEST(SockBaseWinsock, NoSocketLeftMeansConstructionFailsAndTheCountIsRestored)
{
    // One construction first: the sanitizer's type checks then need no descriptor of their own
    // while none is left.
    {
        TSockBase warmUp;
        try {
            throw ESockError(QStringLiteral("warm-up"));
        } catch (const ESockError &) { }
    }
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int users = TSockBase::WinsockUsers();
    const int startups = ws::startupCount();
    rlimit low = saved;
    low.rlim_cur = 128;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::dup(0)) >= 0;)
        filler.push_back(fd);
    QString message;
    try {
        TSockBase sock;
    } catch (const ESockError &error) {
        message = error.message();
    }
    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(message, QStringLiteral("Initializaton of windows sockets failed"));
    EXPECT_EQ(TSockBase::WinsockUsers(), users);
    EXPECT_EQ(ws::startupCount(), startups);
}

TEST(SockBase, QueryLocalAddressIsADottedNonLoopbackAddress)
{
    TSockBase sock;
    sock.setReportLevel(16);
    QString address = QStringLiteral("stale");
    sock.QueryLocalAddress(address);
    EXPECT_TRUE(sock.LastStatus().isEmpty()); // no status, no socket use
    const QString primary = platform::primaryLocalIPv4Address();
    if (primary.isEmpty() || primary.startsWith(QLatin1String("127.")))
        EXPECT_TRUE(address.isEmpty());
    else
        EXPECT_EQ(address, primary);
    if (!address.isEmpty()) {
        static const QRegularExpression dotted(QStringLiteral("^(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}$"));
        EXPECT_TRUE(dotted.match(address).hasMatch()) << address.toStdString();
        EXPECT_FALSE(address.startsWith(QLatin1String("127.")));
        EXPECT_NE(ws::inetAddr(address), ws::kNoneAddress);
    }
}

} // namespace
