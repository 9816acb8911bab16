// The stand-in host's services as the module calls them: each checks what a host would insist on and
// reports a breach as an anomaly; each logs what it served.
#include "host_services.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host_log.h"
#include "host_options.h"
#include "standin_host.h"

unsigned char globalData[kGlobalDataBytes];
HookSlot hooks[kMaxHooks];
int hookCount;
double hookRegisteredAt = -1.0;
int registeredCount;
FrameRecord frameRecord;
RelayTally relay = {0, 0, -1.0, -1.0, 1e9, 0.0};
volatile LONG anomalies;

namespace {

constexpr int kHookTableEntries = 272;
constexpr int kOldHookTableEntries = 8;
constexpr int kVariableTableEntries = 41;
constexpr size_t kRelayRecordBytes = 32;
constexpr int kMaxVariables = 64;
constexpr double kLatitudeUnitsPer90 = 10001750.0;
constexpr double kLongitudeUnitsPer360 = 281474976710656.0; // 2^48
constexpr double kPi = 3.14159265358979323846;

// The service tables and records the module finds through ImportTable.
uintptr_t hookTable[kHookTableEntries];
uintptr_t oldHookTable[kOldHookTableEntries];
uintptr_t variableTable[kVariableTableEntries];
unsigned char relayRecord[kRelayRecordBytes];
unsigned char relayPeerRecord[kRelayRecordBytes];

uint32_t registeredIds[kMaxVariables];

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
    Append(frameRecord.registered, sizeof frameRecord.registered, "%s%u",
           frameRecord.registrations > 0 ? "," : "", id);
    ++frameRecord.registrations;
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
    Append(frameRecord.read, sizeof frameRecord.read, "%s%u", frameRecord.reads > 0 ? "," : "", id);
    Append(frameRecord.values, sizeof frameRecord.values, "%s\"%u\":%.17g", frameRecord.reads > 0 ? "," : "",
           id, value);
    ++frameRecord.reads;
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
    if (relay.lastAt >= 0.0) {
        const double gap = now - relay.lastAt;
        relay.minGap = gap < relay.minGap ? gap : relay.minGap;
        relay.maxGap = gap > relay.maxGap ? gap : relay.maxGap;
    } else {
        relay.firstAt = now;
    }
    relay.lastAt = now;
    InterlockedIncrement(&relay.texts);
    InterlockedExchangeAdd(&relay.bytes, static_cast<LONG>(length));
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

} // namespace

void Anomaly(const char* what) {
    InterlockedIncrement(&anomalies);
    Say("anomaly: %s", what);
    char json[512];
    JsonString(json, sizeof json, what, std::strlen(what));
    LogRecord("anomaly", ",\"what\":%s", json);
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
