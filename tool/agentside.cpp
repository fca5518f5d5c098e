// The query tool's agent side, idle: a request that reaches the tool meets the
// community check with no community read, so it is refused; an
// authenticationFailure Trap goes to no destination, since no trap file is read.
#include "tool/tool.h"

#include "agent/comm.h"
#include "agent/trap.h"
#include "smp/agentside.h"

void toolRegisterAgentSide() {
    smpRegisterCommunityCheck(commVerify);
    smpRegisterTrapSender(trapSend);
}
