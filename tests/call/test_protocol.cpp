#include "call/protocol.h"

#include "framework/exception.h"

#include <gtest/gtest.h>

using namespace call;

namespace {

QByteArray padded(const QByteArray &content)
{
    QByteArray datagram(150, '\0');
    datagram.replace(0, content.size(), content);
    return datagram;
}

} // namespace

TEST(CallProtocol, TheCallRequestIsItsFieldsBetweenMarkersPaddedWithZeros)
{
    const QByteArray request = buildCallRequest("192.168.0.7", 49217, 2, false);
    ASSERT_EQ(request.size(), 150);
    EXPECT_EQ(request, padded("I192.168.0.7P49217V2ZF@"));
    EXPECT_EQ(buildCallRequest("10.0.0.2", 5000, 5, true), padded("I10.0.0.2P5000V5ZT@"));
}

TEST(CallProtocol, MessagesFitUpTo148Characters)
{
    EXPECT_EQ(*buildMessage("^Connected"), padded("^Connected@"));
    EXPECT_EQ(buildMessage(QString(148, 'x'))->size(), 150);
    EXPECT_EQ(buildMessage(QString(148, 'x'))->at(148), '@');
    EXPECT_FALSE(buildMessage(QString(149, 'x')));
    EXPECT_FALSE(buildMessage(QString(400, 'x')));
}

TEST(CallProtocol, TrimmingRemovesControlBytesAndBlanksAtBothEnds)
{
    EXPECT_EQ(trimControl(QByteArray("\0\t  I1P2 \r\n\0", 12)), "I1P2");
    EXPECT_EQ(trimControl(QByteArray(150, '\0')), "");
    EXPECT_EQ(trimControl("a b"), "a b");
}

TEST(CallRequestParser, AdoptsEveryFieldOfAWellFormedRequest)
{
    CallerSettings settings { "127.0.0.1", 8000, 2, false };
    const QByteArray echo = parseCallRequest(padded("I10.0.0.2P5000V5ZT@"), settings);
    EXPECT_EQ(echo, "I10.0.0.2P5000V5ZT");
    EXPECT_EQ(settings.remoteIp, "10.0.0.2");
    EXPECT_EQ(settings.remotePort, 5000);
    EXPECT_EQ(settings.connection, 5);
    EXPECT_TRUE(settings.userChosenCodec);
}

TEST(CallRequestParser, OddRequestsFollowTheStateMachine)
{
    struct Case
    {
        const char *name;
        QByteArray datagram;
        CallerSettings expected;
        QByteArray echo;
    };
    const CallerSettings own { "own", 7, 2, true };
    const Case cases[] = {
        { "the codec is the last digit before Z", padded("I1.2.3.4P9V123ZF@"), { "1.2.3.4", 9, 3, false },
            "I1.2.3.4P9V123ZF" },
        { "the last character before @ decides the flag", padded("I1.2.3.4P9V1ZxT@"), { "1.2.3.4", 9, 1, true },
            "I1.2.3.4P9V1ZxT" },
        { "anything but T means False", padded("I1.2.3.4P9V1ZTx@"), { "1.2.3.4", 9, 1, false }, "I1.2.3.4P9V1ZTx" },
        { "a request without Z keeps the callee's own flag", QByteArray("I1.2.3.4P9V") + QByteArray(139, '4'),
            { "1.2.3.4", 9, 4, true }, QByteArray("I1.2.3.4P9V") + QByteArray(139, '4') },
        { "a port that is not a number gives 0", padded("I1.2.3.4PabcV1ZF@"), { "1.2.3.4", 0, 1, false },
            "I1.2.3.4PabcV1ZF" },
        { "a port without V is cleared and never set", padded("I1.2.3.4P9@"), { "1.2.3.4", 0, 2, true }, "I1.2.3.4P9" },
        { "a port outside 1..65535 is kept as parsed", padded("I1.2.3.4P70000V2ZF@"), { "1.2.3.4", 70000, 2, false },
            "I1.2.3.4P70000V2ZF" },
        { "a second I starts the address again", padded("I1.1I2.2P3V0ZF@"), { "2.2", 3, 0, false }, "I1.1I2.2P3V0ZF" },
        { "text before I is part of the echo", padded("  I5.6.7.8P1V1ZF@"), { "5.6.7.8", 1, 1, false },
            "  I5.6.7.8P1V1ZF" },
        { "without @ the whole datagram is parsed", QByteArray("I9.9.9.9P1V2ZT") + QByteArray(136, 'T'),
            { "9.9.9.9", 1, 2, true }, QByteArray("I9.9.9.9P1V2ZT") + QByteArray(136, 'T') },
        { "the flag is not taken from the very last byte", QByteArray("I9.9.9.9P1V2ZF") + QByteArray(135, 'F') + "T",
            { "9.9.9.9", 1, 2, false }, QByteArray("I9.9.9.9P1V2ZF") + QByteArray(135, 'F') + "T" },
    };
    for (const Case &c : cases) {
        CallerSettings settings = own;
        const QByteArray echo = parseCallRequest(c.datagram, settings);
        EXPECT_EQ(settings.remoteIp, c.expected.remoteIp) << c.name;
        EXPECT_EQ(settings.remotePort, c.expected.remotePort) << c.name;
        EXPECT_EQ(settings.connection, c.expected.connection) << c.name;
        EXPECT_EQ(settings.userChosenCodec, c.expected.userChosenCodec) << c.name;
        EXPECT_EQ(echo, c.echo) << c.name;
    }
}

TEST(CallRequestParser, ANonDigitCodecRaisesAndKeepsWhatWasParsedBefore)
{
    CallerSettings ended { "own", 7, 2, false };
    // "@" (or the padding) right after the codec digits is not a digit either.
    EXPECT_THROW(parseCallRequest(padded("I1.2.3.4P9V4@"), ended), framework::Exception);
    EXPECT_EQ(ended.connection, 4);
    CallerSettings settings { "own", 7, 2, false };
    try {
        parseCallRequest(padded("I1.2.3.4P99VxZT@"), settings);
        FAIL() << "no exception";
    } catch (const framework::Exception &e) {
        EXPECT_EQ(e.message(), "Invalid codec in call request: 'x' is not a valid integer value");
    }
    EXPECT_EQ(settings.remoteIp, "1.2.3.4");
    EXPECT_EQ(settings.remotePort, 99);
    EXPECT_EQ(settings.connection, 2);
}

TEST(MessageScan, MarksAndCleanedText)
{
    struct Case
    {
        QByteArray datagram;
        bool accepted, ended, rejected;
        QByteArray text;
    };
    const Case cases[] = {
        { padded("Hello@"), false, false, false, "Hello" },
        { padded("  ^Connected@"), true, false, false, "Connected" },
        { padded("~Connection ended.@"), false, true, false, "Connection ended." },
        { padded("x|y@"), false, false, true, "x y" },
        { padded("@"), false, false, false, "" },
        { QByteArray(150, '\0'), false, false, false, "" },
        { padded("a@^~|"), false, false, false, "a" },
        { QByteArray(150, 'z'), false, false, false, QByteArray(150, 'z') },
        { padded("^~|both@"), true, true, true, "both" },
    };
    for (const Case &c : cases) {
        const MessageContent m = scanMessage(c.datagram);
        EXPECT_EQ(m.accepted, c.accepted) << c.datagram.constData();
        EXPECT_EQ(m.ended, c.ended) << c.datagram.constData();
        EXPECT_EQ(m.rejected, c.rejected) << c.datagram.constData();
        EXPECT_EQ(m.text, c.text) << c.datagram.constData();
    }
}
