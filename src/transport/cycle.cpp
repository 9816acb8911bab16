// One output cycle, on the output thread: the completion check of the previous write, the hundredths of
// the second, the records, the hand-over to the writer and the network text.
#include "transport/cycle.h"

#include "network/network.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"
#include "transport/writer.h"

// Output thread only. -1 matches no seconds value, so the first cycle starts a new second.
int32_t lastSecondsSeen = -1;
DWORD secondStartTick = 0;
uint32_t cycleCount = 0;

namespace {

constexpr int32_t kMaxHundredths = 99;
// The cycle's text for the network while the line's write still reads OutputBuffer; output thread only.
char networkText[kOutputBufferSize];

} // namespace

// Counted from the first cycle that saw this second, rounded to hundredths; unsigned arithmetic survives the
// tick count's wrap. A later cycle in the same second never shows 00, and a second that lasts (a paused
// host clock) stops at 99.
int32_t CycleHundredths(int32_t seconds, DWORD tick) {
    if (seconds != lastSecondsSeen) {
        secondStartTick = tick;
        lastSecondsSeen = seconds;
        return 0;
    }
    const DWORD hundredths = static_cast<DWORD>(tick - secondStartTick + 5u) / 10u;
    if (hundredths == 0) {
        return 1;
    }
    return hundredths > static_cast<DWORD>(kMaxHundredths) ? kMaxHundredths
                                                           : static_cast<int32_t>(hundredths);
}

// While the previous write is still in progress its buffer belongs to it: the line skips this sample, and
// the network's text is composed into storage of its own, so that a slow line costs the line only.
void ComposeCycle(const NavSnapshot& s) {
    cycleCount++;
    const DWORD tick = GetTickCount();
    const bool lineFree = PollPendingWrite();
    if (!(lineFree && LineTakesText()) && !NetworkTakesText()) {
        return;
    }
    const int32_t hundredths = CycleHundredths(s.timeSeconds, tick);
    char* text = lineFree ? OutputBuffer : networkText;
    const int32_t length = ComposeRecords(text, s, hundredths);
    if (lineFree) {
        StartOutputWrite(length);
    }
    SendNetworkText(text, length, tick);
}
