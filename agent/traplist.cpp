// Trap binding lists: every typed append goes through one append that checks,
// copies and stores; the typed ones differ only in their kind, value and texts.
#include "agent/traplist.h"

#include <cstdlib>
#include <cstring>

#include "platform/log.h"

namespace {

// How a typed append names itself in its messages.
struct AppendVoice {
    const char *name;        // in the bad-name, count-overflow and can't-malloc messages
    const char *namelenName; // in the namelen (and oidlen) messages
    bool reportsBadName;     // the appends that carry octets report a missing name
    bool reportsOidLen;      // a value length of 0 or less, or missing octets
};

constexpr AppendVoice integerVoice{"trapListAddInteger", "trapListAddInteger", false, false};
constexpr AppendVoice unsVoice{"trapListAddUns", "trapListAddUns", false, false};
constexpr AppendVoice nullVoice{"trapListAddNull", "trapListAddNull", false, false};
constexpr AppendVoice octetStringVoice{"trapListAddOctetString", "trapListAddOctetString", true,
                                       false};
// Its namelen and oidlen messages have always read "Oject".
constexpr AppendVoice objectIdVoice{"trapListAddObjectId", "trapListAddOjectId", true, true};
constexpr AppendVoice ipAddressVoice{"trapListAddIpAddress", "trapListAddIpAddress", true, false};

// What one append stores besides the name.
struct AppendValue {
    int32_t kind;
    const uint8_t *octets; // copied when length is above 0
    int length;
    int32_t number;
};

uint8_t *copyOctets(const uint8_t *octets, int length) {
    auto *copy = static_cast<uint8_t *>(malloc(length));
    if (copy)
        memcpy(copy, octets, length);
    return copy;
}

void cantMalloc(const AppendVoice &voice) {
    logFailureFlush("%s: can't malloc\n", voice.name);
}

// Appends a binding that owns copies of name and of the value's octets: 0, or
// -1 (with the voice's message) when it is refused or memory runs out.
int append(TrapBindType *list, const uint8_t *name, int nameLen, const AppendVoice &voice,
           const AppendValue &value) {
    if (!name || nameLen == 0 || !list) {
        if (voice.reportsBadName)
            logFailureFlush("%s: bad name (namelen=%d)\n", voice.name, nameLen);
        return -1;
    }
    if (list->count >= list->capacity) {
        logFailureFlush("%s: count overflow %d\n", voice.name, static_cast<int>(list->count));
        return -1;
    }
    if (nameLen < 0) {
        logFailureFlush("%s : namelen = %d\n", voice.namelenName, nameLen);
        return -1;
    }
    if (voice.reportsOidLen && (value.length <= 0 || !value.octets))
        logFailureFlush("%s : oidlen = %d\n", voice.namelenName, value.length);
    // A negative length or missing octets would reach the encoder as a value.
    if (value.length < 0 || (value.length > 0 && !value.octets))
        return -1;
    uint8_t *nameCopy = copyOctets(name, nameLen);
    if (!nameCopy) {
        cantMalloc(voice);
        return -1;
    }
    uint8_t *valueCopy = nullptr;
    if (value.length > 0) {
        valueCopy = copyOctets(value.octets, value.length);
        if (!valueCopy) {
            cantMalloc(voice);
            free(nameCopy);
            return -1;
        }
    }
    list->items[list->count++] =
        TrapBindRec{nameLen, nameCopy, value.kind, value.length, valueCopy, value.number};
    return 0;
}

} // namespace

TrapBindType *trapListNew(uint32_t capacity) {
    auto *list = static_cast<TrapBindType *>(malloc(sizeof(TrapBindType)));
    if (!list)
        return nullptr;
    auto *items = static_cast<TrapBindRec *>(calloc(capacity ? capacity : 1, sizeof(TrapBindRec)));
    if (!items) {
        free(list);
        return nullptr;
    }
    *list = TrapBindType{0, capacity, items};
    return list;
}

int trapListFree(TrapBindType *list) {
    logFailureFlush("trapListFree:\n");
    if (!list)
        return 0;
    for (uint32_t i = 0; i < list->count; ++i) {
        TrapBindRec &item = list->items[i];
        free(item.name);
        logStepFlush(">>> free name\n");
        if (item.kind == SMP_KIND_OCTET_STRING || item.kind == SMP_KIND_IP_ADDRESS ||
            item.kind == SMP_KIND_OBJECT_ID) {
            free(item.value);
            logStepFlush(">>> free value\n");
        }
    }
    free(list->items);
    logStepFlush(">> free TrapBindRec structure\n");
    free(list);
    logStepFlush("> free TrapBindType structure\n");
    return 0;
}

int trapListAddInteger(TrapBindType *list, const uint8_t *name, int nameLen, int32_t value) {
    if (append(list, name, nameLen, integerVoice, {SMP_KIND_INTEGER, nullptr, 0, value}) != 0)
        return -1;
    logStepFlush("trapListAddInteger : %d\n", value);
    return 0;
}

int trapListAddUns(TrapBindType *list, const uint8_t *name, int nameLen, int32_t kind,
                   uint32_t value) {
    if (append(list, name, nameLen, unsVoice, {kind, nullptr, 0, static_cast<int32_t>(value)}) != 0)
        return -1;
    logStepFlush("trapListAddUns : %d, type : %d\n", static_cast<int>(value), kind);
    return 0;
}

int trapListAddUnsigned(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value) {
    return trapListAddUns(list, name, nameLen, SMP_KIND_INTEGER, value);
}

int trapListAddCounter(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value) {
    return trapListAddUns(list, name, nameLen, SMP_KIND_COUNTER, value);
}

int trapListAddGauge(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value) {
    return trapListAddUns(list, name, nameLen, SMP_KIND_GAUGE, value);
}

int trapListAddTimeTicks(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value) {
    return trapListAddUns(list, name, nameLen, SMP_KIND_TIME_TICKS, value);
}

int trapListAddNull(TrapBindType *list, const uint8_t *name, int nameLen) {
    if (append(list, name, nameLen, nullVoice, {SMP_KIND_NULL, nullptr, 0, 0}) != 0)
        return -1;
    logStepFlush("trapListAddNull\n");
    return 0;
}

int trapListAddOctetString(TrapBindType *list, const uint8_t *name, int nameLen,
                           const uint8_t *octets, int length) {
    if (append(list, name, nameLen, octetStringVoice, {SMP_KIND_OCTET_STRING, octets, length, 0}) !=
        0)
        return -1;
    // The value need not end with a zero octet: print no further than its length.
    const TrapBindRec &item = list->items[list->count - 1];
    logStepFlush("trapListAddOctetString : %.*s\n", item.valueLen,
                 item.value ? reinterpret_cast<const char *>(item.value) : "");
    return 0;
}

int trapListAddObjectId(TrapBindType *list, const uint8_t *name, int nameLen, const uint8_t *oid,
                        int oidLen) {
    logFailureFlush("trapListAddObjectId:\n");
    if (append(list, name, nameLen, objectIdVoice, {SMP_KIND_OBJECT_ID, oid, oidLen, 0}) != 0)
        return -1;
    logStepFlush("trapListAddObjectId ok\n");
    return 0;
}

int trapListAddIpAddress(TrapBindType *list, const uint8_t *name, int nameLen,
                         const uint8_t *address) {
    logFailureFlush("trapListAddIpAddress:\n");
    if (append(list, name, nameLen, ipAddressVoice, {SMP_KIND_IP_ADDRESS, address, 4, 0}) != 0)
        return -1;
    logStepFlush("trapListAddIpAddress ok\n");
    return 0;
}
