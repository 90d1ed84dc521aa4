#pragma once

#include <QString>

namespace net {

constexpr int kMaxPort = 65535;

// Raises Error for a port outside 0..65535. The socket layer holds ports in 16 bits, so a larger
// value would silently bind to, or send to, another port.
template<typename Error> void checkPortRange(int port)
{
    if (port < 0 || port > kMaxPort)
        throw Error(QStringLiteral("Port %1 is out of range: ports are 0 to %2").arg(port).arg(kMaxPort));
}

} // namespace net
