// The walk: library start-up, the names turned into one GetNextRequest, the
// receive loop with its inactivity timer, and the upcall that prints each
// matching response and asks for the next step.
//
// Bounds: all encoded names together fit WALK_OID_BUFFER octets; one received
// datagram is at most WALK_DATAGRAM octets (a longer one is cut there and then
// fails to decode); name and value texts hold WALK_TEXT characters.
#pragma once

#include <cstdint>

struct SmpObject;
struct SmpPdu;
struct SmpBind;

inline constexpr int WALK_OID_BUFFER = 2048;
inline constexpr int WALK_DATAGRAM = 2048;
inline constexpr int WALK_TEXT = 256;

// Runs the walk against address:port (host order) and returns the tool's exit
// status. timeout is in seconds, 0 for none; names are the name arguments.
int toolWalk(uint32_t address, uint32_t port, uint32_t timeout, int32_t requestId,
             const char *community, int nameCount, char **names);

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

// The one-shot timer's routine: prints "Request Timed Out" and ends the
// process with status 4.
[[noreturn]] void timeoutHandler();

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
    bool done;         // set once the walk has ended
    int status;        // nonzero when the walk ended in a fault of the agent's or ours
    // The names given on the command line, in order (kind Null, no value),
    // their count and their encodings; the upcall pairs each response's
    // bindings with them.
    SmpBind *requestBinds;
    uint16_t requestBindCount;
    uint8_t names[WALK_OID_BUFFER];
    WalkColumns columns;
};
extern WalkState walkState;

// Sends record as a request on object; on failure prints "Error sending
// protocol request" and returns nonzero. Values that would make the message
// longer than SMP_MESSAGE_MAX octets are sent, and left in record, as NULL.
int walkSend(SmpObject *object, SmpPdu *record);

// Copies the names of binds into walkState.columns; -1 when they do not fit.
int walkRememberNames(const SmpBind *binds, uint16_t count);
