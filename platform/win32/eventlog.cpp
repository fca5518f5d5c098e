#include "platform/log.h"

#include <windows.h>

void logSystemEvent(const char *header, const char *message) {
    HANDLE source = RegisterEventSourceA(nullptr, appName);
    if (!source)
        return; // dropped, as the other sinks still get the message
    const char *strings[2] = {header, message};
    ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
}
