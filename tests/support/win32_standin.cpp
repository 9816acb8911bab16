// The Win32 subset of src/platform/win32.h, played by the test: answers come from standin::S(), every call
// that matters to the module's behaviour is logged as one line.
#include "win32_standin.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "module_state.h"
#include "platform/fpu.h"

namespace standin {

const HANDLE kDeviceHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EA1));
const HANDLE kFileHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xF11E));

namespace {

std::recursive_mutex lock;
std::vector<std::string> callLog;
std::map<std::string, std::map<std::string, std::string>> profiles; // path "|" section -> key -> value
Script script;
thread_local DWORD lastError = 0;

const char* HandleName(HANDLE handle) {
    return handle == nullptr                ? "null"
           : handle == kDeviceHandle        ? "device"
           : handle == kFileHandle          ? "file"
           : handle == INVALID_HANDLE_VALUE ? "invalid"
                                            : "thread";
}

// Sockets: 0x500 + n for those the module makes, 0x600 + i for client i.
constexpr SOCKET kFirstSocket = 0x500;
constexpr SOCKET kFirstClient = 0x600;
SOCKET nextSocket = kFirstSocket;
// What each socket the module made is bound and connected to, and the refusal it has to report. Fixed
// storage: sockets made while the module runs allocate nothing.
struct SocketState {
    uint16_t boundPort;
    char connectedTo[24];
    bool refusalPending;
    bool broadcast; // SO_BROADCAST set
};
SocketState socketStates[kFirstClient - kFirstSocket];
thread_local int lastSocketError = 0;
constexpr int kHostUnreachable = 10065;

// Sockets and handles given out and not yet closed (0: a free place), without allocating.
uintptr_t givenOut[128];

// Gives out a value (from 0) or takes it back (to 0). Closing what was never given out, or closing it twice,
// is the module's fault: it ends the run, whatever the test.
uintptr_t Exchange(uintptr_t from, uintptr_t to, const char* call) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    uintptr_t* place = std::find(std::begin(givenOut), std::end(givenOut), from);
    if (place == std::end(givenOut) || from == to) {
        std::fprintf(stderr, "stand-in fault: %s of what was never given out, or closed already\n", call);
        std::abort();
    }
    return *place = to;
}

// "127.0.0.1:10110" into text (24 bytes), without allocating: sockets are made while the module runs too.
void AddressText(const sockaddr* address, char* text) {
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(address);
    const unsigned char* ip = reinterpret_cast<const unsigned char*>(&in->sin_addr.s_addr);
    const unsigned char* port = reinterpret_cast<const unsigned char*>(&in->sin_port);
    std::snprintf(text, sizeof SocketState::connectedTo, "%u.%u.%u.%u:%u", ip[0], ip[1], ip[2], ip[3],
                  port[0] << 8 | port[1]);
}

// Writes "a.b.c.d:port" into a socket address, both most significant byte first.
void PutAddress(const char* text, sockaddr* address, int* length) {
    unsigned part[5] = {};
    std::sscanf(text, "%u.%u.%u.%u:%u", &part[0], &part[1], &part[2], &part[3], &part[4]);
    const unsigned char bytes[6] = {
        static_cast<unsigned char>(part[4] >> 8), static_cast<unsigned char>(part[4]),
        static_cast<unsigned char>(part[0]),      static_cast<unsigned char>(part[1]),
        static_cast<unsigned char>(part[2]),      static_cast<unsigned char>(part[3])};
    sockaddr_in* in = reinterpret_cast<sockaddr_in*>(address);
    *in = sockaddr_in{};
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_port, bytes, 2);
    std::memcpy(&in->sin_addr.s_addr, bytes + 2, 4);
    *length = sizeof(sockaddr_in);
}

SocketState& StateOf(SOCKET s) {
    return socketStates[(s - kFirstSocket) % (kFirstClient - kFirstSocket)];
}

Client* ClientOf(SOCKET s) {
    return s >= kFirstClient && s < kFirstClient + S().clients.size() ? &S().clients[s - kFirstClient]
                                                                      : nullptr;
}

// Counted only inside a frame, which just the simulated runs mark; the real-thread test's threads never
// write it.
void NoteWaitInFrame() {
    if (script.inFrame) {
        script.waitsInFrame++;
    }
}

int SocketFails(int error) {
    lastSocketError = error;
    return SOCKET_ERROR;
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
    size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

} // namespace

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

Script& S() {
    return script;
}

HANDLE Opened(HANDLE handle) {
    return reinterpret_cast<HANDLE>(Exchange(0, reinterpret_cast<uintptr_t>(handle), "open"));
}

