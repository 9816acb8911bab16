// waypost-host: a stand-in for the flight simulator. It creates the simulator's main window, loads the
// module the way the simulator does (Linkage, ImportTable, the start-up and shut-down entries), serves the
// hook services, the variable service, the global data block and the relay record, flies an aircraft
// along a route, and logs what it served and what the relay received, so that tests can compare.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

#include <mmsystem.h>

#include "flight_model.h"
#include "host/host_interface.h"
#include "host_log.h"
#include "thread_count.h"

namespace {

const char kDefaultRoute[] =
#include "default_route.inc"
    ;

const char kUsage[] =
    "usage: waypost-host [options]\n"
    "\n"
    "Loads the module as the flight simulator does and flies an aircraft along a route while the module\n"
    "samples it. Console lines are tagged \"[host]\"; --echo adds the relay text, tagged \"[relay]\".\n"
    "\n"
    "The simulator's window (host generation, read by the module when it is loaded):\n"
    "  --generation G   title for a generation: 98, 2000 (both 0), 2002 (1), 2004, none (both 2)\n"
    "  --title TEXT     main-window title (default \"Waypost Stand-in Flight Simulator 2004\")\n"
    "  --class NAME     main-window class (default FS98MAIN)\n"
    "  --no-window      create no main window (the module then takes generation 0)\n"
    "\n"
    "The module and its services:\n"
    "  --dll PATH       module to load (default Waypost.dll beside this program); its INI lies beside it\n"
    "  --omit LIST      leave ImportTable rows empty, comma-separated: hook, globaldata, variables,\n"
    "                   oldhook, relaypeer, relay\n"
    "  --relay-flags N  flags word of the relay record (default 1: accepts output)\n"
    "  --relay-no-entry relay record without a send entry\n"
    "  --ready-after S  the global data block's ready word stays 0 for S s after ModuleInit (default 0)\n"
    "\n"
    "The run:\n"
    "  --rate HZ        frames per second; the module's hook is called once per frame (default 30)\n"
    "  --low-precision  run with the x87 precision lowered to 24 bits, as 3D hosts do\n"
    "  --run S          seconds from ModuleInit to ModuleDeinit (default 90)\n"
    "  --linger S       keep the message loop running S s after the module is unloaded (default 0)\n"
    "  --route FILE     route to fly (default: the built-in route, tools/routes/default.route)\n"
    "  --start TIME     the simulator's clock when the module starts, \"YYYY-MM-DD HH:MM:SS\"\n"
    "                   (default: the route's)\n"
    "  --log FILE       JSON-lines log: what was served at each sample, relay texts, lifecycle events\n"
    "  --echo           print every text the relay receives\n"
    "  --help           this text\n"
    "\n"
    "Route file lines: \"wp LAT LON ALT_FT KTAS\" (two or more, flown in a loop), \"wind FROM_DEG KT\",\n"
    "\"variation DEG\" (east positive), \"start YYYY-MM-DD HH:MM:SS\"; \"#\" starts a comment.\n"
    "\n"
    "The log holds one JSON object a line, each with \"t\" (seconds since the host started) and \"kind\":\n"
    "start, linkage (Linkage words), imports (rows filled), init (ModuleInit's result), settings (the INI\n"
    "after start-up), hook (register/remove: service, entry, constant), sample (ids registered and read in\n"
    "that frame, the values served by id, the ground-speed and ready words, the system clock, the "
    "aircraft's\n"
    "true state), relay (first argument, length, text), timer, anomaly, deinit (duration, hooks and threads\n"
    "left), unload, end (counts and relay periods).\n"
    "\n"
    "Exit status: 0 when the run showed nothing wrong, 1 for a usage or load error, 3 when the module did\n"
    "something a host must not see (listed as \"anomaly\" lines): a hook or service misuse, a timer after\n"
    "unload, a send after shut-down, a thread outliving shut-down.\n";

constexpr int kHookTableEntries = 272;
constexpr int kOldHookTableEntries = 8;
constexpr int kVariableTableEntries = 41;
constexpr size_t kGlobalDataBytes = 0x1200; // the module reads up to byte 0x11D7
constexpr size_t kRelayRecordBytes = 32;
constexpr int kMaxHooks = 8;
constexpr int kMaxVariables = 64;
constexpr double kLatitudeUnitsPer90 = 10001750.0;
constexpr double kLongitudeUnitsPer360 = 281474976710656.0; // 2^48
constexpr double kMsPerKnot = 1852.0 / 3600.0;
constexpr double kPi = 3.14159265358979323846;

struct Options {
    const char* dllPath = nullptr;
    const char* className = "FS98MAIN";
    const char* title = "Waypost Stand-in Flight Simulator 2004";
    bool window = true;
    bool omit[kImportRowCount] = {};
    uint32_t relayFlags = kRelayAcceptsOutput;
    bool relaySendEntry = true;
    double readyAfter = 0.0;
    double rate = 30.0;
    double runSeconds = 90.0;
    double lingerSeconds = 0.0;
    const char* routePath = nullptr;
    const char* start = nullptr;
    const char* logPath = nullptr;
    bool echo = false;
    bool lowPrecision = false;
};

struct HookSlot {
    FrameHookEntry hook;
    uint32_t service;
};

Options options;
Route route;
Aircraft aircraft;
SimClock simClock;

// The service tables and records the module finds through ImportTable.
uintptr_t hookTable[kHookTableEntries];
uintptr_t oldHookTable[kOldHookTableEntries];
uintptr_t variableTable[kVariableTableEntries];
unsigned char globalData[kGlobalDataBytes];
unsigned char relayRecord[kRelayRecordBytes];
unsigned char relayPeerRecord[kRelayRecordBytes];

DWORD hostThreadId;
HookSlot hooks[kMaxHooks]; // registered frame hooks, called every frame
int hookCount;
uint32_t registeredIds[kMaxVariables];
int registeredCount;
double moduleInitAt = -1.0; // host seconds when ModuleInit returned
bool startTimerRunning;     // ModuleInit reported a start timer; the countdown runs until the hook comes
double hookRegisteredAt = -1.0;
volatile bool moduleStopped; // ModuleDeinit has returned; read by the relay send too
bool moduleUnloaded;

// What the variable service did during the current frame, logged with the sample.
char frameRegistered[1024];
char frameRead[1024];
char frameValues[4096];
int frameReads;
int frameRegistrations;

// Relay statistics, written on the module's output thread; the host's thread reads them only after
// ModuleDeinit has returned.
volatile LONG relayTexts;
volatile LONG relayBytes;
double relayFirstAt = -1.0;
double relayLastAt = -1.0;
double relayMinGap = 1e9;
double relayMaxGap = 0.0;

long frames;
long samples;
long timerMessages;
volatile LONG anomalies; // also counted on the module's output thread

void Anomaly(const char* what) {
    InterlockedIncrement(&anomalies);
    Say("anomaly: %s", what);
    char json[512];
    JsonString(json, sizeof json, what, std::strlen(what));
    LogRecord("anomaly", ",\"what\":%s", json);
}

void Append(char* buffer, size_t size, const char* format, ...) HOST_PRINTF(3, 4);
void Append(char* buffer, size_t size, const char* format, ...) {
    const size_t used = std::strlen(buffer);
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer + used, size - used, format, arguments);
    va_end(arguments);
}

