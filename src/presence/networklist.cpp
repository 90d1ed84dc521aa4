#include "presence/networklist.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace presence {

const QString kResend = QStringLiteral("Resend");
const QString kStop = QStringLiteral("Stop");
const QString kLoopbackEntry = QStringLiteral("127.0.0.1");

namespace {

QCollator makeCollator()
{
    QCollator collator { QLocale() };
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

void AnnounceSelf(QStringList &rawList, const QStringList &localIPs, const SendText &send)
{
    rawList = QStringList { kLoopbackEntry };
    for (const QString &address : localIPs)
        send(address);
}

void RefreshNetworkList(QStringList &rawList, const QStringList &localIPs, const SendText &send)
{
    send(kResend);
    AnnounceSelf(rawList, localIPs, send);
}

MessageKind messageKind(const QString &text)
{
    if (text.startsWith(kResend))
        return MessageKind::Resend;
    if (text.startsWith(kStop))
        return MessageKind::Stop;
    return MessageKind::Announcement;
}

MessageKind HandleNewMessage(QStringList &rawList, const QString &computer, const QString &text,
    const QStringList &localIPs, const SendText &send)
{
    const MessageKind kind = messageKind(text);
    if (kind == MessageKind::Resend)
        AnnounceSelf(rawList, localIPs, send);
    else if (kind == MessageKind::Announcement && rawList.size() < kMaxRawEntries
        && text.size() + computer.size() <= kMaxEntryLength)
        rawList << text + computer;
    return kind;
}

int compareEntries(const QString &a, const QString &b)
{
    static const QCollator collator = makeCollator();
    const int order = collator.compare(a, b);
    // Texts the locale cannot tell apart at all (a collator ignores control characters such as
    // the line break) still get a fixed order.
    return order != 0 ? order : a.compare(b, Qt::CaseInsensitive);
}

QStringList RebuildNetworkList(const QStringList &rawList)
{
    QStringList sorted;
    for (const QString &entry : rawList) {
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), entry,
            [](const QString &listed, const QString &added) { return compareEntries(listed, added) < 0; });
        if (at == sorted.end() || compareEntries(*at, entry) != 0)
            sorted.insert(at, entry);
    }
    return sorted;
}

} // namespace presence
