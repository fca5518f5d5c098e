#include "agent/mib2.h"

#include "agent/engine.h"
#include "agent/mib.h"
#include "agent/trap.h"
#include "asn/asn.h"
#include "asn/asx.h"
#include "platform/ifstats.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/sysnet.h"
#include "smx/smx.h"
#include "smx/stats.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int INDEX_MAX = 10; // tcpConnTable's: two addresses and two ports

// A table in object-identifier order: rows sorted by their index arcs, each
// instance column.index. A group of scalars is a table of one row, index 0.
struct Table {
    const uint32_t *columns; // ascending
    int columnCount;
    int (*rows)();                         // refreshes a stale source; the row count
    int (*index)(int row, uint32_t *arcs); // the row's index arcs and their count
    AsnNode *(*value)(const Table *t, uint32_t column, int row);      // none: no such instance
    int (*set)(uint32_t column, int row, AsnNode *value, bool apply); // none: read-only
    const void *data;
};

int compareArcs(const uint32_t *a, int na, const uint32_t *b, int nb) {
    for (int i = 0; i < na && i < nb; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return na < nb ? -1 : na > nb ? 1 : 0;
}

// The first row whose index is above key (exact: equal to it), or -1.
int findRow(const Table *t, int n, const uint32_t *key, int keyLen, bool exact) {
    int lo = 0, hi = n;
    uint32_t arcs[INDEX_MAX];
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        int c = compareArcs(arcs, t->index(mid, arcs), key, keyLen);
        if (c < 0 || (c == 0 && !exact))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo >= n)
        return -1;
    if (exact && compareArcs(arcs, t->index(lo, arcs), key, keyLen) != 0)
        return -1;
    return lo;
}

int findColumn(const Table *t, uint32_t column) {
    for (int i = 0; i < t->columnCount; ++i)
        if (t->columns[i] == column)
            return i;
    return -1;
}

// An entry registered at a table (column 0) or at one of its columns, whose
// instances then lack the column arc.
struct Entry {
    const Table *table;
    uint32_t column;
};

// The instance as column.index, in full; false when it is not one.
int fullInstance(const Entry *e, const uint32_t *arcs, int count, uint32_t *full) {
    int n = 0;
    if (e->column)
        full[n++] = e->column;
    if (count + n > INDEX_MAX + 1)
        return -1;
    for (int i = 0; i < count; ++i)
        full[n++] = arcs[i];
    return n;
}

AsnNode *opGet(const uint32_t *arcs, int count, uintptr_t context) {
    const auto *e = reinterpret_cast<const Entry *>(context);
    const Table *t = e->table;
    uint32_t full[INDEX_MAX + 1];
    int n = fullInstance(e, arcs, count, full);
    if (n < 2 || findColumn(t, full[0]) < 0)
        return nullptr;
    int row = findRow(t, t->rows(), full + 1, n - 1, true);
    return row < 0 ? nullptr : t->value(t, full[0], row);
}

AsnNode *opNext(uint32_t *arcs, int *count, uintptr_t context) {
    const auto *e = reinterpret_cast<const Entry *>(context);
    const Table *t = e->table;
    int rows = t->rows(); // one snapshot for the whole search
    int ci = 0, row = 0, ciLast = t->columnCount - 1;
    if (e->column) {
        ci = ciLast = findColumn(t, e->column);
        if (*count > 0)
            row = findRow(t, rows, arcs, *count > INDEX_MAX ? INDEX_MAX : *count, false);
    } else if (*count > 0) {
        while (ci < t->columnCount && t->columns[ci] < arcs[0])
            ++ci;
        if (ci < t->columnCount && t->columns[ci] == arcs[0])
            row = findRow(t, rows, arcs + 1, std::min(*count - 1, INDEX_MAX), false);
    }
    // A name longer than any index was cut to INDEX_MAX arcs above: a row
    // above the cut name is above the whole name too.
    for (; ci >= 0 && ci <= ciLast; ++ci, row = 0) {
        for (; row >= 0 && row < rows; ++row) {
            AsnNode *v = t->value(t, t->columns[ci], row);
            if (!v)
                continue;
            int at = 0;
            if (!e->column)
                arcs[at++] = t->columns[ci];
            *count = at + t->index(row, arcs + at);
            return v;
        }
    }
    return nullptr;
}

