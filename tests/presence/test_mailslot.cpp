#include "presence/checkthread.h"
#include "presence/mailslot.h"

#include "platform/mailslot/mailslotapi.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

using presence::TMailSlot;
using testsupport::serveEvents;
using testsupport::waitUntil;
namespace ms = platform::mailslot;

namespace {

struct Received
{
    qint64 atMs;
    QString computer;
    QString user;
    QString text;
};

// Broadcasts stay on loopback, and each test process has box names of its own.
class MailSlotTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previousTargets = ms::setBroadcastTargets([] { return std::vector<uint32_t> { htonl(INADDR_LOOPBACK) }; });
        m_clock.start();
    }
    void TearDown() override { ms::setBroadcastTargets(m_previousTargets); }

    static QString box(int variant = 0)
    {
        return QStringLiteral("m%1%2").arg(::getpid() % 0x100000, 5, 16, QLatin1Char('0')).arg(variant);
    }

    // An active component on box(variant) that records what it receives.
    std::unique_ptr<TMailSlot> listener(int checkInterval, int variant = 0)
    {
        auto slot = std::make_unique<TMailSlot>();
        slot->setMailBox(box(variant));
        slot->setCheckInterval(checkInterval);
        slot->OnNewMessage = [this](QObject *, const QString &computer, const QString &user, const QString &text) {
            received.push_back({ m_clock.elapsed(), computer, user, text });
        };
        slot->setActive(true);
        return slot;
    }

    // Writes raw bytes into a box of this machine, as a foreign sender would.
    static void sendRaw(const QByteArray &bytes, int variant = 0)
    {
        const ms::Handle file = ms::createFile(QStringLiteral("\\\\.\\mailslot\\") + box(variant));
        ASSERT_NE(file, ms::kInvalidHandle);
        uint32_t written = 0;
        ms::writeFile(file, bytes.constData(), uint32_t(bytes.size()), &written);
        ms::closeHandle(file);
    }

    qint64 now() const { return m_clock.elapsed(); }

    std::vector<Received> received;

private:
    ms::BroadcastTargets m_previousTargets;
    QElapsedTimer m_clock;
};

QString commandOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

TEST_F(MailSlotTest, SendsCarryTheSystemsUserAndComputerNameAndForeignDatagramsAreDropped)
{
    auto slot = listener(50);
    ASSERT_TRUE(slot->Active());
    EXPECT_EQ(slot->computerName(), commandOutput("hostname", {}).section('.', 0, 0));
    EXPECT_EQ(slot->userName(), commandOutput("id", { "-un" }));

    slot->Send("abc");
    slot->Send("");
    sendRaw("Message\r\nu\r\n"); // no computer line
    sendRaw("Hello\r\nu\r\nc\r\nx\r\n");
    sendRaw("Message\r\nu\r\nc\r\nx\r\ny\r\n");
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 3; }));
    serveEvents(150);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].computer, slot->computerName());
    EXPECT_EQ(received[0].user, slot->userName());
    EXPECT_EQ(received[0].text, "abc\r\n");
    EXPECT_EQ(received[1].text, "");
    EXPECT_EQ(received[2].computer, "c");
    EXPECT_EQ(received[2].user, "u");
    EXPECT_EQ(received[2].text, "x\r\ny\r\n");

    // Read while no handler is assigned: lost.
    auto handler = std::exchange(slot->OnNewMessage, nullptr);
    slot->Send("lost");
    serveEvents(200);
    slot->OnNewMessage = handler;
    slot->Send("kept");
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 4; }));
    EXPECT_EQ(received.back().text, "kept\r\n");
}

TEST_F(MailSlotTest, ASecondHolderOfTheBoxStaysInactiveButCanSend)
{
    auto first = listener(50);
    TMailSlot second;
    second.setMailBox(box());
    second.setActive(true);
    EXPECT_TRUE(first->Active());
    EXPECT_FALSE(second.Active());
    EXPECT_EQ(second.checkThread(), nullptr);

    second.Send("from the second");
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].text, "from the second\r\n");

    // Switching on twice keeps one box and one thread; off and on again takes the box back.
    const presence::TCheckThread *thread = first->checkThread();
    first->setActive(true);
    EXPECT_EQ(first->checkThread(), thread);
    first->setActive(false);
    EXPECT_EQ(first->checkThread(), nullptr);
    second.setActive(true);
    EXPECT_TRUE(second.Active());
}

