#include "callfixture.h"

#include "net/udpsock.h"
#include "platform/wave/backend.h"

namespace testsupport {

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

TwoSides::TwoSides(std::vector<double> tones)
    : room(std::make_shared<RoomBackend>(std::move(tones)))
{
    wave::setBackend(room);
    portA = freeUdpPort();
    portB = freeUdpPort();
    a = std::make_unique<Side>(portA, freeUdpPort());
    b = std::make_unique<Side>(portB, freeUdpPort());
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
