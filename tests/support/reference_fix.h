// The example fix the record tests share: 23 March 1994, 12:35:19, 48 07.038' N, 011 31.000' E, 545.45 m,
// 22.45 knots on a true track of 84.45, magnetic heading 80.25 and track 81.3, variation 3.15 W, and the
// attitude values of a gentle left turn.
#pragma once

#include "sampling/snapshot.h"
#include "settings/settings.h"

inline void SetReferenceFix(bool sixDecimals) {
    sixDecimalMinutes = sixDecimals ? 1 : 0;
    NavSnapshot& s = navSnapshot;
    s = NavSnapshot{};
    s.dateYear2 = 94;
    s.dateMonth = 3;
    s.dateDay = 23;
    s.timeHours = 12;
    s.timeMinutes = 35;
    s.timeSeconds = 19;
    s.latHemisphere = 'N';
    s.latDegrees = 48;
    s.latMinutes = 7;
    s.latMinuteFraction = sixDecimals ? 38000 : 380;
    s.lonHemisphere = 'E';
    s.lonDegrees = 11;
    s.lonMinutes = 31;
    s.lonMinuteFraction = 0;
    s.groundSpeedKnots = 22.45;
    s.groundSpeedKmh = 22.45 * 1.852;
    s.trackTrue = 84.45;
    s.trackMagnetic = 81.3;
    s.headingMagnetic = 80.25;
    s.magVariation = 3.15;
    s.magVariationSide = 'W';
    s.altitudeMetres = 545.45;
    s.airspeedValue = 120.0;
    s.verticalSpeedFpm = -500.7;
    s.bankDegrees = -5.27;
    s.pitchDegrees = 2.41;
    s.attitudeA127 = 10.0;
    s.attitudeB119 = -20.0;
}
