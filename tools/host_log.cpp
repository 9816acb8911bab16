#include "host_log.h"

#include <cstdarg>
#include <cstring>

#include "platform/win32.h"

namespace {

FILE* logFile = nullptr;
CRITICAL_SECTION outputLock; // console and log, shared by the host's thread and the relay caller
bool lockReady = false;
LARGE_INTEGER counterStart;
LARGE_INTEGER counterFrequency;

struct LockGuard {
    LockGuard() {
        EnterCriticalSection(&outputLock);
    }
    ~LockGuard() {
        LeaveCriticalSection(&outputLock);
    }
};

void EnsureLock() {
    if (!lockReady) {
        InitializeCriticalSection(&outputLock);
        QueryPerformanceFrequency(&counterFrequency);
        QueryPerformanceCounter(&counterStart);
        lockReady = true;
    }
}

} // namespace

bool OpenHostLog(const char* path) {
    EnsureLock();
    if (path == nullptr || path[0] == '\0') {
        return true;
    }
    logFile = std::fopen(path, "wb");
    return logFile != nullptr;
}

void CloseHostLog(void) {
    LockGuard guard;
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

double HostSeconds(void) {
    EnsureLock();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - counterStart.QuadPart) /
           static_cast<double>(counterFrequency.QuadPart);
}

void Say(const char* format, ...) {
    EnsureLock();
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    LockGuard guard;
    std::fputs("[host] ", stdout);
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout); // the C runtime buffers a pipe fully; tests and the demo read as it runs
}

void SayRaw(const char* text) {
    EnsureLock();
    LockGuard guard;
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void LogRecord(const char* kind, const char* format, ...) {
    EnsureLock();
    const double seconds = HostSeconds();
    static char fields[16384]; // under the lock only
    LockGuard guard;
    if (logFile == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(fields, sizeof fields, format, arguments);
    va_end(arguments);
    std::fprintf(logFile, "{\"t\":%.4f,\"kind\":\"%s\"%s}\n", seconds, kind, fields);
    std::fflush(logFile); // a crash of the module must not take the record with it
}

size_t JsonString(char* out, size_t size, const char* text, size_t length) {
    size_t used = 0;
    auto put = [&](const char* piece) {
        const size_t pieceLength = std::strlen(piece);
        if (used + pieceLength < size) {
            std::memcpy(out + used, piece, pieceLength);
            used += pieceLength;
        }
    };
    put("\"");
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char piece[8];
        if (c == '"' || c == '\\') {
            piece[0] = '\\';
            piece[1] = static_cast<char>(c);
            piece[2] = '\0';
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(piece, sizeof piece, "\\u%04x", c);
        } else {
            piece[0] = static_cast<char>(c);
            piece[1] = '\0';
        }
        put(piece);
    }
    put("\"");
    out[used] = '\0';
    return used;
}
