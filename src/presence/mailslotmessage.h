#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace presence {

// The bytes of one presence datagram: the lines "Message", the sender's user name, the sender's
// computer name and the message text, each ended by CR LF; no length field, no closing zero.
// Text is UTF-8 (the system code page here). Pure functions, any thread.

// Splits text into lines as a text block does: a line ends at CR, LF or CR LF, a zero character
// ends the whole text, a last line without an ending counts, and an ending at the very end adds
// no empty line ("" gives no line, "\r\n" one empty line).
QStringList splitLines(const QString &text);

// Every line followed by CR LF.
QString joinLines(const QStringList &lines);

// "Message", userName, computer, then the lines of text.
QStringList messageLines(const QString &userName, const QString &computer, const QString &text);

// The datagram that carries text from userName on computer.
QByteArray buildMessage(const QString &userName, const QString &computer, const QString &text);

struct ReceivedMessage
{
    QString computer;
    QString userName;
    QString text; // the text lines, each followed by CR LF (empty for no text line)
};

// Reads a datagram: none unless its first line is exactly "Message" and it has the user and the
// computer line (a shorter one is dropped like any other foreign datagram).
std::optional<ReceivedMessage> parseMessage(const QByteArray &datagram);

} // namespace presence
