#include "net/udpsock.h"

#include "fakeresolver.h"
#include "support/eventwait.h"
#include "support/raised.h"
#include "udptestpeer.h"

#include <QTimer>

#include <gtest/gtest.h>

using framework::MemoryStream;
using net::TUDPSock;
using net::UDPSockError;
using testsupport::FakeResolver;
using testsupport::raisedText;
using testsupport::RawUdpSocket;

namespace {

MemoryStream streamOf(const QByteArray &bytes)
{
    MemoryStream stream;
    stream.write(bytes);
    return stream;
}

class UDPSockLookup : public ::testing::Test
{
protected:
    testsupport::ResolverGuard restore;
    std::shared_ptr<FakeResolver::State> resolver = FakeResolver::install();
    RawUdpSocket peer;
    TUDPSock sock;
    MemoryStream stream = streamOf("voice");

    void SetUp() override { sock.setRemotePort(peer.port()); }

    // What a handler does in the middle of a send: sends "aside" to another host and port, then
    // puts the socket's destination back.
    void sendAsideTo(const QString &host, int port)
    {
        const QString savedHost = sock.RemoteHost();
        const int savedPort = sock.RemotePort();
        sock.setRemoteHost(host);
        sock.setRemotePort(port);
        MemoryStream aside = streamOf("aside");
        sock.SendStream(aside);
        sock.setRemoteHost(savedHost);
        sock.setRemotePort(savedPort);
    }
};

} // namespace

TEST_F(UDPSockLookup, ANameIsLookedUpOnEverySend)
{
    resolver->hosts.insert("kitchen", "127.0.0.1");
    resolver->delayMs = 5;
    sock.setRemoteHost("kitchen");
    sock.SendStream(stream);
    sock.SendStream(stream);
    EXPECT_EQ(peer.receive(), "voice");
    EXPECT_EQ(peer.receive(), "voice");
    EXPECT_EQ(resolver->asked, (QStringList { "kitchen", "kitchen" }));
}

TEST_F(UDPSockLookup, AFailedLookupWithoutHandlerRaisesAfterOneAttempt)
{
    sock.setRemoteHost("nowhere");
    EXPECT_EQ(raisedText<UDPSockError>([&] { sock.SendStream(stream); }), "Host Lookup Canceled");
    EXPECT_EQ(resolver->asked, QStringList { "nowhere" });
}

TEST_F(UDPSockLookup, AHandlerThatDoesNotHandleGetsOneCallAndNoSecondLookup)
{
    int calls = 0;
    sock.OnInvalidHost = [&](bool &handled) {
        ++calls;
        EXPECT_FALSE(handled);
    };
    sock.setRemoteHost("nowhere");
    EXPECT_EQ(raisedText<UDPSockError>([&] { sock.SendStream(stream); }), "Host Lookup Canceled");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(resolver->asked, QStringList { "nowhere" });
}

TEST_F(UDPSockLookup, AHandledFailureRetriesTheSameNameOnce)
{
    int calls = 0;
    sock.OnInvalidHost = [&](bool &handled) {
        ++calls;
        sock.setRemoteHost("kitchen"); // only read before the first look-up
        handled = true;
    };
    sock.setRemoteHost("nowhere");
    EXPECT_EQ(raisedText<UDPSockError>([&] { sock.SendStream(stream); }), "Host Lookup Canceled");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(resolver->asked, (QStringList { "nowhere", "nowhere" }));
}

TEST_F(UDPSockLookup, AHandledFailureSucceedsWhenTheNameAppearsMeanwhile)
{
    sock.OnInvalidHost = [&](bool &handled) {
        resolver->hosts.insert("late", "127.0.0.1");
        handled = true;
    };
    sock.setRemoteHost("late");
    EXPECT_EQ(raisedText<UDPSockError>([&] { sock.SendStream(stream); }), "");
    EXPECT_EQ(peer.receive(), "voice");
}

TEST_F(UDPSockLookup, TheWaitServesOtherHandlersIncludingANestedSend)
{
    resolver->hosts.insert("kitchen", "127.0.0.1");
    resolver->delayMs = 100;
    RawUdpSocket other;
    TUDPSock receiver;
    const uint16_t port = testsupport::freeUdpPort();
    receiver.setLocalPort(port);
    int received = 0;
    receiver.OnDataReceived = [&](QObject *, int, const QString &) {
        ++received;
        // A second send on the same component while the first waits for its look-up.
        TUDPSock &nested = sock;
        const QString saved = nested.RemoteHost();
        nested.setRemoteHost("127.0.0.1");
        MemoryStream reply = streamOf("nested");
        nested.SendStream(reply);
        nested.setRemoteHost(saved);
    };
    QTimer::singleShot(10, [&] { other.sendTo("ping", port); });
    sock.setRemoteHost("kitchen");
    sock.SendStream(stream);
    EXPECT_EQ(received, 1) << "the datagram was handled inside the wait";
    EXPECT_EQ(peer.receive(), "nested");
    EXPECT_EQ(peer.receive(), "voice");
}

TEST_F(UDPSockLookup, DestroyingTheComponentDuringItsWaitEndsTheSendSafely)
{
    resolver->delayMs = -1; // never answers
    auto doomed = std::make_unique<TUDPSock>();
    doomed->setRemoteHost("kitchen");
    doomed->setRemotePort(peer.port());
    TUDPSock *raw = doomed.get();
    QTimer::singleShot(20, [&] { doomed.reset(); });
    EXPECT_EQ(raisedText<UDPSockError>([&] { raw->SendStream(stream); }), "Host Lookup Canceled");
    EXPECT_EQ(doomed, nullptr);
}

TEST_F(UDPSockLookup, ASendFromAStatusHandlerDoesNotRedirectTheSendItInterrupts)
{
    // "Sending Data" comes after the address is resolved: the datagram goes where its own
    // RemoteHost pointed, whatever a nested send resolved meanwhile.
    resolver->hosts.insert("kitchen", "127.0.0.1");
    RawUdpSocket other("127.10.0.20");
    ASSERT_TRUE(other.bound());
    sock.setReportLevel(2);
    bool nested = false;
    sock.OnStatus = [&](QObject *, const QString &) {
        if (nested)
            return;
        nested = true;
        sendAsideTo("127.10.0.20", other.port());
        nested = false;
    };
    for (const char *host : { "127.0.0.1", "kitchen" }) {
        sock.setRemoteHost(host);
        sock.SendStream(stream);
        EXPECT_EQ(other.receive(), "aside") << host;
        EXPECT_EQ(peer.receive(), "voice") << host;
    }
}

TEST_F(UDPSockLookup, NestedLookupsEachSendToTheirOwnName)
{
    // The outer look-up answers first, while the nested send still waits for its own.
    resolver->hosts.insert("kitchen", "127.0.0.1");
    resolver->hosts.insert("study", "127.10.0.20");
    resolver->delayMs = 60;
    RawUdpSocket other("127.10.0.20");
    ASSERT_TRUE(other.bound());
    QTimer::singleShot(10, [&] { sendAsideTo("study", other.port()); });
    sock.setRemoteHost("kitchen");
    sock.SendStream(stream);
    EXPECT_EQ(resolver->asked, (QStringList { "kitchen", "study" }));
    EXPECT_EQ(other.receive(), "aside");
    EXPECT_EQ(peer.receive(), "voice");
}
