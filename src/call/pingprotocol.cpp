#include "call/pingprotocol.h"

namespace call {

namespace {
constexpr int kMaxPingLength = 16; // "PING 65535" with room to spare; longer is not a ping
}

QByteArray buildPing(bool isAnswer, int ownPingPort)
{
    return (isAnswer ? QByteArray("PONG ") : QByteArray("PING ")) + QByteArray::number(ownPingPort);
}

std::optional<PingDatagram> parsePing(const QByteArray &datagram)
{
    if (datagram.size() > kMaxPingLength || datagram.size() < 6)
        return std::nullopt;
    PingDatagram ping;
    if (datagram.startsWith("PING "))
        ping.isAnswer = false;
    else if (datagram.startsWith("PONG "))
        ping.isAnswer = true;
    else
        return std::nullopt;
    const QByteArray digits = datagram.mid(5);
    for (char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    bool ok = false;
    ping.port = digits.toInt(&ok);
    if (!ok || ping.port < 1 || ping.port > 65535)
        return std::nullopt;
    return ping;
}

} // namespace call
