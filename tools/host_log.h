// The stand-in host's output: tagged console lines and the JSON-lines log that tests compare against.
// Both may be written from the host's thread and from the module's output thread (relay sends).
#pragma once

#include <cstdint>
#include <cstdio>

#define HOST_PRINTF(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))

// Opens the log (null or empty path: no log). Returns false when the file cannot be created.
bool OpenHostLog(const char* path);
void CloseHostLog(void);

// Seconds since the host started, from the performance counter.
double HostSeconds(void);

// One console line: "[host] " and the formatted text.
void Say(const char* format, ...) HOST_PRINTF(1, 2);
// Console text as it stands, no tag and no line end added.
void SayRaw(const char* text);

// One log record: {"t":<seconds>,"kind":"<kind>"<fields>}; fields, when not empty, start with ",".
void LogRecord(const char* kind, const char* format, ...) HOST_PRINTF(2, 3);

// Appends text as a JSON string (quotes included) at out, at most size bytes with the terminator; returns
// the length written.
size_t JsonString(char* out, size_t size, const char* text, size_t length);
