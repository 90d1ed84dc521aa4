#include "platform/wave/wakesignal.h"

#include <cerrno>

namespace wave {

WakeSignal::WakeSignal()
{
    sem_init(&m_semaphore, 0, 0);
}

WakeSignal::~WakeSignal()
{
    sem_destroy(&m_semaphore);
}

void WakeSignal::post() noexcept
{
    if (!m_posted.exchange(true, std::memory_order_acq_rel))
        sem_post(&m_semaphore);
}

void WakeSignal::wait() noexcept
{
    while (sem_wait(&m_semaphore) != 0 && errno == EINTR) { }
    // Cleared before the worker looks at its work, so that a later post wakes it again.
    m_posted.exchange(false, std::memory_order_acq_rel);
}

} // namespace wave
