// replay: the cycle text the module composes from host values, for the end-to-end checks. Built for Windows
// from the module's own sources against the stand-in and run under Wine, it computes as the real module
// does; the checks compare what the DLL sent inside the stand-in host with it, byte for byte, while the
// unit tests pin the arithmetic itself to literal texts.
//
// Input, one sample a line: generation, the Sentences and PosTo6Decimal settings as the file holds them,
// hundredths, ground-speed word, then pairs of request id and host value. Output, one line each: the
// cycle's text as hexadecimal, or "dropped".
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
    const char path[] = "C:\\Waypost.ini";
    char line[4096], sentences[256], six[16];
    int generation, hundredths, used;
    unsigned groundSpeedWord;
    while (std::fgets(line, sizeof line, stdin) != nullptr &&
           std::sscanf(line, "%d %255s %15s %d %u%n", &generation, sentences, six, &hundredths,
                       &groundSpeedWord, &used) == 5) {
        standin::Reset();
        HostGeneration = generation;
        standin::SetProfileValue(path, kSettingsSection, "Sentences", sentences);
        standin::SetProfileValue(path, kSettingsSection, "PosTo6Decimal", six);
        LoadSettings(path);
        // One batch is one host generation: the entries it does not read are never given and stay 0.
        char* at = line + used;
        for (long id = std::strtol(at, &at, 10); id != 0; id = std::strtol(at, &at, 10)) {
            const double value = std::strtod(at, &at);
            for (HostVariableRequest& request : requestTable) {
                request.value = request.id == static_cast<uint32_t>(id) ? value : request.value;
            }
        }
        if (!ConvertFlightState(groundSpeedWord)) {
            std::puts("dropped");
            continue;
        }
        const int32_t length = ComposeRecords(OutputBuffer, navSnapshot, hundredths);
        for (int32_t i = 0; i < length; ++i) {
            std::printf("%02X", static_cast<unsigned char>(OutputBuffer[i]));
        }
        std::putchar('\n');
    }
    return 0;
}
