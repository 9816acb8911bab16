// The diagnostic log. Every line is formatted into one static buffer and written at once with WriteFile; at
// most kLogCapBytes go into the file, the last line saying that the rest was dropped.
#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// Recorded by DllMain at attach; read by every line.
DWORD loadTick = 0;
// See log.h for who writes it.
HANDLE logFile = INVALID_HANDLE_VALUE;

namespace {

const char kLogExtension[] = ".log";
const char kFullLine[] = "log full: later lines are dropped\r\n";
constexpr int32_t kLineSize = 512; // bytes, CR LF and terminator included; longer lines are cut
constexpr DWORD kMsPerSecond = 1000;

// Used by whichever thread writes (one at a time, see log.h).
char lineBuffer[kLineSize];
char errorBuffer[160];
int32_t logBytes = 0; // bytes written so far

void WriteRaw(const char* text, int32_t length) {
    DWORD written = 0;
    if (!WriteFile(logFile, text, static_cast<DWORD>(length), &written, nullptr)) {
        // A log that fails is dropped; the outputs never depend on it.
        CloseLog();
        return;
    }
    logBytes += length;
}

} // namespace

bool PathWithExtension(const char* path, const char* extension, char* out) {
    const char* dot = std::strrchr(path, '.');
    const size_t kept = dot != nullptr ? static_cast<size_t>(dot - path) : 0;
    const size_t extensionSize = std::strlen(extension) + 1;
    if (kept + extensionSize > MAX_PATH) {
        return false;
    }
    std::memmove(out, path, kept);
    std::memcpy(out + kept, extension, extensionSize);
    return true;
}

void OpenLog(const char* iniPath) {
    char path[MAX_PATH];
    if (!PathWithExtension(iniPath, kLogExtension, path)) {
        return;
    }
    logFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    logBytes = 0;
}

void CloseLog(void) {
    if (logFile != INVALID_HANDLE_VALUE) {
        CloseHandle(logFile);
        logFile = INVALID_HANDLE_VALUE;
    }
}

void LogLine(const char* format, ...) {
    if (logFile == INVALID_HANDLE_VALUE) {
        return;
    }
    const DWORD sinceLoad = GetTickCount() - loadTick;
    int32_t length =
        std::snprintf(lineBuffer, kLineSize, "%5u.%03u ", static_cast<unsigned>(sinceLoad / kMsPerSecond),
                      static_cast<unsigned>(sinceLoad % kMsPerSecond));
    va_list arguments;
    va_start(arguments, format);
    const int text =
        std::vsnprintf(lineBuffer + length, static_cast<size_t>(kLineSize - 2 - length), format, arguments);
    va_end(arguments);
    length = text < 0 ? length : length + text;
    if (length > kLineSize - 3) {
        length = kLineSize - 3; // cut, keeping room for the line end
    }
    std::memcpy(lineBuffer + length, "\r\n", 2);
    length += 2;
    if (logBytes + length > kLogCapBytes - static_cast<int32_t>(sizeof kFullLine - 1)) {
        WriteRaw(kFullLine, static_cast<int32_t>(sizeof kFullLine - 1));
        CloseLog();
        return;
    }
    WriteRaw(lineBuffer, length);
}

void TallyText(OutputTally* tally, const char* kind, const char* name, const char* verb, int32_t length) {
    if (tally->texts++ == 0) {
        LogLine("%s %s: first text %s (%d bytes)", kind, name, verb, static_cast<int>(length));
    }
    tally->bytes += static_cast<uint32_t>(length);
}

void TallyFailure(OutputTally* tally, const char* kind, const char* name, const char* what, DWORD error) {
    if (tally->failures++ == 0) {
        LogLine("%s %s: %s: %s; later failures are only counted", kind, name, what, ErrorText(error));
    }
}

const char* ErrorText(DWORD error) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, errorBuffer, sizeof errorBuffer, nullptr);
    size_t end = length;
    // The system's text ends with a full stop and a line end.
    while (end > 0 && (errorBuffer[end - 1] == '\r' || errorBuffer[end - 1] == '\n' ||
                       errorBuffer[end - 1] == ' ' || errorBuffer[end - 1] == '.')) {
        --end;
    }
    if (end == 0) {
        std::snprintf(errorBuffer, sizeof errorBuffer, "error %u", static_cast<unsigned>(error));
    } else {
        std::snprintf(errorBuffer + end, sizeof errorBuffer - end, " (error %u)",
                      static_cast<unsigned>(error));
    }
    return errorBuffer;
}
