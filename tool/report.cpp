// The response report: which GetResponse belongs to the walk, how its
// bindings print, and the walk's next step.
#include "tool/walk.h"

#include "platform/log.h"
#include "smp/smp.h"
#include "smx/smx.h"
#include "smx/stats.h"

#include <cstdio>
#include <cstring>

namespace {

// Sub-identifiers of one name; a 2048-octet datagram cannot carry more.
uint32_t leftArcs[WALK_OID_BUFFER];
uint32_t rightArcs[WALK_OID_BUFFER];

// True when name a is greater than name b in object-identifier order,
// sub-identifier by sub-identifier.
bool oidGreater(const uint8_t *a, int aLen, const uint8_t *b, int bLen) {
    int na = smxObjectIdToSubIds(leftArcs, WALK_OID_BUFFER, a, aLen);
    int nb = smxObjectIdToSubIds(rightArcs, WALK_OID_BUFFER, b, bLen);
    if (na < 0 || nb < 0)
        return false;
    return smxCompareSubIds(leftArcs, na, rightArcs, nb) == 1;
}

void printErrorBlock(const SmpPdu *record) {
    printf("\n");
    printf("Request Id: %d\n", record->requestId);
    // A status outside RFC 1157's table prints as "unknown(N)".
    printf("Error: %s\n", smxErrorStatusName(record->errorStatus));
    printf("Index: %d\n", static_cast<int>(record->errorIndex));
    printf("Count: %d\n", static_cast<int>(record->count));
}

} // namespace

WalkColumns walkColumns;

int walkRememberNames(const SmpBind *binds, uint16_t count) {
    int used = 0;
    for (uint16_t i = 0; i < count; ++i) {
        int len = binds[i].nameLen;
        if (i >= WALK_OID_BUFFER || len < 0 || len > WALK_OID_BUFFER - used)
            return -1;
        if (len > 0)
            memcpy(walkColumns.octets + used, binds[i].name, static_cast<size_t>(len));
        walkColumns.offset[i] = used;
        walkColumns.length[i] = len;
        used += len;
    }
    walkColumns.count = count;
    return 0;
}

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
    if (smxObjectIdToText(text, WALK_TEXT, b->name, b->nameLen) >= 0)
        return;
    // Each octet adds at most four characters; the first two arcs a dozen.
    char whole[4 * SMP_MESSAGE_MAX + 16];
    if (b->nameLen > SMP_MESSAGE_MAX ||
        smxObjectIdToNumeric(whole, static_cast<int>(sizeof whole) - 1, b->name, b->nameLen) < 0)
        whole[0] = '\0';
    size_t n = strnlen(whole, WALK_TEXT);
    memcpy(text, whole, n);
    text[n] = '\0';
}

} // namespace

void printBinds(const SmpBind *binds, uint16_t count) {
    char text[WALK_TEXT + 1];
    for (uint16_t i = 0; i < count; ++i) {
        const SmpBind *b = &binds[i];
        if (smxObjectIdToText(text, WALK_TEXT, b->name, b->nameLen) >= 0)
            printf("Name: %s ", text);
        printf("Kind: %s ", smxKindName(b->kind));
        if (smxValueToText(text, WALK_TEXT, b) < 0)
            printf("Value: GARBLED ");
        else
            printf("Value: %s ", text);
        printf("\n");
    }
    if (count > 1)
        printf("\n");
}

int toolUpcall(SmpObject *object, SmpPdu *record) {
    if (record->type != SMP_GET_RESPONSE)
        return 0;
    if (record->requestId != requestId)
        return 0; // an answer to an earlier request, or a stray one
    for (uint16_t i = 0; i < record->count; ++i)
        smpStatRaise(SMP_STAT_IN_TOTAL_REQ_VARS); // atomic: the block may be shared

    if (record->errorStatus == SMP_NO_ERROR) {
        // A response that carries nothing cannot lead anywhere; a binding
        // beyond the last column has no name to lie under. Either ends the
        // walk as when a column leaves its subtree.
        if (record->count == 0) {
            walkDone = true;
            return 0;
        }
        for (uint16_t i = 0; i < record->count; ++i) {
            const SmpBind *b = &record->binds[i];
            if (i >= requestBindCount ||
                !oidHasPrefix(b->name, b->nameLen, requestBinds[i].name, requestBinds[i].nameLen)) {
                walkDone = true;
                return 0;
            }
            // An agent that answers with the name it was asked for, or an
            // earlier one, would keep the walk going for ever.
            if (i < walkColumns.count &&
                !oidGreater(b->name, b->nameLen, walkColumns.octets + walkColumns.offset[i],
                            walkColumns.length[i])) {
                char text[WALK_TEXT + 1];
                cutNameText(text, b);
                printf("%s: OID not increasing: %s\n", programName, text);
                walkDone = true;
                walkStatus = 2;
                return 0;
            }
        }
        printBinds(record->binds, record->count);
        if (walkRememberNames(record->binds, record->count) != 0) {
            walkDone = true;
            return 0;
        }
        record->type = SMP_GET_NEXT_REQUEST;
        // Ids wrap past 2147483647 to -2147483648 (unsigned arithmetic, no overflow);
        // the agent may echo the five-octet unsigned form or re-encode it: both decode alike.
        requestId = static_cast<int32_t>(static_cast<uint32_t>(requestId) + 1u);
        record->requestId = requestId;
        record->errorStatus = SMP_NO_ERROR;
        if (smpRequest(object, record) != 0) {
            // Left unsent, the walk would wait for an answer that never comes.
            printf("%s: Error sending protocol request\n", programName);
            walkDone = true;
            walkStatus = 2;
        }
        return 0;
    }
    if (record->errorStatus == SMP_NO_SUCH_NAME) {
        printf("End of MIB\n");
        walkDone = true;
        return 0;
    }
    printErrorBlock(record);
    walkDone = true;
    return 0;
}
