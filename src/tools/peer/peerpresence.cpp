#include "peerpresence.h"

#include "platform/mailslot/mailslotapi.h"
#include "presence/mailslot.h"
#include "presence/mailslotmessage.h"
#include "presence/networklist.h"

namespace peer {

QString printableEntry(const QString &entry)
{
    QString text = presence::splitLines(entry).join(QLatin1Char(' '));
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return text;
}

PeerPresence::PeerPresence(Print print, CallControl call, bool printChanges)
    : m_print(std::move(print))
    , m_call(std::move(call))
    , m_printChanges(printChanges)
    , m_mailSlot(std::make_unique<presence::TMailSlot>())
{
    m_mailSlot->OnNewMessage = [this](QObject *, const QString &computer, const QString &, const QString &text) {
        handleMessage(computer, text);
    };
}

PeerPresence::~PeerPresence() = default;

bool PeerPresence::join()
{
    m_joined = true;
    m_mailSlot->setActive(true);
    const QString box = m_mailSlot->MailBox();
    const QStringList &addresses = presence::LocalIPs();
    m_print(QStringLiteral("presence: %1 on box %2 (UDP port %3) as %4, announcing %5")
                .arg(m_mailSlot->Active() ? QStringLiteral("listening") : QStringLiteral("not listening"), box)
                .arg(platform::mailslot::boxPort(box))
                .arg(m_mailSlot->computerName(),
                    addresses.isEmpty() ? QStringLiteral("no address") : addresses.join(QLatin1Char(' '))));
    if (!m_mailSlot->Active())
        m_print(QStringLiteral("presence: another program on this machine holds the box: this copy announces "
                               "itself but hears nothing"));
    presence::RefreshNetworkList(m_raw, addresses, [this](const QString &text) { send(text); });
    rebuild();
    return m_mailSlot->Active();
}

void PeerPresence::leave()
{
    if (!m_joined)
        return;
    m_joined = false;
    send(presence::kResend);
    m_mailSlot->setActive(false);
}

void PeerPresence::send(const QString &text)
{
    m_mailSlot->Send(text);
}

void PeerPresence::handleMessage(const QString &computer, const QString &text)
{
    const presence::MessageKind kind = presence::HandleNewMessage(
        m_raw, computer, text, presence::LocalIPs(), [this](const QString &reply) { send(reply); });
    if (kind == presence::MessageKind::Resend) {
        m_print(QStringLiteral("presence: Resend from %1").arg(printableEntry(computer)));
    } else if (kind == presence::MessageKind::Stop) {
        m_print(QStringLiteral("presence: Stop from %1").arg(printableEntry(computer)));
        // Like the window's Stop command, which acts only during a call: pass the word on once,
        // then hang up. Copies that are idle ignore it, so the echo dies out.
        if (m_call.inCall && m_call.inCall()) {
            m_print(QStringLiteral("presence: ending the call"));
            send(presence::kStop);
            m_call.endCall();
        }
    }
    rebuild();
}

void PeerPresence::rebuild()
{
    QStringList addresses = presence::RebuildNetworkList(m_raw);
    if (addresses == m_addresses)
        return;
    m_addresses = std::move(addresses);
    if (m_printChanges)
        printList();
}

void PeerPresence::printList()
{
    const qsizetype count = m_addresses.size();
    for (qsizetype i = 0; i < count; ++i)
        m_print(QStringLiteral("listed %1/%2: %3").arg(i + 1).arg(count).arg(printableEntry(m_addresses[i])));
}

} // namespace peer
