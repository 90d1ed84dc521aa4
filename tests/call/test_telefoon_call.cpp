#include "callfixture.h"

#include "audio/soundout.h"
#include "framework/timer.h"
#include "net/udpsock.h"

#include "../audio/soxtools.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

using call::Tverbinding;
using testsupport::serveEvents;
using testsupport::TwoSides;
using testsupport::waitUntil;

namespace {

// The tail of what an output played, once the call has run for a while.
std::vector<int16_t> lastSecond(const std::vector<int16_t> &recording, uint32_t rate)
{
    const std::size_t n = std::min<std::size_t>(recording.size(), rate);
    return std::vector<int16_t>(recording.end() - long(n), recording.end());
}

// The level a tone of the room's microphones keeps through codec: GSM as sox codes and decodes
// it, PCM as it went in.
double expectedLevel(Tverbinding codec, double tone)
{
    const double amplitude = testsupport::RoomBackend::kToneAmplitude;
    if (codec != Tverbinding::GSM610)
        return amplitude / std::sqrt(2.0);
    QTemporaryDir dir;
    const QString source = dir.filePath("tone.wav");
    const QString volume = QString::number(amplitude / 32768.0, 'f', 6);
    EXPECT_TRUE(audiotest::runTool("sox",
        { "-D", "-n", "-r", "8000", "-b", "16", "-c", "1", source, "synth", "2", "sine", QString::number(tone), "vol",
            volume }));
    const auto samples = audiotest::soxSamples(audiotest::soxGsm(source));
    return testsupport::steadyLevel(std::vector<int16_t>(samples.begin() + 1600, samples.end()), 8000);
}

// Each side hears the other's tone, not its own, at the level the codec keeps (within 1 dB).
void expectEachHearsTheOther(TwoSides &call, Tverbinding codec, double toneA, double toneB)
{
    serveEvents(1500);
    ASSERT_EQ(call.room->outputCount(), 2u);
    const uint32_t rateA = call.room->outputRate(0);
    const uint32_t rateB = call.room->outputRate(1);
    const auto heardByA = lastSecond(call.room->recording(0), rateA);
    const auto heardByB = lastSecond(call.room->recording(1), rateB);
    EXPECT_GT(testsupport::toneShare(heardByA, toneB, rateA), 0.5) << "A hears B's tone";
    EXPECT_LT(testsupport::toneShare(heardByA, toneA, rateA), 0.05) << "A does not hear itself";
    EXPECT_GT(testsupport::toneShare(heardByB, toneA, rateB), 0.5) << "B hears A's tone";
    EXPECT_LT(testsupport::toneShare(heardByB, toneB, rateB), 0.05);
    const auto decibels = [](double level, double reference) { return 20 * std::log10(level / reference); };
    const double levelA = decibels(testsupport::steadyLevel(heardByA, rateA), expectedLevel(codec, toneB));
    const double levelB = decibels(testsupport::steadyLevel(heardByB, rateB), expectedLevel(codec, toneA));
    EXPECT_NEAR(levelA, 0, 1.0) << "A hears B at the level B sent";
    EXPECT_NEAR(levelB, 0, 1.0) << "B hears A at the level A sent";
    std::cout << "[ measured ] A hears B at " << levelA << " dB, B hears A at " << levelB << " dB\n";
}

class CallCodec : public ::testing::TestWithParam<Tverbinding>
{
};

} // namespace

