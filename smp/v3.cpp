// SNMPv3 message processing and the User-based Security Model's checks, for
// the agent (authoritative) and for a manager's session.
//
// Bounds: see smp/v3.h; every message is built and checked in buffers of
// SMP_MESSAGE_MAX octets (an encrypted DES PDU adds at most 7 octets of
// padding, and is refused when it would not fit).
#include "smp/v3.h"

#include <algorithm>
#include <cstring>

#include "platform/log.h"
#include "platform/timer.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/msg3.h"
#include "smx/stats.h"

namespace {

const SmpLocalEngine *localEngine = nullptr;
SmpUserLookupFn userLookup = nullptr;
uint64_t agentSalt = 0; // the agent's next privacy salt, from a random start

// The Report counters (RFC 3414, 3.2; RFC 3412, 7.2; RFC 3413, 3.2): the
// word, the encoded prefix of its group and its arc.
struct ReportName {
    int word;
    const char *prefix; // content octets of the group's identifier
    uint8_t arc;
};
constexpr const char USM_STATS[] = "\x2B\x06\x01\x06\x03\x0F\x01\x01";
constexpr const char MPD_STATS[] = "\x2B\x06\x01\x06\x03\x0B\x02\x01";
constexpr const char TARGET_OBJECTS[] = "\x2B\x06\x01\x06\x03\x0C\x01";
constexpr ReportName reportNames[] = {
    {SMP_STAT_UNSUPPORTED_SEC_LEVELS, USM_STATS, 1},
    {SMP_STAT_NOT_IN_TIME_WINDOWS, USM_STATS, 2},
    {SMP_STAT_UNKNOWN_USER_NAMES, USM_STATS, 3},
    {SMP_STAT_UNKNOWN_ENGINE_IDS, USM_STATS, 4},
    {SMP_STAT_WRONG_DIGESTS, USM_STATS, 5},
    {SMP_STAT_DECRYPTION_ERRORS, USM_STATS, 6},
    {SMP_STAT_UNKNOWN_SECURITY_MODELS, MPD_STATS, 1},
    {SMP_STAT_INVALID_MSGS, MPD_STATS, 2},
    {SMP_STAT_UNKNOWN_PDU_HANDLERS, MPD_STATS, 3},
    {SMP_STAT_UNAVAILABLE_CONTEXTS, TARGET_OBJECTS, 4},
    {SMP_STAT_UNKNOWN_CONTEXTS, TARGET_OBJECTS, 5},
};

// The name counter.0 into name (at least 12 octets): its length.
int reportName(int word, uint8_t *name) {
    for (const ReportName &r : reportNames) {
        if (r.word != word)
            continue;
        int n = static_cast<int>(strlen(r.prefix));
        memcpy(name, r.prefix, static_cast<size_t>(n));
        name[n] = r.arc;
        name[n + 1] = 0;
        return n + 2;
    }
    return 0;
}

uint8_t levelOf(uint8_t flags) {
    if (!(flags & MSG3_FLAG_AUTH))
        return USM_NO_AUTH_NO_PRIV;
    return (flags & MSG3_FLAG_PRIV) ? USM_AUTH_PRIV : USM_AUTH_NO_PRIV;
}

uint8_t flagsOf(int level) {
    return static_cast<uint8_t>((level >= USM_AUTH_NO_PRIV ? MSG3_FLAG_AUTH : 0) |
                                (level == USM_AUTH_PRIV ? MSG3_FLAG_PRIV : 0));
}

// The salt of the next encryption into salt: the protocol's length of it.
// DES: the engine's boots and a counter (RFC 3414, 8.1.1.1); AES: a 64-bit
// counter (RFC 3826, 3.1.2.1).
int nextSalt(UsmPriv priv, int32_t boots, uint64_t *counter, uint8_t *salt) {
    uint64_t c = (*counter)++;
    if (priv == USM_PRIV_DES) {
        uint32_t b = static_cast<uint32_t>(boots);
        const uint8_t octets[8] = {static_cast<uint8_t>(b >> 24), static_cast<uint8_t>(b >> 16),
                                   static_cast<uint8_t>(b >> 8),  static_cast<uint8_t>(b),
                                   static_cast<uint8_t>(c >> 24), static_cast<uint8_t>(c >> 16),
                                   static_cast<uint8_t>(c >> 8),  static_cast<uint8_t>(c)};
        memcpy(salt, octets, 8);
    } else {
        for (int i = 0; i < 8; ++i)
            salt[i] = static_cast<uint8_t>(c >> (56 - 8 * i));
    }
    return usmPrivProtos[priv].saltLength;
}

// What one outgoing message carries besides its PDU.
struct Outgoing {
    int32_t msgId;
    int32_t maxSize; // the peer's: the message must fit it
    uint8_t flags;
    const uint8_t *engineId; // the authoritative engine's
    int engineIdLength;
    int32_t boots;
    int32_t time;
    const uint8_t *user;
    int userLength;
    const UsmKeys *keys; // used as the flags say
    uint64_t *salt;
    const uint8_t *contextEngineId;
    int contextEngineIdLength;
    const uint8_t *context;
    int contextLength;
    bool measuring = false; // only the length counts: nothing is encrypted or signed
};

// Builds the whole message for pdu into out (SMP_MESSAGE_MAX octets): its
// length, or -1 when it cannot be built or does not fit out's and the peer's size.
int buildMessage(const Outgoing &g, AsnNode *pdu, uint8_t *out) {
    Msg3Scoped scoped{g.contextEngineId, static_cast<int16_t>(g.contextEngineIdLength), g.context,
                      static_cast<int16_t>(g.contextLength), pdu};
    uint8_t plain[SMP_MESSAGE_MAX];
    uint8_t secret[SMP_MESSAGE_MAX + 8];
    uint8_t salt[USM_SALT_MAX] = {};
    Msg3 m{};
    m.msgId = g.msgId;
    m.maxSize = SMP_MESSAGE_MAX;
    m.flags = g.flags;
    m.securityModel = MSG3_MODEL_USM;
    m.usm = {g.engineId, static_cast<int16_t>(g.engineIdLength),
             g.boots,    g.time,
             g.user,     static_cast<int16_t>(g.userLength),
             0,          0,
             nullptr,    0};
    if (g.flags & MSG3_FLAG_AUTH)
        m.usm.authLen = usmAuthProtos[g.keys->auth].macLength;
    if (g.flags & MSG3_FLAG_PRIV) {
        int plainLength = msg3EncodeScoped(&scoped, plain, SMP_MESSAGE_MAX);
        int saltLength = plainLength > 0 ? nextSalt(g.keys->priv, g.boots, g.salt, salt) : 0;
        int n = -1;
        if (plainLength > 0 && g.measuring)
            n = plainLength;
        else if (plainLength > 0)
            n = usmEncrypt(*g.keys, static_cast<uint32_t>(g.boots), static_cast<uint32_t>(g.time),
                           {salt, size_t(saltLength)}, {plain, size_t(plainLength)},
                           {secret, sizeof secret});
        cryptoWipe(plain, sizeof plain);
        if (n < 0)
            return -1;
        m.encrypted = true;
        m.data = secret;
        m.dataLen = static_cast<int16_t>(n);
        m.usm.privParams = salt;
        m.usm.privLen = static_cast<int16_t>(saltLength);
    } else {
        m.scoped = scoped;
    }
    int capacity = std::min<int32_t>(g.maxSize, SMP_MESSAGE_MAX);
    int16_t authOffset = 0;
    int length = msg3Encode(&m, out, capacity, &authOffset);
    if (length < 0)
        return -1;
    if ((g.flags & MSG3_FLAG_AUTH) && !g.measuring &&
        usmSign(*g.keys, {out, size_t(length)}, size_t(authOffset), size_t(m.usm.authLen)) < 0)
        return -1;
    return length;
}

int transmitOctets(SmpObject *object, const uint8_t *octets, int length) {
    if (logSteps()) { // the message as sent: the PDU is encrypted when privacy is on
        for (int i = 0; i < length; ++i)
            logPrintf("%02X ", octets[i]);
        logPrintf("\n");
    }
    int r = object->send(object->transport, octets, length);
    if (r == 0)
        smpStatRaise(SMP_STAT_OUT_PKTS);
    return r;
}

// While a decrypted message is handled only failures are traced: the step
// traces would show its names and values in clear.
struct ClearTextTraces {
    int saved = logLevel;
    explicit ClearTextTraces(bool decrypted) {
        if (decrypted)
            logLevel = std::min(logLevel, 1);
    }
    ~ClearTextTraces() { logLevel = saved; }
    ClearTextTraces(const ClearTextTraces &) = delete;
    ClearTextTraces &operator=(const ClearTextTraces &) = delete;
};

// --- the agent's side ---

// The state a request leaves for its answer (RFC 3411, 4.4.2's
// securityStateReference): carried to the operations in a handle of its own.
struct Reply {
    int32_t msgId;
    int32_t maxSize;
    uint8_t level;
    uint8_t user[USM_USER_MAX];
    int userLength;
    const UsmKeys *keys;
};

Outgoing agentOutgoing(const Reply &r) {
    int32_t boots = localEngine->boots();
    return {r.msgId,
            r.maxSize,
            flagsOf(r.level),
            localEngine->id,
            localEngine->idLength,
            boots,
            localEngine->time(),
            r.user,
            r.userLength,
            r.keys,
            &agentSalt,
            localEngine->id,
            localEngine->idLength,
            nullptr,
            0};
}

// Sends the Report of a counter (already raised) for a request that asked
// for one: at level (noAuthNoPriv, or the request's for a failure after its
// authentication), with the request's msgID and, when it could be read, its
// request-id (RFC 3412, 7.1 step 3; RFC 3414, 3.1.2).
void sendReport(SmpObject *object, const Msg3 &m, int word, uint8_t level, const UsmKeys *keys,
                int32_t requestId) {
    if (!(m.flags & MSG3_FLAG_REPORTABLE))
        return;
    uint8_t name[16];
    int nameLength = reportName(word, name);
    AsnNode *value = asnNewUnsigned(ASN_APPLICATION, ASN_TAG_COUNTER, smpStatRead(word));
    AsnNode *vb = value ? smpVarBind(name, nameLength, value) : nullptr;
    AsnNode *list = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCEOF);
    AsnNode *id = asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, requestId);
    AsnNode *pdu = nullptr;
    if (vb && list && id && asnAppend(list, vb) == 0)
        pdu = smpPduBuild(SMP_REPORT, id, 0, 0, list);
    Reply r{m.msgId, m.maxSize, level, {}, 0, keys};
    int userLength = std::min<int>(m.usm.userNameLen, USM_USER_MAX);
    if (m.usm.userName)
        memcpy(r.user, m.usm.userName, static_cast<size_t>(userLength));
    r.userLength = userLength;
    uint8_t out[SMP_MESSAGE_MAX];
    int length = pdu ? buildMessage(agentOutgoing(r), pdu, out) : -1;
    if (length > 0 && transmitOctets(object, out, length) == 0)
        smpStatRaise(SMP_STAT_OUT_GET_RESPONSES); // Reports share the response class
    asnFree(pdu);
    asnFree(id);
    asnFree(list);
    asnFree(vb);
    asnFree(value);
}

