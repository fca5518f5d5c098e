#include "platform/net.h"
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

std::atomic<int> fired{0};
std::vector<int> order; // the users of the routines that ran, in order

void record(uint32_t, uintptr_t user) {
    order.push_back(static_cast<int>(user));
    fired.fetch_add(1);
}

// Once each, in delay order; a cancelled one never; bounded slots.
TEST(Timer, FireCancelAndBounds) {
    EXPECT_EQ(timerStart(10, 5000, nullptr, 0), 0u);
    EXPECT_NE(timerCancel(0xDEADBEEFu), 0);
    uint32_t cancelled = timerStart(20, 5000, record, 99);
    uint32_t late = timerStart(90, 5000, record, 90);
    uint32_t early = timerStart(10, 5000, record, 10);
    ASSERT_TRUE(cancelled && late && early && late != early);
    EXPECT_EQ(timerCancel(cancelled), 0);
    EXPECT_NE(timerCancel(cancelled), 0); // already gone
    std::vector<uint32_t> ids;
    for (uint32_t id; (id = timerStart(60000, 5000, record, 0)) != 0;)
        ids.push_back(id);
    EXPECT_EQ(ids.size(), static_cast<size_t>(TIMER_SLOTS - 2));
    for (int i = 0; i < 200 && fired.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(order, (std::vector<int>{10, 90}));
    EXPECT_NE(timerCancel(early), 0);                  // it has fired
    ids.push_back(timerStart(60000, 5000, record, 0)); // a fired timer's slot is free again
    for (uint32_t id : ids)
        EXPECT_EQ(timerCancel(id), 0);
}

// Ended from the routine while blocked in a receive: buffered output still reaches its stream.
void blockInReceive() {
    setvbuf(stderr, nullptr, _IOFBF, 4096); // buffered, so only a flush shows it
    fputs("buffered line", stderr);
    int s = udpOpenSocket();
    if (s < 0 || udpBindSocket(s, 0x7F000001u, 0) != 0 ||
        timerStart(
            50, 5000, [](uint32_t, uintptr_t st) { timerEndProcess(int(st)); }, 4) == 0)
        _exit(1);
    uint8_t buffer[16];
    udpReceive(s, buffer, sizeof buffer, nullptr, nullptr);
    _exit(3);
}

TEST(TimerDeathTest, RoutineEndsProcessDuringReceive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(blockInReceive(), testing::ExitedWithCode(4), "buffered line");
}

} // namespace
