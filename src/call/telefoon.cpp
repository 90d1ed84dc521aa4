#include "call/telefoon.h"

#include "audio/soundin.h"
#include "audio/soundout.h"
#include "framework/application.h"
#include "framework/timer.h"
#include "net/sockbase.h"
#include "net/udpsock.h"
#include "platform/localaddresses.h"

#include <QLocale>
#include <QTime>

#include <memory>

namespace call {

const QString TTelefoon::kVersion = QStringLiteral("Version 0.81");
const QString TTelefoon::kAuthorEmail = QStringLiteral("tobrel-feedback@example.org");
const QString TTelefoon::kEndMessage = QStringLiteral("~Connection ended.@");

namespace {
const QString kAlreadyInACall = QStringLiteral("   Already in a Call   ");
const QString kNoAnswer = QStringLiteral(" No answer ");
const QString kNoResponce = QStringLiteral("no responce");
constexpr int kSignalReportLevel = 2;
} // namespace

TTelefoon::TTelefoon(QObject *owner)
    : TComponent(owner)
{
    m_remotePort = 8000;
    m_localIp.clear();
    m_audioActive = false;
    m_mute = false;
    m_calling = false;

    m_noAnswerTimer = new framework::TTimer(this);
    m_noAnswerTimer->setEnabled(false);
    m_noAnswerTimer->setInterval(15000);
    m_noAnswerTimer->setOnTimer([this](QObject *timer) { NoAnswer(timer); });
    m_waitTimeMs = 15000;

    m_connection = Tverbinding::GSM610;
    m_authorEmail = kAuthorEmail;
    m_autoAnswer = true;
    m_remoteIp = QStringLiteral("127.0.0.1");
    m_localPort = 8000;
    m_localPingPort = 8001;
    m_remotePingPort = 8001;
    m_autoSynchronise = true;
    m_adoptSettings = true;
    m_version = kVersion;

    m_pingUdp = new net::TUDPSock(this);
    m_pingUdp->setLocalPort(m_localPingPort);
    m_pingUdp->OnDataReceived = [this](QObject *sender, int numberBytes, const QString &fromIp) {
        PingReceived(sender, numberBytes, fromIp);
    };

    m_udp = new net::TUDPSock(this);
    m_udp->setLocalPort(m_localPort);
    m_udp->setRemoteHost(m_remoteIp);
    m_udp->setRemotePort(m_remotePort);
    m_udp->setReportLevel(kSignalReportLevel);

    m_capture = new audio::TACMIn(this);
    m_capture->setBufferSize(100);
    m_capture->setNumBuffers(4);
    m_playback = new audio::TACMOut(this);
    m_playback->NumBuffers = 4;

    m_capture->OnBufferFull = [this](QObject *, const void *data, int size) { CaptureBufferFull(data, size); };
    m_udp->OnDataReceived
        = [this](QObject *sender, int numberBytes, const QString &) { DataReceived(sender, numberBytes); };
    m_udp->OnStatus = [this](QObject *sender, const QString &status) {
        if (OnUdpStatus)
            OnUdpStatus(sender, status);
    };
    m_udp->OnDataSend = [this](QObject *sender) {
        if (OnDataSend)
            OnDataSend(sender, QLocale().toString(QTime::currentTime(), QLocale::LongFormat));
    };
}

TTelefoon::~TTelefoon()
{
    markDestroying();
    try {
        if (m_calling)
            setCalling(false);
        if (m_audioActive)
            SetAudioActive(false);
    } catch (...) {
        // Tearing down: a failed farewell datagram must not stop the rest.
    }
    m_noAnswerTimer->setEnabled(false);
    delete m_noAnswerTimer;
    m_playback->Close();
    m_capture->Close();
    delete m_capture;
    delete m_udp;
    delete m_pingUdp;
    delete m_playback;
}

void TTelefoon::setRemote_IP(const QString &address)
{
    m_udp->setRemoteHost(address);
    m_remoteIp = address;
}

void TTelefoon::setRemote_Port(int port)
{
    m_udp->setRemotePort(port);
    m_remotePort = port;
}

void TTelefoon::setLocal_Port(int port)
{
    // The socket first: a port it refuses must not be kept (the call request carries it).
    m_udp->setLocalPort(port);
    m_localPort = port;
}

void TTelefoon::setLocal_Ping_Port(int port)
{
    m_pingUdp->setLocalPort(port);
    m_localPingPort = port;
}

void TTelefoon::setRemote_Ping_port(int port)
{
    m_pingUdp->setRemotePort(port);
    m_remotePingPort = port;
}

void TTelefoon::setWaitForconnectionTime(int seconds)
{
    // Wraps like the 32-bit arithmetic it stands for instead of overflowing.
    m_waitTimeMs = int(uint32_t(seconds) * 1000u);
    m_noAnswerTimer->setInterval(uint32_t(m_waitTimeMs));
}

void TTelefoon::setCalling(bool calling)
{
    if (!calling) {
        // A placed call is ended on the wire too when this side's audio failed to open: the
        // callee may have answered and be streaming.
        const bool placed = m_calling;
        m_calling = false;
        if (m_audioActive || placed) {
            SetAudioActive(false);
            sendSignal(*buildMessage(kEndMessage.chopped(1)));
            if (OnConnectionEnded)
                OnConnectionEnded(this, kEndMessage);
        }
        return;
    }
    if (m_audioActive) {
        framework::ShowMessage(kAlreadyInACall);
        return;
    }
    // Without a fixed Local_IP the request names, for this call, the address this machine reaches
    // the callee from: with two interfaces or a VPN the primary one may be unreachable for it.
    QString announced = m_localIp;
    if (announced.trimmed().isEmpty())
        announced = platform::localIPv4AddressToward(m_remoteIp);
    if (announced.isEmpty())
        announced = interfaceAddress();
    m_udp->setRemoteHost(m_remoteIp);
    sendSignal(buildCallRequest(announced, m_localPort, uint8_t(m_connection), m_userChosenCodec));
    if (!m_calling)
        m_noAnswerTimer->setEnabled(true);
    m_calling = true;
    SetAudioActive(true);
}

void TTelefoon::CallTo(const QString &address)
{
    setRemote_IP(address);
    setCalling(true);
}

void TTelefoon::AcceptCall()
{
    SetAudioActive(true);
    SendText(QStringLiteral("^Connected"));
}

void TTelefoon::SetAudioActive(bool on)
{
    if (!on)
        m_noAnswerTimer->setEnabled(false);
    if (on && m_audioActive)
        return;
    ++m_audioSession;
    if (on) {
        m_audioActive = true;
        OpenAudio();
        return;
    }
    CloseAudio();
    m_audioActive = false;
}

void TTelefoon::SendText(const QString &text)
{
    if (!m_audioActive)
        return;
    if (const std::optional<QByteArray> datagram = buildMessage(text))
        sendSignal(*datagram);
}

void TTelefoon::sendSignal(const QByteArray &datagram)
{
    framework::MemoryStream stream;
    stream.write(datagram);
    m_udp->SendStream(stream);
}

void TTelefoon::FetchLocal_IP()
{
    m_localIp = interfaceAddress();
}

QString TTelefoon::interfaceAddress()
{
    const auto query = std::make_unique<net::TSockBase>(nullptr);
    QString address;
    query->QueryLocalAddress(address);
    return address;
}

void TTelefoon::NoAnswer(QObject *timer)
{
    m_noAnswerTimer->setEnabled(false);
    setCalling(false);
    if (OnNoResponce)
        OnNoResponce(timer, kNoResponce);
    else
        framework::ShowMessage(kNoAnswer);
}

} // namespace call
