#include "framework/exception.h"
#include "framework/noticesink.h"
#include "net/sockbase.h"
#include "net/sockwindow.h"
#include "net/threadtimer.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using net::TThreadTimer;

TEST(ThreadTimer, StartsEnabledWithOneSecondButUnarmed)
{
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.isArmed());
}

TEST(ThreadTimer, IntervalZeroNeverTicks)
{
    TThreadTimer timer;
    int ticks = 0;
    timer.setInterval(0);
    timer.setOnTimer([&](QObject *) { ++ticks; });
    EXPECT_FALSE(timer.isArmed());
    testsupport::serveEvents(100);
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, NoTimerUntilOnTimerIsAssigned)
{
    TThreadTimer timer;
    timer.setInterval(20);
    EXPECT_FALSE(timer.isArmed());
    testsupport::serveEvents(60);
    QObject *sender = nullptr;
    int ticks = 0;
    timer.setOnTimer([&](QObject *s) {
        sender = s;
        ++ticks;
    });
    EXPECT_TRUE(timer.isArmed());
    EXPECT_TRUE(testsupport::waitUntil([&] { return ticks >= 2; }, 3000));
    EXPECT_EQ(sender, &timer);
    timer.setEnabled(false);
    EXPECT_FALSE(timer.isArmed());
    const int stopped = ticks;
    testsupport::serveEvents(80);
    EXPECT_EQ(ticks, stopped);
}

// The first tick's time since start; a timer never ticks early, so a restart shows as a late tick.
qint64 firstTickAfterChange(uint32_t interval, uint32_t changedTo, int changeAfterMs)
{
    TThreadTimer timer;
    QElapsedTimer clock;
    qint64 firstTick = -1;
    timer.setInterval(interval);
    clock.start();
    timer.setOnTimer([&](QObject *) {
        if (firstTick < 0)
            firstTick = clock.elapsed();
    });
    testsupport::waitUntil([&] { return clock.elapsed() >= changeAfterMs; }, 3000);
    timer.setInterval(changedTo);
    testsupport::waitUntil([&] { return firstTick >= 0; }, 4000);
    return firstTick;
}

TEST(ThreadTimer, SettingTheSameIntervalDoesNotRestartTheCount)
{
    // A restart at 500 ms would put the first tick at 1500 ms or later.
    const qint64 tick = firstTickAfterChange(1000, 1000, 500);
    EXPECT_GE(tick, 990);
    EXPECT_LT(tick, 1500);
}

TEST(ThreadTimer, SettingANewIntervalRestartsTheCount)
{
    const qint64 tick = firstTickAfterChange(1000, 1001, 500);
    EXPECT_GE(tick, 1500);
}

TEST(ThreadTimer, ExceptionInOnTimerIsReportedWithTheTimerAsSenderAndTicksGoOn)
{
    testsupport::ExceptionRecorder errors;
    TThreadTimer timer;
    int ticks = 0;
    timer.setInterval(15);
    timer.setOnTimer([&](QObject *) {
        ++ticks;
        throw framework::Exception(QStringLiteral("tick failed"));
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return ticks >= 3; }, 3000));
    ASSERT_GE(errors.entries().size(), 3u);
    for (const auto &entry : errors.entries()) {
        EXPECT_EQ(entry.rawSender, &timer);
        EXPECT_EQ(entry.message, QStringLiteral("tick failed"));
    }
}

TEST(ThreadTimer, APeriodTheSystemRefusesRaisesNoTimer)
{
    TThreadTimer timer;
    timer.setOnTimer([](QObject *) {});
    try {
        timer.setInterval(0x80000000u); // beyond the window timer's range
        ADD_FAILURE() << "no exception";
    } catch (const framework::Exception &error) {
        EXPECT_EQ(error.message(), QStringLiteral("No Timer"));
    }
    EXPECT_FALSE(timer.isArmed());
}

TEST(ThreadTimer, DestroyedWhileArmedTicksNoMore)
{
    int ticks = 0;
    auto timer = std::make_unique<TThreadTimer>();
    timer->setInterval(10);
    timer->setOnTimer([&](QObject *) { ++ticks; });
    timer.reset();
    testsupport::serveEvents(60);
    EXPECT_EQ(ticks, 0);
}

TEST(HiddenWindows, EachWindowClassIsRegisteredOnceOverManyComponents)
{
    std::vector<std::unique_ptr<net::TSockBase>> sockets;
    for (int i = 0; i < 5; ++i)
        sockets.push_back(std::make_unique<net::TSockBase>());
    std::vector<std::unique_ptr<TThreadTimer>> timers;
    for (int i = 0; i < 5; ++i)
        timers.push_back(std::make_unique<TThreadTimer>());
    EXPECT_EQ(framework::WindowClassRegistry::registrationCount(QStringLiteral("SockBaseWindowClass")), 1);
    EXPECT_EQ(framework::WindowClassRegistry::registrationCount(QStringLiteral("TmrWindowClass")), 1);
    EXPECT_EQ(sockets.front()->WindowHandle()->windowClass(), QStringLiteral("SockBaseWindowClass"));
    EXPECT_EQ(sockets.front()->Timer()->parent(), sockets.front().get());
}

// Records what its window hands over instead of acting on it.
class RecordingSock : public net::TSockBase
{
public:
    void DispatchSocketMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        seen.push_back(framework::Notice { message, wParam, lParam });
    }
    std::vector<framework::Notice> seen;
};

TEST(HiddenWindows, SocketWindowPassesOnlyTheFourSocketMessages)
{
    RecordingSock sock;
    testsupport::serveEvents(20); // let any notice of the fresh socket pass first
    sock.seen.clear();
    framework::NoticeSink *window = sock.WindowHandle();
    for (uint32_t message : { framework::WM_USER + 100, framework::WM_USER + 101, framework::WM_USER + 102,
             framework::WM_USER + 103, framework::WM_USER + 104, framework::WM_USER + 105, framework::WM_TIMER })
        window->post(message, 7, framework::makeLParam(1, 2));
    testsupport::serveEvents(30);
    ASSERT_EQ(sock.seen.size(), 4u);
    for (size_t i = 0; i < sock.seen.size(); ++i) {
        EXPECT_EQ(sock.seen[i].message, framework::WM_USER + 101 + i);
        EXPECT_EQ(sock.seen[i].wParam, 7u);
        EXPECT_EQ(sock.seen[i].lParam, framework::makeLParam(1, 2));
    }
}

TEST(HiddenWindows, AWindowBoundToNoComponentIgnoresEverything)
{
    auto window = net::createSocketWindow(nullptr);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowClass(), QStringLiteral("SockBaseWindowClass"));
    window->post(net::TSockBase::SocketMessage, 1, 1);
    testsupport::serveEvents(20);
}

} // namespace
