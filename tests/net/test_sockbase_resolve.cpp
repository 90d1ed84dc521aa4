#include "fakeresolver.h"
#include "net/sockbase.h"
#include "sockpeer.h"
#include "support/eventwait.h"
#include "support/raised.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace {

using net::ESockError;
using net::TSockBase;
using testsupport::cancelAfter;
using testsupport::LoopbackServer;
using testsupport::raisedText;

// Connects with Cancel as a safety net; returns the ESockError text (empty on success).
QString connectTo(TSockBase &sock, const QString &host, int port)
{
    sock.setHost(host);
    sock.setPort(port);
    const auto safety = cancelAfter(sock, 3000);
    return raisedText<ESockError>([&] { sock.Connect(); });
}

class SockBaseResolve : public ::testing::Test
{
protected:
    testsupport::ResolverGuard restore;
    std::shared_ptr<testsupport::FakeResolver::State> names = testsupport::FakeResolver::install();
};

TEST_F(SockBaseResolve, DottedHostConnectsWithoutLookupOrOnHostResolved)
{
    LoopbackServer server;
    TSockBase sock;
    int resolved = 0;
    sock.OnHostResolved = [&](QObject *) { ++resolved; };
    EXPECT_EQ(connectTo(sock, QStringLiteral("127.0.0.1"), server.port()), QString());
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(resolved, 0);
    EXPECT_TRUE(names->asked.isEmpty());
}

TEST_F(SockBaseResolve, AllOnesAddressIsTreatedAsANameAndLookedUp)
{
    TSockBase sock;
    EXPECT_EQ(connectTo(sock, QStringLiteral("255.255.255.255"), 9), QStringLiteral("Null Remote Address"));
    EXPECT_EQ(names->asked, QStringList { QStringLiteral("255.255.255.255") });
}

TEST_F(SockBaseResolve, ZeroAddressNeedsNoLookupAndGivesNullRemoteAddress)
{
    TSockBase sock;
    EXPECT_EQ(connectTo(sock, QStringLiteral("0.0.0.0"), 9), QStringLiteral("Null Remote Address"));
    EXPECT_TRUE(names->asked.isEmpty());
}

TEST_F(SockBaseResolve, LookedUpNameConnectsAndFiresOnHostResolved)
{
    LoopbackServer server;
    names->hosts.insert(QStringLiteral("peer.test"), QStringLiteral("127.0.0.1"));
    names->delayMs = 20;
    TSockBase sock;
    int resolved = 0;
    sock.OnHostResolved = [&](QObject *sender) {
        EXPECT_EQ(sender, &sock);
        ++resolved;
    };
    EXPECT_EQ(connectTo(sock, QStringLiteral("peer.test"), server.port()), QString());
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(resolved, 1);
    EXPECT_TRUE(server.acceptClient());
}

TEST_F(SockBaseResolve, FailedLookupWithoutHandlerGivesNullRemoteAddressAfterOneLookup)
{
    TSockBase sock;
    EXPECT_EQ(connectTo(sock, QStringLiteral("nowhere.test"), 9), QStringLiteral("Null Remote Address"));
    EXPECT_EQ(names->asked.size(), 1);
}

