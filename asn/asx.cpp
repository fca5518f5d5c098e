// Typed value conversions over the node constructors and accessors.
#include "asn/asx.h"

#include "platform/log.h"
#include "smx/smx.h"

namespace {

bool isType(const AsnNode *node, uint32_t tagClass, uint32_t tagNumber) {
    return node && node->tagClass == tagClass && node->tagNumber == tagNumber;
}

// The content octets of a value of the given type and at most max octets into
// octets: their count, or -1.
int gatherValue(const AsnNode *node, uint32_t tagClass, uint32_t tagNumber, uint8_t *octets,
                int max) {
    if (!isType(node, tagClass, tagNumber))
        return -1;
    int n = node->valueLen;
    if (n < 0 || n > max || asnGather(node, octets, n) != n)
        return -1;
    return n;
}

// Unsigned values: up to 4 octets taken as they are (shorter ones sign-extend,
// so 41 01 80 reads 4294967168), or 5 octets after a leading 00.
int decodeUnsigned(const AsnNode *node, uint32_t tagClass, uint32_t tagNumber, uint32_t *valuep,
                   const char *format) {
    uint8_t octets[5];
    int n = gatherValue(node, tagClass, tagNumber, octets, 5);
    if (n < 0)
        return ASN_NO_ROOM;
    uint32_t value;
    if (n == 5) {
        if (asnNonZero(octets, 1) != 0)
            return ASN_NO_ROOM;
        value = static_cast<uint32_t>(asnBytesToInt(octets + 1, 4));
    } else {
        value = static_cast<uint32_t>(asnBytesToInt(octets, n));
    }
    *valuep = value;
    logStep(format, value);
    return 0;
}

} // namespace

AsnNode *asxEncodeInteger(int32_t value) {
    return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, value);
}
AsnNode *asxEncodeUnsigned(uint32_t value) {
    return asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER, value);
}
AsnNode *asxEncodeOctetString(const uint8_t *octets, int len) {
    return asnNewPrimitive(ASN_UNIVERSAL, ASN_TAG_OCTETS, ASN_OCTETS, octets, len);
}
AsnNode *asxEncodeNull() {
    return asnNewPrimitive(ASN_UNIVERSAL, ASN_TAG_NULL, ASN_OCTETS, nullptr, 0);
}
AsnNode *asxEncodeIpAddress(uint32_t value) {
    uint8_t octets[4];
    if (asxIpAddressToByte(octets, 4, value) != 4)
        return nullptr;
    return asnNewPrimitive(ASN_APPLICATION, ASN_TAG_IPADDRESS, ASN_OCTETS, octets, 4);
}
AsnNode *asxEncodeCounter(uint32_t value) {
    return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_COUNTER, value);
}
AsnNode *asxEncodeGauge(uint32_t value) {
    return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_GAUGE, value);
}
AsnNode *asxEncodeTimeTicks(uint32_t value) {
    return asnNewUnsigned(ASN_APPLICATION, ASN_TAG_TIMETICKS, value);
}
AsnNode *asxEncodeOpaque(const uint8_t *octets, int len) {
    return asnNewPrimitive(ASN_APPLICATION, ASN_TAG_OPAQUE, ASN_OCTETS, octets, len);
}

AsnNode *asxEncodeObjectId(const char *text) {
    if (!text)
        return nullptr;
    logStep("asxEncodeObjectId : value = %s\n", text);
    uint8_t octets[ASX_OBJECT_ID_MAX];
    int n = smxTextToObjectId(octets, ASX_OBJECT_ID_MAX, text);
    if (n < 0)
        return nullptr;
    return asnNewPrimitive(ASN_UNIVERSAL, ASN_TAG_OBJECTID, ASN_OBJECTID, octets, n);
}

int asxDecodeInteger(const AsnNode *node, int32_t *valuep) {
    uint8_t octets[4];
    int n = gatherValue(node, ASN_UNIVERSAL, ASN_TAG_INTEGER, octets, 4);
    if (n < 0)
        return ASN_NO_ROOM;
    int32_t value = asnBytesToInt(octets, n);
    *valuep = value;
    logStep("asxDecodeInteger : %d\n", value);
    return 0;
}

