#include "demo/mibvars.h"

#include "agent/mib.h"
#include "agent/trap.h"
#include "asn/asn.h"
#include "demo/ifstats.h"
#include "platform/net.h"
#include "smx/smx.h"
#include "smx/stats.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// A table's instances: with columns, the arcs column.row; without, the arc row.
// Rows run from rowFirst to rowLast() without gaps; a scalar group's only row
// is 0.
struct DemoTable {
    const uint32_t *columns; // ascending
    int columnCount;
    uint32_t rowFirst;
    uint32_t (*rowLast)(); // below rowFirst when the table is empty
    AsnNode *(*value)(uint32_t column, uint32_t row);
    int (*testSet)(uint32_t column, uint32_t row, AsnNode *value);
    int (*set)(uint32_t column, uint32_t row, AsnNode *value);
};

uint32_t zeroRow() {
    return 0;
}

// The first row instance strictly after arcs[0..count), or false.
bool nextRow(const DemoTable *t, const uint32_t *arcs, int count, uint32_t *row) {
    uint32_t last = t->rowLast();
    if (last < t->rowFirst)
        return false;
    uint32_t r;
    if (count <= 0 || arcs[0] < t->rowFirst)
        r = t->rowFirst;
    else if (arcs[0] == UINT32_MAX)
        return false;
    else
        r = arcs[0] + 1; // [a] <= arcs < [a + 1]
    if (r > last)
        return false;
    *row = r;
    return true;
}

bool nextInstance(const DemoTable *t, uint32_t *arcs, int *count) {
    uint32_t row = 0;
    if (t->columnCount == 0) {
        if (!nextRow(t, arcs, *count, &row))
            return false;
        arcs[0] = row;
        *count = 1;
        return true;
    }
    int ci = 0;
    bool haveRow = false;
    if (*count > 0) {
        while (ci < t->columnCount && t->columns[ci] < arcs[0])
            ++ci;
        if (ci < t->columnCount && t->columns[ci] == arcs[0]) {
            haveRow = nextRow(t, arcs + 1, *count - 1, &row);
            if (!haveRow)
                ++ci;
        }
    }
    if (!haveRow) {
        if (ci >= t->columnCount || t->rowLast() < t->rowFirst)
            return false;
        row = t->rowFirst;
    }
    arcs[0] = t->columns[ci];
    arcs[1] = row;
    *count = 2;
    return true;
}

bool splitInstance(const DemoTable *t, const uint32_t *arcs, int count, uint32_t *column,
                   uint32_t *row) {
    int want = t->columnCount == 0 ? 1 : 2;
    if (count != want)
        return false;
    *column = want == 2 ? arcs[0] : 0;
    *row = arcs[want - 1];
    if (*row < t->rowFirst || *row > t->rowLast())
        return false;
    if (want == 1)
        return true;
    for (int i = 0; i < t->columnCount; ++i)
        if (t->columns[i] == *column)
            return true;
    return false;
}

AsnNode *opGet(const uint32_t *arcs, int count, uintptr_t context) {
    const auto *t = reinterpret_cast<const DemoTable *>(context);
    uint32_t column = 0, row = 0;
    return splitInstance(t, arcs, count, &column, &row) ? t->value(column, row) : nullptr;
}

AsnNode *opNext(uint32_t *arcs, int *count, uintptr_t context) {
    const auto *t = reinterpret_cast<const DemoTable *>(context);
    while (nextInstance(t, arcs, count)) {
        uint32_t column = t->columnCount ? arcs[0] : 0, row = arcs[*count - 1];
        if (AsnNode *v = t->value(column, row))
            return v;
    }
    return nullptr;
}

int opTestSet(const uint32_t *arcs, int count, AsnNode *value, uintptr_t context) {
    const auto *t = reinterpret_cast<const DemoTable *>(context);
    uint32_t column = 0, row = 0;
    // RFC 1157, 4.1.5: a variable that cannot be set is reported as noSuchName.
    if (!t->testSet || !splitInstance(t, arcs, count, &column, &row))
        return SMP_NO_SUCH_NAME;
    return t->testSet(column, row, value);
}

