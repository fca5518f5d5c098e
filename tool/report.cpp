// The response report: which GetResponse belongs to the walk, how its
// bindings print, and the walk's next step.
#include "tool/walk.h"

#include "platform/log.h"
#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/smx.h"
#include "smx/stats.h"
#include "tool/json.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>

namespace {

// True when name a is greater than name b in object-identifier order, by the
// values of their sub-identifiers, decoded side by side; false when either is
// no name. Unlike the store's order (mibCompare), which compares encodings, a
// padded sub-identifier (80 05) is the same as the minimal one (05) here: the
// names come from the agent, and one that only re-spells the name before it
// has not moved on, so the walk must not take it for progress.
bool oidGreater(const uint8_t *a, int aLen, const uint8_t *b, int bLen) {
    if (aLen < 0 || bLen < 0 || (aLen > 0 && !a) || (bLen > 0 && !b))
        return false;
    // Octets the two share are the same arcs, however spelled: the arcs are
    // compared from the start of the one in which they first differ.
    int common = 0;
    while (common < aLen && common < bLen && a[common] == b[common])
        ++common;
    while (common > 0 && (a[common - 1] & 0x80))
        --common;
    int i = common;
    int j = common;
    while (i < aLen && j < bLen) {
        uint32_t x = 0;
        uint32_t y = 0;
        // No name holds such an arc; the decoder refuses them before this.
        if (!smxReadSubId(a, aLen, &i, &x) || !smxReadSubId(b, bLen, &j, &y))
            return false;
        if (x != y)
            return x > y;
    }
    return i < aLen; // a goes on where b ends
}

// Ends the walk with status (0, or 2 for a fault of the agent's or ours).
int endWalk(int status) {
    walkState.done = true;
    walkState.status = status;
    return 0;
}

bool json() {
    return (walkState.flags & TOOL_JSON) != 0;
}

void printErrorBlock(const SmpPdu *record) {
    // A status outside the version's table (RFC 1157, RFC 3416) prints as "unknown(N)".
    const char *name = walkState.version == SMP_VERSION_1
                           ? smxErrorStatusName(record->errorStatus)
                           : smxV2ErrorStatusName(record->errorStatus);
    if (json()) {
        fputs("{\"error\":", stdout);
        jsonPutText(name);
        printf(",\"status\":%d,\"index\":%d,\"requestId\":%d,\"count\":%d}\n",
               static_cast<int>(record->errorStatus), static_cast<int>(record->errorIndex),
               record->requestId, static_cast<int>(record->count));
        return;
    }
    printf("\n");
    printf("Request Id: %d\n", record->requestId);
    printf("Error: %s\n", name);
    printf("Index: %d\n", static_cast<int>(record->errorIndex));
    printf("Count: %d\n", static_cast<int>(record->count));
}

void printEnd() {
    fputs(json() ? "{\"end\":\"endOfMib\"}\n" : "End of MIB\n", stdout);
}

// Each octet of a name adds at most four characters; the first two arcs a dozen.
constexpr int WHOLE_TEXT = 4 * SMP_MESSAGE_MAX + 16;

// The whole of a name of a message in dotted numeric form, quoted, or null
// when it has none (an arc over 2^32-1).
void jsonPutOid(const uint8_t *oid, int len) {
    char text[WHOLE_TEXT];
    if (len > SMP_MESSAGE_MAX || smxObjectIdToNumeric(text, WHOLE_TEXT - 1, oid, len) < 0) {
        fputs("null", stdout);
        return;
    }
    putchar('"');
    fputs(text, stdout);
    putchar('"');
}

// -Oj's line for a walk that ends at b's name.
void jsonEnd(const char *error, const SmpBind *b) {
    fputs("{\"error\":", stdout);
    jsonPutText(error);
    jsonPutKey("oid");
    jsonPutOid(b->name, b->nameLen);
    fputs("}\n", stdout);
}

// The text of a name as the report shows it, in WALK_TEXT characters: with
// -On dotted numeric, else with the longest defined name.
int nameText(char *text, const uint8_t *oid, int len) {
    return walkState.flags & TOOL_NUMERIC_NAMES ? smxObjectIdToNumeric(text, WALK_TEXT, oid, len)
                                                : smxObjectIdToText(text, WALK_TEXT, oid, len);
}

} // namespace

