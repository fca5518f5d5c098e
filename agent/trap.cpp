// The trap module's start: the time stamps count from here, then the file is
// read anew.
#include "agent/trap.h"

#include "platform/log.h"

int trapInit() {
    logFailureFlush("trapInit ()\n");
    trapStartClock();
    return trapFileRead();
}
