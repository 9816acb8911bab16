// The Win32 subset of src/platform/win32.h, played by the test: answers come from standin::S(), every call
// that matters to the module's behaviour is logged as one line.
#include "win32_standin.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "module_state.h"

namespace standin {

const HANDLE kDeviceHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EA1));

namespace {

struct ThreadRecord {
    std::thread thread;
};

std::recursive_mutex lock;
std::vector<std::string> callLog;
std::vector<ThreadRecord*> liveThreads;
// path -> section -> lower-case key -> (key as written, value)
std::map<std::string, std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>>>
    profiles;
Script script;
thread_local DWORD lastError = 0;

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    if (!script.record) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::recursive_mutex> guard(lock);
    callLog.emplace_back(line);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

ThreadRecord* FindThread(HANDLE handle) {
    for (ThreadRecord* record : liveThreads) {
        if (record == handle) {
            return record;
        }
    }
    return nullptr;
}

const char* HandleName(HANDLE handle) {
    if (handle == kDeviceHandle) {
        return "device";
    }
    if (handle == nullptr) {
        return "null";
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return "invalid";
    }
    return "thread";
}

Result NextResult(std::deque<Result>& queue) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (queue.empty()) {
        return Result{TRUE, 0};
    }
    Result result = queue.front();
    queue.pop_front();
    return result;
}

// Copies text as the Win32 string getters do: at most size - 1 characters and a terminator.
int CopyOut(const std::string& text, char* buffer, int size) {
    if (size <= 0) {
        return 0;
    }
    size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

void JoinAllThreads() {
    std::vector<ThreadRecord*> threads;
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        threads.swap(liveThreads);
    }
    for (ThreadRecord* record : threads) {
        if (record->thread.joinable()) {
            record->thread.join();
        }
        delete record;
    }
}

} // namespace

Script& S() {
    return script;
}

void Reset() {
    JoinAllThreads();
    script.~Script();
    new (&script) Script();
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        callLog.clear();
        profiles.clear();
    }
    lastError = 0;
    ResetModuleState();
}

std::vector<std::string> Calls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return callLog;
}

std::vector<std::string> CallsOf(std::initializer_list<const char*> names) {
    std::vector<std::string> selected;
    for (const std::string& line : Calls()) {
        std::string name = line.substr(0, line.find('('));
        for (const char* wanted : names) {
            if (name == wanted) {
                selected.push_back(line);
            }
        }
    }
    return selected;
}

void ClearCalls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    callLog.clear();
}

void SetProfileValue(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    auto& entry = profiles[path][Lower(section)][Lower(key)];
    if (entry.first.empty()) {
        entry.first = key;
    }
    entry.second = value;
}

bool HasProfileValue(const std::string& path, const std::string& section, const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    auto file = profiles.find(path);
    if (file == profiles.end()) {
        return false;
    }
    auto part = file->second.find(Lower(section));
    return part != file->second.end() && part->second.count(Lower(key)) != 0;
}

std::string ProfileValue(const std::string& path, const std::string& section, const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (!HasProfileValue(path, section, key)) {
        return std::string();
    }
    return profiles[path][Lower(section)][Lower(key)].second;
}

std::map<std::string, std::string> ProfileSection(const std::string& path, const std::string& section) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    std::map<std::string, std::string> result;
    for (const auto& item : profiles[path][Lower(section)]) {
        result[item.second.first] = item.second.second;
    }
    return result;
}

} // namespace standin

using standin::Log;
using standin::S;

// kernel32: serial device and overlapped output

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    Log("CreateFileA(%s,0x%X,%u,%u,0x%X)", name, static_cast<unsigned>(access), static_cast<unsigned>(share),
        static_cast<unsigned>(disposition), static_cast<unsigned>(flags));
    (void)security;
    (void)templateFile;
    if (S().failCreateFile || name == nullptr || std::strlen(name) <= 4) {
        SetLastError(2);
        return INVALID_HANDLE_VALUE;
    }
    return standin::kDeviceHandle;
}

BOOL WINAPI SetupComm(HANDLE, DWORD inQueue, DWORD outQueue) {
    Log("SetupComm(%u,%u)", static_cast<unsigned>(inQueue), static_cast<unsigned>(outQueue));
    return TRUE;
}

