#include "presence/mailslotmessage.h"

#include <gtest/gtest.h>

using presence::parseMessage;

namespace {

QByteArray bytes(const char *text, size_t length)
{
    return QByteArray(text, qsizetype(length));
}

} // namespace

TEST(MailslotMessage, LinesEndAtCrLfOrCrLfAndAZeroEndsTheText)
{
    struct Case
    {
        QString text;
        QStringList lines;
    };
    const Case cases[] = {
        { "", {} },
        { "abc", { "abc" } },
        { "a\r\nb\r\n", { "a", "b" } },
        { "a\rb\nc", { "a", "b", "c" } },
        { "a\n\rb", { "a", "", "b" } },
        { "a\r\r\n", { "a", "" } },
        { "\r\n", { "" } },
        { "a\r\n\r\nb", { "a", "", "b" } },
        { QString::fromUtf8(bytes("a\0b\r\nc", 6)), { "a" } },
        { QString::fromUtf8(bytes("\0abc", 4)), {} },
    };
    for (const Case &c : cases)
        EXPECT_EQ(presence::splitLines(c.text), c.lines) << c.text.toStdString();
}

TEST(MailslotMessage, DatagramsAreBuiltLineByLine)
{
    EXPECT_EQ(presence::buildMessage("u", "c", "abc"), "Message\r\nu\r\nc\r\nabc\r\n");
    EXPECT_EQ(presence::buildMessage("u", "c", ""), "Message\r\nu\r\nc\r\n");
    EXPECT_EQ(presence::buildMessage("u", "c", "x\ny\r"), "Message\r\nu\r\nc\r\nx\r\ny\r\n");
    EXPECT_EQ(presence::buildMessage("Jür", "PC", "é"), QString("Message\r\nJür\r\nPC\r\né\r\n").toUtf8());
}

TEST(MailslotMessage, ReceivedDatagramsGiveComputerUserAndTextOrAreDropped)
{
    struct Case
    {
        QByteArray datagram;
        bool kept;
        QString computer;
        QString user;
        QString text;
    };
    const Case cases[] = {
        { "Message\r\nu\r\nc\r\nx\r\ny\r\n", true, "c", "u", "x\r\ny\r\n" },
        { "Message\r\nu\r\nc\r\n", true, "c", "u", "" },
        { "Message\r\nu\r\nc", true, "c", "u", "" },
        { "Message\nu\rc\r\nx", true, "c", "u", "x\r\n" },
        { "Message\r\n\r\n\r\n10.0.0.1\r\n", true, "", "", "10.0.0.1\r\n" },
        { bytes("Message\r\nu\r\nc\r\nab\0cd\r\n", 23), true, "c", "u", "ab\r\n" },
        { "Message\r\nu\r\n\xff\xfe\r\nx", true, "\ufffd\ufffd", "u", "x\r\n" },
        // Too short to carry both names, or not a presence message at all.
        { "Message\r\nu\r\n", false, {}, {}, {} },
        { "Message", false, {}, {}, {} },
        { bytes("Message\r\nu\0\r\nc\r\nx", 17), false, {}, {}, {} },
        { "message\r\nu\r\nc\r\nx", false, {}, {}, {} },
        { "Message \r\nu\r\nc\r\nx", false, {}, {}, {} },
        { bytes("\0Message\r\nu\r\nc\r\n", 17), false, {}, {}, {} },
        { "", false, {}, {}, {} },
    };
    for (const Case &c : cases) {
        const auto message = parseMessage(c.datagram);
        ASSERT_EQ(message.has_value(), c.kept) << c.datagram.toStdString();
        if (!message)
            continue;
        EXPECT_EQ(message->computer, c.computer) << c.datagram.toStdString();
        EXPECT_EQ(message->userName, c.user) << c.datagram.toStdString();
        EXPECT_EQ(message->text, c.text) << c.datagram.toStdString();
    }
}
