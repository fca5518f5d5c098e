#include "agent/mib.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/avl.h"
#include "platform/log.h"
#include "smx/smx.h"

namespace {

MibEntry *processStore = nullptr;
int writable = 0;

AvlTree *treeOf(const MibEntry *store) {
    return reinterpret_cast<AvlTree *>(store->context);
}

// Octets of the sub-identifier that starts at oid[at]: up to and including
// the first octet without the continuation bit, or to the end.
int subIdLength(const uint8_t *oid, int length, int at) {
    int end = at;
    while (end < length && (oid[end] & 0x80))
        ++end;
    return (end < length ? end + 1 : end) - at;
}

// Sub-identifiers of the instance after an entry's identifier; -1 when there
// are more than fit.
int instanceOf(const MibEntry *entry, const uint8_t *oid, int length, uint32_t *subIds, int room) {
    return smxObjectIdToSubIds(subIds, room, oid + entry->oidLen, length - entry->oidLen);
}

// Encodes the instance left by next after the identifier already in buffer;
// the total length, or -1 when it does not fit.
int appendInstance(uint8_t *buffer, int oidLen, int size, const uint32_t *subIds, int count) {
    int n = smxSubIdsToObjectId(buffer + oidLen, size - oidLen, subIds, count);
    return n < 0 ? -1 : oidLen + n;
}

// The instance a GetNext starts from, at most MIB_INSTANCE_MAX sub-identifiers.
// An arc over 2^32-1 is greater than every arc an instance can have there,
// so the instance of that prefix followed by all-ones arcs up to the limit has
// the same successor as the name (no instance is longer).
int nextStartOf(const MibEntry *entry, const uint8_t *oid, int length, uint32_t *subIds) {
    int count = 0;
    for (int at = entry->oidLen; at < length && count < MIB_INSTANCE_MAX; ++count)
        if (!smxReadSubId(oid, length, &at, &subIds[count])) {
            while (count < MIB_INSTANCE_MAX)
                subIds[count++] = UINT32_MAX;
            break;
        }
    return count;
}

AsnNode *nextOf(const MibEntry *entry, uint32_t *subIds, int *count) {
    return entry->ops->next ? entry->ops->next(subIds, count, entry->context) : nullptr;
}

} // namespace

// Object-identifier order: sub-identifier by sub-identifier, a longer
// encoding being the larger value (BER sub-identifiers carry no leading 80
// octets, X.690 8.19.2), equal lengths octet by octet. Plain octet order would
// put 1.3.6.1.4.1.20000 (81 9C 20) before 1.3.6.1.4.1.8072 (BF 08).
// Unlike the walk's order (oidGreater in tool/report.cpp), which decodes, a
// padded sub-identifier (80 05) sorts here after 05, as a longer one: the
// store's own identifiers are all minimal, so encodings compare as they are,
// and a request name padded within an entry's identifier does not find it.
int mibCompare(const void *item, const uint8_t *key, int keyLength) {
    const auto *entry = static_cast<const MibEntry *>(item);
    int at = 0;
    while (at < entry->oidLen) {
        if (at >= keyLength)
            return AVL_LEFT; // a proper prefix sorts first
        int own = subIdLength(entry->oid, entry->oidLen, at);
        int theirs = subIdLength(key, keyLength, at);
        if (theirs != own)
            return theirs < own ? AVL_LEFT : AVL_RIGHT;
        int c = std::memcmp(key + at, entry->oid + at, static_cast<size_t>(own));
        if (c != 0)
            return c < 0 ? AVL_LEFT : AVL_RIGHT;
        at += own;
    }
    return 0;
}

void mibPrintEntry(const void *item) {
    const auto *entry = static_cast<const MibEntry *>(item);
    logPrintf("<");
    for (int i = 0; i < entry->oidLen; ++i)
        logPrintf("%02X ", entry->oid[i]);
    logPrintf(">");
}

MibEntry *mibNew() {
    AvlTree *tree = avlNew(mibCompare, logFailures() ? mibPrintEntry : nullptr);
    if (!tree)
        return nullptr;
    auto *store = static_cast<MibEntry *>(std::calloc(1, sizeof(MibEntry)));
    if (!store) {
        avlFree(tree);
        return nullptr;
    }
    store->context = reinterpret_cast<uintptr_t>(tree);
    return store;
}