// Counts a refusal and answers it with its Report; 1, the message's status.
int refuse(SmpObject *object, const Msg3 &m, int word, uint8_t level = USM_NO_AUTH_NO_PRIV,
           const UsmKeys *keys = nullptr, int32_t requestId = 0) {
    smpStatRaise(word);
    logFailureFlush("smpInput: version 3 refused, counter %d\n", word);
    sendReport(object, m, word, level, keys, requestId);
    return 1;
}

void authenticationFailure() {
    if (smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS) == 1)
        smpAgentSide.sendTrap(SMP_TRAP_AUTHENTICATION_FAILURE, 0, 0, nullptr);
}

bool sameOctets(const uint8_t *a, int aLength, const uint8_t *b, int bLength) {
    return aLength == bLength && (aLength == 0 || memcmp(a, b, static_cast<size_t>(aLength)) == 0);
}

// The authentication check of RFC 3414, 3.2 step 6 on a copy of the datagram.
bool authentic(const Msg3 &m, const UsmKeys &keys, const uint8_t *octets, int length) {
    if (m.usm.authLen != usmAuthProtos[keys.auth].macLength || m.usm.authOffset < 0 ||
        m.usm.authOffset + m.usm.authLen > length)
        return false;
    uint8_t copy[SMP_MESSAGE_MAX];
    memcpy(copy, octets, static_cast<size_t>(length));
    return usmVerify(keys, {copy, size_t(length)}, size_t(m.usm.authOffset),
                     size_t(m.usm.authLen)) == 0;
}

