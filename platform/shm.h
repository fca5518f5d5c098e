// System V shared memory, and atomic access to 32-bit counters that several
// processes may raise at once.
#pragma once

#include <atomic>
#include <cstdint>

void *shmSegmentAttach(int id);             // address, or (void *)-1
int shmSegmentDetach(void *address);        // 0 or -1
int shmSegmentSize(int id, uint64_t *size); // IPC_STAT shm_segsz; 0 or -1
int shmSegmentCreate(uint32_t size);        // a new IPC_PRIVATE segment (0600): id or -1
int shmSegmentRemove(int id);               // 0 or -1

// Several processes raise the same words: relaxed atomics lose no increment.
inline void shmCounterRaise(uint32_t *word, uint32_t by = 1) {
    std::atomic_ref<uint32_t>(*word).fetch_add(by, std::memory_order_relaxed);
}

inline uint32_t shmCounterRead(uint32_t *word) {
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_relaxed);
}

inline void shmCounterStore(uint32_t *word, uint32_t value) {
    std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_relaxed);
}
