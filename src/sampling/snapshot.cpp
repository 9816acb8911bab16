#include "sampling/snapshot.h"

// Written by SampleFlightState on the host's thread while dataReady is 0, copied by the output thread while
// it is 1. All zero until the first completed sample.
NavSnapshot navSnapshot;
