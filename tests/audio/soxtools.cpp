#include "soxtools.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <cstring>

namespace audiotest {

namespace {

void put32(QByteArray &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(v >> (8 * i)));
}

void put16(QByteArray &out, uint16_t v)
{
    out.append(char(v));
    out.append(char(v >> 8));
}

uint32_t le32(const char *p)
{
    const auto *u = reinterpret_cast<const uint8_t *>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

bool runTool(const QString &program, const QStringList &arguments, QString *output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return false;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool haveTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

WavChunks readWavChunks(const QString &path)
{
    WavChunks result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return result;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = le32(bytes.constData() + at + 4);
        const QByteArray id = bytes.mid(at, 4);
        const QByteArray body = bytes.mid(at + 8, qsizetype(size));
        if (id == "fmt " && body.size() >= 16) {
            result.tag = uint16_t(uint8_t(body[0]) | uint8_t(body[1]) << 8);
            result.rate = le32(body.constData() + 4);
            result.bits = uint16_t(uint8_t(body[14]) | uint8_t(body[15]) << 8);
        } else if (id == "data") {
            result.data = body;
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return result;
}

bool writeGsmWav(const QString &path, const QByteArray &blocks, uint32_t rate)
{
    QByteArray fmt;
    put16(fmt, 0x31);
    put16(fmt, 1);
    put32(fmt, rate);
    put32(fmt, rate * 65 / 320);
    put16(fmt, 65);
    put16(fmt, 0);
    put16(fmt, 2);
    put16(fmt, 320);
    QByteArray data = blocks;
    const uint32_t dataSize = uint32_t(data.size());
    if (data.size() & 1)
        data.append('\0');
    QByteArray out("RIFF");
    put32(out, uint32_t(4 + 8 + fmt.size() + 8 + 4 + 8 + data.size()));
    out.append("WAVEfmt ");
    put32(out, uint32_t(fmt.size()));
    out.append(fmt);
    out.append("fact");
    put32(out, 4);
    put32(out, dataSize / 65 * 320);
    out.append("data");
    put32(out, dataSize);
    out.append(data);
    return writeFile(path, out);
}

bool writePcmWav(const QString &path, const QByteArray &bytes, uint32_t rate, uint16_t bits)
{
    QByteArray out("RIFF");
    put32(out, uint32_t(36 + bytes.size()));
    out.append("WAVEfmt ");
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, rate);
    put32(out, rate * bits / 8);
    put16(out, uint16_t(bits / 8));
    put16(out, bits);
    out.append("data");
    put32(out, uint32_t(bytes.size()));
    out.append(bytes);
    return writeFile(path, out);
}

QString soxGsm(const QString &pcmWav)
{
    const QString gsm = pcmWav + QStringLiteral(".gsm.wav");
    return runTool("sox", { "-D", pcmWav, "-e", "gsm-full-rate", gsm }) ? gsm : QString();
}

std::vector<int16_t> soxSamples(const QString &wav)
{
    const QString decoded = wav + QStringLiteral(".pcm.wav");
    if (!runTool("sox", { "-D", wav, "-b", "16", "-e", "signed-integer", decoded }))
        return {};
    return samples16(readWavChunks(decoded).data);
}

std::vector<int16_t> samples16(const QByteArray &data)
{
    std::vector<int16_t> samples(std::size_t(data.size() / 2));
    std::memcpy(samples.data(), data.constData(), samples.size() * 2);
    return samples;
}

double snrDb(const std::vector<int16_t> &reference, const std::vector<int16_t> &test)
{
    const std::size_t n = std::min(reference.size(), test.size());
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        signal += double(reference[i]) * reference[i];
        const double d = double(reference[i]) - test[i];
        noise += d * d;
    }
    return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

double rms(const std::vector<int16_t> &samples, std::size_t from, std::size_t to)
{
    to = std::min(to, samples.size());
    if (from >= to)
        return 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

} // namespace audiotest
