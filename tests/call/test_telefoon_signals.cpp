#include "callfixture.h"

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "call/syncrandom.h"
#include "framework/timer.h"
#include "net/fakeresolver.h"
#include "net/udpsock.h"
#include "net/udptestpeer.h"
#include "platform/localaddresses.h"
#include "platform/wave/waveapi.h"

#include <gtest/gtest.h>

using call::TTelefoon;
using call::Tverbinding;
using testsupport::RawUdpSocket;
using testsupport::serveEvents;
using testsupport::Side;
using testsupport::waitUntil;

namespace {

QByteArray padded(const QByteArray &content)
{
    QByteArray datagram(150, '\0');
    datagram.replace(0, content.size(), content);
    return datagram;
}

// A call component whose peer is a plain socket, with the room backend for its audio.
struct WithRawPeer
{
    std::shared_ptr<testsupport::RoomBackend> room
        = std::make_shared<testsupport::RoomBackend>(std::vector<double> { 440.0 });
    testsupport::ExceptionRecorder errors;
    testsupport::MessageRecorder messages;
    RawUdpSocket peer;
    uint16_t port = testsupport::freeUdpPort();
    std::unique_ptr<Side> side;

    WithRawPeer()
    {
        wave::setBackend(room);
        side = std::make_unique<Side>(port, testsupport::freeUdpPort());
        side->phone.setRemote_Port(peer.port());
        errors.clear();
    }
    ~WithRawPeer()
    {
        side.reset();
        wave::setBackend(nullptr);
    }
    TTelefoon &phone() { return side->phone; }
    void send(const QByteArray &datagram) { ASSERT_TRUE(peer.sendTo(datagram, port)); }
    // Datagrams the peer receives within ms; voice and signalling apart.
    std::vector<QByteArray> drain(int ms = 100)
    {
        std::vector<QByteArray> got;
        serveEvents(ms);
        for (QByteArray d; !(d = peer.receive(1)).isNull();)
            got.push_back(d);
        return got;
    }
};

} // namespace

TEST(Telefoon, PropertiesAfterCreation)
{
    testsupport::ExceptionRecorder ports; // the default ports may be taken by a parallel test
    TTelefoon phone;
    EXPECT_EQ(phone.Remote_IP(), "127.0.0.1");
    EXPECT_EQ(phone.Remote_Port(), 8000);
    EXPECT_EQ(phone.Local_Port(), 8000);
    EXPECT_EQ(phone.Connection(), Tverbinding::GSM610);
    EXPECT_FALSE(phone.User_Chosen_Codec());
    EXPECT_FALSE(phone.Calling());
    EXPECT_TRUE(phone.Adopt_Settings_Off_Caller());
    EXPECT_TRUE(phone.Auto_Answer());
    EXPECT_EQ(phone.Local_IP(), "");
    EXPECT_EQ(phone.Local_Ping_Port(), 8001);
    EXPECT_EQ(phone.Remote_Ping_port(), 8001);
    EXPECT_FALSE(phone.Ping_Auto_Respond());
    EXPECT_FALSE(phone.Mute());
    EXPECT_TRUE(phone.Auto_synchronise());
    EXPECT_EQ(phone.Volume(), 0);
    EXPECT_EQ(phone.Version(), "Version 0.81");
    EXPECT_EQ(phone.WaitForconnectionTime(), 15);
    EXPECT_FALSE(phone.AudioActive());
    EXPECT_EQ(phone.voiceSocket().ReportLevel(), 2);
    EXPECT_EQ(phone.voiceSocket().RemoteHost(), "127.0.0.1");
    EXPECT_EQ(phone.voiceSocket().RemotePort(), 8000);
    EXPECT_EQ(phone.voiceSocket().LocalPort(), 8000);
    EXPECT_EQ(phone.pingSocket().LocalPort(), 8001);
    EXPECT_FALSE(phone.noAnswerTimer().Enabled());
    EXPECT_EQ(phone.noAnswerTimer().Interval(), 15000u);
    EXPECT_EQ(phone.capture().NumBuffers(), 4);
    EXPECT_EQ(phone.playback().NumBuffers, 4);

    const QString email = phone.Author_Email();
    EXPECT_FALSE(email.isEmpty());
    phone.setAuthor_Email("someone@else");
    phone.setVersion("Version 9");
    EXPECT_EQ(phone.Author_Email(), email);
    EXPECT_EQ(phone.Version(), "Version 0.81");
    phone.setWaitForconnectionTime(5);
    EXPECT_EQ(phone.WaitForconnectionTime(), 5);
    EXPECT_EQ(phone.noAnswerTimer().Interval(), 5000u);
}