const char* ServiceName(uint32_t service) {
    return service == kServiceHook ? "hook service 0x0001" : "older hook service 0x0004";
}

// ---- Hook services -------------------------------------------------------------------------------------

void AddHook(uint32_t service, int entry, DWORD constant, FrameHookEntry hook) {
    LogRecord("hook", ",\"action\":\"register\",\"service\":%u,\"entry\":%d,\"constant\":%lu", service, entry,
              static_cast<unsigned long>(constant));
    if (GetCurrentThreadId() != hostThreadId) {
        Anomaly("hook registered off the host's thread");
    }
    for (int i = 0; i < hookCount; ++i) {
        if (hooks[i].hook == hook) {
            Anomaly("hook registered twice");
            return;
        }
    }
    if (hookCount == kMaxHooks) {
        Anomaly("too many hooks");
        return;
    }
    hooks[hookCount++] = HookSlot{hook, service};
    hookRegisteredAt = HostSeconds();
    Say("hook registered through %s entry %d after %.2f s (constant %lu)", ServiceName(service), entry,
        hookRegisteredAt - moduleInitAt, static_cast<unsigned long>(constant));
}

void RemoveHook(uint32_t service, int entry, DWORD constant, FrameHookEntry hook) {
    LogRecord("hook", ",\"action\":\"remove\",\"service\":%u,\"entry\":%d,\"constant\":%lu", service, entry,
              static_cast<unsigned long>(constant));
    Say("hook removed through %s entry %d", ServiceName(service), entry);
    for (int i = 0; i < hookCount; ++i) {
        if (hooks[i].hook == hook) {
            if (hooks[i].service != service) {
                Anomaly("hook removed through another service than it was registered with");
            }
            hooks[i] = hooks[--hookCount];
            return;
        }
    }
    Anomaly("removal of a hook that is not registered");
}

