#pragma once

#include "call/adaptiveplayout.h"
#include "call/codectable.h"
#include "call/protocol.h"
#include "framework/component.h"
#include "framework/memorystream.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

namespace framework {
class TTimer;
}
namespace net {
class TUDPSock;
}
namespace audio {
class TACMIn;
class TACMOut;
} // namespace audio

namespace call {

using TGeneralEvent = std::function<void(QObject *Sender, const QString &text)>;
using TpingEvent
    = std::function<void(QObject *Sender, const QString &text, bool pingisanswer, const QString &fromip, int fromport)>;

// One voice call at a time with a copy of the program on another machine, over UDP: signalling
// and voice share one port per side (150-byte datagrams are signalling, every other size voice).
// Owns its two UDP components, capture, playback and the no-answer timer. Everything runs on the
// GUI thread; events fire synchronously from setters, operations and arriving notices. The
// destructor ends a running call and fires its events, so handlers must outlive the component
// (or be cleared before it goes).
class TTelefoon : public framework::TComponent
{
    Q_OBJECT

public:
    static const QString kVersion;
    static const QString kAuthorEmail;
    static const QString kEndMessage; // "~Connection ended.@"

    explicit TTelefoon(QObject *owner = nullptr);
    ~TTelefoon() override;

    // Published properties, in stored order.
    const QString &Remote_IP() const { return m_remoteIp; }
    void setRemote_IP(const QString &address);
    int Remote_Port() const { return m_remotePort; }
    void setRemote_Port(int port);
    int Local_Port() const { return m_localPort; }
    void setLocal_Port(int port);
    Tverbinding Connection() const { return m_connection; }
    void setConnection(Tverbinding codec) { m_connection = codec; }
    bool User_Chosen_Codec() const { return m_userChosenCodec; }
    void setUser_Chosen_Codec(bool chosen) { m_userChosenCodec = chosen; }
    const QString &Author_Email() const { return m_authorEmail; }
    void setAuthor_Email(const QString &) { m_authorEmail = kAuthorEmail; }
    bool Calling() const { return m_calling; }
    void setCalling(bool calling);
    bool Adopt_Settings_Off_Caller() const { return m_adoptSettings; }
    void setAdopt_Settings_Off_Caller(bool adopt) { m_adoptSettings = adopt; }
    bool Auto_Answer() const { return m_autoAnswer; }
    void setAuto_Answer(bool answer) { m_autoAnswer = answer; }
    const QString &Local_IP() const { return m_localIp; }
    void setLocal_IP(const QString &address) { m_localIp = address; }
    int Local_Ping_Port() const { return m_localPingPort; }
    void setLocal_Ping_Port(int port);
    int Remote_Ping_port() const { return m_remotePingPort; }
    void setRemote_Ping_port(int port);
    bool Ping_Auto_Respond() const { return m_pingAutoRespond; }
    void setPing_Auto_Respond(bool respond) { m_pingAutoRespond = respond; }
    bool Mute() const { return m_mute; }
    void setMute(bool mute) { m_mute = mute; }
    bool Auto_synchronise() const { return m_autoSynchronise; }
    void setAuto_synchronise(bool on) { m_autoSynchronise = on; }
    // Not a stored property. Designed: Auto_synchronise's random thinning and the four buffers
    // held back after each opening. Adaptive: see AdaptivePlayout; Auto_synchronise draws nothing
    // and the devices are opened with kAdaptiveLatencySeconds. Takes effect at the next opening.
    Playout playout() const { return m_playout; }
    void setPlayout(Playout playout) { m_playout = playout; }
    static constexpr double kAdaptiveLatencySeconds = 0.04;
    const AdaptivePlayout &adaptivePlayout() const { return m_adaptive; }
    // 1..100 while the audio runs (0 gives full level); see the voice path for the arithmetic.
    int Volume() const;
    void setVolume(int volume);
    const QString &Version() const { return m_version; }
    void setVersion(const QString &) { m_version = kVersion; }
    // Seconds of the no-answer time-out.
    int WaitForconnectionTime() const { return m_waitTimeMs / 1000; }
    void setWaitForconnectionTime(int seconds);

