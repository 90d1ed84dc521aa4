#include "platform/localaddresses.h"

#include "platform/hostresolver.h"
#include "platform/winsock.h"

#include <QFile>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace platform {

QString defaultRouteInterface(const QString &routeTable)
{
    const QStringList lines = routeTable.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) { // the first line names the columns
        const QStringList fields = lines[i].simplified().split(QLatin1Char(' '));
        // Iface Destination Gateway Flags ... Mask: a default route has destination and mask 0.
        if (fields.size() >= 8 && fields[1] == QLatin1String("00000000") && fields[7] == QLatin1String("00000000"))
            return fields[0];
    }
    return {};
}

QStringList localIPv4Addresses()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    QString defaultInterface;
    if (routes.open(QIODevice::ReadOnly))
        defaultInterface = defaultRouteInterface(QString::fromLatin1(routes.readAll()));

    QStringList preferred;
    QStringList others;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
                continue;
            if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
                continue;
            const uint32_t address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr;
            const QString text = winsock::dottedText(address);
            QStringList &target = QString::fromLocal8Bit(entry->ifa_name) == defaultInterface ? preferred : others;
            if (!preferred.contains(text) && !others.contains(text))
                target << text;
        }
        ::freeifaddrs(list);
    }
    QStringList result = preferred + others;
    if (result.isEmpty()) {
        const HostLookup lookup = resolveHostNow(localHostName());
        for (uint32_t address : lookup.addresses)
            result << winsock::dottedText(address);
    }
    return result;
}

QString primaryLocalIPv4Address()
{
    const QStringList addresses = localIPv4Addresses();
    return addresses.isEmpty() ? QString() : addresses.first();
}

QString localIPv4AddressToward(const QString &remote)
{
    const uint32_t address = winsock::inetAddr(remote);
    if (address == winsock::kNoneAddress || address == 0)
        return {};
    // Connecting a datagram socket sends nothing; it only makes the system choose the route.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = address;
    sockaddr_in local {};
    socklen_t length = sizeof local;
    const bool found = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_addr.s_addr != 0;
    ::close(fd);
    return found ? winsock::dottedText(local.sin_addr.s_addr) : QString();
}

QString localHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    QString text = QString::fromLocal8Bit(name);
    return text.section(QLatin1Char('.'), 0, 0);
}

} // namespace platform
