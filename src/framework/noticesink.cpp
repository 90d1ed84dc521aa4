#include "framework/noticesink.h"

#include "framework/application.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimerEvent>

#include <climits>

namespace framework {

namespace {

const QEvent::Type kNoticeEventType = QEvent::Type(QEvent::registerEventType());

class NoticeEvent : public QEvent
{
public:
    explicit NoticeEvent(const Notice &notice)
        : QEvent(kNoticeEventType)
        , notice(notice)
    { }
    NoticeEvent(const Notice &notice, NoticeToken origin)
        : QEvent(kNoticeEventType)
        , notice(notice)
        , origin(std::move(origin))
        , tied(true)
    { }
    // Whether the notice is still wanted when it comes to be delivered.
    bool current() const { return !tied || !origin.expired(); }

    Notice notice;
    NoticeToken origin;
    bool tied = false;
};

QHash<QString, int> &registrations()
{
    static QHash<QString, int> table;
    return table;
}

QHash<QString, bool> &registered()
{
    static QHash<QString, bool> table;
    return table;
}

} // namespace

bool WindowClassRegistry::ensureRegistered(const QString &name)
{
    if (registered().value(name))
        return false;
    registered().insert(name, true);
    ++registrations()[name];
    return true;
}

bool WindowClassRegistry::isRegistered(const QString &name)
{
    return registered().value(name);
}

int WindowClassRegistry::registrationCount(const QString &name)
{
    return registrations().value(name);
}

void WindowClassRegistry::unregister(const QString &name)
{
    registered().remove(name);
}

NoticeSink::NoticeSink(const QString &windowClass, QObject *boundComponent, Handler handler)
    : m_windowClass(windowClass)
    , m_component(boundComponent)
    , m_handler(std::move(handler))
{
    WindowClassRegistry::ensureRegistered(windowClass);
}

NoticeSink::~NoticeSink() = default;

void NoticeSink::post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    QCoreApplication::postEvent(this, new NoticeEvent(Notice { message, wParam, lParam }));
}

void NoticeSink::post(uint32_t message, uintptr_t wParam, intptr_t lParam, NoticeToken origin)
{
    QCoreApplication::postEvent(this, new NoticeEvent(Notice { message, wParam, lParam }, std::move(origin)));
}

void NoticeSink::send(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    deliver(Notice { message, wParam, lParam });
}

bool NoticeSink::setTimer(uintptr_t id, uint32_t milliseconds)
{
    killTimer(id);
    if (milliseconds > uint32_t(INT_MAX))
        return false;
    const int qtId = startTimer(int(milliseconds), Qt::PreciseTimer);
    if (qtId == 0)
        return false;
    m_timers.insert(id, qtId);
    return true;
}

void NoticeSink::killTimer(uintptr_t id)
{
    const auto found = m_timers.find(id);
    if (found == m_timers.end())
        return;
    QObject::killTimer(found.value());
    m_timers.erase(found);
}

bool NoticeSink::event(QEvent *event)
{
    if (event->type() == kNoticeEventType) {
        const auto *notice = static_cast<NoticeEvent *>(event);
        if (notice->current())
            deliver(notice->notice);
        return true;
    }
    return QObject::event(event);
}

void NoticeSink::timerEvent(QTimerEvent *event)
{
    for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it) {
        if (it.value() == event->timerId()) {
            deliver(Notice { WM_TIMER, it.key(), 0 });
            return;
        }
    }
}

void NoticeSink::deliver(const Notice &notice)
{
    if (m_handler)
        guard(m_component, [&] { m_handler(notice); });
}

} // namespace framework