void Reset() {
    script.~Script();
    new (&script) Script();
    nextSocket = kFirstSocket;
    std::memset(socketStates, 0, sizeof socketStates);
    std::memset(givenOut, 0, sizeof givenOut);
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        callLog.clear();
        profiles.clear();
    }
    lastError = 0;
    ResetModuleState();
    // Tests call the module's inner functions on their own thread, which then plays the module's threads
    // and computes as they do (the Windows C runtime starts programs in 64-bit x87 precision).
    SetThreadFpu();
}

std::vector<std::string> Calls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return callLog;
}

std::vector<std::string> CallsOf(std::initializer_list<const char*> names) {
    std::vector<std::string> selected;
    for (const std::string& line : Calls()) {
        for (const char* wanted : names) {
            if (line.substr(0, line.find('(')) == wanted) {
                selected.push_back(line);
            }
        }
    }
    return selected;
}

std::string Written() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return script.written;
}

int CountCalls(const std::string& line) {
    const std::vector<std::string> calls = Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), line));
}

void ClearCalls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    callLog.clear();
}

DWORD Elapse(DWORD ms) {
    const DWORD stall = script.tickCount >= script.stall.first ? std::exchange(script.stall.second, 0) : 0;
    // Exact: a tick of 1 us. Coarse: the clock stays on a tick, so a yield (0 ms) ends at once.
    const uint64_t tick = script.timerTickUs != 0 ? script.timerTickUs : 1;
    script.clockUs = (script.clockUs + (ms + stall) * uint64_t{1000} + tick - 1) / tick * tick;
    return script.tickCount = static_cast<DWORD>(script.clockUs / 1000);
}

void SetProfileValue(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    profiles[path + "|" + section][key] = value;
}

std::map<std::string, std::string> ProfileSection(const std::string& path, const std::string& section) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    const auto found = profiles.find(path + "|" + section);
    return found != profiles.end() ? found->second : std::map<std::string, std::string>();
}

} // namespace standin

using standin::Log;
using standin::S;

// kernel32: serial device and overlapped output

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
    Log("CreateFileA(%s,0x%X,%u,%u,0x%X)", name, static_cast<unsigned>(access), static_cast<unsigned>(share),
        static_cast<unsigned>(disposition), static_cast<unsigned>(flags));
    if (std::strncmp(name, "\\\\.\\", 4) != 0) {
        if (S().failLogFile) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        S().logPath = name;
        S().logText.clear();
        return standin::Opened(standin::kFileHandle);
    }
    if (S().failCreateFile || std::strlen(name) <= 4) {
        SetLastError(S().createFileError);
        return INVALID_HANDLE_VALUE;
    }
    return standin::Opened(standin::kDeviceHandle);
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
    dcb->BaudRate = static_cast<DWORD>(std::strtoul(std::strchr(mode, ':') + 1, nullptr, 10));
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
    *errors = 0;
    *stat = COMSTAT{};
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    standin::NoteWaitInFrame();
    if (file == standin::kFileHandle) {
        if (--S().failLogWrite == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (S().record) {
            std::lock_guard<std::recursive_mutex> guard(standin::lock);
            S().logText.append(static_cast<const char*>(data), length);
        }
        *written = length;
        return TRUE;
    }
    if (S().onSend) {
        S().onSend();
    }
    Log("WriteFile(%u%s)", static_cast<unsigned>(length),
        overlapped != nullptr && overlapped->hEvent != nullptr ? ",event" : "");
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
        if (S().record) {
            S().lineBuffer = static_cast<const char*>(data);
            S().lineBufferCopy.assign(S().lineBuffer, length);
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
    *written = length;
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD transferred, BOOL wait) {
    Log("GetOverlappedResult(wait=%d)", wait);
    const standin::Result result =
        S().lineBaud == 0
            ? standin::NextResult(S().overlappedResults)
            : standin::Result{static_cast<int32_t>(S().tickCount.load() - S().lineFreeTick) >= 0,
                              ERROR_IO_INCOMPLETE};
    if (!result.value) {
        SetLastError(result.error);
        return FALSE;
    }
    if (S().lineBuffer != nullptr) {
        const std::string& sent = S().lineBufferCopy;
        S().buffersChangedOnTheLine += std::memcmp(S().lineBuffer, sent.data(), sent.size()) != 0 ? 1 : 0;
        S().lineBuffer = nullptr;
    }
    *transferred = 0;
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
    standin::Exchange(reinterpret_cast<uintptr_t>(object), 0, "CloseHandle");
    return TRUE;
}

// kernel32: other

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                                      DWORD size, LPCSTR path) {
    Log("GetPrivateProfileStringA(%s,%s)", section, key);
    const std::map<std::string, std::string> values = standin::ProfileSection(path, section);
    const auto found = values.find(key);
    const std::string text = found != values.end() ? found->second : defaultText;
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

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID,
                           DWORD flags, LPDWORD threadId) {
    Log("CreateThread(%u,%u)", static_cast<unsigned>(stackSize), static_cast<unsigned>(flags));
    *threadId = 0x99;
    std::lock_guard<std::recursive_mutex> guard(standin::lock);
    if (S().failCreateThread) {
        return nullptr;
    }
    S().threadsCreated++;
    S().lastThreadStart = start;
    return standin::Opened(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7100 + S().threadsCreated)));
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    standin::NoteWaitInFrame();
    Log("WaitForSingleObject(%s,%u)", standin::HandleName(object), static_cast<unsigned>(milliseconds));
    return WAIT_OBJECT_0;
}