TEST_F(MailSlotTest, MailBoxNamesLongerThanEightCharactersAreRefusedAndAChangeReopens)
{
    testsupport::MessageRecorder messages;
    auto slot = listener(50);
    slot->setMailBox("ABCDEFGHI");
    EXPECT_EQ(messages.messages, QStringList { "MailBox name cannot be greater than 8 characters long." });
    EXPECT_EQ(slot->MailBox(), box());

    const presence::TCheckThread *thread = slot->checkThread();
    slot->setMailBox(box());
    EXPECT_EQ(slot->checkThread(), thread) << "an unchanged name does not reopen";

    const QString eight = box(7).leftJustified(8, 'x');
    slot->setMailBox(eight);
    EXPECT_EQ(slot->MailBox(), eight);
    EXPECT_TRUE(slot->Active());
    EXPECT_EQ(messages.messages.size(), 1);
    // The old box is free again, the new one is held and receives.
    TMailSlot old;
    old.setMailBox(box());
    old.setActive(true);
    EXPECT_TRUE(old.Active());
    old.Send("to the old box");
    TMailSlot sender;
    sender.setMailBox(eight);
    sender.Send("to the new box");
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }));
    serveEvents(150);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text, "to the new box\r\n");
}

TEST_F(MailSlotTest, ThreadPriorityIsAppliedAtStartAndToARunningThread)
{
    TMailSlot slot;
    slot.setMailBox(box());
    slot.setThreadPriority(presence::TThreadPriority::tpLowest);
    slot.setActive(true);
    ASSERT_NE(slot.checkThread(), nullptr);
    EXPECT_EQ(slot.checkThread()->priority(), QThread::LowestPriority);
    slot.setThreadPriority(presence::TThreadPriority::tpIdle);
    EXPECT_EQ(slot.checkThread()->priority(), QThread::IdlePriority);
    EXPECT_EQ(slot.ThreadPriority(), presence::TThreadPriority::tpIdle);
}

TEST_F(MailSlotTest, ShortIntervalsPollOnTheirPeriodAndNegativeOnesAreTakenAsZero)
{
    // A sender that keeps a message waiting at all times: what arrives together came with one drain.
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, [] { sendRaw("Message\r\nu\r\nc\r\nx\r\n"); });
    auto slot = listener(200);
    feeder.start(10);
    serveEvents(1500);
    slot->setActive(false);
    feeder.stop();

    std::vector<qint64> drains;
    for (size_t i = 0; i < received.size(); ++i) {
        if (i == 0 || received[i].atMs - received[i - 1].atMs > 100)
            drains.push_back(received[i].atMs);
    }
    ASSERT_GE(drains.size(), 4u);
    std::vector<qint64> gaps;
    for (size_t i = 1; i < drains.size(); ++i)
        gaps.push_back(drains[i] - drains[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    const qint64 median = gaps[gaps.size() / 2];
    EXPECT_GE(median, 180);
    EXPECT_LE(median, 400);

    slot->setCheckInterval(-5);
    EXPECT_EQ(slot->CheckInterval(), 0);
    received.clear();
    slot->setActive(true);
    sendRaw("Message\r\nu\r\nc\r\nfast\r\n");
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }, 2000));
    EXPECT_EQ(received[0].text, "fast\r\n");
}

TEST_F(MailSlotTest, LongIntervalsArePolledInWholeSeconds)
{
    const qint64 start = now();
    auto slot = listener(2500);
    ASSERT_TRUE(waitUntil([&] { return slot->checkThread()->drains() == 1; }, 500)) << "the first drain comes at once";
    serveEvents(300);
    sendRaw("Message\r\nu\r\nc\r\nnext\r\n");
    ASSERT_TRUE(waitUntil([&] { return !received.empty(); }, 6000));
    // 2500 ms is taken up to the next whole second: the second drain comes 3 s after the first.
    EXPECT_GE(received[0].atMs - start, 2800);
    EXPECT_LE(received[0].atMs - start, 4000);
    EXPECT_EQ(slot->checkThread()->drains(), 2);
}

TEST_F(MailSlotTest, StoppingServesAPendingHandOverAndAHandlerMayStopThePolling)
{
    auto slot = listener(20);
    sendRaw("Message\r\nu\r\nc\r\npending\r\n");
    // The GUI thread is busy: the poller hands the message over and waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(received.empty());
    slot->setActive(false);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text, "pending\r\n");
    EXPECT_EQ(slot->checkThread(), nullptr);

    // A handler that switches the component off, while more messages wait.
    slot->OnNewMessage = [&](QObject *, const QString &, const QString &, const QString &text) {
        received.push_back({ now(), {}, {}, text });
        slot->setActive(false);
    };
    slot->setActive(true);
    sendRaw("Message\r\nu\r\nc\r\none\r\n");
    sendRaw("Message\r\nu\r\nc\r\ntwo\r\n");
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 2; }, 3000));
    serveEvents(100);
    EXPECT_EQ(received.size(), 2u);
    EXPECT_FALSE(slot->Active());

    // Destroyed while a hand-over waits: read, but no handler runs any more.
    slot = listener(20);
    sendRaw("Message\r\nu\r\nc\r\nlast\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    received.clear();
    slot.reset();
    EXPECT_TRUE(received.empty());
}
