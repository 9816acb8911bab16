// A host for the unit tests: the service tables, global data block and relay record that a simulator puts
// into ImportTable, with every call through them recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace fakehost {

// The value served for a variable id at every read; 0 until set.
void SetValue(uint32_t id, double value);
// The two words of the global data block the module reads.
void SetGroundSpeedWord(uint32_t word);
void SetReadyWord(uint32_t word);
// The hook address handed to the last registration (through either hook service), or null.
FrameHookEntry RegisteredHook();

// Every call into the host, in order, from the stand-in's call log (standin::ClearCalls clears them too):
// "hook.register(2)", "oldhook.remove(2)", "variables.register(0x47)", "variables.read(0x47)",
// "relay.send(1,<length>)".
std::vector<std::string> Calls();
// The texts handed to the relay, one per send.
std::vector<std::string> RelayTexts();

struct Services {
    bool hook = true;
    bool globalData = true;
    bool variables = true;
    bool oldHook = true;
    bool relay = true;
    uint32_t relayFlags = kRelayAcceptsOutput;
    bool relaySendEntry = true;
};

// Fills ImportTable's pointers with the services selected (absent ones stay 0) and clears the relay texts,
// the served values and the block's words. While the stand-in does not record, neither calls nor relay texts
// are kept, so the host allocates nothing.
void Install(const Services& services);
// Puts 0 into every ImportTable pointer.
void Uninstall();

} // namespace fakehost
