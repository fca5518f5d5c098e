#include "platform/timer.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <pthread.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Slot {
    uint32_t id = 0; // 0: free
    Clock::time_point due;
    TimerRoutine routine = nullptr;
    uintptr_t user = 0;
};

// One service thread serves every timer, as the multimedia timer service
// does. The state is created on first use and never destroyed: the thread
// may still wait on it while the process exits.
struct Service {
    std::mutex lock;
    std::condition_variable wake;
    std::array<Slot, TIMER_SLOTS> slots;
    uint32_t lastId = 0;
    bool running = false;
    // When the thread wakes next by itself (max while it waits for work):
    // a start needs to wake it only for an earlier deadline, and a cancel
    // never does, so a walk's re-arm per datagram costs no system call.
    Clock::time_point wakesAt = Clock::time_point::max();
};

Service *service() {
    static Service *instance = new (std::nothrow) Service;
    return instance;
}

// The earliest waiting slot, or none.
Slot *earliest(Service &s) {
    Slot *first = nullptr;
    for (Slot &slot : s.slots)
        if (slot.id && (!first || slot.due < first->due))
            first = &slot;
    return first;
}

void *serve(void *argument) {
    auto *s = static_cast<Service *>(argument);
    std::unique_lock<std::mutex> guard(s->lock);
    for (;;) {
        Slot *next = earliest(*s);
        if (!next) {
            s->wakesAt = Clock::time_point::max();
            s->wake.wait(guard);
            continue;
        }
        if (Clock::now() < next->due) {
            s->wakesAt = next->due;
            s->wake.wait_until(guard, next->due);
            continue; // the set may have changed meanwhile
        }
        Slot fired = *next;
        next->id = 0; // fired: a cancel now fails
        guard.unlock();
        fired.routine(fired.id, fired.user);
        guard.lock();
    }
}

} // namespace

uint32_t timerStart(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine, uintptr_t user) {
    (void)resolutionMs;
    Service *s = service();
    if (!routine || !s)
        return 0;
    std::lock_guard<std::mutex> guard(s->lock);
    if (!s->running) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, serve, s) != 0)
            return 0;
        pthread_detach(thread);
        s->running = true;
    }
    Slot *free = nullptr;
    for (Slot &slot : s->slots)
        if (!slot.id) {
            free = &slot;
            break;
        }
    if (!free)
        return 0;
    uint32_t id = ++s->lastId;
    if (id == 0)
        id = ++s->lastId;
    free->id = id;
    free->due = Clock::now() + std::chrono::milliseconds(delayMs);
    free->routine = routine;
    free->user = user;
    if (free->due < s->wakesAt) {
        s->wakesAt = free->due;
        s->wake.notify_one();
    }
    return id;
}

int timerCancel(uint32_t id) {
    Service *s = service();
    if (!id || !s)
        return 1;
    std::lock_guard<std::mutex> guard(s->lock);
    for (Slot &slot : s->slots)
        if (slot.id == id) {
            slot.id = 0; // the thread finds the slot free when it wakes
            return 0;
        }
    return 1;
}

void timerEndProcess(int status) {
    fflush(nullptr);
    _exit(status);
}