void mibFree(MibEntry *store) {
    if (!store || store == processStore)
        return;
    AvlTree *tree = treeOf(store);
    // Entries in order, each found from the one before; released only when
    // the walk is over, since the tree's compare reads them.
    std::vector<MibEntry *> entries;
    const uint8_t *key = nullptr;
    int length = 0;
    while (auto *entry = static_cast<MibEntry *>(avlNext(tree, key, length))) {
        entries.push_back(entry);
        key = entry->oid;
        length = entry->oidLen;
    }
    for (MibEntry *entry : entries)
        std::free(entry);
    avlFree(tree);
    std::free(store);
}

// A second call hands back the store of the first, so nothing registered is
// lost and nothing leaks.
MibEntry *mibInit() {
    writable = 1;
    if (!processStore)
        processStore = mibNew();
    return processStore;
}

MibEntry *mibGetStore(ApsRec *) {
    return processStore;
}

int mibIsWritable(ApsRec *) {
    return writable;
}

void mibSetWritable(int value) {
    writable = value;
}

AsnNode *mibPackEntry(const MibOps *ops, uintptr_t context) {
    MibEntry packed;
    std::memset(&packed, 0, sizeof packed); // padding included: the octets are copied
    packed.ops = ops;
    packed.context = context;
    return asnNewOctetString(MIB_PACKED_CLASS, MIB_PACKED_TAG,
                             reinterpret_cast<const uint8_t *>(&packed),
                             static_cast<int>(sizeof packed));
}

int mibRegister(const char *name, const MibOps *ops, uintptr_t context) {
    AsnNode *packed = mibPackEntry(ops, context);
    if (!packed)
        return 1;
    uint8_t oid[MIB_OID_MAX];
    int length = smxTextToObjectId(oid, MIB_OID_MAX, name);
    int r = length < 0 ? SMP_GEN_ERR : mibAdd(processStore, oid, length, packed);
    asnFree(packed);
    return r == 0 ? 0 : 1;
}

int mibAdd(MibEntry *store, const uint8_t *oid, int length, AsnNode *packed) {
    if (!store || !oid || length <= 0 || length > MIB_OID_MAX)
        return SMP_GEN_ERR;
    // An identifier ending inside a sub-identifier names nothing.
    if (oid[length - 1] & 0x80)
        return SMP_GEN_ERR;
    AvlTree *tree = treeOf(store);
    // At or below a registered identifier.
    if (avlFind(tree, oid, length))
        return SMP_GEN_ERR;
    // Above one: the smallest entry after the identifier is the first it
    // would cover. Accepted, either entry could hide the other's names.
    if (auto *after = static_cast<const MibEntry *>(avlNext(tree, oid, length));
        after && after->oidLen > length && std::memcmp(after->oid, oid, length) == 0)
        return SMP_GEN_ERR;
    if (!packed || asnClass(packed) != MIB_PACKED_CLASS || asnTag(packed) != MIB_PACKED_TAG)
        return SMP_GEN_ERR;
    MibEntry content;
    if (asnGather(packed, reinterpret_cast<uint8_t *>(&content), sizeof content) !=
            static_cast<int>(sizeof content) ||
        !content.ops)
        return SMP_GEN_ERR;
    auto *entry = static_cast<MibEntry *>(std::calloc(1, sizeof(MibEntry)));
    if (!entry)
        return SMP_GEN_ERR;
    entry->ops = content.ops;
    entry->context = content.context;
    entry->oidLen = length;
    std::memcpy(entry->oid, oid, static_cast<size_t>(length));
    if (avlInsert(tree, oid, length, entry) != 0) {
        std::free(entry);
        return SMP_GEN_ERR;
    }
    return 0;
}

