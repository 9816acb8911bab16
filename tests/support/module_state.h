#pragma once

// Puts every process-wide variable of the module back to its value at load, as if the library had just
// been loaded. Each subsystem's variables are listed in module_state.cpp.
void ResetModuleState();
