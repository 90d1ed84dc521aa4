#pragma once

#include "platform/acm/codec.h"

namespace acm {

// GSM 6.10 in the wave layout (tag 49): 65-byte blocks of 320 samples, two 160-sample frames
// packed as libgsm's WAV49 option does. Mono only, any rate from kMinRate to kMaxRate (the coding
// does not depend on the rate; 8000 Hz is the standard one).
class GsmDriver : public Driver
{
public:
    static constexpr uint16_t kBlockBytes = 65;
    static constexpr uint16_t kSamplesPerBlock = 320;
    static constexpr uint32_t kMinRate = 1000;
    static constexpr uint32_t kMaxRate = 96000;

    // The standard record: rate samples/s, rate * 65 / 320 bytes/s, block 65, 0 bits, cbSize 2
    // and the samples per block (320) as the two extra bytes.
    static wave::TACMWaveFormat standardFormat(uint32_t rate = 8000);

    uint16_t formatTag() const override { return wave::WAVE_FORMAT_GSM610; }
    QString tagName() const override;
    std::vector<wave::TACMWaveFormat> formats() const override;
    wave::MMRESULT open(const wave::TACMWaveFormat &format, std::unique_ptr<Codec> &codec) const override;
    // The long-term predictor works on the decoder's own past output: a decoder that misses a
    // block (the first above all) of a steady sound may stay far too quiet for good.
    bool hasMemory() const override { return true; }
};

} // namespace acm
