#include "support/recorders.h"

namespace testsupport {

ExceptionRecorder::ExceptionRecorder()
{
    m_previous = framework::Application::setExceptionHandler([this](QObject *sender, const QString &message) {
        m_entries.push_back(Entry { sender, sender, message });
    });
}

ExceptionRecorder::~ExceptionRecorder()
{
    framework::Application::setExceptionHandler(std::move(m_previous));
}

QStringList ExceptionRecorder::messages() const
{
    QStringList list;
    for (const Entry &entry : m_entries)
        list << entry.message;
    return list;
}

MessageRecorder::MessageRecorder()
{
    m_previousMessage
        = framework::Application::setShowMessageHandler([this](const QString &text) { messages << text; });
    m_previousBeep = framework::Application::setBeepHandler([this] { ++beeps; });
}

MessageRecorder::~MessageRecorder()
{
    framework::Application::setShowMessageHandler(std::move(m_previousMessage));
    framework::Application::setBeepHandler(std::move(m_previousBeep));
}

} // namespace testsupport
