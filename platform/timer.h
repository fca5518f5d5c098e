// One-shot timers whose routines run on the timer service's own thread, and the
// process end that such a routine may call while the main thread is blocked.
//
// Bounds: at most TIMER_SLOTS timers wait at once; starting one more fails.
#pragma once

#include <chrono>
#include <cstdint>

#ifdef _WIN32
inline constexpr int TIMER_SLOTS = 16; // as many as Wine's multimedia timer service holds
#else
inline constexpr int TIMER_SLOTS = 32;
#endif

// Called once on the timer thread with the timer's id and the user value.
using TimerRoutine = void (*)(uint32_t id, uintptr_t user);

// Arms a one-shot timer that runs routine after delayMs milliseconds.
// resolutionMs is the accuracy the caller accepts; the service is always more
// accurate than that (a few milliseconds), so it is not used. Any delay up to
// 2^32 - 1 ms is accepted; 0 fires as soon as the service thread runs.
// Returns the timer's id, never 0; 0 when no routine is given or the timer
// cannot be armed. Ids are not reused until the 32-bit counter wraps.
uint32_t timerStart(uint32_t delayMs, uint32_t resolutionMs, TimerRoutine routine, uintptr_t user);

// Cancels a waiting timer: 0 when it was cancelled before it fired; nonzero
// when it has fired (or its routine is running) or never existed. Does not
// wait for a running routine.
int timerCancel(uint32_t id);

// Flushes every standard stream and ends the process at once with status,
// whatever the other threads are doing; nothing else is cleaned up.
[[noreturn]] void timerEndProcess(int status);

// Milliseconds of a clock that never goes back (not the time of day): for
// durations, such as an engine's time since its start.
inline int64_t timerNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
