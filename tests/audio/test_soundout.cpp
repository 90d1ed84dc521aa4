#include "audiofixture.h"

#include "audio/audioerrors.h"
#include "audio/soundout.h"
#include "framework/noticesink.h"
#include "platform/acm/codec.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QByteArray>
#include <QThread>

using namespace audiotest;
using audio::TACMOut;

namespace {

// A PCM-8 block of n bytes that all hold value; it plays as (value - 128) * 256.
QByteArray block(int n, int value)
{
    return QByteArray(n, char(value));
}

class SoundOutTest : public FakeAudioTest
{
protected:
    void play(TACMOut &out, const QByteArray &bytes) { out.Play(bytes.constData(), int(bytes.size())); }

    QString failure(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const audio::EACMOut &error) {
            return error.message();
        }
        return QString();
    }

    // The samples the device plays next, n of them.
    std::vector<int16_t> heard(std::size_t n) { return fake->playOut(n); }

    // blocks GSM blocks of a ramp, and what a decoder that sees all of them in order makes of them.
    static std::pair<QByteArray, std::vector<int16_t>> gsmStream(int blocks)
    {
        std::unique_ptr<acm::Codec> codec;
        acm::openCodec(gsmFormat(), codec);
        const auto source = ramp(std::size_t(blocks) * 320);
        QByteArray stream(blocks * 65, 0);
        codec->encode(source.data(), std::size_t(blocks), reinterpret_cast<uint8_t *>(stream.data()));
        acm::openCodec(gsmFormat(), codec);
        std::vector<int16_t> decoded(std::size_t(blocks) * 320);
        codec->decode(reinterpret_cast<const uint8_t *>(stream.constData()), std::size_t(blocks), decoded.data());
        return { stream, decoded };
    }
};

TEST_F(SoundOutTest, PreRollHoldsFourBlocksAndTheFifthWritesFiveInArrivalOrder)
{
    TACMOut out;
    EXPECT_EQ(out.NumBuffers, 4);
    out.Open(pcm8Format());
    ASSERT_TRUE(out.Active());
    for (int i = 0; i < 4; ++i)
        play(out, block(10, 130 + i));
    EXPECT_EQ(out.pendingCount(), 4u);
    EXPECT_EQ(heard(10), std::vector<int16_t>(10, 0)); // nothing written yet
    play(out, block(10, 134));
    EXPECT_EQ(out.pendingCount(), 0u);
    const auto samples = heard(50);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(samples[i], int16_t((2 + i / 10) * 256)) << i;
    // From now on every block is written as it arrives.
    play(out, block(5, 140));
    EXPECT_EQ(heard(5), std::vector<int16_t>(5, int16_t(12 * 256)));
}

TEST_F(SoundOutTest, ZeroBuffersWritesTheFirstBlockAtOnce)
{
    TACMOut out;
    out.NumBuffers = 0;
    out.Open(pcm8Format());
    play(out, block(4, 129));
    EXPECT_EQ(out.pendingCount(), 0u);
    EXPECT_EQ(heard(4), std::vector<int16_t>(4, 256));
}

TEST_F(SoundOutTest, EmptyNullOrInactivePlayChangesNothing)
{
    TACMOut out;
    play(out, block(10, 1)); // inactive
    EXPECT_EQ(out.bufferCount(), 0u);
    out.Open(pcm8Format());
    out.Play("abc", 0);
    out.Play("abc", -5);
    out.Play(nullptr, 10);
    EXPECT_EQ(out.bufferCount(), 0u);
    EXPECT_EQ(out.pendingCount(), 0u);
}

TEST_F(SoundOutTest, CloseDuringPreRollReleasesPendingBlocksUnplayed)
{
    TACMOut out;
    out.Open(pcm8Format());
    play(out, block(10, 200));
    play(out, block(10, 200));
    out.Close();
    EXPECT_EQ(out.bufferCount(), 0u);
    EXPECT_EQ(out.pendingCount(), 0u);
    EXPECT_EQ(out.DeviceHandle(), nullptr);
    EXPECT_FALSE(fake->outputOpen());
    out.Close();
    // Reopened, the pre-roll starts again from NumBuffers.
    out.Open(pcm8Format());
    play(out, block(10, 200));
    EXPECT_EQ(out.pendingCount(), 1u);
}

TEST_F(SoundOutTest, NumBuffersChangedWhileActiveAppliesAtTheNextOpen)
{
    TACMOut out;
    out.NumBuffers = 2;
    out.Open(pcm8Format());
    out.NumBuffers = 6;
    play(out, block(1, 130));
    play(out, block(1, 130));
    EXPECT_EQ(out.pendingCount(), 2u);
    play(out, block(1, 130));
    EXPECT_EQ(out.pendingCount(), 0u);
    out.Close();
    out.Open(pcm8Format());
    for (int i = 0; i < 6; ++i)
        play(out, block(1, 130));
    EXPECT_EQ(out.pendingCount(), 6u);
}