bool oidHasPrefix(const uint8_t *candidate, int candidateLen, const uint8_t *request,
                  int requestLen) {
    if (requestLen <= 0)
        return true;
    // Every sub-identifier ends on an octet with bit 8 clear, so an octet-wise
    // prefix always ends on a sub-identifier boundary.
    return candidateLen >= requestLen &&
           memcmp(candidate, request, static_cast<size_t>(requestLen)) == 0;
}

namespace {

// The name's text; one too long for WALK_TEXT characters is shown cut, in
// numeric form, rather than not at all.
void cutNameText(char *text, const SmpBind *b) {
    if (nameText(text, b->name, b->nameLen) >= 0)
        return;
    char whole[WHOLE_TEXT];
    if (b->nameLen > SMP_MESSAGE_MAX ||
        smxObjectIdToNumeric(whole, static_cast<int>(sizeof whole) - 1, b->name, b->nameLen) < 0)
        whole[0] = '\0';
    size_t n = strnlen(whole, WALK_TEXT);
    memcpy(text, whole, n);
    text[n] = '\0';
}

} // namespace

namespace {

// "LABEL TEXT " as printf("LABEL%s ") writes it, added to the row's lines,
// which go out in one call rather than one a field.
void putField(std::string &line, const char *label, const char *text) {
    line += label;
    line += text;
    line += ' ';
}

// Octets that arrived in constructed form are not in the record.
bool octetsAbsent(const SmpBind *b) {
    return !b->value && b->valueLen != 0;
}

// The plain line's value field: with -Ox an OctetString's octets, all of
// them, in hexadecimal; with -On an ObjectId in dotted numeric form.
void putValue(std::string &line, const SmpBind *b, char *text) {
    if (b->kind == SMP_KIND_OCTET_STRING && (walkState.flags & TOOL_HEX_STRINGS) &&
        !octetsAbsent(b)) {
        line += "Value: ";
        for (int i = 0; i < b->valueLen; ++i) {
            if (i)
                line += ' ';
            line += "0123456789ABCDEF"[b->value[i] >> 4];
            line += "0123456789ABCDEF"[b->value[i] & 15];
        }
        line += ' ';
        return;
    }
    int n = b->kind != SMP_KIND_OBJECT_ID || !(walkState.flags & TOOL_NUMERIC_NAMES)
                ? smxValueToText(text, WALK_TEXT, b)
            : octetsAbsent(b) ? -1
                              : smxObjectIdToNumeric(text, WALK_TEXT, b->value, b->valueLen);
    putField(line, "Value: ", n < 0 ? "GARBLED" : text);
}

// -Oj's value: numbers exactly, text whole; null where the plain line has no
// number or no text.
void jsonPutValue(const SmpBind *b, char *text) {
    switch (b->kind) {
    case SMP_KIND_INTEGER:
    case SMP_KIND_COUNTER:
    case SMP_KIND_GAUGE:
    case SMP_KIND_TIME_TICKS:
    case SMP_KIND_COUNTER64: { // OVERFLOW and NEGATIVE are no numbers
        bool number = smxValueToText(text, WALK_TEXT, b) > 0 &&
                      (text[0] == '-' || (text[0] >= '0' && text[0] <= '9'));
        fputs(number ? text : "null", stdout);
        return;
    }
    case SMP_KIND_OCTET_STRING:
        if (!octetsAbsent(b) && jsonUtf8(b->value, b->valueLen, false)) {
            jsonPutString(b->value, b->valueLen);
            return;
        }
        break;
    case SMP_KIND_IP_ADDRESS:
        if (smxIpAddressToText(text, WALK_TEXT, b->value, b->valueLen) >= 0) {
            jsonPutText(text);
            return;
        }
        break;
    case SMP_KIND_OBJECT_ID:
        if (!octetsAbsent(b)) {
            jsonPutOid(b->value, b->valueLen);
            return;
        }
        break;
    default:
        break;
    }
    fputs("null", stdout);
}

void jsonPutBind(const SmpBind *b, char *text) {
    printf("{\"row\":%u", static_cast<unsigned>(walkState.row));
    jsonPutKey("oid");
    jsonPutOid(b->name, b->nameLen);
    if (!(walkState.flags & TOOL_NUMERIC_NAMES) &&
        smxObjectIdToText(text, WALK_TEXT, b->name, b->nameLen) >= 0) {
        jsonPutKey("name");
        jsonPutText(text);
    }
    jsonPutKey("kind");
    jsonPutText(smxKindName(b->kind));
    jsonPutKey("value");
    jsonPutValue(b, text);
    jsonPutKey("hex");
    if (octetsAbsent(b))
        fputs("null", stdout);
    else
        jsonPutHex(b->value, b->valueLen);
    fputs("}\n", stdout);
}

} // namespace

