#include "platform/log.h"

#include <syslog.h>

void logSystemEvent(const char *header, const char *message) {
    openlog(appName, 0, LOG_USER);
    syslog(LOG_INFO, "%s%s", header, message);
    closelog();
}
