// The scriptable Win32 stand-in behind src/platform/win32.h for the unit tests: it records the calls the
// module makes, as readable lines, and answers them as the test has scripted.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace standin {

// The handles CreateFileA gives for the serial device and for any other file (the log).
extern const HANDLE kDeviceHandle;
extern const HANDLE kFileHandle;

// A tick that never comes.
constexpr DWORD kNever = 0xFFFFFFFF;

// A client of the module's TCP server, in the order the clients connect.
struct Client {
    uint16_t port = 50000;              // at 127.0.0.1
    DWORD connectAt = 0;                // tickCount from which accept hands it out
    int sendLimit = -1;                 // bytes a send takes: -1 all, 0 none (its buffer is full), n a part
    int sendError = 0;                  // non-zero: every send fails with this error
    std::map<DWORD, std::string> input; // what the client sends the module, by the tick it arrives at
    bool hangsUp = false;               // recv says the client has closed its end
    std::string received;               // what the module sent it
    DWORD acceptedAt = kNever;          // the tick accept took it at
    DWORD closedAt = kNever;            // the tick the module closed it at
};

struct Datagram {
    std::string to; // "127.0.0.1:10110"
    std::string bytes;
    DWORD at; // the tick it was sent at
};

// A datagram that arrives at the module's socket bound to `port`, from `from`, once tickCount reaches `at`.
struct Incoming {
    uint16_t port;
    std::string from; // "192.168.1.23:5555"
    std::string bytes;
    DWORD at = 0;
    bool taken = false; // handed out by recvfrom
};

struct Window {
    DWORD processId;
    std::string className; // empty: GetClassNameA fails
    std::string title;
};

struct Result {
    BOOL value;
    DWORD error; // last error set when value is 0
};

// Everything a test can script and inspect. Reset() restores these defaults.
struct Script {
    std::string moduleFileName = "C:\\Sim\\Modules\\Waypost.dll"; // truncated as Windows does
    DWORD processId = 0x1234;
    std::vector<Window> windows; // EnumWindows order
    bool failCreateFile = false;
    DWORD createFileError = ERROR_FILE_NOT_FOUND; // the last error when the device does not open
    bool failGetCommState = false;
    bool failGetCommTimeouts = false;
    DCB deviceDcb{};                      // what GetCommState reads and SetCommState writes
    COMMTIMEOUTS deviceTimeouts{};        // likewise for the time-outs
    std::deque<Result> writeResults;      // WriteFile answers in turn; when empty: finished at once
    std::deque<Result> overlappedResults; // GetOverlappedResult answers in turn; when empty: finished
    UINT_PTR nextTimerId = 0x7001;        // 0: SetTimer fails
    bool failCreateThread = false;
    std::function<void(DWORD)> onSleep; // called by Sleep instead of sleeping, when set
    std::function<void()> onSend;       // called at each send, serial write and relay hand-over, when set
    std::atomic<DWORD> tickCount{0};    // GetTickCount
    // Non-zero: a coarse system timer ticking every this many microseconds (15625 as Windows by default): a
    // sleep through Elapse ends on the first tick at or after its time, and tickCount reads the last tick's
    // whole milliseconds (0, 15, 31, 46, 62, ...). Zero: a sleep lasts exactly what it asks.
    uint32_t timerTickUs = 0;
    uint64_t clockUs = 0; // the time tickCount reads, in microseconds
    // From tick `first` (> 0) on, the first sleep through Elapse lasts `second` ms longer (then 0): a stall.
    std::pair<DWORD, DWORD> stall{0, 0};
    // Non-zero: the device is a serial line of this many baud (10 bits a byte). Every write stays in
    // progress until its bytes' line time has passed on tickCount; writeResults and overlappedResults are
    // then not used.
    DWORD lineBaud = 0;
    bool record = true;       // false: calls are not logged nor bytes kept, so answering allocates nothing
    bool inFrame = false;     // set by a test around its frame hook calls
    bool failLogFile = false; // CreateFileA fails for files other than the device
    int failLogWrite = 0;     // the write to the log file that fails, counted from 1; 0: none
    std::string logText;      // every byte written to the log file
    std::string logPath;      // the file CreateFileA created last

    // Winsock
    std::vector<uint16_t> busyPorts;      // bind fails with WSAEADDRINUSE on these
    std::vector<Client> clients;          // accept hands out those not yet accepted, in order
    std::vector<std::string> unreachable; // a send to these ("127.0.0.1:9") fails
    // Nothing listens at these: a datagram sent there makes the socket report the answer with refusalError,
    // as Linux does (WSAECONNREFUSED: its next recv or send fails) or as Windows does (WSAECONNRESET: its
    // next recv fails); the datagram is still counted as sent.
    std::vector<std::string> refusing;
    int refusalError = WSAECONNREFUSED;
    // Broadcast addresses, each with the colon before a port: a socket without SO_BROADCAST cannot send there
    // (WSAEACCES).
    std::vector<std::string> broadcasts = {"255.255.255.255:"};
    std::vector<Incoming> incoming;  // what recvfrom hands out
    std::vector<Datagram> datagrams; // every datagram sent
    int openSockets = 0;             // made or accepted and not yet closed

    std::string written;                              // every byte handed to WriteFile, in order
    TIMERPROC lastTimerProc = nullptr;                // the procedure of the last SetTimer
    LPTHREAD_START_ROUTINE lastThreadStart = nullptr; // CreateThread's routine, which the test runs itself
    int threadsCreated = 0;
    DWORD lineFreeTick = 0;      // lineBaud: the tick at which the last byte written has left
    int writesWhileLineBusy = 0; // lineBaud: writes started while an earlier one was still on the line
    // lineBaud: the buffer of the write on the line, as it was handed over; a write whose buffer changed
    // before it finished sent other bytes than those recorded.
    const char* lineBuffer = nullptr;
    std::string lineBufferCopy;
    int buffersChangedOnTheLine = 0;
    int waitsInFrame = 0; // Sleep, WaitForSingleObject or WriteFile calls while inFrame
};

Script& S();

// Marks a handle as given out, as if the module had opened it, so that the module may close it; returns it.
// Closing a socket or handle that was never given out, or closing it twice, ends the run as a fault.
HANDLE Opened(HANDLE handle);

// Clears the call log and the INI files, restores every script default and the module's process-wide state
// to its load values (as if the library had just been loaded), and sets the module's floating-point state
// on the calling thread.
void Reset();

// Adds a line to the call log (the fake host logs its services' calls there too); nothing while not
// recording.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The call log, one line per call, such as "PurgeComm(0xF)"; safe to read while threads run.
std::vector<std::string> Calls();
// Only the lines whose function name is one of the names given.
std::vector<std::string> CallsOf(std::initializer_list<const char*> names);
// Every byte handed to WriteFile so far; safe to read while threads run.
std::string Written();
// How often the log holds this exact line.
int CountCalls(const std::string& line);
void ClearCalls();

// A sleep of ms on the scripted timer, for the simulated runs' sleeps: advances the clock and returns
// tickCount.
DWORD Elapse(DWORD ms);

// INI files, by path and section.
void SetProfileValue(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value);
std::map<std::string, std::string> ProfileSection(const std::string& path, const std::string& section);

} // namespace standin