void printBinds(const SmpBind *binds, uint16_t count) {
    char text[WALK_TEXT + 1];
    static std::string lines; // the row's lines, written at once; its room kept
    ++walkState.row;
    lines.clear();
    for (uint16_t i = 0; i < count; ++i) {
        const SmpBind *b = &binds[i];
        if (json()) {
            jsonPutBind(b, text);
            continue;
        }
        if (nameText(text, b->name, b->nameLen) >= 0)
            putField(lines, "Name: ", text);
        putField(lines, "Kind: ", smxKindName(b->kind));
        putValue(lines, b, text);
        lines += '\n';
    }
    if (count > 1 && !json()) // -Oj has no empty lines
        lines += '\n';
    fwrite(lines.data(), 1, lines.size(), stdout);
}

namespace {

// -Cc: a column's last WALK_SEEN_MAX names, by their minimal encodings; the
// set views the strings the queue holds, which stay where they are.
struct SeenNames {
    std::deque<std::string> order; // oldest first
    std::unordered_set<std::string_view> names;
};
std::deque<SeenNames> seenNames; // by column; growing it moves none

} // namespace

bool walkRepeats(uint16_t column, const uint8_t *name, int len) {
    std::string key;
    for (int at = 0; at < len;) {
        uint32_t arc = 0;
        if (!smxReadSubId(name, len, &at, &arc))
            return true;
        uint8_t octets[5];
        key.append(reinterpret_cast<char *>(octets),
                   static_cast<size_t>(smxEncodeSubId(octets, 5, arc)));
    }
    if (seenNames.size() <= column)
        seenNames.resize(column + 1u);
    SeenNames &seen = seenNames[column];
    if (seen.names.count(key))
        return true;
    if (seen.order.size() >= WALK_SEEN_MAX) {
        seen.names.erase(seen.order.front());
        seen.order.pop_front();
    }
    seen.order.push_back(std::move(key));
    seen.names.insert(seen.order.back());
    return false;
}

