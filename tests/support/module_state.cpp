// Every process-wide variable of the module, back to its value at load. A variable added to the module must
// be added here too, or one test's state leaks into the next.
#include "module_state.h"

#include <cstring>

#include "host/linkage.h"
#include "log/log.h"
#include "module/lifecycle.h"
#include "network/network.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "transport/output_thread.h"
#include "transport/serial.h"
#include "transport/writer.h"

// Linkage as the library holds it when loaded (constant-initialized, so this copy sees it unchanged).
static const ModuleLinkage kLoadedLinkage = Linkage;

void ResetModuleState() {
    // Host shell
    Linkage = kLoadedLinkage;
    for (ServiceImport& row : ImportTable) {
        __atomic_store_n(&row.pointer, nullptr, __ATOMIC_RELEASE);
    }
    HostGeneration = hookRegistered = moduleStopped = 0;
    moduleInstance = nullptr;
    std::memset(settingsPath, 0, sizeof settingsPath);
    threadHandle = nullptr;
    startTimerId = 0;
    hookServiceRow = kRowHook;
    threadStartFailures = stepsRun = stepsMs = 0;
    std::memset(hostWindowClass, 0, sizeof hostWindowClass);
    std::memset(hostWindowTitle, 0, sizeof hostWindowTitle);
    loadTick = 0;
    logFile = INVALID_HANDLE_VALUE;

    // Settings
    sentenceMask = 0;
    sixDecimalMinutes = 1;
    relayMode = networkEntryCount = 0;
    baudRate = 4800;
    outputInterval = 2000;
    std::memset(devicePath + kDevicePrefixLength, 0, kPortNameStorage);
    std::memcpy(networkName, "Waypost", sizeof "Waypost");
    attitudeRate = kDefaultAttitudeRate;
    pressureAltitude = true;

    // Sampling
    navSnapshot = NavSnapshot{};
    for (HostVariableRequest& request : requestTable) {
        request.value = 0.0;
    }
    registeredVariableCount = 0;
    samplesTaken = samplesDropped = samplesWaiting = 0;

    // Composition
    std::memset(OutputBuffer, 0, sizeof OutputBuffer);
    lastSecondsSeen = -1;
    secondStartTick = 0;
    cycleCount = 0;

    // Transport
    portHandle = INVALID_HANDLE_VALUE;
    portOpened = savedDcbValid = savedTimeoutsValid = 0;
    savedDcb = DCB{};
    savedTimeouts = COMMTIMEOUTS{};
    writeOverlapped = OVERLAPPED{};
    stopRequested = threadRunning = sampleRequested = dataReady = writePending = 0;
    lineTally = OutputTally{0, 0, 0};
    lineBusySkips = 0;
    relayState = -1;
    ResetNetworkOutputs();
}