TEST_P(CallCodec, SetUpAdoptsTheCallersSettingsCarriesVoiceBothWaysAndHangsUpWithAnEcho)
{
    if (!audiotest::haveTool("sox"))
        GTEST_SKIP() << "sox is not installed (tools/packages/audio.txt lists it)";
    // 1000 Hz is a tone a GSM decoder keeps only when it sees the stream from its first block.
    TwoSides call({ 1000.0, 1300.0 });
    call.a->phone.setConnection(GetParam());
    call.a->phone.CallTo("127.0.0.1");
    EXPECT_TRUE(call.a->phone.Calling());
    EXPECT_TRUE(call.a->phone.AudioActive());
    EXPECT_TRUE(call.a->phone.noAnswerTimer().Enabled());
    ASSERT_TRUE(call.a->waitFor("Accepted"));

    EXPECT_EQ(call.a->events, (QStringList { "AudioOpen: soundstart", "Accepted: Connected" }));
    EXPECT_FALSE(call.a->phone.noAnswerTimer().Enabled());
    const QString request = QStringLiteral("I127.0.0.1P%1V%2ZF").arg(call.portA).arg(int(GetParam()));
    EXPECT_EQ(call.b->events, (QStringList { "AudioOpen: soundstart", "Called: " + request }));
    EXPECT_EQ(call.b->calledSender, &call.b->phone.voiceSocket());
    EXPECT_EQ(call.b->phone.Remote_IP(), "127.0.0.1");
    EXPECT_EQ(call.b->phone.Remote_Port(), call.portA);
    EXPECT_EQ(call.b->phone.Connection(), GetParam());
    EXPECT_TRUE(call.b->phone.AudioActive());
    EXPECT_FALSE(call.b->phone.Calling());
    EXPECT_EQ(call.b->phone.voiceSocket().RemotePort(), call.portA);

    expectEachHearsTheOther(call, GetParam(), 1000.0, 1300.0);

    call.a->events.clear();
    call.b->events.clear();
    call.a->phone.setCalling(false);
    EXPECT_FALSE(call.a->phone.AudioActive());
    EXPECT_EQ(call.a->events, QStringList { "Ended: ~Connection ended.@" });
    ASSERT_TRUE(call.a->waitFor("Ended: Connection ended."));
    ASSERT_TRUE(call.b->waitFor("Ended", 2));
    serveEvents(100);
    EXPECT_EQ(call.a->events, (QStringList { "Ended: ~Connection ended.@", "Ended: Connection ended." }));
    EXPECT_EQ(call.b->events, (QStringList { "Ended: ~Connection ended.@", "Ended: Connection ended." }));
    EXPECT_FALSE(call.b->phone.AudioActive());
    EXPECT_TRUE(call.errors.messages().isEmpty()) << call.errors.messages().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Codecs, CallCodec, ::testing::Values(Tverbinding::GSM610, Tverbinding::PCM8),
    [](const auto &info) { return info.param == Tverbinding::GSM610 ? "GSM610" : "PCM8"; });

TEST(Call, MuteStopsSendingButReceivedVoiceStillPlays)
{
    TwoSides call;
    call.a->phone.setConnection(Tverbinding::PCM8);
    call.a->phone.setMute(true);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    serveEvents(1500);
    const auto heardByA = lastSecond(call.room->recording(0), 8000);
    const auto heardByB = lastSecond(call.room->recording(1), 8000);
    EXPECT_GT(testsupport::toneShare(heardByA, 1300, 8000), 0.5);
    EXPECT_LT(testsupport::toneShare(heardByB, 440, 8000), 0.01);
}

TEST(Call, NoAnswerEndsTheCallAndARingingCalleeHearsTheEnd)
{
    TwoSides call;
    call.b->phone.setAuto_Answer(false);
    call.a->phone.setWaitForconnectionTime(1);
    EXPECT_EQ(call.a->phone.WaitForconnectionTime(), 1);
    EXPECT_EQ(call.a->phone.noAnswerTimer().Interval(), 1000u);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.b->waitFor("Called"));
    EXPECT_FALSE(call.b->phone.AudioActive()) << "ringing";
    ASSERT_TRUE(call.a->waitFor("NoResponce", 1, 4000));
    EXPECT_EQ(call.a->events,
        (QStringList { "AudioOpen: soundstart", "Ended: ~Connection ended.@", "NoResponce: no responce" }));
    EXPECT_EQ(call.a->noResponceSender, &call.a->phone.noAnswerTimer());
    EXPECT_FALSE(call.a->phone.Calling());
    EXPECT_FALSE(call.a->phone.AudioActive());
    ASSERT_TRUE(call.b->waitFor("Ended"));
    serveEvents(100);
    EXPECT_EQ(call.b->count("Ended"), 1);
    EXPECT_TRUE(call.b->events.contains("Ended: Connection ended."));
    EXPECT_EQ(call.a->count("Ended"), 1) << "the ringing callee echoes nothing";
}

