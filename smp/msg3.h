// The SNMPv3 message (RFC 3412, 6) and the User-based Security Model's
// parameters inside it (RFC 3414, 2.4), decoded and encoded without any
// cryptography: the security model authenticates, decrypts and encrypts
// around these functions.
//
// Bounds: a message is at most SMP_MESSAGE_MAX octets; msgID, boots and time
// are 0 to 2^31-1, msgMaxSize 484 to 2^31-1, msgSecurityModel 1 to 2^31-1
// (RFC 3412, 6; RFC 3414, 2.4); msgFlags is one octet; an engine ID is empty
// (discovery) or USM_ENGINE_ID_MIN to USM_ENGINE_ID_MAX octets; a user name at
// most USM_USER_MAX; the authentication parameters sent at most
// MSG3_AUTH_MAX octets (the longest truncated MAC, RFC 7860's 48).
#pragma once

#include <cstdint>

#include "asn/asn.h"
#include "smp/usm.h"

inline constexpr int32_t MSG3_VERSION = 3;
inline constexpr int32_t MSG3_MAX_SIZE_MIN = 484;
inline constexpr int32_t MSG3_MODEL_USM = 3; // RFC 3411, 5: SnmpSecurityModel
inline constexpr int MSG3_AUTH_MAX = 48;

// msgFlags bits (RFC 3412, 6.4).
inline constexpr uint8_t MSG3_FLAG_AUTH = 0x01;
inline constexpr uint8_t MSG3_FLAG_PRIV = 0x02;
inline constexpr uint8_t MSG3_FLAG_REPORTABLE = 0x04;

// Results; each refusal names the counter the caller raises.
enum Msg3Status : int {
    MSG3_OK = 0,
    MSG3_PARSE_ERROR = 1,   // snmpInASNParseErrs: not BER of the type, or a value out of range
    MSG3_INVALID = 2,       // snmpInvalidMsgs: msgFlags not one octet, or priv without auth
    MSG3_UNKNOWN_MODEL = 3, // snmpUnknownSecurityModels: a model other than the USM
    MSG3_UNFIT = 4,         // encoding: the message does not fit the capacity
    MSG3_BAD_ARGUMENT = 5,  // encoding: a field out of its range, or nothing to send
};

// The ScopedPDU (RFC 3412, 6): the context and the PDU. Decoded, pdu holds a
// reference to the decoded tree (give it back with asnFree); the context
// octets point into that tree and live as long. The PDU has version 2's form
// and goes to the engine's PDU handling as a version-2 one does.
struct Msg3Scoped {
    const uint8_t *contextEngineId;
    int16_t contextEngineIdLen;
    const uint8_t *contextName;
    int16_t contextNameLen;
    AsnNode *pdu;
};

// UsmSecurityParameters (RFC 3414, 2.4). Decoded, the octets point into the
// datagram. authOffset is where the content of msgAuthenticationParameters
// stands in the whole message: received, the octets the security model zeroes
// to check the MAC; encoded, where it writes the MAC over the message.
struct Msg3Usm {
    const uint8_t *engineId;
    int16_t engineIdLen;
    int32_t boots;
    int32_t time;
    const uint8_t *userName;
    int16_t userNameLen;
    int16_t authOffset; // decoded; msg3Encode gives it apart
    int16_t authLen;
    const uint8_t *privParams;
    int16_t privLen;
};

// One version-3 message. msgData is the plaintext scopedPDU, or, when
// encrypted is set, the encryptedPDU's octets in data; whether that form
// agrees with msgFlags is the security model's to judge (RFC 3414, 3.2 step
// 8). Decoded, data points into the datagram: the scopedPDU's whole encoding,
// or the encrypted octets.
struct Msg3 {
    int32_t msgId;
    int32_t maxSize;
    uint8_t flags;
    int32_t securityModel;
    Msg3Usm usm; // decoded only for the USM
    bool encrypted;
    const uint8_t *data;
    int16_t dataLen;
    Msg3Scoped scoped; // plaintext only
};

// Decodes a datagram of length octets, as RFC 3412, 7.2 steps 2 to 5 and RFC
// 3414, 3.2 step 1 order the checks: MSG3_OK with every field set (release
// message->scoped.pdu with asnFree), or the refusal, with nothing to release.
// The header fields are set from MSG3_UNKNOWN_MODEL on.
int msg3Decode(const uint8_t *octets, int length, Msg3 *message);
// Decodes a ScopedPDU from decrypted octets: its own length ends it, and the
// octets after it (padding of CBC-DES, RFC 3414, 8.1.1.2) are ignored.
// MSG3_OK or MSG3_PARSE_ERROR.
int msg3DecodeScoped(const uint8_t *octets, int length, Msg3Scoped *scoped);

// Serialises a message into out, of capacity octets (at most SMP_MESSAGE_MAX
// are used): the scopedPDU of message->scoped, or when message->encrypted the
// message->dataLen octets at message->data, which the priv flag must say.
// msgAuthenticationParameters is written as message->usm.authLen zero octets
// and *authOffset says where they stand. The octets written, or -MSG3_UNFIT,
// -MSG3_BAD_ARGUMENT (a field out of its range, priv without auth).
int msg3Encode(const Msg3 *message, uint8_t *out, int capacity, int16_t *authOffset);
// Serialises a ScopedPDU alone, as it is encrypted: the octets written, or
// -MSG3_UNFIT, -MSG3_BAD_ARGUMENT.
int msg3EncodeScoped(const Msg3Scoped *scoped, uint8_t *out, int capacity);
