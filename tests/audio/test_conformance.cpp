// Capture through the file backend checked against sox as an independent coder: the bytes that
// TACMIn delivers, wrapped in a WAV file, must be what sox makes of the same source, and must
// decode back to the source.

#include "audiofixture.h"
#include "soxtools.h"

#include "audio/soundin.h"
#include "platform/wave/filebackend.h"
#include "support/eventwait.h"

#include <QTemporaryDir>

#include <iostream>

using namespace audiotest;

namespace {

class ConformanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTool("sox"))
            GTEST_SKIP() << "sox is not installed (tools/packages/audio.txt lists it)";
        ASSERT_TRUE(dir.isValid());
        source = dir.filePath("source.wav");
        // -D: no dither, so the source is the same on every run.
        ASSERT_TRUE(runTool("sox",
            { "-D", "-n", "-r", "8000", "-b", "16", "-c", "1", source, "synth", "1.2", "sine", "1000", "vol", "0.5" }));
        previous = wave::setBackend(std::make_shared<wave::FileBackend>(source, QString()));
        installed = true;
    }
    void TearDown() override
    {
        if (installed)
            wave::setBackend(previous);
    }

    // Captures at least bytes bytes of format through TACMIn in buffers of bufferSize.
    QByteArray capture(const wave::TACMWaveFormat &format, uint32_t bufferSize, int bytes)
    {
        QByteArray captured;
        audio::TACMIn in;
        in.setBufferSize(bufferSize);
        in.setNumBuffers(64); // slack, so that a slow test machine loses nothing
        in.OnBufferFull
            = [&](QObject *, const void *data, int size) { captured.append(static_cast<const char *>(data), size); };
        in.Open(format);
        EXPECT_TRUE(testsupport::waitUntil([&] { return captured.size() >= bytes; }, 20000));
        in.Close();
        return captured.left(bytes);
    }

    std::vector<int16_t> sourceSamples() { return samples16(readWavChunks(source).data); }

    QTemporaryDir dir;
    QString source;
    std::shared_ptr<wave::WaveBackend> previous;
    bool installed = false;
};

TEST_F(ConformanceTest, GsmCaptureIsSoxsOwnEncodingAndDecodesToTheSource)
{
    const int blocks = 25; // one second
    const QByteArray ours = capture(gsmFormat(), 81, blocks * 65);
    ASSERT_EQ(ours.size(), blocks * 65);

    const QString soxGsm = dir.filePath("sox-gsm.wav");
    ASSERT_TRUE(runTool("sox", { "-D", source, "-e", "gsm-full-rate", soxGsm }));
    const WavChunks reference = readWavChunks(soxGsm);
    ASSERT_EQ(reference.tag, 0x31);
    ASSERT_GE(reference.data.size(), ours.size());
    EXPECT_EQ(ours, reference.data.left(ours.size()));

    const QString wrapped = dir.filePath("ours-gsm.wav");
    const QString decoded = dir.filePath("ours-decoded.wav");
    ASSERT_TRUE(writeGsmWav(wrapped, ours));
    QString log;
    ASSERT_TRUE(runTool("sox", { "-D", wrapped, "-b", "16", "-e", "signed-integer", decoded }, &log))
        << log.toStdString();
    const auto back = samples16(readWavChunks(decoded).data);
    ASSERT_EQ(back.size(), std::size_t(blocks * 320));
    // GSM is lossy: a 1 kHz sine comes back at about 28 dB.
    const double snr = snrDb(sourceSamples(), back);
    EXPECT_GT(snr, 20.0);
    std::cout << "[ measured ] GSM round trip of a 1 kHz sine through sox: SNR " << snr << " dB\n";
}

TEST_F(ConformanceTest, Pcm8CaptureMatchesSoxWithinOneStep)
{
    const int bytes = 8000;
    const QByteArray ours = capture(pcm8Format(), 400, bytes);
    ASSERT_EQ(ours.size(), bytes);

    const QString sox8 = dir.filePath("sox-8.wav");
    ASSERT_TRUE(runTool("sox", { "-D", source, "-b", "8", "-e", "unsigned-integer", sox8 }));
    const WavChunks reference = readWavChunks(sox8);
    ASSERT_EQ(reference.bits, 8);
    ASSERT_GE(reference.data.size(), bytes);
    for (int i = 0; i < bytes; ++i)
        ASSERT_LE(std::abs(int(uint8_t(ours[i])) - int(uint8_t(reference.data[i]))), 1) << i;

    const QString wrapped = dir.filePath("ours-8.wav");
    const QString decoded = dir.filePath("ours-8-decoded.wav");
    ASSERT_TRUE(writePcmWav(wrapped, ours, 8000, 8));
    ASSERT_TRUE(runTool("sox", { "-D", wrapped, "-b", "16", "-e", "signed-integer", decoded }));
    const auto back = samples16(readWavChunks(decoded).data);
    const auto original = sourceSamples();
    ASSERT_EQ(back.size(), std::size_t(bytes));
    for (int i = 0; i < bytes; ++i)
        ASSERT_LE(std::abs(back[i] - original[i]), 256) << i;
}

} // namespace
