// One-shot timers of the multimedia timer service: each routine runs on the
// service's own thread.
#include "platform/timer.h"

#include <windows.h>

#include <mmsystem.h> // needs the types of windows.h

#include <array>
#include <cstdio>
#include <mutex>

namespace {

struct Slot {
    UINT id = 0; // 0: free
    TimerRoutine routine = nullptr;
    uintptr_t user = 0;
};

// The lock is held while a timer is set and its id stored, so that a routine
// due at once finds its slot; a cancel frees the slot, so that a firing that
// raced with it finds none and runs nothing.
std::mutex lock;
std::array<Slot, TIMER_SLOTS> slots;

void CALLBACK fire(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    Slot fired;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (Slot &slot : slots)
            if (slot.id == id) {
                fired = slot;
                slot.id = 0;
            }
    }
    if (fired.id)
        fired.routine(fired.id, fired.user);
}

} // namespace

uint32_t timerStart(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine, uintptr_t user) {
    if (!routine)
        return 0;
    std::lock_guard<std::mutex> guard(lock);
    for (Slot &slot : slots) {
        if (slot.id)
            continue;
        // The service takes no delay below its 1 ms period.
        UINT id = timeSetEvent(delayMs ? delayMs : 1, resolutionMs, fire, 0,
                               TIME_ONESHOT | TIME_CALLBACK_FUNCTION);
        if (!id)
            return 0;
        slot = Slot{id, routine, user};
        return id;
    }
    return 0;
}

int timerCancel(uint32_t id) {
    if (!id)
        return 1;
    std::lock_guard<std::mutex> guard(lock);
    for (Slot &slot : slots)
        if (slot.id == id) {
            slot.id = 0;
            timeKillEvent(id);
            return 0;
        }
    return 1;
}

void timerEndProcess(int status) {
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}
