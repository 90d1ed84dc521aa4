#include "callfixture.h"

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "net/udpsock.h"
#include "net/udptestpeer.h"
#include "platform/acm/formatchoose.h"

#include <QLocale>
#include <QTime>

#include <gtest/gtest.h>

using call::TTelefoon;
using testsupport::serveEvents;
using testsupport::Side;

namespace {

// A call component with the room backend whose peer is a plain socket.
struct Lone
{
    std::shared_ptr<testsupport::RoomBackend> room
        = std::make_shared<testsupport::RoomBackend>(std::vector<double> { 440.0 });
    testsupport::ExceptionRecorder errors;
    testsupport::MessageRecorder messages;
    testsupport::RawUdpSocket peer;
    std::unique_ptr<Side> side;

    Lone()
    {
        wave::setBackend(room);
        side = std::make_unique<Side>(testsupport::freeUdpPort(), testsupport::freeUdpPort());
        side->phone.setRemote_Port(peer.port());
        errors.clear();
    }
    ~Lone()
    {
        side.reset();
        wave::setBackend(nullptr);
        acm::setFormatChooserUi({});
    }
    TTelefoon &phone() { return side->phone; }
};

} // namespace

TEST(TelefoonChoice, AUserChosenFormatIsOpenedAndSizesTheCaptureBuffer)
{
    Lone t;
    int asked = 0;
    acm::setFormatChooserUi([&](const acm::FormatChoiceRequest &, wave::TACMWaveFormat &chosen) {
        ++asked;
        chosen = wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16);
        return wave::MMRESULT(wave::MMSYSERR_NOERROR);
    });
    t.phone().setUser_Chosen_Codec(true);
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(t.phone().AudioActive());
    EXPECT_EQ(t.phone().capture().BufferSize(), 800u);
    ASSERT_EQ(t.room->opens().size(), 2u);
    EXPECT_EQ(t.room->opens()[0].format.format.wBitsPerSample, 16);
    EXPECT_EQ(t.side->events, QStringList { "AudioOpen: soundstart" });
    // The request still names the table codec, with the choice flag.
    EXPECT_TRUE(t.peer.receive().startsWith("I127.0.0.1P"));
}

TEST(TelefoonChoice, CancellingTheChoiceLeavesTheAudioClosedSilently)
{
    Lone t;
    acm::setFormatChooserUi(
        [](const acm::FormatChoiceRequest &, wave::TACMWaveFormat &) { return wave::MMRESULT(wave::ACMERR_CANCELED); });
    t.phone().setUser_Chosen_Codec(true);
    t.phone().CallTo("127.0.0.1");
    EXPECT_FALSE(t.phone().AudioActive());
    EXPECT_TRUE(t.phone().Calling());
    EXPECT_TRUE(t.room->opens().empty());
    EXPECT_TRUE(t.side->events.isEmpty());
    EXPECT_TRUE(t.messages.messages.isEmpty());
    // A cancelled callee sends no acceptance either.
    t.phone().SendText("^Connected");
    t.peer.receive(50); // the request
    EXPECT_TRUE(t.peer.receive(50).isNull());
}

TEST(TelefoonChoice, AFailingDialogIsAFailedDeviceOpen)
{
    Lone t; // no dialog installed: choosing fails
    t.phone().setUser_Chosen_Codec(true);
    t.phone().CallTo("127.0.0.1");
    EXPECT_FALSE(t.phone().AudioActive());
    EXPECT_TRUE(t.room->opens().empty());
    EXPECT_EQ(t.side->events,
        QStringList {
            "DeviceError: Choose format A suitable driver is not available to provide valid format selections." });
    // A callee in that state sends no acceptance.
    t.phone().SendText("^Connected");
    t.peer.receive(50); // the request
    EXPECT_TRUE(t.peer.receive(50).isNull());
}

