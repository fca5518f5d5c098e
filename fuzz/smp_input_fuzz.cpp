// Drives smpInput with arbitrary datagrams, each on a fresh protocol object,
// with communities declared for the sender and a store of variables of every
// kind, some writable, beside the MIB-II groups of the running system (read
// again at most once a second, so the inputs stay fast). Every reply the engine sends must
// decode as one complete message; every binding handed to the upcall must be
// readable over its whole length. An input longer than the agent's receive
// buffer reaches the engine as the agent's receive reports it.
//
// SNMPv3: an SNMPv3 engine and three users are registered. An input whose
// first octet is 1 or 2 is no datagram: its second octet chooses the user,
// msgMaxSize and the reportable flag, and the rest is a ScopedPDU that the
// harness wraps in a version-3 message signed with the user's key (1), or
// encrypted and signed (2), in the engine's time window, so that the fuzzer
// reaches what lies behind the security model's checks. An encrypted reply
// must decrypt to a ScopedPDU.
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
#include "smp/msg3.h"
#include "smp/smp.h"
#include "smp/usmcrypto.h"
#include "smp/v3.h"
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

// The SNMPv3 engine and its users: MD5 with DES, SHA-256 with AES, SHA-512
// with AES-256 (Cisco's key extension).
constexpr uint8_t ENGINE_ID[] = {0x80, 0x00, 0x7E, 0xD9, 0x05, 'f', 'u', 'z', 'z'};
constexpr int32_t BOOTS = 7;
constexpr int32_t TIME = 1000;
const SmpLocalEngine engine = {ENGINE_ID, sizeof ENGINE_ID, [] { return BOOTS; },
                               [] { return TIME; }};
struct FuzzUser {
    const char *name;
    UsmAuth auth;
    UsmPriv priv;
    UsmKeys keys;
};
FuzzUser users[] = {{"md5des", USM_AUTH_MD5, USM_PRIV_DES, {}},
                    {"sha256aes", USM_AUTH_SHA256, USM_PRIV_AES, {}},
                    {"sha512aes256c", USM_AUTH_SHA512, USM_PRIV_AES256C, {}}};

bool lookupUser(const uint8_t *name, int length, SmpUser *user) {
    for (FuzzUser &u : users)
        if (static_cast<size_t>(length) == strlen(u.name) &&
            memcmp(name, u.name, strlen(u.name)) == 0) {
            *user = {&u.keys, USM_NO_AUTH_NO_PRIV, SMP_OP_WRITE};
            return true;
        }
    return false;
}

// A version-3 reply decodes, and when encrypted, decrypts with its user's
// keys to a ScopedPDU.
void checkV3Reply(const uint8_t *octets, int length) {
    Msg3 m{};
    check(msg3Decode(octets, length, &m) == MSG3_OK);
    SmpUser user{};
    if (m.encrypted) {
        check(lookupUser(m.usm.userName, m.usm.userNameLen, &user));
        uint8_t plain[SMP_MESSAGE_MAX];
        int n = usmDecrypt(*user.keys, static_cast<uint32_t>(m.usm.boots),
                           static_cast<uint32_t>(m.usm.time),
                           {m.usm.privParams, static_cast<size_t>(m.usm.privLen)},
                           {m.data, static_cast<size_t>(m.dataLen)}, {plain, sizeof plain});
        check(n > 0 && msg3DecodeScoped(plain, n, &m.scoped) == MSG3_OK);
    }
    asnFree(m.scoped.pdu);
}

// Appends identifier, definite length and content.
void tlv(std::vector<uint8_t> &out, uint8_t tag, const std::vector<uint8_t> &content) {
    out.push_back(tag);
    size_t n = content.size();
    if (n >= 0x100)
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    else if (n >= 0x80)
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    else
        out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), content.begin(), content.end());
}
void integer(std::vector<uint8_t> &out, int32_t v) { // 0 to 2^31-1, shortest form
    std::vector<uint8_t> content;
    for (int shift = 24; shift > 0; shift -= 8)
        if (!content.empty() || (v >> shift) != 0 || (v >> (shift - 1)) != 0)
            content.push_back(static_cast<uint8_t>(v >> shift));
    content.push_back(static_cast<uint8_t>(v));
    tlv(out, 0x02, content);
}

