#include "fakeresolver.h"
#include "framework/exception.h"
#include "net/sockbase.h"
#include "net/threadtimer.h"
#include "sockpeer.h"
#include "support/eventwait.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <sys/socket.h>

namespace {

using net::EAbortError;
using net::ESockError;
using net::TSockBase;
using testsupport::cancelAfter;
using testsupport::LoopbackServer;

// The text of the ESockError body raised, and whether it was an EAbortError.
struct Raised
{
    QString message;
    bool abort = false;
};

template<typename Body> Raised raisedBy(Body &&body)
{
    try {
        body();
    } catch (const EAbortError &error) {
        return { error.message(), true };
    } catch (const ESockError &error) {
        return { error.message(), false };
    }
    return {};
}

class SockBaseWaits : public ::testing::Test
{
protected:
    testsupport::ResolverGuard restore;
    std::shared_ptr<testsupport::FakeResolver::State> names = testsupport::FakeResolver::install();
};

TEST_F(SockBaseWaits, CancelEndsALookupThatNeverAnswers)
{
    names->delayMs = -1;
    TSockBase sock; // TimeOut 0: only Cancel ends the wait
    sock.setHost(QStringLiteral("silent.test"));
    QElapsedTimer clock;
    clock.start();
    const auto cancel = cancelAfter(sock, 300);
    const Raised raised = raisedBy([&] { sock.Connect(); });
    EXPECT_EQ(raised.message, QStringLiteral("Host Lookup Canceled"));
    EXPECT_FALSE(raised.abort);
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_FALSE(sock.Timer()->Enabled());
}

TEST_F(SockBaseWaits, LookupTimesOut)
{
    names->delayMs = -1;
    TSockBase sock;
    sock.setHost(QStringLiteral("silent.test"));
    sock.setTimeOut(150);
    const auto safety = cancelAfter(sock, 3000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(raisedBy([&] { sock.Connect(); }).message, QStringLiteral("Host Lookup Timed Out"));
    EXPECT_GE(clock.elapsed(), 140);
    EXPECT_TRUE(sock.TimedOut());
    EXPECT_FALSE(sock.Timer()->Enabled());
}

TEST_F(SockBaseWaits, NegativeTimeOutIsARangeError)
{
    names->delayMs = -1;
    TSockBase sock;
    sock.setHost(QStringLiteral("silent.test"));
    sock.setTimeOut(-1);
    EXPECT_THROW(sock.Connect(), framework::ERangeError);
}

TEST(SockBaseConnectWaits, ConnectTimesOutAgainstAFullBacklog)
{
    testsupport::FullBacklog backlog;
    ASSERT_TRUE(backlog.hangs()) << "a connection to a full backlog completed on this system";
    TSockBase sock;
    int failures = 0;
    sock.OnConnectionFailed = [&](QObject *) { ++failures; };
    sock.setHost(QStringLiteral("127.0.0.1"));
    sock.setPort(backlog.port());
    sock.setTimeOut(200);
    const auto safety = cancelAfter(sock, 3000);
    EXPECT_EQ(raisedBy([&] { sock.Connect(); }).message, QStringLiteral("Connection Timed out"));
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(sock.Connected());
}

TEST(SockBaseConnectWaits, CancelEndsAConnectThatHangs)
{
    testsupport::FullBacklog backlog;
    ASSERT_TRUE(backlog.hangs());
    TSockBase sock;
    int failures = 0;
    sock.OnConnectionFailed = [&](QObject *) { ++failures; };
    sock.setHost(QStringLiteral("127.0.0.1"));
    sock.setPort(backlog.port());
    const auto cancel = cancelAfter(sock, 200);
    const Raised raised = raisedBy([&] { sock.Connect(); });
    EXPECT_EQ(raised.message, QStringLiteral("Connection Canceled"));
    EXPECT_FALSE(raised.abort);
    EXPECT_EQ(failures, 1);
}

TEST(SockBaseConnectWaits, ConnectClearsAStickyCancel)
{
    LoopbackServer server;
    TSockBase sock;
    sock.Cancel();
    testsupport::connectBounded(sock, server.port());
    EXPECT_TRUE(sock.Connected());
    EXPECT_FALSE(sock.CancelRequested());
}

TEST(SockBaseDataWaits, CancelEndsASendThePeerDoesNotTake)
{
    LoopbackServer server(4096);
    TSockBase sock;
    const int small = 4096;
    ::setsockopt(sock.SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    server.setReading(false);

    const QByteArray block(65535, 'q');
    const auto cancel = cancelAfter(sock, 500);
    Raised raised;
    for (int sent = 0; sent < 200 && raised.message.isEmpty(); ++sent)
        raised = raisedBy([&] { sock.SendBuffer(block.constData(), 65535); });
    EXPECT_EQ(raised.message, QStringLiteral("Socket send aborted"));
    EXPECT_TRUE(raised.abort);
    EXPECT_FALSE(sock.CancelRequested()); // the send's abort takes the cancel
}

TEST(SockBaseDataWaits, SendAfterCancelReturnsWithoutSending)
{
    LoopbackServer server;
    TSockBase sock;
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    sock.Cancel();
    sock.SendBuffer("abc", 3);
    EXPECT_EQ(sock.OutgoingData().size(), 0);
    EXPECT_TRUE(sock.CancelRequested());
}

TEST(SockBaseDataWaits, CancelEndsReadLnAndStaysSet)
{
    LoopbackServer server;
    TSockBase sock;
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    server.send(QByteArray("no line end"));
    const auto cancel = cancelAfter(sock, 200);
    const Raised raised = raisedBy([&] { sock.ReadLn(); });
    EXPECT_EQ(raised.message, QStringLiteral("Socket readln aborted"));
    EXPECT_TRUE(raised.abort);
    EXPECT_TRUE(sock.CancelRequested());
    EXPECT_EQ(sock.IncomingData().bytes(), QByteArray("no line end"));

    // The next read under the standing cancel switches the notices off and fires OnAborted.
    int aborted = 0;
    int arrivals = 0;
    sock.OnAborted = [&](QObject *) { ++aborted; };
    sock.OnDataArrived = [&](QObject *) { ++arrivals; };
    server.send(QByteArray(", more"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return aborted == 1; }, 3000));
    EXPECT_EQ(sock.IncomingData().bytes(), QByteArray("no line end, more"));
    server.send(QByteArray(" unheard"));
    testsupport::serveEvents(100);
    EXPECT_EQ(arrivals, 1);
    EXPECT_EQ(aborted, 1);
}

TEST(SockBaseDataWaits, ALineAfterAZeroByteIsNotFound)
{
    LoopbackServer server;
    TSockBase sock;
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    server.send(QByteArray("ab\0cd\n", 6));
    ASSERT_TRUE(testsupport::waitUntil([&] { return sock.IncomingData().size() == 6; }, 3000));
    const auto cancel = cancelAfter(sock, 100);
    EXPECT_EQ(raisedBy([&] { sock.ReadLn(); }).message, QStringLiteral("Socket readln aborted"));
}

TEST(SockBaseDataWaits, CancelEndsAnAcceptNobodyAnswers)
{
    testsupport::ListenSock listener;
    const auto cancel = cancelAfter(listener, 200);
    const Raised raised = raisedBy([&] { listener.Accept(); });
    EXPECT_EQ(raised.message, QStringLiteral("Accepting Canceled"));
    EXPECT_FALSE(raised.abort);
    EXPECT_TRUE(listener.CancelRequested());
}

TEST(SockBaseDataWaits, ComponentDestroyedDuringReadLnEndsTheWait)
{
    LoopbackServer server;
    auto *sock = new TSockBase;
    testsupport::connectBounded(*sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    const int users = TSockBase::WinsockUsers();
    QObject context;
    QTimer::singleShot(100, &context, [sock] { delete sock; });
    const Raised raised = raisedBy([&] { sock->ReadLn(); });
    EXPECT_EQ(raised.message, QStringLiteral("Socket component destroyed while waiting"));
    EXPECT_EQ(TSockBase::WinsockUsers(), users - 1);
}

TEST_F(SockBaseWaits, ComponentDestroyedDuringALookupEndsConnect)
{
    names->delayMs = 200; // answers after the component is gone
    names->hosts.insert(QStringLiteral("late.test"), QStringLiteral("127.0.0.1"));
    auto *sock = new TSockBase;
    sock->setHost(QStringLiteral("late.test"));
    int invalidHost = 0;
    sock->OnInvalidHost = [&](bool &) { ++invalidHost; };
    QObject context;
    QTimer::singleShot(50, &context, [sock] { delete sock; });
    EXPECT_EQ(raisedBy([&] { sock->Connect(); }).message, QStringLiteral("Socket component destroyed while waiting"));
    EXPECT_EQ(invalidHost, 0);
    testsupport::serveEvents(250); // the late answer finds no component
}

TEST(SockBaseDataWaits, ComponentDestroyedByItsOwnDataHandlerEndsReadLn)
{
    LoopbackServer server;
    auto *sock = new TSockBase;
    testsupport::connectBounded(*sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    sock->OnDataArrived = [sock](QObject *) { delete sock; };
    server.send(QByteArray("partial"));
    EXPECT_EQ(raisedBy([&] { sock->ReadLn(); }).message, QStringLiteral("Socket component destroyed while waiting"));
}

} // namespace
