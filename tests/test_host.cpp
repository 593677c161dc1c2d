// Tests of the host layer's virtual clock: retrace pacing, sleeps, key scripts, listeners.
#include <gtest/gtest.h>

#include <vector>

#include "host.h"

TEST(VirtualClock, RetraceWaitsLandOnTheNextTicks) {
    hostInitVirtual(nullptr, 0, 0);
    EXPECT_EQ(hostNow(), 0);
    // From a tick boundary, one tick later; from inside a tick, the next boundary.
    hostRetraceWait(1);
    EXPECT_EQ(hostNow(), kHostTickSamples);
    hostSleep(5);
    EXPECT_EQ(hostNow(), kHostTickSamples + 5 * kHostMsSamples);
    hostRetraceWait(1);
    EXPECT_EQ(hostNow(), 2 * kHostTickSamples);
    hostRetraceWait(3);
    EXPECT_EQ(hostNow(), 5 * kHostTickSamples);
    EXPECT_EQ(hostTick(), 5);
    // Sixty swaps are one second of show time.
    for (int i = 0; i < 60; ++i) hostRetraceWait(1);
    EXPECT_DOUBLE_EQ(hostNowSeconds(), 65.0 / 60.0);
}

TEST(VirtualClock, IdleAndSleepAdvanceInMillisecondStepsToListeners) {
    hostInitVirtual(nullptr, 0, 0);
    static std::vector<std::int64_t> steps;
    steps.clear();
    hostAddClockListener([](std::int64_t now, void*) { steps.push_back(now); }, nullptr);
    hostIdle();
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0], kHostMsSamples);
    hostSleep(350);
    EXPECT_EQ(hostNow(), 351 * kHostMsSamples);
    ASSERT_EQ(steps.size(), 351u);
    for (std::size_t i = 1; i < steps.size(); ++i)
        EXPECT_EQ(steps[i] - steps[i - 1], kHostMsSamples);
}

TEST(VirtualClock, TickListenersSeeEveryTickOnceWithTheFinalPicture) {
    hostInitVirtual(nullptr, 0, 0);
    static std::vector<std::int64_t> ticks;
    ticks.clear();
    hostAddTickListener([](std::int64_t tick, void*) { ticks.push_back(tick); }, nullptr);
    hostRetraceWait(1);  // lands on tick 1: tick 0 is over
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{0}));
    hostSleep(100);  // 100 ms from tick 1 leaves ticks 1 to 6 behind
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6}));
    // The clock stood exactly at the start of tick 7; the next retrace leaves it behind.
    hostRetraceWait(1);
    EXPECT_EQ(ticks.back(), 7);
    EXPECT_EQ(hostTick(), 8);
}

TEST(VirtualKeys, ScriptedKeysArriveAtTheirTimes) {
    const HostKeyEvent script[] = {{10 * kHostMsSamples, 's'}, {20 * kHostMsSamples, 27}};
    hostInitVirtual(script, 2, 0);
    EXPECT_FALSE(hostKeyWaiting());
    hostSleep(9);
    EXPECT_FALSE(hostKeyWaiting());
    hostSleep(1);
    ASSERT_TRUE(hostKeyWaiting());
    EXPECT_EQ(hostReadKey(0), 's');
    // A blocking read waits for the next scripted key.
    EXPECT_EQ(hostReadKey(27), 27);
    EXPECT_EQ(hostNow(), 20 * kHostMsSamples);
}

TEST(VirtualKeys, BlockedWaitIsAnsweredAfterThreeSecondsOnceTheScriptIsSpent) {
    hostInitVirtual(nullptr, 0, 0);
    hostSleep(100);
    EXPECT_EQ(hostReadKey(27), 27);
    EXPECT_EQ(hostNow(), (100 + 3000) * kHostMsSamples);
    hostWaitKeyWaiting();
    EXPECT_EQ(hostReadKey(0), ' ');
    EXPECT_EQ(hostNow(), (100 + 6000) * kHostMsSamples);
    // Keys pushed by hand (a device) are read in order before anything is answered.
    hostPushKey('a');
    hostPushKey('b');
    EXPECT_EQ(hostReadKey(0), 'a');
    EXPECT_EQ(hostReadKey(0), 'b');
    EXPECT_EQ(hostNow(), (100 + 6000) * kHostMsSamples);
}

TEST(VirtualKeys, BurstOfKeysIsQueuedInOrder) {
    std::vector<HostKeyEvent> script;
    for (int i = 0; i < 200; ++i) script.push_back({kHostMsSamples, 'a' + i % 26});
    hostInitVirtual(script.data(), script.size(), 0);
    hostIdle();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(hostKeyWaiting());
        EXPECT_EQ(hostReadKey(0), 'a' + i % 26);
    }
    EXPECT_FALSE(hostKeyWaiting());
}

TEST(VirtualClockDeathTest, TimeLimitEndsTheRunThroughTheShutdownHooks) {
    EXPECT_EXIT(
        {
            hostInitVirtual(nullptr, 0, 1.0);
            hostAddShutdownHook([](void*) { std::fprintf(stderr, "hook ran\n"); }, nullptr);
            for (;;) hostIdle();
        },
        ::testing::ExitedWithCode(kHostExitTimeLimit), "time limit(.|\n)*hook ran");
}

TEST(HostDirectories, QueryAndChangeTheWorkingDirectory) {
    char saved[4096];
    ASSERT_TRUE(hostGetCwd(saved, sizeof saved));
    char tiny[2];
    EXPECT_FALSE(hostGetCwd(tiny, sizeof tiny));
    EXPECT_FALSE(hostChdir("no such folder here"));
    ASSERT_TRUE(hostChdir("/"));
    char now[4096];
    ASSERT_TRUE(hostGetCwd(now, sizeof now));
    EXPECT_STREQ(now, "/");
    ASSERT_TRUE(hostChdir(saved));
}
