#include "peer.h"
#include "peerpresence.h"

#include "call/telefoon.h"
#include "framework/application.h"
#include "net/udpsock.h"
#include "platform/acm/formatchoose.h"
#include "platform/localaddresses.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace peer {

namespace {

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the pipe.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Time for the end message to go out and its echo to come back before the program exits.
constexpr int kFarewellMs = 300;
// How long --list waits after its refresh: the others hear it within one polling period (1 s)
// and their answers reach this copy within the next, with a second to spare on a busy machine.
constexpr int kListWaitMs = 3000;

} // namespace

Peer::Peer(const PeerOptions &options, QTextStream &out)
    : m_options(options)
    , m_out(out)
{ }

Peer::~Peer()
{
    if (g_signalPipe[0] >= 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
}

void Peer::line(const QString &text)
{
    m_out << text << Qt::endl;
}

bool Peer::start()
{
    if (!m_options.listOnly && !startPhone())
        return false;
    installSignalHandlers();
    if (m_options.presence && !startPresence())
        return false;
    if (m_options.listOnly)
        return true;

    call::TTelefoon &phone = *m_phone;
    if (!m_options.pingAddress.isEmpty())
        framework::guard(&phone, [&] { phone.Ping(m_options.pingAddress); });
    if (!m_options.callAddress.isEmpty()) {
        line(QStringLiteral("calling %1 port %2").arg(m_options.callAddress).arg(m_options.remotePort));
        framework::guard(&phone, [&] { phone.CallTo(m_options.callAddress); });
    }
    if (m_options.durationSeconds > 0)
        QTimer::singleShot(m_options.durationSeconds * 1000, this, &Peer::finish);
    return true;
}

bool Peer::startPresence()
{
    PeerPresence::CallControl control;
    if (m_phone) {
        control.inCall = [this] { return m_phone && (m_phone->AudioActive() || m_phone->Calling()); };
        control.endCall = [this] { framework::guard(m_phone.get(), [&] { m_phone->setCalling(false); }); };
    }
    m_presence
        = std::make_unique<PeerPresence>([this](const QString &text) { line(text); }, control, !m_options.listOnly);
    const bool listening = m_presence->join();
    if (m_options.listOnly) {
        if (!listening) {
            line(QStringLiteral("error: cannot list: another program on this machine holds the presence box"));
            m_presence->leave();
            return false;
        }
        QTimer::singleShot(kListWaitMs, this, [this] {
            m_presence->printList();
            finish();
        });
    }
    return true;
}

bool Peer::startPhone()
{
    {
        // The component binds its built-in ports (8000, 8001) while it is made; the peer moves it
        // to its own ports at once, so a report that those were taken would only mislead.
        const auto report = framework::Application::setExceptionHandler([](QObject *, const QString &) {});
        m_phone = std::make_unique<call::TTelefoon>();
        framework::Application::setExceptionHandler(report);
    }
    call::TTelefoon &phone = *m_phone;
    auto print = [this](const char *name) {
        return [this, name](QObject *, const QString &text) { line(QStringLiteral("%1: %2").arg(name, text)); };
    };
    phone.OnCalled = print("called");
    phone.OnCallAccepted = print("accepted");
    phone.OnCallRejected = print("rejected");
    phone.OnConnectionEnded = print("ended");
    phone.OnTextMessage = print("text");
    phone.OnAudioDeviceOpen = print("audio open");
    phone.OnDeviceOpenError = print("audio error");
    phone.OnNoResponce = [this](QObject *, const QString &) { line(QStringLiteral("no answer")); };
    phone.OnPinnged = [this](QObject *, const QString &, bool isAnswer, const QString &from, int port) {
        line(
            QStringLiteral("%1 %2 (ping port %3)").arg(isAnswer ? "answer to ping from" : "ping from", from).arg(port));
    };
    phone.setPing_Auto_Respond(true);

    // A caller may ask the callee to pick the codec itself; without a screen the peer takes the
    // table format of the codec the caller named.
    acm::setFormatChooserUi([this](const acm::FormatChoiceRequest &, wave::TACMWaveFormat &chosen) {
        const std::optional<wave::TACMWaveFormat> format = call::codecFormat(uint8_t(m_phone->Connection()));
        if (!format)
            return wave::MMRESULT(wave::ACMERR_CANCELED);
        chosen = *format;
        return wave::MMRESULT(wave::MMSYSERR_NOERROR);
    });

    phone.setLocal_Port(m_options.port);
    phone.setRemote_Port(m_options.remotePort);
    phone.setLocal_Ping_Port(m_options.pingPort);
    phone.setRemote_Ping_port(m_options.pingPort);
    if (!phone.voiceSocket().isBound()) {
        line(QStringLiteral("error: cannot listen on UDP port %1").arg(m_options.port));
        return false;
    }
    phone.setConnection(m_options.codec);
    phone.setMute(m_options.mute);
    phone.setAuto_Answer(m_options.autoAnswer);
    phone.setWaitForconnectionTime(m_options.waitSeconds);
    phone.setLocal_IP(m_options.localIp.isEmpty() ? platform::primaryLocalIPv4Address() : m_options.localIp);
    if (m_options.volume > 0) {
        phone.OnAudioDeviceOpen = [this, print = print("audio open")](QObject *sender, const QString &text) {
            m_phone->setVolume(m_options.volume);
            print(sender, text);
        };
    }
    line(QStringLiteral("listening on %1 port %2")
             .arg(phone.Local_IP().isEmpty() ? "*" : phone.Local_IP())
             .arg(m_options.port));
    return true;
}

void Peer::finish()
{
    if (m_finishing)
        return;
    m_finishing = true;
    if (m_presence)
        m_presence->leave();
    if (m_phone && (m_phone->AudioActive() || m_phone->Calling())) {
        line(QStringLiteral("hanging up"));
        framework::guard(m_phone.get(), [&] { m_phone->setCalling(false); });
    }
    QTimer::singleShot(kFarewellMs, this, [this] {
        m_presence.reset();
        m_phone.reset();
        QCoreApplication::quit();
    });
}

void Peer::installSignalHandlers()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_signals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_signals.get(), &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) { }
        finish();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

} // namespace peer
