#include "call/codectable.h"

namespace call {

std::optional<wave::TACMWaveFormat> codecFormat(uint8_t ordinal)
{
    switch (Tverbinding(ordinal)) {
    case Tverbinding::LERNOUT4:
        return wave::makeWaveFormat(wave::WAVE_FORMAT_LH_CODEC_4800, 1, 8000, 600, 12, 16);
    case Tverbinding::PCM8:
        return wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8);
    case Tverbinding::GSM610: {
        wave::TACMWaveFormat format = wave::makeWaveFormat(wave::WAVE_FORMAT_GSM610, 1, 8000, 1625, 65, 0, 2);
        const uint16_t samplesPerBlock = 320;
        format.extra[0] = uint8_t(samplesPerBlock & 0xFF);
        format.extra[1] = uint8_t(samplesPerBlock >> 8);
        return format;
    }
    case Tverbinding::PCM22:
        return wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8);
    case Tverbinding::PCM11:
        return wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8);
    case Tverbinding::LERNOUT8:
        return wave::makeWaveFormat(wave::WAVE_FORMAT_LH_CODEC_9600, 1, 8000, 1850, 37, 16);
    }
    return std::nullopt;
}

uint32_t captureBufferSize(const wave::WAVEFORMATEX &format)
{
    uint32_t size = format.nAvgBytesPerSec / kBuffersPerSecond;
    if (size <= format.nBlockAlign)
        size = 2u * format.nBlockAlign;
    if (size > kMaxCaptureBuffer)
        size = kMaxCaptureBuffer;
    if (size == kSignalSize)
        size = kSignalSizeReplacement;
    return size;
}

} // namespace call
