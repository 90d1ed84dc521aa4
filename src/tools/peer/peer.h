#pragma once

#include "peeroptions.h"

#include <QObject>
#include <QTextStream>

#include <memory>

class QSocketNotifier;

namespace call {
class TTelefoon;
}

namespace peer {

// The headless intercom: one call component, its events printed one line each, a clean hang-up
// on SIGINT/SIGTERM or when the duration runs out; unless asked not to, it also takes part in
// the LAN's presence exchange (see peerpresence.h). A placed call and a ping end the program once
// they are done (unless asked to stay), with an exit status that tells how they went; lines on
// standard input drive it (see peercommands.h). GUI (main) thread only.
class CommandInput;
class PeerPresence;

class Peer : public QObject
{
    Q_OBJECT

public:
    Peer(const PeerOptions &options, QTextStream &out);
    ~Peer() override;

    // Applies the options, places the call or ping asked for, arms the duration. False (with the
    // reason printed and exitStatus() set) when the peer cannot run.
    bool start();
    // Leaves the LAN, hangs up if a call runs, lets the farewell go out, then ends the event loop
    // with exitStatus().
    void finish();
    // The first failure of what was asked (an ExitStatus), kExitDone when there was none.
    int exitStatus() const { return m_exitStatus; }

private:
    void line(const QString &text);
    void installSignalHandlers();
    bool startPhone();
    bool startPresence();
    void startActions();
    void fail(int status);
    void callEnded();
    void pingTimedOut();
    void actionDone();
    void connected();
    void rejectCall();
    void command(const QString &text);

    PeerOptions m_options;
    QTextStream &m_out;
    std::unique_ptr<call::TTelefoon> m_phone;
    std::unique_ptr<PeerPresence> m_presence;
    std::unique_ptr<QSocketNotifier> m_signals;
    std::unique_ptr<CommandInput> m_commands;
    bool m_finishing = false;
    int m_exitStatus = 0;
    bool m_callPending = false; // the placed call has not ended yet
    bool m_callAnswered = false;
    bool m_callRejected = false;
    bool m_pingPending = false; // the ping has no answer yet
    bool m_ringing = false; // a call came in and is neither answered nor rejected
    bool m_textSent = false; // --text went out in this call
};

} // namespace peer
