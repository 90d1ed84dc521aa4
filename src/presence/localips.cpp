#include "presence/networklist.h"

#include "platform/localaddresses.h"

// Apart from the rules, which stay free of the system so that they can be fuzzed on their own.

namespace presence {

QStringList findLocalIPs()
{
    return platform::localIPv4Addresses().mid(0, kMaxLocalIPs);
}

const QStringList &LocalIPs()
{
    static const QStringList table = findLocalIPs();
    return table;
}

} // namespace presence
