#pragma once

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace presence {

class TMailSlot;

// What the polling thread and the GUI thread share for one run of the thread. It outlives the
// thread object while a queued hand-over or a GUI-side service still refers to it.
struct HandOverState
{
    std::mutex mutex;
    std::condition_variable changed;
    bool pending = false; // the poller waits until the GUI thread has read a message
    bool serving = false; // the GUI thread is reading it (the handler may be running)
    bool terminated = false; // asked to end
    bool finished = false; // the body has returned
};

// Polls a TMailSlot's box: queries it every CheckInterval and hands each waiting message to the
// component's thread, waiting until it has been read there. It never reads message bytes itself.
class TCheckThread : public QThread
{
    Q_OBJECT

public:
    explicit TCheckThread(TMailSlot &owner);
    ~TCheckThread() override;

    // Asks the body to end at its next step; a sleep ends at once. Any thread.
    void Terminate();
    // GUI thread: waits until the body has ended, serving the hand-overs it asks for meanwhile
    // (also one already being served further up this thread's stack, which is released).
    void waitServingHandOvers();

    // How many times the box has been drained so far (for status displays and tests). Any thread.
    int drains() const { return m_drains.load(); }

protected:
    void run() override;

private:
    bool terminated() const;
    // Sleeps for milliseconds; false when asked to end meanwhile.
    bool pause(int milliseconds);
    void drain();
    void handOver();

    TMailSlot &m_owner;
    std::shared_ptr<HandOverState> m_state;
    std::atomic<int> m_drains { 0 };
};

} // namespace presence