void WINAPI HookRegister(DWORD constant, FrameHookEntry hook) {
    AddHook(kServiceHook, kHookRegisterEntry, constant, hook);
}
void WINAPI HookRemove(DWORD constant, FrameHookEntry hook) {
    RemoveHook(kServiceHook, kHookRemoveEntry, constant, hook);
}
void WINAPI OldHookRegister(DWORD constant, FrameHookEntry hook) {
    AddHook(kServiceOldHook, kOldHookRegisterEntry, constant, hook);
}
void WINAPI OldHookRemove(DWORD constant, FrameHookEntry hook) {
    RemoveHook(kServiceOldHook, kOldHookRemoveEntry, constant, hook);
}

// ---- Variable service ----------------------------------------------------------------------------------

// The value the simulator holds for a variable id, in the simulator's units; false for an unknown id.
bool ServeVariable(uint32_t id, double* value) {
    const double trackMagnetic = WrapDegrees(aircraft.trackTrue - route.variationDeg);
    switch (id) {
    case 0x47:
        *value = aircraft.latDeg * kLatitudeUnitsPer90 / 90.0;
        break;
    case 0x48:
        *value = aircraft.lonDeg * kLongitudeUnitsPer360 / 360.0;
        break;
    case 0x56:
        *value = aircraft.headingTrue;
        break;
    case 0x52:
        *value = route.variationDeg;
        break;
    case 0x49:
        *value = aircraft.altitudeM;
        break;
    case 0x40:
        *value = 0.0;
        break; // spare: requested, not used
    case 0x155:
        *value = 0.0;
        break;
    case 0x341:
        *value = 0.0;
        break;
    case 0x157:
        *value = route.windKt;
        break;
    case 0x158:
        *value = route.windFromDeg;
        break;
    case 0x06:
        *value = simClock.hour;
        break;
    case 0x07:
        *value = simClock.minute;
        break;
    case 0x05:
        *value = simClock.second;
        break;
    case 0x09:
        *value = simClock.year;
        break;
    case 0x08:
        *value = simClock.dayOfYear;
        break;
    case 0x3D:
        *value = aircraft.airspeedKt;
        break;
    case 0x41:
        *value = aircraft.verticalSpeedMs * 256.0;
        break;
    // The simulator counts pitch positive with the nose down and bank positive with the left wing down.
    case 0x4D:
        *value = WrapDegrees(-aircraft.pitchDeg);
        break;
    case 0x4F:
        *value = WrapDegrees(-aircraft.bankDeg);
        break;
    case 0x33A:
        *value = aircraft.bankDeg * 5.0;
        break; // control deflection; beyond the clamp in steep turns
    case 0x29:
        *value = -aircraft.pitchDeg * 20.0;
        break; // likewise in climbs and descents
    case 0x342:
        *value = trackMagnetic * kPi / 180.0;
        break;
    default:
        return false;
    }
    return true;
}

bool IsRegistered(uint32_t id) {
    for (int i = 0; i < registeredCount; ++i) {
        if (registeredIds[i] == id) {
            return true;
        }
    }
    return false;
}

void WINAPI VariableRegister(HostVariableRequest* request) {
    const uint32_t id = request->id;
    if (GetCurrentThreadId() != hostThreadId) {
        Anomaly("variable registered off the host's thread");
    }
    double ignored;
    if (!ServeVariable(id, &ignored)) {
        char what[64];
        std::snprintf(what, sizeof what, "registration of unknown variable 0x%X", id);
        Anomaly(what);
    }
    if (IsRegistered(id)) {
        char what[64];
        std::snprintf(what, sizeof what, "variable 0x%X registered twice", id);
        Anomaly(what);
    } else if (registeredCount < kMaxVariables) {
        registeredIds[registeredCount++] = id;
    }
    Append(frameRegistered, sizeof frameRegistered, "%s%u", frameRegistrations > 0 ? "," : "", id);
    ++frameRegistrations;
}

void WINAPI VariableRead(HostVariableRequest* request) {
    const uint32_t id = request->id;
    if (GetCurrentThreadId() != hostThreadId) {
        Anomaly("variable read off the host's thread");
    }
    if (!IsRegistered(id)) {
        char what[64];
        std::snprintf(what, sizeof what, "read of unregistered variable 0x%X", id);
        Anomaly(what);
    }
    double value = 0.0;
    ServeVariable(id, &value);
    request->value = value;
    Append(frameRead, sizeof frameRead, "%s%u", frameReads > 0 ? "," : "", id);
    Append(frameValues, sizeof frameValues, "%s\"%u\":%.17g", frameReads > 0 ? "," : "", id, value);
    ++frameReads;
}

// ---- Relay ---------------------------------------------------------------------------------------------

