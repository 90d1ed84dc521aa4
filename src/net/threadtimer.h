#pragma once

#include "framework/timer.h"

namespace net {

// The socket component's time-out timer: a window timer of its own window class
// ("TmrWindowClass"). Despite the name it starts no thread; ticks arrive as notices on the thread
// that created it. Armed exactly while Enabled, a non-zero Interval (milliseconds) and an assigned
// OnTimer hold; a timer the system refuses raises Exception "No Timer".
class TThreadTimer : public framework::TTimer
{
    Q_OBJECT

public:
    static constexpr const char *kWindowClass = "TmrWindowClass";

    explicit TThreadTimer(QObject *owner = nullptr);
    ~TThreadTimer() override;

protected:
    // Fired on every tick: runs OnTimer with this timer as sender.
    virtual void Tick();

private:
    void Timer() final;
};

} // namespace net
