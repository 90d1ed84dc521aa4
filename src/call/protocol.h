#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace call {

// Signalling datagrams: 150 bytes of 8-bit text, the content ended by "@" and padded with zero
// bytes. Every other size is voice.

// "I<ip>P<port>V<codec>Z<T|F>@", padded.
QByteArray buildCallRequest(const QString &localIp, int localPort, uint8_t codec, bool userChosenCodec);
// text + "@", padded; none when that does not fit (a text of 149 characters or more).
std::optional<QByteArray> buildMessage(const QString &text);

// Removes leading and trailing bytes of value 32 or less.
QByteArray trimControl(const QByteArray &bytes);
// Signalling text is 8-bit: every byte maps to one character and back.
inline QString signalText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// The caller's settings as a request leaves them.
struct CallerSettings
{
    QString remoteIp;
    int remotePort = 0;
    uint8_t connection = 0;
    bool userChosenCodec = false;
};

// Parses a call request over all of s, starting from the given settings (the callee's own) and
// changing what the request names. Returns the request text before its "@" (all of s when there
// is none). A codec character that is not a decimal digit raises framework::Exception; the
// settings parsed before it stay changed. A port is kept as parsed, even outside 1..65535 (0 when
// its text is no number).
QByteArray parseCallRequest(const QByteArray &s, CallerSettings &settings);

// What a message datagram says: its marks and its cleaned text ("^" and "|" become blanks, "~"
// and everything from the first "@" on are left out, then trimmed).
struct MessageContent
{
    bool accepted = false;
    bool ended = false;
    bool rejected = false;
    QByteArray text;
};
MessageContent scanMessage(const QByteArray &s);

} // namespace call
