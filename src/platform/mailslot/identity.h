#pragma once

#include <QString>

namespace platform::mailslot {

// The names that travel with every message. Any thread.

// This machine's short host name (empty when the system has none).
QString computerName();

// The login name of the user running the program: the account of the effective user id, else
// $USER, else empty.
QString userName();

} // namespace platform::mailslot
