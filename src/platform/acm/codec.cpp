#include "platform/acm/codec.h"

#include "platform/acm/gsmdriver.h"
#include "platform/acm/pcmdriver.h"

namespace acm {

const std::vector<const Driver *> &installedDrivers()
{
    static const PcmDriver pcm;
    static const GsmDriver gsm;
    static const std::vector<const Driver *> list { &pcm, &gsm };
    return list;
}

const Driver *findDriver(uint16_t formatTag)
{
    for (const Driver *driver : installedDrivers()) {
        if (driver->formatTag() == formatTag)
            return driver;
    }
    return nullptr;
}

wave::MMRESULT openCodec(const wave::TACMWaveFormat &format, std::unique_ptr<Codec> &codec)
{
    const Driver *driver = findDriver(format.format.wFormatTag);
    if (!driver)
        return wave::WAVERR_BADFORMAT;
    return driver->open(format, codec);
}

bool hasMemoryBetweenBlocks(const wave::TACMWaveFormat &format)
{
    const Driver *driver = findDriver(format.format.wFormatTag);
    return !driver || driver->hasMemory();
}

QString formatAttributes(const wave::TACMWaveFormat &record)
{
    const wave::WAVEFORMATEX f = record.format;
    QString channels = f.nChannels == 1 ? QStringLiteral("Mono")
        : f.nChannels == 2              ? QStringLiteral("Stereo")
                                        : QStringLiteral("%1 channels").arg(f.nChannels);
    QString text = QStringLiteral("%1 kHz").arg(f.nSamplesPerSec / 1000.0, 0, 'f', 3);
    if (f.wBitsPerSample != 0)
        text += QStringLiteral(", %1 Bit").arg(f.wBitsPerSample);
    text += QStringLiteral(", %1").arg(channels);
    text += QStringLiteral(", %1 bytes/s").arg(f.nAvgBytesPerSec);
    return text;
}

} // namespace acm
