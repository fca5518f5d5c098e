// Shared segments do not exist here: attach and status always fail, so each
// process keeps its local statistics block.
#include "platform/shm.h"

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
