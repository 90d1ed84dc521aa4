#pragma once

#include "framework/component.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace framework {

class NoticeSink;

// The framework's timer component. It runs exactly while Enabled, a non-zero Interval and an
// assigned OnTimer hold together; each change re-arms it from zero. Setting Enabled or Interval to
// its current value does nothing (a running period is not restarted); setting OnTimer always
// re-arms. Ticks arrive on the creating thread; an exception from OnTimer goes to the
// application's error reporting and later ticks go on.
class TTimer : public TComponent
{
    Q_OBJECT

public:
    explicit TTimer(QObject *owner = nullptr);
    ~TTimer() override;

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Milliseconds; 0 stops the timer.
    uint32_t Interval() const { return m_interval; }
    void setInterval(uint32_t milliseconds);
    const std::function<void(QObject *sender)> &OnTimer() const { return m_onTimer; }
    void setOnTimer(std::function<void(QObject *sender)> handler);

    bool isArmed() const;

protected:
    // For timer components of their own window class and failure text.
    TTimer(QObject *owner, const QString &windowClass, QString noTimerText);

    // Fired on every tick: runs OnTimer with this timer as sender.
    virtual void Timer();
    // Re-arms from the current settings; raises Exception(noTimerText) when the system refuses.
    void UpdateTimer();
    // Stops the timer for good, for destructors.
    void stop();

private:
    std::unique_ptr<NoticeSink> m_window;
    QString m_noTimerText;
    bool m_enabled = true;
    uint32_t m_interval = 1000;
    std::function<void(QObject *)> m_onTimer;
};

} // namespace framework
