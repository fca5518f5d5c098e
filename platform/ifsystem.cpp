#include "platform/ifstats.h"

int ifsReadSystem(std::vector<IfsRow> *rows, size_t max) {
    return ifsRead(rows, max, "/proc/net/dev", "/sys/class/net");
}

bool ifsSystemHasExtended() {
    return true;
}
