#include "platform/ifstats.h"

int ifsReadSystem(IfsTable *table) {
    return ifsRead(table, "/proc/net/dev", "/sys/class/net");
}
