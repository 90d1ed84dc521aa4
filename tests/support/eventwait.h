#pragma once

#include <functional>

namespace testsupport {

// Serves the event loop until condition holds or timeoutMs pass; returns the condition's value.
// Tests use generous time-outs: they bound a hang, they do not measure speed.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);

// Serves the event loop for the given time (to let stray notices arrive).
void serveEvents(int milliseconds);

} // namespace testsupport
