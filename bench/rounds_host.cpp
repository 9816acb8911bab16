// waypost-rounds: loads, starts, runs, stops and unloads the module many times in one process and checks
// that nothing is left behind: no thread, no handle, no hook, no timer, no relay send after shut-down. A
// round is quick because the module's own import of SetTimer is redirected to one that shortens the start
// delay; everything else is the real module calling the real platform.
//
// usage: waypost-rounds DLL [--rounds N] [--port COMn] [--network PORT]
//   every round loads DLL (its INI beside it is rewritten per round), starts it, lets the start timer
//   register the frame hook, calls the hook at 200 Hz for 0.6 s (interval 100 ms: about three texts),
//   shuts down and unloads. With --port, odd rounds write to that serial port instead of the relay. With
//   --network, every output runs as well, on loopback: a TCP server at PORT, to which this program connects a
//   client each round that must see its connection closed at the unload, and UDP, EFB and GDL 90 datagrams
//   to PORT + 1, + 2 and + 3; and the module writes its log.
// Prints "[rounds]" lines and a last line "[rounds] summary: key=value ..."; exit status 0 when nothing was
// left behind.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

#include "host/host_interface.h"
#include "thread_count.h"

namespace {

constexpr UINT kFastStartMs = 10; // instead of the module's 25 s start delay
constexpr DWORD kRunMs = 600;     // frames per round after the hook is registered
constexpr DWORD kFrameMs = 5;     // 200 frames a second
constexpr size_t kGlobalDataBytes = 0x1200;
constexpr uint32_t kGroundSpeedWord = 759000; // 22.45 knots in 1/65536 m/s

uintptr_t hookTable[kHookRemoveEntry + 1];
uintptr_t variableTable[kVariableReadEntry + 1];
unsigned char globalData[kGlobalDataBytes];
unsigned char relayRecord[kRelaySendOffset + 4];
FrameHookEntry registeredHook;
bool moduleStopped;
volatile LONG relayTexts;
long anomalies;
UINT_PTR(WINAPI* realSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);

void Anomaly(const char* what, int round) {
    ++anomalies;
    std::printf("[rounds] anomaly in round %d: %s\n", round, what);
}

void WINAPI HookRegister(DWORD, FrameHookEntry hook) {
    registeredHook = hook;
}
void WINAPI HookRemove(DWORD, FrameHookEntry hook) {
    if (hook == registeredHook) {
        registeredHook = nullptr;
    }
}
void WINAPI VariableRegister(HostVariableRequest*) {}
// A position over Munich at noon on 23 March 1994; every other variable 0.
void WINAPI VariableRead(HostVariableRequest* request) {
    switch (request->id) {
    case 0x47:
        request->value = 5345916.0;
        break;
    case 0x48:
        request->value = 9003240000000.0;
        break;
    case 0x06:
        request->value = 12.0;
        break;
    case 0x09:
        request->value = 1994.0;
        break;
    case 0x08:
        request->value = 81.0;
        break;
    default:
        request->value = 0.0;
    }
}
void WINAPI RelaySend(DWORD, const char*, DWORD) {
    if (moduleStopped) {
        Anomaly("relay send after shut-down", -1);
    }
    InterlockedIncrement(&relayTexts);
}

UINT_PTR WINAPI FastSetTimer(HWND window, UINT_PTR id, UINT, TIMERPROC procedure) {
    return realSetTimer(window, id, kFastStartMs, procedure);
}

// Points the module's import of user32's SetTimer at FastSetTimer.
bool ShortenStartDelay(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    realSetTimer = reinterpret_cast<decltype(realSetTimer)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetTimer")));
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
             slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != reinterpret_cast<uintptr_t>(realSetTimer)) {
                continue;
            }
            DWORD protection;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
            slot->u1.Function = reinterpret_cast<uintptr_t>(&FastSetTimer);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

// A client of the module's TCP server; INVALID_SOCKET when it cannot connect.
SOCKET ConnectClient(u_short port) {
    const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(client);
        return INVALID_SOCKET;
    }
    return client;
}

// Reads what the module sent until the connection ends; false when it is still open after two seconds.
bool ClosedByModule(SOCKET client) {
    const DWORD timeoutMs = 2000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    char data[4096];
    int received;
    while ((received = recv(client, data, sizeof data, 0)) > 0) {
    }
    const bool closed = received == 0 || WSAGetLastError() == WSAECONNRESET;
    closesocket(client);
    return closed;
}

