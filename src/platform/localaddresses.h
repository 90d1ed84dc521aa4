#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The IPv4 addresses (dotted text) of this machine's interfaces that are up and not loopback,
// those of the default route's interface first, then in the system's interface order. Falls back
// to resolving the host name only when no such interface exists (on many Linux systems the host
// name resolves to a loopback address, which a peer could not call back).
QStringList localIPv4Addresses();

// The first of localIPv4Addresses(), or an empty text when the machine has none at all.
QString primaryLocalIPv4Address();

// The local address (dotted text) the system sends from to reach remote, a dotted IPv4 address:
// the source address of its route there. Empty when remote is not a dotted address or no route
// leads there.
QString localIPv4AddressToward(const QString &remote);

// The name of the interface that carries the default IPv4 route, from the routing table text of
// /proc/net/route (empty when there is none). Separate for testing.
QString defaultRouteInterface(const QString &routeTable);

// This machine's short host name.
QString localHostName();

} // namespace platform
