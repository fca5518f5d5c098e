// Agent operations: the GetResponse to a GetRequest, GetNextRequest or
// SetRequest (RFC 1157, 4.1.2 to 4.1.5).
#include <cstdio>

#include "platform/log.h"
#include "smp/smp.h"
#include "smx/stats.h"

AsnNode *smpReply(AsnNode *pdu, int32_t status, int32_t index, const AsnNode *list) {
    if (logLevel > 2) {
        logPrintf("smpReply:\n");
        fflush(stdout);
    }
    if (status >= SMP_TOO_BIG && status <= SMP_GEN_ERR)
        smpStatRaise(SMP_STAT_IN_TOO_BIGS + status - SMP_TOO_BIG);
    if (status == 0)
        index = 0;
    // The request id goes back as the octets received.
    AsnNode *requestId = asnComponent(pdu, 1);
    if (!requestId)
        return nullptr;
    AsnNode *reply = nullptr;
    if (status == 0) {
        reply = smpPduBuild(SMP_GET_RESPONSE, requestId, 0, 0, list);
    } else {
        // An error reply carries the request's own bindings.
        AsnNode *own = asnComponent(pdu, 4);
        reply = smpPduBuild(SMP_GET_RESPONSE, requestId, status, index, own);
        asnFree(own);
    }
    asnFree(requestId);
    return reply;
}

// Until the MIB store is linked in, no request can be answered: nothing is
// sent and the request counts as failed.
int smpGetOp(SmpObject *, ApsRec *, AsnNode *) {
    return 1;
}
int smpNextOp(SmpObject *, ApsRec *, AsnNode *) {
    return 1;
}
int smpSetOp(SmpObject *, ApsRec *, AsnNode *) {
    return 1;
}
