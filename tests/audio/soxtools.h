#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace audiotest {

// Runs program with arguments (bounded in time); true on exit code 0. output gets stdout+stderr.
bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr, int timeoutMs = 60000);
bool haveTool(const QString &program);

// The bytes of a WAV file's "data" chunk and its format tag; empty when the file is not a WAV.
struct WavChunks
{
    uint16_t tag = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    QByteArray data;
};
WavChunks readWavChunks(const QString &path);

// Writes coded bytes as a WAV file in the layout common decoders read: GSM 6.10 with a 20-byte
// fmt chunk (cbSize 2, 320 samples per block) and a fact chunk; PCM with a 16-byte fmt chunk.
bool writeGsmWav(const QString &path, const QByteArray &blocks, uint32_t rate = 8000);
bool writePcmWav(const QString &path, const QByteArray &bytes, uint32_t rate, uint16_t bits);

// sox's own GSM 6.10 coding of a PCM WAV file: the path of the GSM WAV file it wrote beside it.
QString soxGsm(const QString &pcmWav);
// sox's decoding of any WAV file it reads, as 16-bit samples (empty when sox fails).
std::vector<int16_t> soxSamples(const QString &wav);

// 16-bit samples of a PCM-16 WAV data chunk.
std::vector<int16_t> samples16(const QByteArray &data);
// Signal-to-noise ratio of test against reference in dB, over the common length.
double snrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &test);
// Root mean square of samples[from, to).
double rms(const std::vector<int16_t> &samples, std::size_t from, std::size_t to);

} // namespace audiotest
