#include "net/udpsock.h"

#include "fakeresolver.h"
#include "support/eventwait.h"
#include "support/raised.h"
#include "support/recorders.h"
#include "udptestpeer.h"

#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <typeinfo>
#include <vector>

using framework::MemoryStream;
using net::TUDPSock;
using net::UDPSockError;
using testsupport::freeUdpPort;
using testsupport::raisedText;
using testsupport::RawUdpSocket;
using testsupport::waitUntil;

namespace {

struct Received
{
    int count = 0;
    QString from;
    QByteArray bytes;
    QObject *sender = nullptr;
};

// A component bound to a fresh port that records what arrives.
struct Listener
{
    TUDPSock sock;
    std::vector<Received> received;
    uint16_t port = freeUdpPort();

    Listener()
    {
        sock.OnDataReceived = [this](QObject *sender, int count, const QString &from) {
            MemoryStream stream;
            sock.ReadStream(stream);
            received.push_back(Received { count, from, stream.bytes(), sender });
        };
        sock.setLocalPort(port);
    }
    bool waitFor(size_t n, int ms = 3000)
    {
        return waitUntil([&] { return received.size() >= n; }, ms);
    }
};

MemoryStream streamOf(const QByteArray &bytes)
{
    MemoryStream stream;
    stream.write(bytes);
    return stream;
}

} // namespace

TEST(UDPSock, NewComponentHasItsDefaultsAndIsNotBound)
{
    TUDPSock sock;
    EXPECT_EQ(sock.RemoteHost(), "");
    EXPECT_EQ(sock.RemotePort(), 0);
    EXPECT_EQ(sock.LocalPort(), 0);
    EXPECT_EQ(sock.ReportLevel(), 1);
    EXPECT_FALSE(sock.isBound());
    sock.loadStored({});
    EXPECT_TRUE(sock.isBound()) << "the after-loading notification binds";
}

TEST(UDPSock, AStoredLocalPortBindsWithoutAnErrorFromTheAfterLoadingBind)
{
    // The stored LocalPort binds through its setter; the after-loading notification (and any
    // later BindSocket) then finds the socket bound already, which is no failure to report.
    testsupport::ExceptionRecorder errors;
    Listener b;
    const uint16_t port = freeUdpPort();
    b.sock.loadStored([&] { b.sock.setLocalPort(port); });
    b.sock.BindSocket();
    EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join('|').toStdString();
    EXPECT_TRUE(b.sock.isBound());
    RawUdpSocket peer;
    peer.sendTo("stored", port);
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].bytes, "stored");
}

TEST(UDPSock, SendsAStreamAsOneDatagramAndReportsTheSender)
{
    Listener b;
    TUDPSock a;
    int sent = 0;
    a.OnDataSend = [&](QObject *sender) {
        EXPECT_EQ(sender, &a);
        ++sent;
    };
    a.setLocalPort(freeUdpPort());
    a.setRemoteHost("127.0.0.1");
    a.setRemotePort(b.port);
    MemoryStream stream = streamOf("hello");
    stream.setPosition(3); // the whole stream goes, whatever its position
    a.SendStream(stream);
    EXPECT_EQ(sent, 1);
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].count, 5);
    EXPECT_EQ(b.received[0].bytes, "hello");
    EXPECT_EQ(b.received[0].from, "127.0.0.1");
    EXPECT_EQ(b.received[0].sender, &b.sock);
}

TEST(UDPSock, FromIPIsPlainDottedTextOfTheSendersAddress)
{
    Listener b;
    RawUdpSocket peer("127.10.0.20");
    ASSERT_TRUE(peer.bound());
    ASSERT_TRUE(peer.sendTo("x", b.port));
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].from, "127.10.0.20");
}

