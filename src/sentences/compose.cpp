// The cycle's records in their fixed order.
#include "host/linkage.h"
#include "sentences/records.h"
#include "settings/settings.h"

// The fixed order: satellites, position and course, altitude, then the three records that are not NMEA.
int32_t ComposeRecords(int32_t hundredths) {
    int32_t outputLength = 0;
    if (sentenceMask & kSentenceGsa) {
        outputLength = AppendGsa(outputLength);
    }
    if (sentenceMask & kSentenceGsv) {
        outputLength = AppendGsv(outputLength);
    }
    if (sentenceMask & kSentenceRma) {
        outputLength = AppendRma(outputLength);
    }
    if (sentenceMask & kSentenceRmc) {
        outputLength = AppendRmc(outputLength, hundredths);
    }
    if (sentenceMask & kSentenceGll) {
        outputLength = AppendGll(outputLength, hundredths);
    }
    if (sentenceMask & kSentenceVtg) {
        outputLength = AppendVtg(outputLength);
    }
    if (sentenceMask & kSentenceGga) {
        outputLength = AppendGga(outputLength, hundredths);
    }
    if (sentenceMask & kSentencePgrmz) {
        outputLength = AppendPgrmz(outputLength);
    }
    if (sentenceMask & kSentenceAv400) {
        outputLength = AppendAviationBlock(outputLength);
    }
    // The attitude fields are only sampled on generations 1 and 2.
    if ((sentenceMask & kSentenceRpy) && HostGeneration != 0) {
        outputLength = AppendAttitude(outputLength);
    }
    if (sentenceMask & kSentenceGtext) {
        outputLength = AppendTextPosition(outputLength);
    }
    return outputLength;
}