TEST(Telefoon, AnAdoptingCalleeTakesEveryFieldOfTheRequest)
{
    WithRawPeer t;
    t.phone().setAuto_Answer(false);
    t.send(padded("I10.0.0.2P5000V5ZT@"));
    ASSERT_TRUE(t.side->waitFor("Called"));
    EXPECT_EQ(t.side->events, QStringList { "Called: I10.0.0.2P5000V5ZT" });
    EXPECT_EQ(t.phone().Remote_IP(), "10.0.0.2");
    EXPECT_EQ(t.phone().Remote_Port(), 5000);
    EXPECT_EQ(t.phone().Connection(), Tverbinding::LERNOUT8);
    EXPECT_TRUE(t.phone().User_Chosen_Codec());
    EXPECT_EQ(t.phone().voiceSocket().RemoteHost(), "10.0.0.2");
    EXPECT_EQ(t.phone().voiceSocket().RemotePort(), 5000);
}

TEST(Telefoon, ANonAdoptingCalleeKeepsItsSettingsButRecordsThePendingOnes)
{
    WithRawPeer t;
    t.phone().setAuto_Answer(false);
    t.phone().setAdopt_Settings_Off_Caller(false);
    t.send(padded("I10.0.0.2P5000V5ZT@"));
    ASSERT_TRUE(t.side->waitFor("Called"));
    EXPECT_EQ(t.phone().Remote_IP(), "127.0.0.1");
    EXPECT_EQ(t.phone().Remote_Port(), t.peer.port());
    EXPECT_EQ(t.phone().Connection(), Tverbinding::GSM610);
    EXPECT_FALSE(t.phone().User_Chosen_Codec());
    EXPECT_EQ(t.phone().pendingCallerSettings().remoteIp, "10.0.0.2");
    EXPECT_EQ(t.phone().pendingCallerSettings().connection, 5);
}

TEST(Telefoon, AMalformedRequestIsReportedNotAdoptedAndNotAnswered)
{
    testsupport::ResolverGuard restoreResolver;
    const auto resolver = testsupport::FakeResolver::install(); // no name resolves, none goes out
    const QByteArray longAddress = "10.0.0.1 " + QByteArray(121, 'x'); // an address, then text
    const struct
    {
        QByteArray request;
        QString error;
    } cases[] = {
        { "I127.0.0.1P%1VqZF@", "Invalid codec in call request: 'q' is not a valid integer value" },
        { "I127.0.0.1P110000V2ZF@", "Invalid port in call request: 110000 is outside 1 to 65535" },
        { "I127.0.0.1P-21072V2ZF@", "Invalid port in call request: -21072 is outside 1 to 65535" },
        { "I127.0.0.1P0V2ZF@", "Invalid port in call request: it names no port from 1 to 65535" },
        { "I127.0.0.1PabcV2ZF@", "Invalid port in call request: it names no port from 1 to 65535" },
        { "I" + longAddress + "P%1V2ZF@", "Remote host name too long: 130 characters, at most 128 are allowed" },
        // No answer could ever reach these.
        { "IP%1V2ZF@", "Invalid address in call request: '' is no address to answer to" },
        { "I0.0.0.0P%1V2ZF@", "Invalid address in call request: '0.0.0.0' is no address to answer to" },
    };
    for (const auto &c : cases) {
        WithRawPeer t;
        t.send(padded(QString::fromLatin1(c.request).arg(t.peer.port()).toLatin1()));
        ASSERT_TRUE(waitUntil([&] { return !t.errors.entries().empty(); }));
        EXPECT_EQ(t.errors.messages()[0], c.error);
        EXPECT_TRUE(t.side->events.isEmpty());
        EXPECT_FALSE(t.phone().AudioActive());
        EXPECT_TRUE(t.drain().empty());
        EXPECT_EQ(t.phone().Remote_IP(), t.phone().voiceSocket().RemoteHost()) << c.error.toStdString();
        EXPECT_EQ(t.phone().Remote_Port(), t.peer.port());
    }
}

TEST(Telefoon, ACalleeThatKeepsItsPeerAnswersRequestsWhosePortItNeverUses)
{
    // Neither callee takes the caller's port, so an odd one must not stop the answer or OnCalled.
    const struct
    {
        bool adopting;
        bool inACall;
        QByteArray request;
    } cases[] = {
        { false, false, "I10.0.0.9P0V2ZF@" }, { true, true, "I10.0.0.9P70000V2ZF@" },
        { true, true, "I'll Phone you back@" }, // a text that reads as a request
    };
    for (const auto &c : cases) {
        WithRawPeer t;
        t.phone().setAdopt_Settings_Off_Caller(c.adopting);
        t.phone().setMute(true);
        if (c.inACall)
            t.phone().CallTo("127.0.0.1");
        t.drain();
        t.send(padded(c.request));
        ASSERT_TRUE(t.side->waitFor("Called")) << c.request.constData();
        EXPECT_EQ(t.side->events.last(), "Called: " + c.request.chopped(1));
        EXPECT_TRUE(t.errors.entries().empty()) << t.errors.messages().value(0).toStdString();
        const auto sent = t.drain();
        ASSERT_EQ(sent.size(), 1u) << c.request.constData();
        EXPECT_EQ(sent[0], padded("^Connected@")) << "to its own peer";
        EXPECT_EQ(t.phone().Remote_IP(), "127.0.0.1");
        EXPECT_EQ(t.phone().Remote_Port(), t.peer.port());
    }
}

