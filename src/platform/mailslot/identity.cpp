#include "platform/mailslot/identity.h"

#include "platform/localaddresses.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform::mailslot {

QString computerName()
{
    return localHostName();
}

QString userName()
{
    passwd entry {};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace platform::mailslot