// Decrypts the message's PDU into plain (SMP_MESSAGE_MAX octets) and decodes
// it: 0; 1 when it cannot be decrypted (RFC 3414, 3.2 step 8); 2 when what it
// gives is no ScopedPDU.
int decryptScoped(const Msg3 &m, const UsmKeys &keys, uint8_t *plain, Msg3Scoped *scoped) {
    if (!m.encrypted || m.usm.privLen != usmPrivProtos[keys.priv].saltLength)
        return 1;
    int n = usmDecrypt(keys, static_cast<uint32_t>(m.usm.boots), static_cast<uint32_t>(m.usm.time),
                       {m.usm.privParams, size_t(m.usm.privLen)}, {m.data, size_t(m.dataLen)},
                       {plain, size_t(SMP_MESSAGE_MAX)});
    if (n < 0)
        return 1;
    return msg3DecodeScoped(plain, n, scoped) == MSG3_OK ? 0 : 2;
}

// Runs a request PDU against the store, as a version-2 one is run.
int dispatchRequest(SmpObject *object, const SmpUser &user, Reply *reply, AsnNode *pdu) {
    ApsRec handle{};
    handle.schemeData = reply;
    object->version = SMP_VERSION_3;
    int operation = asnTag(pdu) == SMP_SET_REQUEST ? SMP_OP_WRITE : SMP_OP_READ;
    int status = 1;
    switch (asnTag(pdu)) {
    case SMP_GET_REQUEST:
        if ((status = smpGetOp(object, &handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_GET_REQUESTS);
        break;
    case SMP_GET_NEXT_REQUEST:
        if ((status = smpNextOp(object, &handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_GET_NEXTS);
        break;
    case SMP_GET_BULK_REQUEST:
        status = smpBulkOp(object, &handle, pdu);
        break;
    case SMP_SET_REQUEST:
        // Without view-based access control a user's rights stand for the
        // whole MIB: a Set it may not make is told noAccess (RFC 3416, 4.2.5).
        if (operation > user.operations) {
            smpStatRaise(SMP_STAT_IN_BAD_COMMUNITY_USES);
            status = smpErrorOp(object, &handle, pdu, SMP_NO_ACCESS, 1);
        } else if ((status = smpSetOp(object, &handle, pdu)) == 0) {
            smpStatRaise(SMP_STAT_IN_SET_REQUESTS);
        }
        break;
    default:
        break;
    }
    return status;
}

int agentInput(SmpObject *object, const uint8_t *octets, int length, Msg3 &m) {
    const SmpLocalEngine *e = localEngine;
    // A Report carries the request's id where it can be read (RFC 3412, 7.1 step 3).
    int32_t id = m.encrypted || !m.scoped.pdu ? 0 : smpComponentInt(m.scoped.pdu, 1);
    // RFC 3414, 3.2 step 3: requests name this engine; discovery names none.
    if (!sameOctets(m.usm.engineId, m.usm.engineIdLen, e->id, e->idLength))
        return refuse(object, m, SMP_STAT_UNKNOWN_ENGINE_IDS, USM_NO_AUTH_NO_PRIV, nullptr, id);
    SmpUser user{};
    if (!userLookup || !userLookup(m.usm.userName, m.usm.userNameLen, &user) || !user.keys) {
        authenticationFailure();
        return refuse(object, m, SMP_STAT_UNKNOWN_USER_NAMES, USM_NO_AUTH_NO_PRIV, nullptr, id);
    }
    const UsmKeys &keys = *user.keys;
    uint8_t level = levelOf(m.flags);
    // Step 5: a level the user's protocols cannot give.
    if ((level >= USM_AUTH_NO_PRIV && keys.auth == USM_AUTH_NONE) ||
        (level == USM_AUTH_PRIV && keys.priv == USM_PRIV_NONE))
        return refuse(object, m, SMP_STAT_UNSUPPORTED_SEC_LEVELS, USM_NO_AUTH_NO_PRIV, nullptr, id);
    if (level >= USM_AUTH_NO_PRIV) {
        if (!authentic(m, keys, octets, length)) { // step 6
            authenticationFailure();
            return refuse(object, m, SMP_STAT_WRONG_DIGESTS, USM_NO_AUTH_NO_PRIV, nullptr, id);
        }
        // Step 7: the window, answered authenticated so that the sender may
        // take this engine's clock from it (RFC 3414, 3.2 step 7a).
        int32_t boots = e->boots();
        int64_t skew = static_cast<int64_t>(m.usm.time) - e->time();
        if (boots == 2147483647 || m.usm.boots != boots || skew > SMP_TIME_WINDOW ||
            skew < -SMP_TIME_WINDOW)
            return refuse(object, m, SMP_STAT_NOT_IN_TIME_WINDOWS, USM_AUTH_NO_PRIV, &keys, id);
    }
    uint8_t plain[SMP_MESSAGE_MAX];
    Msg3Scoped scoped = m.scoped;
    bool decrypted = level == USM_AUTH_PRIV;
    if (decrypted) {
        int r = decryptScoped(m, keys, plain, &scoped);
        if (r == 1)
            return refuse(object, m, SMP_STAT_DECRYPTION_ERRORS, USM_NO_AUTH_NO_PRIV, nullptr, id);
        if (r == 2) { // a wrong privacy key gives octets that are no ScopedPDU
            cryptoWipe(plain, sizeof plain);
            smpStatRaise(SMP_STAT_IN_ASN_PARSE_ERRS);
            return 1;
        }
    } else if (m.encrypted) {
        smpStatRaise(SMP_STAT_IN_ASN_PARSE_ERRS);
        return 1;
    }
    if (logSteps() && !decrypted) {
        logPrintf("smpInput: asn0\n");
        asnPrint(scoped.pdu, 0);
    }
    // The operations' step traces show names and values, and the answer is
    // built in clear.
    ClearTextTraces quiet(decrypted);
    int32_t requestId = smpComponentInt(scoped.pdu, 1);
    Reply reply{m.msgId, m.maxSize, level, {}, m.usm.userNameLen, &keys};
    if (m.usm.userNameLen > 0)
        memcpy(reply.user, m.usm.userName, static_cast<size_t>(m.usm.userNameLen));
    int status = 1;
    int32_t type = static_cast<int32_t>(asnTag(scoped.pdu));
    bool request = type == SMP_GET_REQUEST || type == SMP_GET_NEXT_REQUEST ||
                   type == SMP_GET_BULK_REQUEST || type == SMP_SET_REQUEST;
    // RFC 3413, 3.2: only this engine's default context is served.
    if (!sameOctets(scoped.contextEngineId, scoped.contextEngineIdLen, e->id, e->idLength) ||
        scoped.contextNameLen != 0) {
        status = refuse(object, m, SMP_STAT_UNKNOWN_CONTEXTS, level, &keys, requestId);
    } else if (!request) {
        // RFC 3412, 7.2 step 10: no application takes Informs, Traps,
        // Responses or Reports here; a confirmed PDU is told so.
        if (type == SMP_INFORM_REQUEST)
            refuse(object, m, SMP_STAT_UNKNOWN_PDU_HANDLERS, level, &keys, requestId);
        else
            smpStatRaise(SMP_STAT_UNKNOWN_PDU_HANDLERS);
    } else if (level < user.level) {
        // Below the user's least level: authorizationError (RFC 3416, 3).
        ApsRec handle{};
        handle.schemeData = &reply;
        object->version = SMP_VERSION_3;
        status = smpErrorOp(object, &handle, scoped.pdu, SMP_AUTHORIZATION_ERROR, 0);
    } else {
        status = dispatchRequest(object, user, &reply, scoped.pdu);
    }
    if (decrypted) { // a tree of its own; the plaintext one is the caller's
        asnFree(scoped.pdu);
        cryptoWipe(plain, sizeof plain);
    }
    cryptoWipe(&reply, sizeof reply);
    return status;
}

// --- the manager's side ---

int32_t sessionTime(const SmpSession *s) {
    int64_t t = s->time + (timerNowMs() - s->timeAtMs) / 1000;
    return static_cast<int32_t>(std::min<int64_t>(t, 2147483647));
}

// Localizes the session's keys for its engine and wipes the passphrases.
int sessionLocalize(SmpSession *s) {
    int r = 0;
    if (s->auth != USM_AUTH_NONE)
        r = usmKeysFromPassphrases(
            s->keys, s->auth, s->priv, {s->authPassphrase, s->authPassphraseLength},
            {s->privPassphrase, s->privPassphraseLength}, {s->engineId, s->engineIdLength});
    cryptoWipe(s->authPassphrase, sizeof s->authPassphrase);
    cryptoWipe(s->privPassphrase, sizeof s->privPassphrase);
    s->authPassphraseLength = 0;
    s->privPassphraseLength = 0;
    return r;
}

// RFC 3414, 3.2 step 7b: an authentic message moves the clock forward only.
// False when it lies outside the window.
bool managerTimely(SmpSession *s, const Msg3 &m) {
    int32_t latest = sessionTime(s);
    if (m.usm.boots > s->boots || (m.usm.boots == s->boots && m.usm.time > latest) ||
        !s->timeAuthentic) {
        s->boots = m.usm.boots;
        s->time = m.usm.time;
        s->timeAtMs = timerNowMs();
        s->timeAuthentic = true;
        latest = m.usm.time;
    }
    return s->boots != 2147483647 && m.usm.boots == s->boots &&
           static_cast<int64_t>(latest) - m.usm.time <= SMP_TIME_WINDOW;
}

int managerInput(SmpObject *object, const uint8_t *octets, int length, Msg3 &m) {
    SmpSession *s = object->session;
    if (m.msgId != s->msgId)
        return 1; // RFC 3412, 7.2 step 12: no request of ours is outstanding under it
    uint8_t level = levelOf(m.flags);
    int32_t type = m.encrypted ? -1 : static_cast<int32_t>(asnTag(m.scoped.pdu));
    if (level == USM_NO_AUTH_NO_PRIV) {
        // Unauthenticated, only Reports count, and of them only the engine
        // they name and its clock, as hints (RFC 3414, 4); and the answers to
        // a noAuthNoPriv request (RFC 3412, 7.2 step 12).
        bool answer = type == SMP_GET_RESPONSE && s->sentLevel == USM_NO_AUTH_NO_PRIV;
        if ((type != SMP_REPORT && !answer) || m.encrypted)
            return 1;
        if (s->engineIdLength == 0 && m.usm.engineIdLen >= USM_ENGINE_ID_MIN &&
            m.usm.engineIdLen <= USM_ENGINE_ID_MAX) {
            memcpy(s->engineId, m.usm.engineId, static_cast<size_t>(m.usm.engineIdLen));
            s->engineIdLength = static_cast<uint8_t>(m.usm.engineIdLen);
            s->boots = m.usm.boots;
            s->time = m.usm.time;
            s->timeAtMs = timerNowMs();
            if (sessionLocalize(s) != 0)
                return 1;
        }
    } else {
        if (!smpSessionReady(s) ||
            !sameOctets(m.usm.engineId, m.usm.engineIdLen, s->engineId, s->engineIdLength) ||
            !sameOctets(m.usm.userName, m.usm.userNameLen, s->user, s->userLength) ||
            s->keys.auth == USM_AUTH_NONE || !authentic(m, s->keys, octets, length)) {
            smpStatRaise(SMP_STAT_WRONG_DIGESTS);
            return 1;
        }
        if (!managerTimely(s, m) && type != SMP_REPORT) {
            smpStatRaise(SMP_STAT_NOT_IN_TIME_WINDOWS);
            return 1;
        }
    }
    uint8_t plain[SMP_MESSAGE_MAX];
    Msg3Scoped scoped = m.scoped;
    bool decrypted = level == USM_AUTH_PRIV;
    if (decrypted) {
        if (s->keys.priv == USM_PRIV_NONE || decryptScoped(m, s->keys, plain, &scoped) != 0) {
            cryptoWipe(plain, sizeof plain);
            smpStatRaise(SMP_STAT_DECRYPTION_ERRORS);
            return 1;
        }
    } else if (m.encrypted) {
        smpStatRaise(SMP_STAT_IN_ASN_PARSE_ERRS);
        return 1;
    }
    type = static_cast<int32_t>(asnTag(scoped.pdu));
    int status = 1;
    // A Response comes at the level of its request (RFC 3412, 7.2 step 12).
    if (type == SMP_REPORT || (type == SMP_GET_RESPONSE && level == s->sentLevel)) {
        // The upcall sees the answer in clear and builds the next request from it.
        ClearTextTraces quiet(decrypted);
        status = smpResponseInput(object, nullptr, scoped.pdu, SMP_VERSION_3, level);
        if (status == 0 && type == SMP_GET_RESPONSE)
            smpStatRaise(SMP_STAT_IN_GET_RESPONSES);
    }
    if (decrypted) { // a tree of its own; the plaintext one is the caller's
        asnFree(scoped.pdu);
        cryptoWipe(plain, sizeof plain);
    }
    return status;
}

int sessionSend(SmpObject *object, AsnNode *pdu, bool discovery) {
    SmpSession *s = object->session;
    s->msgId = static_cast<int32_t>((static_cast<uint32_t>(s->msgId) + 1) & 0x7FFFFFFF);
    int level = discovery ? static_cast<int>(USM_NO_AUTH_NO_PRIV) : s->level;
    s->sentLevel = level;
    Outgoing g{s->msgId,
               SMP_MESSAGE_MAX,
               static_cast<uint8_t>(flagsOf(level) | MSG3_FLAG_REPORTABLE),
               s->engineId,
               discovery ? 0 : s->engineIdLength,
               discovery ? 0 : s->boots,
               discovery ? 0 : sessionTime(s),
               s->user,
               discovery ? 0 : s->userLength,
               &s->keys,
               &s->salt,
               s->engineId,
               discovery ? 0 : s->engineIdLength,
               s->context,
               s->contextLength};
    uint8_t out[SMP_MESSAGE_MAX];
    int length = buildMessage(g, pdu, out);
    return length > 0 ? transmitOctets(object, out, length) : 1;
}

} // namespace

void smpRegisterV3Agent(const SmpLocalEngine *engine, SmpUserLookupFn lookup) {
    localEngine = engine;
    userLookup = lookup;
    uint8_t start[8] = {};
    cryptoRandom(start);
    for (uint8_t b : start)
        agentSalt = agentSalt << 8 | b;
}

int smpV3Input(SmpObject *object, const uint8_t *octets, int length) {
    if (!object->session && !localEngine) {
        smpStatRaise(SMP_STAT_IN_BAD_VERSIONS); // this engine speaks no version 3
        return 1;
    }
    Msg3 m{};
    int r = msg3Decode(octets, length, &m);
    if (r != MSG3_OK) {
        smpStatRaise(r == MSG3_INVALID         ? SMP_STAT_INVALID_MSGS
                     : r == MSG3_UNKNOWN_MODEL ? SMP_STAT_UNKNOWN_SECURITY_MODELS
                                               : SMP_STAT_IN_ASN_PARSE_ERRS);
        return 1;
    }
    r = object->session ? managerInput(object, octets, length, m)
                        : agentInput(object, octets, length, m);
    asnFree(m.scoped.pdu);
    return r;
}

int smpV3Send(SmpObject *object, ApsRec *handle, AsnNode *pdu, bool fitting) {
    uint8_t out[SMP_MESSAGE_MAX];
    if (object->session)
        return sessionSend(object, pdu, false);
    const auto *reply = handle ? static_cast<const Reply *>(handle->schemeData) : nullptr;
    int length = reply && localEngine ? buildMessage(agentOutgoing(*reply), pdu, out) : -1;
    if (length < 0)
        return fitting ? SMP_SEND_UNFIT : 1;
    return transmitOctets(object, out, length);
}

int smpV3Room(ApsRec *handle, AsnNode *emptyReply) {
    const auto *reply = handle ? static_cast<const Reply *>(handle->schemeData) : nullptr;
    uint8_t out[SMP_MESSAGE_MAX];
    uint64_t salt = 0;
    if (!reply || !localEngine)
        return 0;
    Outgoing g = agentOutgoing(*reply);
    g.salt = &salt;
    g.measuring = true;
    int length = buildMessage(g, emptyReply, out);
    int limit = std::min<int32_t>(reply->maxSize, SMP_MESSAGE_MAX);
    // Three lengths may each grow by two octets, DES pads by up to 7.
    return length < 0 ? 0 : std::max(0, limit - length - 6 - 8);
}

int smpSessionInit(SmpSession *s, const char *user, UsmLevel level, UsmAuth auth,
                   const char *authPassphrase, UsmPriv priv, const char *privPassphrase,
                   const char *context, const uint8_t *engineId, int engineIdLength) {
    smpSessionFree(s);
    size_t userLength = user ? strlen(user) : 0;
    size_t contextLength = context ? strlen(context) : 0;
    size_t authLength = authPassphrase ? strlen(authPassphrase) : 0;
    size_t privLength = privPassphrase ? strlen(privPassphrase) : 0;
    if (userLength > USM_USER_MAX || contextLength > SMP_CONTEXT_MAX ||
        authLength > SMP_PASSPHRASE_MAX || privLength > SMP_PASSPHRASE_MAX || engineIdLength < 0 ||
        engineIdLength > USM_ENGINE_ID_MAX)
        return USM_CRYPTO_EINVAL;
    // The protocols a level uses must be there (RFC 3414, 3.1.1).
    if ((level >= USM_AUTH_NO_PRIV && auth == USM_AUTH_NONE) ||
        (level == USM_AUTH_PRIV && priv == USM_PRIV_NONE))
        return USM_CRYPTO_EINVAL;
    if (level < USM_AUTH_PRIV)
        priv = USM_PRIV_NONE;
    if (level < USM_AUTH_NO_PRIV)
        auth = USM_AUTH_NONE;
    if ((auth != USM_AUTH_NONE && authLength < USM_PASSPHRASE_MIN) ||
        (priv != USM_PRIV_NONE && privLength < USM_PASSPHRASE_MIN))
        return USM_CRYPTO_ESHORT;
    // Absent texts are empty ones; a passphrase no protocol uses is not kept.
    auto put = [](uint8_t *to, const char *from, size_t n) {
        if (n > 0)
            memcpy(to, from, n);
        return static_cast<uint8_t>(n);
    };
    s->userLength = put(s->user, user, userLength);
    s->contextLength = put(s->context, context, contextLength);
    s->level = level;
    s->auth = auth;
    s->priv = priv;
    s->authPassphraseLength = put(s->authPassphrase, authPassphrase, auth ? authLength : 0);
    s->privPassphraseLength = put(s->privPassphrase, privPassphrase, priv ? privLength : 0);
    uint8_t start[12] = {};
    cryptoRandom(start);
    s->msgId = static_cast<int32_t>(
        (uint32_t(start[0]) << 24 | uint32_t(start[1]) << 16 | uint32_t(start[2]) << 8 | start[3]) &
        0x7FFFFFFF);
    for (int i = 4; i < 12; ++i)
        s->salt = s->salt << 8 | start[i];
    if (engineIdLength > 0) {
        memcpy(s->engineId, engineId, static_cast<size_t>(engineIdLength));
        s->engineIdLength = static_cast<uint8_t>(engineIdLength);
        s->timeAtMs = timerNowMs();
        return sessionLocalize(s);
    }
    return 0;
}

void smpSessionFree(SmpSession *s) {
    usmKeysRelease(s->keys);
    cryptoWipe(s->authPassphrase, sizeof s->authPassphrase);
    cryptoWipe(s->privPassphrase, sizeof s->privPassphrase);
    s->authPassphraseLength = s->privPassphraseLength = 0;
    s->engineIdLength = 0;
    s->userLength = s->contextLength = 0;
    s->boots = s->time = 0;
    s->timeAuthentic = false;
}

void smpSetSession(SmpObject *object, SmpSession *session) {
    object->session = session;
    if (session)
        object->version = SMP_VERSION_3;
}

bool smpSessionReady(const SmpSession *s) {
    return s->engineIdLength > 0 && (s->auth == USM_AUTH_NONE || s->keys.auth != USM_AUTH_NONE);
}

int smpSessionDiscover(SmpObject *object, int32_t requestId) {
    if (!object || !object->session)
        return 1;
    AsnNode *list = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCEOF);
    AsnNode *id = asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, requestId);
    AsnNode *pdu = list && id ? smpPduBuild(SMP_GET_REQUEST, id, 0, 0, list) : nullptr;
    int r = pdu ? sessionSend(object, pdu, true) : 1;
    asnFree(pdu);
    asnFree(id);
    asnFree(list);
    return r;
}

int smpReportWord(const SmpBind *bind) {
    uint8_t name[16];
    for (const ReportName &r : reportNames) {
        int n = reportName(r.word, name);
        if (bind && bind->nameLen == n && memcmp(bind->name, name, static_cast<size_t>(n)) == 0)
            return r.word;
    }
    return 0;
}
