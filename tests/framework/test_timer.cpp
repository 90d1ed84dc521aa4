#include "framework/exception.h"
#include "framework/timer.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using framework::TTimer;
using testsupport::serveEvents;
using testsupport::waitUntil;

TEST(Timer, DefaultsAreEnabledWithASecondAndNoTimerUntilAHandlerIsSet)
{
    TTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.isArmed());
    timer.setOnTimer([](QObject *) {});
    EXPECT_TRUE(timer.isArmed());
}

TEST(Timer, IntervalZeroAndDisabledStopTicks)
{
    int ticks = 0;
    TTimer timer;
    timer.setInterval(0);
    timer.setOnTimer([&](QObject *) { ++ticks; });
    EXPECT_FALSE(timer.isArmed());
    serveEvents(30);
    EXPECT_EQ(ticks, 0);
    timer.setInterval(5);
    ASSERT_TRUE(waitUntil([&] { return ticks >= 2; }));
    timer.setEnabled(false);
    const int seen = ticks;
    serveEvents(30);
    EXPECT_EQ(ticks, seen);
}

TEST(Timer, TicksCarryTheTimerAsSender)
{
    QObject *sender = nullptr;
    TTimer timer;
    timer.setInterval(5);
    timer.setOnTimer([&](QObject *s) { sender = s; });
    ASSERT_TRUE(waitUntil([&] { return sender != nullptr; }));
    EXPECT_EQ(sender, &timer);
}

TEST(Timer, SettingTheSameIntervalDoesNotRestartThePeriod)
{
    int ticks = 0;
    TTimer timer;
    timer.setInterval(200);
    timer.setOnTimer([&](QObject *) { ++ticks; });
    QElapsedTimer clock;
    clock.start();
    // Re-setting the unchanged interval every 20 ms must not hold the first tick back.
    while (ticks == 0 && clock.elapsed() < 2000) {
        timer.setInterval(200);
        serveEvents(20);
    }
    EXPECT_EQ(ticks, 1);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(Timer, SettingANewIntervalRestartsThePeriod)
{
    int ticks = 0;
    TTimer timer;
    timer.setInterval(150);
    timer.setOnTimer([&](QObject *) { ++ticks; });
    // Alternating values restart the count each time, so no tick can come while this goes on.
    for (int i = 0; i < 20; ++i) {
        timer.setInterval(i % 2 ? 150 : 151);
        serveEvents(20);
    }
    EXPECT_EQ(ticks, 0);
}

TEST(Timer, AnExceptionInOnTimerIsReportedAndTicksGoOn)
{
    testsupport::ExceptionRecorder recorder;
    int ticks = 0;
    TTimer timer;
    timer.setInterval(5);
    timer.setOnTimer([&](QObject *) {
        ++ticks;
        throw framework::Exception("tick failed");
    });
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    EXPECT_GE(recorder.entries().size(), 3u);
    EXPECT_EQ(recorder.entries()[0].rawSender, &timer);
    EXPECT_EQ(recorder.entries()[0].message, "tick failed");
}

TEST(Timer, AnIntervalBeyondTheSystemRangeIsRefused)
{
    TTimer timer;
    timer.setOnTimer([](QObject *) {});
    try {
        timer.setInterval(0xFFFFFFFFu);
        FAIL() << "no exception";
    } catch (const framework::Exception &e) {
        EXPECT_EQ(e.message(), "Not enough timers available");
    }
    EXPECT_FALSE(timer.isArmed());
}
