#include "call/adaptiveplayout.h"

#include <algorithm>
#include <cmath>

namespace call {

void AdaptivePlayout::reset()
{
    m_window.clear();
    m_since = 0;
    m_calmUntil = 0;
    m_started = false;
    // Counts are per call too: the calm after a dry spell grows with them.
    m_discards = 0;
    m_reprimes = 0;
}

double AdaptivePlayout::jitterMs() const
{
    if (m_window.empty())
        return 0;
    const auto [low, high] = std::minmax_element(
        m_window.begin(), m_window.end(), [](const Sample &a, const Sample &b) { return a.queued < b.queued; });
    return high->queued - low->queued;
}

AdaptivePlayout::Decision AdaptivePlayout::arrived(double nowMs, double queuedMs, double bufferMs, bool ranDry)
{
    Decision decision;
    if (!m_started) {
        m_started = true;
        m_since = nowMs;
    } else if (ranDry) {
        // The queue ran dry: one longer silence while a cushion builds up again, rather than a
        // stutter on every late buffer from now on. The cushion covers the jitter measured so far.
        const double wanted = targetMs();
        decision.holdBack = std::max(1, int(std::ceil(wanted / std::max(bufferMs, 1.0))));
        ++m_reprimes;
        m_window.clear();
        m_since = nowMs;
        m_calmUntil = nowMs + kCalmAfterDryMs * double(std::min<uint64_t>(m_reprimes, 6));
        return decision;
    }
    m_window.push_back(Sample { nowMs, queuedMs });
    while (m_window.front().at < nowMs - kWindowMs)
        m_window.pop_front();
    // Dropping this buffer lowers every later level by its length: allowed only when, after it,
    // even the lowest level of a long enough past keeps the safety margin, i.e. while the queue
    // stands a whole buffer above its target.
    const double lowest = std::min_element(m_window.begin(), m_window.end(), [](const Sample &a, const Sample &b) {
        return a.queued < b.queued;
    })->queued;
    if (nowMs - m_since >= kWindowMs / 2 && nowMs >= m_calmUntil && lowest - bufferMs >= kSafetyMs) {
        decision.discard = true;
        ++m_discards;
        for (Sample &sample : m_window)
            sample.queued -= bufferMs;
    }
    return decision;
}

} // namespace call
