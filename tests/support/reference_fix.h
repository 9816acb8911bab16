// The example fix the record tests share: 23 March 1994, 12:35:19, 48 07.038' N, 011 31.000' E, 545.45 m,
// 22.45 knots on a true track of 84.45, magnetic heading 80.25 and track 81.3, variation 3.2 W (3.15 with
// RMC's offset), and the attitude values of a gentle left turn; for the network formats the same position in
// degrees, a true heading of 77.1 and 22.4 knots in metres per second; for the glide computers the altitude,
// a vario of -2.5436 m/s and the wind from 270 at 10 knots.
#pragma once

#include "sampling/snapshot.h"
#include "settings/settings.h"

inline void SetReferenceFix(bool sixDecimals) {
    sixDecimalMinutes = sixDecimals ? 1 : 0;
    // clang-format off
    navSnapshot = NavSnapshot{
        'N', 48, 7, 0, 'E', 11, 31, 0,                                   // position
        12, 35, 19, 94, 3, 23,                                           // clock and date
        22.45, 22.45 * 1.852, 84.45, 81.3, 80.25, 3.15, 'W',             // speeds and angles
        545.45, 120.0, -500.7,                                           // altitude, air and vertical speed
        10.0, -20.0, -5.27, 2.41,                                        // attitude
        48.1173, 11.5 + 1.0 / 60, 77.1, 22.4 * 1852 / 3600, -3.2,        // full precision
        545.4, -2.5436, 10.0, 270.0,                                     // and for gliding
    };
    // clang-format on
    navSnapshot.latMinuteFraction = sixDecimals ? 38000 : 380;
}
