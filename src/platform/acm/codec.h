#pragma once

#include "platform/wave/mmsystem.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace acm {

// Converts between the device side -- 16-bit mono PCM at pcmRate() -- and one wave format, a whole
// block at a time (a PCM block is one sample frame). Not thread-safe: a codec object is used by
// one thread, and codecs with memory between blocks (GSM) keep one state per direction.
class Codec
{
public:
    virtual ~Codec() = default;

    uint32_t pcmRate() const { return m_pcmRate; } // samples per second on the device side
    std::size_t blockBytes() const { return m_blockBytes; } // bytes of one coded block
    std::size_t blockFrames() const { return m_blockFrames; } // device samples of one block

    // Codes blocks * blockFrames() samples into blocks * blockBytes() bytes.
    virtual void encode(const int16_t *pcm, std::size_t blocks, uint8_t *out) = 0;
    // Decodes blocks * blockBytes() bytes into blocks * blockFrames() samples.
    virtual void decode(const uint8_t *in, std::size_t blocks, int16_t *pcm) = 0;

protected:
    Codec(uint32_t pcmRate, std::size_t blockBytes, std::size_t blockFrames)
        : m_pcmRate(pcmRate)
        , m_blockBytes(blockBytes)
        , m_blockFrames(blockFrames)
    { }

private:
    uint32_t m_pcmRate;
    std::size_t m_blockBytes;
    std::size_t m_blockFrames;
};

// A codec driver: one format tag, the formats it offers for choice, and its codecs.
class Driver
{
public:
    virtual ~Driver() = default;
    virtual uint16_t formatTag() const = 0;
    virtual QString tagName() const = 0;
    // The formats offered in the format-choice dialog, in display order.
    virtual std::vector<wave::TACMWaveFormat> formats() const = 0;
    // WAVERR_BADFORMAT when this driver cannot code the format.
    virtual wave::MMRESULT open(const wave::TACMWaveFormat &format, std::unique_ptr<Codec> &codec) const = 0;
    // Whether a block's decoding depends on the blocks before it (a predictor's history): such a
    // stream must reach its decoder whole, or the decoder drifts from the encoder.
    virtual bool hasMemory() const = 0;
};

// The installed drivers, in display order: PCM, then GSM 6.10. The two Lernout & Hauspie tags
// have no driver on this platform.
const std::vector<const Driver *> &installedDrivers();
const Driver *findDriver(uint16_t formatTag);

// The mapper's choice of codec for a format: WAVERR_BADFORMAT when no installed driver codes it.
wave::MMRESULT openCodec(const wave::TACMWaveFormat &format, std::unique_ptr<Codec> &codec);

// Whether blocks of format must all be decoded in order; true for a tag without a driver, whose
// coding is unknown.
bool hasMemoryBetweenBlocks(const wave::TACMWaveFormat &format);

// "8.000 kHz, 16 Bit, Mono" style description of a format's attributes.
QString formatAttributes(const wave::TACMWaveFormat &format);

} // namespace acm
