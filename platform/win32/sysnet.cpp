// Windows has none of the sources these read (/proc, getifaddrs): every read
// reports that its source does not open, and the agent leaves out the groups
// and tables they would fill.
#include "platform/sysnet.h"

#include <cstring>

int snetReadProtocols(SnetProtocols *, const char *) {
    return -1;
}

bool snetField(const SnetCounters *c, const char *name, int64_t *value) {
    for (int i = 0; i < c->count; ++i)
        if (strcmp(c->names[i], name) == 0) {
            *value = c->values[i];
            return true;
        }
    return false;
}

int snetReadRoutes(std::vector<SnetRoute> *rows, size_t, const char *) {
    rows->clear();
    return -1;
}

int snetReadArp(std::vector<SnetArp> *rows, size_t, const char *) {
    rows->clear();
    return -1;
}

int snetReadSockets(std::vector<SnetSocket> *rows, size_t, const char *) {
    rows->clear();
    return -1;
}

int snetReadAddresses(std::vector<SnetAddress> *rows, size_t) {
    rows->clear();
    return -1;
}

bool snetReadNumber(const char *, int64_t *) {
    return false;
}