namespace {

// The next request id. Ids wrap past 2147483647 to -2147483648 (unsigned
// arithmetic, no overflow); the agent may echo the five-octet unsigned form or
// re-encode it: both decode alike.
void advanceId() {
    walkState.requestId = static_cast<int32_t>(static_cast<uint32_t>(walkState.requestId) + 1u);
}

// Sends the next step; left unsent, the walk would wait for an answer that
// never comes, so that ends it.
int sendStep(SmpObject *object) {
    advanceId();
    return walkSendStep(object) != 0 ? endWalk(2) : 0;
}

// Prints that b's name does not follow its column's; the walk's status, 2.
int notIncreasing(const SmpBind *b) {
    if (json()) {
        jsonEnd("notIncreasing", b);
        return 2;
    }
    char text[WALK_TEXT + 1];
    cutNameText(text, b);
    printf("%s: OID not increasing: %s\n", programName, text);
    return 2;
}

// Ends the walk with status; false, for the judges below.
bool ended(int status) {
    endWalk(status);
    return false;
}

// Judges one row of width bindings, one per column, whose names must follow
// previous (none: the outstanding request's); false once it has ended the walk.
bool rowStands(const SmpBind *row, uint16_t width, const SmpBind *previous) {
    // RFC 3416, 4.2.2 and 4.2.3: the end of the view is the v2 form of
    // noSuchName, and neither exception of a missing object may appear.
    for (uint16_t i = 0; i < width; ++i) {
        if (row[i].kind == SMP_KIND_END_OF_MIB_VIEW) {
            printEnd();
            return ended(0);
        }
    }
    for (uint16_t i = 0; i < width; ++i) {
        if (row[i].kind == SMP_KIND_NO_SUCH_OBJECT || row[i].kind == SMP_KIND_NO_SUCH_INSTANCE) {
            if (json()) {
                jsonEnd(smxKindName(row[i].kind), &row[i]);
                return ended(2);
            }
            char text[WALK_TEXT + 1];
            cutNameText(text, &row[i]);
            printf("%s: Unexpected %s: %s\n", programName, smxKindName(row[i].kind), text);
            return ended(2);
        }
    }
    // A binding beyond the last column has no name to lie under: it ends the
    // walk as when a column leaves its subtree.
    const WalkColumns *columns = &walkState.columns;
    for (uint16_t i = 0; i < width; ++i) {
        const SmpBind *b = &row[i];
        if (i >= walkState.requestBindCount)
            return ended(0);
        const SmpBind *asked = &walkState.requestBinds[i];
        if (!oidHasPrefix(b->name, b->nameLen, asked->name, asked->nameLen))
            return ended(0);
        // An agent that answers with the name it was asked for, or an
        // earlier one, would keep the walk going for ever. With -Cc only the
        // name before and the names the column returned end it, as equal
        // names (neither greater) or repeats.
        bool known = previous || i < columns->count;
        const uint8_t *before = previous ? previous[i].name : columns->octets + columns->offset[i];
        int beforeLen = previous ? previous[i].nameLen : columns->length[i];
        bool greater = !known || oidGreater(b->name, b->nameLen, before, beforeLen);
        if (walkState.flags & TOOL_ANY_ORDER)
            greater = (greater || oidGreater(before, beforeLen, b->name, b->nameLen)) &&
                      !walkRepeats(i, b->name, b->nameLen);
        if (!greater)
            return ended(notIncreasing(b));
    }
    return true;
}

// Version 1: one GetNext answer, whose bindings go back as the next request.
int takeNext(SmpObject *object, SmpPdu *record) {
    if (!rowStands(record->binds, record->count, nullptr))
        return 0;
    printBinds(record->binds, record->count);
    if (walkRememberNames(record->binds, record->count) != 0)
        return endWalk(0);
    record->type = SMP_GET_NEXT_REQUEST;
    advanceId();
    record->requestId = walkState.requestId;
    record->errorStatus = SMP_NO_ERROR;
    record->auth = walkState.auth;
    if (walkSend(object, record) != 0)
        return endWalk(2);
    return 0;
}

// v2c: an answer of rows, binding i in column i mod the column count (RFC
// 3416, 4.2.3), a GetNext answer too; a short last row is left for the next
// request.
int takeRows(SmpObject *object, const SmpPdu *record) {
    uint16_t width = walkState.columns.count;
    if (width == 0)
        return endWalk(0); // bindings, and no column for them
    uint16_t rows = static_cast<uint16_t>(record->count / width);
    if (rows == 0) {
        // No complete row: asked again once with fewer repetitions (1 halves
        // to 0, a GetNextRequest), else the walk cannot go on.
        if (walkState.stalled)
            return endWalk(notIncreasing(&record->binds[0]));
        walkState.stalled = true;
        walkState.repetitions = static_cast<uint16_t>(walkState.repetitions / 2);
        return sendStep(object);
    }
    for (uint16_t r = 0; r < rows; ++r) {
        const SmpBind *row = &record->binds[r * width];
        if (!rowStands(row, width, r ? row - width : nullptr))
            return 0;
        printBinds(row, width);
    }
    walkState.stalled = false;
    if (walkRememberNames(&record->binds[(rows - 1) * width], width) != 0)
        return endWalk(0);
    return sendStep(object);
}

} // namespace

int walkTooBig(SmpObject *object, const SmpPdu *record) {
    // Some agents answer a large max-repetitions so, where RFC 3416, 4.2.3
    // has them send fewer bindings.
    if (walkState.repetitions > 1) {
        walkState.repetitions = static_cast<uint16_t>(walkState.repetitions / 2);
        return sendStep(object);
    }
    printErrorBlock(record);
    return endWalk(0);
}

