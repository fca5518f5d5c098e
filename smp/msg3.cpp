// The SNMPv3 message codec: decoding by the grammars of the message, the USM
// security parameters and the ScopedPDU, and encoding by a bounded writer.
//
// Bounds: those of smp/msg3.h; every decoding tree takes at most
// SMP_MESSAGE_MAX octets, and the writer never passes out + capacity.
#include "smp/msg3.h"

#include <cstring>

#include "asn/asl.h"
#include "platform/log.h"
#include "smp/smp.h"

namespace {

// Record positions below the root, fixed by the grammars: the message's
// components, the plaintext ScopedPDU's, the security parameters'.
enum : int { M_VERSION = 1, M_ID = 3, M_MAX_SIZE, M_FLAGS, M_MODEL, M_SECURITY, M_DATA };
enum : int { S_CONTEXT_ENGINE = 1, S_CONTEXT_NAME, S_PDU };
enum : int { U_ENGINE = 1, U_BOOTS, U_TIME, U_USER, U_AUTH, U_PRIV };

// Feeds octets to a fresh tree of a grammar: the tree when complete, with the
// octets it took in *used; none otherwise.
AsnNode *decodeTree(int grammar, const uint8_t *octets, int length, int *used) {
    AsnNode *root = asnNew(grammar);
    int r = asnDecodeOctets(root, octets, length, used);
    if (r != ASN_COMPLETE)
        root = asnFree(root);
    return root;
}

struct Field {
    const uint8_t *value; // in the tree's byte area
    int16_t len;
    int16_t offset; // of the content, from the tree's first octet
};

Field field(AsnNode *root, int i) {
    Field f{nullptr, 0, 0};
    if (AsnNode *c = asnComponent(root, i)) {
        f = {asnValue(c), asnValueLength(c), c->valueOffset};
        asnFree(c);
    }
    return f;
}

// An INTEGER (0..2147483647), or -1: a non-negative value of more than 31
// bits takes five octets in the shortest form the decoder insists on.
int32_t nonNegative(const Field &f) {
    if (!f.value || f.len < 1 || f.len > 4 || (f.value[0] & 0x80))
        return -1;
    return asnBytesToInt(f.value, f.len);
}

void scopedOf(AsnNode *root, int at, Msg3Scoped *s) {
    Field engine = field(root, at + S_CONTEXT_ENGINE), name = field(root, at + S_CONTEXT_NAME);
    *s = {engine.value, engine.len, name.value, name.len, asnComponent(root, at + S_PDU)};
}

int refuse(int status, const char *why) {
    logFailure("msg3Decode: %s\n", why);
    return status;
}

// RFC 3414, 3.2 step 1: the security parameters parse as
// UsmSecurityParameters, filling their OCTET STRING, within its ranges.
int decodeUsm(const uint8_t *octets, const Field &security, Msg3Usm *u) {
    int used = 0;
    AsnNode *root = decodeTree(ASL_GRAMMAR_USM, octets + security.offset, security.len, &used);
    if (!root || used != security.len) {
        asnFree(root);
        return refuse(MSG3_PARSE_ERROR, "security parameters");
    }
    Field f[U_PRIV + 1];
    for (int i = U_ENGINE; i <= U_PRIV; i++)
        f[i] = field(root, i);
    int32_t boots = nonNegative(f[U_BOOTS]), time = nonNegative(f[U_TIME]);
    asnFree(root);
    auto at = [&](const Field &x) { return octets + security.offset + x.offset; };
    *u = {at(f[U_ENGINE]),
          f[U_ENGINE].len,
          boots,
          time,
          at(f[U_USER]),
          f[U_USER].len,
          static_cast<int16_t>(security.offset + f[U_AUTH].offset),
          f[U_AUTH].len,
          at(f[U_PRIV]),
          f[U_PRIV].len};
    // RFC 3411, 5: an SnmpEngineID has 5 to 32 octets; RFC 3414, 4 sends an empty one to learn it.
    bool engine = u->engineIdLen == 0 ||
                  (u->engineIdLen >= USM_ENGINE_ID_MIN && u->engineIdLen <= USM_ENGINE_ID_MAX);
    if (!engine || u->boots < 0 || u->time < 0 || u->userNameLen > USM_USER_MAX)
        return refuse(MSG3_PARSE_ERROR, "security parameter out of range");
    return MSG3_OK;
}

// The writer: every put checks the room left before it writes.
struct Out {
    uint8_t *at;
    uint8_t *end;
};

// Octets of the length of n content octets (X.690, 8.1.3); n is below 65536.
int lengthOctets(int n) {
    return n < 0x80 ? 1 : n < 0x100 ? 2 : 3;
}
int tlvSize(int n) {
    return 1 + lengthOctets(n) + n;
}
// Content octets of a non-negative INTEGER in the shortest form (X.690, 8.3.2).
int integerOctets(int32_t v) {
    int n = 1;
    while (n < 4 && v >= (int32_t{1} << (8 * n - 1)))
        n++;
    return n;
}

bool putHeader(Out &o, uint8_t tag, int n) {
    int k = lengthOctets(n);
    if (o.end - o.at < 1 + k)
        return false;
    *o.at++ = tag;
    if (k > 1)
        *o.at++ = static_cast<uint8_t>(0x80 | (k - 1));
    for (int i = k > 1 ? k - 2 : 0; i >= 0; i--)
        *o.at++ = static_cast<uint8_t>(n >> (8 * i));
    return true;
}
bool putOctets(Out &o, const uint8_t *p, int n) {
    if (!putHeader(o, ASN_TAG_OCTETS, n) || o.end - o.at < n)
        return false;
    if (n > 0)
        std::memcpy(o.at, p, static_cast<size_t>(n));
    o.at += n;
    return true;
}
bool putInteger(Out &o, int32_t v) {
    int n = integerOctets(v);
    if (!putHeader(o, ASN_TAG_INTEGER, n) || o.end - o.at < n)
        return false;
    for (int i = n - 1; i >= 0; i--)
        *o.at++ = static_cast<uint8_t>(v >> (8 * i));
    return true;
}

constexpr uint8_t SEQUENCE = 0x30; // universal, constructed, 16

// The ScopedPDU's content octets, or -1 for a PDU that is none or not complete.
int scopedContent(const Msg3Scoped *s, int *pduSize) {
    uint8_t head[8];
    if (!s || !s->pdu || asnHeader(s->pdu)->status != ASN_COMPLETE || s->contextEngineIdLen < 0 ||
        s->contextNameLen < 0 || (!s->contextEngineId && s->contextEngineIdLen) ||
        (!s->contextName && s->contextNameLen))
        return -1;
    int type = asnEncodeType(s->pdu, head, sizeof head);
    int length = asnEncodeLength(s->pdu, head, sizeof head);
    if (type == 0 || length == 0)
        return -1;
    *pduSize = type + length + s->pdu->contentLen;
    return tlvSize(s->contextEngineIdLen) + tlvSize(s->contextNameLen) + *pduSize;
}

bool putScoped(Out &o, const Msg3Scoped *s, int content, int pduSize) {
    if (!putHeader(o, SEQUENCE, content) ||
        !putOctets(o, s->contextEngineId, s->contextEngineIdLen) ||
        !putOctets(o, s->contextName, s->contextNameLen))
        return false;
    int n = asnEncode(s->pdu, o.at, static_cast<int>(o.end - o.at));
    if (n != pduSize)
        return false;
    o.at += n;
    return true;
}

bool usmInRange(const Msg3Usm &u) {
    bool engine = u.engineIdLen == 0 ||
                  (u.engineIdLen >= USM_ENGINE_ID_MIN && u.engineIdLen <= USM_ENGINE_ID_MAX);
    return engine && (u.engineId || !u.engineIdLen) && u.boots >= 0 && u.time >= 0 &&
           u.userNameLen >= 0 && u.userNameLen <= USM_USER_MAX && (u.userName || !u.userNameLen) &&
           u.authLen >= 0 && u.authLen <= MSG3_AUTH_MAX && u.privLen >= 0 &&
           (u.privParams || !u.privLen);
}

} // namespace

