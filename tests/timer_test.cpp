#include "platform/net.h"
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

thread_local bool onTestThread = false;

struct Record {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> id{0};
    std::atomic<bool> onCallerThread{true};
    Clock::time_point firedAt;
};

void recordRoutine(uint32_t id, uintptr_t user) {
    auto *r = reinterpret_cast<Record *>(user);
    r->firedAt = Clock::now();
    r->id = id;
    r->onCallerThread = onTestThread;
    r->calls.fetch_add(1);
}

// Waits up to two seconds for want calls.
bool waitForCalls(const Record &r, int want) {
    for (int i = 0; i < 200 && r.calls.load() < want; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    return r.calls.load() >= want;
}

TEST(Timer, FiresOnceAfterItsDelayOnAnotherThread) {
    onTestThread = true;
    Record r;
    Clock::time_point start = Clock::now();
    uint32_t id = timerStart(50, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(waitForCalls(r, 1));
    EXPECT_GE(r.firedAt - start, milliseconds(50));
    EXPECT_EQ(r.id.load(), id);
    EXPECT_FALSE(r.onCallerThread.load());
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(r.calls.load(), 1);
    EXPECT_NE(timerCancel(id), 0); // it has fired
}

TEST(Timer, CancelPreventsIt) {
    Record r;
    uint32_t id = timerStart(300, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(timerCancel(id), 0);
    EXPECT_NE(timerCancel(id), 0); // already gone
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(r.calls.load(), 0);
}

TEST(Timer, UnknownIdsAndMissingRoutineFail) {
    EXPECT_NE(timerCancel(0), 0);
    EXPECT_NE(timerCancel(0xDEADBEEFu), 0);
    EXPECT_EQ(timerStart(10, 5000, nullptr, 0), 0u);
}

std::atomic<int> orderNext{0};
int order[3];
void orderRoutine(uint32_t, uintptr_t user) {
    order[orderNext.fetch_add(1)] = static_cast<int>(user);
}

TEST(Timer, SeveralTimersFireInDelayOrder) {
    orderNext = 0;
    uint32_t a = timerStart(90, 5000, orderRoutine, 90);
    uint32_t b = timerStart(10, 5000, orderRoutine, 10);
    uint32_t c = timerStart(50, 5000, orderRoutine, 50);
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(a != b && b != c && a != c);
    for (int i = 0; i < 200 && orderNext.load() < 3; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ(orderNext.load(), 3);
    EXPECT_EQ(order[0], 10);
    EXPECT_EQ(order[1], 50);
    EXPECT_EQ(order[2], 90);
}

TEST(Timer, RearmingBeforeEachWaitKeepsItQuiet) {
    // The walk cancels and restarts its timer before every receive.
    Record r;
    uint32_t id = timerStart(500, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(timerCancel(id), 0) << i;
        id = timerStart(500, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
        ASSERT_NE(id, 0u);
    }
    EXPECT_EQ(r.calls.load(), 0);
    ASSERT_TRUE(waitForCalls(r, 1));
    EXPECT_EQ(r.id.load(), id);
}

TEST(Timer, SlotsAreBounded) {
    Record r;
    std::vector<uint32_t> ids;
    for (int i = 0; i < TIMER_SLOTS; ++i) {
        uint32_t id = timerStart(60000, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
        ASSERT_NE(id, 0u) << i;
        ids.push_back(id);
    }
    EXPECT_EQ(timerStart(60000, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r)), 0u);
    EXPECT_EQ(timerCancel(ids.back()), 0);
    uint32_t again = timerStart(60000, 5000, recordRoutine, reinterpret_cast<uintptr_t>(&r));
    EXPECT_NE(again, 0u);
    ids.back() = again;
    for (uint32_t id : ids)
        EXPECT_EQ(timerCancel(id), 0);
    EXPECT_EQ(r.calls.load(), 0);
}

void endRoutine(uint32_t, uintptr_t status) {
    timerEndProcess(static_cast<int>(status));
}

// The routine ends the process while the main thread blocks in a receive;
// what the main thread had buffered reaches its stream.
void blockInReceive() {
    setvbuf(stderr, nullptr, _IOFBF, 4096); // buffered, so only a flush shows it
    fputs("buffered line", stderr);
    int s = udpOpenSocket();
    if (s < 0 || udpBindSocket(s, 0x7F000001u, 0) != 0)
        _exit(1);
    if (timerStart(50, 5000, endRoutine, 4) == 0)
        _exit(2);
    uint8_t buffer[16];
    udpReceive(s, buffer, sizeof buffer, nullptr, nullptr);
    _exit(3);
}

TEST(TimerDeathTest, RoutineEndsProcessDuringReceive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(blockInReceive(), testing::ExitedWithCode(4), "buffered line");
}

} // namespace
