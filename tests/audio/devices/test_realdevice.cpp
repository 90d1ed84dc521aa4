// TACMIn and TACMOut on real devices: PortAudio through a private PulseAudio started by
// tools/soundserver. A tone played into the microphone must come out of the captured bytes, and
// a tone played through TACMOut must reach the speaker, both checked by sox. Skipped, with the
// reason, where no sound server can start.

#include "../audiofixture.h"
#include "../soxtools.h"

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "platform/wave/portaudiobackend.h"
#include "support/eventwait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

using namespace audiotest;

// Allocations that the sound libraries make once, when ALSA loads its plugins (PortAudio probes
// every configured device), and never free; the plugins are unloaded before the leak check, so
// only the full stack (down to ALSA's loader) names them. They are the system libraries' own.
extern "C" const char *__lsan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:snd_dlopen\n";
}

namespace {

const QString kSoundServer = QStringLiteral(TOBREL_SOURCE_DIR "/tools/soundserver");

struct SoxStat
{
    double rmsAmplitude = 0; // full scale 1.0
    double frequency = 0; // Hz, sox's rough estimate
};

// sox's own analysis of part of a WAV file.
bool soxStat(const QString &path, double start, double length, SoxStat &stat, QString &log)
{
    if (!runTool("sox", { path, "-n", "trim", QString::number(start), QString::number(length), "stat" }, &log))
        return false;
    const auto value = [&](const char *label) {
        const auto match = QRegularExpression(QString::fromLatin1(label) + R"(:\s*(-?[0-9.]+))").match(log);
        return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
    };
    stat.rmsAmplitude = value("RMS\\s+amplitude");
    stat.frequency = value("Rough\\s+frequency");
    return stat.rmsAmplitude >= 0 && stat.frequency >= 0;
}

class RealDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *tool : { "pulseaudio", "pactl", "paplay", "parec", "sox" }) {
            if (!haveTool(tool))
                GTEST_SKIP() << "no sound server can run here: " << tool << " is not installed";
        }
        ASSERT_TRUE(dir.isValid());
        QString output;
        if (!runTool(kSoundServer, { "start", dir.path() }, &output, 30000))
            GTEST_SKIP() << "no sound server could start: " << output.trimmed().toStdString();
        started = true;
        for (const QString &line : output.split('\n', Qt::SkipEmptyParts)) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0 && !line.contains(' ')) {
                environment.insert(line.left(eq), line.mid(eq + 1));
                qputenv(line.left(eq).toLocal8Bit().constData(), line.mid(eq + 1).toLocal8Bit());
            }
        }
        backend = std::make_shared<wave::PortAudioBackend>();
        if (backend->inputDeviceCount() == 0 || backend->outputDeviceCount() == 0)
            GTEST_SKIP() << "PortAudio sees no default devices on the private server";
        previous = wave::setBackend(backend);
        installed = true;
    }

    void TearDown() override
    {
        if (installed)
            wave::setBackend(previous);
        backend.reset();
        if (started)
            runTool(kSoundServer, { "stop", dir.path() }, nullptr, 30000);
    }

    QProcessEnvironment toolEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }

    // Full duplex in one format: a 440 Hz tone is played into the microphone while a 660 Hz
    // tone, coded by sox, goes out through TACMOut. Both are then analysed by sox.
    void runDuplex(const wave::TACMWaveFormat &format, uint32_t bufferSize, bool gsm)
    {
        const QString micTone = dir.filePath("mic-tone.wav");
        const QString speakerTone = dir.filePath("speaker-tone.wav");
        const QString speakerCoded = dir.filePath("speaker-coded.wav");
        ASSERT_TRUE(runTool("sox",
            { "-D", "-n", "-r", "8000", "-c", "1", "-b", "16", micTone, "synth", "4", "sine", "440", "vol", "0.5" }));
        ASSERT_TRUE(runTool("sox",
            { "-D", "-n", "-r", "8000", "-c", "1", "-b", "16", speakerTone, "synth", "2", "sine", "660", "vol",
                "0.5" }));
        if (gsm)
            ASSERT_TRUE(runTool("sox", { "-D", speakerTone, "-e", "gsm-full-rate", speakerCoded }));
        else
            ASSERT_TRUE(runTool("sox", { "-D", speakerTone, "-b", "8", "-e", "unsigned-integer", speakerCoded }));
        const QByteArray outgoing = readWavChunks(speakerCoded).data;
        ASSERT_FALSE(outgoing.isEmpty());

        QProcess mic;
        mic.setProcessEnvironment(toolEnvironment());
        mic.start("paplay", { "-d", "feed_a", micTone });
        QProcess speaker;
        speaker.setProcessEnvironment(toolEnvironment());
        speaker.start("parec",
            { "-d", "null_a.monitor", "--latency-msec=20", "--raw", "--format=s16le", "--rate=8000", "--channels=1" });
        ASSERT_TRUE(mic.waitForStarted(5000));
        ASSERT_TRUE(speaker.waitForStarted(5000));
        testsupport::serveEvents(300); // the tone is on the microphone

        QByteArray captured;
        audio::TACMIn in;
        in.setBufferSize(bufferSize);
        in.OnBufferFull
            = [&](QObject *, const void *data, int size) { captured.append(static_cast<const char *>(data), size); };
        audio::TACMOut out;
        in.Open(format);
        out.Open(format);
        ASSERT_TRUE(in.Active());
        ASSERT_TRUE(out.Active());
        // The speaker tone goes out in the pieces a capture buffer of that size delivers (whole
        // blocks), as a call's datagrams would.
        const qsizetype piece = bufferSize / format.format.nBlockAlign * format.format.nBlockAlign;
        for (qsizetype at = 0; at < outgoing.size(); at += piece)
            out.Play(outgoing.constData() + at, int(std::min<qsizetype>(piece, outgoing.size() - at)));
        const int wanted = int(format.format.nAvgBytesPerSec * 2); // two seconds
        EXPECT_TRUE(testsupport::waitUntil([&] { return captured.size() >= wanted; }, 15000));
        testsupport::serveEvents(800); // the last of the speaker tone drains
        in.Close();
        out.Close();
        speaker.terminate();
        speaker.waitForFinished(5000);
        mic.kill();
        mic.waitForFinished(5000);
        const QByteArray heard = speaker.readAllStandardOutput();

        QString log;
        SoxStat stat;
        const QString capturedWav = dir.filePath("captured.wav");
        const QString decoded = dir.filePath("captured-decoded.wav");
        ASSERT_TRUE(gsm ? writeGsmWav(capturedWav, captured) : writePcmWav(capturedWav, captured, 8000, 8));
        ASSERT_TRUE(runTool("sox", { "-D", capturedWav, "-b", "16", "-e", "signed-integer", decoded }, &log))
            << log.toStdString();
        ASSERT_TRUE(soxStat(decoded, 0.8, 1.0, stat, log)) << log.toStdString();
        EXPECT_NEAR(stat.frequency, 440, 25) << log.toStdString();
        // Both tones go in at RMS 0.354; the codecs keep that level within a decibel.
        const auto decibels = [](double rms) { return 20 * std::log10(std::max(rms, 1e-9) / 0.354); };
        const double micLevel = decibels(stat.rmsAmplitude);
        EXPECT_NEAR(micLevel, 0, 1.0) << log.toStdString();

        // The speaker recording: find where the tone starts, then let sox look at a second of it.
        const auto samples = samples16(heard);
        std::size_t start = 0;
        while (start < samples.size() && std::abs(samples[start]) < 3000)
            ++start;
        ASSERT_LT(start + 8000 * 1.2, samples.size()) << "the speaker tone did not arrive";
        const QString speakerWav = dir.filePath("speaker-heard.wav");
        ASSERT_TRUE(writePcmWav(speakerWav, heard, 8000, 16));
        ASSERT_TRUE(soxStat(speakerWav, double(start) / 8000 + 0.2, 1.0, stat, log)) << log.toStdString();
        EXPECT_NEAR(stat.frequency, 660, 30) << log.toStdString();
        const double speakerLevel = decibels(stat.rmsAmplitude);
        EXPECT_NEAR(speakerLevel, 0, 1.0) << log.toStdString();
        std::cout << "[ measured ] levels through the sound server: microphone " << micLevel << " dB, speaker "
                  << speakerLevel << " dB\n";
        std::cout << "[ measured ] PortAudio latency reported: input " << backend->lastInputLatency() * 1000
                  << " ms, output " << backend->lastOutputLatency() * 1000 << " ms\n";
    }

    QTemporaryDir dir { "/tmp/tobrel-snd-XXXXXX" }; // short: the server's socket path must fit
    bool started = false;
    bool installed = false;
    QHash<QString, QString> environment;
    std::shared_ptr<wave::PortAudioBackend> backend;
    std::shared_ptr<wave::WaveBackend> previous;
};

TEST_F(RealDeviceTest, Pcm8CapturesTheMicrophoneAndPlaysToTheSpeaker)
{
    runDuplex(pcm8Format(), 400, false);
}

TEST_F(RealDeviceTest, GsmCapturesTheMicrophoneAndPlaysToTheSpeaker)
{
    runDuplex(gsmFormat(), 81, true);
}

TEST_F(RealDeviceTest, AMicrophoneThatNeverDeliversCannotHangClose)
{
    // The stalled source is a pipe without a writer: the stream never calls back.
    qputenv("PULSE_SOURCE", "stalled");
    std::vector<int> sizes;
    {
        audio::TACMIn in;
        in.setBufferSize(400);
        in.OnBufferFull = [&](QObject *, const void *, int size) { sizes.push_back(size); };
        in.Open(pcm8Format());
        testsupport::serveEvents(500);
        QElapsedTimer timer;
        timer.start();
        in.Close();
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_FALSE(in.Active());
    }
    qunsetenv("PULSE_SOURCE");
    EXPECT_TRUE(sizes.empty());
}

} // namespace