int setOp(const uint32_t *arcs, int count, AsnNode *value, uintptr_t context, bool apply) {
    const auto *e = reinterpret_cast<const Entry *>(context);
    const Table *t = e->table;
    uint32_t full[INDEX_MAX + 1];
    int n = fullInstance(e, arcs, count, full);
    // RFC 1157, 4.1.5: a variable that cannot be set is reported as noSuchName.
    if (!t->set || n < 2 || findColumn(t, full[0]) < 0)
        return SMP_NO_SUCH_NAME;
    int row = findRow(t, t->rows(), full + 1, n - 1, true);
    return row < 0 ? SMP_NO_SUCH_NAME : t->set(full[0], row, value, apply);
}

int opTestSet(const uint32_t *arcs, int count, AsnNode *value, uintptr_t context) {
    return setOp(arcs, count, value, context, false);
}

int opSet(const uint32_t *arcs, int count, AsnNode *value, uintptr_t context) {
    return setOp(arcs, count, value, context, true);
}

// The column a name's instance starts with is one the table has.
int opExists(const uint32_t *arcs, int count, uintptr_t context) {
    const auto *e = reinterpret_cast<const Entry *>(context);
    uint32_t full[INDEX_MAX + 1];
    int n = fullInstance(e, arcs, count, full);
    return n >= 1 && findColumn(e->table, full[0]) >= 0;
}

const MibOps tableOps = {opGet, opNext, opTestSet, opSet, opExists};

// --- sources, each read again at most once a second, and once a request ---

Clock::time_point requestStart; // none until a program marks its requests

bool due(Clock::time_point *at) {
    auto now = Clock::now();
    bool readThisRequest = requestStart != Clock::time_point{} && *at >= requestStart;
    if (*at != Clock::time_point{} && (readThisRequest || now - *at < std::chrono::seconds(1)))
        return false;
    *at = now;
    return true;
}

int oneRow() {
    return 1;
}
int zeroIndex(int, uint32_t *arcs) {
    arcs[0] = 0;
    return 1;
}
int putAddress(uint32_t *arcs, uint32_t a) {
    arcs[0] = a >> 24;
    arcs[1] = (a >> 16) & 0xFF;
    arcs[2] = (a >> 8) & 0xFF;
    arcs[3] = a & 0xFF;
    return 4;
}

// A table's rows as its source last read them, sorted by index (the reader
// sorts them); the vector is kept between readings, so that a reading
// allocates only when the table grows.
template <typename Row> struct Source {
    const char *table; // named in the log
    int (*read)(std::vector<Row> *rows, size_t max);
    std::vector<Row> rows = {};
    Clock::time_point at = {};
    bool full = false; // the last reading reached MIB2_ROWS_MAX
};

template <typename Row> int refresh(Source<Row> *s) {
    if (due(&s->at)) {
        if (s->read(&s->rows, MIB2_ROWS_MAX) < 0)
            s->rows.clear();
        bool full = s->rows.size() >= static_cast<size_t>(MIB2_ROWS_MAX);
        if (full && !s->full)
            logPrintf("mib2: %s reached %d rows, the most served; the rows after them in index "
                      "order are left out\n",
                      s->table, MIB2_ROWS_MAX);
        s->full = full;
    }
    return static_cast<int>(s->rows.size());
}

AsnNode *integer(int64_t v) {
    return asxEncodeInteger(static_cast<int32_t>(v));
}
AsnNode *counter(uint64_t v) {
    return asxEncodeCounter(static_cast<uint32_t>(v)); // RFC 1155 counters wrap at 2^32
}
AsnNode *gauge(uint32_t v) {
    return asxEncodeGauge(v);
}
AsnNode *octets(const void *p, int len) {
    return asxEncodeOctetString(static_cast<const uint8_t *>(p), len);
}
AsnNode *text(const char *s) {
    return octets(s, static_cast<int>(strlen(s)));
}
AsnNode *nullOid() { // RFC 1213: { 0 0 } where no better identifier exists
    static const uint8_t zeroZero[] = {0};
    return asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, zeroZero, 1);
}

// --- system group (1.3.6.1.2.1.1) ---

constexpr uint32_t systemColumns[] = {1, 2, 3, 4, 5, 6, 7};
char sysDescr[4 * UNAME_FIELD + 16];
uint8_t enterpriseOid[64];
int enterpriseLen = 0;
char sysContact[MIB2_TEXT_MAX + 1] = "root@localhost";
char sysName[MIB2_TEXT_MAX + 1];
char sysLocation[MIB2_TEXT_MAX + 1] = "loopback";
const auto started = Clock::now();

uint32_t upTime() { // sysUpTime, in hundredths of a second
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    return static_cast<uint32_t>(ms / 10);
}

char *writableText(uint32_t column) {
    return column == 4 ? sysContact : column == 5 ? sysName : column == 6 ? sysLocation : nullptr;
}

