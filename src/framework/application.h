#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

class QObject;

namespace framework {

// The application's error reporting and user-notification hooks. Every entry from the event loop
// into component code goes through guard(), so an exception never escapes into Qt: it is handed
// to the installed handler (a message box in the GUI program, a line on stderr in headless
// programs, a recorder in tests). All functions are for the GUI thread.
class Application
{
public:
    // sender: the component whose notice, tick or signal raised; may be null.
    using ExceptionHandler = std::function<void(QObject *sender, const QString &message)>;
    using MessageHandler = std::function<void(const QString &text)>;
    using BeepHandler = std::function<void()>;

    // Each setter returns the handler it replaces; an empty handler restores the default.
    static ExceptionHandler setExceptionHandler(ExceptionHandler handler);
    static MessageHandler setShowMessageHandler(MessageHandler handler);
    static BeepHandler setBeepHandler(BeepHandler handler);

    static void handleException(QObject *sender, const std::exception_ptr &error) noexcept;

    // Serves pending events once, as the framework's ProcessMessages did.
    static void processMessages();
    // Serves events, sleeping until at least one arrives. For waits whose end is decided by an
    // event handler (a notice, a timer, a user action).
    static void waitForMessages();
};

// Runs body; an exception that escapes it goes to the application's error reporting.
template<typename Body> void guard(QObject *sender, Body &&body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (...) {
        Application::handleException(sender, std::current_exception());
    }
}

// A modal message to the user (a message box in the GUI program).
void ShowMessage(const QString &text);
// The system's default beep.
void Beep();

} // namespace framework
