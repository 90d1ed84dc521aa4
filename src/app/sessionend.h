#pragma once

#include <functional>

class QObject;

namespace app {

// Runs handler on the GUI thread when the process is asked to end by SIGTERM (log-out, shut-down),
// SIGHUP (the terminal went away) or SIGINT (Ctrl-C), instead of dying on the spot; the signal
// itself only wakes the event loop. Installed once per process; the handler lives as long as
// context.
void onTerminationRequest(QObject *context, std::function<void()> handler);

} // namespace app