AsnNode *systemValue(const Table *, uint32_t column, int) {
    switch (column) {
    case 1:
        return text(sysDescr);
    case 2:
        return asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, enterpriseOid, enterpriseLen);
    case 3:
        return asxEncodeTimeTicks(upTime());
    case 7:
        return integer(72); // applications and end-to-end
    default:
        return text(writableText(column));
    }
}

int systemSet(uint32_t column, int, AsnNode *value, bool apply) {
    char *into = writableText(column);
    if (!into)
        return SMP_NO_SUCH_NAME;
    // The version-2 statuses (RFC 3416, 4.2.5); a version-1 requester is told
    // badValue for each (RFC 3584, 4.4).
    if (asnClass(value) != ASN_UNIVERSAL || asnTag(value) != ASN_TAG_OCTETS)
        return SMP_WRONG_TYPE;
    if (asnValueLength(value) < 0 || asnValueLength(value) > MIB2_TEXT_MAX)
        return SMP_WRONG_LENGTH;
    uint8_t got[MIB2_TEXT_MAX + 1];
    int n = asnGather(value, got, MIB2_TEXT_MAX);
    // A NUL would end the kept text, and is no text (RFC 2579, DisplayString):
    // refused, as snmpd does. Every other octet is kept as sent (UTF-8 too).
    if (n < 0 || memchr(got, 0, static_cast<size_t>(n)))
        return SMP_WRONG_VALUE;
    if (!apply)
        return SMP_NO_ERROR;
    memcpy(into, got, static_cast<size_t>(n));
    into[n] = '\0';
    return SMP_NO_ERROR;
}

const Table systemTable = {systemColumns, 7, oneRow, zeroIndex, systemValue, systemSet, nullptr};

// --- interfaces group (1.3.6.1.2.1.2), rows by ifIndex ---

std::string interfaceDev, interfaceSys; // none: the system's
std::vector<IfsRow> previousInterfaces;
bool interfacesRead = false;

// One reading serves ifTable and ifXTable. Rows present at the first reading
// have had no discontinuity since the agent started serving them (0); later,
// a new row or one whose counters went back gets the time it was seen.
int readInterfaces(std::vector<IfsRow> *rows, size_t max) {
    previousInterfaces.swap(*rows);
    int n = interfaceDev.empty() ? ifsReadSystem(rows, max)
                                 : ifsRead(rows, max, interfaceDev.c_str(),
                                           interfaceSys.empty() ? nullptr : interfaceSys.c_str());
    ifsCarryDiscontinuities(previousInterfaces, rows,
                            std::exchange(interfacesRead, true) ? upTime() : 0);
    return n;
}
Source<IfsRow> interfaces = {.table = "ifTable", .read = readInterfaces};

int interfaceRows() {
    return refresh(&interfaces);
}

int interfaceIndex(int row, uint32_t *arcs) {
    arcs[0] = interfaces.rows[row].index;
    return 1;
}

constexpr uint32_t ifNumberColumns[] = {1};
AsnNode *ifNumberValue(const Table *, uint32_t, int) {
    return integer(interfaceRows());
}
const Table ifNumberTable = {ifNumberColumns, 1,       oneRow, zeroIndex,
                             ifNumberValue,   nullptr, nullptr};

// ifLastChange (9), ifInNUcastPkts (12), ifInUnknownProtos (15), ifOutNUcastPkts
// (18) and ifOutQLen (21) have no source in Linux.
constexpr uint32_t ifColumns[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 13, 14, 16, 17, 19, 20, 22};

AsnNode *ifValue(const Table *, uint32_t column, int row) {
    const IfsRow &r = interfaces.rows[row];
    switch (column) {
    case 1:
        return integer(r.index);
    case 2:
        return text(r.name);
    case 3:
        return integer(r.type);
    case 4:
        return integer(r.mtu);
    case 5:
        return gauge(r.speed);
    case 6:
        return octets(r.phys, r.physLen);
    case 7:
        return integer(r.adminStatus);
    case 8:
        return integer(r.operStatus);
    case 10:
        return counter(r.inOctets);
    case 11:
        return counter(r.inPackets);
    case 13:
        return counter(r.inDiscards);
    case 14:
        return counter(r.inErrors);
    case 16:
        return counter(r.outOctets);
    case 17:
        return counter(r.outPackets);
    case 19:
        return counter(r.outDiscards);
    case 20:
        return counter(r.outErrors);
    case 22:
        return nullOid();
    default:
        return nullptr;
    }
}

const Table ifTable = {ifColumns,     static_cast<int>(std::size(ifColumns)),
                       interfaceRows, interfaceIndex,
                       ifValue,       nullptr,
                       nullptr};

