// Every event of the socket components may free the component that fired it: what fired the
// event then ends without touching the freed component (the sanitizer build catches any touch).
// An operation raises the component's error; a notice ends quietly.
#include "fakeresolver.h"
#include "net/sockbase.h"
#include "net/udpsock.h"
#include "sockpeer.h"
#include "support/eventwait.h"
#include "support/raised.h"
#include "support/recorders.h"
#include "udptestpeer.h"

#include <QPointer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <sys/socket.h>
#include <type_traits>
#include <unistd.h>

namespace {

using framework::MemoryStream;
using net::ESockError;
using net::TSockBase;
using net::TUDPSock;
using net::UDPSockError;
using testsupport::LoopbackServer;
using testsupport::raisedText;

const QString kFreedByHandler = QStringLiteral("Socket component destroyed by an event handler");
const QString kFreedWhileWaiting = QStringLiteral("Socket component destroyed while waiting");

// A component on the heap and a way for its handlers to free it.
template<typename Component> struct Doomed
{
    QPointer<Component> sock;
    std::function<void()> free = [this] { delete sock.data(); };
};

// A connection attempt of plain POSIX sockets, which serves no events while it is made.
struct RawClient
{
    explicit RawClient(uint16_t port)
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
};

template<typename Component> struct FreeingCase
{
    const char *event;
    QString expected; // raised by what fired the event; empty for a notice
    std::function<void(Doomed<Component> &)> run;
    bool listening = false;
};

template<typename Component> void expectFreedSafely(const FreeingCase<Component> &c, Component *component)
{
    SCOPED_TRACE(c.event);
    testsupport::ExceptionRecorder errors;
    Doomed<Component> doomed { component };
    using Error = std::conditional_t<std::is_same_v<Component, TUDPSock>, UDPSockError, ESockError>;
    EXPECT_EQ(raisedText<Error>([&] { c.run(doomed); }), c.expected);
    EXPECT_TRUE(testsupport::waitUntil([&] { return doomed.sock.isNull(); }, 3000)) << "the handler never ran";
    testsupport::serveEvents(30); // notices still queued for the freed component find nothing
    EXPECT_TRUE(errors.messages().isEmpty()) << errors.messages().join(", ").toStdString();
    delete doomed.sock.data();
}

TEST(FreeingHandlers, SocketComponent)
{
    testsupport::ResolverGuard restore;
    auto names = testsupport::FakeResolver::install();
    names->hosts.insert(QStringLiteral("peer.test"), QStringLiteral("127.0.0.1"));
    auto server = std::make_unique<LoopbackServer>();
    uint16_t closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    using Sock = Doomed<TSockBase>;
    const auto connectTo = [&](Sock &d, const QString &host, uint16_t port) {
        d.sock->setHost(host);
        d.sock->setPort(port);
        const auto safety = testsupport::cancelAfter(*d.sock, 3000);
        d.sock->Connect();
    };
    const auto connected = [&](Sock &d) {
        server = std::make_unique<LoopbackServer>(); // no connection of an earlier case is waiting
        testsupport::connectBounded(*d.sock, server->port());
        ASSERT_TRUE(server->acceptClient());
    };
    const auto freeIt = [](Sock &d) { return [&d](auto &&...) { d.free(); }; };
    const FreeingCase<TSockBase> cases[] = {
        { "OnStatus", kFreedByHandler,
            [&](Sock &d) {
                d.sock->setReportLevel(8);
                d.sock->OnStatus = freeIt(d);
                connectTo(d, QStringLiteral("127.0.0.1"), server->port());
            } },
        { "OnInvalidHost", kFreedByHandler,
            [&](Sock &d) {
                d.sock->OnInvalidHost = [&d](bool &handled) {
                    handled = true;
                    d.free();
                };
                connectTo(d, QStringLiteral("nowhere.test"), server->port());
            } },
        { "OnHostResolved", kFreedByHandler,
            [&](Sock &d) {
                d.sock->OnHostResolved = freeIt(d);
                connectTo(d, QStringLiteral("peer.test"), server->port());
            } },
        { "OnConnectionFailed", kFreedByHandler,
            [&](Sock &d) {
                d.sock->OnConnectionFailed = freeIt(d);
                connectTo(d, QStringLiteral("127.0.0.1"), closedPort);
            } },
        { "OnConnect", kFreedWhileWaiting,
            [&](Sock &d) {
                d.sock->OnConnect = freeIt(d);
                connectTo(d, QStringLiteral("127.0.0.1"), server->port());
            } },
        { "OnDisconnect", kFreedByHandler,
            [&](Sock &d) {
                connected(d);
                d.sock->OnDisconnect = freeIt(d);
                d.sock->Disconnect();
            } },
        { "OnDataArrived", {},
            [&](Sock &d) {
                connected(d);
                d.sock->OnDataArrived = freeIt(d);
                server->send("x");
            } },
        { "OnChunkReceived", {},
            [&](Sock &d) {
                connected(d);
                d.sock->setChunkEvents(true);
                d.sock->OnChunkReceived = freeIt(d);
                server->send("x");
            } },
        { "OnSocketError", {},
            [&](Sock &d) {
                connected(d);
                d.sock->OnSocketError = freeIt(d);
                server->send(QByteArray(TSockBase::kChunkSize, 'x')); // the read after a full chunk fails
            } },
        { "OnAborted", {},
            [&](Sock &d) {
                connected(d);
                d.sock->Cancel();
                d.sock->OnAborted = freeIt(d);
                server->send("x");
            } },
        { "OnChunkSent", kFreedWhileWaiting,
            [&](Sock &d) {
                connected(d);
                d.sock->setChunkEvents(true);
                d.sock->OnChunkSent = freeIt(d);
                d.sock->SendBuffer("abc", 3);
            } },
        { "OnAccepted", kFreedWhileWaiting,
            [&](Sock &d) {
                d.sock->OnAccepted = freeIt(d);
                const RawClient client(static_cast<testsupport::ListenSock *>(d.sock.data())->port());
                const auto safety = testsupport::cancelAfter(*d.sock, 3000);
                d.sock->Accept();
            },
            true },
    };
    for (const auto &c : cases)
        expectFreedSafely(c, c.listening ? new testsupport::ListenSock : new TSockBase);
}

TEST(FreeingHandlers, UdpComponent)
{
    testsupport::ResolverGuard restore;
    testsupport::FakeResolver::install();
    testsupport::RawUdpSocket peer;
    using Sock = Doomed<TUDPSock>;
    const auto send = [&](Sock &d, const QByteArray &bytes) {
        d.sock->setRemoteHost(QStringLiteral("127.0.0.1"));
        d.sock->setRemotePort(peer.port());
        MemoryStream stream;
        stream.write(bytes);
        d.sock->SendStream(stream);
    };
    const auto freeIt = [](Sock &d) { return [&d](auto &&...) { d.free(); }; };
    const QString destroyed = QStringLiteral("UDP component destroyed by an event handler");
    const FreeingCase<TUDPSock> cases[] = {
        { "OnStreamInvalid", destroyed,
            [&](Sock &d) {
                d.sock->OnStreamInvalid = [&d](bool &handled, MemoryStream &stream) {
                    stream.write(QByteArray("filled"));
                    handled = true;
                    d.free();
                };
                send(d, {});
            } },
        { "OnStatus", destroyed,
            [&](Sock &d) {
                d.sock->setReportLevel(2);
                d.sock->OnStatus = freeIt(d);
                send(d, "status");
            } },
        { "OnInvalidHost", QStringLiteral("Host Lookup Canceled"),
            [&](Sock &d) {
                d.sock->OnInvalidHost = [&d](bool &handled) {
                    handled = true;
                    d.free();
                };
                d.sock->setRemoteHost(QStringLiteral("nowhere.test"));
                MemoryStream stream;
                stream.write(QByteArray("x"));
                d.sock->SendStream(stream);
            } },
        { "OnDataSend", {},
            [&](Sock &d) {
                d.sock->OnDataSend = freeIt(d);
                send(d, "sent");
            } },
        { "OnDataReceived", {},
            [&](Sock &d) {
                const uint16_t port = testsupport::freeUdpPort();
                d.sock->setLocalPort(port);
                d.sock->OnDataReceived = freeIt(d);
                peer.sendTo("one", port);
                peer.sendTo("two", port);
            } },
    };
    for (const auto &c : cases)
        expectFreedSafely(c, new TUDPSock);
}

} // namespace
