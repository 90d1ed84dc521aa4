// Feeds a run of datagrams through the path a received presence message takes: framing, the
// rules, the address list. The input is a sequence of (one length byte, that many bytes) records;
// the last record takes whatever is left. Checks the invariants every copy relies on; a broken one
// aborts, and the sanitizers catch everything out of bounds.

#include "presence/mailslotmessage.h"
#include "presence/networklist.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QStringList kLocalIPs = { "10.0.0.7", "192.168.5.1" };

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

void receive(QStringList &raw, const QByteArray &datagram)
{
    const std::optional<presence::ReceivedMessage> message = presence::parseMessage(datagram);
    if (!message)
        return;

    // The framing reads back what it writes.
    const std::optional<presence::ReceivedMessage> again
        = presence::parseMessage(presence::buildMessage(message->userName, message->computer, message->text));
    check(again && again->computer == message->computer && again->userName == message->userName
            && again->text == message->text,
        "a message built from a received one reads back the same");
    check(message->text.isEmpty() || message->text.endsWith(QStringLiteral("\r\n")), "text lines end in CR LF");

    QStringList sent;
    const qsizetype before = raw.size();
    const presence::MessageKind kind = presence::HandleNewMessage(
        raw, message->computer, message->text, kLocalIPs, [&](const QString &text) { sent << text; });
    switch (kind) {
    case presence::MessageKind::Resend:
        check(raw == QStringList { presence::kLoopbackEntry } && sent == kLocalIPs, "a resend restarts the list");
        break;
    case presence::MessageKind::Stop:
        check(raw.size() == before && sent.isEmpty(), "a stop leaves the list");
        break;
    case presence::MessageKind::Announcement:
        check(sent.isEmpty() && raw.size() <= presence::kMaxRawEntries
                && (before == presence::kMaxRawEntries
                    || message->text.size() + message->computer.size() > presence::kMaxEntryLength
                    || (raw.size() == before + 1 && raw.last() == message->text + message->computer)),
            "an announcement appends one entry unless the list is full or the entry too long");
        check(raw.size() == before || raw.last().size() <= presence::kMaxEntryLength, "entries are bounded");
        break;
    }

    const QStringList addresses = presence::RebuildNetworkList(raw);
    check(addresses.size() <= raw.size(), "no entry is invented");
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        check(raw.contains(addresses[i]), "every listed entry was heard");
        if (i > 0)
            check(presence::compareEntries(addresses[i - 1], addresses[i]) < 0, "sorted without duplicates");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList raw = { presence::kLoopbackEntry };
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++];
        const size_t take = (at + length <= size && length > 0) ? length : size - at;
        receive(raw, QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(take)));
        at += take;
    }
    return 0;
}