// --- ifXTable (1.3.6.1.2.1.31.1.1), the same rows by ifIndex ---

// The broadcast and outgoing multicast counters (3, 4, 5, 9, 12, 13) have no
// source in Linux; ifLinkUpDownTrapEnable (14) is left out: no linkUp or
// linkDown Trap is sent.
constexpr uint32_t ifXColumns[] = {1, 2, 6, 7, 8, 10, 11, 15, 16, 17, 18, 19};

AsnNode *counter64(uint64_t v) {
    return asnNewUnsigned64(ASN_APPLICATION, ASN_TAG_COUNTER64, v);
}
AsnNode *truth(bool v) { // RFC 2579, TruthValue
    return integer(v ? 1 : 2);
}

AsnNode *ifXValue(const Table *, uint32_t column, int row) {
    const IfsRow &r = interfaces.rows[row];
    switch (column) {
    case 1:
        return text(r.name);
    case 2:
        return counter(r.inMulticast);
    case 6:
        return counter64(r.inOctets);
    case 7:
        return counter64(r.inPackets);
    case 8:
        return counter64(r.inMulticast);
    case 10:
        return counter64(r.outOctets);
    case 11:
        return counter64(r.outPackets);
    case 15:
        return gauge(r.highSpeed);
    case 16:
        return truth(r.promiscuous);
    case 17:
        return truth(r.connector);
    case 18:
        return text(r.alias);
    case 19:
        return asxEncodeTimeTicks(r.discontinuity);
    default:
        return nullptr;
    }
}

const Table ifXTable = {ifXColumns,    static_cast<int>(std::size(ifXColumns)),
                        interfaceRows, interfaceIndex,
                        ifXValue,      nullptr,
                        nullptr};

// --- protocol counters of /proc/net/snmp: ip, icmp, tcp, udp scalars ---

enum Kind : uint8_t { INTEGER, COUNTER, GAUGE };
struct Counted {
    uint32_t column;
    const char *field;
    Kind kind;
};
struct Protocol {
    SnetCounters SnetProtocols::*line;
    const Counted *objects;
    int count;
    uint32_t columns[32];
};

SnetProtocols protocols;
int64_t reasmTimeout = -1;
Clock::time_point protocolsRead;

int protocolRows() {
    if (due(&protocolsRead)) {
        if (snetReadProtocols(&protocols, "/proc/net/snmp") != 0)
            protocols = SnetProtocols{};
        // RFC 1213's ipReasmTimeout is the time a fragment is held, in
        // seconds; /proc/net/snmp's ReasmTimeout counts timeouts instead.
        if (!snetReadNumber("/proc/sys/net/ipv4/ipfrag_time", &reasmTimeout))
            reasmTimeout = -1;
    }
    return 1;
}

AsnNode *protocolValue(const Table *t, uint32_t column, int) {
    const auto *p = static_cast<const Protocol *>(t->data);
    for (int i = 0; i < p->count; ++i) {
        const Counted &o = p->objects[i];
        if (o.column != column)
            continue;
        int64_t v = 0;
        if (!o.field) {
            if (reasmTimeout < 0)
                return nullptr;
            v = reasmTimeout;
        } else if (!snetField(&(protocols.*p->line), o.field, &v)) {
            return nullptr;
        }
        return o.kind == INTEGER ? integer(v)
               : o.kind == GAUGE ? gauge(static_cast<uint32_t>(v))
                                 : counter(static_cast<uint64_t>(v));
    }
    return nullptr;
}

