// SNMPv3 in the engine: the version-3 message processing model (RFC 3412, 7)
// and the User-based Security Model's processing of messages (RFC 3414, 3).
// The agent's side is authoritative: it checks each request against its own
// engine and users, answers it in kind, and sends the Reports of RFC 3414 and
// RFC 3413. The manager's side is a session on a protocol object: one user,
// the agent's engine as discovered (RFC 3414, 4) and its clock as last learnt
// from an authenticated message.
//
// Bounds: a context name holds at most SMP_CONTEXT_MAX octets; a passphrase
// SMP_PASSPHRASE_MAX; answers fit the smaller of the requester's msgMaxSize
// and SMP_MESSAGE_MAX octets.
#pragma once

#include <cstdint>

#include "smp/smp.h"
#include "smp/usm.h"
#include "smp/usmcrypto.h"

inline constexpr int32_t SMP_VERSION_3 = 3;
inline constexpr int32_t SMP_TIME_WINDOW = 150; // seconds, RFC 3414, 2.2.3
inline constexpr int SMP_CONTEXT_MAX = 32;      // RFC 3411, 5: SnmpAdminString
inline constexpr int SMP_PASSPHRASE_MAX = 255;

// --- the agent's side ---

// The agent's engine (RFC 3411, 3.1.1): its identifier and clock.
struct SmpLocalEngine {
    const uint8_t *id;
    int idLength;
    int32_t (*boots)();
    int32_t (*time)(); // seconds since boots last rose
};

// A user as the agent knows it.
struct SmpUser {
    const UsmKeys *keys; // localized for the local engine; protocols none when absent
    uint8_t level;       // UsmLevel: the least a request may come with
    int operations;      // SMP_OP_READ, or SMP_OP_WRITE for reads and writes
};
// Fills user for the name: false when there is no such user.
using SmpUserLookupFn = bool (*)(const uint8_t *name, int length, SmpUser *user);

// What the engine calls for version-3 requests. Without an engine (none, the
// start) every version-3 message is dropped as of an unknown model would be.
void smpRegisterV3Agent(const SmpLocalEngine *engine, SmpUserLookupFn lookup);

// --- the manager's side ---

// One user's session with one agent. Filled by smpSessionInit; the engine and
// its clock are learnt from the agent's Reports and answers.
struct SmpSession {
    uint8_t user[USM_USER_MAX];
    uint8_t userLength;
    uint8_t level; // UsmLevel of requests
    UsmAuth auth;
    UsmPriv priv;
    // Kept until the engine is known, then turned into keys and wiped.
    uint8_t authPassphrase[SMP_PASSPHRASE_MAX];
    uint8_t authPassphraseLength;
    uint8_t privPassphrase[SMP_PASSPHRASE_MAX];
    uint8_t privPassphraseLength;
    UsmKeys keys;
    uint8_t context[SMP_CONTEXT_MAX];
    uint8_t contextLength;
    uint8_t engineId[USM_ENGINE_ID_MAX];
    uint8_t engineIdLength; // 0 until discovered or given
    int32_t boots;
    int32_t time;
    int64_t timeAtMs;   // the local steady clock when boots and time were learnt
    bool timeAuthentic; // learnt from an authenticated message (RFC 3414, 3.2 step 7b)
    int32_t msgId;      // of the request last sent: only its answer is taken
    int32_t sentLevel;  // the level that request went with
    uint64_t salt;      // the next privacy salt (RFC 3826, 3.1.2.1; RFC 3414, 8.1.1.1)
};

// Sets up a session: 0, or a negative status of usmcrypto.h (a passphrase
// under 8 characters is USM_CRYPTO_ESHORT). With engineId (length > 0) the
// keys are localized at once and no discovery is needed.
int smpSessionInit(SmpSession *session, const char *user, UsmLevel level, UsmAuth auth,
                   const char *authPassphrase, UsmPriv priv, const char *privPassphrase,
                   const char *context, const uint8_t *engineId, int engineIdLength);
// Wipes passphrases and keys.
void smpSessionFree(SmpSession *session);
// Requests of the object then go out in version 3 through the session (none:
// back to the object's version 1 or 2c). The session stays the caller's.
void smpSetSession(SmpObject *object, SmpSession *session);
// Whether the session knows its engine and has its keys.
bool smpSessionReady(const SmpSession *session);
// Sends the discovery request of RFC 3414, 4: a reportable noAuthNoPriv
// GetRequest without bindings and with an empty engine ID, whose Report
// (usmStatsUnknownEngineIDs) gives the engine. As smpRequest.
int smpSessionDiscover(SmpObject *object, int32_t requestId);

// --- what the engine's other parts call ---

// One version-3 datagram to the object: its session's (a manager's) or the
// registered agent's. The object's status: 0 when handled.
int smpV3Input(SmpObject *object, const uint8_t *octets, int length);
// Sends pdu in version 3: through the object's session, or as the answer to
// the request whose state handle carries (handed to the operations by
// smpV3Input). With fitting, an answer that does not fit the requester's
// size is not sent and the result is SMP_SEND_UNFIT.
int smpV3Send(SmpObject *object, ApsRec *handle, AsnNode *pdu, bool fitting);
// The octets left for bindings in an answer like emptyReply to that request.
int smpV3Room(ApsRec *handle, AsnNode *emptyReply);

// RFC 3414's and RFC 3413's Report counters, as a Report's first binding
// names them (1.3.6.1.6.3.15.1.1.N.0, 1.3.6.1.6.3.11.2.1.N.0,
// 1.3.6.1.6.3.12.1.N.0): the statistics word, or 0 for another name.
int smpReportWord(const SmpBind *bind);
