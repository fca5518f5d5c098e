#include "platform/ifstats.h"

#include "platform/file.h"
#include "platform/sysrows.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr int LINE_MAX_CHARS = 511;

std::pair<uint32_t, std::string_view> order(const IfsRow &r) {
    return {r.index, r.name};
}

// Reads the first line of sysDir/name/leaf into buf (capacity cap + 1).
bool readSysFile(const char *sysDir, const char *name, const char *leaf, char *buf, int cap) {
    char path[512];
    int n = snprintf(path, sizeof path, "%s/%s/%s", sysDir, name, leaf);
    if (n < 0 || n >= static_cast<int>(sizeof path))
        return false;
    FILE *f = fileOpen(path, "r");
    if (!f)
        return false;
    bool ok = fgets(buf, cap + 1, f) != nullptr;
    fclose(f);
    if (ok)
        buf[strcspn(buf, "\n")] = '\0';
    return ok;
}

bool parseUnsigned(const char *text, unsigned long long *value) {
    if (!text || *text < '0' || *text > '9')
        return false;
    char *end = nullptr;
    *value = strtoull(text, &end, 10);
    return end && *end == '\0';
}

void completeFromSys(IfsRow *row, const char *sysDir) {
    char buf[64];
    unsigned long long v = 0;
    if (readSysFile(sysDir, row->name, "type", buf, 63) && parseUnsigned(buf, &v))
        row->type = v == 1 ? 6 : v == 772 ? 24 : 1; // ARPHRD_ETHER, ARPHRD_LOOPBACK
    if (readSysFile(sysDir, row->name, "mtu", buf, 63) && parseUnsigned(buf, &v))
        row->mtu = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    // speed is in megabits per second; -1 or an error means unknown.
    if (readSysFile(sysDir, row->name, "speed", buf, 63) && parseUnsigned(buf, &v)) {
        row->speed = v >= 4295ull ? 0xFFFFFFFFu : static_cast<uint32_t>(v * 1000000ull);
        row->highSpeed = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    }
    if (readSysFile(sysDir, row->name, "ifindex", buf, 63) && parseUnsigned(buf, &v) && v > 0 &&
        v <= 0x7FFFFFFFull)
        row->index = static_cast<uint32_t>(v);
    unsigned long flags = 0;
    bool haveFlags = readSysFile(sysDir, row->name, "flags", buf, 63);
    if (haveFlags) {
        flags = strtoul(buf, nullptr, 16);
        row->adminStatus = (flags & 0x1) ? 1 : 2; // IFF_UP
        row->promiscuous = (flags & 0x100) != 0;  // IFF_PROMISC
    }
    // "aa:bb:..": six octets for Ethernet; the loopback's all-zero one is none.
    if (readSysFile(sysDir, row->name, "address", buf, 63) && row->type != 24)
        row->physLen = sysParsePhys(buf, row->phys);
    if (readSysFile(sysDir, row->name, "operstate", buf, 63)) {
        // The loopback reports "unknown" while up; its flags decide then.
        if (strcmp(buf, "up") == 0)
            row->operStatus = 1;
        else if (strcmp(buf, "unknown") == 0 && haveFlags)
            row->operStatus = (flags & 0x1) ? 1 : 2; // IFF_UP
    }
    // Software interfaces (loopback, bridges, tunnels, veth) have no device.
    char path[512];
    int n = snprintf(path, sizeof path, "%s/%s/device", sysDir, row->name);
    row->connector = n > 0 && n < static_cast<int>(sizeof path) && fileExists(path) == 1;
    if (!readSysFile(sysDir, row->name, "ifalias", row->alias, IFS_ALIAS_MAX))
        row->alias[0] = '\0';
}

// The counters as one list, to compare two readings; inPackets with the
// multicast ones is every packet received, as the kernel counts it.
std::array<uint64_t, 9> counters(const IfsRow &r) {
    return {r.inOctets,    r.inPackets + r.inMulticast,
            r.inMulticast, r.inErrors,
            r.inDiscards,  r.outOctets,
            r.outPackets,  r.outErrors,
            r.outDiscards};
}

} // namespace

int ifsParseLine(IfsRow *row, const char *line) {
    const char *colon = strchr(line, ':');
    if (!colon)
        return -1;
    const char *start = line;
    while (*start == ' ' || *start == '\t')
        ++start;
    size_t len = static_cast<size_t>(colon - start);
    if (len == 0)
        return -1;
    if (len > static_cast<size_t>(IFS_NAME_MAX))
        len = IFS_NAME_MAX;
    *row = IfsRow{};
    memcpy(row->name, start, len);
    row->name[len] = '\0';
    row->type = 1;
    row->operStatus = 2;
    row->adminStatus = 2;
    // Receive: bytes packets errs drop fifo frame compressed multicast;
    // transmit: bytes packets errs drop fifo colls carrier compressed.
    unsigned long long f[16];
    const char *p = colon + 1;
    for (int i = 0; i < 16; ++i) {
        char *end = nullptr;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p < '0' || *p > '9')
            return -1;
        f[i] = strtoull(p, &end, 10);
        p = end;
    }
    row->inOctets = f[0];
    // RFC 1213 ifInUcastPkts: the multicast ones are not unicast.
    row->inPackets = f[1] - (f[7] < f[1] ? f[7] : f[1]);
    row->inMulticast = f[7];
    row->inErrors = f[2];
    row->inDiscards = f[3];
    row->outDiscards = f[11];
    row->outOctets = f[8];
    row->outPackets = f[9];
    row->outErrors = f[10];
    return 0;
}

void ifsCarryDiscontinuities(const std::vector<IfsRow> &previous, std::vector<IfsRow> *rows,
                             uint32_t now) {
    auto before = previous.begin();
    for (IfsRow &row : *rows) {
        while (before != previous.end() && before->index < row.index)
            ++before;
        bool same = before != previous.end() && before->index == row.index &&
                    strcmp(before->name, row.name) == 0;
        auto was = same ? counters(*before) : std::array<uint64_t, 9>{}, is = counters(row);
        for (size_t i = 0; same && i < is.size(); ++i)
            same = is[i] >= was[i];
        row.discontinuity = same ? before->discontinuity : now;
    }
}

void ifsAddRow(std::vector<IfsRow> *rows, size_t max, const IfsRow &row) {
    sysAddRow(rows, max, row, order);
}

void ifsSortRows(std::vector<IfsRow> *rows, size_t max) {
    sysSortRows(rows, max, order);
}

int ifsRead(std::vector<IfsRow> *rows, size_t max, const char *devPath, const char *sysDir) {
    rows->clear();
    FILE *f = fileOpen(devPath, "r");
    if (!f)
        return -1;
    char line[LINE_MAX_CHARS + 2];
    bool skipping = false; // inside a line longer than the buffer
    uint32_t position = 0;
    while (fgets(line, sizeof line, f)) {
        bool whole = strchr(line, '\n') != nullptr || feof(f);
        if (skipping || !whole) {
            skipping = !whole;
            continue;
        }
        IfsRow row;
        if (ifsParseLine(&row, line) != 0)
            continue; // the two header lines
        row.index = ++position;
        if (sysDir)
            completeFromSys(&row, sysDir);
        ifsAddRow(rows, max, row);
    }
    fclose(f);
    ifsSortRows(rows, max);
    return static_cast<int>(rows->size());
}