TEST(Telefoon, ACallerWhoseAudioFailedStillEndsTheCallOnTheWire)
{
    WithRawPeer t;
    t.phone().setConnection(Tverbinding::LERNOUT4); // no codec for this tag here
    t.phone().CallTo("127.0.0.1");
    ASSERT_FALSE(t.phone().AudioActive());
    t.send(padded("^Connected@"));
    ASSERT_TRUE(t.side->waitFor("Accepted"));
    t.drain();
    t.phone().setCalling(false);
    const auto sent = t.drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], padded("~Connection ended.@"));
    EXPECT_EQ(t.side->events.last(), "Ended: ~Connection ended.@");
    EXPECT_FALSE(t.phone().noAnswerTimer().Enabled());
}

TEST(Telefoon, WithoutALocalAddressTheRequestNamesTheOneTheCalleeIsReachedFrom)
{
    WithRawPeer t;
    t.phone().setLocal_IP("");
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    const auto sent = t.drain();
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(sent[0].startsWith("I127.0.0.1P")) << sent[0].left(24).toStdString();
    EXPECT_TRUE(t.phone().Local_IP().isEmpty()) << "worked out for this call only";
}

TEST(Telefoon, ACodecNumberOutsideTheTableOpensNoDeviceAndSendsNoAcceptance)
{
    WithRawPeer t;
    t.send(padded(QStringLiteral("I127.0.0.1P%1V7ZF@").arg(t.peer.port()).toLatin1()));
    ASSERT_TRUE(t.side->waitFor("Called"));
    EXPECT_EQ(t.side->events[0], "DeviceError: Unknown codec number 7: no audio device was opened");
    EXPECT_FALSE(t.phone().AudioActive());
    EXPECT_TRUE(t.room->opens().empty());
    EXPECT_TRUE(t.drain().empty());
}

TEST(Telefoon, MessagesAreDispatchedByTheirMarks)
{
    WithRawPeer t;
    t.send(padded("Hello@"));
    t.send(padded("  ^Connected@"));
    t.send(padded("x|y@"));
    t.send(padded("~Connection ended.@"));
    t.send(QByteArray(150, '\0'));
    ASSERT_TRUE(waitUntil([&] { return t.side->events.size() == 5; }));
    EXPECT_EQ(t.side->events,
        (QStringList { "Text: Hello", "Accepted: Connected", "Rejected: x y", "Ended: Connection ended.", "Text: " }));
    EXPECT_TRUE(t.drain().empty()) << "nothing to echo while idle";
}

TEST(Telefoon, UnassignedMessageEventsFallBackToAMessageBox)
{
    WithRawPeer t;
    t.phone().OnTextMessage = nullptr;
    t.phone().OnCallAccepted = nullptr;
    t.phone().OnCallRejected = nullptr;
    t.phone().OnConnectionEnded = nullptr;
    t.send(padded("Hello@"));
    t.send(padded("^Connected@"));
    t.send(padded("x|y@"));
    t.send(padded("~Bye@"));
    ASSERT_TRUE(waitUntil([&] { return t.messages.messages.size() == 4; }));
    EXPECT_EQ(t.messages.messages, (QStringList { "Hello", "Connected", "x y", "Bye" }));
}

TEST(Telefoon, SendTextFitsUpTo148CharactersAndOnlyDuringACall)
{
    WithRawPeer t;
    t.phone().SendText("not in a call");
    EXPECT_TRUE(t.drain().empty());
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    auto sent = t.drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].startsWith("I127.0.0.1P"));
    t.phone().SendText(QString(148, 'm'));
    t.phone().SendText(QString(149, 'n'));
    sent = t.drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], padded(QByteArray(148, 'm') + "@"));
}

