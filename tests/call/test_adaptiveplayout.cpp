#include "call/adaptiveplayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using call::AdaptivePlayout;

namespace {

// A device that plays its queue in periods, fed by buffers that arrive with a given lateness, the
// decisions carried out as the call component carries them out. Times in milliseconds.
struct Simulation
{
    double bufferMs = 40;
    double periodMs = 20;
    double startQueueMs = 0;
    std::function<double(int)> lateness = [](int) { return 0.0; };

    double queued = 0;
    int gaps = 0; // runs of periods that found too little sound to fill them
    double lowest = 1e9; // lowest queue at an arrival in the last quarter
    double highest = 0;

    void run(AdaptivePlayout &playout, int buffers)
    {
        queued = startQueueMs;
        double nextPull = 1000 + periodMs;
        int held = 0, holdBack = 0;
        bool dry = false, ranDry = false;
        for (int n = 0; n < buffers; ++n) {
            const double now = 1000 + n * bufferMs + lateness(n);
            for (; nextPull <= now; nextPull += periodMs) {
                if (queued < periodMs && !dry) {
                    ++gaps;
                    ranDry = true;
                }
                dry = queued < periodMs;
                queued = std::max(0.0, queued - periodMs);
            }
            if (holdBack > 0) {
                if (++held > holdBack) {
                    queued += held * bufferMs;
                    held = holdBack = 0;
                }
                continue;
            }
            if (n >= buffers * 3 / 4) {
                lowest = std::min(lowest, queued);
                highest = std::max(highest, queued);
            }
            const AdaptivePlayout::Decision decision = playout.arrived(now, queued, bufferMs, ranDry);
            ranDry = false;
            if (decision.discard)
                continue;
            if (decision.holdBack > 0) {
                holdBack = decision.holdBack;
                held = 1;
                continue;
            }
            queued += bufferMs;
        }
    }
};

} // namespace

// The queue settles a little above the jitter it meets, drops come only from a surplus, and a
// steady stream never runs dry once settled.
TEST(AdaptivePlayout, QueueFollowsTheJitter)
{
    struct Row
    {
        const char *name;
        double startQueueMs, periodMs;
        std::function<double(int)> lateness;
        int minDiscards, maxDiscards;
    };
    const auto wobble
        = [](double amplitude) { return [amplitude](int n) { return amplitude * ((n * 7919) % 11) / 10.0; }; };
    const Row rows[] = {
        { "quiet LAN, no surplus", 40, 20, wobble(2), 0, 0 },
        { "300 ms surplus from the start", 340, 20, wobble(2), 6, 8 },
        { "30 ms jitter keeps its cushion", 340, 20, wobble(30), 5, 7 },
        { "fine device periods", 200, 5, wobble(5), 3, 4 },
    };
    for (const Row &row : rows) {
        AdaptivePlayout playout;
        playout.reset();
        Simulation sim;
        sim.startQueueMs = row.startQueueMs;
        sim.periodMs = row.periodMs;
        sim.lateness = row.lateness;
        sim.run(playout, 500);
        EXPECT_EQ(sim.gaps, 0) << row.name;
        EXPECT_EQ(playout.reprimes(), 0u) << row.name;
        EXPECT_GE(int(playout.discards()), row.minDiscards) << row.name;
        EXPECT_LE(int(playout.discards()), row.maxDiscards) << row.name;
        // Settled: never below the margin, never a whole buffer above what the jitter needs.
        EXPECT_GE(sim.lowest, AdaptivePlayout::kSafetyMs) << row.name;
        EXPECT_LT(sim.lowest, AdaptivePlayout::kSafetyMs + sim.bufferMs) << row.name;
        EXPECT_LT(sim.highest - sim.lowest, playout.jitterMs() + 1) << row.name;
    }
}

TEST(AdaptivePlayout, NoDropBeforeHalfAWindowOfArrivals)
{
    AdaptivePlayout playout;
    for (int n = 0; n * 40 < AdaptivePlayout::kWindowMs / 2; ++n)
        EXPECT_FALSE(playout.arrived(n * 40.0, 500, 40, false).discard) << n;
    EXPECT_TRUE(playout.arrived(AdaptivePlayout::kWindowMs / 2, 500, 40, false).discard);
    // A single low arrival in the window vetoes drops for as long as it stays in it.
    playout.reset();
    for (int n = 0; n < 40; ++n)
        playout.arrived(n * 40.0, n == 30 ? 45 : 500, 40, false);
    EXPECT_FALSE(playout.arrived(40 * 40.0, 500, 40, false).discard);
}

TEST(AdaptivePlayout, ADryQueueRePrimesOnceInsteadOfStuttering)
{
    struct Row
    {
        const char *name;
        double stallMs; // one buffer this late, the rest on time
        int expectReprimes;
    };
    const Row rows[] = {
        { "late within the cushion", 30, 0 },
        { "a 200 ms stall", 200, 1 },
    };
    for (const Row &row : rows) {
        AdaptivePlayout playout;
        Simulation sim;
        sim.startQueueMs = 40;
        sim.lateness = [&row](int n) { return n >= 100 ? row.stallMs : 0.0; };
        sim.run(playout, 300);
        EXPECT_EQ(int(playout.reprimes()), row.expectReprimes) << row.name;
        // The stall's own silence is the only one: after the re-prime the queue holds.
        EXPECT_LE(sim.gaps, row.expectReprimes) << row.name;
    }
    // The cushion built after a dry spell stays for a while, however full the queue looks.
    AdaptivePlayout calm;
    calm.arrived(0, 40, 40, false);
    EXPECT_EQ(calm.arrived(40, 0, 40, true).holdBack, 1);
    double now = 80;
    for (; now < 40 + AdaptivePlayout::kCalmAfterDryMs; now += 40)
        ASSERT_FALSE(calm.arrived(now, 200, 40, false).discard) << now;
    EXPECT_TRUE(calm.arrived(now, 200, 40, false).discard);
    // A new call starts counting dry spells afresh: its first calm is one period again.
    calm.reset();
    EXPECT_EQ(calm.reprimes(), 0u);
    calm.arrived(0, 40, 40, false);
    calm.arrived(40, 0, 40, true);
    for (now = 80; now < 40 + AdaptivePlayout::kCalmAfterDryMs; now += 40)
        calm.arrived(now, 200, 40, false);
    EXPECT_TRUE(calm.arrived(now, 200, 40, false).discard);
    // The cushion built after a dry spell covers the jitter measured before it.
    AdaptivePlayout playout;
    for (int n = 0; n < 50; ++n)
        playout.arrived(n * 40.0, n % 2 ? 20 : 75, 40, false);
    const AdaptivePlayout::Decision decision = playout.arrived(50 * 40.0, 0, 40, true);
    EXPECT_FALSE(decision.discard);
    EXPECT_EQ(decision.holdBack, 2); // (55 ms jitter + 10 ms) in 40 ms buffers
}
