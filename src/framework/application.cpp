#include "framework/application.h"

#include "framework/exception.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <cstdio>

namespace framework {

namespace {

void reportOnStderr(QObject *sender, const QString &message)
{
    const QString name = sender ? sender->objectName() : QString();
    const QByteArray line = (name.isEmpty() ? message : name + QStringLiteral(": ") + message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
}

void showOnStderr(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

Application::ExceptionHandler &exceptionHandler()
{
    static Application::ExceptionHandler handler = reportOnStderr;
    return handler;
}

Application::MessageHandler &messageHandler()
{
    static Application::MessageHandler handler = showOnStderr;
    return handler;
}

// A headless program makes no sound.
Application::BeepHandler &beepHandler()
{
    static Application::BeepHandler handler = [] {};
    return handler;
}

template<typename Handler> Handler replace(Handler &slot, Handler handler, Handler fallback)
{
    Handler previous = std::move(slot);
    slot = handler ? std::move(handler) : std::move(fallback);
    return previous;
}

} // namespace

Application::ExceptionHandler Application::setExceptionHandler(ExceptionHandler handler)
{
    return replace(exceptionHandler(), std::move(handler), ExceptionHandler(reportOnStderr));
}

Application::MessageHandler Application::setShowMessageHandler(MessageHandler handler)
{
    return replace(messageHandler(), std::move(handler), MessageHandler(showOnStderr));
}

Application::BeepHandler Application::setBeepHandler(BeepHandler handler)
{
    return replace(beepHandler(), std::move(handler), BeepHandler([] {}));
}

void Application::handleException(QObject *sender, const std::exception_ptr &error) noexcept
{
    const QString message = exceptionMessage(error);
    try {
        exceptionHandler()(sender, message);
    } catch (...) {
        // A failing error reporter must not take the program down; stderr still gets the text.
        reportOnStderr(sender, message);
    }
}

void Application::processMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Application::waitForMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void ShowMessage(const QString &text)
{
    messageHandler()(text);
}

void Beep()
{
    beepHandler()();
}

} // namespace framework
