#include "presence/mailslotmessage.h"

namespace presence {

namespace {

const QString kMessageMarker = QStringLiteral("Message");

} // namespace

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype end = text.indexOf(QChar(0));
    if (end < 0)
        end = text.size();
    qsizetype start = 0;
    while (start < end) {
        qsizetype stop = start;
        while (stop < end && text[stop] != u'\r' && text[stop] != u'\n')
            ++stop;
        lines << text.mid(start, stop - start);
        if (stop < end && text[stop] == u'\r')
            ++stop;
        if (stop < end && text[stop] == u'\n')
            ++stop;
        start = stop;
    }
    return lines;
}

QString joinLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

QStringList messageLines(const QString &userName, const QString &computer, const QString &text)
{
    return QStringList { kMessageMarker, userName, computer } + splitLines(text);
}

QByteArray buildMessage(const QString &userName, const QString &computer, const QString &text)
{
    return joinLines(messageLines(userName, computer, text)).toUtf8();
}

std::optional<ReceivedMessage> parseMessage(const QByteArray &datagram)
{
    const qsizetype zero = datagram.indexOf('\0');
    QStringList lines = splitLines(QString::fromUtf8(zero < 0 ? datagram : datagram.left(zero)));
    if (lines.size() < 3 || lines[0] != kMessageMarker)
        return std::nullopt;
    ReceivedMessage message;
    message.userName = lines[1];
    message.computer = lines[2];
    lines.erase(lines.begin(), lines.begin() + 3);
    message.text = joinLines(lines);
    return message;
}

} // namespace presence