int opSet(const uint32_t *arcs, int count, AsnNode *value, uintptr_t context) {
    const auto *t = reinterpret_cast<const DemoTable *>(context);
    uint32_t column = 0, row = 0;
    if (!t->set || !splitInstance(t, arcs, count, &column, &row))
        return SMP_NO_SUCH_NAME;
    return t->set(column, row, value);
}

const MibOps tableOps = {opGet, opNext, opTestSet, opSet};

AsnNode *text(const char *s) {
    return asnNewOctetString(ASN_UNIVERSAL, ASN_TAG_OCTETS, reinterpret_cast<const uint8_t *>(s),
                             static_cast<int>(strlen(s)));
}

// --- system group (1.3.6.1.2.1.1) ---

constexpr uint32_t systemColumns[] = {1, 2, 3, 4, 5, 6, 7};
constexpr uint32_t SYS_CONTACT = 4, SYS_NAME = 5, SYS_LOCATION = 6;
char sysDescr[4 * UNAME_FIELD + 16];
uint8_t enterpriseOid[64];
int enterpriseLen = 0;
char sysContact[DEMO_TEXT_MAX + 1] = "root@localhost";
char sysName[DEMO_TEXT_MAX + 1];
char sysLocation[DEMO_TEXT_MAX + 1] = "loopback";
const auto started = std::chrono::steady_clock::now();

char *writableText(uint32_t column) {
    switch (column) {
    case SYS_CONTACT:
        return sysContact;
    case SYS_NAME:
        return sysName;
    case SYS_LOCATION:
        return sysLocation;
    default:
        return nullptr;
    }
}

AsnNode *systemValue(uint32_t column, uint32_t) {
    switch (column) {
    case 1:
        return text(sysDescr);
    case 2:
        return asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, enterpriseOid, enterpriseLen);
    case 3: {
        auto cs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count() /
                  10;
        return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_TIMETICKS, static_cast<uint32_t>(cs));
    }
    case 7:
        return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER,
                             72); // applications and end-to-end
    default:
        return text(writableText(column));
    }
}

int systemTestSet(uint32_t column, uint32_t, AsnNode *value) {
    if (!writableText(column))
        return SMP_NO_SUCH_NAME;
    if (asnClass(value) != ASN_UNIVERSAL || asnTag(value) != ASN_TAG_OCTETS ||
        asnValueLength(value) < 0 || asnValueLength(value) > DEMO_TEXT_MAX)
        return SMP_BAD_VALUE;
    return SMP_NO_ERROR;
}

int systemSet(uint32_t column, uint32_t row, AsnNode *value) {
    int status = systemTestSet(column, row, value);
    if (status != SMP_NO_ERROR)
        return status;
    uint8_t octets[DEMO_TEXT_MAX + 1];
    int n = asnGather(value, octets, DEMO_TEXT_MAX);
    if (n < 0)
        return SMP_BAD_VALUE;
    char *into = writableText(column);
    memcpy(into, octets, static_cast<size_t>(n));
    into[n] = '\0'; // an embedded NUL cuts the text: it is a DisplayString
    return SMP_NO_ERROR;
}

const DemoTable systemTable = {systemColumns, 7, 0, zeroRow, systemValue, systemTestSet, systemSet};

// --- interfaces group (1.3.6.1.2.1.2) ---

IfsTable interfaces;
auto interfacesRead = std::chrono::steady_clock::time_point{};

// Counters are read again at most once a second, so that a walk sees one
// picture.
const IfsTable &currentInterfaces() {
    auto now = std::chrono::steady_clock::now();
    if (now - interfacesRead >= std::chrono::seconds(1)) {
        if (ifsRead(&interfaces, "/proc/net/dev", "/sys/class/net") < 0)
            interfaces.count = 0;
        interfacesRead = now;
    }
    return interfaces;
}

uint32_t interfaceRows() {
    return static_cast<uint32_t>(currentInterfaces().count);
}

