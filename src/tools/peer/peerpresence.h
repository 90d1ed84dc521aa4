#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace presence {
class TMailSlot;
}

namespace peer {

// The headless peer on the LAN: holds the presence box, announces its addresses, answers
// "Resend", obeys "Stop" and prints its address list whenever it changes, one line per entry:
//
//   listed <i>/<n>: <address> [<computer>]
//
// GUI (main) thread only.
class PeerPresence : public QObject
{
    Q_OBJECT

public:
    using Print = std::function<void(const QString &line)>;
    struct CallControl
    {
        std::function<bool()> inCall; // whether a call runs (placed or answered)
        std::function<void()> endCall; // hangs up
    };

    // printChanges false keeps the list to printList() (for a single listing).
    PeerPresence(Print print, CallControl call, bool printChanges);
    ~PeerPresence() override;

    // Opens the box and refreshes the list (a "Resend", then the announcements). False when
    // another program on this machine holds the box: this copy then still announces itself but
    // hears nothing.
    bool join();
    // Broadcasts "Resend" (the others rebuild their lists without this copy) and closes the box.
    void leave();
    void printList();

    const QStringList &addressList() const { return m_addresses; }

private:
    void handleMessage(const QString &computer, const QString &text);
    void rebuild();
    void send(const QString &text);

    Print m_print;
    CallControl m_call;
    bool m_printChanges;
    std::unique_ptr<presence::TMailSlot> m_mailSlot;
    QStringList m_raw;
    QStringList m_addresses;
    bool m_joined = false;
};

// An entry of the address list as one printable line: its lines joined by blanks, other control
// characters shown as '?'.
QString printableEntry(const QString &entry);

} // namespace peer