TEST(UDPSock, ReadStreamAppendsAtThePositionAndRewinds)
{
    Listener b;
    MemoryStream target = streamOf("abcd");
    target.setPosition(2);
    b.sock.OnDataReceived = [&](QObject *, int, const QString &) { b.sock.ReadStream(target); };
    RawUdpSocket peer;
    peer.sendTo("XYZ", b.port);
    ASSERT_TRUE(waitUntil([&] { return target.size() == 5; }));
    EXPECT_EQ(target.bytes(), "abXYZ");
    EXPECT_EQ(target.position(), 0);
}

TEST(UDPSock, RebindingToTheSamePortTwiceKeepsReceiving)
{
    Listener b;
    b.sock.setLocalPort(b.port);
    b.sock.setLocalPort(b.port);
    EXPECT_TRUE(b.sock.isBound());
    RawUdpSocket peer;
    peer.sendTo("after rebind", b.port);
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].bytes, "after rebind");
}

TEST(UDPSock, MovingToAnotherPortReceivesThereAndNoLongerOnTheOld)
{
    Listener b;
    const uint16_t old = b.port;
    const uint16_t moved = freeUdpPort();
    b.sock.setLocalPort(moved);
    RawUdpSocket peer;
    peer.sendTo("old", old);
    peer.sendTo("new", moved);
    ASSERT_TRUE(b.waitFor(1));
    testsupport::serveEvents(50);
    ASSERT_EQ(b.received.size(), 1u);
    EXPECT_EQ(b.received[0].bytes, "new");
}

TEST(UDPSock, PortsOutsideSixteenBitsAreRefusedAndChangeNothing)
{
    Listener b;
    RawUdpSocket peer;
    b.sock.setRemoteHost("127.0.0.1");
    b.sock.setRemotePort(peer.port());
    for (int bad : { -1, 65536, 70000, INT_MIN, INT_MAX }) {
        const QString expected = QStringLiteral("Port %1 is out of range: ports are 0 to 65535").arg(bad);
        EXPECT_EQ(raisedText<UDPSockError>([&] { b.sock.setLocalPort(bad); }), expected);
        EXPECT_EQ(raisedText<UDPSockError>([&] { b.sock.setRemotePort(bad); }), expected);
    }
    EXPECT_EQ(b.sock.LocalPort(), b.port);
    EXPECT_EQ(b.sock.RemotePort(), peer.port());
    // Still bound where it was, and still sending where it did.
    MemoryStream stream = streamOf("unchanged");
    b.sock.SendStream(stream);
    EXPECT_EQ(peer.receive(), "unchanged");
    peer.sendTo("here", b.port);
    ASSERT_TRUE(b.waitFor(1));
    b.sock.setRemotePort(65535);
    EXPECT_EQ(b.sock.RemotePort(), 65535);
}

TEST(UDPSock, DottedRemoteHostNeedsNoLookupAndNullAddressIsRefused)
{
    testsupport::ResolverGuard restore;
    auto resolver = testsupport::FakeResolver::install();
    Listener b;
    TUDPSock a;
    a.setRemoteHost("127.0.0.1");
    a.setRemotePort(b.port);
    MemoryStream stream = streamOf("1");
    a.SendStream(stream);
    EXPECT_TRUE(resolver->asked.isEmpty());

    a.setRemoteHost("0.0.0.0");
    EXPECT_EQ(raisedText<UDPSockError>([&] { a.SendStream(stream); }), "Null Remote Address");
    EXPECT_TRUE(resolver->asked.isEmpty());
    // The component stays usable.
    a.setRemoteHost("127.0.0.1 trailing text is ignored");
    a.SendStream(stream);
    ASSERT_TRUE(b.waitFor(2));
}

