#include "platform/sysnet.h"

#include "platform/file.h"
#include "platform/sysrows.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

constexpr int LINE_MAX_CHARS = 511;

// Calls row(line) for each whole line after the first `skip`; a line longer
// than the buffer is skipped whole.
template <typename Fn> int eachLine(const char *path, int skip, Fn row) {
    FILE *f = fileOpen(path, "r");
    if (!f)
        return -1;
    char line[LINE_MAX_CHARS + 2];
    bool skipping = false;
    for (int n = 0; fgets(line, sizeof line, f); ++n) {
        bool whole = strchr(line, '\n') != nullptr || feof(f);
        if (skipping || !whole) {
            skipping = !whole;
            continue;
        }
        if (n >= skip && !row(line))
            break;
    }
    fclose(f);
    return 0;
}

// /proc prints addresses as the hexadecimal of the network-order word.
uint32_t hexAddress(const char *text, char **end) {
    return ntohl(static_cast<uint32_t>(strtoul(text, end, 16)));
}

void copyName(char *into, const char *from, size_t len) {
    if (len > static_cast<size_t>(SNET_NAME_MAX))
        len = SNET_NAME_MAX;
    memcpy(into, from, len);
    into[len] = '\0';
}

// if_nametoindex costs a socket and an ioctl: a read asks once per name (of
// its first 16), as its rows name a few interfaces over and over.
struct IndexCache {
    char names[16][SNET_NAME_MAX + 1];
    uint32_t indexes[16];
    int count = 0;
};
uint32_t indexOf(IndexCache *c, const char *name) {
    for (int i = 0; i < c->count; ++i)
        if (strcmp(c->names[i], name) == 0)
            return c->indexes[i];
    uint32_t index = if_nametoindex(name);
    if (c->count < 16) {
        copyName(c->names[c->count], name, strlen(name));
        c->indexes[c->count++] = index;
    }
    return index;
}

// Each table's order: its index, then what decides between rows of one index.
std::pair<uint32_t, std::tuple<uint32_t, uint32_t, uint32_t>> routeOrder(const SnetRoute &r) {
    return {r.dest, {r.metric, r.mask, r.gateway}}; // one route per destination: the least metric
}
std::pair<std::pair<uint32_t, uint32_t>, uint32_t> arpOrder(const SnetArp &r) {
    return {{r.ifIndex, r.address}, r.flags};
}
std::pair<std::tuple<uint32_t, uint16_t, uint32_t, uint16_t>, int>
socketOrder(const SnetSocket &r) {
    return {{r.localAddress, r.localPort, r.remoteAddress, r.remotePort}, r.state};
}
std::pair<uint32_t, uint32_t> addressOrder(const SnetAddress &r) {
    return {r.address, r.ifIndex};
}

int splitCounters(SnetCounters *c, char *names, char *values) {
    c->count = 0;
    char *ns = nullptr, *vs = nullptr;
    char *n = strtok_r(names, " \t\n", &ns);
    char *v = strtok_r(values, " \t\n", &vs);
    while (n && v && c->count < SNET_FIELDS_MAX) {
        copyName(c->names[c->count], n, strlen(n));
        c->values[c->count++] = strtoll(v, nullptr, 10);
        n = strtok_r(nullptr, " \t\n", &ns);
        v = strtok_r(nullptr, " \t\n", &vs);
    }
    return c->count;
}

} // namespace

int snetReadProtocols(SnetProtocols *p, const char *path) {
    *p = SnetProtocols{};
    char names[LINE_MAX_CHARS + 2] = "";
    return eachLine(path, 0, [&](char *line) {
        char *colon = strchr(line, ':');
        if (!colon)
            return true;
        size_t len = static_cast<size_t>(colon - line);
        SnetCounters *c = len == 2 && strncmp(line, "Ip", 2) == 0     ? &p->ip
                          : len == 4 && strncmp(line, "Icmp", 4) == 0 ? &p->icmp
                          : len == 3 && strncmp(line, "Tcp", 3) == 0  ? &p->tcp
                          : len == 3 && strncmp(line, "Udp", 3) == 0  ? &p->udp
                                                                      : nullptr;
        // Each protocol has a line of names, then one of values.
        bool isNames = colon[1] == ' ' && colon[2] >= 'A' && colon[2] <= 'Z';
        if (isNames)
            snprintf(names, sizeof names, "%s", colon + 1);
        else if (c)
            splitCounters(c, names, colon + 1);
        return true;
    });
}

bool snetField(const SnetCounters *c, const char *name, int64_t *value) {
    for (int i = 0; i < c->count; ++i)
        if (strcmp(c->names[i], name) == 0) {
            *value = c->values[i];
            return true;
        }
    return false;
}