int msg3Decode(const uint8_t *octets, int length, Msg3 *m) {
    if (!m)
        return MSG3_PARSE_ERROR;
    *m = Msg3{};
    if (!octets || length <= 0 || length > SMP_MESSAGE_MAX)
        return refuse(MSG3_PARSE_ERROR, "length");
    // RFC 3412, 7.2 step 2: BER of an SNMPv3Message, one to the datagram.
    int used = 0;
    AsnNode *root = decodeTree(ASL_GRAMMAR_V3, octets, length, &used);
    if (!root || used != length) {
        asnFree(root);
        return refuse(MSG3_PARSE_ERROR, "not an SNMPv3Message");
    }
    Field flags = field(root, M_FLAGS), security = field(root, M_SECURITY);
    int32_t version = nonNegative(field(root, M_VERSION));
    m->msgId = nonNegative(field(root, M_ID));
    m->maxSize = nonNegative(field(root, M_MAX_SIZE));
    m->securityModel = nonNegative(field(root, M_MODEL));
    m->flags = flags.len > 0 ? flags.value[0] : 0;
    int status = MSG3_OK;
    if (version != MSG3_VERSION || m->msgId < 0 || m->maxSize < MSG3_MAX_SIZE_MIN ||
        m->securityModel < 1)
        status = refuse(MSG3_PARSE_ERROR, "header out of range");
    else if (m->securityModel != MSG3_MODEL_USM) // RFC 3412, 7.2 step 4
        status = refuse(MSG3_UNKNOWN_MODEL, "security model");
    else if (flags.len != 1 || (m->flags & (MSG3_FLAG_AUTH | MSG3_FLAG_PRIV)) == MSG3_FLAG_PRIV)
        status = refuse(MSG3_INVALID, "msgFlags"); // RFC 3412, 7.2 step 5d
    else
        status = decodeUsm(octets, security, &m->usm);
    if (status == MSG3_OK) {
        AsnNode *data = asnComponent(root, M_DATA);
        m->encrypted = data && !asnConstructed(data);
        if (m->encrypted) {
            m->data = octets + data->valueOffset;
            m->dataLen = data->contentLen;
        } else if (data) {
            // Last of the message: it ends where the message's content does.
            m->data = octets + root->valueOffset + root->contentLen - data->total;
            m->dataLen = data->total;
            scopedOf(root, M_DATA, &m->scoped);
        }
        asnFree(data);
    }
    asnFree(root);
    return status;
}

