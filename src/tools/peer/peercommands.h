#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace peer {

// Exit statuses of tobrel-peer, for scripts.
enum ExitStatus
{
    kExitDone = 0, // what was asked is done, or the peer was stopped
    kExitPortTaken = 1, // the UDP port for calls or for pings cannot be used
    kExitUsage = 2, // the arguments or the input file are not usable
    kExitNotAnswered = 3, // a placed call was not answered
    kExitRejected = 4, // a placed call was rejected
    kExitBadAddress = 5, // the address of --call or --ping cannot be resolved or used
    kExitPingNotAnswered = 6, // a ping was not answered
};

// The exit statuses as the help text lists them.
QString exitStatusHelp();

// A line typed to a running peer: "answer", "reject", "hangup", "text <message>" or "quit".
struct PeerCommand
{
    enum Kind
    {
        Answer,
        Reject,
        Hangup,
        Text,
        Quit
    };
    Kind kind = Quit;
    QString text; // the message of Text
};

struct ParsedCommand
{
    std::optional<PeerCommand> command; // none for an empty line or an error
    QString error; // why the line is not a command
};

ParsedCommand parseCommand(const QString &line);

// Why a text cannot travel as a message (empty when it can): it must fit one signalling datagram
// and hold none of the marks that would end, accept or reject the call on the other side.
QString textProblem(const QString &text);

// The commands as the help text lists them.
QString commandHelp();

// Reads lines from a file descriptor (standard input) through the event loop and hands each to
// the handler. End of input stops reading; the peer goes on. GUI (main) thread only.
class CommandInput : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const QString &line)>;

    CommandInput(int fd, Handler handler);
    ~CommandInput() override;

private:
    void readAvailable();

    int m_fd;
    Handler m_handler;
    QByteArray m_pending;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace peer
