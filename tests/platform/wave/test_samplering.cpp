#include "platform/wave/samplering.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using wave::SampleRing;

TEST(SampleRing, WrapsAroundAndNeverOverOrUnderflows)
{
    SampleRing ring(5); // rounded up to 8
    ASSERT_EQ(ring.capacity(), 8u);
    const int16_t in[10] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    EXPECT_EQ(ring.write(in, 10), 8u);
    EXPECT_EQ(ring.writable(), 0u);
    int16_t out[10] = {};
    EXPECT_EQ(ring.read(out, 5), 5u);
    EXPECT_EQ(ring.write(in + 8, 2), 2u);
    EXPECT_EQ(ring.read(out + 5, 10), 5u);
    EXPECT_EQ(std::vector<int16_t>(out, out + 10), std::vector<int16_t>(in, in + 10));
    EXPECT_EQ(ring.read(out, 1), 0u);
}

TEST(SampleRing, OneProducerAndOneConsumerThreadPassEverySampleInOrder)
{
    SampleRing ring(64);
    constexpr int kTotal = 200000;
    std::thread producer([&] {
        for (int i = 0; i < kTotal;) {
            const int16_t sample = int16_t(i);
            i += int(ring.write(&sample, 1));
        }
    });
    int expected = 0;
    while (expected < kTotal) {
        int16_t chunk[16];
        const std::size_t got = ring.read(chunk, 16);
        for (std::size_t k = 0; k < got; ++k, ++expected)
            ASSERT_EQ(chunk[k], int16_t(expected));
    }
    producer.join();
}

TEST(PlaybackFeed, CountsOnlyRealSamplesAsPlayed)
{
    wave::PlaybackFeed feed(16);
    const int16_t in[3] = { 100, 200, 300 };
    feed.ring().write(in, 3);
    int16_t out[5];
    EXPECT_EQ(feed.pull(out, 5), 3u);
    EXPECT_EQ(feed.played(), 3u);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 0);
}

TEST(PlaybackFeed, CountsEachTimeTheSoundRunsOut)
{
    struct Case
    {
        const char *name;
        std::vector<std::pair<std::size_t, std::size_t>> steps; // samples written, then pulled
        uint64_t underruns;
    };
    const Case cases[] = {
        { "silence from the start", { { 0, 4 }, { 0, 4 } }, 0 },
        { "runs out inside a pull", { { 3, 4 }, { 0, 4 } }, 1 },
        { "runs out at a pull's end", { { 4, 4 }, { 0, 4 }, { 0, 4 } }, 1 },
        { "twice", { { 8, 4 }, { 0, 4 }, { 0, 4 }, { 2, 4 } }, 2 },
        { "never", { { 8, 4 }, { 0, 4 }, { 4, 4 } }, 0 },
    };
    for (const Case &c : cases) {
        wave::PlaybackFeed feed(64);
        std::vector<int16_t> buffer(64, 1);
        for (const auto &[written, pulled] : c.steps) {
            feed.ring().write(buffer.data(), written);
            feed.pull(buffer.data(), pulled);
            std::fill(buffer.begin(), buffer.end(), int16_t(1));
        }
        EXPECT_EQ(feed.underruns(), c.underruns) << c.name;
    }
}
