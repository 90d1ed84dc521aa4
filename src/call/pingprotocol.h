#pragma once

#include <QByteArray>

#include <optional>

namespace call {

// The ping port's datagrams: "PING <port>" asks whether a copy is listening, "PONG <port>"
// answers; <port> is the sender's own ping port in decimal, so that the answer can find it
// (the socket does not report a sender's port). Anything else that arrives there is dropped.
struct PingDatagram
{
    bool isAnswer = false;
    int port = 0; // 1..65535
};

QByteArray buildPing(bool isAnswer, int ownPingPort);
std::optional<PingDatagram> parsePing(const QByteArray &datagram);

} // namespace call
