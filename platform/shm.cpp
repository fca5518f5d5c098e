#include "platform/shm.h"

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