int snetReadRoutes(std::vector<SnetRoute> *rows, size_t max, const char *path) {
    rows->clear();
    IndexCache names;
    int r = eachLine(path, 1, [&](char *line) {
        SnetRoute o{};
        char name[64];
        unsigned dest, gateway, flags, refs, use, metric, mask;
        if (sscanf(line, "%63s %x %x %x %u %u %u %x", name, &dest, &gateway, &flags, &refs, &use,
                   &metric, &mask) != 8)
            return true;
        copyName(o.ifName, name, strlen(name));
        o.ifIndex = indexOf(&names, o.ifName);
        o.dest = ntohl(dest);
        o.gateway = ntohl(gateway);
        o.mask = ntohl(mask);
        o.flags = flags;
        o.metric = metric;
        sysAddRow(rows, max, o, routeOrder);
        return true;
    });
    sysSortRows(rows, max, routeOrder);
    return r < 0 ? -1 : static_cast<int>(rows->size());
}

int snetReadArp(std::vector<SnetArp> *rows, size_t max, const char *path) {
    rows->clear();
    IndexCache names;
    int r = eachLine(path, 1, [&](char *line) {
        SnetArp o{};
        char ip[32], hw[64], mask[32], dev[64];
        unsigned type, flags;
        struct in_addr a;
        // An incomplete entry (without ATF_COM) maps nothing yet.
        if (sscanf(line, "%31s %x %x %63s %31s %63s", ip, &type, &flags, hw, mask, dev) != 6 ||
            inet_pton(AF_INET, ip, &a) != 1 || !(flags & 0x2))
            return true;
        o.physLen = sysParsePhys(hw, o.phys);
        o.address = ntohl(a.s_addr);
        o.flags = flags;
        copyName(o.ifName, dev, strlen(dev));
        o.ifIndex = indexOf(&names, o.ifName);
        sysAddRow(rows, max, o, arpOrder);
        return true;
    });
    sysSortRows(rows, max, arpOrder);
    return r < 0 ? -1 : static_cast<int>(rows->size());
}

int snetReadSockets(std::vector<SnetSocket> *rows, size_t max, const char *path) {
    rows->clear();
    int r = eachLine(path, 1, [&](char *line) {
        SnetSocket o{};
        // "  sl: LOCALADDR:PORT REMADDR:PORT ST ..."
        char *p = strchr(line, ':');
        if (!p)
            return true;
        char *end = nullptr;
        o.localAddress = hexAddress(p + 1, &end);
        if (*end != ':')
            return true;
        o.localPort = static_cast<uint16_t>(strtoul(end + 1, &end, 16));
        o.remoteAddress = hexAddress(end, &end);
        if (*end != ':')
            return true;
        o.remotePort = static_cast<uint16_t>(strtoul(end + 1, &end, 16));
        o.state = static_cast<int>(strtol(end, &end, 16));
        sysAddRow(rows, max, o, socketOrder);
        return true;
    });
    sysSortRows(rows, max, socketOrder);
    return r < 0 ? -1 : static_cast<int>(rows->size());
}

int snetReadAddresses(std::vector<SnetAddress> *rows, size_t max) {
    rows->clear();
    struct ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return -1;
    IndexCache names;
    auto in = [](const sockaddr *a) {
        return a ? ntohl(reinterpret_cast<const sockaddr_in *>(a)->sin_addr.s_addr) : 0;
    };
    for (struct ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name)
            continue;
        SnetAddress o{};
        // An alias label ("eth0:1") names its interface before the colon.
        copyName(o.ifName, a->ifa_name, strcspn(a->ifa_name, ":"));
        o.ifIndex = indexOf(&names, o.ifName);
        o.broadcast = (a->ifa_flags & IFF_BROADCAST) != 0;
        o.address = in(a->ifa_addr);
        o.netmask = in(a->ifa_netmask);
        // Without a broadcast address of its own, glibc gives the address itself.
        o.broadcastAddress = o.broadcast ? in(a->ifa_broadaddr) : 0;
        if (o.broadcastAddress == o.address)
            o.broadcastAddress = 0;
        sysAddRow(rows, max, o, addressOrder);
    }
    freeifaddrs(list);
    sysSortRows(rows, max, addressOrder);
    return static_cast<int>(rows->size());
}

bool snetReadNumber(const char *path, int64_t *value) {
    bool ok = false;
    eachLine(path, 0, [&](char *line) {
        char *end = nullptr;
        *value = strtoll(line, &end, 10);
        ok = end != line;
        return false;
    });
    return ok;
}