// Sleep(0), a yield, is not logged: shut-down polls with it.
void WINAPI Sleep(DWORD milliseconds) {
    standin::NoteWaitInFrame();
    if (milliseconds != 0) {
        Log("Sleep(%u)", static_cast<unsigned>(milliseconds));
    }
    if (S().onSleep) {
        S().onSleep(milliseconds);
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

// user32: window n of S().windows has the handle n + 1.

static const standin::Window& WindowOf(HWND window) {
    return S().windows.at(static_cast<size_t>(reinterpret_cast<uintptr_t>(window)) - 1);
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
    *processId = WindowOf(window).processId;
    return 1;
}

int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size) {
    return standin::CopyOut(WindowOf(window).className, buffer, size);
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
    return standin::CopyOut(WindowOf(window).title, buffer, size);
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

DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD error, DWORD, LPSTR buffer, DWORD size, va_list*) {
    return static_cast<DWORD>(
        std::snprintf(buffer, size, "System text %u.\r\n", static_cast<unsigned>(error)));
}

// ws2_32

int WINAPI WSAStartup(WORD version, LPWSADATA) {
    Log("WSAStartup(0x%X)", version);
    return 0;
}

int WINAPI WSACleanup(void) {
    Log("WSACleanup()");
    return 0;
}

int WINAPI WSAGetLastError(void) {
    return standin::lastSocketError;
}

SOCKET WINAPI socket(int family, int type, int protocol) {
    Log("socket(%d,%d,%d)", family, type, protocol);
    S().openSockets++;
    standin::StateOf(standin::nextSocket) = standin::SocketState{};
    return standin::Exchange(0, standin::nextSocket++, "socket");
}

int WINAPI closesocket(SOCKET s) {
    Log("closesocket(0x%X)", static_cast<unsigned>(s));
    standin::Exchange(s, 0, "closesocket");
    if (standin::Client* client = standin::ClientOf(s)) {
        client->closedAt = S().tickCount;
    }
    S().openSockets--;
    return 0;
}

int WINAPI ioctlsocket(SOCKET, long command, u_long* argument) {
    Log("ioctlsocket(%s,%u)", command == FIONBIO ? "FIONBIO" : "?", static_cast<unsigned>(*argument));
    return 0;
}

int WINAPI setsockopt(SOCKET s, int level, int name, const char*, int) {
    Log("setsockopt(%d,0x%X)", level, static_cast<unsigned>(name));
    standin::StateOf(s).broadcast |= name == SO_BROADCAST;
    return 0;
}

int WINAPI bind(SOCKET s, const struct sockaddr* address, int) {
    char where[sizeof standin::SocketState::connectedTo];
    standin::AddressText(address, where);
    Log("bind(%s)", where);
    const uint16_t port = static_cast<uint16_t>(std::atoi(std::strchr(where, ':') + 1));
    standin::StateOf(s).boundPort = port;
    const std::vector<uint16_t>& busy = S().busyPorts;
    return std::find(busy.begin(), busy.end(), port) != busy.end() ? standin::SocketFails(WSAEADDRINUSE) : 0;
}

int WINAPI connect(SOCKET s, const struct sockaddr* address, int) {
    standin::AddressText(address, standin::StateOf(s).connectedTo);
    Log("connect(%s)", standin::StateOf(s).connectedTo);
    return 0;
}

int WINAPI listen(SOCKET, int backlog) {
    Log("listen(%d)", backlog);
    return 0;
}

SOCKET WINAPI accept(SOCKET, struct sockaddr* address, int* length) {
    for (size_t i = 0; i < S().clients.size(); ++i) {
        standin::Client& client = S().clients[i];
        if (client.acceptedAt != standin::kNever || client.connectAt > S().tickCount) {
            continue;
        }
        client.acceptedAt = S().tickCount;
        Log("accept(%u)", client.port);
        char peer[sizeof standin::SocketState::connectedTo];
        std::snprintf(peer, sizeof peer, "127.0.0.1:%u", client.port);
        standin::PutAddress(peer, address, length);
        S().openSockets++;
        return standin::Exchange(0, standin::kFirstClient + i, "accept");
    }
    standin::SocketFails(WSAEWOULDBLOCK);
    return INVALID_SOCKET;
}

namespace standin {

// A datagram to the connected destination; a refusal reported first is consumed instead, as Linux does. As
// Windows and Linux do, a socket without SO_BROADCAST may not send to a broadcast address.
int SendDatagram(SOCKET s, const char* data, int length) {
    if (!S().record) {
        return length;
    }
    SocketState& state = StateOf(s);
    if (state.refusalPending && S().refusalError == WSAECONNREFUSED) {
        state.refusalPending = false;
        return SocketFails(WSAECONNREFUSED);
    }
    const std::string to = state.connectedTo;
    const auto isBroadcast = [&to](const std::string& b) { return to.compare(0, b.size(), b) == 0; };
    if (!state.broadcast && std::any_of(S().broadcasts.begin(), S().broadcasts.end(), isBroadcast)) {
        return SocketFails(10013); // WSAEACCES
    }
    const std::vector<std::string>& unreachable = S().unreachable;
    if (std::find(unreachable.begin(), unreachable.end(), to) != unreachable.end()) {
        return SocketFails(kHostUnreachable);
    }
    const std::vector<std::string>& refusing = S().refusing;
    state.refusalPending = std::find(refusing.begin(), refusing.end(), to) != refusing.end();
    std::lock_guard<std::recursive_mutex> guard(lock);
    S().datagrams.push_back({to, std::string(data, static_cast<size_t>(length)), S().tickCount});
    return length;
}

} // namespace standin

int WINAPI send(SOCKET s, const char* data, int length, int) {
    if (S().onSend) {
        S().onSend();
    }
    standin::Client* client = standin::ClientOf(s);
    if (client == nullptr) {
        return standin::SendDatagram(s, data, length);
    }
    if (client->sendError != 0) {
        return standin::SocketFails(client->sendError);
    }
    const int taken = client->sendLimit < 0 ? length : std::min(length, client->sendLimit);
    if (taken == 0) {
        return standin::SocketFails(WSAEWOULDBLOCK);
    }
    if (S().record) {
        client->received.append(data, static_cast<size_t>(taken));
    }
    return taken;
}

int WINAPI recv(SOCKET s, char* data, int length, int) {
    standin::Client* client = standin::ClientOf(s);
    if (client == nullptr) {
        standin::SocketState& state = standin::StateOf(s);
        const bool refused = state.refusalPending;
        state.refusalPending = false;
        return standin::SocketFails(refused ? S().refusalError : WSAEWOULDBLOCK);
    }
    if (client->hangsUp) {
        return 0;
    }
    if (client->input.empty() || client->input.begin()->first > S().tickCount) {
        return standin::SocketFails(WSAEWOULDBLOCK);
    }
    std::string& chunk = client->input.begin()->second;
    const size_t taken = std::min(chunk.size(), static_cast<size_t>(length));
    std::memcpy(data, chunk.data(), taken);
    chunk.erase(0, taken);
    if (chunk.empty()) {
        client->input.erase(client->input.begin());
    }
    return static_cast<int>(taken);
}

// Hands out the next datagram for the socket's port, as Windows does: one longer than the buffer is cut to
// it and reported with WSAEMSGSIZE.
int WINAPI recvfrom(SOCKET s, char* data, int length, int, struct sockaddr* from, int* fromLength) {
    for (standin::Incoming& incoming : S().incoming) {
        if (incoming.taken || incoming.port != standin::StateOf(s).boundPort || incoming.at > S().tickCount) {
            continue;
        }
        incoming.taken = true;
        standin::PutAddress(incoming.from.c_str(), from, fromLength);
        const size_t taken = std::min(incoming.bytes.size(), static_cast<size_t>(length));
        std::memcpy(data, incoming.bytes.data(), taken);
        return taken < incoming.bytes.size() ? standin::SocketFails(WSAEMSGSIZE) : static_cast<int>(taken);
    }
    return standin::SocketFails(WSAEWOULDBLOCK);
}
