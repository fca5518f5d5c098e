// Drives smpInput with arbitrary datagrams, each on a fresh protocol object,
// with communities declared for the sender and a store of variables of every
// kind, some writable, beside the MIB-II groups of the running system (read
// again at most once a second, so the inputs stay fast). Every reply the engine sends must
// decode as one complete message; every binding handed to the upcall must be
// readable over its whole length. An input longer than the agent's receive
// buffer reaches the engine as the agent's receive reports it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>

#include <unistd.h>

#include "agent/comm.h"
#include "agent/mib.h"
#include "agent/mib2.h"
#include "agent/trap.h"
#include "asn/asn.h"
#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"

namespace {

constexpr uint32_t SENDER = 0x7F000001;

void check(bool ok) {
    if (!ok)
        std::abort();
}

void discard(const char *, const char *) {}

// Columns N.0 of one entry, one value kind each: Integer, OCTET STRING, NULL,
// OBJECT IDENTIFIER, IpAddress, Counter, Gauge, TimeTicks.
constexpr int COLUMNS = 8;
struct Column {
    uint32_t tagClass, tag;
    uint8_t value[64];
    int length;
};
Column columns[COLUMNS] = {
    {0, 2, {0x05}, 1},       {0, 4, {'h', 'i'}, 2},     {0, 5, {}, 0},
    {0, 6, {0x2B, 6, 1}, 3}, {1, 0, {127, 0, 0, 1}, 4}, {1, 1, {0x05}, 1},
    {1, 2, {0x00, 0xFF}, 2}, {1, 3, {0x64}, 1},
};

AsnNode *columnValue(uint32_t c) {
    const Column &col = columns[c];
    return asnNewPrimitive(col.tagClass, col.tag, ASN_OCTETS, col.value, col.length);
}

bool instance(const uint32_t *ids, int count) {
    return count == 2 && ids[0] < COLUMNS && ids[1] == 0;
}

AsnNode *fuzzGet(const uint32_t *ids, int count, uintptr_t) {
    return instance(ids, count) ? columnValue(ids[0]) : nullptr;
}

AsnNode *fuzzNext(uint32_t *ids, int *count, uintptr_t) {
    uint32_t c = *count == 0 ? 0 : ids[0] + (*count > 1 || ids[0] == UINT32_MAX ? 1 : 0);
    if (*count > 0 && ids[0] == UINT32_MAX)
        return nullptr;
    if (c >= COLUMNS)
        return nullptr;
    ids[0] = c;
    ids[1] = 0;
    *count = 2;
    return columnValue(c);
}

int fuzzTestSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t) {
    if (!instance(ids, count))
        return SMP_NO_SUCH_NAME;
    const Column &col = columns[ids[0]];
    if (asnClass(value) != col.tagClass || asnTag(value) != col.tag ||
        asnValueLength(value) > static_cast<int>(sizeof col.value))
        return SMP_BAD_VALUE;
    return 0;
}

int fuzzSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t) {
    int r = fuzzTestSet(ids, count, value, 0);
    if (r != 0)
        return r;
    Column &col = columns[ids[0]];
    col.length = asnValueLength(value);
    if (col.length > 0)
        std::memcpy(col.value, asnValue(value), static_cast<size_t>(col.length));
    return 0;
}

constexpr MibOps fuzzOps = {fuzzGet, fuzzNext, fuzzTestSet, fuzzSet, nullptr};

int decodeReply(void *, const uint8_t *octets, int length) {
    check(length > 0 && length <= SMP_MESSAGE_MAX);
    // A reply parses by the grammar of its version, the request's: 0 or 1.
    int at = 2 + ((length > 1 && (octets[1] & 0x80)) ? octets[1] & 0x7F : 0);
    check(at + 2 < length && (octets[at + 2] == 0 || octets[at + 2] == 1));
    AsnNode *tree = asnNew(octets[at + 2]);
    check(tree != nullptr);
    int r = 0;
    int used = 0;
    while (used < length && r == 0)
        r = asnDecode(tree, octets[used++]);
    check(r == ASN_COMPLETE && used == length);
    asnFree(tree);
    return 0;
}

int readBindings(SmpObject *, SmpPdu *record) {
    unsigned sum = 0;
    for (uint16_t i = 0; i < record->count; ++i) {
        const SmpBind &b = record->binds[i];
        for (int k = 0; k < b.nameLen; ++k)
            sum += b.name[k];
        if (b.value)
            for (int k = 0; k < b.valueLen; ++k)
                sum += b.value[k];
    }
    return sum == 0xFFFFFFFFu ? 1 : 0;
}

// The starting directory, where the fuzzer's own paths lead, and a fresh one,
// removed at once, the working directory only while an input runs: a Set of
// snmpEnableAuthenTraps then writes no snmp.aut anywhere.
int home = -1;
int scratch = -1;

bool setUp() {
    setenv("TARNOQSNMP_REGISTRY", "/nonexistent", 1); // no configuration directory
    char dir[] = "/tmp/smp_input_fuzz.XXXXXX";
    check(mkdtemp(dir) != nullptr);
    home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    scratch = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(home >= 0 && scratch >= 0 && rmdir(dir) == 0);
    logSetEventSink(discard);
    logLevel = 0;
    smpRegisterCommunityCheck(commVerify);
    smpRegisterTrapSender(trapSend);
    smpRegisterStore(&mibStoreOps);
    apsInit();
    apsTrivialInit();
    shmLocalInit();
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
    community("public", SENDER, COMM_WRITE);
    community("reader", SENDER, COMM_READ);
    check(mibInit() != nullptr);
    check(mibRegister("1.3.6.1.4.1.32473.1", &fuzzOps, 0) == 0);
    check(mibRegister("1.3.6.1.4.1.32473.2", &fuzzOps, 0) == 0);
    check(mib2Register() == 0);
    return true;
}

} // namespace

// A crash inside an input is written below the starting directory, not the
// fresh one, unless the command line says where.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static std::vector<char *> args;
    static std::string prefix = "-artifact_prefix=";
    for (int i = 1; i < *argc; ++i)
        if (strncmp((*argv)[i], "-artifact_prefix=", prefix.size()) == 0 ||
            strncmp((*argv)[i], "-exact_artifact_path=", 21) == 0)
            return 0;
    char *cwd = getcwd(nullptr, 0);
    check(cwd != nullptr);
    prefix += std::string(cwd) + "/";
    free(cwd);
    args.assign(*argv, *argv + *argc);
    args.push_back(prefix.data());
    args.push_back(nullptr);
    *argv = args.data();
    ++*argc;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = setUp();
    (void)ready;
    // The agent receives into SMP_MESSAGE_MAX octets and is told of a longer
    // datagram by a length one past them.
    auto length = static_cast<int16_t>(size > SMP_MESSAGE_MAX ? SMP_MESSAGE_MAX + 1 : size);
    SmpObject *object = smpNew(nullptr, decodeReply, readBindings);
    check(object != nullptr);
    check(fchdir(scratch) == 0);
    smpInput(object, SENDER, data, length);
    check(fchdir(home) == 0);
    smpFree(object);
    return 0;
}