TEST(TelefoonChoice, ACallThatEndsWhileTheDialogIsOpenOpensNothingAfterIt)
{
    struct Case
    {
        const char *name;
        std::function<void(Lone &)> meanwhile;
    };
    const Case cases[] = {
        { "the user hangs up", [](Lone &t) { t.phone().setCalling(false); } },
        { "the end message arrives",
            [](Lone &t) {
                t.peer.sendTo(
                    QByteArray("~Connection ended.@").leftJustified(150, '\0'), uint16_t(t.phone().Local_Port()));
                testsupport::waitUntil([&] { return !t.phone().AudioActive(); }, 2000);
            } },
    };
    for (const Case &c : cases) {
        Lone t;
        acm::setFormatChooserUi([&](const acm::FormatChoiceRequest &, wave::TACMWaveFormat &chosen) {
            c.meanwhile(t);
            chosen = *call::codecFormat(uint8_t(call::Tverbinding::PCM8));
            return wave::MMRESULT(wave::MMSYSERR_NOERROR);
        });
        t.phone().setUser_Chosen_Codec(true);
        t.phone().CallTo("127.0.0.1");
        EXPECT_FALSE(t.phone().AudioActive()) << c.name;
        EXPECT_TRUE(t.room->opens().empty()) << c.name;
        EXPECT_FALSE(t.phone().capture().Active()) << c.name;
        serveEvents(200);
        int voice = 0;
        for (QByteArray d; !(d = t.peer.receive(1)).isNull();)
            voice += d.size() != 150;
        EXPECT_EQ(voice, 0) << c.name << ": nothing streams to the old peer";
    }
}

TEST(TelefoonEvents, TheVoiceSocketsStatusAndSendsAreForwarded)
{
    // Before the component: its farewell on destruction still reports into them.
    QStringList statuses;
    QObject *statusSender = nullptr;
    QObject *sendSender = nullptr;
    QString sendText;
    Lone t;
    t.phone().OnUdpStatus = [&](QObject *sender, const QString &text) {
        statusSender = sender;
        statuses << text;
    };
    t.phone().OnDataSend = [&](QObject *sender, const QString &text) {
        sendSender = sender;
        sendText = text;
    };
    t.phone().setMute(true);
    const QTime before = QTime::currentTime();
    t.phone().CallTo("127.0.0.1");
    EXPECT_EQ(statuses, QStringList { "Sending Data" });
    EXPECT_EQ(statusSender, &t.phone().voiceSocket());
    EXPECT_EQ(sendSender, &t.phone().voiceSocket());
    // The time of day in the locale's long format, taken while sending.
    QStringList candidates;
    for (int s = 0; s <= 2; ++s)
        candidates << QLocale().toString(before.addSecs(s), QLocale::LongFormat);
    EXPECT_TRUE(candidates.contains(sendText)) << sendText.toStdString();
}

TEST(TelefoonEvents, DestroyingTheComponentDuringACallSaysGoodbye)
{
    QStringList events;
    Lone t;
    t.phone().setMute(true);
    t.phone().CallTo("127.0.0.1");
    t.peer.receive(); // the request
    t.phone().OnConnectionEnded = [&](QObject *, const QString &text) { events << text; };
    t.side.reset();
    EXPECT_EQ(events, QStringList { "~Connection ended.@" });
    QByteArray farewell;
    for (QByteArray d; !(d = t.peer.receive(200)).isNull();)
        if (d.size() == 150)
            farewell = d;
    EXPECT_TRUE(farewell.startsWith("~Connection ended.@"));
}

TEST(TelefoonEvents, PortAndAddressSettersReachTheSockets)
{
    Lone t;
    const uint16_t port = testsupport::freeUdpPort();
    t.phone().setLocal_Port(port);
    EXPECT_EQ(t.phone().voiceSocket().LocalPort(), port);
    EXPECT_TRUE(t.phone().voiceSocket().isBound());
    t.phone().setRemote_IP("10.0.0.9");
    EXPECT_EQ(t.phone().voiceSocket().RemoteHost(), "10.0.0.9");
    t.phone().setRemote_Ping_port(4444);
    EXPECT_EQ(t.phone().pingSocket().RemotePort(), 4444);
    const uint16_t pingPort = testsupport::freeUdpPort();
    t.phone().setLocal_Ping_Port(pingPort);
    EXPECT_EQ(t.phone().pingSocket().LocalPort(), pingPort);
    // A port the socket refuses is not kept either: the call request would carry it.
    EXPECT_THROW(t.phone().setLocal_Port(70000), net::UDPSockError);
    EXPECT_THROW(t.phone().setRemote_Port(-1), net::UDPSockError);
    EXPECT_EQ(t.phone().Local_Port(), port);
    EXPECT_EQ(t.phone().Remote_Port(), t.phone().voiceSocket().RemotePort());
}