    TGeneralEvent OnUdpStatus;
    TGeneralEvent OnDataSend;
    TGeneralEvent OnCalled;
    TGeneralEvent OnConnectionEnded;
    TGeneralEvent OnTextMessage;
    TGeneralEvent OnDeviceOpenError;
    TGeneralEvent OnCallAccepted;
    TpingEvent OnPinnged;
    TGeneralEvent OnAudioDeviceOpen;
    TGeneralEvent OnCallRejected;
    TGeneralEvent OnNoResponce;

    // Remote_IP := address, then Calling := True.
    void CallTo(const QString &address);
    // Opens the audio and sends the acceptance "^Connected".
    void AcceptCall();
    void SetAudioActive(bool on);
    // Sends text + "@" as one signalling datagram while the audio runs; a text of 149 characters
    // or more does not fit and is not sent.
    void SendText(const QString &text);
    // Sends a ping to address on Remote_Ping_port; the answer arrives as OnPinnged with
    // pingisanswer True (see pingprotocol.h).
    void Ping(const QString &address);

    bool AudioActive() const { return m_audioActive; }

    // The owned parts, for the program's status display and for tests.
    net::TUDPSock &voiceSocket() const { return *m_udp; }
    net::TUDPSock &pingSocket() const { return *m_pingUdp; }
    audio::TACMIn &capture() const { return *m_capture; }
    audio::TACMOut &playback() const { return *m_playback; }
    framework::TTimer &noAnswerTimer() const { return *m_noAnswerTimer; }
    const CallerSettings &pendingCallerSettings() const { return m_pending; }
    // The capture buffer size and format of the running (or last) call.
    uint32_t captureBufferSize() const;

private:
    // Signalling (telefoon_signalling.cpp).
    void DataReceived(QObject *sender, int numberBytes);
    void HandleCallRequest(QObject *sender, const QByteArray &s);
    void HandleSignal(const QByteArray &s);
    void PingReceived(QObject *sender, int numberBytes, const QString &fromIp);
    void sendSignal(const QByteArray &datagram);
    void FetchLocal_IP();
    static QString interfaceAddress();
    void NoAnswer(QObject *timer);
    // Voice path (telefoon_voice.cpp).
    void OpenAudio();
    void CloseAudio();
    void CaptureBufferFull(const void *data, int size);
    void PlayVoice(const framework::MemoryStream &stream);
    void playAdaptive(const framework::MemoryStream &stream);
    void reportDeviceOpenError(const QString &message);

    QString m_remoteIp;
    int m_remotePort = 0;
    int m_localPort = 0;
    Tverbinding m_connection = Tverbinding::GSM610;
    bool m_userChosenCodec = false;
    QString m_authorEmail;
    bool m_calling = false;
    bool m_adoptSettings = true;
    bool m_autoAnswer = true;
    QString m_localIp;
    int m_localPingPort = 0;
    int m_remotePingPort = 0;
    bool m_pingAutoRespond = false;
    bool m_mute = false;
    bool m_autoSynchronise = true;
    Playout m_playout = Playout::Designed;
    Playout m_openedPlayout = Playout::Designed; // the mode of the running (or last) opening
    AdaptivePlayout m_adaptive;
    QElapsedTimer m_arrivalClock;
    QString m_version;

    bool m_audioActive = false;
    uint64_t m_audioSession = 0; // counts SetAudioActive's openings and closings
    int m_waitTimeMs = 15000;
    int m_lastVolume = 0;
    CallerSettings m_pending;

    framework::TTimer *m_noAnswerTimer = nullptr; // owned (QObject child)
    net::TUDPSock *m_pingUdp = nullptr; // owned
    net::TUDPSock *m_udp = nullptr; // owned
    audio::TACMIn *m_capture = nullptr; // owned
    audio::TACMOut *m_playback = nullptr; // owned
};

} // namespace call
