#include "framework/noticesink.h"
#include "platform/wave/filebackend.h"
#include "platform/wave/waveapi.h"
#include "support/eventwait.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace wave;

namespace {

TACMWaveFormat pcm16(uint32_t rate)
{
    return makeWaveFormat(WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16);
}

// Writes a 16-bit mono WAV of the given samples.
void writeWav(const QString &path, uint32_t rate, const std::vector<int16_t> &samples)
{
    WavWriter writer;
    ASSERT_TRUE(writer.open(path, rate, false));
    writer.append(samples.data(), samples.size());
}

class FileBackendTest : public ::testing::Test
{
protected:
    void TearDown() override { setBackend(previous); }
    void install(const QString &in, const QString &out)
    {
        backend = std::make_shared<FileBackend>(in, out);
        previous = setBackend(backend);
    }

    QTemporaryDir dir;
    std::shared_ptr<FileBackend> backend;
    std::shared_ptr<WaveBackend> previous;
    std::vector<WAVEHDR *> done;
    framework::NoticeSink sink { "FileBackendTest", nullptr, [this](const framework::Notice &notice) {
                                    if (notice.message == MM_WIM_DATA || notice.message == MM_WOM_DONE)
                                        done.push_back(reinterpret_cast<WAVEHDR *>(notice.lParam));
                                } };
};

TEST_F(FileBackendTest, TheInputFilePlaysTheMicrophoneAtTheDeviceRate)
{
    std::vector<int16_t> source(4000);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = int16_t(i * 8);
    const QString path = dir.filePath("in.wav");
    writeWav(path, 4000, source);
    install(path, QString());
    // Read at 8000 Hz: every other sample is interpolated halfway.
    const TACMWaveFormat format = pcm16(8000);
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &format, &sink, 0, CALLBACK_WINDOW), 0u);
    std::vector<int16_t> data(400);
    WAVEHDR header;
    header.lpData = reinterpret_cast<char *>(data.data());
    header.dwBufferLength = 800;
    ASSERT_EQ(waveInPrepareHeader(in, &header, sizeof header), 0u);
    ASSERT_EQ(waveInAddBuffer(in, &header, sizeof header), 0u);
    ASSERT_EQ(waveInStart(in), 0u);
    ASSERT_TRUE(testsupport::waitUntil([&] { return done.size() == 1; }));
    ASSERT_EQ(header.dwBytesRecorded, 800u);
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(data[i], int16_t(i * 4)) << i;
    // The same device cannot be opened twice at once.
    HWAVEIN second = nullptr;
    EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, &sink, 0, CALLBACK_WINDOW), MMSYSERR_ALLOCATED);
    ASSERT_EQ(waveInReset(in), 0u);
    ASSERT_EQ(waveInClose(in), 0u);
}

TEST_F(FileBackendTest, WhatIsPlayedIsWrittenToTheOutputFileInRealTime)
{
    const QString path = dir.filePath("out.wav");
    install(QString(), path);
    const TACMWaveFormat format = pcm16(8000);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format, &sink, 0, CALLBACK_WINDOW), 0u);
    std::vector<int16_t> tone(800);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(1000 + i);
    WAVEHDR header;
    header.lpData = reinterpret_cast<char *>(tone.data());
    header.dwBufferLength = uint32_t(tone.size() * 2);
    ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), 0u);
    ASSERT_EQ(waveOutWrite(out, &header, sizeof header), 0u);
    // 800 samples at 8 kHz take a tenth of a second to play.
    ASSERT_TRUE(testsupport::waitUntil([&] { return done.size() == 1; }));
    ASSERT_EQ(waveOutClose(out), 0u);
    WavSound written;
    ASSERT_TRUE(readWavFile(path, written));
    EXPECT_EQ(written.rate, 8000u);
    auto start = std::find(written.samples.begin(), written.samples.end(), int16_t(1000));
    ASSERT_NE(start, written.samples.end());
    ASSERT_GE(written.samples.end() - start, 800);
    EXPECT_EQ(std::vector<int16_t>(start, start + 800), tone);
}

TEST_F(FileBackendTest, MissingOrDamagedInputMeansNoDevice)
{
    install(dir.filePath("missing.wav"), QString());
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_FALSE(backend->inputError().isEmpty());
    // A data chunk that claims more than the file holds is read only as far as it goes.
    const QString path = dir.filePath("short.wav");
    writeWav(path, 8000, { 1, 2, 3, 4 });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(40);
    file.write("\xff\xff\xff\x7f", 4);
    file.close();
    WavSound sound;
    ASSERT_TRUE(readWavFile(path, sound));
    EXPECT_EQ(sound.samples, (std::vector<int16_t> { 1, 2, 3, 4 }));
    QFile garbage(dir.filePath("garbage.wav"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("RIFF\x10\0\0\0WAVEfmt \xff\xff\xff\xff", 20);
    garbage.close();
    EXPECT_FALSE(readWavFile(garbage.fileName(), sound));
}

} // namespace
