#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace framework {

// Window message numbers used by the notice sinks.
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_USER = 0x0400;

// A sender's hold on the notices it posts: once the token it was posted with has expired, a
// notice is dropped instead of delivered, so a notice about something that is gone never reaches
// whatever took its place (a socket reopened under the same descriptor number, for one).
using NoticeToken = std::weak_ptr<const void>;

// One posted notice: the message number and its two parameters.
struct Notice
{
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// Packs two 16-bit halves into a notice parameter, low half first.
constexpr intptr_t makeLParam(uint16_t low, uint16_t high)
{
    return intptr_t(uint32_t(low) | (uint32_t(high) << 16));
}
constexpr uint16_t lowWord(intptr_t value)
{
    return uint16_t(uint32_t(value) & 0xFFFF);
}
constexpr uint16_t highWord(intptr_t value)
{
    return uint16_t((uint32_t(value) >> 16) & 0xFFFF);
}

// Window classes registered by the program, each once. Notice sinks name their class, so that a
// component family's sinks share one registration.
class WindowClassRegistry
{
public:
    // Registers name unless it already is; returns true when this call registered it.
    static bool ensureRegistered(const QString &name);
    static bool isRegistered(const QString &name);
    // How many times name was registered (0 or 1 unless unregistered in between).
    static int registrationCount(const QString &name);
    static void unregister(const QString &name);
};

// The stand-in for a hidden message window: receives posted notices on the thread that created
// it and hands each to its handler, inside the application's error guard (with the bound
// component as sender). Window timers tick as WM_TIMER notices with the timer id as wParam.
// Owned by its component (QObject parent); notices still queued when it is destroyed are dropped.
class NoticeSink : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const Notice &)>;

    NoticeSink(const QString &windowClass, QObject *boundComponent, Handler handler);
    ~NoticeSink() override;

    const QString &windowClass() const { return m_windowClass; }
    QObject *boundComponent() const { return m_component; }

    // Thread-safe: may be called from any thread while the sink is alive.
    void post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // The same, for a notice that is dropped when origin has expired by the time it is delivered.
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam, NoticeToken origin);
    // Sends synchronously on the sink's own thread.
    void send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // Starts (or restarts from zero) window timer id with the given period; false when the
    // system refuses (a period that does not fit the timer's range).
    bool setTimer(uintptr_t id, uint32_t milliseconds);
    void killTimer(uintptr_t id);
    bool hasTimer(uintptr_t id) const { return m_timers.contains(id); }

protected:
    bool event(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void deliver(const Notice &notice);

    QString m_windowClass;
    QObject *m_component;
    Handler m_handler;
    QHash<uintptr_t, int> m_timers; // window timer id -> Qt timer id
};

} // namespace framework
