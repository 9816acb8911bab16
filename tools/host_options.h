// The stand-in host's command line and the route it flies, both read once at start-up, before the module is
// loaded.
#pragma once

#include <cstdint>

#include "flight_model.h"
#include "host/host_interface.h"

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

// Written by ParseOptions at start-up; read-only afterwards, on the host's thread and (echo) by the relay
// send on the module's output thread.
extern Options options;
// Written by LoadRoute at start-up; read-only afterwards, by the frame loop and the variable service.
extern Route route;

// Reads the command line into options. --help and --version print their text and end the program with
// status 0. Returns 0 to go on, otherwise the exit status.
int ParseOptions(int argc, char** argv);

// Loads the route (--route, else the built-in one) and puts --start into it; false after saying why on
// stderr.
bool LoadRoute();
