#include "framework/timer.h"

#include "framework/exception.h"
#include "framework/noticesink.h"

namespace framework {

namespace {
constexpr uintptr_t kTimerId = 1;
}

TTimer::TTimer(QObject *owner)
    : TTimer(owner, QStringLiteral("TTimerWindow"), QStringLiteral("Not enough timers available"))
{ }

TTimer::TTimer(QObject *owner, const QString &windowClass, QString noTimerText)
    : TComponent(owner)
    , m_noTimerText(std::move(noTimerText))
{
    m_window = std::make_unique<NoticeSink>(windowClass, this, [this](const Notice &notice) {
        if (notice.message == WM_TIMER)
            Timer();
    });
}

TTimer::~TTimer()
{
    stop();
}

void TTimer::stop()
{
    m_enabled = false;
    if (m_window)
        m_window->killTimer(kTimerId);
}

void TTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    UpdateTimer();
}

void TTimer::setInterval(uint32_t milliseconds)
{
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    UpdateTimer();
}

void TTimer::setOnTimer(std::function<void(QObject *sender)> handler)
{
    m_onTimer = std::move(handler);
    UpdateTimer();
}

bool TTimer::isArmed() const
{
    return m_window->hasTimer(kTimerId);
}

void TTimer::Timer()
{
    if (m_onTimer)
        m_onTimer(this);
}

void TTimer::UpdateTimer()
{
    m_window->killTimer(kTimerId);
    if (m_interval != 0 && m_enabled && m_onTimer) {
        if (!m_window->setTimer(kTimerId, m_interval))
            throw Exception(m_noTimerText);
    }
}

} // namespace framework
