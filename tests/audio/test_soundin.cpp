#include "audiofixture.h"

#include "audio/audioerrors.h"
#include "audio/soundin.h"
#include "framework/exception.h"
#include "framework/noticesink.h"
#include "platform/acm/codec.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QByteArray>
#include <QThread>

using namespace audiotest;
using audio::TACMIn;

namespace {

class SoundInTest : public FakeAudioTest
{
protected:
    // Records every OnBufferFull as a byte array (null Data recorded as a null array).
    void record(TACMIn &in)
    {
        in.OnBufferFull = [this, &in](QObject *sender, const void *data, int size) {
            EXPECT_EQ(sender, &in);
            EXPECT_EQ(data == nullptr, size == 0);
            nullData += data == nullptr;
            received.push_back(QByteArray(static_cast<const char *>(data), size));
        };
    }

    QString openError(TACMIn &in, const wave::TACMWaveFormat &format)
    {
        try {
            in.Open(format);
        } catch (const audio::EACMIn &error) {
            return error.message();
        }
        return QString();
    }

    std::vector<QByteArray> received;
    int nullData = 0;
};

TEST_F(SoundInTest, CreatesInactiveWithDefaults)
{
    TACMIn in;
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(in.BufferSize(), 8192u);
    EXPECT_EQ(in.NumBuffers(), 4);
    EXPECT_EQ(in.deviceHandle(), nullptr);
    EXPECT_EQ(in.bufferCount(), 0u);
}

TEST_F(SoundInTest, PcmOpensTheMapperAndGsmOpensDeviceZeroMapped)
{
    TACMIn in;
    in.Open(pcm8Format());
    in.Close();
    in.Open(gsmFormat());
    in.Close();
    const auto opens = fake->opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].deviceId, wave::WAVE_MAPPER);
    EXPECT_EQ(opens[0].flags, wave::CALLBACK_WINDOW);
    EXPECT_EQ(opens[0].pcmRate, 8000u);
    EXPECT_EQ(opens[1].deviceId, 0u);
    EXPECT_EQ(opens[1].flags, wave::CALLBACK_WINDOW | wave::WAVE_MAPPED);
    const auto gsm = gsmFormat();
    EXPECT_EQ(std::memcmp(&opens[1].format, &gsm, sizeof gsm), 0);
}

TEST_F(SoundInTest, BuffersCirculateInOrderWithExactBytes)
{
    TACMIn in;
    record(in);
    in.setBufferSize(400);
    in.Open(pcm8Format());
    ASSERT_TRUE(in.Active());
    EXPECT_EQ(in.bufferCount(), 4u);
    EXPECT_TRUE(fake->inputRunning());
    // Ten buffers through four: each one is handed over and queued again.
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(fake->capture(ramp(400, i * 400)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return received.size() == std::size_t(i + 1); }));
    }
    EXPECT_EQ(in.bufferCount(), 4u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(received[i].size(), 400);
        // 8-bit unsigned: the high byte of each sample plus 128.
        for (int k = 0; k < 400; ++k)
            ASSERT_EQ(uint8_t(received[i][k]), uint8_t(((i * 400 + k) & 0xFF) + 128)) << i << ' ' << k;
    }
}

TEST_F(SoundInTest, SoundWithoutQueuedBuffersIsLostNotQueuedUp)
{
    TACMIn in;
    record(in);
    in.setBufferSize(100);
    in.Open(pcm8Format());
    // Ten buffers' worth at once: only the four queued buffers can take any of it.
    ASSERT_TRUE(fake->capture(ramp(1000)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return received.size() == 4; }));
    testsupport::serveEvents(50);
    EXPECT_EQ(received.size(), 4u);
}

TEST_F(SoundInTest, GsmBuffersHoldWholeBlocksOnly)
{
    TACMIn in;
    record(in);
    in.setBufferSize(81); // 1625 bytes/s / 20: room for one 65-byte block
    in.Open(gsmFormat());
    const auto samples = ramp(960);
    ASSERT_TRUE(fake->capture(samples));
    ASSERT_TRUE(testsupport::waitUntil([&] { return received.size() == 3; }));
    std::unique_ptr<acm::Codec> codec;
    ASSERT_EQ(acm::openCodec(gsmFormat(), codec), 0u);
    for (int b = 0; b < 3; ++b) {
        uint8_t expected[65];
        codec->encode(samples.data() + b * 320, 1, expected);
        ASSERT_EQ(received[b].size(), 65);
        EXPECT_EQ(std::memcmp(received[b].constData(), expected, 65), 0) << b;
    }
}