// ipRoutingDiscards (23) has no source in Linux.
constexpr Counted ipObjects[] = {
    {1, "Forwarding", INTEGER},      {2, "DefaultTTL", INTEGER},   {3, "InReceives", COUNTER},
    {4, "InHdrErrors", COUNTER},     {5, "InAddrErrors", COUNTER}, {6, "ForwDatagrams", COUNTER},
    {7, "InUnknownProtos", COUNTER}, {8, "InDiscards", COUNTER},   {9, "InDelivers", COUNTER},
    {10, "OutRequests", COUNTER},    {11, "OutDiscards", COUNTER}, {12, "OutNoRoutes", COUNTER},
    {13, nullptr, INTEGER},          {14, "ReasmReqds", COUNTER},  {15, "ReasmOKs", COUNTER},
    {16, "ReasmFails", COUNTER},     {17, "FragOKs", COUNTER},     {18, "FragFails", COUNTER},
    {19, "FragCreates", COUNTER},
};
constexpr Counted icmpObjects[] = {
    {1, "InMsgs", COUNTER},           {2, "InErrors", COUNTER},
    {3, "InDestUnreachs", COUNTER},   {4, "InTimeExcds", COUNTER},
    {5, "InParmProbs", COUNTER},      {6, "InSrcQuenchs", COUNTER},
    {7, "InRedirects", COUNTER},      {8, "InEchos", COUNTER},
    {9, "InEchoReps", COUNTER},       {10, "InTimestamps", COUNTER},
    {11, "InTimestampReps", COUNTER}, {12, "InAddrMasks", COUNTER},
    {13, "InAddrMaskReps", COUNTER},  {14, "OutMsgs", COUNTER},
    {15, "OutErrors", COUNTER},       {16, "OutDestUnreachs", COUNTER},
    {17, "OutTimeExcds", COUNTER},    {18, "OutParmProbs", COUNTER},
    {19, "OutSrcQuenchs", COUNTER},   {20, "OutRedirects", COUNTER},
    {21, "OutEchos", COUNTER},        {22, "OutEchoReps", COUNTER},
    {23, "OutTimestamps", COUNTER},   {24, "OutTimestampReps", COUNTER},
    {25, "OutAddrMasks", COUNTER},    {26, "OutAddrMaskReps", COUNTER},
};
constexpr Counted tcpObjects[] = {
    {1, "RtoAlgorithm", INTEGER}, {2, "RtoMin", INTEGER},      {3, "RtoMax", INTEGER},
    {4, "MaxConn", INTEGER},      {5, "ActiveOpens", COUNTER}, {6, "PassiveOpens", COUNTER},
    {7, "AttemptFails", COUNTER}, {8, "EstabResets", COUNTER}, {9, "CurrEstab", GAUGE},
    {10, "InSegs", COUNTER},      {11, "OutSegs", COUNTER},    {12, "RetransSegs", COUNTER},
    {14, "InErrs", COUNTER},      {15, "OutRsts", COUNTER},
};
constexpr Counted udpObjects[] = {
    {1, "InDatagrams", COUNTER},
    {2, "NoPorts", COUNTER},
    {3, "InErrors", COUNTER},
    {4, "OutDatagrams", COUNTER},
};

template <size_t N>
Protocol protocol(SnetCounters SnetProtocols::*line, const Counted (&objects)[N]) {
    Protocol p{line, objects, static_cast<int>(N), {}};
    for (size_t i = 0; i < N; ++i)
        p.columns[i] = objects[i].column;
    return p;
}

const Protocol ipProtocol = protocol(&SnetProtocols::ip, ipObjects);
const Protocol icmpProtocol = protocol(&SnetProtocols::icmp, icmpObjects);
const Protocol tcpProtocol = protocol(&SnetProtocols::tcp, tcpObjects);
const Protocol udpProtocol = protocol(&SnetProtocols::udp, udpObjects);

Table protocolTable(const Protocol &p) {
    return {p.columns, p.count, protocolRows, zeroIndex, protocolValue, nullptr, &p};
}
const Table ipTable = protocolTable(ipProtocol);
const Table icmpTable = protocolTable(icmpProtocol);
const Table tcpTable = protocolTable(tcpProtocol);
const Table udpTable = protocolTable(udpProtocol);

// --- ipAddrTable (1.3.6.1.2.1.4.20), rows by address ---

Source<SnetAddress> addresses = {.table = "ipAddrTable", .read = snetReadAddresses};

int addressKey(const SnetAddress &r, uint32_t *arcs) {
    return putAddress(arcs, r.address);
}
int addressRows() {
    return refresh(&addresses);
}
int addressIndex(int row, uint32_t *arcs) {
    return addressKey(addresses.rows[row], arcs);
}
constexpr uint32_t addrColumns[] = {1, 2, 3, 4, 5};
AsnNode *addrValue(const Table *, uint32_t column, int row) {
    const SnetAddress &r = addresses.rows[row];
    switch (column) {
    case 1:
        return asxEncodeIpAddress(r.address);
    case 2:
        return integer(r.ifIndex);
    case 3:
        return asxEncodeIpAddress(r.netmask);
    case 4:
        // RFC 1213: the least-significant bit of the broadcast address used; an
        // interface that broadcasts, for an address without one of its own, sends to
        // all ones (255.255.255.255).
        return integer(!r.broadcast ? 0 : r.broadcastAddress ? r.broadcastAddress & 1 : 1);
    case 5:
        return integer(65535); // the largest datagram Linux reassembles
    default:
        return nullptr;
    }
}
const Table addrTable = {addrColumns, 5, addressRows, addressIndex, addrValue, nullptr, nullptr};

// --- ipRouteTable (1.3.6.1.2.1.4.21), rows by destination ---

