#include "platform/acm/pcmdriver.h"

namespace acm {

namespace {

class PcmCodec : public Codec
{
public:
    PcmCodec(uint32_t rate, uint16_t channels, uint16_t bits)
        : Codec(rate, std::size_t(channels) * bits / 8, 1)
        , m_channels(channels)
        , m_eightBit(bits == 8)
    { }

    void encode(const int16_t *pcm, std::size_t blocks, uint8_t *out) override
    {
        for (std::size_t i = 0; i < blocks; ++i) {
            const int16_t sample = pcm[i];
            for (uint16_t c = 0; c < m_channels; ++c) {
                if (m_eightBit) {
                    *out++ = uint8_t((sample >> 8) + 128);
                } else {
                    *out++ = uint8_t(uint16_t(sample) & 0xFF);
                    *out++ = uint8_t(uint16_t(sample) >> 8);
                }
            }
        }
    }

    void decode(const uint8_t *in, std::size_t blocks, int16_t *pcm) override
    {
        for (std::size_t i = 0; i < blocks; ++i) {
            int sum = 0;
            for (uint16_t c = 0; c < m_channels; ++c) {
                if (m_eightBit) {
                    sum += (int(*in++) - 128) * 256;
                } else {
                    sum += int16_t(uint16_t(in[0] | (in[1] << 8)));
                    in += 2;
                }
            }
            pcm[i] = int16_t(sum / m_channels);
        }
    }

private:
    uint16_t m_channels;
    bool m_eightBit;
};

} // namespace

QString PcmDriver::tagName() const
{
    return QStringLiteral("PCM");
}

std::vector<wave::TACMWaveFormat> PcmDriver::formats() const
{
    std::vector<wave::TACMWaveFormat> list;
    for (uint32_t rate : { 8000u, 11025u, 22050u, 44100u }) {
        for (uint16_t bits : { uint16_t(8), uint16_t(16) }) {
            for (uint16_t channels : { uint16_t(1), uint16_t(2) }) {
                const uint16_t align = uint16_t(channels * bits / 8);
                list.push_back(wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits));
            }
        }
    }
    return list;
}

wave::MMRESULT PcmDriver::open(const wave::TACMWaveFormat &record, std::unique_ptr<Codec> &codec) const
{
    // The extra-size field of a PCM format means nothing and is not read.
    const wave::WAVEFORMATEX f = record.format;
    if (f.wFormatTag != wave::WAVE_FORMAT_PCM || (f.nChannels != 1 && f.nChannels != 2)
        || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nSamplesPerSec < kMinRate
        || f.nSamplesPerSec > kMaxRate || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8
        || f.nAvgBytesPerSec != f.nSamplesPerSec * f.nBlockAlign)
        return wave::WAVERR_BADFORMAT;
    codec = std::make_unique<PcmCodec>(f.nSamplesPerSec, f.nChannels, f.wBitsPerSample);
    return wave::MMSYSERR_NOERROR;
}

} // namespace acm
