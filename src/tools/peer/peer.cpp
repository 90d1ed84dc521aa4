#include "peer.h"
#include "peercommands.h"
#include "peerpresence.h"

#include "call/protocol.h"
#include "call/telefoon.h"
#include "framework/application.h"
#include "net/udpsock.h"
#include "platform/acm/formatchoose.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <functional>
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

void Peer::fail(int status)
{
    if (m_exitStatus == kExitDone)
        m_exitStatus = status;
}

bool Peer::start()
{
    if (!m_options.listOnly && !startPhone()) {
        fail(kExitPortTaken);
        return false;
    }
    installSignalHandlers();
    if (m_options.presence && !startPresence()) {
        fail(kExitPortTaken);
        return false;
    }
    if (m_options.listOnly)
        return true;

    // A background job that reads its terminal is stopped by SIGTTIN; ignored, the read fails
    // instead and the peer simply takes no commands.
    std::signal(SIGTTIN, SIG_IGN);
    m_commands = std::make_unique<CommandInput>(STDIN_FILENO, [this](const QString &text) { command(text); });
    startActions();
    if (m_options.durationSeconds > 0)
        QTimer::singleShot(m_options.durationSeconds * 1000, this, &Peer::finish);
    return true;
}

void Peer::startActions()
{
    call::TTelefoon &phone = *m_phone;
    // A name that cannot be resolved (or a text that is no address) raises from the send.
    const auto attempt = [&](const QString &what, const std::function<void()> &action) {
        try {
            action();
            return true;
        } catch (const framework::Exception &error) {
            line(QStringLiteral("error: cannot %1: %2").arg(what, error.message()));
        } catch (...) {
            framework::Application::handleException(&phone, std::current_exception());
        }
        fail(kExitBadAddress);
        return false;
    };
    if (!m_options.pingAddress.isEmpty()) {
        m_pingPending
            = attempt(QStringLiteral("ping %1").arg(m_options.pingAddress), [&] { phone.Ping(m_options.pingAddress); });
        if (m_pingPending)
            QTimer::singleShot(m_options.waitSeconds * 1000, this, &Peer::pingTimedOut);
    }
    if (!m_options.callAddress.isEmpty()) {
        line(QStringLiteral("calling %1 port %2").arg(m_options.callAddress).arg(m_options.remotePort));
        m_callPending = true; // before the call: its events may come while a name is looked up
        if (!attempt(
                QStringLiteral("call %1").arg(m_options.callAddress), [&] { phone.CallTo(m_options.callAddress); }))
            m_callPending = false;
    }
    // Both may have failed at once.
    QTimer::singleShot(0, this, &Peer::actionDone);
}

void Peer::actionDone()
{
    const bool asked = !m_options.callAddress.isEmpty() || !m_options.pingAddress.isEmpty();
    if (asked && !m_callPending && !m_pingPending && !m_options.stay)
        finish();
}

void Peer::callEnded()
{
    // Run after the ending's events: a rejection is reported after the end it causes.
    if (!m_callPending || m_phone->AudioActive() || m_phone->Calling())
        return;
    m_callPending = false;
    if (m_callRejected)
        fail(kExitRejected);
    else if (!m_callAnswered)
        fail(kExitNotAnswered);
    actionDone();
}

void Peer::pingTimedOut()
{
    if (!m_pingPending)
        return;
    m_pingPending = false;
    line(QStringLiteral("no answer to ping"));
    fail(kExitPingNotAnswered);
    actionDone();
}

void Peer::connected()
{
    if (m_textSent || m_options.text.isEmpty())
        return;
    m_textSent = true;
    framework::guard(m_phone.get(), [&] { m_phone->SendText(m_options.text); });
}

void Peer::rejectCall()
{
    m_ringing = false;
    line(QStringLiteral("rejecting the call"));
    // The component never sends a rejection itself; the caller's address and port are those it
    // adopted from the request.
    framework::MemoryStream message;
    message.write(*call::buildMessage(QStringLiteral("|Call rejected")));
    framework::guard(m_phone.get(), [&] { m_phone->voiceSocket().SendStream(message); });
}

