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
// the LAN's presence exchange (see peerpresence.h). GUI (main) thread only.
class PeerPresence;

class Peer : public QObject
{
    Q_OBJECT

public:
    Peer(const PeerOptions &options, QTextStream &out);
    ~Peer() override;

    // Applies the options, places the call or ping asked for, arms the duration. False (with the
    // reason printed) when the peer cannot run.
    bool start();
    // Leaves the LAN, hangs up if a call runs, lets the farewell go out, then quits the event loop.
    void finish();

private:
    void line(const QString &text);
    void installSignalHandlers();
    bool startPhone();
    bool startPresence();

    PeerOptions m_options;
    QTextStream &m_out;
    std::unique_ptr<call::TTelefoon> m_phone;
    std::unique_ptr<PeerPresence> m_presence;
    std::unique_ptr<QSocketNotifier> m_signals;
    bool m_finishing = false;
};

} // namespace peer
