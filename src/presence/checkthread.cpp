#include "presence/checkthread.h"

#include "presence/mailslot.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <climits>

namespace presence {

namespace {

// The step of the whole-second schedule used from a CheckInterval of 1000 on.
constexpr int kSecondStepMs = 1000;
// Bound of one wait of the GUI thread in waitServingHandOvers(); it re-checks afterwards.
constexpr auto kStopCheck = std::chrono::milliseconds(50);

} // namespace

TCheckThread::TCheckThread(TMailSlot &owner)
    : m_owner(owner)
    , m_state(std::make_shared<HandOverState>())
{
    setObjectName(QStringLiteral("TCheckThread"));
}

TCheckThread::~TCheckThread()
{
    if (isRunning()) {
        Terminate();
        waitServingHandOvers();
    }
    wait();
}

void TCheckThread::Terminate()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->terminated = true;
    }
    m_state->changed.notify_all();
}

bool TCheckThread::terminated() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->terminated;
}

bool TCheckThread::pause(int milliseconds)
{
    std::unique_lock lock(m_state->mutex);
    return !m_state->changed.wait_for(
        lock, std::chrono::milliseconds(milliseconds), [this] { return m_state->terminated; });
}

void TCheckThread::run()
{
    if (m_owner.CheckInterval() >= kSecondStepMs) {
        // Whole seconds: the box is drained at once, then whenever CheckInterval has passed,
        // rounded up to the next second.
        int64_t elapsed = INT_MAX;
        while (!terminated()) {
            if (m_owner.CheckInterval() <= elapsed) {
                drain();
                elapsed = 0;
            }
            if (!pause(kSecondStepMs))
                break;
            elapsed += kSecondStepMs;
        }
    } else {
        while (!terminated()) {
            drain();
            // A zero interval still sleeps a millisecond, so that polling never spins a core.
            if (!pause(std::max(1, m_owner.CheckInterval())))
                break;
        }
    }
    // Notified under the lock: once the GUI thread sees the end, this thread no longer touches
    // the state, which may then go.
    const std::lock_guard lock(m_state->mutex);
    m_state->finished = true;
    m_state->changed.notify_all();
}

void TCheckThread::drain()
{
    ++m_drains;
    m_owner.queryMailSlot();
    // A flood of messages must not keep a stop waiting: the end is checked after every message.
    while (m_owner.m_messageCount > 0 && !terminated()) {
        handOver();
        m_owner.queryMailSlot();
    }
}

void TCheckThread::handOver()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->pending = true;
    }
    // Queued to the component's thread; dropped if the component is gone (its destructor has then
    // served or released this request already).
    QMetaObject::invokeMethod(
        &m_owner, [owner = &m_owner, state = m_state] { owner->serveHandOver(state); }, Qt::QueuedConnection);
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [this] { return !m_state->pending; });
}

void TCheckThread::waitServingHandOvers()
{
    const std::shared_ptr<HandOverState> state = m_state;
    std::unique_lock lock(state->mutex);
    while (!state->finished) {
        if (state->pending && state->serving) {
            // The stop comes from the handler of the message being served: release the poller,
            // the message has been read already.
            state->pending = false;
            state->changed.notify_all();
        } else if (state->pending) {
            lock.unlock();
            m_owner.serveHandOver(state);
            lock.lock();
            continue;
        }
        state->changed.wait_for(lock, kStopCheck);
    }
}

} // namespace presence