TEST_F(SoundOutTest, PlayedBlocksAreReportedWithTheirDataThenReleased)
{
    TACMOut out;
    out.NumBuffers = 0;
    std::vector<QByteArray> played;
    out.OnBufferPlayed = [&](QObject *sender, wave::WAVEHDR *header) {
        EXPECT_EQ(sender, &out);
        EXPECT_TRUE(header->dwFlags & wave::WHDR_DONE);
        played.push_back(QByteArray(header->lpData, int(header->dwBufferLength)));
    };
    out.Open(pcm8Format());
    play(out, block(8, 100));
    play(out, block(4, 101));
    EXPECT_EQ(out.bufferCount(), 2u);
    heard(10); // the first block and half of the second
    ASSERT_TRUE(testsupport::waitUntil([&] { return played.size() == 1; }));
    testsupport::serveEvents(30);
    EXPECT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0], block(8, 100));
    EXPECT_EQ(out.bufferCount(), 1u);
    heard(2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return played.size() == 2; }));
    EXPECT_EQ(played[1], block(4, 101));
    EXPECT_EQ(out.bufferCount(), 0u);
}

TEST_F(SoundOutTest, PlayedNoticeAfterCloseChangesNothing)
{
    TACMOut out;
    out.NumBuffers = 0;
    int played = 0;
    out.OnBufferPlayed = [&](QObject *, wave::WAVEHDR *) { ++played; };
    out.Open(pcm8Format());
    play(out, block(8, 100));
    heard(8);
    QThread::msleep(60); // the device posts its notices; none is served before the close
    out.Close();
    wave::WAVEHDR stranger;
    out.noticeSink()->post(wave::MM_WOM_DONE, 0, intptr_t(&stranger));
    out.Open(pcm8Format());
    testsupport::serveEvents(50);
    EXPECT_EQ(played, 0);
    EXPECT_TRUE(out.Active());
}

TEST_F(SoundOutTest, EachBufferDecodesItsWholeBlocksAndDropsAPartialTail)
{
    const auto [stream, expected] = gsmStream(6);
    TACMOut out;
    out.Open(gsmFormat());
    // One stray datagram of odd size (a block and 35 bytes more) amid whole ones: its tail must
    // not shift the blocks after it.
    play(out, stream.mid(0, 130));
    play(out, stream.mid(130, 65) + QByteArray(35, '\x5a'));
    play(out, stream.mid(195, 65));
    play(out, QByteArray(64, '\x11')); // no whole block at all
    play(out, stream.mid(260, 130));
    EXPECT_EQ(heard(6 * 320), expected);
    EXPECT_EQ(out.stats().partialTails, 2u);
}

TEST_F(SoundOutTest, ASkippedBlockKeepsTheDecoderInStepUnheardAndBuildsNoPreRoll)
{
    auto [stream, expected] = gsmStream(6);
    expected.erase(expected.begin() + 2 * 320, expected.begin() + 3 * 320);

    TACMOut out;
    out.Open(gsmFormat());
    for (int i = 0; i < 5; ++i) {
        if (i == 2)
            out.Skip(stream.constData() + i * 65, 65);
        else
            play(out, stream.mid(i * 65, 65));
    }
    EXPECT_EQ(out.pendingCount(), 5u) << "four blocks to be heard are held back, the skipped one beside them";
    play(out, stream.mid(5 * 65, 65));
    EXPECT_EQ(heard(5 * 320), expected);
}

TEST_F(SoundOutTest, TheQueueHoldsAtMostTwoSecondsAndTheOldestWaitingBlocksGo)
{
    TACMOut out;
    out.NumBuffers = 0;
    out.Open(pcm8Format());
    // Five seconds at once, in blocks of 50 ms that each hold their own value (block i plays as i * 256).
    for (int i = 1; i <= 100; ++i)
        play(out, block(400, 128 + i));
    // Played in device-sized pieces, with time for the device to decode more between them.
    std::vector<int16_t> samples;
    for (int i = 0; i < 6 * 8; ++i) {
        const auto piece = heard(1000);
        samples.insert(samples.end(), piece.begin(), piece.end());
        QThread::msleep(10);
    }
    const auto sounding = std::count_if(samples.begin(), samples.end(), [](int16_t s) { return s != 0; });
    EXPECT_LE(sounding, 2 * 8000);
    EXPECT_GE(sounding, 2 * 8000 - 400);
    EXPECT_EQ(samples.front(), 1 * 256) << "what was being played when the flood came stays";
    EXPECT_EQ(samples[sounding - 1], 100 * 256) << "the newest block is heard";
    EXPECT_EQ(out.stats().overflowBuffers, 100u - uint64_t(sounding / 400));
    testsupport::serveEvents(50);
    EXPECT_EQ(out.bufferCount(), 0u) << "every block's memory is released";
}

