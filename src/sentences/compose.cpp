// The cycle's records in their fixed order.
#include "host/linkage.h"
#include "sentences/records.h"
#include "settings/settings.h"

// The fixed order: satellites, position and course, altitude, the three records that are not NMEA, the
// heading sentences, then the glide computers' sentences.
int32_t ComposeRecords(char* text, const NavSnapshot& s, int32_t hundredths) {
    int32_t outputLength = 0;
    if (sentenceMask & kSentenceGsa) {
        outputLength = AppendGsa(text, outputLength);
    }
    if (sentenceMask & kSentenceGsv) {
        outputLength = AppendGsv(text, outputLength);
    }
    if (sentenceMask & kSentenceRma) {
        outputLength = AppendRma(text, outputLength, s);
    }
    if (sentenceMask & kSentenceRmc) {
        outputLength = AppendRmc(text, outputLength, s, hundredths);
    }
    if (sentenceMask & kSentenceGll) {
        outputLength = AppendGll(text, outputLength, s, hundredths);
    }
    if (sentenceMask & kSentenceVtg) {
        outputLength = AppendVtg(text, outputLength, s);
    }
    if (sentenceMask & kSentenceGga) {
        outputLength = AppendGga(text, outputLength, s, hundredths);
    }
    if (sentenceMask & kSentencePgrmz) {
        outputLength = AppendPgrmz(text, outputLength, s);
    }
    if (sentenceMask & kSentenceAv400) {
        outputLength = AppendAviationBlock(text, outputLength, s);
    }
    // The attitude fields are only sampled on generations 1 and 2.
    if ((sentenceMask & kSentenceRpy) && HostGeneration != 0) {
        outputLength = AppendAttitude(text, outputLength, s);
    }
    if (sentenceMask & kSentenceGtext) {
        outputLength = AppendTextPosition(text, outputLength, s);
    }
    if (sentenceMask & kSentenceHdt) {
        outputLength = AppendHdt(text, outputLength, s);
    }
    if (sentenceMask & kSentenceHdm) {
        outputLength = AppendHdm(text, outputLength, s);
    }
    if (sentenceMask & kSentenceHdg) {
        outputLength = AppendHdg(text, outputLength, s);
    }
    if (sentenceMask & kSentenceLk8ex1) {
        outputLength = AppendLk8ex1(text, outputLength, s);
    }
    if (sentenceMask & kSentenceLxwp0) {
        outputLength = AppendLxwp0(text, outputLength, s);
    }
    return outputLength;
}
