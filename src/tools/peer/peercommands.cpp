#include "peercommands.h"

#include "call/codectable.h"

#include <QSocketNotifier>

#include <unistd.h>
#include <utility>

namespace peer {

namespace {

// A message travels as its text and "@" in one signalling datagram.
constexpr int kMaxTextLength = int(call::kSignalSize) - 2;
constexpr qsizetype kMaxLineBytes = 4096;

} // namespace

QString exitStatusHelp()
{
    return QStringLiteral("Exit status:\n"
                          "  0  done: the call was answered and has ended, the ping was answered, or the\n"
                          "     peer was stopped (Ctrl-C, --duration, quit)\n"
                          "  1  the UDP port for calls or for pings (for --list: the presence box) cannot be\n"
                          "     used\n"
                          "  2  the arguments, the input file or a sound device named by --input-device or\n"
                          "     --output-device are not usable\n"
                          "  3  the call was not answered (within --wait seconds, or the other side ended it)\n"
                          "  4  the call was rejected\n"
                          "  5  the address of --call or --ping cannot be resolved or used\n"
                          "  6  the ping was not answered within --wait seconds\n");
}

QString commandHelp()
{
    return QStringLiteral("Lines on standard input drive a running peer:\n"
                          "  answer          answer the call that is ringing (after --no-answer)\n"
                          "  reject          reject the call that is ringing\n"
                          "  hangup          end the call\n"
                          "  text <message>  send a text to the other side of the call\n"
                          "  quit            hang up and exit\n");
}

QString textProblem(const QString &text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("the text is empty");
    if (text.size() > kMaxTextLength)
        return QStringLiteral("the text has %1 characters, at most %2 fit").arg(text.size()).arg(kMaxTextLength);
    for (const QChar c : text) {
        if (c.unicode() > 0xFF || c.unicode() < 32)
            return QStringLiteral("the text may hold printable Latin-1 characters only");
        // The other side reads these as the end of the text, or as ending, accepting or rejecting
        // the call.
        if (c == QLatin1Char('@') || c == QLatin1Char('~') || c == QLatin1Char('^') || c == QLatin1Char('|'))
            return QStringLiteral("the text may not hold the characters @ ~ ^ |");
    }
    if (text.trimmed().startsWith(QLatin1Char('I')))
        return QStringLiteral("the text may not begin with I: the other side would take it for a call request");
    return {};
}

ParsedCommand parseCommand(const QString &line)
{
    ParsedCommand parsed;
    const QString trimmed = line.trimmed();
    const qsizetype blank = trimmed.indexOf(QLatin1Char(' '));
    const QString word = trimmed.left(blank < 0 ? trimmed.size() : blank).toLower();
    const QString rest = blank < 0 ? QString() : trimmed.mid(blank + 1).trimmed();
    const struct
    {
        const char *word;
        PeerCommand::Kind kind;
    } simple[] = { { "answer", PeerCommand::Answer }, { "reject", PeerCommand::Reject },
        { "hangup", PeerCommand::Hangup }, { "quit", PeerCommand::Quit } };
    if (trimmed.isEmpty())
        return parsed;
    if (word == QLatin1String("text")) {
        parsed.error = textProblem(rest);
        if (parsed.error.isEmpty())
            parsed.command = PeerCommand { PeerCommand::Text, rest };
        return parsed;
    }
    for (const auto &entry : simple) {
        if (word != QLatin1String(entry.word))
            continue;
        if (!rest.isEmpty())
            parsed.error = QStringLiteral("'%1' takes no argument").arg(word);
        else
            parsed.command = PeerCommand { entry.kind, {} };
        return parsed;
    }
    parsed.error = QStringLiteral("unknown command '%1'; the commands are answer, reject, hangup, text <message>, quit")
                       .arg(word);
    return parsed;
}

CommandInput::CommandInput(int fd, Handler handler)
    : m_fd(fd)
    , m_handler(std::move(handler))
{
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CommandInput::readAvailable);
}

CommandInput::~CommandInput() = default;

void CommandInput::readAvailable()
{
    // One read per notice: the descriptor is readable, so it does not block, and it stays in
    // blocking mode for whoever shares it (a terminal) after the peer has gone.
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n <= 0) {
        m_notifier->setEnabled(false); // end of input (or an error): the peer runs on without it
        if (!m_pending.isEmpty())
            m_handler(QString::fromLocal8Bit(std::exchange(m_pending, {})));
        return;
    }
    m_pending.append(buffer, n);
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        m_handler(QString::fromLocal8Bit(line));
    }
    // No command is this long: hand it over (to be refused) rather than hold input without end.
    if (m_pending.size() > kMaxLineBytes)
        m_handler(QString::fromLocal8Bit(std::exchange(m_pending, {})));
}

} // namespace peer
