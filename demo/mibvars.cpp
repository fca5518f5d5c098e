#include "demo/mibvars.h"

#include "agent/mib.h"
#include "agent/mib2.h"
#include "agent/trap.h"
#include "asn/asn.h"
#include "smx/smx.h"

#include <cstdio>

namespace {

// The test table (default enterprise .1.1): column 1, rows 1..N, value = row.
uint32_t testRows = 0;

AsnNode *rowValue(uint32_t row) {
    return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(row));
}

AsnNode *testGet(const uint32_t *arcs, int count, uintptr_t) {
    bool ok = count == 2 && arcs[0] == 1 && arcs[1] >= 1 && arcs[1] <= testRows;
    return ok ? rowValue(arcs[1]) : nullptr;
}

AsnNode *testNext(uint32_t *arcs, int *count, uintptr_t) {
    uint32_t row = 1;
    if (*count > 0 && arcs[0] > 1)
        return nullptr;
    if (*count > 1 && arcs[0] == 1)
        row = arcs[1] == UINT32_MAX ? UINT32_MAX : arcs[1] + 1; // [1, r] <= name < [1, r + 1]
    if (row > testRows || testRows == 0)
        return nullptr;
    arcs[0] = 1;
    arcs[1] = row;
    *count = 2;
    return rowValue(row);
}

// RFC 1157, 4.1.5: a variable that cannot be set is reported as noSuchName.
int testSet(const uint32_t *, int, AsnNode *, uintptr_t) {
    return SMP_NO_SUCH_NAME;
}

const MibOps testOps = {testGet, testNext, testSet, testSet, nullptr};

} // namespace

int demoRegister(uint32_t rows) {
    testRows = rows > DEMO_TEST_ROWS_MAX ? DEMO_TEST_ROWS_MAX : rows;
    int failed = mib2Register();
    if (testRows > 0) {
        char testName[64];
        snprintf(testName, sizeof testName, "%s.1.1", TRAP_DEFAULT_ENTERPRISE);
        failed += mibRegister(testName, &testOps, 0) == 0 ? 0 : 1;
    }
    return failed;
}
