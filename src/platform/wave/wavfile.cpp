#include "platform/wave/wavfile.h"

#include <QFile>

#include <cstring>

namespace wave {

namespace {

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

bool readWavFile(const QString &path, WavSound &sound, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open %1").arg(path));
    const QByteArray bytes = file.readAll();
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
        return fail(error, QStringLiteral("not a WAV file"));
    uint16_t channels = 0, bits = 0, tag = 0;
    uint32_t rate = 0;
    const uint8_t *pcm = nullptr;
    std::size_t pcmBytes = 0;
    for (std::size_t at = 12; at + 8 <= size;) {
        const uint32_t chunkSize = le32(data + at + 4);
        const std::size_t body = at + 8;
        const std::size_t available = std::min<std::size_t>(chunkSize, size - body);
        if (std::memcmp(data + at, "fmt ", 4) == 0 && available >= 16) {
            tag = le16(data + body);
            channels = le16(data + body + 2);
            rate = le32(data + body + 4);
            bits = le16(data + body + 14);
        } else if (std::memcmp(data + at, "data", 4) == 0) {
            pcm = data + body;
            pcmBytes = available; // a header that claims more than the file holds is cut short
        }
        at = body + available + (available & 1);
    }
    if (tag != 1 || channels == 0 || (bits != 8 && bits != 16) || rate == 0 || !pcm)
        return fail(error, QStringLiteral("not 8- or 16-bit PCM"));
    const std::size_t frameBytes = std::size_t(channels) * bits / 8;
    const std::size_t frames = pcmBytes / frameBytes;
    sound.rate = rate;
    sound.samples.resize(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const uint8_t *frame = pcm + f * frameBytes;
        int sum = 0;
        for (uint16_t c = 0; c < channels; ++c)
            sum += bits == 8 ? (int(frame[c]) - 128) * 256 : int(int16_t(le16(frame + 2 * c)));
        sound.samples[f] = int16_t(sum / channels);
    }
    return true;
}

LinearResampler::LinearResampler(uint32_t fromRate, uint32_t toRate)
    : m_step(double(fromRate) / double(toRate))
    , m_same(fromRate == toRate)
{ }

void LinearResampler::process(const int16_t *in, std::size_t count, std::vector<int16_t> &out)
{
    if (m_same) {
        out.insert(out.end(), in, in + count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int16_t next = in[i];
        while (m_time < 1.0) {
            out.push_back(int16_t(m_previous + (next - m_previous) * m_time));
            m_time += m_step;
        }
        m_time -= 1.0;
        m_previous = next;
    }
}

bool WavWriter::open(const QString &path, uint32_t rate, bool append)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    std::FILE *file = std::fopen(name.constData(), append ? "r+b" : "w+b");
    if (!file)
        return false;
    m_fileOwner.reset(file);
    m_file = file;
    if (append) {
        uint8_t header[44];
        if (std::fread(header, 1, sizeof header, file) == sizeof header) {
            m_rate = le32(header + 24);
            m_samples = le32(header + 40) / 2;
            std::fseek(file, 0, SEEK_END);
            return true;
        }
        std::fseek(file, 0, SEEK_SET);
    }
    m_rate = rate;
    m_samples = 0;
    writeHeader();
    return true;
}

void WavWriter::append(const int16_t *samples, std::size_t count)
{
    if (!m_file || count == 0)
        return;
    std::vector<uint8_t> bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i)
        put16(&bytes[2 * i], uint16_t(samples[i]));
    std::fseek(m_file, long(44 + m_samples * 2), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), m_file);
    m_samples += count;
    writeHeader();
}

void WavWriter::close()
{
    m_fileOwner.reset();
    m_file = nullptr;
}

void WavWriter::writeHeader()
{
    const uint32_t dataBytes = uint32_t(m_samples * 2);
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 1);
    put16(header + 22, 1);
    put32(header + 24, m_rate);
    put32(header + 28, m_rate * 2);
    put16(header + 32, 2);
    put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, dataBytes);
    std::fseek(m_file, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, m_file);
    std::fflush(m_file);
}

} // namespace wave
