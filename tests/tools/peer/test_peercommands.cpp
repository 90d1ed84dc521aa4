#include "peercommands.h"

#include <gtest/gtest.h>

using peer::PeerCommand;

TEST(PeerCommands, LinesAndWhatTheyMean)
{
    const struct
    {
        const char *line;
        std::optional<PeerCommand::Kind> kind;
        const char *textOrError; // the text of a Text command, or the start of the error
    } cases[] = {
        { "answer", PeerCommand::Answer, "" },
        { "  Hangup \r", PeerCommand::Hangup, "" },
        { "reject", PeerCommand::Reject, "" },
        { "quit", PeerCommand::Quit, "" },
        { "text  Bye for now ", PeerCommand::Text, "Bye for now" },
        { "", std::nullopt, "" },
        { "   ", std::nullopt, "" },
        { "answer now", std::nullopt, "'answer' takes no argument" },
        { "dial 10.0.0.1", std::nullopt, "unknown command 'dial'" },
        { "text", std::nullopt, "the text is empty" },
        { "text a@b", std::nullopt, "the text may not hold the characters @ ~ ^ |" },
        { "text ~end", std::nullopt, "the text may not hold the characters @ ~ ^ |" },
        { "text I am here", std::nullopt, "the text may not begin with I" },
        { "text caf\u00e9 \u20ac", std::nullopt, "the text may hold printable Latin-1 characters only" },
    };
    for (const auto &c : cases) {
        const peer::ParsedCommand parsed = peer::parseCommand(QString::fromUtf8(c.line));
        SCOPED_TRACE(c.line);
        ASSERT_EQ(parsed.command.has_value(), c.kind.has_value()) << parsed.error.toStdString();
        if (parsed.command) {
            EXPECT_EQ(parsed.command->kind, *c.kind);
            EXPECT_EQ(parsed.command->text, QString::fromUtf8(c.textOrError));
            EXPECT_TRUE(parsed.error.isEmpty());
        } else if (*c.textOrError == '\0') {
            EXPECT_TRUE(parsed.error.isEmpty()) << "an empty line is no error";
        } else {
            EXPECT_TRUE(parsed.error.startsWith(QString::fromUtf8(c.textOrError))) << parsed.error.toStdString();
        }
    }
    // The longest text that fits one signalling datagram with its end mark.
    EXPECT_TRUE(peer::textProblem(QString(148, QLatin1Char('x'))).isEmpty());
    EXPECT_FALSE(peer::textProblem(QString(149, QLatin1Char('x'))).isEmpty());
}
