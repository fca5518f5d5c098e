// Authentication schemes and community handles.
//
// Bounds: community names of at most APS_COMMUNITY_MAX (16) octets; the
// received community is gathered into that many octets.
#include "smp/aps.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/smp.h"
#include "smx/stats.h"

namespace {

ApsScheme *schemes = nullptr;
ApsRec *handles = nullptr;
AsnNode *versionNodes[2] = {}; // INTEGER 0 and 1, built on first use

// apsInit forgets the registry and the handle list, but their records may
// still be in use by handles made before; they stay reachable here, and a
// scheme registered again with the same operations takes its old record back.
ApsScheme *retiredSchemes = nullptr;
ApsRec *retiredHandles = nullptr;

ApsScheme *findScheme(ApsScheme *list, const char *name) {
    for (ApsScheme *s = list; s; s = s->next)
        if (std::strcmp(s->name, name) == 0)
            return s;
    return nullptr;
}

ApsRec *findHandle(const uint8_t *octets, size_t length) {
    for (ApsRec *h = handles; h; h = h->next)
        if (std::strlen(h->name) == length && std::memcmp(h->name, octets, length) == 0)
            return h;
    return nullptr;
}

bool unlink(ApsRec **list, ApsRec *handle) {
    for (ApsRec **at = list; *at; at = &(*at)->next)
        if (*at == handle) {
            *at = handle->next;
            return true;
        }
    return false;
}

void authenticationFailure() {
    smpStatRaise(SMP_STAT_IN_BAD_COMMUNITY_NAMES);
    if (smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS) == 1)
        smpAgentSide.sendTrap(SMP_TRAP_AUTHENTICATION_FAILURE, 0, 0, nullptr);
}

int trivialVerify(void *, AsnNode *) {
    return 1;
}
AsnNode *trivialEncode(void *, AsnNode *pdu) {
    return asnComponent(pdu, 0);
}
AsnNode *trivialDecode(void *, AsnNode *message) {
    // Version and community before it are primitive, so the PDU is the third record.
    return asnComponent(message, 3);
}

} // namespace

void apsInit() {
    while (schemes) {
        ApsScheme *s = schemes;
        schemes = s->next;
        s->next = retiredSchemes;
        retiredSchemes = s;
    }
    while (handles) {
        ApsRec *h = handles;
        handles = h->next;
        h->next = retiredHandles;
        retiredHandles = h;
    }
    for (AsnNode *&v : versionNodes)
        v = asnFree(v);
}

int apsRegister(const char *name, ApsVerifyFn verify, ApsEncodeFn encode, ApsDecodeFn decode) {
    if (!name || !verify || !encode || !decode || findScheme(schemes, name))
        return 1;
    ApsScheme *s = nullptr;
    for (ApsScheme **at = &retiredSchemes; *at; at = &(*at)->next)
        if (std::strcmp((*at)->name, name) == 0 && (*at)->verify == verify &&
            (*at)->encode == encode && (*at)->decode == decode) {
            s = *at;
            *at = s->next;
            break;
        }
    if (!s) {
        s = static_cast<ApsScheme *>(std::malloc(sizeof(ApsScheme)));
        if (!s)
            return 1;
    }
    *s = ApsScheme{name, verify, encode, decode, schemes};
    schemes = s;
    return 0;
}

int apsTrivialInit() {
    return apsRegister("trivial", trivialVerify, trivialEncode, trivialDecode);
}

ApsRec *apsNew(const char *name, const char *schemeName, void *schemeData) {
    logFailureFlush("apsNew >>name=%s scheme=%s \n", name ? name : "",
                    schemeName ? schemeName : "");
    if (!name || !schemeName)
        return nullptr;
    size_t length = std::strlen(name);
    if (length > APS_COMMUNITY_MAX)
        return nullptr;
    ApsScheme *scheme = findScheme(schemes, schemeName);
    if (!scheme)
        return nullptr;
    ApsRec *handle = findHandle(reinterpret_cast<const uint8_t *>(name), length);
    if (handle) {
        handle->refCount++;
        return handle;
    }
    AsnNode *community =
        asnNewOctetString(ASN_UNIVERSAL, ASN_TAG_OCTETS, reinterpret_cast<const uint8_t *>(name),
                          static_cast<int>(length));
    if (!community)
        return nullptr;
    handle = static_cast<ApsRec *>(std::malloc(sizeof(ApsRec)));
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (!handle || !copy) {
        std::free(handle);
        std::free(copy);
        asnFree(community);
        return nullptr;
    }
    std::memcpy(copy, name, length + 1);
    *handle = ApsRec{copy, community, scheme, schemeData, nullptr, 1, handles};
    handles = handle;
    logFailureFlush("apsNew <<\n");
    return handle;
}

ApsRec *apsFree(ApsRec *handle) {
    if (!handle)
        return nullptr;
    if (--handle->refCount != 0)
        return nullptr;
    if (!unlink(&handles, handle))
        unlink(&retiredHandles, handle);
    asnFree(handle->community);
    std::free(handle->name);
    std::free(handle);
    return nullptr;
}

ApsRec *apsVerify(AsnNode *message, int32_t *version) {
    AsnNode *versionNode = asnComponent(message, 1);
    if (!versionNode)
        return nullptr;
    const uint8_t *v = asnValue(versionNode);
    bool versionOk =
        v && asnValueLength(versionNode) == 1 && (v[0] == SMP_VERSION_1 || v[0] == SMP_VERSION_2C);
    if (versionOk && version)
        *version = v[0];
    versionNode = asnFree(versionNode);
    if (!versionOk) {
        smpStatRaise(SMP_STAT_IN_BAD_VERSIONS);
        return nullptr;
    }

    AsnNode *community = asnComponent(message, 2);
    if (!community)
        return nullptr;
    uint8_t octets[APS_COMMUNITY_MAX];
    int16_t length = asnGather(community, octets, APS_COMMUNITY_MAX);
    community = asnFree(community);
    // One longer than any community can be is as unknown as any other.
    if (length < 0) {
        authenticationFailure();
        return nullptr;
    }

    // Compared as octets: a received community may hold a NUL.
    ApsRec *handle = findHandle(octets, static_cast<size_t>(length));
    if (handle && handle->scheme->verify(handle->schemeData, message) != 0) {
        handle->refCount++;
        return handle;
    }
    authenticationFailure();
    return nullptr;
}

AsnNode *apsDecode(ApsRec *handle, AsnNode *message) {
    if (!handle)
        return nullptr;
    return handle->scheme->decode(handle->schemeData, message);
}

AsnNode *apsEncode(ApsRec *handle, AsnNode *pdu, int32_t version) {
    if (!handle || (version != SMP_VERSION_1 && version != SMP_VERSION_2C))
        return nullptr;
    AsnNode *&versionNode = versionNodes[version];
    if (!versionNode) {
        versionNode = asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, version);
        if (!versionNode)
            return nullptr;
    }
    AsnNode *p = handle->scheme->encode(handle->schemeData, pdu);
    if (!p)
        return nullptr;
    AsnNode *message = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCE);
    if (message && (asnAppend(message, versionNode) != 0 ||
                    asnAppend(message, handle->community) != 0 || asnAppend(message, p) != 0))
        message = asnFree(message);
    asnFree(p);
    return message;
}

ApsRec *apsHandles() {
    return handles;
}
