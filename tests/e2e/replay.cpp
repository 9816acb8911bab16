// replay: the cycle text the module composes from host values, for the end-to-end checks. Built for Windows
// from the module's own sources against the stand-in and run under Wine, it computes as the real module
// does; the checks compare what the DLL sent inside the stand-in host with it, byte for byte, while the
// unit tests pin the arithmetic itself to literal texts.
//
// Input, one sample a line: generation six-decimals mask hundredths ground-speed-word, the 22 values of the
// request table in order, and the network name. Output, one line each: the cycle's text, then the XGPS,
// XATT, GDL 90 heartbeat, ownship, geometric altitude, identification and AHRS records, each as
// hexadecimal and separated by blanks; or "dropped".
#include <cstdio>
#include <cstdlib>

#include "host/linkage.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sentences/cycle.h"
#include "sentences/network_records.h"
#include "sentences/output_buffer.h"
#include "settings/network_settings.h"
#include "settings/settings.h"
#include "win32_standin.h"

namespace {

void PrintHex(const char* bytes, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        std::printf("%02X", static_cast<unsigned char>(bytes[i]));
    }
}

} // namespace

int main() {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        standin::Reset();
        char* at = line;
        HostGeneration = static_cast<int32_t>(std::strtol(at, &at, 10));
        sixDecimalMinutes = static_cast<int32_t>(std::strtol(at, &at, 10));
        sentenceMask = static_cast<SentenceMask>(std::strtoul(at, &at, 10));
        const int32_t hundredths = static_cast<int32_t>(std::strtol(at, &at, 10));
        const uint32_t groundSpeedWord = static_cast<uint32_t>(std::strtoul(at, &at, 10));
        for (HostVariableRequest& request : requestTable) {
            request.value = std::strtod(at, &at);
        }
        std::sscanf(at, "%8s", networkName);
        if (!ConvertFlightState(groundSpeedWord)) {
            std::puts("dropped");
            continue;
        }
        PrintHex(OutputBuffer, ComposeRecords(hundredths));
        for (int32_t (*append)(char*) :
             {AppendXgps, AppendXatt, AppendGdl90Heartbeat, AppendGdl90Ownship, AppendGdl90GeometricAltitude,
              AppendGdl90Identification, AppendGdl90Ahrs}) {
            char record[kNetworkRecordSize];
            std::putchar(' ');
            PrintHex(record, append(record));
        }
        std::putchar('\n');
    }
    return 0;
}
