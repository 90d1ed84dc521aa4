#include "platform/mailslot/mailslotapi.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

namespace ms = platform::mailslot;

namespace {

// A box name of this process, so that parallel test processes never share a port by name.
QString boxName()
{
    return QStringLiteral("t%1").arg(::getpid() % 0x1000000, 0, 16);
}

QString localPath(const QString &box)
{
    return QStringLiteral("\\\\.\\mailslot\\") + box;
}

bool send(const QString &path, const QByteArray &bytes)
{
    const ms::Handle file = ms::createFile(path);
    if (file == ms::kInvalidHandle)
        return false;
    uint32_t written = 0;
    const bool ok = ms::writeFile(file, bytes.constData(), uint32_t(bytes.size()), &written);
    ms::closeHandle(file);
    return ok && written == uint32_t(bytes.size());
}

// Waits (bounded) until the box reports a message; loopback delivery is immediate but not
// synchronous with the send.
bool waitForMessage(ms::Handle box, uint32_t &size)
{
    for (int i = 0; i < 200; ++i) {
        uint32_t count = 0;
        if (ms::getMailslotInfo(box, &size, &count) && count > 0)
            return true;
        ::usleep(5000);
    }
    return false;
}

QByteArray readNext(ms::Handle box)
{
    uint32_t size = 0;
    if (!waitForMessage(box, size))
        return "<none>";
    QByteArray bytes(qsizetype(size), '\0');
    uint32_t read = 0;
    if (!ms::readFile(box, bytes.data(), size, &read))
        return "<read failed>";
    bytes.truncate(read);
    return bytes;
}

class MailslotBox : public ::testing::Test
{
protected:
    void SetUp() override
    {
        box = ms::createMailslot(localPath(boxName()));
        ASSERT_NE(box, ms::kInvalidHandle) << "error " << ms::lastError();
        previousTargets = ms::setBroadcastTargets([] { return std::vector<uint32_t> { htonl(INADDR_LOOPBACK) }; });
    }
    void TearDown() override
    {
        ms::setBroadcastTargets(previousTargets);
        ms::closeHandle(box);
    }
    ms::Handle box = ms::kInvalidHandle;
    ms::BroadcastTargets previousTargets;
};

} // namespace

TEST(MailslotNames, PortIsFnv1aOfTheUpperCaseNameAndPathsAreChecked)
{
    EXPECT_EQ(ms::boxPort("MailBox"), 60779);
    EXPECT_EQ(ms::boxPort("mailbox"), 60779);
    EXPECT_EQ(ms::boxPort("MAILBOX"), 60779);
    for (const char *name : { "a", "Voxhall", "x\\y", "" }) {
        EXPECT_GE(ms::boxPort(name), 49152);
        EXPECT_NE(ms::boxPort(name), 60779);
    }

    struct Case
    {
        const char *path;
        const char *machine; // null: refused
        const char *box;
    };
    const Case cases[] = {
        { "\\\\.\\mailslot\\MailBox", ".", "MailBox" },
        { "\\\\*\\MAILSLOT\\MailBox", "*", "MailBox" },
        { "\\\\10.0.0.7\\MailSlot\\a\\b", "10.0.0.7", "a\\b" },
        { "\\\\.\\mailslot\\", nullptr, nullptr },
        { "\\\\\\mailslot\\x", nullptr, nullptr },
        { "\\\\.\\pipe\\x", nullptr, nullptr },
        { "\\.\\mailslot\\x", nullptr, nullptr },
        { "", nullptr, nullptr },
    };
    for (const Case &c : cases) {
        QString machine = "unset";
        QString box = "unset";
        const bool ok = ms::splitMailslotName(c.path, machine, box);
        EXPECT_EQ(ok, c.machine != nullptr) << c.path;
        if (ok && c.machine) {
            EXPECT_EQ(machine, c.machine) << c.path;
            EXPECT_EQ(box, c.box) << c.path;
        }
    }
}

TEST_F(MailslotBox, IsHeldExclusivelyUntilClosed)
{
    EXPECT_EQ(ms::createMailslot(localPath(boxName())), ms::kInvalidHandle);
    EXPECT_EQ(ms::lastError(), ms::ERROR_ALREADY_EXISTS);
    // Case does not make another box: the port is the same.
    EXPECT_EQ(ms::createMailslot(localPath(boxName().toUpper())), ms::kInvalidHandle);
    EXPECT_EQ(ms::createMailslot("\\\\*\\mailslot\\x"), ms::kInvalidHandle);
    EXPECT_EQ(ms::lastError(), ms::ERROR_INVALID_NAME);

    ASSERT_TRUE(ms::closeHandle(box));
    EXPECT_FALSE(ms::closeHandle(box));
    EXPECT_EQ(ms::lastError(), ms::ERROR_INVALID_HANDLE);
    box = ms::createMailslot(localPath(boxName()));
    EXPECT_NE(box, ms::kInvalidHandle);
}