// The message of mode 1 (signed) or 2 (encrypted too) around scoped, as the
// control octet says: its octets, or none when scoped cannot be carried.
std::vector<uint8_t> wrap(int mode, uint8_t control, const uint8_t *scoped, size_t length) {
    FuzzUser &u = users[control % 3];
    bool priv = mode == 2;
    uint8_t salt[USM_SALT_MAX] = {0, 0, 0, BOOTS, 0, 0, 0, control};
    std::vector<uint8_t> data(scoped, scoped + length);
    if (priv) {
        std::vector<uint8_t> secret(length + 8);
        int n = usmEncrypt(u.keys, BOOTS, TIME, {salt, usmPrivProtos[u.priv].saltLength},
                           {scoped, length}, secret);
        if (n <= 0)
            return {};
        secret.resize(static_cast<size_t>(n));
        data.clear();
        tlv(data, 0x04, secret);
    }
    uint8_t flags = static_cast<uint8_t>(1 | (priv ? 2 : 0) | (control & 0x08 ? 4 : 0));
    std::vector<uint8_t> header, usm, params, message, body;
    integer(header, 1);
    integer(header, control & 0x04 ? 484 : 2048);
    tlv(header, 0x04, {flags});
    integer(header, MSG3_MODEL_USM);
    tlv(params, 0x04, {ENGINE_ID, ENGINE_ID + sizeof ENGINE_ID});
    integer(params, BOOTS);
    integer(params, TIME);
    tlv(params, 0x04, {u.name, u.name + strlen(u.name)});
    size_t macAt = params.size() + 2; // within params: after the tag and the length
    size_t macLength = usmAuthProtos[u.auth].macLength;
    tlv(params, 0x04, std::vector<uint8_t>(macLength, 0));
    tlv(params, 0x04,
        priv ? std::vector<uint8_t>(salt, salt + usmPrivProtos[u.priv].saltLength)
             : std::vector<uint8_t>{});
    tlv(usm, 0x30, params);
    integer(body, MSG3_VERSION);
    tlv(body, 0x30, header);
    size_t usmAt = body.size();
    tlv(body, 0x04, usm);
    body.insert(body.end(), data.begin(), data.end());
    tlv(message, 0x30, body);
    if (message.size() > SMP_MESSAGE_MAX || usm.size() >= 0x80 || params.size() >= 0x80)
        return {};
    // Where the MAC stands: the message's header, the OCTET STRING's and the
    // SEQUENCE's, each of two octets, before params.
    size_t at = (message.size() - body.size()) + usmAt + 2 + 2 + macAt;
    if (usmSign(u.keys, message, at, macLength) != 0)
        return {};
    return message;
}

int decodeReply(void *, const uint8_t *octets, int length) {
    check(length > 0 && length <= SMP_MESSAGE_MAX);
    // A reply parses by the grammar of its version, the request's: 0, 1 or 3.
    int at = 2 + ((length > 1 && (octets[1] & 0x80)) ? octets[1] & 0x7F : 0);
    check(at + 2 < length);
    if (octets[at + 2] == 3) {
        checkV3Reply(octets, length);
        return 0;
    }
    check(octets[at + 2] == 0 || octets[at + 2] == 1);
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
    for (FuzzUser &u : users) {
        const char *authPass = "fuzz-auth-pass";
        const char *privPass = "fuzz-priv-pass";
        check(usmKeysFromPassphrases(
                  u.keys, u.auth, u.priv,
                  {reinterpret_cast<const uint8_t *>(authPass), strlen(authPass)},
                  {reinterpret_cast<const uint8_t *>(privPass), strlen(privPass)}, ENGINE_ID) == 0);
    }
    smpRegisterV3Agent(&engine, lookupUser);
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
    std::vector<uint8_t> wrapped;
    if (size >= 2 && (data[0] == 1 || data[0] == 2)) {
        wrapped = wrap(data[0], data[1], data + 2, size - 2);
        if (wrapped.empty())
            return 0;
        data = wrapped.data();
        size = wrapped.size();
    }
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
