#include "presence/networklist.h"

#include "platform/winsock.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using presence::MessageKind;

namespace {

const QStringList kLocal = { "10.0.0.7", "192.168.5.1" };

struct Sent
{
    QStringList texts;
    presence::SendText function()
    {
        return [this](const QString &text) { texts << text; };
    }
};

QString runText(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

TEST(PresenceRules, RefreshAndAnnounceSelfRestartTheRawListAndAnnounceEveryAddress)
{
    Sent sent;
    QStringList raw = { "127.0.0.1", "10.0.0.9\r\nB" };
    presence::RefreshNetworkList(raw, kLocal, sent.function());
    EXPECT_EQ(raw, QStringList { "127.0.0.1" });
    EXPECT_EQ(sent.texts, (QStringList { "Resend", "10.0.0.7", "192.168.5.1" }));

    // With no address, nothing is announced; alone on the LAN the list keeps its first entry only.
    sent.texts.clear();
    raw = QStringList { "x" };
    presence::AnnounceSelf(raw, {}, sent.function());
    EXPECT_EQ(raw, QStringList { "127.0.0.1" });
    EXPECT_TRUE(sent.texts.isEmpty());
    EXPECT_EQ(presence::RebuildNetworkList(raw), QStringList { "127.0.0.1" });
}

TEST(PresenceRules, ReceivedTextsAreTakenByTheirPrefix)
{
    struct Case
    {
        QString text;
        MessageKind kind;
        QStringList raw; // after handling, starting from { "127.0.0.1", "old\r\nA" }
        QStringList sent;
    };
    const QStringList before = { "127.0.0.1", "old\r\nA" };
    const Case cases[] = {
        { "Resend\r\n", MessageKind::Resend, { "127.0.0.1" }, kLocal },
        { "Resending\r\n", MessageKind::Resend, { "127.0.0.1" }, kLocal },
        { "Stop\r\n", MessageKind::Stop, before, {} },
        { "Stopped", MessageKind::Stop, before, {} },
        { "stop\r\n", MessageKind::Announcement, before + QStringList { "stop\r\nOFFICE2" }, {} },
        { "Res\r\n", MessageKind::Announcement, before + QStringList { "Res\r\nOFFICE2" }, {} },
        { "192.168.1.5\r\n", MessageKind::Announcement, before + QStringList { "192.168.1.5\r\nOFFICE2" }, {} },
        { "", MessageKind::Announcement, before + QStringList { "OFFICE2" }, {} },
    };
    for (const Case &c : cases) {
        Sent sent;
        QStringList raw = before;
        EXPECT_EQ(presence::HandleNewMessage(raw, "OFFICE2", c.text, kLocal, sent.function()), c.kind)
            << c.text.toStdString();
        EXPECT_EQ(raw, c.raw) << c.text.toStdString();
        EXPECT_EQ(sent.texts, c.sent) << c.text.toStdString();
    }

    // A full raw list takes no more announcements, but a refresh still empties it.
    QStringList full(presence::kMaxRawEntries, "10.0.0.1\r\nA");
    Sent sent;
    presence::HandleNewMessage(full, "B", "10.0.0.2\r\n", kLocal, sent.function());
    EXPECT_EQ(full.size(), presence::kMaxRawEntries);
    EXPECT_FALSE(full.contains("10.0.0.2\r\nB"));
    presence::HandleNewMessage(full, "B", "Resend\r\n", kLocal, sent.function());
    EXPECT_EQ(full, QStringList { "127.0.0.1" });

    // Nor does it take an entry longer than the bound (one datagram can carry 64 KiB of line
    // breaks, which every rebuild would compare); the two words still count at any length.
    struct Long
    {
        QString text;
        QString computer;
        MessageKind kind;
        bool kept;
    };
    const QString address = "10.0.0.3\r\n";
    const qsizetype room = presence::kMaxEntryLength - address.size() - 1;
    const Long longCases[] = {
        { address + QString(room, 'x'), "B", MessageKind::Announcement, true },
        { address + QString(room + 1, 'x'), "B", MessageKind::Announcement, false },
        { address, QString(presence::kMaxEntryLength, 'C'), MessageKind::Announcement, false },
        { QString("\r\n").repeated(32000), "B", MessageKind::Announcement, false },
        { "Stop" + QString("\r\n").repeated(32000), "B", MessageKind::Stop, false },
        { "Resend" + QString("\r\n").repeated(32000), "B", MessageKind::Resend, false },
    };
    for (const Long &c : longCases) {
        QStringList raw = { "127.0.0.1" };
        EXPECT_EQ(presence::HandleNewMessage(raw, c.computer, c.text, kLocal, sent.function()), c.kind)
            << c.text.size();
        EXPECT_EQ(raw.contains(c.text + c.computer), c.kept) << c.text.size();
        EXPECT_EQ(raw.size(), c.kept ? 2 : 1) << c.text.size();
    }
}

TEST(PresenceRules, TheAddressListIsSortedWithoutCaseDuplicates)
{
    struct Case
    {
        QStringList raw;
        QStringList addresses;
    };
    const Case cases[] = {
        { {}, {} },
        { { "127.0.0.1", "10.0.0.5\r\nB", "10.0.0.5\r\nB", "10.0.0.2\r\nA" },
            { "10.0.0.2\r\nA", "10.0.0.5\r\nB", "127.0.0.1" } },
        { { "b\r\nHOST", "a", "B\r\nhost" }, { "a", "b\r\nHOST" } },
        { { "10.0.0.5\r\nB", "10.0.0.5\r\nC" }, { "10.0.0.5\r\nB", "10.0.0.5\r\nC" } },
        { { "c", "B", "a" }, { "a", "B", "c" } },
        { { "10.0.0.9", "10.0.0.10" }, { "10.0.0.10", "10.0.0.9" } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(presence::RebuildNetworkList(c.raw), c.addresses) << c.raw.join('|').toStdString();
    EXPECT_LT(presence::compareEntries("a", "B"), 0);
    EXPECT_EQ(presence::compareEntries("host", "HOST"), 0);

    // An entry chosen from the list works as a call address.
    EXPECT_EQ(platform::winsock::inetAddr("192.168.1.5\r\nOFFICE2"), platform::winsock::inetAddr("192.168.1.5"));
}

TEST(PresenceRules, LocalAddressesAreTheInterfacesThatIpReportsDefaultRouteFirst)
{
    const QString addressText = runText("ip", { "-o", "-4", "addr", "show", "up" });
    if (addressText.isEmpty())
        GTEST_SKIP() << "iproute2 (ip) is not available";
    QStringList expected;
    QString defaultAddress;
    const QString defaultDevice
        = QRegularExpression(R"(\bdev\s+(\S+))").match(runText("ip", { "-4", "route", "show", "default" })).captured(1);
    const QRegularExpression inet(R"(^\d+:\s+(\S+)\s+inet\s+([0-9.]+)/)");
    for (const QString &line : addressText.split('\n')) {
        const QRegularExpressionMatch match = inet.match(line);
        if (!match.hasMatch() || match.captured(2).startsWith("127."))
            continue;
        expected << match.captured(2);
        if (match.captured(1) == defaultDevice && defaultAddress.isEmpty())
            defaultAddress = match.captured(2);
    }
    const QStringList found = presence::findLocalIPs();
    EXPECT_LE(found.size(), presence::kMaxLocalIPs);
    if (expected.size() <= presence::kMaxLocalIPs) {
        EXPECT_EQ(QSet<QString>(found.begin(), found.end()), QSet<QString>(expected.begin(), expected.end()));
    }
    if (!defaultAddress.isEmpty()) {
        EXPECT_EQ(found.value(0), defaultAddress);
    }
    EXPECT_EQ(presence::LocalIPs(), found);
}
