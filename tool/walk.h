// The walk: library start-up, the names turned into one GetNextRequest (in
// v2c a GetBulkRequest), the receive loop that waits at most the inactivity
// timeout and then resends or gives up, and the upcall that prints each
// matching response and asks for the next step.
//
// Bounds: all encoded names together fit WALK_OID_BUFFER octets; one received
// datagram is at most WALK_DATAGRAM octets (a longer one is cut there and then
// fails to decode); name and value texts hold WALK_TEXT characters.
#pragma once

#include "tool/tool.h"

#include <cstddef>
#include <cstdint>

struct ApsRec;
struct SmpObject;
struct SmpPdu;
struct SmpBind;
struct SmpSession;

inline constexpr int WALK_OID_BUFFER = 2048;
inline constexpr int WALK_DATAGRAM = 2048;
inline constexpr int WALK_TEXT = 256;
// -Cc: the names each column remembers, to stop an agent that repeats itself.
inline constexpr size_t WALK_SEEN_MAX = 100000;

// Runs the walk the settings describe and returns the tool's exit status.
int toolWalk(const ToolSettings *settings);

// Starts the library modules the walk needs, in their fixed order.
void libraryStartup();

// The upcall of every protocol object of the walk; always 0.
int toolUpcall(SmpObject *object, SmpPdu *record);

// Prints one line per binding, and an empty line after a group of several.
void printBinds(const SmpBind *binds, uint16_t count);

// True when candidate (encoded, candidateLen octets) lies in the subtree of
// the request name (encoded, requestLen octets); always true for requestLen <=
// 0.
bool oidHasPrefix(const uint8_t *candidate, int candidateLen, const uint8_t *request,
                  int requestLen);

// The names the outstanding request carries, by column, copied so that they
// outlive the response they came from: a column's next name must be greater.
struct WalkColumns {
    uint16_t count;
    int offset[WALK_OID_BUFFER]; // start of column i in octets
    int length[WALK_OID_BUFFER];
    uint8_t octets[WALK_OID_BUFFER];
};

// The walk's state: set up by toolWalk, read and advanced by the upcall.
struct WalkState {
    int32_t requestId; // id of the request now outstanding
    int32_t version;   // of the requests; answers of the other version are dropped
    // max-repetitions of the next GetBulkRequest; 0 sends a GetNextRequest
    // (always in version 1).
    uint16_t repetitions;
    bool stalled; // the outstanding request follows an answer without a complete row
    const char *community;
    ApsRec *auth;
    bool done;      // set once the walk has ended
    int status;     // nonzero when the walk ended in a fault of the agent's or ours
    uint32_t flags; // TOOL_NUMERIC_NAMES ... TOOL_ANY_ORDER
    uint32_t row;   // rows printed; -Oj numbers them from 1
    // The names given on the command line, in order (kind Null, no value),
    // their count and their encodings; the upcall pairs each response's
    // bindings with them.
    SmpBind *requestBinds;
    uint16_t requestBindCount;
    uint8_t names[WALK_OID_BUFFER];
    WalkColumns columns;
    SmpBind *stepBinds; // requestBindCount entries: the columns' names with NULL values
    // The message last sent, kept for a resend; resends counts its resends.
    uint8_t sent[WALK_DATAGRAM];
    int sentLength;
    uint32_t resends;
    // Version 3: the session (none in the other versions); whether its
    // discovery request is outstanding, or was answered; whether the clock was
    // taken from a notInTimeWindows Report since the last answer; whether an
    // answer (a GetResponse) came at all.
    SmpSession *session;
    bool discovering;
    bool discovered;
    bool resynced;
    bool answered;
};
extern WalkState walkState;

// Sends record as a request on object; on failure prints "Error sending
// protocol request" and returns nonzero. Values that would make the message
// longer than SMP_MESSAGE_MAX octets are sent, and left in record, as NULL.
int walkSend(SmpObject *object, SmpPdu *record);

// -Cc: true when column returned the name (encoded, len octets) before, among
// its last WALK_SEEN_MAX names, or the name has an arc over 2^32-1; else the
// column remembers it, forgetting its oldest beyond WALK_SEEN_MAX. Names are
// compared by their arcs, so a padded sub-identifier (80 05) repeats 05.
bool walkRepeats(uint16_t column, const uint8_t *name, int len);

// Copies the names of binds into walkState.columns; -1 when they do not fit.
int walkRememberNames(const SmpBind *binds, uint16_t count);

// Sends the next step under walkState.requestId: the columns' names with NULL
// values, as a GetBulkRequest (non-repeaters 0) while walkState.repetitions is
// above 0, else as a GetNextRequest. As walkSend.
int walkSendStep(SmpObject *object);

// A tooBig answer (record) to the outstanding request: in v2c above 1 the
// max-repetitions are halved and the step sent again, else the error block
// ends the walk. Always 0.
int walkTooBig(SmpObject *object, const SmpPdu *record);

// Version 3: a Report (record) to the outstanding request or discovery: the
// next step after discovery or a resync, else the walk's end with the
// Report's message and status 2. Always 0.
int walkReport(SmpObject *object, const SmpPdu *record);

// The request id of a GetResponse cut at n octets, read from its first octets
// when they hold the walk's version and community; false when they do not.
bool walkCutResponseId(const uint8_t *octets, int n, int32_t *requestId);