int readRoutes(std::vector<SnetRoute> *rows, size_t max) {
    return snetReadRoutes(rows, max, "/proc/net/route");
}
Source<SnetRoute> routes = {.table = "ipRouteTable", .read = readRoutes};

int routeKey(const SnetRoute &r, uint32_t *arcs) {
    return putAddress(arcs, r.dest);
}
int routeRows() {
    return refresh(&routes); // one route per destination, the one of least metric
}
int routeIndex(int row, uint32_t *arcs) {
    return routeKey(routes.rows[row], arcs);
}
// ipRouteAge (10) has no source in Linux.
constexpr uint32_t routeColumns[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13};
AsnNode *routeValue(const Table *, uint32_t column, int row) {
    const SnetRoute &r = routes.rows[row];
    constexpr uint32_t RTF_GATEWAY = 0x2, RTF_DYNAMIC = 0x10, RTF_MODIFIED = 0x20;
    switch (column) {
    case 1:
        return asxEncodeIpAddress(r.dest);
    case 2:
        return integer(r.ifIndex);
    case 3:
        return integer(r.metric);
    case 4:
    case 5:
    case 6:
    case 12:
        return integer(-1); // RFC 1213: a metric not used
    case 7:
        return asxEncodeIpAddress(r.gateway);
    case 8:
        return integer(r.flags & RTF_GATEWAY ? 4 : 3); // indirect, direct
    case 9:
        return integer(r.flags & (RTF_DYNAMIC | RTF_MODIFIED) ? 4 : 2); // icmp, local
    case 11:
        return asxEncodeIpAddress(r.mask);
    case 13:
        return nullOid();
    default:
        return nullptr;
    }
}
const Table routeTable = {routeColumns, 12, routeRows, routeIndex, routeValue, nullptr, nullptr};

// --- the ARP cache: ipNetToMediaTable (4.22) and atTable (3.1), rows by
// ifIndex and address ---

int readArp(std::vector<SnetArp> *rows, size_t max) {
    return snetReadArp(rows, max, "/proc/net/arp");
}
Source<SnetArp> arps = {.table = "ipNetToMediaTable", .read = readArp};

int arpKey(const SnetArp &r, uint32_t *arcs) {
    arcs[0] = r.ifIndex;
    return 1 + putAddress(arcs + 1, r.address);
}
int arpRows() {
    return refresh(&arps); // complete entries: an incomplete one maps nothing yet
}
int netToMediaIndex(int row, uint32_t *arcs) {
    return arpKey(arps.rows[row], arcs);
}
int atIndex(int row, uint32_t *arcs) {
    arcs[0] = arps.rows[row].ifIndex;
    arcs[1] = 1; // RFC 1213: atNetAddress is a NetworkAddress, type ip (1)
    return 2 + putAddress(arcs + 2, arps.rows[row].address);
}
constexpr uint32_t netToMediaColumns[] = {1, 2, 3, 4};
AsnNode *netToMediaValue(const Table *, uint32_t column, int row) {
    const SnetArp &r = arps.rows[row];
    switch (column) {
    case 1:
        return integer(r.ifIndex);
    case 2:
        return octets(r.phys, r.physLen);
    case 3:
        return asxEncodeIpAddress(r.address);
    case 4:
        return integer(r.flags & 0x4 ? 4 : 3); // static (ATF_PERM), dynamic
    default:
        return nullptr;
    }
}
const Table netToMediaTable = {netToMediaColumns, 4,       arpRows, netToMediaIndex,
                               netToMediaValue,   nullptr, nullptr};
constexpr uint32_t atColumns[] = {1, 2, 3};
const Table atTable = {atColumns, 3, arpRows, atIndex, netToMediaValue, nullptr, nullptr};

// --- tcpConnTable (6.13) and udpTable (7.5) ---

int readTcp(std::vector<SnetSocket> *rows, size_t max) {
    return snetReadSockets(rows, max, "/proc/net/tcp");
}
Source<SnetSocket> tcpSockets = {.table = "tcpConnTable", .read = readTcp};
int readUdp(std::vector<SnetSocket> *rows, size_t max) {
    return snetReadSockets(rows, max, "/proc/net/udp");
}
Source<SnetSocket> udpSockets = {.table = "udpTable", .read = readUdp};

