// The diagnostic log: Waypost.log beside the library, only when the settings say Log=Yes. Started afresh at
// each load and capped in size. Lines are formatted into fixed storage and written at start-up, from the
// output thread, and at shut-down; never from the host's frame. A log that cannot be written costs nothing
// else.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr int32_t kLogCapBytes = 64 * 1024;

// The tick when the library was attached; lines carry the time since.
extern DWORD loadTick;
// The log file, or INVALID_HANDLE_VALUE when there is none. Written at start-up and shut-down on the host's
// thread; used in between by whichever thread writes a line (never two at once: see LogLine).
extern HANDLE logFile;

// The path cut at its last "." (emptied when it has none) followed by extension, into out (MAX_PATH bytes;
// may be path itself). False, out unchanged, when that does not fit. The settings file and the log lie
// beside the library under its name.
bool PathWithExtension(const char* path, const char* extension, char* out);

// Creates the log beside the settings file at iniPath (same name, ".log"), afresh.
void OpenLog(const char* iniPath);
void CloseLog(void);

// One line, prefixed with the seconds since load and ended with CR LF; nothing when there is no log. Called
// at start-up and shut-down on the host's thread, and in between by the output thread only, so that two
// lines are never written at once.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What one output took. Its first text and its first failure go into the log, later ones are only counted.
struct OutputTally {
    uint32_t texts;
    uint32_t bytes;
    uint32_t failures;
};
// "KIND NAME: first text VERB (N bytes)" the first time.
void TallyText(OutputTally* tally, const char* kind, const char* name, const char* verb, int32_t length);
// "KIND NAME: WHAT: error text; later failures are only counted" the first time.
void TallyFailure(OutputTally* tally, const char* kind, const char* name, const char* what, DWORD error);

// A short text for a Windows or Winsock error code, from the system where it has one.
const char* ErrorText(DWORD error);
