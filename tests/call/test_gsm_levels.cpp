// GSM 6.10 levels through the call component, against sox as the other end: sox's blocks played
// here, and this side's blocks decoded by sox, must keep the level sox itself keeps, with the
// other direction idle or running. Pure tones are the hard case: a GSM decoder that misses blocks
// of such a stream loses its long-term predictor and stays far too quiet (or too loud).

#include "callfixture.h"

#include "audio/soundin.h"
#include "call/syncrandom.h"
#include "net/udpsock.h"
#include "platform/wave/fakebackend.h"
#include "support/counting.h"

#include "../audio/soxtools.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

using namespace audiotest;

namespace {

constexpr int kBlockSamples = 320;
constexpr int kBlockBytes = 65;
constexpr int kBlocks = 40; // 1.6 s
constexpr std::size_t kSettle = 1600; // the first 0.2 s, while the decoder settles, are not measured

struct Signal
{
    const char *name;
    QStringList synth; // sox synth arguments after the length
};

const Signal kSignals[] = {
    { "sine 1000 Hz at 0.05", { "sine", "1000", "vol", "0.05" } },
    { "sine 1000 Hz at 0.2", { "sine", "1000", "vol", "0.2" } },
    { "sine 1000 Hz at 0.5", { "sine", "1000", "vol", "0.5" } },
    { "sine 1000 Hz at 0.9", { "sine", "1000", "vol", "0.9" } },
    { "sine 200 Hz at 0.5", { "sine", "200", "vol", "0.5" } },
    { "sine 1300 Hz at 0.5", { "sine", "1300", "vol", "0.5" } },
    { "sine 3400 Hz at 0.5", { "sine", "3400", "vol", "0.5" } },
    { "square 200 Hz at RMS 0.3", { "square", "200", "vol", "0.3" } },
    { "voiced speech-like", { "sawtooth", "130", "vol", "0.6", "sinc", "200-3000", "tremolo", "5", "90" } },
    { "noisy speech-like", { "pinknoise", "vol", "0.4", "sinc", "300-3400", "tremolo", "3", "80" } },
};

enum class Flow
{
    Receive, // sox's blocks arrive; this side's microphone is silent
    Send, // this side's microphone speaks; nothing arrives
    Both,
};

double decibels(double level, double reference)
{
    return 20.0 * std::log10(std::max(level, 1e-9) / reference);
}

// The samples of signal, sox's GSM blocks of it and sox's decoding of those blocks.
struct SoxReference
{
    std::vector<int16_t> source;
    QByteArray blocks;
    std::vector<int16_t> decoded;
};

SoxReference soxReference(const QTemporaryDir &dir, const Signal &signal)
{
    SoxReference r;
    const QString source = dir.filePath("source.wav");
    QStringList synth { "-D", "-n", "-r", "8000", "-b", "16", "-c", "1", source, "synth", "1.6" };
    EXPECT_TRUE(runTool("sox", synth + signal.synth));
    const QString gsm = soxGsm(source);
    r.source = samples16(readWavChunks(source).data);
    r.source.resize(kBlocks * kBlockSamples);
    r.blocks = readWavChunks(gsm).data;
    r.decoded = soxSamples(gsm);
    return r;
}

std::vector<int16_t> soxDecode(const QTemporaryDir &dir, const QByteArray &blocks)
{
    const QString wrapped = dir.filePath("ours.wav");
    EXPECT_TRUE(writeGsmWav(wrapped, blocks));
    return soxSamples(wrapped);
}

// A GSM call whose other end is a plain socket standing in for sox: the call component answers
// its request, then block by block its microphone is fed and sox's blocks arrive.
struct GsmCall
{
    std::vector<int16_t> heard; // what the speaker played, from the first sound on
    QByteArray sent; // the voice datagrams that went out, concatenated

    GsmCall(const SoxReference &ref, Flow flow)
    {
        auto fake = std::make_shared<wave::FakeBackend>();
        const auto previous = wave::setBackend(fake);
        testsupport::RawUdpSocket peer;
        const uint16_t port = testsupport::freeUdpPort();
        {
            testsupport::Side side(port, testsupport::freeUdpPort());
            call::TTelefoon &phone = side.phone;
            int captured = 0;
            int arrived = 0;
            testsupport::countCalls(phone.capture().OnBufferFull, captured);
            testsupport::countCalls(phone.voiceSocket().OnDataReceived, arrived);
            // Each case starts as a freshly started program does.
            call::SyncRandom::setState(0);
            peer.sendTo(
                QStringLiteral("I127.0.0.1P%1V2ZF@").arg(peer.port()).toLatin1().leftJustified(150, '\0'), port);
            EXPECT_TRUE(testsupport::waitUntil([&] { return phone.AudioActive(); }));
            const bool speak = flow != Flow::Receive;
            const bool listen = flow != Flow::Send;
            for (int k = 0; k < kBlocks; ++k) {
                if (speak) {
                    fake->capture(std::vector<int16_t>(
                        ref.source.begin() + k * kBlockSamples, ref.source.begin() + (k + 1) * kBlockSamples));
                }
                if (listen)
                    peer.sendTo(ref.blocks.mid(k * kBlockBytes, kBlockBytes), port);
                EXPECT_TRUE(testsupport::waitUntil(
                    [&] { return (!speak || captured > k) && (!listen || arrived > k + 1); }, 2000));
                append(fake->playOut(kBlockSamples));
            }
            for (int k = 0; k < 8; ++k)
                append(fake->playOut(kBlockSamples));
            testsupport::serveEvents(20);
            for (QByteArray d; !(d = peer.receive(1)).isNull();) {
                if (d.size() != 150)
                    sent += d;
            }
        }
        wave::setBackend(previous);
    }

    void append(const std::vector<int16_t> &samples)
    {
        for (int16_t s : samples) {
            if (!heard.empty() || s != 0)
                heard.push_back(s);
        }
    }
};

class GsmLevel : public ::testing::TestWithParam<Flow>
{
protected:
    void SetUp() override
    {
        if (!haveTool("sox"))
            GTEST_SKIP() << "sox is not installed (tools/packages/audio.txt lists it)";
        ASSERT_TRUE(dir.isValid());
        wave::setBackend(nullptr);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_P(GsmLevel, StaysWithinOneDecibelOfSox)
{
    const Flow flow = GetParam();
    const std::size_t span = (kBlocks - 8) * kBlockSamples;
    for (const Signal &signal : kSignals) {
        SCOPED_TRACE(signal.name);
        const SoxReference ref = soxReference(dir, signal);
        ASSERT_EQ(ref.blocks.size(), kBlocks * kBlockBytes);
        const double expected = rms(ref.decoded, kSettle, kSettle + span);
        const GsmCall call(ref, flow);
        if (flow != Flow::Send) {
            const double received = decibels(rms(call.heard, kSettle, kSettle + span), expected);
            EXPECT_NEAR(received, 0.0, 1.0) << "sox's blocks played here";
            std::cout << "[ measured ] received " << signal.name << ": " << received << " dB\n";
        }
        if (flow != Flow::Receive) {
            const double sent = decibels(rms(soxDecode(dir, call.sent), kSettle, kSettle + span), expected);
            EXPECT_NEAR(sent, 0.0, 1.0) << "this side's blocks decoded by sox";
            std::cout << "[ measured ] sent " << signal.name << ": " << sent << " dB\n";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flows, GsmLevel, ::testing::Values(Flow::Receive, Flow::Send, Flow::Both), [](const auto &info) {
        return std::string(info.param == Flow::Receive ? "Receive" : info.param == Flow::Send ? "Send" : "Both");
    });