long HandleCount() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<long>(count) : -1;
}

// The value of a handle made now: the lowest free slot of the handle table under Wine, which creeps up as
// leaked handles fill the slots below it (Wine's handle count itself always reads 0).
long FreeHandleSlot() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return static_cast<long>(reinterpret_cast<uintptr_t>(probe));
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// Dispatches what the queue holds; a timer message after the unload would land in freed code.
void PumpMessages(int round, bool unloaded) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_TIMER && unloaded) {
            Anomaly("timer message after the module was unloaded", round);
            continue;
        }
        DispatchMessageA(&message);
    }
}

void FillImports(ServiceImport* table) {
    for (int row = 0; table[row].id != 0; ++row) {
        void* pointer = nullptr;
        switch (table[row].id) {
        case kServiceHook:
            pointer = hookTable;
            break;
        case kServiceGlobalData:
            pointer = globalData;
            break;
        case kServiceVariables:
            pointer = variableTable;
            break;
        case kServiceRelay:
            pointer = relayRecord;
            break;
        default:
            break; // the older hook service and the relay peer are left out
        }
        table[row].pointer = pointer;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: waypost-rounds DLL [--rounds N] [--port COMn]\n");
        return 1;
    }
    int rounds = 100;
    const char* port = nullptr;
    int network = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--port") == 0) {
            port = argv[i + 1];
        } else if (std::strcmp(argv[i], "--network") == 0) {
            network = std::atoi(argv[i + 1]);
        }
    }
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    char dll[MAX_PATH];
    GetFullPathNameA(argv[1], sizeof dll, dll, nullptr);
    char ini[MAX_PATH];
    std::snprintf(ini, sizeof ini, "%s", dll);
    std::strcpy(std::strrchr(ini, '.'), ".ini");
    WritePrivateProfileStringA("Waypost", "Interval", "100", ini);
    WritePrivateProfileStringA("Waypost", "Sentences", "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,AV400,GTEXT", ini);
    if (network != 0) {
        char entries[160];
        std::snprintf(entries, sizeof entries,
                      "tcp:127.0.0.1:%d,udp:127.0.0.1:%d,xgps:127.0.0.1:%d,gdl90:127.0.0.1:%d", network,
                      network + 1, network + 2, network + 3);
        WritePrivateProfileStringA("Waypost", "Network", entries, ini);
        WritePrivateProfileStringA("Waypost", "Log", "Yes", ini);
    }
    int clientsClosed = 0;
    hookTable[kHookRegisterEntry] = reinterpret_cast<uintptr_t>(&HookRegister);
    hookTable[kHookRemoveEntry] = reinterpret_cast<uintptr_t>(&HookRemove);
    variableTable[kVariableRegisterEntry] = reinterpret_cast<uintptr_t>(&VariableRegister);
    variableTable[kVariableReadEntry] = reinterpret_cast<uintptr_t>(&VariableRead);
    std::memcpy(globalData + kGroundSpeedWordOffset, &kGroundSpeedWord, sizeof kGroundSpeedWord);
    const uint32_t ready = 1;
    std::memcpy(globalData + kReadyWordOffset, &ready, sizeof ready);
    const uint32_t accepts = kRelayAcceptsOutput;
    const uint32_t send = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&RelaySend));
    std::memcpy(relayRecord + kRelayFlagsOffset, &accepts, sizeof accepts);
    std::memcpy(relayRecord + kRelaySendOffset, &send, sizeof send);

    // The first round's load brings in the C runtime's and the platform's own handles and threads for
    // good; the counts are taken after it.
    int threadsBaseline = -1;
    long handlesBaseline = -1;
    long slotBaseline = -1;
    int serialRounds = 0;
    int quietRounds = 0;
    double slowestHookMs = 0.0;
    double slowestShutDownMs = 0.0;
    for (int round = 0; round < rounds; ++round) {
        const bool serial = port != nullptr && round % 2 == 1;
        WritePrivateProfileStringA("Waypost", "Port", serial ? port : "NetHub", ini);
        serialRounds += serial ? 1 : 0;
        moduleStopped = false;
        const LONG textsBefore = relayTexts;

        HMODULE library = LoadLibraryA(dll);
        if (library == nullptr) {
            std::printf("[rounds] cannot load %s (error %lu)\n", dll, GetLastError());
            return 1;
        }
        auto* linkage = reinterpret_cast<ModuleLinkage*>(GetProcAddress(library, "Linkage"));
        auto* imports = reinterpret_cast<ServiceImport*>(GetProcAddress(library, "ImportTable"));
        if (linkage == nullptr || imports == nullptr || !ShortenStartDelay(library)) {
            std::printf("[rounds] %s: no Linkage, ImportTable or SetTimer import\n", dll);
            return 1;
        }
        FillImports(imports);
        if (linkage->init() == 0) {
            Anomaly("ModuleInit returned 0", round);
        }
        const DWORD started = GetTickCount();
        while (registeredHook == nullptr && GetTickCount() - started < 2000) {
            PumpMessages(round, false);
            Sleep(1);
        }
        if (registeredHook == nullptr) {
            Anomaly("no hook registered", round);
        }
        const SOCKET client = network != 0 ? ConnectClient(static_cast<u_short>(network)) : INVALID_SOCKET;
        if (network != 0 && client == INVALID_SOCKET) {
            Anomaly("no connection to the module's TCP server", round);
        }
        const DWORD hooked = GetTickCount();
        while (registeredHook != nullptr && GetTickCount() - hooked < kRunMs) {
            LARGE_INTEGER before;
            LARGE_INTEGER after;
            QueryPerformanceCounter(&before);
            registeredHook(0, 0);
            QueryPerformanceCounter(&after);
            const double ms = Milliseconds(before, after);
            slowestHookMs = ms > slowestHookMs ? ms : slowestHookMs;
            PumpMessages(round, false);
            Sleep(kFrameMs);
        }
        LARGE_INTEGER before;
        LARGE_INTEGER after;
        QueryPerformanceCounter(&before);
        linkage->deinit();
        QueryPerformanceCounter(&after);
        moduleStopped = true;
        const double shutDownMs = Milliseconds(before, after);
        slowestShutDownMs = shutDownMs > slowestShutDownMs ? shutDownMs : slowestShutDownMs;
        if (registeredHook != nullptr) {
            Anomaly("hook still registered after shut-down", round);
        }
        FreeLibrary(library);
        PumpMessages(round, true);
        if (client != INVALID_SOCKET) {
            if (ClosedByModule(client)) {
                ++clientsClosed;
            } else {
                Anomaly("a client's connection stayed open after the unload", round);
            }
        }
        if (!serial && relayTexts == textsBefore) {
            ++quietRounds; // counted, not an anomaly: a loaded machine may delay the first period
        }

        const int threads = CountOwnThreads();
        const long handles = HandleCount();
        if (round == 0) {
            threadsBaseline = threads;
            handlesBaseline = handles;
            slotBaseline = FreeHandleSlot();
        } else if (threads != threadsBaseline) {
            Anomaly("a thread was left behind", round);
            threadsBaseline = threads;
        }
        if (round % 25 == 24 || round == rounds - 1) {
            std::printf(
                "[rounds] %d rounds: %d threads, %ld handles, free handle slot 0x%lX, %ld relay texts\n",
                round + 1, threads, handles, FreeHandleSlot(), static_cast<long>(relayTexts));
        }
    }
    // Handles may vary by a few with the platform's own caches; a leak grows with the rounds.
    const long handlesAfter = HandleCount();
    const long slotAfter = FreeHandleSlot();
    if (handlesAfter > handlesBaseline + 5 || slotAfter > slotBaseline + 5 * 4) {
        Anomaly("handles grew over the rounds", rounds);
    }
    std::printf(
        "[rounds] summary: rounds=%d serialRounds=%d relayTexts=%ld quietRounds=%d threads=%d "
        "threadsAfter=%d handles=%ld handlesAfter=%ld freeSlot=%ld freeSlotAfter=%ld slowestHookMs=%.3f "
        "slowestShutDownMs=%.1f clientsClosed=%d anomalies=%ld\n",
        rounds, serialRounds, static_cast<long>(relayTexts), quietRounds, threadsBaseline, CountOwnThreads(),
        handlesBaseline, handlesAfter, slotBaseline, slotAfter, slowestHookMs, slowestShutDownMs,
        clientsClosed, anomalies);
    return anomalies == 0 ? 0 : 3;
}
