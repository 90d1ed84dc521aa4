#pragma once

#include "platform/acm/gsmdriver.h"
#include "platform/wave/backend.h"
#include "platform/wave/fakebackend.h"
#include "platform/wave/mmsystem.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace audiotest {

inline wave::TACMWaveFormat pcm8Format(uint32_t rate = 8000)
{
    return wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, rate, rate, 1, 8);
}

inline wave::TACMWaveFormat pcm16Format(uint32_t rate = 8000)
{
    return wave::makeWaveFormat(wave::WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16);
}

inline wave::TACMWaveFormat gsmFormat()
{
    return acm::GsmDriver::standardFormat(8000);
}

inline wave::TACMWaveFormat lernoutFormat(uint16_t tag)
{
    return wave::makeWaveFormat(tag, 1, 8000, tag == 0x1101 ? 600 : 1850, tag == 0x1101 ? 12 : 37, 16);
}

// A sample sequence that differs from buffer to buffer: 0, 256, 512, ... wrapping in 16 bits.
inline std::vector<int16_t> ramp(std::size_t count, int start = 0)
{
    std::vector<int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = int16_t(uint16_t((start + int(i)) * 256));
    return samples;
}

// Installs a fresh fake backend for each test and restores the previous one afterwards.
class FakeAudioTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake = std::make_shared<wave::FakeBackend>();
        previous = wave::setBackend(fake);
    }
    void TearDown() override { wave::setBackend(previous); }

    std::shared_ptr<wave::FakeBackend> fake;
    std::shared_ptr<wave::WaveBackend> previous;
};

} // namespace audiotest