TEST_F(SoundInTest, ZeroByteBuffersStillRaiseTheEventWithSizeZero)
{
    TACMIn in;
    record(in);
    in.setBufferSize(0);
    in.Open(pcm8Format());
    ASSERT_TRUE(fake->capture(ramp(3)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(nullData, 3);
    EXPECT_TRUE(received[0].isEmpty());
    EXPECT_TRUE(in.Active());
}

TEST_F(SoundInTest, OpenWhileOpenChangesNothingAndCloseTwiceIsSafe)
{
    TACMIn in;
    in.Open(pcm8Format());
    const auto handle = in.deviceHandle();
    in.Open(gsmFormat());
    EXPECT_EQ(in.format().format.wFormatTag, wave::WAVE_FORMAT_PCM);
    EXPECT_EQ(in.deviceHandle(), handle);
    EXPECT_EQ(fake->opens().size(), 1u);
    in.Close();
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(in.deviceHandle(), nullptr);
    EXPECT_EQ(in.bufferCount(), 0u);
    EXPECT_FALSE(fake->inputRunning());
    in.Close();
    EXPECT_FALSE(in.Active());
}

TEST_F(SoundInTest, SizesSetWhileActiveAreDiscarded)
{
    TACMIn in;
    in.setBufferSize(400);
    in.setNumBuffers(3);
    in.Open(pcm8Format());
    EXPECT_EQ(in.bufferCount(), 3u);
    in.setBufferSize(4096);
    in.setNumBuffers(8);
    in.Close();
    EXPECT_EQ(in.BufferSize(), 400u);
    EXPECT_EQ(in.NumBuffers(), 3);
    in.setNumBuffers(64);
    in.Open(pcm8Format());
    EXPECT_EQ(in.bufferCount(), 64u);
}

TEST_F(SoundInTest, BufferCountOutsideTwoToSixtyFourIsARangeError)
{
    TACMIn in;
    EXPECT_THROW(in.setNumBuffers(0), framework::ERangeError);
    EXPECT_THROW(in.setNumBuffers(1), framework::ERangeError);
    EXPECT_THROW(in.setNumBuffers(65), framework::ERangeError);
    EXPECT_EQ(in.NumBuffers(), 4);
    in.setNumBuffers(2);
    EXPECT_EQ(in.NumBuffers(), 2);
}

TEST_F(SoundInTest, NoticesAfterCloseAreIgnored)
{
    TACMIn in;
    record(in);
    in.setBufferSize(100);
    in.Open(pcm8Format());
    ASSERT_TRUE(fake->capture(ramp(200)));
    QThread::msleep(60); // the device posts its notices; none is served before the close
    in.Close();
    // Reopened at once, before the loop runs: the old session's notices, still queued, must not
    // meet the new buffers, which reuse the old ones' addresses.
    in.Open(pcm8Format());
    // A stray notice for an unknown header.
    wave::WAVEHDR stranger;
    in.noticeSink()->post(wave::MM_WIM_DATA, 0, intptr_t(&stranger));
    testsupport::serveEvents(50);
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(in.Active());
}

TEST_F(SoundInTest, DestroyingWhileActiveReleasesTheDevice)
{
    {
        TACMIn in;
        in.Open(pcm8Format());
        EXPECT_TRUE(fake->inputRunning());
    }
    EXPECT_FALSE(fake->inputRunning());
    // The device is free for the next one.
    TACMIn again;
    again.Open(pcm8Format());
    EXPECT_TRUE(again.Active());
}

TEST_F(SoundInTest, HandlerThatClosesTheComponentEndsCleanly)
{
    TACMIn in;
    in.setBufferSize(100);
    int calls = 0;
    in.OnBufferFull = [&](QObject *, const void *, int) {
        ++calls;
        in.Close();
    };
    in.Open(pcm8Format());
    ASSERT_TRUE(fake->capture(ramp(100)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return calls == 1; }));
    testsupport::serveEvents(20);
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(in.bufferCount(), 0u);
}

TEST_F(SoundInTest, AFailingHandlerIsReportedEachTimeAndItsBufferQueuedAgain)
{
    testsupport::ExceptionRecorder errors;
    TACMIn in;
    in.setBufferSize(100);
    int calls = 0;
    in.OnBufferFull = [&](QObject *, const void *, int) {
        ++calls;
        throw framework::Exception("handler failed");
    };
    in.Open(pcm8Format());
    // Ten buffers through four, one at a time: every failure gives its buffer back.
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(fake->capture(ramp(100)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return calls == i; }, 2000)) << i;
    }
    EXPECT_EQ(errors.messages().size(), 10);
    EXPECT_EQ(errors.messages().first(), "handler failed");
    EXPECT_TRUE(in.Active());
}