TEST(UDPSock, EmptyStreamIsRefusedUnlessTheHandlerFillsIt)
{
    Listener b;
    TUDPSock a;
    a.setRemoteHost("127.0.0.1");
    a.setRemotePort(b.port);
    MemoryStream empty;
    // The refusal is the framework's own exception, not the component's UDPSockError.
    const auto refusal = [&] {
        try {
            a.SendStream(empty);
        } catch (const framework::Exception &error) {
            return typeid(error) == typeid(framework::Exception) ? error.message()
                                                                 : QStringLiteral("another class: ") + error.message();
        }
        return QString();
    };
    const QString invalidStream = QStringLiteral("Invalid stream");
    EXPECT_EQ(refusal(), invalidStream);

    int asked = 0;
    a.OnStreamInvalid = [&](bool &handled, MemoryStream &) {
        ++asked;
        handled = false;
    };
    EXPECT_EQ(refusal(), invalidStream);
    EXPECT_EQ(asked, 1);

    a.OnStreamInvalid = [&](bool &handled, MemoryStream &) {
        ++asked;
        handled = true; // claims to have fixed it but leaves the stream empty
    };
    EXPECT_EQ(refusal(), invalidStream);
    EXPECT_EQ(asked, 2) << "the handler gets one chance per send";

    a.OnStreamInvalid = [&](bool &handled, MemoryStream &stream) {
        stream.write(QByteArray("filled"));
        handled = true;
    };
    a.SendStream(empty);
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].bytes, "filled");
}

TEST(UDPSock, StatusTextsFollowTheReportLevel)
{
    Listener b;
    TUDPSock a;
    QStringList log;
    a.OnStatus = [&](QObject *sender, const QString &status) {
        EXPECT_EQ(sender, &a);
        log << status;
    };
    a.OnDataSend = [&](QObject *) { log << "sent"; };
    a.setRemoteHost("127.0.0.1");
    a.setRemotePort(b.port);
    MemoryStream stream = streamOf("s");
    a.SendStream(stream);
    EXPECT_EQ(log, QStringList { "sent" });
    EXPECT_EQ(a.LastStatus(), "");

    a.setReportLevel(2);
    a.SendStream(stream);
    a.SendStream(stream);
    EXPECT_EQ(log, (QStringList { "sent", "Sending Data", "sent", "Sending Data", "sent" }));
    EXPECT_EQ(a.LastStatus(), "Sending Data");
}

TEST(UDPSock, RemoteHostOver128CharactersIsRefused)
{
    TUDPSock a;
    const QString longest(128, QLatin1Char('h'));
    a.setRemoteHost(longest);
    EXPECT_EQ(a.RemoteHost(), longest);
    const QString text = raisedText<UDPSockError>([&] { a.setRemoteHost(QString(129, QLatin1Char('h'))); });
    EXPECT_TRUE(text.startsWith("Remote host name too long")) << text.toStdString();
    EXPECT_EQ(a.RemoteHost(), longest);
}

TEST(UDPSock, DatagramsUpToTheBufferSizeArriveWhole)
{
    Listener b;
    RawUdpSocket peer;
    const std::vector<int> sizes { 0, 1, 2047, 2048 };
    for (int size : sizes) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + size);
        ASSERT_TRUE(peer.sendTo(bytes, b.port));
        ASSERT_TRUE(b.waitFor(b.received.size() + 1)) << size;
        EXPECT_EQ(b.received.back().count, size);
        EXPECT_EQ(b.received.back().bytes, bytes);
    }
}

TEST(UDPSock, LongerDatagramsAreDroppedAndNeverReachTheHandlerAsData)
{
    Listener b;
    b.sock.setReportLevel(16);
    QStringList statuses;
    b.sock.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    RawUdpSocket peer;
    ASSERT_TRUE(peer.sendTo(QByteArray(2049, 'a'), b.port));
    ASSERT_TRUE(peer.sendTo(QByteArray(65507, 'b'), b.port));
    ASSERT_TRUE(peer.sendTo("ok", b.port));
    ASSERT_TRUE(b.waitFor(1));
    testsupport::serveEvents(30);
    ASSERT_EQ(b.received.size(), 1u);
    EXPECT_EQ(b.received[0].bytes, "ok");
    EXPECT_EQ(b.sock.LastErrorNo(), 10040);
    EXPECT_EQ(statuses.count("Datagram dropped: 10040:Message too long"), 2);
}