TEST(Telefoon, DatagramsOf149And151BytesAreVoice)
{
    WithRawPeer t;
    t.phone().setAuto_synchronise(false);
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    t.drain();
    // Requests and marks inside voice-sized datagrams mean nothing.
    for (int i = 0; i < 3; ++i) {
        t.send(QByteArray("I1.2.3.4P5V2ZF@") + QByteArray(134, '~'));
        t.send(QByteArray("~|^") + QByteArray(148, 'I'));
    }
    ASSERT_TRUE(
        waitUntil([&] { return t.phone().playback().bufferCount() + t.phone().playback().pendingCount() >= 5; }));
    serveEvents(50);
    EXPECT_EQ(t.side->events, QStringList { "AudioOpen: soundstart" });
    EXPECT_TRUE(t.phone().AudioActive());
}

TEST(Telefoon, TheDiscardsFollowTheSharedGenerator)
{
    for (bool synchronise : { true, false }) {
        WithRawPeer t;
        t.phone().setAuto_synchronise(synchronise);
        t.phone().setConnection(Tverbinding::PCM8);
        t.phone().CallTo("127.0.0.1");
        t.drain(0);
        const uint32_t start = call::SyncRandom::state();
        serveEvents(1500);
        t.phone().SetAudioActive(false);
        const uint32_t end = call::SyncRandom::state();
        // Replay the draws the call made (the generator itself is checked against known figures).
        int draws = 0;
        int discarded = 0;
        for (call::SyncRandom::setState(start); call::SyncRandom::state() != end; ++draws) {
            discarded += call::SyncRandom::draw(1200) <= 20;
            ASSERT_LT(draws, 1000);
        }
        int voice = 0;
        for (const QByteArray &datagram : t.drain(100))
            voice += datagram.size() != 150;
        EXPECT_GT(draws, 20) << "a buffer each twentieth of a second";
        EXPECT_EQ(voice, synchronise ? draws - discarded : draws);
    }
}

TEST(Telefoon, VolumeArithmetic)
{
    WithRawPeer t;
    t.phone().setVolume(50);
    EXPECT_EQ(t.phone().Volume(), 0) << "not kept outside a call";
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    ASSERT_TRUE(t.phone().AudioActive());
    const auto word = [&] {
        uint32_t w = 0;
        EXPECT_EQ(wave::waveOutGetVolume(t.phone().playback().DeviceHandle(), &w), 0u);
        return w;
    };
    struct Case
    {
        int set;
        uint32_t word;
        int readBack;
    };
    for (const Case &c : { Case { 1, 0x028E028Eu, 0 }, Case { 50, 0x7FED7FEDu, 49 }, Case { 51, 0x827C827Cu, 51 },
             Case { 100, 0xFFDBFFDBu, 100 }, Case { 0, 0xFFFEFFFFu, 100 } }) {
        t.phone().setVolume(c.set);
        EXPECT_EQ(word(), c.word) << c.set;
        EXPECT_EQ(t.phone().Volume(), c.readBack) << c.set;
    }
    t.phone().setVolume(70);
    t.phone().SetAudioActive(false);
    EXPECT_EQ(t.phone().Volume(), 70) << "the last value set during the call";
}

TEST(Telefoon, PingsAreAnsweredOnTheSendersPingPort)
{
    WithRawPeer t;
    testsupport::Side other(testsupport::freeUdpPort(), testsupport::freeUdpPort());
    std::vector<std::tuple<bool, QString, int>> heard, answered;
    t.phone().setPing_Auto_Respond(true);
    t.phone().OnPinnged = [&](QObject *, const QString &, bool isAnswer, const QString &from, int port) {
        heard.emplace_back(isAnswer, from, port);
    };
    other.phone.OnPinnged = [&](QObject *, const QString &, bool isAnswer, const QString &from, int port) {
        answered.emplace_back(isAnswer, from, port);
    };
    other.phone.setRemote_Ping_port(t.phone().Local_Ping_Port());
    other.phone.Ping("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return !answered.empty(); }));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_tuple(false, QString("127.0.0.1"), other.phone.Local_Ping_Port()));
    EXPECT_EQ(answered[0], std::make_tuple(true, QString("127.0.0.1"), t.phone().Local_Ping_Port()));
    // Anything else on the ping port is dropped.
    RawUdpSocket stranger;
    stranger.sendTo(padded("I1.2.3.4P5V2ZF@"), uint16_t(t.phone().Local_Ping_Port()));
    stranger.sendTo("PING 0", uint16_t(t.phone().Local_Ping_Port()));
    serveEvents(50);
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_TRUE(t.side->events.isEmpty());
    // A copy's own ping, sent to an address of its machine, is neither answered nor reported.
    t.phone().setRemote_Ping_port(t.phone().Local_Ping_Port());
    for (const QString &own : QStringList { "127.0.0.1" } + platform::localIPv4Addresses().mid(0, 1))
        t.phone().Ping(own);
    serveEvents(100);
    EXPECT_EQ(heard.size(), 1u);
}
