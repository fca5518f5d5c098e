// Shared segments do not exist here: attach and status always fail, so each
// process keeps its local statistics block.
#include "platform/shm.h"

#include <atomic>

void *shmSegmentAttach(int) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(-1));
}

int shmSegmentDetach(void *) {
    return -1;
}

int shmSegmentSize(int, uint64_t *) {
    return -1;
}

int shmSegmentCreate(uint32_t) {
    return -1;
}

int shmSegmentRemove(int) {
    return -1;
}

void shmCounterRaise(uint32_t *word) {
    std::atomic_ref<uint32_t>(*word).fetch_add(1, std::memory_order_relaxed);
}

uint32_t shmCounterRead(uint32_t *word) {
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_relaxed);
}

void shmCounterStore(uint32_t *word, uint32_t value) {
    std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_relaxed);
}
