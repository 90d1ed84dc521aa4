#include "platform/hostresolver.h"

#include "framework/noticesink.h"
#include "platform/winsockerrors.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>

#include <netdb.h>
#include <sys/socket.h>

namespace platform {

namespace {

class SystemHostResolver : public HostResolver
{
public:
    void lookup(const QString &name, QObject *context, std::function<void(const HostLookup &)> done) override
    {
        QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo &info) {
            HostLookup result;
            for (const QHostAddress &address : info.addresses()) {
                bool isIPv4 = false;
                const quint32 hostOrder = address.toIPv4Address(&isIPv4);
                if (isIPv4)
                    result.addresses.push_back(htonl(hostOrder));
            }
            if (info.error() == QHostInfo::HostNotFound)
                result.error = winsock::WSAHOST_NOT_FOUND;
            else if (info.error() != QHostInfo::NoError)
                result.error = winsock::WSANO_RECOVERY;
            else if (result.addresses.empty())
                result.error = winsock::WSANO_DATA;
            done(result);
        });
    }
};

std::unique_ptr<HostResolver> &installed()
{
    static std::unique_ptr<HostResolver> resolver = std::make_unique<SystemHostResolver>();
    return resolver;
}

} // namespace

HostResolver &hostResolver()
{
    return *installed();
}

std::unique_ptr<HostResolver> setHostResolver(std::unique_ptr<HostResolver> resolver)
{
    std::unique_ptr<HostResolver> previous = std::move(installed());
    installed() = resolver ? std::move(resolver) : std::make_unique<SystemHostResolver>();
    return previous;
}

HostLookup resolveHostNow(const QString &name)
{
    HostLookup result;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    const int status = ::getaddrinfo(name.toLocal8Bit().constData(), nullptr, &hints, &list);
    if (status != 0) {
        result.error = winsock::fromResolverError(status);
        return result;
    }
    for (const addrinfo *entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET)
            result.addresses.push_back(reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    if (result.addresses.empty())
        result.error = winsock::WSANO_DATA;
    return result;
}

namespace winsock {

uintptr_t asyncGetHostByName(const QString &name, framework::NoticeSink *sink, uint32_t message, HostEntry *result)
{
    static uintptr_t lastHandle = 0;
    const uintptr_t handle = ++lastHandle == 0 ? ++lastHandle : lastHandle;
    QPointer<framework::NoticeSink> target(sink);
    hostResolver().lookup(name, sink, [=](const HostLookup &lookup) {
        if (!target)
            return;
        if (result) {
            result->name = name;
            result->addresses = lookup.addresses;
        }
        target->post(message, handle, framework::makeLParam(0, uint16_t(lookup.error)));
    });
    return handle;
}

} // namespace winsock

} // namespace platform