TEST_F(SoundOutTest, AnyBytesOfAnyLengthPlaySafely)
{
    TACMOut out;
    out.NumBuffers = 0;
    out.Open(gsmFormat());
    QByteArray noise;
    for (int i = 0; i < 1000; ++i)
        noise.append(char((i * 7919) ^ (i >> 3)));
    for (int n : { 1, 64, 65, 66, 129, 1000 })
        play(out, noise.left(n));
    heard(20 * 320);
    testsupport::serveEvents(30);
    EXPECT_TRUE(out.Active());
}

TEST_F(SoundOutTest, VolumeScalesThePlayedSoundAndReadsBackAsSet)
{
    TACMOut out;
    out.NumBuffers = 0;
    out.Open(pcm16Format());
    uint32_t volume = 0;
    ASSERT_EQ(wave::waveOutGetVolume(out.DeviceHandle(), &volume), 0u);
    EXPECT_EQ(volume, 0xFFFFFFFFu);
    const uint32_t word = 32767u + 32767u * 65536u; // what a call's volume 50 gives
    ASSERT_EQ(wave::waveOutSetVolume(out.DeviceHandle(), word), 0u);
    ASSERT_EQ(wave::waveOutGetVolume(out.DeviceHandle(), &volume), 0u);
    EXPECT_EQ(volume, word);
    const int16_t loud[2] = { 20000, -20000 };
    out.Play(loud, sizeof loud);
    const auto samples = heard(2);
    EXPECT_NEAR(samples[0], 10000, 1);
    EXPECT_NEAR(samples[1], -10000, 1);
}

TEST_F(SoundOutTest, OpenFailuresAreExplained)
{
    TACMOut out;
    EXPECT_EQ(failure([&] { out.Open(lernoutFormat(0x1101)); }), "WaveOutOpen Unsupported audio format.");
    EXPECT_EQ(failure([&] { out.Open(lernoutFormat(0x1102)); }), "WaveOutOpen Unsupported audio format.");
    fake->failNext(wave::WaveOp::OutOpen, wave::MMSYSERR_ALLOCATED);
    EXPECT_EQ(failure([&] { out.Open(pcm8Format()); }), "WaveOutOpen The specified resource is already in use.");
    fake->setDeviceCounts(1, 0);
    EXPECT_EQ(failure([&] { out.Open(gsmFormat()); }), "WaveOutOpen The specified resource does not exist.");
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(out.DeviceHandle(), nullptr);
}

TEST_F(SoundOutTest, FailedWritesCloseAndLaterPlaysAreIgnored)
{
    struct Case
    {
        wave::WaveOp op;
        int skip;
        wave::MMRESULT code;
        const char *message;
    };
    const Case cases[] = {
        { wave::WaveOp::OutPrepareHeader, 2, wave::MMSYSERR_NOMEM,
            "WaveOut-PrepareHeader The system is unable to allocate resources." },
        { wave::WaveOp::OutWrite, 0, wave::WAVERR_STILLPLAYING, "WaveOut-Write raised an unknown error (code #33)" },
    };
    for (const Case &c : cases) {
        fake->clearFailures();
        fake->failNext(c.op, c.code, c.skip);
        TACMOut out;
        out.NumBuffers = 3;
        out.Open(pcm8Format());
        for (int i = 0; i < 3; ++i)
            play(out, block(10, 130));
        EXPECT_EQ(failure([&] { play(out, block(10, 130)); }), QString(c.message));
        EXPECT_FALSE(out.Active());
        EXPECT_EQ(out.bufferCount(), 0u);
        EXPECT_EQ(out.pendingCount(), 0u);
        EXPECT_FALSE(fake->outputOpen());
        play(out, block(10, 130));
        EXPECT_EQ(out.bufferCount(), 0u);
    }
}

TEST_F(SoundOutTest, FailedUnprepareAfterPlayingClosesAndReachesTheErrorReporting)
{
    testsupport::ExceptionRecorder errors;
    fake->failNext(wave::WaveOp::OutUnprepareHeader, wave::MMSYSERR_INVALPARAM);
    TACMOut out;
    out.NumBuffers = 0;
    out.Open(pcm8Format());
    play(out, block(4, 130));
    heard(4);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !errors.entries().empty(); }));
    EXPECT_EQ(errors.messages(), QStringList { "WaveOut-UnprepareHeader At least one parameter is invalid." });
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(out.bufferCount(), 0u);
}

TEST_F(SoundOutTest, DestroyingWhileActiveReleasesTheDevice)
{
    {
        TACMOut out;
        out.Open(pcm8Format());
        play(out, block(10, 130));
        EXPECT_TRUE(fake->outputOpen());
    }
    EXPECT_FALSE(fake->outputOpen());
}

} // namespace