struct OpenFailure
{
    wave::WaveOp op;
    int skip;
    wave::MMRESULT code;
    const char *message;
};

TEST_F(SoundInTest, EveryOpenFailureLeavesNothingBehindAndSaysWhatFailed)
{
    const OpenFailure cases[] = {
        { wave::WaveOp::InOpen, 0, wave::MMSYSERR_ALLOCATED, "WaveIn-Open The specified resource is already in use." },
        { wave::WaveOp::InPrepareHeader, 2, wave::MMSYSERR_NOMEM,
            "WaveIn-PrepareHeader The system is unable to allocate resources." },
        { wave::WaveOp::InAddBuffer, 3, wave::MMSYSERR_INVALHANDLE,
            "WaveIn-AddBuffer The specified handle is invalid." },
        { wave::WaveOp::InStart, 0, wave::MMSYSERR_ERROR, "WaveIn-Start raised an unknown error (code #1)" },
    };
    for (const OpenFailure &c : cases) {
        fake->clearFailures();
        fake->failNext(c.op, c.code, c.skip);
        TACMIn in;
        EXPECT_EQ(openError(in, pcm8Format()), QString(c.message));
        EXPECT_FALSE(in.Active());
        EXPECT_EQ(in.bufferCount(), 0u);
        EXPECT_EQ(in.deviceHandle(), nullptr);
        EXPECT_FALSE(fake->inputRunning());
        // The device was closed: a later open succeeds.
        in.Open(pcm8Format());
        EXPECT_TRUE(in.Active()) << c.message;
    }
}

TEST_F(SoundInTest, MissingDeviceAndCodecsWithoutDriverAreExplained)
{
    TACMIn in;
    EXPECT_EQ(openError(in, lernoutFormat(0x1101)), "WaveIn-Open Unsupported audio format.");
    EXPECT_EQ(openError(in, lernoutFormat(0x1102)), "WaveIn-Open Unsupported audio format.");
    fake->setDeviceCounts(0, 1);
    EXPECT_EQ(openError(in, pcm8Format()), "WaveIn-Open The specified resource does not exist.");
    EXPECT_FALSE(in.Active());
}

TEST_F(SoundInTest, FailuresWhileRequeuingCloseTheComponentAndReachTheErrorReporting)
{
    const OpenFailure cases[] = {
        { wave::WaveOp::InUnprepareHeader, 0, wave::WAVERR_STILLPLAYING,
            "WaveIn-UnprepareHeader raised an unknown error (code #33)" },
        { wave::WaveOp::InPrepareHeader, 4, wave::MMSYSERR_NOMEM,
            "WaveIn-PrepareHeader The system is unable to allocate resources." },
        { wave::WaveOp::InAddBuffer, 4, wave::WAVERR_UNPREPARED, "WaveInAddBuffer raised an unknown error (code #34)" },
    };
    for (const OpenFailure &c : cases) {
        fake->clearFailures();
        fake->failNext(c.op, c.code, c.skip);
        testsupport::ExceptionRecorder errors;
        TACMIn in;
        in.setBufferSize(50);
        in.Open(pcm8Format());
        ASSERT_TRUE(fake->capture(ramp(50)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return !errors.entries().empty(); })) << c.message;
        EXPECT_EQ(errors.messages(), QStringList { c.message });
        EXPECT_EQ(errors.entries()[0].rawSender, &in);
        EXPECT_FALSE(in.Active());
        EXPECT_EQ(in.bufferCount(), 0u);
        EXPECT_FALSE(fake->inputRunning());
    }
}

} // namespace
