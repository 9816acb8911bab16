// One output cycle: the completion check, the hundredths, the records, the write and the network text.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "sampling/snapshot.h"

// Output thread only: the seconds value seen by the previous cycle, and the tick when it changed.
extern int32_t lastSecondsSeen;
extern DWORD secondStartTick;
// Output thread only, read at shut-down: samples that reached the composer.
extern uint32_t cycleCount;

// Hundredths of the second for this cycle, from the snapshot's seconds and the tick count (0..99).
int32_t CycleHundredths(int32_t seconds, DWORD tick);

// Called by the output thread when dataReady is 1, with its own copy of the sample.
void ComposeCycle(const NavSnapshot& s);