AsnNode *ifNumberValue(uint32_t, uint32_t) {
    return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(interfaceRows()));
}

const DemoTable ifNumberTable = {nullptr, 0, 0, zeroRow, ifNumberValue, nullptr, nullptr};

constexpr uint32_t ifColumns[] = {1, 2, 3, 4, 5, 8, 10, 11, 14, 16, 17, 20};

AsnNode *ifValue(uint32_t column, uint32_t row) {
    const IfsTable &t = currentInterfaces();
    if (row < 1 || row > static_cast<uint32_t>(t.count))
        return nullptr;
    const IfsRow &r = t.rows[row - 1];
    auto integer = [](uint32_t v) {
        return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(v));
    };
    auto counter = [](uint32_t v) { return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_COUNTER, v); };
    switch (column) {
    case 1:
        return integer(row);
    case 2:
        return text(r.name);
    case 3:
        return integer(r.type);
    case 4:
        return integer(r.mtu);
    case 5:
        return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_GAUGE, r.speed);
    case 8:
        return integer(r.operStatus);
    case 10:
        return counter(r.inOctets);
    case 11:
        return counter(r.inPackets);
    case 14:
        return counter(r.inErrors);
    case 16:
        return counter(r.outOctets);
    case 17:
        return counter(r.outPackets);
    case 20:
        return counter(r.outErrors);
    default:
        return nullptr;
    }
}

const DemoTable ifTable = {ifColumns, 12, 1, interfaceRows, ifValue, nullptr, nullptr};

// --- snmp group (1.3.6.1.2.1.11): the engine's statistics block ---

constexpr uint32_t snmpColumns[] = {1,  2,  3,  4,  5,  6,  8,  9,  10, 11, 12, 13, 14, 15,
                                    16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30};

AsnNode *snmpValue(uint32_t column, uint32_t) {
    uint32_t v = smpStatRead(static_cast<int>(column));
    if (column == SMP_STAT_ENABLE_AUTHEN_TRAPS)
        return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(v));
    return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_COUNTER, v);
}

const DemoTable snmpTable = {snmpColumns, 28, 0, zeroRow, snmpValue, nullptr, nullptr};

// --- test table (default enterprise .1.1): column 1, rows 1..N, value = row
// ---

constexpr uint32_t testColumns[] = {1};
uint32_t testRows = 0;
uint32_t testRowLast() {
    return testRows;
}
AsnNode *testValue(uint32_t, uint32_t row) {
    return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(row));
}
const DemoTable testTable = {testColumns, 1, 1, testRowLast, testValue, nullptr, nullptr};

int registerTable(const char *name, const DemoTable *table) {
    return mibRegister(name, &tableOps, reinterpret_cast<uintptr_t>(table)) == 0 ? 0 : 1;
}

} // namespace

int demoRegister(uint32_t rows) {
    UnameRec u{};
    net::uname(&u);
    snprintf(sysDescr, sizeof sysDescr, "Linux %s %s %s", u.nodeName, u.version, u.machine);
    if (hostGetLocalName(sysName, DEMO_TEXT_MAX) < 0)
        snprintf(sysName, sizeof sysName, "%s", u.nodeName);
    enterpriseLen = smxTextToObjectId(enterpriseOid, sizeof enterpriseOid, TRAP_DEFAULT_ENTERPRISE);
    if (enterpriseLen < 0)
        enterpriseLen = 0;
    testRows = rows > DEMO_TEST_ROWS_MAX ? DEMO_TEST_ROWS_MAX : rows;

    char testName[64];
    snprintf(testName, sizeof testName, "%s.1.1", TRAP_DEFAULT_ENTERPRISE);
    int failed = registerTable("1.3.6.1.2.1.1", &systemTable) +
                 registerTable("1.3.6.1.2.1.2.1", &ifNumberTable) +
                 registerTable("1.3.6.1.2.1.2.2.1", &ifTable) +
                 registerTable("1.3.6.1.2.1.11", &snmpTable);
    if (testRows > 0)
        failed += registerTable(testName, &testTable);
    return failed;
}