void Peer::command(const QString &text)
{
    const ParsedCommand parsed = parseCommand(text);
    if (!parsed.error.isEmpty())
        line(QStringLiteral("error: ") + parsed.error);
    if (!parsed.command || m_finishing)
        return;
    call::TTelefoon &phone = *m_phone;
    switch (parsed.command->kind) {
    case PeerCommand::Answer:
        if (!m_ringing) {
            line(QStringLiteral("error: no call is ringing"));
            break;
        }
        m_ringing = false;
        framework::guard(&phone, [&] { phone.AcceptCall(); });
        connected();
        break;
    case PeerCommand::Reject:
        if (m_ringing)
            rejectCall();
        else
            line(QStringLiteral("error: no call is ringing"));
        break;
    case PeerCommand::Hangup:
        if (!phone.AudioActive() && !phone.Calling()) {
            line(QStringLiteral("error: there is no call to hang up"));
            break;
        }
        line(QStringLiteral("hanging up"));
        framework::guard(&phone, [&] { phone.setCalling(false); });
        break;
    case PeerCommand::Text:
        if (phone.AudioActive())
            framework::guard(&phone, [&] { phone.SendText(parsed.command->text); });
        else
            line(QStringLiteral("error: there is no call to send a text in"));
        break;
    case PeerCommand::Quit:
        finish();
        break;
    }
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
    phone.OnCalled = [this, print = print("called")](QObject *sender, const QString &text) {
        print(sender, text);
        if (m_phone->AudioActive()) { // answered by itself (or a request during a call)
            connected();
            return;
        }
        m_ringing = true;
        if (m_options.reject)
            rejectCall();
    };
    phone.OnCallAccepted = [this, print = print("accepted")](QObject *sender, const QString &text) {
        print(sender, text);
        if (m_callPending)
            m_callAnswered = true;
        connected();
    };
    phone.OnCallRejected = [this, print = print("rejected")](QObject *sender, const QString &text) {
        print(sender, text);
        if (m_callPending)
            m_callRejected = true;
    };
    phone.OnConnectionEnded = [this, print = print("ended")](QObject *sender, const QString &text) {
        print(sender, text);
        m_ringing = false;
        m_textSent = false;
        QTimer::singleShot(0, this, &Peer::callEnded);
    };
    phone.OnTextMessage = print("text");
    phone.OnAudioDeviceOpen = print("audio open");
    phone.OnDeviceOpenError = print("audio error");
    phone.OnNoResponce = [this](QObject *, const QString &) { line(QStringLiteral("no answer")); };
    phone.OnPinnged = [this](QObject *, const QString &, bool isAnswer, const QString &from, int port) {
        line(
            QStringLiteral("%1 %2 (ping port %3)").arg(isAnswer ? "answer to ping from" : "ping from", from).arg(port));
        if (isAnswer && m_pingPending) {
            m_pingPending = false;
            actionDone();
        }
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
    phone.setRemote_Ping_port(m_options.remotePingPort);
    if (!phone.voiceSocket().isBound()) {
        line(QStringLiteral("error: cannot listen on UDP port %1").arg(m_options.port));
        return false;
    }
    if (!phone.pingSocket().isBound()) {
        line(QStringLiteral("error: cannot listen on UDP ping port %1").arg(m_options.pingPort));
        return false;
    }
    phone.setConnection(m_options.codec);
    phone.setPlayout(m_options.playout);
    phone.setAuto_synchronise(m_options.autoSynchronise);
    phone.setMute(m_options.mute);
    phone.setAuto_Answer(m_options.autoAnswer);
    phone.setWaitForconnectionTime(m_options.waitSeconds);
    // Without one, each call announces the address this machine reaches its callee from.
    if (!m_options.localIp.isEmpty())
        phone.setLocal_IP(m_options.localIp);
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
    // Stopped before what was asked is done: that is its outcome.
    if (m_callPending && !m_callAnswered)
        fail(kExitNotAnswered);
    if (m_pingPending)
        fail(kExitPingNotAnswered);
    m_callPending = m_pingPending = false;
    if (m_presence)
        m_presence->leave();
    if (m_phone && (m_phone->AudioActive() || m_phone->Calling())) {
        line(QStringLiteral("hanging up"));
        framework::guard(m_phone.get(), [&] { m_phone->setCalling(false); });
    }
    QTimer::singleShot(kFarewellMs, this, [this] {
        m_presence.reset();
        m_phone.reset();
        QCoreApplication::exit(m_exitStatus);
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