TEST(Call, AnUnassignedNoAnswerEventFallsBackToAMessage)
{
    TwoSides call;
    call.a->phone.OnNoResponce = nullptr;
    call.a->phone.setRemote_Port(testsupport::freeUdpPort()); // nobody there
    call.a->phone.setWaitForconnectionTime(1);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return !call.messages.messages.isEmpty(); }, 4000));
    EXPECT_EQ(call.messages.messages, QStringList { " No answer " });
}

TEST(Call, AcceptCallAnswersARingingCallee)
{
    TwoSides call;
    call.b->phone.setAuto_Answer(false);
    call.b->phone.OnCalled = [&](QObject *, const QString &) { call.b->phone.AcceptCall(); };
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    EXPECT_TRUE(call.b->phone.AudioActive());
}

TEST(Call, AnAutomaticAndAnExplicitAnswerGiveTwoAcceptances)
{
    TwoSides call;
    call.b->phone.OnCalled = [&](QObject *, const QString &) { call.b->phone.AcceptCall(); };
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted", 2));
}

TEST(Call, ABusyCalleeAnswersItsCurrentPeerAndTheNewCallerTimesOut)
{
    TwoSides call;
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    testsupport::Side c(testsupport::freeUdpPort(), testsupport::freeUdpPort());
    c.phone.setRemote_Port(call.portB);
    c.phone.setWaitForconnectionTime(1);
    c.phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.b->waitFor("Called", 2));
    EXPECT_EQ(call.b->phone.Remote_Port(), call.portA) << "no adoption while in a call";
    ASSERT_TRUE(call.a->waitFor("Accepted", 2)) << "the acceptance went to the current peer";
    ASSERT_TRUE(c.waitFor("NoResponce", 1, 4000));
    EXPECT_EQ(c.count("Accepted"), 0);
    c.phone.SetAudioActive(false);
}

TEST(Call, ARejectionEndsTheCallWithAnEchoAndReportsTheText)
{
    TwoSides call;
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    call.a->events.clear();
    call.b->events.clear();
    call.b->phone.SendText("x|y");
    ASSERT_TRUE(call.a->waitFor("Rejected"));
    EXPECT_EQ(call.a->events.mid(0, 2), (QStringList { "Ended: ~Connection ended.@", "Rejected: x y" }));
    EXPECT_FALSE(call.a->phone.AudioActive());
    ASSERT_TRUE(call.b->waitFor("Ended", 2));
}

TEST(Call, CallingYourselfAnswersYourselfWithoutAdopting)
{
    TwoSides call;
    call.a->phone.setRemote_Port(call.portA);
    call.a->phone.setConnection(Tverbinding::PCM11);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    EXPECT_EQ(call.a->count("Called: "), 1);
    EXPECT_EQ(call.a->phone.Remote_Port(), call.portA);
    EXPECT_EQ(call.a->phone.Connection(), Tverbinding::PCM11);
    EXPECT_EQ(call.room->inputCount(), 1u) << "the audio is not reopened";
}

TEST(Call, CallingTwiceShowsAlreadyInACallAndSendsNothing)
{
    TwoSides call;
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.b->waitFor("Called"));
    call.a->phone.setCalling(true);
    call.a->phone.CallTo("127.0.0.2");
    EXPECT_EQ(call.messages.messages, (QStringList { "   Already in a Call   ", "   Already in a Call   " }));
    EXPECT_EQ(call.a->phone.Remote_IP(), "127.0.0.2") << "CallTo still changes the destination";
    EXPECT_EQ(call.a->phone.voiceSocket().RemoteHost(), "127.0.0.2");
    serveEvents(100);
    EXPECT_EQ(call.b->count("Called"), 1);
}

