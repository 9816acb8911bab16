// The host's side of ImportTable for the unit tests: real function tables of stdcall entries that record
// each call, a global data block and a relay record.
#include "fake_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/linkage.h"

namespace fakehost {
namespace {

constexpr uint32_t kMaxVariableId = 0x400;

std::recursive_mutex lock;
std::vector<std::string> calls;
std::vector<std::string> relayTexts;
double served[kMaxVariableId];
FrameHookEntry registeredHook;
bool recording = true;

uintptr_t hookTable[kHookRemoveEntry + 1];
uintptr_t oldHookTable[kOldHookRemoveEntry + 1];
uintptr_t variableTable[kVariableReadEntry + 1];
unsigned char globalBlock[kReadyWordOffset + 64];
unsigned char relayRecord[kRelaySendOffset + sizeof(uintptr_t)];

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* format, ...) {
    if (!recording) {
        return;
    }
    char line[64];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::recursive_mutex> guard(lock);
    calls.emplace_back(line);
}

// One entry point per hook service and action, each logging as "<service>.<action>(<constant>)".
template <const char* kName, bool kRegisters>
void WINAPI HookEntry(DWORD constant, FrameHookEntry hook) {
    Record("%s(%u)", kName, static_cast<unsigned>(constant));
    if (kRegisters) {
        registeredHook = hook;
    }
}
constexpr char kHookRegister[] = "hook.register";
constexpr char kHookRemove[] = "hook.remove";
constexpr char kOldHookRegister[] = "oldhook.register";
constexpr char kOldHookRemove[] = "oldhook.remove";

void WINAPI VariableRegister(HostVariableRequest* request) {
    Record("variables.register(0x%X)", request->id);
}

void WINAPI VariableRead(HostVariableRequest* request) {
    Record("variables.read(0x%X)", request->id);
    std::lock_guard<std::recursive_mutex> guard(lock);
    request->value = request->id < kMaxVariableId ? served[request->id] : 0.0;
}

void WINAPI RelaySend(DWORD one, const char* text, DWORD length) {
    Record("relay.send(%u,%u)", static_cast<unsigned>(one), static_cast<unsigned>(length));
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (recording) {
        relayTexts.emplace_back(text, length);
    }
}

template <typename Entry>
uintptr_t Address(Entry entry) {
    return reinterpret_cast<uintptr_t>(entry);
}

void SetPointer(ImportRow row, void* pointer) {
    __atomic_store_n(&ImportTable[row].pointer, pointer, __ATOMIC_RELEASE);
}

} // namespace

void SetValue(uint32_t id, double value) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    served[id] = value;
}

void SetGroundSpeedWord(uint32_t word) {
    std::memcpy(globalBlock + kGroundSpeedWordOffset, &word, sizeof word);
}

void SetReadyWord(uint32_t word) {
    std::memcpy(globalBlock + kReadyWordOffset, &word, sizeof word);
}

FrameHookEntry RegisteredHook() {
    return registeredHook;
}

std::vector<std::string> Calls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return calls;
}

void ClearCalls() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    calls.clear();
}

std::vector<std::string> RelayTexts() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return relayTexts;
}

void Install(const Services& services) {
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        calls.clear();
        relayTexts.clear();
        std::memset(served, 0, sizeof served);
        registeredHook = nullptr;
        recording = services.record;
    }
    std::memset(globalBlock, 0, sizeof globalBlock);
    hookTable[kHookRegisterEntry] = Address(&HookEntry<kHookRegister, true>);
    hookTable[kHookRemoveEntry] = Address(&HookEntry<kHookRemove, false>);
    oldHookTable[kOldHookRegisterEntry] = Address(&HookEntry<kOldHookRegister, true>);
    oldHookTable[kOldHookRemoveEntry] = Address(&HookEntry<kOldHookRemove, false>);
    variableTable[kVariableRegisterEntry] = Address(&VariableRegister);
    variableTable[kVariableReadEntry] = Address(&VariableRead);
    std::memcpy(relayRecord + kRelayFlagsOffset, &services.relayFlags, sizeof services.relayFlags);
    const uintptr_t send = services.relaySendEntry ? Address(&RelaySend) : 0;
    std::memcpy(relayRecord + kRelaySendOffset, &send, sizeof send);

    SetPointer(kRowHook, services.hook ? hookTable : nullptr);
    SetPointer(kRowGlobalData, services.globalData ? globalBlock : nullptr);
    SetPointer(kRowVariables, services.variables ? variableTable : nullptr);
    SetPointer(kRowOldHook, services.oldHook ? oldHookTable : nullptr);
    SetPointer(kRowRelay, services.relay ? relayRecord : nullptr);
}

void Uninstall() {
    for (int row = 0; row < kImportRowCount; row++) {
        SetPointer(static_cast<ImportRow>(row), nullptr);
    }
}

} // namespace fakehost
