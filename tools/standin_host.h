// What the stand-in host's main program (standin_host.cpp) shares with the services it serves the module:
// the flight as the current frame left it, and where the module is in its life.
#pragma once

#include "flight_model.h"
#include "platform/win32.h"

// The aircraft and the simulator's clock: written by the frame loop before it calls the hooks, read by the
// variable service inside them; host's thread.
extern Aircraft aircraft;
extern SimClock simClock;
// The host's thread: set by main before the module is loaded; the services check their callers against it.
extern DWORD hostThreadId;
// Host seconds when ModuleInit returned (-1 before): written by main, read by the frame loop and the hook
// service's report.
extern double moduleInitAt;
// ModuleDeinit has returned: written by main, read by the message loop and by the relay send on the
// module's output thread.
extern volatile bool moduleStopped;
