#pragma once

#include <semaphore.h>

#include <atomic>

namespace wave {

// Wakes a device worker from an audio callback. post() takes no lock and never blocks (a POSIX
// semaphore: sem_post is async-signal-safe), so a callback at any priority may call it; posts
// made while the worker is awake fold into one wake-up. One waiting thread.
class WakeSignal
{
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal &) = delete;
    WakeSignal &operator=(const WakeSignal &) = delete;

    void post() noexcept;
    // Sleeps until a post made since the last wait returned (at once if there was one). What a
    // poster published before its post is visible after the wait.
    void wait() noexcept;

private:
    sem_t m_semaphore;
    std::atomic<bool> m_posted { false };
};

} // namespace wave