namespace {

// The entry that covers a name and the name's instance. An instance of more
// sub-identifiers than the access functions take counts as none: cut short,
// it would name another instance. subIds has room for one more than they take.
MibEntry *covering(MibEntry *store, const uint8_t *oid, int length, uint32_t *subIds, int *count) {
    auto *entry = static_cast<MibEntry *>(avlFind(treeOf(store), oid, length));
    if (!entry)
        return nullptr;
    *count = instanceOf(entry, oid, length, subIds, MIB_INSTANCE_MAX + 1);
    return *count < 0 || *count > MIB_INSTANCE_MAX ? nullptr : entry;
}

} // namespace

AsnNode *mibGet(MibEntry *store, const uint8_t *oid, int length) {
    uint32_t subIds[MIB_INSTANCE_MAX + 1];
    int count = 0;
    MibEntry *entry = store ? covering(store, oid, length, subIds, &count) : nullptr;
    if (!entry || !entry->ops->get)
        return nullptr;
    return entry->ops->get(subIds, count, entry->context);
}

int mibExists(MibEntry *store, const uint8_t *oid, int length) {
    uint32_t subIds[MIB_INSTANCE_MAX + 1];
    int count = 0;
    MibEntry *entry = store ? covering(store, oid, length, subIds, &count) : nullptr;
    if (!entry)
        return 0;
    return entry->ops->exists ? entry->ops->exists(subIds, count, entry->context) : 1;
}

namespace {

// Asks an entry for the instance after subIds[0..count) and writes its name
// after the entry's identifier, already in buffer. A value that came back but
// whose name does not fit is released, and *full set.
AsnNode *askNext(const MibEntry *entry, uint32_t *subIds, int count, uint8_t *buffer, int *length,
                 int size, bool *full) {
    AsnNode *value = nextOf(entry, subIds, &count);
    if (!value)
        return nullptr;
    int total = appendInstance(buffer, entry->oidLen, size, subIds, count);
    if (total < 0) {
        *full = true;
        return asnFree(value);
    }
    *length = total;
    return value;
}

} // namespace

AsnNode *mibNext(MibEntry *store, uint8_t *buffer, int *length, int size) {
    if (!store || !buffer || !length || *length < 0 || *length > size)
        return nullptr;
    AvlTree *tree = treeOf(store);
    uint32_t subIds[MIB_INSTANCE_MAX];
    bool full = false;
    // The successor of the first 256 sub-identifiers is also that of the
    // whole instance, since no instance has more.
    if (auto *entry = static_cast<MibEntry *>(avlFind(tree, buffer, *length))) {
        int count = nextStartOf(entry, buffer, *length, subIds);
        AsnNode *value = askNext(entry, subIds, count, buffer, length, size, &full);
        if (value || full)
            return value;
        // No instance follows in this entry: on to the next one, the name
        // still as it came.
    }
    while (auto *entry = static_cast<MibEntry *>(avlNext(tree, buffer, *length))) {
        if (entry->oidLen > size)
            return nullptr;
        std::memcpy(buffer, entry->oid, static_cast<size_t>(entry->oidLen));
        *length = entry->oidLen;
        AsnNode *value = askNext(entry, subIds, 0, buffer, length, size, &full);
        if (value || full)
            return value;
    }
    return nullptr;
}

namespace {

int setStep(MibEntry *store, const uint8_t *oid, int length, AsnNode *value, bool test) {
    if (!store)
        return SMP_GEN_ERR;
    uint32_t subIds[MIB_INSTANCE_MAX + 1];
    int count = 0;
    MibEntry *entry = covering(store, oid, length, subIds, &count);
    if (!entry)
        return SMP_NO_SUCH_NAME;
    auto fn = test ? entry->ops->testSet : entry->ops->set;
    // RFC 1157, 4.1.5: a variable that cannot be set is noSuchName.
    if (!fn)
        return SMP_NO_SUCH_NAME;
    return fn(subIds, count, value, entry->context);
}

} // namespace

int mibTestSet(MibEntry *store, const uint8_t *oid, int length, AsnNode *value) {
    return setStep(store, oid, length, value, true);
}

int mibSet(MibEntry *store, const uint8_t *oid, int length, AsnNode *value) {
    return setStep(store, oid, length, value, false);
}

const SmpStoreOps mibStoreOps = {mibGetStore, mibIsWritable, mibGet,   mibNext,
                                 mibTestSet,  mibSet,        mibExists};
