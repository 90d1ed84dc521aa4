#include "callfixture.h"

#include "net/udpsock.h"
#include "platform/wave/backend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    ::close(fd);
    return ntohs(local.sin_port);
}

Side::Side(uint16_t localPort, uint16_t pingPort)
{
    auto record = [this](const char *name) {
        return [this, name](QObject *, const QString &text) { events << QStringLiteral("%1: %2").arg(name, text); };
    };
    phone.OnCalled = [this](QObject *sender, const QString &text) {
        calledSender = sender;
        events << QStringLiteral("Called: ") + text;
    };
    phone.OnCallAccepted = record("Accepted");
    phone.OnCallRejected = record("Rejected");
    phone.OnConnectionEnded = record("Ended");
    phone.OnTextMessage = record("Text");
    phone.OnDeviceOpenError = record("DeviceError");
    phone.OnAudioDeviceOpen = record("AudioOpen");
    phone.OnNoResponce = [this](QObject *sender, const QString &text) {
        noResponceSender = sender;
        events << QStringLiteral("NoResponce: ") + text;
    };
    phone.setLocal_IP(QStringLiteral("127.0.0.1"));
    phone.setLocal_Port(localPort);
    phone.setLocal_Ping_Port(pingPort);
}

int Side::count(const QString &prefix) const
{
    int n = 0;
    for (const QString &event : events)
        n += event.startsWith(prefix);
    return n;
}

bool Side::waitFor(const QString &event, int occurrences, int timeoutMs)
{
    return waitUntil([&] { return count(event) >= occurrences; }, timeoutMs);
}

TwoSides::TwoSides()
    : room(std::make_shared<RoomBackend>(std::vector<double> { 440.0, 1300.0 }))
{
    wave::setBackend(room);
    portA = freePort();
    portB = freePort();
    a = std::make_unique<Side>(portA, freePort());
    b = std::make_unique<Side>(portB, freePort());
    a->phone.setRemote_Port(portB);
    errors.clear();
}

TwoSides::~TwoSides()
{
    a.reset();
    b.reset();
    wave::setBackend(nullptr);
}

} // namespace testsupport
