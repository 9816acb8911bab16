#include "sampling/requests.h"

#include "host/linkage.h"

namespace {

constexpr int32_t kRequestsGeneration0 = 16; // position, clock, wind, speeds
constexpr int32_t kRequestsGeneration1 = 20; // plus attitude
constexpr int32_t kRequestsGeneration2 = 22; // plus the magnetic track

constexpr HostVariableRequest Request(uint32_t id) {
    return HostVariableRequest{id, {0, 0}, 0.0, {0, 0}};
}

VariableServiceEntry ServiceEntry(const void* variableService, int entry) {
    return reinterpret_cast<VariableServiceEntry>(HostTableEntry(variableService, entry));
}

} // namespace

// The host keeps each entry's address from its registration, so the table never moves. Value fields are
// written by the host during a read call on the host's thread and read by the sampler right after.
HostVariableRequest requestTable[kRequestCount] = {
    Request(0x47),  Request(0x48),  Request(0x56),  Request(0x52),  Request(0x49), Request(0x40),
    Request(0x155), Request(0x157), Request(0x158), Request(0x06),  Request(0x07), Request(0x05),
    Request(0x09),  Request(0x08),  Request(0x3D),  Request(0x41),  Request(0x4D), Request(0x4F),
    Request(0x33A), Request(0x29),  Request(0x341), Request(0x342),
};

int32_t registeredVariableCount = 0;

int32_t RequestCountForGeneration(int32_t generation) {
    if (generation < 1) {
        return kRequestsGeneration0;
    }
    if (generation == 1) {
        return kRequestsGeneration1;
    }
    return kRequestsGeneration2;
}

// Registration happens once, in the first sample that passes the entry checks; nothing ever unregisters.
void RegisterAndReadVariables(const void* variableService) {
    if (registeredVariableCount == 0) {
        const int32_t limit = RequestCountForGeneration(HostGeneration);
        const VariableServiceEntry registerEntry = ServiceEntry(variableService, kVariableRegisterEntry);
        int32_t registered = 0;
        while (registered < limit) {
            registerEntry(&requestTable[registered]);
            registered++;
        }
        registeredVariableCount = registered;
    }
    const VariableServiceEntry readEntry = ServiceEntry(variableService, kVariableReadEntry);
    for (int32_t entry = 0; entry < registeredVariableCount; entry++) {
        readEntry(&requestTable[entry]);
    }
}
