#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace framework {
class NoticeSink;
}

namespace platform {

// The outcome of a host-name look-up: a Winsock error number (0 = found) and the IPv4 addresses
// in network byte order, first preferred.
struct HostLookup
{
    int error = 0;
    std::vector<uint32_t> addresses;
};

// Asynchronous host-name look-up. The default asks the system resolver off the GUI thread;
// tests install their own. done runs on context's thread, and never once context is destroyed.
class HostResolver
{
public:
    virtual ~HostResolver() = default;
    virtual void lookup(const QString &name, QObject *context, std::function<void(const HostLookup &)> done) = 0;
};

// The resolver in use (GUI thread only).
HostResolver &hostResolver();
// Installs resolver (null: the system resolver again); returns the previous one.
std::unique_ptr<HostResolver> setHostResolver(std::unique_ptr<HostResolver> resolver);

// A blocking look-up through the system resolver (getaddrinfo), IPv4 only.
HostLookup resolveHostNow(const QString &name);

namespace winsock {

// The host entry an asynchronous look-up fills (stands for Winsock's 1024-byte hostent buffer).
struct HostEntry
{
    QString name;
    std::vector<uint32_t> addresses; // network byte order
};

// WSAAsyncGetHostByName(): starts a look-up of name and returns its task handle (never 0). On
// completion, result is filled and `message` is posted to sink with wParam = the handle and
// lParam = makeLParam(0, error). Nothing is written or posted once sink is destroyed, so result
// must live as long as the sink.
uintptr_t asyncGetHostByName(const QString &name, framework::NoticeSink *sink, uint32_t message, HostEntry *result);

} // namespace winsock

} // namespace platform