void WINAPI RelaySend(DWORD first, const char* text, DWORD length) {
    const double now = HostSeconds();
    if (moduleStopped) {
        Anomaly("relay send after ModuleDeinit returned");
    }
    if (first != 1 || length == 0 || length > 2048 || text == nullptr) {
        char what[96];
        std::snprintf(what, sizeof what, "relay send with arguments (%lu, %p, %lu)",
                      static_cast<unsigned long>(first), static_cast<const void*>(text),
                      static_cast<unsigned long>(length));
        Anomaly(what);
        if (text == nullptr || length > 2048) {
            return;
        }
    }
    static char json[2048 * 6 + 8]; // only the module's single output thread sends
    JsonString(json, sizeof json, text, length);
    LogRecord("relay", ",\"arg\":%lu,\"length\":%lu,\"text\":%s", static_cast<unsigned long>(first),
              static_cast<unsigned long>(length), json);
    if (relayLastAt >= 0.0) {
        const double gap = now - relayLastAt;
        relayMinGap = gap < relayMinGap ? gap : relayMinGap;
        relayMaxGap = gap > relayMaxGap ? gap : relayMaxGap;
    } else {
        relayFirstAt = now;
    }
    relayLastAt = now;
    InterlockedIncrement(&relayTexts);
    InterlockedExchangeAdd(&relayBytes, static_cast<LONG>(length));
    if (options.echo) {
        // Control characters shown by name; the text's own line ends kept.
        static char shown[2048 * 5 + 16];
        size_t used = 0;
        for (DWORD i = 0; i < length; ++i) {
            const char c = text[i];
            const char* name = c == 0x02 ? "<STX>" : (c == 0x03 ? "<ETX>" : nullptr);
            if (used == 0 || shown[used - 1] == '\n') {
                std::memcpy(shown + used, "[relay] ", 8);
                used += 8;
            }
            if (name != nullptr) {
                std::memcpy(shown + used, name, 5);
                used += 5;
            } else if (c != '\r') {
                shown[used++] = c;
            }
        }
        if (used > 0 && shown[used - 1] != '\n') {
            shown[used++] = '\n';
        }
        shown[used] = '\0';
        SayRaw(shown);
    }
}

// ---- Set-up --------------------------------------------------------------------------------------------

bool ParseNumber(const char* text, double* value) {
    char* end;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

bool ParseOmit(const char* list) {
    static const char* const names[kImportRowCount] = {"hook",      "globaldata", "variables", "oldhook",
                                                       "relaypeer", "relay",      nullptr};
    char copy[256];
    std::snprintf(copy, sizeof copy, "%s", list);
    for (char* name = std::strtok(copy, ","); name != nullptr; name = std::strtok(nullptr, ",")) {
        bool known = false;
        for (int row = 0; row < kRowEnd; ++row) {
            if (std::strcmp(name, names[row]) == 0) {
                options.omit[row] = true;
                known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "waypost-host: unknown row \"%s\" in --omit\n", name);
            return false;
        }
    }
    return true;
}

const char* GenerationTitle(const char* generation) {
    static const char* const titles[][2] = {
        {"98", "Waypost Stand-in Flight Simulator 98"},
        {"2000", "Waypost Stand-in Flight Simulator 2000"},
        {"2002", "Waypost Stand-in Flight Simulator 2002"},
        {"2004", "Waypost Stand-in Flight Simulator 2004"},
        {"none", "Waypost Stand-in Flight Simulator"},
    };
    for (const auto& title : titles) {
        if (std::strcmp(generation, title[0]) == 0) {
            return title[1];
        }
    }
    return nullptr;
}

// Returns 0 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        double number = 0.0;
        bool usedValue = true;
        bool valid = true;
        if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (std::strcmp(option, "--no-window") == 0) {
            options.window = false;
            usedValue = false;
        } else if (std::strcmp(option, "--relay-no-entry") == 0) {
            options.relaySendEntry = false;
            usedValue = false;
        } else if (std::strcmp(option, "--echo") == 0) {
            options.echo = true;
            usedValue = false;
        } else if (std::strcmp(option, "--low-precision") == 0) {
            options.lowPrecision = true;
            usedValue = false;
        } else if (value == nullptr) {
            valid = false;
        } else if (std::strcmp(option, "--dll") == 0) {
            options.dllPath = value;
        } else if (std::strcmp(option, "--class") == 0) {
            options.className = value;
        } else if (std::strcmp(option, "--title") == 0) {
            options.title = value;
        } else if (std::strcmp(option, "--generation") == 0) {
            options.title = GenerationTitle(value);
            valid = options.title != nullptr;
        } else if (std::strcmp(option, "--omit") == 0) {
            valid = ParseOmit(value);
        } else if (std::strcmp(option, "--relay-flags") == 0) {
            valid = ParseNumber(value, &number) && number >= 0 && number <= 4294967295.0;
            options.relayFlags = static_cast<uint32_t>(number);
        } else if (std::strcmp(option, "--ready-after") == 0) {
            valid = ParseNumber(value, &options.readyAfter) && options.readyAfter >= 0;
        } else if (std::strcmp(option, "--rate") == 0) {
            valid = ParseNumber(value, &options.rate) && options.rate >= 1 && options.rate <= 1000;
        } else if (std::strcmp(option, "--run") == 0) {
            valid = ParseNumber(value, &options.runSeconds) && options.runSeconds >= 0;
        } else if (std::strcmp(option, "--linger") == 0) {
            valid = ParseNumber(value, &options.lingerSeconds) && options.lingerSeconds >= 0;
        } else if (std::strcmp(option, "--route") == 0) {
            options.routePath = value;
        } else if (std::strcmp(option, "--start") == 0) {
            options.start = value;
        } else if (std::strcmp(option, "--log") == 0) {
            options.logPath = value;
        } else {
            std::fprintf(stderr, "waypost-host: unknown option %s (see --help)\n", option);
            return 1;
        }
        if (!valid) {
            std::fprintf(stderr, "waypost-host: bad or missing value for %s (see --help)\n", option);
            return 1;
        }
        i += usedValue ? 1 : 0;
    }
    return 0;
}

