// The registered agent side and its idle defaults.
#include "smp/agentside.h"

namespace {

int refuseEveryRequest(uint32_t, int, const ApsRec *) {
    return SMP_CHECK_BAD_NAME;
}

int sendNoTrap(int32_t, int32_t, uint16_t, SmpBind *) {
    return 0;
}

MibEntry *noStore(ApsRec *) {
    return nullptr;
}

int notWritable(ApsRec *) {
    return 0;
}

AsnNode *findNothing(MibEntry *, const uint8_t *, int) {
    return nullptr;
}

AsnNode *nothingNext(MibEntry *, uint8_t *, int *, int) {
    return nullptr;
}

int setNothing(MibEntry *, const uint8_t *, int, AsnNode *) {
    return SMP_GEN_ERR;
}

int noObject(MibEntry *, const uint8_t *, int) {
    return 0;
}

constexpr SmpStoreOps idleStore = {noStore,    notWritable, findNothing, nothingNext,
                                   setNothing, setNothing,  noObject};

SmpAgentSide registered = {refuseEveryRequest, sendNoTrap, idleStore};

} // namespace

const SmpAgentSide &smpAgentSide = registered;

void smpRegisterCommunityCheck(SmpCommunityCheckFn check) {
    registered.checkCommunity = check ? check : refuseEveryRequest;
}

void smpRegisterTrapSender(SmpTrapSenderFn send) {
    registered.sendTrap = send ? send : sendNoTrap;
}

void smpRegisterStore(const SmpStoreOps *store) {
    registered.store = store ? *store : idleStore;
}
