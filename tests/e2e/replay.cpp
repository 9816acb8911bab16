// replay: the cycle text the module composes from host values, for the end-to-end checks. Built for Windows
// from the module's own sources against the stand-in and run under Wine, it computes as the real module
// does; the checks compare what the DLL sent inside the stand-in host with it, byte for byte, while the
// unit tests pin the arithmetic itself to literal texts.
//
// Input, one sample a line: generation six-decimals mask hundredths ground-speed-word and the 22 values of
// the request table in order. Output, one line each: the cycle's text as hexadecimal, or "dropped".
#include <cstdio>
#include <cstdlib>

#include "host/linkage.h"
#include "sampling/fix.h"
#include "sampling/requests.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"
#include "transport/cycle.h"
#include "win32_standin.h"

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
        if (!ConvertFlightState(groundSpeedWord)) {
            std::puts("dropped");
            continue;
        }
        const int32_t length = ComposeRecords(OutputBuffer, hundredths);
        for (int32_t i = 0; i < length; ++i) {
            std::printf("%02X", static_cast<unsigned char>(OutputBuffer[i]));
        }
        std::putchar('\n');
    }
    return 0;
}
