// The host's side of ImportTable for the unit tests: real function tables of stdcall entries that log
// each call into the stand-in's call log, a global data block and a relay record.
#include "fake_host.h"

#include <cstring>
#include <mutex>

#include "host/linkage.h"
#include "win32_standin.h"

namespace fakehost {
namespace {

constexpr uint32_t kMaxVariableId = 0x400;

// The host's own layout, written out here rather than taken from the module's constants, so that a wrong
// entry number or offset in the module shows.
constexpr int kRegisterHook = 270, kRemoveHook = 271, kRegisterOldHook = 6, kRemoveOldHook = 7;
constexpr int kRegisterVariable = 38, kReadVariable = 40;
constexpr size_t kGroundSpeedWord = 0x2B4, kReadyWord = 0x11D4, kRelayFlags = 12, kRelaySend = 28;

std::recursive_mutex lock;
std::vector<std::string> relayTexts;
double served[kMaxVariableId];
FrameHookEntry registeredHook;

uintptr_t hookTable[kRemoveHook + 1];
uintptr_t oldHookTable[kRemoveOldHook + 1];
uintptr_t variableTable[kReadVariable + 1];
unsigned char globalBlock[kReadyWord + 64];
unsigned char relayRecord[kRelaySend + sizeof(uintptr_t)];

// One entry point per hook service and action, each logging as "<service>.<action>(<constant>)".
template <const char* kName, bool kRegisters>
void WINAPI HookEntry(DWORD constant, FrameHookEntry hook) {
    standin::Log("%s(%u)", kName, static_cast<unsigned>(constant));
    if (kRegisters) {
        registeredHook = hook;
    }
}
constexpr char kHookRegister[] = "hook.register";
constexpr char kHookRemove[] = "hook.remove";
constexpr char kOldHookRegister[] = "oldhook.register";
constexpr char kOldHookRemove[] = "oldhook.remove";

void WINAPI VariableRegister(HostVariableRequest* request) {
    standin::Log("variables.register(0x%X)", request->id);
}

void WINAPI VariableRead(HostVariableRequest* request) {
    standin::Log("variables.read(0x%X)", request->id);
    std::lock_guard<std::recursive_mutex> guard(lock);
    request->value = request->id < kMaxVariableId ? served[request->id] : 0.0;
}

void WINAPI RelaySend(DWORD one, const char* text, DWORD length) {
    standin::Log("relay.send(%u,%u)", static_cast<unsigned>(one), static_cast<unsigned>(length));
    if (standin::S().onSend) {
        standin::S().onSend();
    }
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (standin::S().record) {
        relayTexts.emplace_back(text, length);
    }
}

// Fills the row that asks for this service id, as a host does: it reads the ids the table lists.
void SetPointer(uint32_t id, void* pointer) {
    for (ServiceImport& row : ImportTable) {
        if (row.id == id && id != 0) {
            __atomic_store_n(&row.pointer, pointer, __ATOMIC_RELEASE);
        }
    }
}

} // namespace

void SetValue(uint32_t id, double value) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    served[id] = value;
}

void SetGroundSpeedWord(uint32_t word) {
    std::memcpy(globalBlock + kGroundSpeedWord, &word, sizeof word);
}

void SetReadyWord(uint32_t word) {
    std::memcpy(globalBlock + kReadyWord, &word, sizeof word);
}

FrameHookEntry RegisteredHook() {
    return registeredHook;
}

std::vector<std::string> Calls() {
    return standin::CallsOf({"hook.register", "hook.remove", "oldhook.register", "oldhook.remove",
                             "variables.register", "variables.read", "relay.send"});
}

std::vector<std::string> RelayTexts() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return relayTexts;
}

void Install(const Services& services) {
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        relayTexts.clear();
        std::memset(served, 0, sizeof served);
        registeredHook = nullptr;
    }
    std::memset(globalBlock, 0, sizeof globalBlock);
    hookTable[kRegisterHook] = reinterpret_cast<uintptr_t>(&HookEntry<kHookRegister, true>);
    hookTable[kRemoveHook] = reinterpret_cast<uintptr_t>(&HookEntry<kHookRemove, false>);
    oldHookTable[kRegisterOldHook] = reinterpret_cast<uintptr_t>(&HookEntry<kOldHookRegister, true>);
    oldHookTable[kRemoveOldHook] = reinterpret_cast<uintptr_t>(&HookEntry<kOldHookRemove, false>);
    variableTable[kRegisterVariable] = reinterpret_cast<uintptr_t>(&VariableRegister);
    variableTable[kReadVariable] = reinterpret_cast<uintptr_t>(&VariableRead);
    std::memcpy(relayRecord + kRelayFlags, &services.relayFlags, sizeof services.relayFlags);
    const uintptr_t send = services.relaySendEntry ? reinterpret_cast<uintptr_t>(&RelaySend) : 0;
    std::memcpy(relayRecord + kRelaySend, &send, sizeof send);

    SetPointer(0x0001, services.hook ? hookTable : nullptr);
    SetPointer(0x0002, services.globalData ? globalBlock : nullptr);
    SetPointer(0x000F, services.variables ? variableTable : nullptr);
    SetPointer(0x0004, services.oldHook ? oldHookTable : nullptr);
    SetPointer(0x521F, services.relay ? relayRecord : nullptr);
}

void Uninstall() {
    for (ServiceImport& row : ImportTable) {
        __atomic_store_n(&row.pointer, nullptr, __ATOMIC_RELEASE);
    }
}

} // namespace fakehost
