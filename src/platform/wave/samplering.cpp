#include "platform/wave/samplering.h"

#include <algorithm>
#include <bit>

namespace wave {

SampleRing::SampleRing(std::size_t capacity)
    : m_data(std::bit_ceil(std::max<std::size_t>(capacity, 2)))
    , m_mask(m_data.size() - 1)
{ }

std::size_t SampleRing::readable() const noexcept
{
    return std::size_t(m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire));
}

std::size_t SampleRing::writable() const noexcept
{
    return m_data.size() - readable();
}

std::size_t SampleRing::write(const int16_t *samples, std::size_t count) noexcept
{
    const uint64_t head = m_written.load(std::memory_order_relaxed);
    const uint64_t tail = m_read.load(std::memory_order_acquire);
    const std::size_t n = std::min(count, m_data.size() - std::size_t(head - tail));
    for (std::size_t i = 0; i < n; ++i)
        m_data[(head + i) & m_mask] = samples[i];
    m_written.store(head + n, std::memory_order_release);
    return n;
}

std::size_t SampleRing::read(int16_t *samples, std::size_t count) noexcept
{
    const uint64_t tail = m_read.load(std::memory_order_relaxed);
    const uint64_t head = m_written.load(std::memory_order_acquire);
    const std::size_t n = std::min(count, std::size_t(head - tail));
    for (std::size_t i = 0; i < n; ++i)
        samples[i] = m_data[(tail + i) & m_mask];
    m_read.store(tail + n, std::memory_order_release);
    return n;
}

void SampleRing::clear() noexcept
{
    m_read.store(m_written.load(std::memory_order_acquire), std::memory_order_release);
}

void CaptureFeed::push(const int16_t *samples, std::size_t count) noexcept
{
    const std::size_t written = m_ring.write(samples, count);
    if (written < count)
        m_dropped.fetch_add(count - written, std::memory_order_relaxed);
    if (m_ring.readable() >= m_wakeThreshold.load(std::memory_order_relaxed))
        m_wake.post();
}

std::size_t PlaybackFeed::pull(int16_t *out, std::size_t count) noexcept
{
    const std::size_t got = m_ring.read(out, count);
    const uint32_t left = m_volume.load(std::memory_order_relaxed) & 0xFFFF;
    if (left != 0xFFFF) {
        // 0xFFFF is unity; the gain is linear in the word, as the device's volume control is.
        const int32_t gain = int32_t(left);
        for (std::size_t i = 0; i < got; ++i)
            out[i] = int16_t((int32_t(out[i]) * gain) / 0xFFFF);
    }
    std::fill(out + got, out + count, int16_t(0));
    // The queue ran dry inside this buffer, or at the end of the last one: sound was playing and
    // now silence is.
    const bool sounding = m_sounding.load(std::memory_order_relaxed);
    if (got < count && (got > 0 || sounding))
        m_underruns.fetch_add(1, std::memory_order_relaxed);
    m_sounding.store(got == count, std::memory_order_relaxed);
    // Sequentially consistent with setWakeAt() and played(): either the reader sees this sound
    // played, or this sees its new mark.
    const uint64_t played = m_played.fetch_add(got) + got;
    if (got > 0 && played >= m_wakeAt.load())
        m_wake.post();
    return got;
}

} // namespace wave
