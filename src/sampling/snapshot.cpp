#include "sampling/snapshot.h"

// Written by SampleFlightState on the host's thread while dataReady is 0, read by the composer on the output
// thread while it is 1. All zero until the first completed sample.
NavSnapshot navSnapshot;
