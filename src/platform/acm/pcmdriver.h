#pragma once

#include "platform/acm/codec.h"

namespace acm {

// PCM: 8-bit unsigned and 16-bit signed, mono or stereo, any rate from kMinRate to kMaxRate.
// Stereo is coded from the mono device signal by duplication and decoded by averaging.
class PcmDriver : public Driver
{
public:
    static constexpr uint32_t kMinRate = 1000;
    static constexpr uint32_t kMaxRate = 192000;

    uint16_t formatTag() const override { return wave::WAVE_FORMAT_PCM; }
    QString tagName() const override;
    std::vector<wave::TACMWaveFormat> formats() const override;
    wave::MMRESULT open(const wave::TACMWaveFormat &format, std::unique_ptr<Codec> &codec) const override;
    bool hasMemory() const override { return false; }
};

} // namespace acm
