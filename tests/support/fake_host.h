// A host for the unit tests: the service tables, global data block and relay record that a simulator puts
// into ImportTable, with every call through them recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace fakehost {

struct Served {
    double values[0x400]; // value served for each variable id (index = id); 0 by default
    uint32_t groundSpeedWord;
    uint32_t readyWord;
};

// The host's side as the last Install() left it; tests change values between samples.
Served& Values();

// Every call into the host, in order: "hook.register(2,FrameHook)", "oldhook.remove(2,FrameHook)",
// "variables.register(0x47)", "variables.read(0x47)", "relay.send(1,<length>)".
std::vector<std::string> Calls();
void ClearCalls();
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

// Fills ImportTable's pointers with the services selected (absent ones stay 0) and clears the log and the
// served values.
void Install(const Services& services);
// Puts 0 into every ImportTable pointer.
void Uninstall();

} // namespace fakehost