int msg3DecodeScoped(const uint8_t *octets, int length, Msg3Scoped *s) {
    if (!s)
        return MSG3_PARSE_ERROR;
    *s = Msg3Scoped{};
    if (!octets || length <= 0 || length > SMP_MESSAGE_MAX)
        return refuse(MSG3_PARSE_ERROR, "scopedPDU length");
    // The decoder's step traces show content octets: no decrypted one may
    // reach a trace.
    int level = logLevel;
    logLevel = level > 1 ? 1 : level;
    int used = 0;
    AsnNode *root = decodeTree(ASL_GRAMMAR_SCOPED, octets, length, &used);
    logLevel = level;
    if (!root)
        return refuse(MSG3_PARSE_ERROR, "not a ScopedPDU");
    scopedOf(root, 0, s);
    asnFree(root);
    return MSG3_OK;
}

int msg3EncodeScoped(const Msg3Scoped *s, uint8_t *out, int capacity) {
    int pduSize = 0, content = scopedContent(s, &pduSize);
    if (content < 0 || !out || capacity < 0)
        return -MSG3_BAD_ARGUMENT;
    if (tlvSize(content) > (capacity < SMP_MESSAGE_MAX ? capacity : SMP_MESSAGE_MAX))
        return -MSG3_UNFIT;
    Out o{out, out + tlvSize(content)};
    return putScoped(o, s, content, pduSize) ? static_cast<int>(o.at - out) : -MSG3_BAD_ARGUMENT;
}

int msg3Encode(const Msg3 *m, uint8_t *out, int capacity, int16_t *authOffset) {
    if (!m || !out || capacity < 0 || !authOffset)
        return -MSG3_BAD_ARGUMENT;
    const Msg3Usm &u = m->usm;
    bool priv = m->flags & MSG3_FLAG_PRIV;
    if (m->msgId < 0 || m->maxSize < MSG3_MAX_SIZE_MIN || m->securityModel < 1 ||
        (priv && !(m->flags & MSG3_FLAG_AUTH)) || priv != m->encrypted || !usmInRange(u) ||
        (m->encrypted && (m->dataLen < 0 || (!m->data && m->dataLen))))
        return -MSG3_BAD_ARGUMENT;
    int pduSize = 0, scoped = 0;
    if (!m->encrypted && (scoped = scopedContent(&m->scoped, &pduSize)) < 0)
        return -MSG3_BAD_ARGUMENT;
    int data = m->encrypted ? tlvSize(m->dataLen) : tlvSize(scoped);
    int usm = tlvSize(u.engineIdLen) + tlvSize(integerOctets(u.boots)) +
              tlvSize(integerOctets(u.time)) + tlvSize(u.userNameLen) + tlvSize(u.authLen) +
              tlvSize(u.privLen);
    int global = tlvSize(integerOctets(m->msgId)) + tlvSize(integerOctets(m->maxSize)) +
                 tlvSize(1) + tlvSize(integerOctets(m->securityModel));
    int content = tlvSize(1) + tlvSize(global) + tlvSize(tlvSize(usm)) + data;
    if (tlvSize(content) > (capacity < SMP_MESSAGE_MAX ? capacity : SMP_MESSAGE_MAX))
        return -MSG3_UNFIT;
    Out o{out, out + tlvSize(content)};
    // RFC 3412, 6 and RFC 3414, 2.4, in order.
    bool ok = putHeader(o, SEQUENCE, content) && putInteger(o, MSG3_VERSION) &&
              putHeader(o, SEQUENCE, global) && putInteger(o, m->msgId) &&
              putInteger(o, m->maxSize) && putOctets(o, &m->flags, 1) &&
              putInteger(o, m->securityModel) && putHeader(o, ASN_TAG_OCTETS, tlvSize(usm)) &&
              putHeader(o, SEQUENCE, usm) && putOctets(o, u.engineId, u.engineIdLen) &&
              putInteger(o, u.boots) && putInteger(o, u.time) &&
              putOctets(o, u.userName, u.userNameLen) && putHeader(o, ASN_TAG_OCTETS, u.authLen) &&
              o.end - o.at >= u.authLen;
    if (!ok)
        return -MSG3_UNFIT;
    *authOffset = static_cast<int16_t>(o.at - out);
    std::memset(o.at, 0, static_cast<size_t>(u.authLen));
    o.at += u.authLen;
    ok = putOctets(o, u.privParams, u.privLen) &&
         (m->encrypted ? putOctets(o, m->data, m->dataLen)
                       : putScoped(o, &m->scoped, scoped, pduSize));
    return ok ? static_cast<int>(o.at - out) : -MSG3_UNFIT;
}