TEST_F(MailslotBox, KeepsDatagramBoundariesAndNeverCutsAMessage)
{
    uint32_t size = 0;
    uint32_t count = 7;
    ASSERT_TRUE(ms::getMailslotInfo(box, &size, &count));
    EXPECT_EQ(size, ms::kNoMessage);
    EXPECT_EQ(count, 0u);
    char byte;
    uint32_t read = 99;
    EXPECT_FALSE(ms::readFile(box, &byte, 1, &read));
    EXPECT_EQ(ms::lastError(), ms::ERROR_SEM_TIMEOUT);
    EXPECT_EQ(read, 0u);

    const QByteArray big(int(ms::kMaxMessageSize), 'x');
    const QByteArray withZero("a\0b\r\n", 5);
    for (const QByteArray &bytes : { QByteArray("first"), QByteArray(), withZero, big })
        ASSERT_TRUE(send(localPath(boxName()), bytes)) << bytes.size();

    EXPECT_EQ(readNext(box), "first");
    ASSERT_TRUE(waitForMessage(box, size));
    EXPECT_EQ(size, 0u) << "an empty message still waits";
    EXPECT_EQ(readNext(box), QByteArray());

    ASSERT_TRUE(waitForMessage(box, size));
    EXPECT_EQ(size, 5u);
    char small[4];
    EXPECT_FALSE(ms::readFile(box, small, sizeof small, &read));
    EXPECT_EQ(ms::lastError(), ms::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(readNext(box), withZero) << "a refused read leaves the message whole";
    EXPECT_EQ(readNext(box), big);

    const QByteArray tooBig(int(ms::kMaxMessageSize) + 1, 'y');
    EXPECT_FALSE(send(localPath(boxName()), tooBig));
    EXPECT_EQ(ms::lastError(), ms::ERROR_INVALID_PARAMETER);
}

// A refresh makes every copy on the LAN announce each of its addresses within one polling period;
// the box keeps them all until they are read (1024: eleven addresses of 93 copies).
TEST_F(MailslotBox, HoldsTheAnnouncementsOfARefreshOnALargeLan)
{
    QFile limit("/proc/sys/net/core/rmem_max");
    const bool canRaise
        = ::geteuid() == 0 || (limit.open(QIODevice::ReadOnly) && limit.readAll().trimmed().toLongLong() >= (1 << 20));
    if (!canRaise)
        GTEST_SKIP() << "a receive buffer of 1 MiB needs root or net.core.rmem_max of at least 1 MiB";
    const QByteArray announcement = "Message\r\nuser\r\nOFFICE2\r\n192.168.100.200\r\n";
    constexpr int kBurst = 1024;
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(send(localPath(boxName()), announcement)) << i;
    int waiting = 0;
    while (readNext(box) == announcement)
        ++waiting;
    EXPECT_EQ(waiting, kBurst);
}

TEST_F(MailslotBox, SendsReachTheBoxByEveryKindOfMachineName)
{
    EXPECT_TRUE(send(QStringLiteral("\\\\*\\mailslot\\") + boxName(), "broadcast"));
    EXPECT_EQ(readNext(box), "broadcast");
    EXPECT_TRUE(send(QStringLiteral("\\\\127.0.0.1\\mailslot\\") + boxName(), "dotted"));
    EXPECT_EQ(readNext(box), "dotted");

    // Names that cannot be addressed without a look-up, and a LAN without broadcast interfaces.
    EXPECT_EQ(ms::createFile(QStringLiteral("\\\\SOMEHOST\\mailslot\\") + boxName()), ms::kInvalidHandle);
    EXPECT_EQ(ms::lastError(), ms::ERROR_BAD_NETPATH);
    ms::setBroadcastTargets([] { return std::vector<uint32_t> {}; });
    EXPECT_EQ(ms::createFile(QStringLiteral("\\\\*\\mailslot\\") + boxName()), ms::kInvalidHandle);
    EXPECT_EQ(ms::lastError(), ms::ERROR_BAD_NETPATH);

    // Handles of the wrong kind or closed ones are refused.
    uint32_t written = 0;
    EXPECT_FALSE(ms::writeFile(box, "x", 1, &written));
    EXPECT_EQ(ms::lastError(), ms::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ms::getMailslotInfo(12345678, nullptr, nullptr));
    EXPECT_EQ(ms::lastError(), ms::ERROR_INVALID_HANDLE);
}

TEST(MailslotBroadcast, TargetsAreTheBroadcastAddressesThatIpReports)
{
    QProcess ip;
    ip.start("ip", { "-o", "-4", "addr", "show", "up" });
    if (!ip.waitForFinished(5000) || ip.exitCode() != 0)
        GTEST_SKIP() << "iproute2 (ip) is not available";
    QSet<QString> expected;
    const QRegularExpression brd(R"(^\d+:\s+(\S+)\s+inet\s+\S+\s+brd\s+(\S+))");
    for (const QString &line : QString::fromLocal8Bit(ip.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch match = brd.match(line);
        if (match.hasMatch() && match.captured(1) != "lo")
            expected << match.captured(2);
    }
    QSet<QString> found;
    for (uint32_t address : ms::interfaceBroadcastAddresses()) {
        in_addr in { address };
        found << QString::fromLatin1(::inet_ntoa(in));
    }
    EXPECT_EQ(found, expected);
}
