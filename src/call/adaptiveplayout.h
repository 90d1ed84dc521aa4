#pragma once

#include <cstdint>
#include <deque>

namespace call {

// How a call treats its playback queue.
enum class Playout : uint8_t
{
    // The first four buffers held back after each opening; Auto_synchronise thins at random.
    Designed,
    // The queue follows the measured jitter (AdaptivePlayout); no random thinning; a lower
    // device latency.
    Adaptive,
};

// Keeps a call's playback queue as short as the arrival jitter allows. It is told of each voice
// buffer as it arrives, with the sound still queued at the device just then, and answers whether
// to play it, drop it, or hold it back to re-prime the queue. Times and amounts are in
// milliseconds; the caller supplies the clock, so the arithmetic runs the same under a fake one.
class AdaptivePlayout
{
public:
    // Margin kept over the lowest queue seen before an arrival (the device pulls in periods).
    static constexpr double kSafetyMs = 10;
    // The recent past the target is measured over; half of it must be seen before a drop.
    static constexpr double kWindowMs = 2000;

    struct Decision
    {
        bool discard = false; // not heard (still decoded, so that a codec keeps its step)
        // Re-prime: buffers to hold back, this one included, before play resumes; 0 plays on.
        int holdBack = 0;
    };

    // Forgets everything measured (a new call, or the device opened again).
    void reset();
    // A buffer of bufferMs of sound arrived at nowMs while queuedMs were still queued at the
    // device (held-back buffers not counted; do not call while holding back).
    Decision arrived(double nowMs, double queuedMs, double bufferMs);

    // Spread of the queue seen at arrivals over the window: the arrival jitter as the device
    // sees it, its period included.
    double jitterMs() const;
    // The queue an on-time arrival should find: jitter plus the safety margin.
    double targetMs() const { return jitterMs() + kSafetyMs; }
    uint64_t discards() const { return m_discards; }
    uint64_t reprimes() const { return m_reprimes; }

private:
    struct Sample
    {
        double at;
        double queued;
    };

    std::deque<Sample> m_window; // arrivals of the last kWindowMs, levels as if the drops came first
    double m_since = 0; // start of the current measurement (first arrival, or the last re-prime)
    bool m_started = false;
    uint64_t m_discards = 0;
    uint64_t m_reprimes = 0;
};

} // namespace call