bool LoadRoute() {
    static char text[65536];
    const char* source = kDefaultRoute;
    if (options.routePath != nullptr) {
        FILE* file = std::fopen(options.routePath, "rb");
        if (file == nullptr) {
            std::fprintf(stderr, "waypost-host: cannot open route %s\n", options.routePath);
            return false;
        }
        const size_t length = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[length] = '\0';
        source = text;
    }
    char error[160];
    if (!ParseRoute(source, &route, error, sizeof error)) {
        std::fprintf(stderr, "waypost-host: route %s: %s\n",
                     options.routePath ? options.routePath : "(built-in)", error);
        return false;
    }
    if (options.start != nullptr) {
        char line[96];
        std::snprintf(line, sizeof line, "start %s\nwp 0 0 0 100\nwp 0 1 0 100\n", options.start);
        Route startOnly;
        if (!ParseRoute(line, &startOnly, error, sizeof error)) {
            std::fprintf(stderr, "waypost-host: --start: %s\n", error);
            return false;
        }
        route.start = startOnly.start;
    }
    return true;
}

HWND CreateMainWindow(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = options.className;
    if (RegisterClassExA(&windowClass) == 0) {
        return nullptr;
    }
    // Never shown: the module only looks for it among the process's top-level windows.
    return CreateWindowExA(0, options.className, options.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
}

void BuildServices() {
    hookTable[kHookRegisterEntry] = reinterpret_cast<uintptr_t>(&HookRegister);
    hookTable[kHookRemoveEntry] = reinterpret_cast<uintptr_t>(&HookRemove);
    oldHookTable[kOldHookRegisterEntry] = reinterpret_cast<uintptr_t>(&OldHookRegister);
    oldHookTable[kOldHookRemoveEntry] = reinterpret_cast<uintptr_t>(&OldHookRemove);
    variableTable[kVariableRegisterEntry] = reinterpret_cast<uintptr_t>(&VariableRegister);
    variableTable[kVariableReadEntry] = reinterpret_cast<uintptr_t>(&VariableRead);
    const uint32_t sendEntry =
        options.relaySendEntry ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&RelaySend)) : 0;
    std::memcpy(relayRecord + kRelayFlagsOffset, &options.relayFlags, sizeof options.relayFlags);
    std::memcpy(relayRecord + kRelaySendOffset, &sendEntry, sizeof sendEntry);
}

void* ServiceFor(uint32_t id, bool* known) {
    static const struct {
        uint32_t id;
        ImportRow row;
        void* pointer;
    } services[] = {
        {kServiceHook, kRowHook, hookTable},
        {kServiceGlobalData, kRowGlobalData, globalData},
        {kServiceVariables, kRowVariables, variableTable},
        {kServiceOldHook, kRowOldHook, oldHookTable},
        {kServiceRelayPeer, kRowRelayPeer, relayPeerRecord},
        {kServiceRelay, kRowRelay, relayRecord},
    };
    for (const auto& service : services) {
        if (service.id == id) {
            *known = true;
            return options.omit[service.row] ? nullptr : service.pointer;
        }
    }
    *known = false;
    return nullptr;
}

// Fills every ImportTable row the host supports; returns false when the table has no end row.
bool FillImportTable(ServiceImport* table) {
    char rows[512] = "";
    for (int row = 0; row < 32; ++row) {
        if (table[row].id == 0) {
            LogRecord("imports", ",\"rows\":[%s]", rows);
            return true;
        }
        bool known;
        table[row].pointer = ServiceFor(table[row].id, &known);
        Append(rows, sizeof rows, "%s{\"id\":%u,\"filled\":%s}", row > 0 ? "," : "", table[row].id,
               table[row].pointer != nullptr ? "true" : "false");
        Say("import row %d: service 0x%04X %s", row + 1, table[row].id,
            table[row].pointer != nullptr ? "filled"
                                          : (known ? "left empty (--omit)" : "unknown, left empty"));
    }
    return false;
}