BOOL WINAPI GetCommState(HANDLE, LPDCB dcb) {
    Log("GetCommState()");
    if (S().failGetCommState) {
        return FALSE;
    }
    *dcb = S().deviceDcb;
    return TRUE;
}

BOOL WINAPI SetCommState(HANDLE, LPDCB dcb) {
    uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const unsigned char*>(dcb) + 8, sizeof flags);
    Log("SetCommState(baud=%u,flags=0x%08X)", static_cast<unsigned>(dcb->BaudRate), flags);
    S().deviceDcb = *dcb;
    return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) {
    Log("GetCommTimeouts()");
    if (S().failGetCommTimeouts) {
        return FALSE;
    }
    *timeouts = S().deviceTimeouts;
    return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) {
    Log("SetCommTimeouts(%u,%u,%u,%u,%u)", static_cast<unsigned>(t->ReadIntervalTimeout),
        static_cast<unsigned>(t->ReadTotalTimeoutMultiplier),
        static_cast<unsigned>(t->ReadTotalTimeoutConstant),
        static_cast<unsigned>(t->WriteTotalTimeoutMultiplier),
        static_cast<unsigned>(t->WriteTotalTimeoutConstant));
    S().deviceTimeouts = *t;
    return TRUE;
}

// Parses "NAME:baud,parity,data,stop" far enough for the tests: the baud figure as written, 8N1.
BOOL WINAPI BuildCommDCBA(LPCSTR mode, LPDCB dcb) {
    Log("BuildCommDCBA(%s)", mode);
    const char* colon = std::strchr(mode, ':');
    if (colon == nullptr) {
        return FALSE;
    }
    dcb->BaudRate = static_cast<DWORD>(std::strtoul(colon + 1, nullptr, 10));
    dcb->ByteSize = 8;
    dcb->Parity = 0;
    dcb->StopBits = 0;
    return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE, DWORD flags) {
    Log("PurgeComm(0x%X)", static_cast<unsigned>(flags));
    return TRUE;
}

BOOL WINAPI EscapeCommFunction(HANDLE, DWORD function) {
    Log("EscapeCommFunction(%u)", static_cast<unsigned>(function));
    return TRUE;
}

BOOL WINAPI ClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT stat) {
    Log("ClearCommError()");
    if (errors != nullptr) {
        *errors = 0;
    }
    if (stat != nullptr) {
        *stat = COMSTAT{};
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    Log("WriteFile(%u%s)", static_cast<unsigned>(length),
        overlapped != nullptr && overlapped->hEvent != nullptr ? ",event" : "");
    (void)file;
    if (S().record) {
        std::lock_guard<std::recursive_mutex> guard(standin::lock);
        S().written.append(static_cast<const char*>(data), length);
    }
    if (S().lineBaud != 0) {
        // A real driver queues a write behind one still on the line; the module must never make it.
        const DWORD now = S().tickCount.load();
        DWORD start = now;
        if (static_cast<int32_t>(now - S().lineFreeTick) < 0) {
            S().writesWhileLineBusy++;
            start = S().lineFreeTick;
        }
        const uint64_t lineMs = (uint64_t{length} * 10 * 1000 + S().lineBaud - 1) / S().lineBaud;
        S().lineFreeTick = start + static_cast<DWORD>(lineMs);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    standin::Result result = standin::NextResult(S().writeResults);
    if (!result.value) {
        SetLastError(result.error);
        return FALSE;
    }
    if (written != nullptr) {
        *written = length;
    }
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD transferred, BOOL wait) {
    Log("GetOverlappedResult(wait=%d)", wait);
    if (S().lineBaud != 0) {
        if (static_cast<int32_t>(S().tickCount.load() - S().lineFreeTick) < 0) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        return TRUE;
    }
    standin::Result result = standin::NextResult(S().overlappedResults);
    if (!result.value) {
        SetLastError(result.error);
        return FALSE;
    }
    if (transferred != nullptr) {
        *transferred = 0;
    }
    return TRUE;
}

DWORD WINAPI GetLastError(void) {
    return standin::lastError;
}

void WINAPI SetLastError(DWORD error) {
    standin::lastError = error;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    Log("CloseHandle(%s)", standin::HandleName(object));
    standin::ThreadRecord* record = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(standin::lock);
        record = standin::FindThread(object);
        if (record != nullptr) {
            auto& live = standin::liveThreads;
            live.erase(std::find(live.begin(), live.end(), record));
        }
    }
    if (record != nullptr) {
        if (record->thread.joinable()) {
            record->thread.join();
        }
        delete record;
    }
    return object != nullptr ? TRUE : FALSE;
}

// kernel32: other

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                                      DWORD size, LPCSTR path) {
    Log("GetPrivateProfileStringA(%s,%s)", section, key);
    std::string text = defaultText != nullptr ? defaultText : "";
    if (standin::HasProfileValue(path, section, key)) {
        text = standin::ProfileValue(path, section, key);
    }
    return static_cast<DWORD>(standin::CopyOut(text, buffer, static_cast<int>(size)));
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR path) {
    Log("WritePrivateProfileStringA(%s,%s,%s)", section, key, text);
    standin::SetProfileValue(path, section, key, text);
    return TRUE;
}

