#include "call/protocol.h"

#include "call/codectable.h"
#include "framework/exception.h"

namespace call {

namespace {

QByteArray padded(const QByteArray &content)
{
    QByteArray datagram(int(kSignalSize), '\0');
    datagram.replace(0, content.size(), content);
    return datagram;
}

} // namespace

QByteArray buildCallRequest(const QString &localIp, int localPort, uint8_t codec, bool userChosenCodec)
{
    const QByteArray content = "I" + localIp.toLatin1() + "P" + QByteArray::number(localPort) + "V"
        + QByteArray::number(codec) + "Z" + (userChosenCodec ? "T" : "F") + "@";
    // An over-long local address cannot make the request longer than a signalling datagram.
    return padded(content.left(int(kSignalSize)));
}

std::optional<QByteArray> buildMessage(const QString &text)
{
    const QByteArray content = text.toLatin1() + "@";
    if (content.size() >= int(kSignalSize))
        return std::nullopt;
    return padded(content);
}

QByteArray trimControl(const QByteArray &bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && uint8_t(bytes[begin]) <= 32)
        ++begin;
    while (end > begin && uint8_t(bytes[end - 1]) <= 32)
        --end;
    return bytes.mid(begin, end - begin);
}

QByteArray parseCallRequest(const QByteArray &s, CallerSettings &settings)
{
    QByteArray port;
    QByteArray echo;
    int state = 0;
    for (qsizetype i = 0; i < s.size() && state < 5; ++i) {
        const char c = s[i];
        switch (state) {
        case 1:
            if (c != 'P')
                settings.remoteIp += QLatin1Char(c);
            break;
        case 2:
            if (c != 'V')
                port += c;
            break;
        case 3:
            if (c != 'Z') {
                if (c < '0' || c > '9')
                    throw framework::Exception(
                        QStringLiteral("Invalid codec in call request: '%1' is not a valid integer value")
                            .arg(QLatin1Char(c)));
                settings.connection = uint8_t(c - '0');
            }
            break;
        case 4:
            if (i != s.size() - 1 && c != '@')
                settings.userChosenCodec = c == 'T';
            break;
        default:
            break;
        }
        switch (c) {
        case 'I':
            settings.remoteIp.clear();
            state = 1;
            break;
        case 'P':
            settings.remotePort = 0;
            state = 2;
            break;
        case 'V': {
            state = 3;
            bool ok = false;
            const int value = port.toInt(&ok);
            // Kept as parsed: only a callee that adopts it needs a port it can answer to.
            if (ok)
                settings.remotePort = value;
            break;
        }
        case 'Z':
            settings.userChosenCodec = false;
            state = 4;
            break;
        case '@':
            state = 5;
            break;
        default:
            break;
        }
        if (state < 5)
            echo += c;
    }
    return echo;
}

MessageContent scanMessage(const QByteArray &s)
{
    MessageContent result;
    QByteArray text;
    for (char c : s) {
        if (c == '~')
            result.ended = true;
        if (c == '^') {
            result.accepted = true;
            c = ' ';
        }
        if (c == '|') {
            result.rejected = true;
            c = ' ';
        }
        if (c != '@' && c != '~')
            text += c;
        if (c == '@')
            break;
    }
    result.text = trimControl(text);
    return result;
}

} // namespace call