int asxDecodeUnsigned(const AsnNode *node, uint32_t *valuep) {
    return decodeUnsigned(node, ASN_UNIVERSAL, ASN_TAG_INTEGER, valuep, "asxDecodeUnsigned : %u\n");
}
int asxDecodeCounter(const AsnNode *node, uint32_t *valuep) {
    return decodeUnsigned(node, ASN_APPLICATION, ASN_TAG_COUNTER, valuep,
                          "asxDecodeCounter : %u\n");
}
int asxDecodeGauge(const AsnNode *node, uint32_t *valuep) {
    return decodeUnsigned(node, ASN_APPLICATION, ASN_TAG_GAUGE, valuep, "asxDecodeGauge : %u\n");
}
int asxDecodeTimeTicks(const AsnNode *node, uint32_t *valuep) {
    return decodeUnsigned(node, ASN_APPLICATION, ASN_TAG_TIMETICKS, valuep,
                          "asxDecodeTimeTicks : %u\n");
}

int asxDecodeOctetString(const AsnNode *node, uint8_t *valuep, int16_t *lenp) {
    if (!isType(node, ASN_UNIVERSAL, ASN_TAG_OCTETS) || !lenp || node->valueLen > *lenp)
        return ASN_NO_ROOM;
    if (asnGather(node, valuep, *lenp) < 0)
        return ASN_NO_ROOM;
    *lenp = node->valueLen;
    logStep("asxDecodeOctetString : *lenp = %d\n", *lenp);
    return 0;
}

int asxDecodeNull(const AsnNode *node) {
    return isType(node, ASN_UNIVERSAL, ASN_TAG_NULL) && node->valueLen == 0 ? 0 : ASN_NO_ROOM;
}

int asxDecodeObjectId(const AsnNode *node, char *valuep, int16_t *lenp) {
    if (!isType(node, ASN_UNIVERSAL, ASN_TAG_OBJECTID) || !lenp || !valuep ||
        node->valueLen > ASX_OBJECT_ID_MAX)
        return ASN_NO_ROOM;
    if (*lenp < 1)
        return ASN_NO_ROOM;
    uint8_t octets[ASX_OBJECT_ID_MAX];
    int n = asnGather(node, octets, ASX_OBJECT_ID_MAX);
    if (n < 0)
        return ASN_NO_ROOM;
    // *lenp counts the terminator; the text writer's capacity does not.
    int len = smxObjectIdToText(valuep, *lenp - 1, octets, n);
    if (len < 0)
        return ASN_NO_ROOM;
    *lenp = static_cast<int16_t>(len);
    logStep("asxDecodeObjectId : valuep = %s\n", valuep);
    return 0;
}

int asxDecodeIpAddress(const AsnNode *node, uint32_t *valuep) {
    uint8_t octets[4];
    int n = gatherValue(node, ASN_APPLICATION, ASN_TAG_IPADDRESS, octets, 4);
    if (n < 0)
        return ASN_NO_ROOM;
    if (asxByteToIpAddress(valuep, octets, n) != 4)
        return ASN_NO_ROOM;
    return 0;
}

int asxIpAddressToByte(uint8_t *buf, int len, uint32_t value) {
    logStep("asxIpAddressToByte : value = %X\n", value);
    if (len < 4 || !buf)
        return -1;
    for (int i = 0; i < 4; i++)
        buf[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    if (logSteps()) {
        logPrintf("asxIpAddressToByte : buf = ");
        for (int i = 0; i < 4; i++)
            logPrintf("%d.", buf[i]);
        logPrintf("\n");
    }
    return 4;
}

int asxByteToIpAddress(uint32_t *valuep, const uint8_t *buf, int len) {
    if (len < 4 || !buf || !valuep)
        return -1;
    if (logSteps()) {
        logPrintf("asxByteToIpAddress : ipaddrBuf = ");
        for (int i = 0; i < 4; i++)
            logPrintf("%d.", buf[i]);
        logPrintf("\n");
    }
    *valuep = (static_cast<uint32_t>(buf[0]) << 24) | (static_cast<uint32_t>(buf[1]) << 16) |
              (static_cast<uint32_t>(buf[2]) << 8) | buf[3];
    logStep("asxByteToIpAddress : *valuep = %X\n", *valuep);
    return 4;
}

int asxIpAddressToText(char *text, int size, uint32_t value) {
    if (!text || size < 1)
        return -1;
    uint8_t octets[4];
    asxIpAddressToByte(octets, 4, value);
    // size counts the terminator; the text writer's capacity does not.
    return smxIpAddressToText(text, size - 1, octets, 4);
}

int asxTextToIpAddress(uint32_t *valuep, const char *text) {
    uint8_t octets[4];
    if (smxTextToIpAddress(octets, 4, text) != 4)
        return -1;
    return asxByteToIpAddress(valuep, octets, 4);
}