int tcpKey(const SnetSocket &r, uint32_t *arcs) {
    putAddress(arcs, r.localAddress);
    arcs[4] = r.localPort;
    putAddress(arcs + 5, r.remoteAddress);
    arcs[9] = r.remotePort;
    return 10;
}
int udpKey(const SnetSocket &r, uint32_t *arcs) {
    putAddress(arcs, r.localAddress);
    arcs[4] = r.localPort;
    return 5;
}
int tcpRows() {
    return refresh(&tcpSockets);
}
int udpRows() {
    return refresh(&udpSockets);
}
int tcpIndex(int row, uint32_t *arcs) {
    return tcpKey(tcpSockets.rows[row], arcs);
}
int udpIndex(int row, uint32_t *arcs) {
    return udpKey(udpSockets.rows[row], arcs);
}
// The kernel's states 1 (ESTABLISHED) to 11 (CLOSING) as RFC 1213's tcpConnState.
constexpr std::array<int, 12> tcpStates = {0, 5, 3, 4, 6, 7, 11, 1, 8, 9, 2, 10};
constexpr uint32_t tcpConnColumns[] = {1, 2, 3, 4, 5};
AsnNode *tcpConnValue(const Table *, uint32_t column, int row) {
    const SnetSocket &r = tcpSockets.rows[row];
    switch (column) {
    case 1:
        return r.state > 0 && r.state < 12 ? integer(tcpStates[static_cast<size_t>(r.state)])
                                           : nullptr;
    case 2:
        return asxEncodeIpAddress(r.localAddress);
    case 3:
        return integer(r.localPort);
    case 4:
        return asxEncodeIpAddress(r.remoteAddress);
    case 5:
        return integer(r.remotePort);
    default:
        return nullptr;
    }
}
const Table tcpConnTable = {tcpConnColumns, 5, tcpRows, tcpIndex, tcpConnValue, nullptr, nullptr};
constexpr uint32_t udpColumns[] = {1, 2};
AsnNode *udpValue(const Table *, uint32_t column, int row) {
    const SnetSocket &r = udpSockets.rows[row];
    return column == 1 ? asxEncodeIpAddress(r.localAddress) : integer(r.localPort);
}
const Table udpConnTable = {udpColumns, 2, udpRows, udpIndex, udpValue, nullptr, nullptr};

// --- snmp group (1.3.6.1.2.1.11): the engine's statistics block ---

// 31 and 32 are RFC 3418's snmpSilentDrops and snmpProxyDrops (no proxy: 0).
constexpr uint32_t snmpColumns[] = {1,  2,  3,  4,  5,  6,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                    17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31, 32};

AsnNode *snmpValue(const Table *, uint32_t column, int) {
    uint32_t v = smpStatRead(static_cast<int>(column));
    return column == SMP_STAT_ENABLE_AUTHEN_TRAPS ? integer(v) : counter(v);
}

// snmpEnableAuthenTraps: enabled (1) or disabled (2), kept in "snmp.aut" so
// that it outlives the agent.
int snmpSet(uint32_t column, int, AsnNode *value, bool apply) {
    if (column != SMP_STAT_ENABLE_AUTHEN_TRAPS)
        return SMP_NO_SUCH_NAME;
    int32_t v = 0;
    if (asxDecodeInteger(value, &v) != 0)
        return SMP_WRONG_TYPE;
    if (v != 1 && v != 2)
        return SMP_WRONG_VALUE;
    if (!apply)
        return authCheckWritable() == 0 ? SMP_NO_ERROR : SMP_GEN_ERR;
    if (authWriteSetting(static_cast<uint32_t>(v)) != 0)
        return SMP_GEN_ERR;
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, static_cast<uint32_t>(v));
    return SMP_NO_ERROR;
}

const Table snmpTable = {
    snmpColumns, static_cast<int>(std::size(snmpColumns)), oneRow, zeroIndex, snmpValue, snmpSet,
    nullptr};

// --- SNMPv3 engine and counters (RFC 3411, 3412, 3413, 3414) ---

// snmpEngineID, snmpEngineBoots, snmpEngineTime, snmpEngineMaxMessageSize.
constexpr uint32_t engineColumns[] = {1, 2, 3, 4};
AsnNode *engineValue(const Table *, uint32_t column, int) {
    const EngState *e = engState();
    switch (column) {
    case 1:
        return octets(e->id, e->idLength);
    case 2:
        return integer(engBoots());
    case 3:
        return integer(engTime());
    default:
        return integer(SMP_MESSAGE_MAX);
    }
}
const Table engineTable = {engineColumns, 4, oneRow, zeroIndex, engineValue, nullptr, nullptr};