TEST_F(SockBaseResolve, InvalidHostHandledWithoutAFixEndsAfterOneRetry)
{
    TSockBase sock;
    int calls = 0;
    sock.OnInvalidHost = [&](bool &handled) {
        ++calls;
        handled = true; // but Host stays wrong
    };
    EXPECT_EQ(connectTo(sock, QStringLiteral("nowhere.test"), 9), QStringLiteral("Null Remote Address"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(names->asked, QStringList({ QStringLiteral("nowhere.test"), QStringLiteral("nowhere.test") }));
}

TEST_F(SockBaseResolve, InvalidHostNotHandledEndsAtOnce)
{
    TSockBase sock;
    int calls = 0;
    sock.OnInvalidHost = [&](bool &) { ++calls; };
    EXPECT_EQ(connectTo(sock, QStringLiteral("nowhere.test"), 9), QStringLiteral("Null Remote Address"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(names->asked.size(), 1);
}

TEST_F(SockBaseResolve, InvalidHostHandlerThatFixesTheHostConnects)
{
    LoopbackServer server;
    TSockBase sock;
    sock.OnInvalidHost = [&](bool &handled) {
        sock.setHost(QStringLiteral("127.0.0.1"));
        handled = true;
    };
    EXPECT_EQ(connectTo(sock, QStringLiteral("nowhere.test"), server.port()), QString());
    EXPECT_TRUE(sock.Connected());
}

TEST_F(SockBaseResolve, ViaHostAndViaPortReplaceHostAndPort)
{
    LoopbackServer server;
    names->hosts.insert(QStringLiteral("proxy.test"), QStringLiteral("127.0.0.1"));
    TSockBase sock;
    sock.setViaHost(QStringLiteral("proxy.test"));
    sock.setViaPort(server.port());
    EXPECT_EQ(connectTo(sock, QStringLiteral("final.test"), 1), QString());
    EXPECT_EQ(names->asked, QStringList { QStringLiteral("proxy.test") });
    EXPECT_EQ(sock.RemoteAddress().sin_port, htons(server.port()));
    EXPECT_TRUE(server.acceptClient());
}

TEST_F(SockBaseResolve, OverlongHostNameIsNeverLookedUp)
{
    TSockBase sock;
    const QString name = QString(120, QLatin1Char('a')) + QStringLiteral(".example.test");
    ASSERT_GT(name.size(), TSockBase::kMaxHostNameLength);
    EXPECT_EQ(connectTo(sock, name, 9), QStringLiteral("Null Remote Address"));
    EXPECT_TRUE(names->asked.isEmpty());
}

TEST_F(SockBaseResolve, LateAnswerOfAnAbandonedLookupDoesNotEndTheNextOne)
{
    LoopbackServer server;
    TSockBase sock;
    // The first look-up times out; its answer (a wrong address) arrives during the second one.
    names->hosts.insert(QStringLiteral("slow.test"), QStringLiteral("127.0.0.2"));
    names->delayMs = 300;
    sock.setTimeOut(100);
    EXPECT_EQ(connectTo(sock, QStringLiteral("slow.test"), server.port()), QStringLiteral("Host Lookup Timed Out"));

    names->hosts.insert(QStringLiteral("right.test"), QStringLiteral("127.0.0.1"));
    names->delayMs = 600;
    sock.setTimeOut(0);
    EXPECT_EQ(connectTo(sock, QStringLiteral("right.test"), server.port()), QString());
    EXPECT_EQ(sock.RemoteAddress().sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_TRUE(server.acceptClient());
}

TEST(SockBaseStatus, LevelZeroReportsNothing)
{
    LoopbackServer server;
    TSockBase sock;
    int reports = 0;
    sock.OnStatus = [&](QObject *, const QString &) { ++reports; };
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    sock.Writeln(QStringLiteral("quiet"));
    sock.Disconnect();
    EXPECT_EQ(reports, 0);
    EXPECT_TRUE(sock.LastStatus().isEmpty());
}

TEST(SockBaseStatus, LevelFourReportsSocketActionsButNotTheTrace)
{
    LoopbackServer server;
    TSockBase sock;
    testsupport::connectBounded(sock, server.port());
    ASSERT_TRUE(server.acceptClient());
    QStringList statuses;
    sock.setReportLevel(4);
    sock.OnStatus = [&](QObject *sender, const QString &status) {
        EXPECT_EQ(sender, &sock);
        statuses << status;
    };
    const auto safety = cancelAfter(sock, 3000);
    sock.Write(QStringLiteral("data"));
    sock.Disconnect();
    EXPECT_EQ(statuses, QStringList({ QStringLiteral("Sending Buffer"), QStringLiteral("Request Close Socket") }));
}

TEST(SockBaseStatus, LevelEightTracesEveryStep)
{
    LoopbackServer server;
    TSockBase sock;
    QStringList statuses;
    sock.setReportLevel(8);
    sock.OnStatus = [&](QObject *, const QString &status) { statuses << status; };
    testsupport::connectBounded(sock, server.port());
    const QStringList expected { QStringLiteral("Connecting"), QStringLiteral("Resolve Host"),
        QStringLiteral("Timer On"), QStringLiteral("Timer Off") };
    QStringList trace = statuses;
    trace.removeAll(QStringLiteral("WriteFromStream")); // the connection's first write notice
    EXPECT_EQ(trace, expected);
    EXPECT_FALSE(statuses.contains(QStringLiteral("Checking Error In Error Manager"))); // level 16
}

TEST(SockBaseStatus, LastStatusChangesWithoutAHandlerAndDestroyFiresNoEvent)
{
    auto sock = std::make_unique<TSockBase>();
    sock->setReportLevel(8);
    sock->Cancel();
    EXPECT_EQ(sock->LastStatus(), QStringLiteral("Canceling"));
    EXPECT_TRUE(sock->CancelRequested());
    int reports = 0;
    sock->OnStatus = [&](QObject *, const QString &) { ++reports; };
    sock.reset();
    EXPECT_EQ(reports, 0);
}

} // namespace