void LogSettingsFile(const char* dllPath) {
    char iniPath[MAX_PATH + 8];
    std::snprintf(iniPath, sizeof iniPath, "%s", dllPath);
    char* dot = std::strrchr(iniPath, '.');
    if (dot == nullptr || std::strchr(dot, '\\') != nullptr) {
        return;
    }
    std::strcpy(dot, ".ini");
    char section[4096];
    const DWORD length = GetPrivateProfileSectionA("Waypost", section, sizeof section, iniPath);
    char entries[4096] = "";
    char shown[1024] = "";
    for (const char* entry = section; entry < section + length && *entry != '\0';
         entry += std::strlen(entry) + 1) {
        const char* equals = std::strchr(entry, '=');
        if (equals == nullptr) {
            continue;
        }
        char key[128];
        char value[512];
        char keyJson[300];
        char valueJson[1100];
        std::snprintf(key, sizeof key, "%.*s", static_cast<int>(equals - entry), entry);
        std::snprintf(value, sizeof value, "%s", equals + 1);
        JsonString(keyJson, sizeof keyJson, key, std::strlen(key));
        JsonString(valueJson, sizeof valueJson, value, std::strlen(value));
        Append(entries, sizeof entries, "%s%s:%s", entries[0] ? "," : "", keyJson, valueJson);
        Append(shown, sizeof shown, " %s", entry);
    }
    char pathJson[MAX_PATH * 2];
    JsonString(pathJson, sizeof pathJson, iniPath, std::strlen(iniPath));
    LogRecord("settings", ",\"path\":%s,\"entries\":{%s}", pathJson, entries);
    Say("settings file after start-up (%s):%s", iniPath, shown[0] ? shown : " (none)");
}

// ---- Running -------------------------------------------------------------------------------------------

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_TIMER) {
            ++timerMessages;
            LogRecord("timer", ",\"unloaded\":%s,\"stopped\":%s", moduleUnloaded ? "true" : "false",
                      moduleStopped ? "true" : "false");
            if (moduleUnloaded) {
                // Its procedure would lie in the unloaded library; dispatching it would crash the host.
                Anomaly("timer message after the module was unloaded");
                continue;
            }
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Seconds since 1970 from the system clock, which readers in other processes share.
double WallSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime; // 100 ns
    constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000ULL;
    return static_cast<double>(ticks - kTicksFrom1601To1970) / 1e7;
}

void LogSample(const Aircraft& flown) {
    ++samples;
    const uint32_t groundSpeedWord = HostWord(globalData, kGroundSpeedWordOffset);
    const uint32_t readyWord = HostWord(globalData, kReadyWordOffset);
    LogRecord("sample",
              ",\"frame\":%ld,\"registered\":[%s],\"read\":[%s],\"values\":{%s},\"groundSpeedWord\":%u,"
              "\"readyWord\":%u,\"wall\":%.3f,\"truth\":{\"lat\":%.9f,\"lon\":%.9f,\"groundSpeedKt\":%.6f,"
              "\"trackTrue\":%.6f,\"headingTrue\":%.6f,\"altitudeM\":%.4f,\"verticalSpeedMs\":%.6f,"
              "\"airspeedKt\":%.6f,\"pitchUp\":%.6f,\"rollRight\":%.6f,\"date\":\"%04d-%02d-%02d\","
              "\"time\":\"%02d:%02d:%02d\"}",
              frames, frameRegistered, frameRead, frameValues, groundSpeedWord, readyWord, WallSeconds(),
              flown.latDeg, flown.lonDeg, flown.groundSpeedKt, flown.trackTrue, flown.headingTrue,
              flown.altitudeM, flown.verticalSpeedMs, flown.airspeedKt, flown.pitchDeg, flown.bankDeg,
              simClock.year, simClock.month, simClock.day, simClock.hour, simClock.minute, simClock.second);
}

