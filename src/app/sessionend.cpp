#include "app/sessionend.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

int g_pipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the pipe.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

} // namespace

void onTerminationRequest(QObject *context, std::function<void()> handler)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        char byte;
        while (::read(g_pipe[0], &byte, 1) > 0) { }
        handler();
    });
    for (const int signal : { SIGTERM, SIGHUP, SIGINT })
        std::signal(signal, onSignal);
}

} // namespace app