TEST(UDPSock, StreamsOverTheBufferSizeAreRefusedNotTruncated)
{
    Listener b;
    TUDPSock a;
    a.setRemoteHost("127.0.0.1");
    a.setRemotePort(b.port);
    MemoryStream full = streamOf(QByteArray(2048, 'f'));
    a.SendStream(full);
    ASSERT_TRUE(b.waitFor(1));
    EXPECT_EQ(b.received[0].count, 2048);
    int sent = 0;
    a.OnDataSend = [&](QObject *) { ++sent; };
    MemoryStream tooLong = streamOf(QByteArray(2049, 'f'));
    EXPECT_EQ(raisedText<UDPSockError>([&] { a.SendStream(tooLong); }),
        "Datagram too long: 2049 bytes, at most 2048 can be sent");
    EXPECT_EQ(sent, 0);
    testsupport::serveEvents(30);
    EXPECT_EQ(b.received.size(), 1u);
}

TEST(UDPSock, APortAlreadyInUseIsReportedWithoutInterruptingTheCaller)
{
    testsupport::ExceptionRecorder errors;
    auto holder = std::make_unique<RawUdpSocket>("0.0.0.0");
    const uint16_t port = holder->port();
    TUDPSock sock;
    std::vector<QByteArray> received;
    sock.OnDataReceived = [&](QObject *, int, const QString &) {
        MemoryStream stream;
        sock.ReadStream(stream);
        received.push_back(stream.bytes());
    };
    EXPECT_NO_THROW(sock.setLocalPort(port));
    EXPECT_EQ(sock.LocalPort(), port);
    EXPECT_FALSE(sock.isBound());
    EXPECT_EQ(sock.LastErrorNo(), 10048);
    ASSERT_EQ(errors.entries().size(), 1u);
    EXPECT_EQ(errors.entries()[0].rawSender, &sock);
    EXPECT_EQ(errors.messages()[0], QStringLiteral("UDP port %1 is already in use by another program").arg(port));

    // Sending still works from an unbound socket.
    RawUdpSocket peer;
    sock.setRemoteHost("127.0.0.1");
    sock.setRemotePort(peer.port());
    MemoryStream stream = streamOf("still sends");
    sock.SendStream(stream);
    EXPECT_EQ(peer.receive(), "still sends");

    // Once the port is free, the next assignment binds it.
    holder.reset();
    sock.setLocalPort(port);
    EXPECT_TRUE(sock.isBound());
    EXPECT_EQ(errors.entries().size(), 1u);
    peer.sendTo("now bound", port);
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0], "now bound");
}

TEST(UDPSock, ComponentsBalanceTheSocketLibraryStartUps)
{
    const int before = platform::winsock::startupCount();
    {
        TUDPSock a;
        TUDPSock b;
        EXPECT_EQ(platform::winsock::startupCount(), before + 2);
        a.setLocalPort(freeUdpPort());
        a.setLocalPort(freeUdpPort());
        EXPECT_EQ(platform::winsock::startupCount(), before + 2);
    }
    EXPECT_EQ(platform::winsock::startupCount(), before);
}

TEST(UDPSock, AFailedSocketCreationRaisesTheErrorNumberAndLeavesNoStartUp)
{
    // Run the code paths once with descriptors to spare, so that sanitizer run-time checks (which
    // need descriptors of their own) are settled before the table is full.
    try {
        throw UDPSockError("warm-up");
    } catch (const UDPSockError &) { }
    {
        TUDPSock warm;
    }
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int before = platform::winsock::startupCount();
    std::vector<int> filler;
    rlimit tight = saved;
    tight.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    QString text;
    try {
        TUDPSock sock;
    } catch (const UDPSockError &e) {
        text = e.message();
    }
    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(text, "Unknown Error No. 10024");
    EXPECT_EQ(platform::winsock::startupCount(), before);
}