// Windows truncates a path that does not fit, terminates it and returns the buffer size.
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    Log("GetModuleFileNameA(%u)", static_cast<unsigned>(size));
    const std::string& name = S().moduleFileName;
    standin::CopyOut(name, buffer, static_cast<int>(size));
    if (name.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return static_cast<DWORD>(name.size());
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    Log("CreateThread(%u,%u)", static_cast<unsigned>(stackSize), static_cast<unsigned>(flags));
    if (threadId != nullptr) {
        *threadId = 0x99;
    }
    std::lock_guard<std::recursive_mutex> guard(standin::lock);
    if (S().failCreateThread) {
        return nullptr;
    }
    S().threadsCreated++;
    S().lastThreadStart = start;
    if (S().threadMode == standin::ThreadMode::kRecord) {
        return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7100 + S().threadsCreated));
    }
    auto* record = new standin::ThreadRecord;
    record->thread = std::thread([start, parameter] { start(parameter); });
    standin::liveThreads.push_back(record);
    return record;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Log("WaitForSingleObject(%s,%u)", standin::HandleName(object), static_cast<unsigned>(milliseconds));
    standin::ThreadRecord* record = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(standin::lock);
        record = standin::FindThread(object);
    }
    if (record != nullptr && record->thread.joinable()) {
        record->thread.join();
    }
    return WAIT_OBJECT_0;
}

// Sleep(0), a yield, is not logged: shut-down polls with it.
void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds != 0) {
        Log("Sleep(%u)", static_cast<unsigned>(milliseconds));
    }
    if (S().onSleep) {
        S().onSleep(milliseconds);
    } else if (milliseconds == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

DWORD WINAPI GetTickCount(void) {
    return S().tickCount.load();
}

DWORD WINAPI GetCurrentProcessId(void) {
    return S().processId;
}

// user32

static size_t WindowIndex(HWND window) {
    return static_cast<size_t>(reinterpret_cast<uintptr_t>(window)) - 1;
}

BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM parameter) {
    Log("EnumWindows()");
    for (size_t i = 0; i < S().windows.size(); i++) {
        if (!callback(reinterpret_cast<HWND>(static_cast<uintptr_t>(i + 1)), parameter)) {
            return FALSE;
        }
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (processId != nullptr) {
        *processId = S().windows.at(WindowIndex(window)).processId;
    }
    return 1;
}

int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size) {
    Log("GetClassNameA(%u,%d)", static_cast<unsigned>(WindowIndex(window)), size);
    return standin::CopyOut(S().windows.at(WindowIndex(window)).className, buffer, size);
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
    Log("GetWindowTextA(%u,%d)", static_cast<unsigned>(WindowIndex(window)), size);
    return standin::CopyOut(S().windows.at(WindowIndex(window)).title, buffer, size);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC callback) {
    Log("SetTimer(%s,%u,%u)", window == nullptr ? "null" : "window", static_cast<unsigned>(id), period);
    S().lastTimerProc = callback;
    return S().nextTimerId;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    Log("KillTimer(%s,0x%X)", window == nullptr ? "null" : "window", static_cast<unsigned>(id));
    return TRUE;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    // The real function writes at most 1024 characters.
    int count = std::vsnprintf(buffer, 1025, format, args);
    va_end(args);
    return count;
}