TEST(Call, HangingUpWhileIdleDoesNothing)
{
    TwoSides call;
    call.a->phone.setCalling(false);
    serveEvents(50);
    EXPECT_TRUE(call.a->events.isEmpty());
    EXPECT_TRUE(call.b->events.isEmpty());
}

TEST(Call, ADeviceThatCannotOpenIsReportedAndNoAcceptanceGoesOut)
{
    TwoSides call;
    call.a->phone.setConnection(Tverbinding::LERNOUT4); // no codec for this tag here
    call.a->phone.setWaitForconnectionTime(1);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_EQ(call.a->count("DeviceError"), 1);
    EXPECT_TRUE(call.a->events[0].startsWith("DeviceError: ")) << call.a->events[0].toStdString();
    EXPECT_FALSE(call.a->phone.AudioActive());
    EXPECT_TRUE(call.a->phone.Calling()) << "the call is not ended on the wire";
    ASSERT_TRUE(call.b->waitFor("DeviceError"));
    EXPECT_FALSE(call.b->phone.AudioActive());
    ASSERT_TRUE(call.a->waitFor("NoResponce", 1, 4000));
    EXPECT_EQ(call.a->count("Accepted"), 0);
    // The placed call is ended on the wire all the same; the callee, whose audio failed too,
    // echoes nothing.
    ASSERT_TRUE(call.b->waitFor("Ended: Connection ended."));
    serveEvents(100);
    EXPECT_EQ(call.a->count("Ended"), 1);
}

namespace {

// 10 ms windows of a recording that are nearly silent.
int silentWindows(const std::vector<int16_t> &samples, uint32_t rate)
{
    const std::size_t window = rate / 100;
    int silent = 0;
    for (std::size_t start = 0; start + window <= samples.size(); start += window) {
        const std::vector<int16_t> part(samples.begin() + long(start), samples.begin() + long(start + window));
        silent += testsupport::rms(part) < testsupport::RoomBackend::kToneAmplitude / 10;
    }
    return silent;
}

} // namespace

TEST(Call, AdaptivePlayoutKeepsAShortQueueWithoutGaps)
{
    TwoSides call;
    for (testsupport::Side *side : { call.a.get(), call.b.get() })
        side->phone.setPlayout(call::Playout::Adaptive);
    call.a->phone.CallTo("127.0.0.1");
    ASSERT_TRUE(call.a->waitFor("Accepted"));
    serveEvents(4000);
    for (const wave::DeviceRequest &request : call.room->opens())
        EXPECT_EQ(request.latencySeconds, call::TTelefoon::kAdaptiveLatencySeconds);
    for (std::size_t output : { 0u, 1u }) {
        const auto recording = call.room->recording(output);
        const uint32_t rate = call.room->outputRate(output);
        const std::vector<int16_t> last(recording.end() - long(2 * rate), recording.end());
        EXPECT_EQ(silentWindows(last, rate), 0) << "output " << output;
    }
    for (testsupport::Side *side : { call.a.get(), call.b.get() }) {
        const call::AdaptivePlayout &playout = side->phone.adaptivePlayout();
        // Below a buffer over the target before an arrival (else one is dropped), plus the buffer
        // that arrives: about half what the designed start holds back (four 40 ms GSM buffers).
        const double queuedMs = side->phone.playback().stats().queuedSamples / 8.0;
        EXPECT_LT(queuedMs, 2 * 40 + playout.targetMs()) << "jitter " << playout.jitterMs();
        EXPECT_EQ(playout.reprimes(), 0u);
        std::cout << "[ measured ] queue " << queuedMs << " ms, jitter " << playout.jitterMs() << " ms, "
                  << playout.discards() << " drops\n";
    }
    call.a->phone.setCalling(false);
    ASSERT_TRUE(call.b->waitFor("Ended", 2));
    EXPECT_TRUE(call.errors.messages().isEmpty()) << call.errors.messages().join('\n').toStdString();
}
