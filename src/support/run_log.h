// The run's log: one line per event, appended to a file named on the command
// line. It is optional in every way: without an open log every call does
// nothing, and a log that cannot be opened or written never changes the run.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Opens path for appending: created when missing, never truncated, shared
// with other runs writing the same file. False (and no log) when it cannot
// be opened.
bool OpenRunLog(const char *path);
void CloseRunLog();
bool RunLogOpen();

// Appends one line: the local time to the millisecond, a space, then the
// event formatted from format (see FormatLogText). The thread's last error
// is the same afterwards, so a caller may log between a failed call and its
// GetLastError.
void LogEvent(const char *format, ...) __attribute__((format(printf, 1, 2)));

// LogEvent for a call that has just failed: the event, then ": error N"
// with the thread's last error (GetLastError) as it was on entry.
void LogFailure(const char *format, ...) __attribute__((format(printf, 1, 2)));

// LogEvent for what the run's context found (or missed): the event follows
// "context: ".
void LogContext(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The bounded formatter behind LogEvent: %s (text; control characters come
// out as spaces, so an event stays one line; a null pointer as nothing),
// %c, %d, %u, %ld, %lu, with an optional zero-padded width ("%03u"), and %%;
// any other conversion writes nothing.
// Writes at most capacity bytes, terminator included (capacity > 0); output
// that does not fit is cut and ends in "...". Returns the length written.
size_t FormatLogText(char *buffer, size_t capacity, const char *format, va_list args);
