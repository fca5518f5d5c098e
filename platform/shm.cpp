#include "platform/shm.h"

#include <atomic>
#include <sys/ipc.h>
#include <sys/shm.h>

void *shmSegmentAttach(int id) {
    return shmat(id, nullptr, 0);
}

int shmSegmentDetach(void *address) {
    return shmdt(address) == 0 ? 0 : -1;
}

int shmSegmentSize(int id, uint64_t *size) {
    struct shmid_ds status {};
    if (shmctl(id, IPC_STAT, &status) != 0)
        return -1;
    *size = status.shm_segsz;
    return 0;
}

int shmSegmentCreate(uint32_t size) {
    return shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
}

int shmSegmentRemove(int id) {
    return shmctl(id, IPC_RMID, nullptr) == 0 ? 0 : -1;
}

// Several processes raise the same words: relaxed atomics lose no increment.
void shmCounterRaise(uint32_t *word) {
    std::atomic_ref<uint32_t>(*word).fetch_add(1, std::memory_order_relaxed);
}

uint32_t shmCounterRead(uint32_t *word) {
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_relaxed);
}

void shmCounterStore(uint32_t *word, uint32_t value) {
    std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_relaxed);
}