namespace {

// The Reports that end a walk (RFC 3414, 3.2; RFC 3413, 3.2), with their
// line and their -Oj name.
struct ReportEnd {
    int word;
    const char *message;
    const char *json;
};
constexpr ReportEnd reportEnds[] = {
    {SMP_STAT_UNKNOWN_USER_NAMES, "Unknown user name", "unknownUserName"},
    {SMP_STAT_WRONG_DIGESTS, "Authentication failure", "authenticationFailure"},
    {SMP_STAT_UNSUPPORTED_SEC_LEVELS, "Unsupported security level", "unsupportedSecurityLevel"},
    {SMP_STAT_NOT_IN_TIME_WINDOWS, "Not in time window", "notInTimeWindow"},
    {SMP_STAT_UNKNOWN_ENGINE_IDS, "Unknown engine ID", "unknownEngineId"},
    {SMP_STAT_DECRYPTION_ERRORS, "Decryption error", "decryptionError"},
    {SMP_STAT_UNKNOWN_CONTEXTS, "Unknown context", "unknownContext"},
    {SMP_STAT_UNAVAILABLE_CONTEXTS, "Unknown context", "unknownContext"},
};

// Ends the walk on a Report of word: its line, or for any other counter the
// Report's name. Status 2.
int reportEnd(int word, const SmpPdu *record) {
    for (const ReportEnd &e : reportEnds) {
        if (e.word != word)
            continue;
        if (json())
            printf("{\"error\":\"%s\"}\n", e.json);
        else
            printf("%s: %s\n", programName, e.message);
        return endWalk(2);
    }
    SmpBind none{};
    const SmpBind *b = record->count > 0 ? &record->binds[0] : &none;
    if (json()) {
        jsonEnd("report", b);
        return endWalk(2);
    }
    char text[WALK_TEXT + 1];
    cutNameText(text, b);
    printf("%s: Report: %s\n", programName, text);
    return endWalk(2);
}

} // namespace

int walkReport(SmpObject *object, const SmpPdu *record) {
    int word = record->count > 0 ? smpReportWord(&record->binds[0]) : 0;
    // RFC 3414, 4: the discovery's Report named the engine, which the session took.
    if (walkState.discovering && word == SMP_STAT_UNKNOWN_ENGINE_IDS &&
        smpSessionReady(walkState.session)) {
        walkState.discovering = false;
        walkState.discovered = true;
        return walkSendStep(object) != 0 ? endWalk(2) : 0;
    }
    // RFC 3414, 3.2 step 7b: only an authentic Report moves the clock, which
    // the session has done; the step goes once more under a new msgID.
    if (word == SMP_STAT_NOT_IN_TIME_WINDOWS && record->level >= USM_AUTH_NO_PRIV &&
        !walkState.resynced && !walkState.discovering) {
        walkState.resynced = true;
        return walkSendStep(object) != 0 ? endWalk(2) : 0;
    }
    return reportEnd(word, record);
}

int toolUpcall(SmpObject *object, SmpPdu *record) {
    // The session took only a Report to its last message (RFC 3412, 7.2 step
    // 12); the agent may not have read its request-id.
    if (record->type == SMP_REPORT && record->version == SMP_VERSION_3 && walkState.session)
        return walkReport(object, record);
    if (walkState.discovering)
        return 0;
    // Informs, SNMPv2-Traps and Reports are ignored as Traps are, and so is an
    // answer in the version the walk does not speak.
    if (record->type != SMP_GET_RESPONSE || record->version != walkState.version)
        return 0;
    if (record->requestId != walkState.requestId)
        return 0; // an answer to an earlier request, or a stray one
    for (uint16_t i = 0; i < record->count; ++i)
        smpStatRaise(SMP_STAT_IN_TOTAL_REQ_VARS); // atomic: the block may be shared
    walkState.answered = true;
    walkState.resynced = false; // a later restart of the agent may resync again

    if (record->errorStatus == SMP_NO_ERROR) {
        // A response that carries nothing cannot lead anywhere: it ends the
        // walk as when a column leaves its subtree.
        if (record->count == 0)
            return endWalk(0);
        return walkState.version == SMP_VERSION_1 ? takeNext(object, record)
                                                  : takeRows(object, record);
    }
    if (record->errorStatus == SMP_NO_SUCH_NAME && walkState.version == SMP_VERSION_1) {
        printEnd();
        return endWalk(0);
    }
    if (record->errorStatus == SMP_TOO_BIG)
        return walkTooBig(object, record);
    printErrorBlock(record);
    return endWalk(0);
}
