// One output cycle: the completion check, the hundredths, the records in their fixed order, the write.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Output thread only: the seconds value seen by the previous cycle, and the tick when it changed.
extern int32_t lastSecondsSeen;
extern DWORD secondStartTick;
// Output thread only, read at shut-down: samples that reached the composer.
extern uint32_t cycleCount;

// Hundredths of the second for this cycle, from the snapshot's seconds and the tick count (0..99).
int32_t CycleHundredths(int32_t seconds, DWORD tick);

// Appends every selected record in the cycle order from offset 0; returns the text's length.
int32_t ComposeRecords(int32_t hundredths);

// Called by the output thread when dataReady is 1.
void ComposeCycle(void);