void RunFrame(double now, double seconds) {
    ++frames;
    FlyStep(route, seconds, &aircraft);
    // The simulator's clock starts with the module, however long the process took to get there.
    simClock = ClockAt(route, now - moduleInitAt);
    const uint32_t groundSpeedWord = static_cast<uint32_t>(aircraft.groundSpeedKt * kMsPerKnot * 65536.0);
    const uint32_t readyWord = moduleInitAt >= 0.0 && now - moduleInitAt >= options.readyAfter ? 1 : 0;
    std::memcpy(globalData + kGroundSpeedWordOffset, &groundSpeedWord, sizeof groundSpeedWord);
    std::memcpy(globalData + kReadyWordOffset, &readyWord, sizeof readyWord);

    frameRegistered[0] = frameRead[0] = frameValues[0] = '\0';
    frameReads = frameRegistrations = 0;
    HookSlot called[kMaxHooks];
    const int count = hookCount;
    std::memcpy(called, hooks, sizeof called);
    for (int i = 0; i < count; ++i) {
        called[i].hook(0, 0);
    }
    if (frameReads > 0 || frameRegistrations > 0) {
        LogSample(aircraft);
    }
}

// Runs frames and the message loop until the deadline; frames only while the module is loaded.
void RunUntil(double deadline, bool withFrames, double period) {
    static double nextFrame = 0.0;
    static double lastFrame = 0.0;
    static int lastCountdown = -1;
    for (;;) {
        double now = HostSeconds();
        if (now >= deadline) {
            return;
        }
        PumpMessages();
        now = HostSeconds();
        double wake = deadline;
        if (withFrames) {
            if (now >= nextFrame) {
                RunFrame(now, lastFrame > 0.0 ? now - lastFrame : period);
                lastFrame = now;
                nextFrame = nextFrame + period > now ? nextFrame + period : now + period;
            }
            wake = nextFrame < deadline ? nextFrame : deadline;
        }
        if (startTimerRunning && hookRegisteredAt < 0.0 && !moduleStopped) {
            const int left = static_cast<int>(std::ceil(moduleInitAt + 25.0 - now));
            if (left != lastCountdown && left > 0 && (left % 5 == 0 || left <= 3)) {
                Say("start delay: %d s until the module registers its hook", left);
            }
            lastCountdown = left;
        }
        const double waitMs = (wake - HostSeconds()) * 1000.0;
        if (waitMs > 0.0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::ceil(waitMs)), QS_ALLINPUT);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const int usage = ParseOptions(argc, argv);
    if (usage != 0) {
        return usage;
    }
    if (!LoadRoute()) {
        return 1;
    }
    if (!OpenHostLog(options.logPath)) {
        std::fprintf(stderr, "waypost-host: cannot create log %s\n", options.logPath);
        return 1;
    }
    hostThreadId = GetCurrentThreadId();
    timeBeginPeriod(1); // millisecond sleeps for an even frame rate
    StartFlight(route, &aircraft);
    simClock = ClockAt(route, 0.0);

    char dllPath[MAX_PATH];
    char requested[MAX_PATH];
    if (options.dllPath != nullptr) {
        std::snprintf(requested, sizeof requested, "%s", options.dllPath);
    } else {
        GetModuleFileNameA(nullptr, requested, sizeof requested);
        char* slash = std::strrchr(requested, '\\');
        std::snprintf(slash != nullptr ? slash + 1 : requested,
                      sizeof requested -
                          static_cast<size_t>((slash != nullptr ? slash + 1 : requested) - requested),
                      "Waypost.dll");
    }
    // An absolute path, so that the module's INI (found from the library's own name) lies beside it.
    if (GetFullPathNameA(requested, sizeof dllPath, dllPath, nullptr) == 0) {
        std::snprintf(dllPath, sizeof dllPath, "%s", requested);
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND window = nullptr;
    if (options.window) {
        window = CreateMainWindow(instance);
        if (window == nullptr) {
            std::fprintf(stderr, "waypost-host: cannot create the main window (error %lu)\n", GetLastError());
            return 1;
        }
    }
    char titleJson[600];
    char classJson[600];
    char dllJson[MAX_PATH * 2];
    JsonString(titleJson, sizeof titleJson, options.title, std::strlen(options.title));
    JsonString(classJson, sizeof classJson, options.className, std::strlen(options.className));
    JsonString(dllJson, sizeof dllJson, dllPath, std::strlen(dllPath));
    LogRecord(
        "start",
        ",\"window\":%s,\"title\":%s,\"class\":%s,\"dll\":%s,\"rate\":%.3f,\"run\":%.3f,\"linger\":%.3f",
        options.window ? "true" : "false", titleJson, classJson, dllJson, options.rate, options.runSeconds,
        options.lingerSeconds);
    if (options.window) {
        Say("main window: class \"%s\", title \"%s\"", options.className, options.title);
    } else {
        Say("no main window");
    }

    const int threadsBefore = CountOwnThreads();
    HMODULE library = LoadLibraryA(dllPath);
    if (library == nullptr) {
        std::fprintf(stderr, "waypost-host: cannot load %s (error %lu)\n", dllPath, GetLastError());
        return 1;
    }
    auto* linkage = reinterpret_cast<ModuleLinkage*>(GetProcAddress(library, "Linkage"));
    auto* imports = reinterpret_cast<ServiceImport*>(GetProcAddress(library, "ImportTable"));
    if (linkage == nullptr || imports == nullptr) {
        std::fprintf(stderr, "waypost-host: %s exports no Linkage or no ImportTable\n", dllPath);
        return 1;
    }
    LogRecord("linkage", ",\"leading\":%u,\"version\":%u,\"reserved\":[%u,%u,%u]", linkage->leading,
              linkage->version, linkage->reserved12, linkage->reserved16, linkage->reserved24);
    Say("loaded %s: leading word 0x%X, interface version word 0x%X", dllPath, linkage->leading,
        linkage->version);
    if (linkage->leading != kLinkageLeadingConstant) {
        Anomaly("Linkage does not begin with 0x102");
    }

    BuildServices();
    if (!FillImportTable(imports)) {
        std::fprintf(stderr, "waypost-host: ImportTable has no end row\n");
        return 1;
    }

    const double period = 1.0 / options.rate;
    if (options.lowPrecision) {
        uint16_t control;
        __asm__ volatile("fnstcw %0" : "=m"(control));
        control = static_cast<uint16_t>(control & ~0x0300); // precision control 00: 24 bits
        __asm__ volatile("fldcw %0" : : "m"(control));
    }
    const double initStart = HostSeconds();
    const UINT_PTR initResult = linkage->init();
    moduleInitAt = HostSeconds();
    startTimerRunning = initResult != 0;
    LogRecord("init", ",\"result\":%lu,\"seconds\":%.4f", static_cast<unsigned long>(initResult),
              moduleInitAt - initStart);
    if (initResult == 0) {
        Say("ModuleInit returned 0: the module stays idle");
    } else {
        Say("ModuleInit returned timer %lu; the module registers its hook in 25 s",
            static_cast<unsigned long>(initResult));
    }
    LogSettingsFile(dllPath);

    RunUntil(moduleInitAt + options.runSeconds, true, period);

    const double deinitStart = HostSeconds();
    linkage->deinit();
    moduleStopped = true;
    const double deinitSeconds = HostSeconds() - deinitStart;
    const int threadsAfter = CountOwnThreads();
    LogRecord("deinit", ",\"seconds\":%.4f,\"hooksLeft\":%d,\"threadsBefore\":%d,\"threadsAfter\":%d",
              deinitSeconds, hookCount, threadsBefore, threadsAfter);
    Say("ModuleDeinit returned after %.3f s; threads: %d before loading, %d now", deinitSeconds,
        threadsBefore, threadsAfter);
    if (hookCount != 0) {
        Anomaly("a hook is still registered after ModuleDeinit");
    }
    if (threadsBefore >= 0 && threadsAfter > threadsBefore) {
        Anomaly("a thread of the module outlived ModuleDeinit");
    }

    const BOOL freed = FreeLibrary(library);
    moduleUnloaded = true;
    LogRecord("unload", ",\"freed\":%s", freed ? "true" : "false");
    if (options.lingerSeconds > 0.0) {
        Say("module unloaded; message loop runs %.0f s more", options.lingerSeconds);
        RunUntil(HostSeconds() + options.lingerSeconds, false, period);
    }

    const LONG texts = relayTexts;
    const double meanGap = texts > 1 ? (relayLastAt - relayFirstAt) / (texts - 1) : 0.0;
    LogRecord(
        "end",
        ",\"frames\":%ld,\"samples\":%ld,\"registered\":%d,\"relayTexts\":%ld,\"relayBytes\":%ld,"
        "\"meanPeriod\":%.4f,\"minPeriod\":%.4f,\"maxPeriod\":%.4f,\"timerMessages\":%ld,\"anomalies\":%ld",
        frames, samples, registeredCount, static_cast<long>(texts), static_cast<long>(relayBytes), meanGap,
        texts > 1 ? relayMinGap : 0.0, relayMaxGap, timerMessages, anomalies);
    Say("summary: %ld frames at %.0f Hz, %ld samples, %d variables registered, hook %s", frames, options.rate,
        samples, registeredCount, hookRegisteredAt >= 0.0 ? "registered" : "never registered");
    if (texts > 0) {
        Say("summary: relay received %ld texts, %ld bytes; period mean %.3f s (min %.3f, max %.3f)",
            static_cast<long>(texts), static_cast<long>(relayBytes), meanGap, texts > 1 ? relayMinGap : 0.0,
            relayMaxGap);
    } else {
        Say("summary: relay received nothing");
    }
    Say("summary: %ld timer messages, %ld anomalies", timerMessages, anomalies);
    CloseHostLog();
    if (window != nullptr) {
        DestroyWindow(window);
    }
    timeEndPeriod(1);
    return anomalies == 0 ? 0 : 3;
}
