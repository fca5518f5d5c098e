// Logging: one function, logPrintf, carries every diagnostic of the system to up
// to three sinks (event log, log file, console), each with its own switch.
// logPrintf never looks at logLevel; the graded traces below do.
//
// Bounds: an event-log message is formatted into 2048 bytes and cut there (the
// tail of a longer message is dropped); the event header into 256 bytes.
#pragma once

#include <cstdarg>
#include <cstdio>

// Formats follow the GNU (C99) rules everywhere; MinGW's plain "printf"
// archetype would check them against msvcrt's.
#if defined(__GNUC__) && !defined(__clang__)
#define LOG_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define LOG_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

inline constexpr int LOG_EVENT_BUFFER = 2048;
inline constexpr int LOG_HEADER_BUFFER = 256;

extern int logToEventLog;         // 1 at start
extern int logToFile;             // 0 at start
extern int logToConsole;          // 0 at start
extern FILE *logFile;             // opened on first need
extern int logLevel;              // raised by each -d
extern const char *const appName; // "TarnoqSnmp"
extern const char *programName;   // argv[0] of the running program, set at its start; "" before

void logPrintf(const char *format, ...) LOG_FORMAT(1, 2);
// logPrintf, then a flush of standard output, as the traces of the
// configuration readers want.
void logPrintfFlush(const char *format, ...) LOG_FORMAT(1, 2);

// The three grades of trace, each turned on by one more -d: failures when
// logLevel is not 0; steps, tree dumps and hex dumps above 1; function entries
// above 2. A test guards what takes more than one trace (a dump, a loop).
inline bool logFailures() {
    return logLevel != 0;
}
inline bool logSteps() {
    return logLevel > 1;
}
inline bool logEntries() {
    return logLevel > 2;
}

// One trace of its grade; the Flush forms then flush standard output, as
// most traces are. They are macros so that the level is tested before any
// call is made or any argument evaluated: the decoder traces every octet, and
// out-of-line calls cost it a third more time at level 0. The format is
// checked as logPrintf's.
#define logFailure(...) (logFailures() ? logPrintf(__VA_ARGS__) : void())
#define logStep(...) (logSteps() ? logPrintf(__VA_ARGS__) : void())
#define logEntry(...) (logEntries() ? logPrintf(__VA_ARGS__) : void())
#define logFailureFlush(...) (logFailures() ? logPrintfFlush(__VA_ARGS__) : void())
#define logStepFlush(...) (logSteps() ? logPrintfFlush(__VA_ARGS__) : void())
#define logEntryFlush(...) (logEntries() ? logPrintfFlush(__VA_ARGS__) : void())

void logOpenFile(const char *name);
int logSetFile(int on);
int logSetEventLog(int on);
int logSetConsole(int on);
void logEvent(const char *format, va_list args) LOG_FORMAT(1, 0);

// The event-log sink hands each record (header, message) to this routine; by
// default it goes to syslog. Tests install their own to capture records.
using LogEventSink = void (*)(const char *header, const char *message);
LogEventSink logSetEventSink(LogEventSink sink); // none restores the system's; returns the old one
// The system's sink: the event log on Windows, syslog elsewhere. The source is
// registered and deregistered for each record.
void logSystemEvent(const char *header, const char *message);
