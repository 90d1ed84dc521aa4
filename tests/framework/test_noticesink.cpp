#include "framework/exception.h"
#include "framework/noticesink.h"
#include "support/eventwait.h"
#include "support/recorders.h"

#include <QThread>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using framework::Notice;
using framework::NoticeSink;
using testsupport::waitUntil;

TEST(NoticeSink, PostedNoticesArriveInOrderOnTheCreatingThread)
{
    std::vector<Notice> received;
    std::vector<QThread *> threads;
    NoticeSink sink("TestWindowA", nullptr, [&](const Notice &n) {
        received.push_back(n);
        threads.push_back(QThread::currentThread());
    });
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            sink.post(framework::WM_USER + 101, uintptr_t(i), framework::makeLParam(1, uint16_t(i)));
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return received.size() == 100; }));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(received[size_t(i)].message, framework::WM_USER + 101);
        EXPECT_EQ(received[size_t(i)].wParam, uintptr_t(i));
        EXPECT_EQ(framework::lowWord(received[size_t(i)].lParam), 1);
        EXPECT_EQ(framework::highWord(received[size_t(i)].lParam), i);
        EXPECT_EQ(threads[size_t(i)], QThread::currentThread());
    }
}

TEST(NoticeSink, NoticesQueuedForADestroyedSinkAreDropped)
{
    int delivered = 0;
    {
        NoticeSink sink("TestWindowA", nullptr, [&](const Notice &) { ++delivered; });
        sink.post(1);
    }
    testsupport::serveEvents(20);
    EXPECT_EQ(delivered, 0);
}

TEST(NoticeSink, AnExceptionFromTheHandlerIsReportedWithTheBoundComponent)
{
    testsupport::ExceptionRecorder recorder;
    QObject component;
    NoticeSink sink("TestWindowA", &component, [](const Notice &) { throw framework::Exception("boom"); });
    sink.post(7);
    ASSERT_TRUE(waitUntil([&] { return !recorder.entries().empty(); }));
    EXPECT_EQ(recorder.entries()[0].rawSender, &component);
    EXPECT_EQ(recorder.entries()[0].message, "boom");
}

TEST(NoticeSink, EachWindowClassIsRegisteredOnce)
{
    const QString name = "TestWindowOnce";
    EXPECT_FALSE(framework::WindowClassRegistry::isRegistered(name));
    std::vector<std::unique_ptr<NoticeSink>> sinks;
    for (int i = 0; i < 10; ++i)
        sinks.push_back(std::make_unique<NoticeSink>(name, nullptr, nullptr));
    EXPECT_EQ(framework::WindowClassRegistry::registrationCount(name), 1);
    EXPECT_FALSE(framework::WindowClassRegistry::ensureRegistered(name));
}

TEST(NoticeSink, WindowTimersTickAsTimerNotices)
{
    std::vector<Notice> received;
    NoticeSink sink("TestWindowA", nullptr, [&](const Notice &n) { received.push_back(n); });
    ASSERT_TRUE(sink.setTimer(1, 5));
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 2; }));
    EXPECT_EQ(received[0].message, framework::WM_TIMER);
    EXPECT_EQ(received[0].wParam, 1u);
    sink.killTimer(1);
    EXPECT_FALSE(sink.hasTimer(1));
    const size_t count = received.size();
    testsupport::serveEvents(30);
    EXPECT_EQ(received.size(), count);
    EXPECT_FALSE(sink.setTimer(2, 0x80000000u));
}
