// The cycle's records in their fixed order.
#include "host/linkage.h"
#include "sentences/records.h"
#include "settings/settings.h"

// The fixed order: satellites, position and course, altitude, the three records that are not NMEA, then
// the heading sentences.
int32_t ComposeRecords(char* text, int32_t hundredths) {
    int32_t outputLength = 0;
    if (sentenceMask & kSentenceGsa) {
        outputLength = AppendGsa(text, outputLength);
    }
    if (sentenceMask & kSentenceGsv) {
        outputLength = AppendGsv(text, outputLength);
    }
    if (sentenceMask & kSentenceRma) {
        outputLength = AppendRma(text, outputLength);
    }
    if (sentenceMask & kSentenceRmc) {
        outputLength = AppendRmc(text, outputLength, hundredths);
    }
    if (sentenceMask & kSentenceGll) {
        outputLength = AppendGll(text, outputLength, hundredths);
    }
    if (sentenceMask & kSentenceVtg) {
        outputLength = AppendVtg(text, outputLength);
    }
    if (sentenceMask & kSentenceGga) {
        outputLength = AppendGga(text, outputLength, hundredths);
    }
    if (sentenceMask & kSentencePgrmz) {
        outputLength = AppendPgrmz(text, outputLength);
    }
    if (sentenceMask & kSentenceAv400) {
        outputLength = AppendAviationBlock(text, outputLength);
    }
    // The attitude fields are only sampled on generations 1 and 2.
    if ((sentenceMask & kSentenceRpy) && HostGeneration != 0) {
        outputLength = AppendAttitude(text, outputLength);
    }
    if (sentenceMask & kSentenceGtext) {
        outputLength = AppendTextPosition(text, outputLength);
    }
    if (sentenceMask & kSentenceHdt) {
        outputLength = AppendHdt(text, outputLength);
    }
    if (sentenceMask & kSentenceHdm) {
        outputLength = AppendHdm(text, outputLength);
    }
    if (sentenceMask & kSentenceHdg) {
        outputLength = AppendHdg(text, outputLength);
    }
    return outputLength;
}
