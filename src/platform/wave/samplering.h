#pragma once

#include "platform/wave/wakesignal.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wave {

// A single-producer single-consumer ring of 16-bit samples. write() and read() never block and
// never allocate, so an audio callback may call its side. clear() is only for moments when
// neither side runs (a stopped stream).
class SampleRing
{
public:
    // capacity is rounded up to a power of two.
    explicit SampleRing(std::size_t capacity);

    std::size_t capacity() const { return m_data.size(); }
    std::size_t readable() const noexcept;
    std::size_t writable() const noexcept;
    // Each returns the number of samples moved: less than asked when the ring is full or empty.
    std::size_t write(const int16_t *samples, std::size_t count) noexcept;
    std::size_t read(int16_t *samples, std::size_t count) noexcept;
    void clear() noexcept;

private:
    std::vector<int16_t> m_data;
    std::size_t m_mask;
    std::atomic<uint64_t> m_written { 0 };
    std::atomic<uint64_t> m_read { 0 };
};

// The capture side handed to a backend stream: the device thread pushes what it recorded.
class CaptureFeed
{
public:
    explicit CaptureFeed(std::size_t capacity)
        : m_ring(capacity)
    { }
    // Device thread. Samples that do not fit are dropped and counted. Posts the wake signal once
    // the ring holds the wake threshold.
    void push(const int16_t *samples, std::size_t count) noexcept;
    uint64_t dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }
    SampleRing &ring() { return m_ring; }
    // The samples worth waking the reader for (a codec block); 1 at first.
    void setWakeThreshold(std::size_t samples) noexcept { m_wakeThreshold.store(samples, std::memory_order_relaxed); }
    WakeSignal &wake() { return m_wake; }

private:
    SampleRing m_ring;
    std::atomic<uint64_t> m_dropped { 0 };
    std::atomic<std::size_t> m_wakeThreshold { 1 };
    WakeSignal m_wake;
};

// The playback side handed to a backend stream: the device thread pulls what it plays.
class PlaybackFeed
{
public:
    explicit PlaybackFeed(std::size_t capacity)
        : m_ring(capacity)
    { }
    // Device thread: fills count samples, the queued ones scaled by the volume, silence after
    // them. Returns how many came from the queue.
    std::size_t pull(int16_t *out, std::size_t count) noexcept;
    // Samples really played (silence not counted) since the last resetPlayed().
    uint64_t played() const noexcept { return m_played.load(); }
    void resetPlayed() noexcept { m_played.store(0); }
    // pull() posts the wake signal when it plays sound and played() reaches this (never at first).
    // A reader that sets it must look at played() after, for what was played before.
    void setWakeAt(uint64_t played) noexcept { m_wakeAt.store(played); }
    WakeSignal &wake() { return m_wake; }
    // Times the sound ran out while playing (within a pull, or right at its end).
    uint64_t underruns() const noexcept { return m_underruns.load(std::memory_order_relaxed); }
    // Volume word: left channel in the low 16 bits, right in the high; a mono device plays the left.
    void setVolume(uint32_t word) noexcept { m_volume.store(word, std::memory_order_relaxed); }
    uint32_t volume() const noexcept { return m_volume.load(std::memory_order_relaxed); }
    SampleRing &ring() { return m_ring; }

private:
    SampleRing m_ring;
    std::atomic<uint64_t> m_played { 0 };
    std::atomic<uint64_t> m_underruns { 0 };
    std::atomic<bool> m_sounding { false }; // the last pull was all sound (device thread only)
    std::atomic<uint32_t> m_volume { 0xFFFFFFFFu };
    std::atomic<uint64_t> m_wakeAt { UINT64_MAX };
    WakeSignal m_wake;
};

} // namespace wave
