#include "call/pingprotocol.h"
#include "call/telefoon.h"

#include "framework/application.h"
#include "framework/exception.h"
#include "framework/timer.h"
#include "net/udpsock.h"
#include "platform/localaddresses.h"
#include "platform/winsock.h"

namespace call {

void TTelefoon::DataReceived(QObject *sender, int numberBytes)
{
    if (numberBytes < 0)
        return;
    framework::MemoryStream stream;
    m_udp->ReadStream(stream);
    if (numberBytes != int(kSignalSize)) {
        PlayVoice(stream);
        return;
    }
    const QByteArray s = stream.bytes();
    const QByteArray t = trimControl(s);
    if (t.startsWith('I'))
        HandleCallRequest(sender, s);
    else
        HandleSignal(s);
}

void TTelefoon::HandleCallRequest(QObject *sender, const QByteArray &s)
{
    m_pending = CallerSettings { m_remoteIp, m_remotePort, uint8_t(m_connection), m_userChosenCodec };
    const QByteArray request = parseCallRequest(s, m_pending);
    if (m_adoptSettings && !m_audioActive) {
        // A port no answer could reach makes the request malformed: neither adopted nor answered.
        // A callee that keeps its own peer never uses it, so the request is answered as usual.
        const int port = m_pending.remotePort;
        if (port < 1 || port > 65535)
            throw framework::Exception(port == 0
                    ? QStringLiteral("Invalid port in call request: it names no port from 1 to 65535")
                    : QStringLiteral("Invalid port in call request: %1 is outside 1 to 65535").arg(port));
        // No address, or 0.0.0.0, can never be answered: the answer and every voice buffer after it
        // would fail one by one. A host name stays acceptable; the socket looks it up.
        if (m_pending.remoteIp.trimmed().isEmpty() || platform::winsock::inetAddr(m_pending.remoteIp) == 0)
            throw framework::Exception(
                QStringLiteral("Invalid address in call request: '%1' is no address to answer to").arg(m_pending.remoteIp));
        // The socket first: an address it refuses (too long) leaves the caller's settings unadopted.
        m_udp->setRemoteHost(m_pending.remoteIp);
        m_udp->setRemotePort(m_pending.remotePort);
        m_remoteIp = m_pending.remoteIp;
        m_remotePort = m_pending.remotePort;
        m_connection = Tverbinding(m_pending.connection);
        m_userChosenCodec = m_pending.userChosenCodec;
        if (m_localIp.isEmpty())
            FetchLocal_IP();
    }
    if (m_autoAnswer) {
        SetAudioActive(true);
        SendText(QStringLiteral("^Connected"));
        m_noAnswerTimer->setEnabled(false);
    }
    if (OnCalled)
        OnCalled(sender, signalText(request));
}

void TTelefoon::HandleSignal(const QByteArray &s)
{
    const MessageContent message = scanMessage(s);
    // The marks end the call on this side as they are met; a second mark finds it ended.
    if (message.ended || message.rejected) {
        setCalling(false);
        SetAudioActive(false);
    }
    if (message.rejected || message.accepted)
        m_noAnswerTimer->setEnabled(false);
    const QString text = signalText(message.text);
    if (message.accepted && OnCallAccepted) {
        OnCallAccepted(this, text);
        return;
    }
    if (message.ended) {
        if (OnConnectionEnded)
            OnConnectionEnded(this, text);
        else
            framework::ShowMessage(text);
        return;
    }
    if (message.rejected) {
        if (OnCallRejected)
            OnCallRejected(this, text);
        else
            framework::ShowMessage(text);
        return;
    }
    if (OnTextMessage)
        OnTextMessage(this, text);
    else
        framework::ShowMessage(text);
}

void TTelefoon::PingReceived(QObject *sender, int numberBytes, const QString &fromIp)
{
    if (numberBytes <= 0)
        return;
    framework::MemoryStream stream;
    m_pingUdp->ReadStream(stream);
    const std::optional<PingDatagram> ping = parsePing(stream.bytes());
    if (!ping)
        return;
    // Our own ping, sent to an address of this machine: no other copy here can hold our ping
    // port, so answering would only make this copy believe another one is there.
    if (!ping->isAnswer && ping->port == m_localPingPort
        && (fromIp.startsWith(QLatin1String("127.")) || platform::localIPv4Addresses().contains(fromIp)))
        return;
    if (!ping->isAnswer && m_pingAutoRespond) {
        // Answer the asker on the port it named, without disturbing where Ping() sends.
        const QString savedHost = m_pingUdp->RemoteHost();
        const int savedPort = m_pingUdp->RemotePort();
        framework::MemoryStream answer;
        answer.write(buildPing(true, m_localPingPort));
        m_pingUdp->setRemoteHost(fromIp);
        m_pingUdp->setRemotePort(ping->port);
        try {
            m_pingUdp->SendStream(answer);
        } catch (...) {
            m_pingUdp->setRemoteHost(savedHost);
            m_pingUdp->setRemotePort(savedPort);
            throw;
        }
        m_pingUdp->setRemoteHost(savedHost);
        m_pingUdp->setRemotePort(savedPort);
    }
    if (OnPinnged)
        OnPinnged(sender, signalText(stream.bytes()), ping->isAnswer, fromIp, ping->port);
}

void TTelefoon::Ping(const QString &address)
{
    framework::MemoryStream stream;
    stream.write(buildPing(false, m_localPingPort));
    m_pingUdp->setRemoteHost(address);
    m_pingUdp->setRemotePort(m_remotePingPort);
    m_pingUdp->SendStream(stream);
}

} // namespace call