// Counter groups whose column n is the statistics word first + n - 1.
struct CounterGroup {
    int first;
};
AsnNode *groupValue(const Table *t, uint32_t column, int) {
    const auto *g = static_cast<const CounterGroup *>(t->data);
    return counter(smpStatRead(g->first + static_cast<int>(column) - 1));
}
constexpr uint32_t mpdColumns[] = {1, 2, 3};
constexpr CounterGroup mpdWords = {SMP_STAT_UNKNOWN_SECURITY_MODELS};
const Table mpdTable = {mpdColumns, 3, oneRow, zeroIndex, groupValue, nullptr, &mpdWords};
// snmpUnavailableContexts and snmpUnknownContexts (RFC 3413, 4.1.4 and .5).
constexpr uint32_t contextColumns[] = {4, 5};
constexpr CounterGroup contextWords = {SMP_STAT_UNAVAILABLE_CONTEXTS - 3};
const Table contextTable = {contextColumns, 2,       oneRow,       zeroIndex,
                            groupValue,     nullptr, &contextWords};
constexpr uint32_t usmColumns[] = {1, 2, 3, 4, 5, 6};
constexpr CounterGroup usmWords = {SMP_STAT_UNSUPPORTED_SEC_LEVELS};
const Table usmStatsTable = {usmColumns, 6, oneRow, zeroIndex, groupValue, nullptr, &usmWords};

// --- registration ---

struct Registration {
    const char *name;
    const Table *table;
    bool perColumn; // registered column by column, beside tables of the group
};
const Registration registrations[] = {
    {"1.3.6.1.2.1.1", &systemTable, false},
    {"1.3.6.1.2.1.2", &ifNumberTable, true},
    {"1.3.6.1.2.1.2.2.1", &ifTable, false},
    {"1.3.6.1.2.1.3.1.1", &atTable, false},
    {"1.3.6.1.2.1.4", &ipTable, true},
    {"1.3.6.1.2.1.4.20.1", &addrTable, false},
    {"1.3.6.1.2.1.4.21.1", &routeTable, false},
    {"1.3.6.1.2.1.4.22.1", &netToMediaTable, false},
    {"1.3.6.1.2.1.5", &icmpTable, false},
    {"1.3.6.1.2.1.6", &tcpTable, true},
    {"1.3.6.1.2.1.6.13.1", &tcpConnTable, false},
    {"1.3.6.1.2.1.7", &udpTable, true},
    {"1.3.6.1.2.1.7.5.1", &udpConnTable, false},
    {"1.3.6.1.2.1.11", &snmpTable, false},
    {"1.3.6.1.2.1.31.1.1.1", &ifXTable, false},
    {"1.3.6.1.6.3.10.2.1", &engineTable, false},
    {"1.3.6.1.6.3.11.2.1", &mpdTable, false},
    {"1.3.6.1.6.3.12.1", &contextTable, true},
    {"1.3.6.1.6.3.15.1.1", &usmStatsTable, false},
};
std::array<Entry, 128> entries;
size_t entryCount = 0;

int registerEntry(const char *name, const Table *table, uint32_t column) {
    if (entryCount >= entries.size())
        return 1;
    Entry *e = &entries[entryCount++];
    *e = {table, column};
    return mibRegister(name, &tableOps, reinterpret_cast<uintptr_t>(e)) == 0 ? 0 : 1;
}

} // namespace

void mib2BeginRequest() {
    requestStart = Clock::now();
}

void mib2ReadInterfacesFrom(const char *devPath, const char *sysDir) {
    interfaceDev = devPath ? devPath : "";
    interfaceSys = sysDir ? sysDir : "";
    interfaces.at = {};
    interfacesRead = false;
}

int mib2Register() {
    UnameRec u{};
    net::uname(&u);
    snprintf(sysDescr, sizeof sysDescr, "%s %s %s %s", UNAME_SYSTEM, u.nodeName, u.version,
             u.machine);
    if (hostGetLocalName(sysName, MIB2_TEXT_MAX) < 0)
        snprintf(sysName, sizeof sysName, "%s", u.nodeName);
    enterpriseLen = smxTextToObjectId(enterpriseOid, sizeof enterpriseOid, TRAP_DEFAULT_ENTERPRISE);
    if (enterpriseLen < 0)
        enterpriseLen = 0;
    int failed = 0;
    for (const Registration &r : registrations) {
        if ((r.table == &ifXTable && !ifsSystemHasExtended()) ||
            (r.table == &engineTable && !engState()->ready))
            continue;
        if (!r.perColumn) {
            failed += registerEntry(r.name, r.table, 0);
            continue;
        }
        for (int i = 0; i < r.table->columnCount; ++i) {
            char name[64];
            snprintf(name, sizeof name, "%s.%u", r.name, r.table->columns[i]);
            failed += registerEntry(name, r.table, r.table->columns[i]);
        }
    }
    return failed;
}
