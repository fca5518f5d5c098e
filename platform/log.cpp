#include "platform/log.h"

int logToEventLog = 1;
int logToFile = 0;
int logToConsole = 0;
FILE *logFile = nullptr;
int logLevel = 0;
const char *const appName = "TarnoqSnmp";
const char *programName = "";

namespace {

LogEventSink eventSink = logSystemEvent;

} // namespace

LogEventSink logSetEventSink(LogEventSink sink) {
    LogEventSink old = eventSink;
    eventSink = sink ? sink : logSystemEvent;
    return old;
}

void logEvent(const char *format, va_list args) {
    char message[LOG_EVENT_BUFFER];
    char header[LOG_HEADER_BUFFER];
    // vsnprintf cuts an overlong message at the buffer's end and always terminates it.
    if (vsnprintf(message, sizeof message, format, args) < 0)
        return;
    snprintf(header, sizeof header, "%s log : ", appName);
    eventSink(header, message);
}

void logOpenFile(const char *name) {
    if (logFile)
        fclose(logFile);
    char fallback[LOG_HEADER_BUFFER];
    if (!name || !*name) {
        snprintf(fallback, sizeof fallback, "%s.log", appName);
        name = fallback;
    }
    logFile = fopen(name, "w");
}

int logSetFile(int on) {
    return logToFile = on;
}
int logSetEventLog(int on) {
    return logToEventLog = on;
}
int logSetConsole(int on) {
    return logToConsole = on;
}

namespace {

// Each sink formats the arguments afresh from its own copy of the list.
void logVPrintf(const char *format, va_list args) {
    va_list copy;
    if (logToEventLog) {
        va_copy(copy, args);
        logEvent(format, copy);
        va_end(copy);
    }
    if (logToFile) {
        if (!logFile)
            logOpenFile(nullptr);
        if (logFile) {
            va_copy(copy, args);
            vfprintf(logFile, format, copy);
            va_end(copy);
            fflush(logFile);
        }
    }
    if (logToConsole) {
        va_copy(copy, args);
        vfprintf(stdout, format, copy);
        va_end(copy);
        fflush(stdout);
    }
}

} // namespace

void logPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    logVPrintf(format, args);
    va_end(args);
}

void logPrintfFlush(const char *format, ...) {
    va_list args;
    va_start(args, format);
    logVPrintf(format, args);
    va_end(args);
    fflush(stdout);
}
