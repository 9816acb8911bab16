// The NMEA 0183 sentences. Each appender formats its sentence at `length` and closes it with the checksum;
// the one-decimal fields print "%s%d.%d" from ToOneDecimal so that values between -1 and 0 keep their "-".
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"

// $GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B
int32_t AppendGsa(int32_t length) {
    return AppendChecksum(length, FormatAt(length, "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3"));
}

// $GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B
// $GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74
int32_t AppendGsv(int32_t length) {
    const int32_t second = AppendChecksum(
        length, FormatAt(length, "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49"));
    return AppendChecksum(
        second, FormatAt(second, "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49"));
}

// $GPRMA,A,4807.038000,N,01131.000000,E,0.0,0.0,22.4,84.4,3.1,W*6A
int32_t AppendRma(int32_t length) {
    const NavSnapshot& s = navSnapshot;
    const OneDecimal speed = ToOneDecimal(s.groundSpeedKnots);
    const OneDecimal track = ToOneDecimal(s.trackTrue);
    const OneDecimal variation = ToOneDecimal(s.magVariation);
    const int32_t end = FormatAt(
        length,
        sixDecimalMinutes ? "$GPRMA,A,%02d%02d.%06d,%c,%03d%02d.%06d,%c,0.0,0.0,%s%d.%d,%s%d.%d,%s%d.%d,%c"
                          : "$GPRMA,A,%02d%02d.%04d,%c,%03d%02d.%04d,%c,0.0,0.0,%s%d.%d,%s%d.%d,%s%d.%d,%c",
        s.latDegrees, s.latMinutes, s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes,
        s.lonMinuteFraction, s.lonHemisphere, speed.sign, speed.whole, speed.tenths, track.sign, track.whole,
        track.tenths, variation.sign, variation.whole, variation.tenths, s.magVariationSide);
    return AppendChecksum(length, end);
}

// $GPRMC,123519.00,A,4807.038000,N,01131.000000,E,22.4,84.4,230394,3.1,W*44
int32_t AppendRmc(int32_t length, int32_t hundredths) {
    const NavSnapshot& s = navSnapshot;
    const OneDecimal speed = ToOneDecimal(s.groundSpeedKnots);
    const OneDecimal track = ToOneDecimal(s.trackTrue);
    const OneDecimal variation = ToOneDecimal(s.magVariation);
    const int32_t end = FormatAt(
        length,
        sixDecimalMinutes
            ? "$GPRMC,%02d%02d%02d.%02d,A,%02d%02d.%06d,%c,%03d%02d.%06d,%c,%s%d.%d,%s%d.%d,%02d%02d%02d,"
              "%s%d.%d,%c"
            : "$GPRMC,%02d%02d%02d.%02d,A,%02d%02d.%04d,%c,%03d%02d.%04d,%c,%s%d.%d,%s%d.%d,%02d%02d%02d,"
              "%s%d.%d,%c",
        s.timeHours, s.timeMinutes, s.timeSeconds, hundredths, s.latDegrees, s.latMinutes,
        s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes, s.lonMinuteFraction,
        s.lonHemisphere, speed.sign, speed.whole, speed.tenths, track.sign, track.whole, track.tenths,
        s.dateDay, s.dateMonth, s.dateYear2, variation.sign, variation.whole, variation.tenths,
        s.magVariationSide);
    return AppendChecksum(length, end);
}

// $GPGLL,4807.038000,N,01131.000000,E,123519.00,A*0B
int32_t AppendGll(int32_t length, int32_t hundredths) {
    const NavSnapshot& s = navSnapshot;
    const int32_t end =
        FormatAt(length,
                 sixDecimalMinutes ? "$GPGLL,%02d%02d.%06d,%c,%03d%02d.%06d,%c,%02d%02d%02d.%02d,A"
                                   : "$GPGLL,%02d%02d.%04d,%c,%03d%02d.%04d,%c,%02d%02d%02d.%02d,A",
                 s.latDegrees, s.latMinutes, s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes,
                 s.lonMinuteFraction, s.lonHemisphere, s.timeHours, s.timeMinutes, s.timeSeconds, hundredths);
    return AppendChecksum(length, end);
}

// $GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48 (the magnetic course is the heading, not the magnetic track)
int32_t AppendVtg(int32_t length) {
    const OneDecimal track = ToOneDecimal(navSnapshot.trackTrue);
    const OneDecimal heading = ToOneDecimal(navSnapshot.headingMagnetic);
    const OneDecimal knots = ToOneDecimal(navSnapshot.groundSpeedKnots);
    const OneDecimal kmh = ToOneDecimal(navSnapshot.groundSpeedKmh);
    const int32_t end = FormatAt(length, "$GPVTG,%s%d.%d,T,%s%d.%d,M,%s%d.%d,N,%s%d.%d,K", track.sign,
                                 track.whole, track.tenths, heading.sign, heading.whole, heading.tenths,
                                 knots.sign, knots.whole, knots.tenths, kmh.sign, kmh.whole, kmh.tenths);
    return AppendChecksum(length, end);
}

// $GPGGA,123519.00,4807.038000,N,01131.000000,E,1,05,0.0,545.4,M,,,,*35
int32_t AppendGga(int32_t length, int32_t hundredths) {
    const NavSnapshot& s = navSnapshot;
    const OneDecimal altitude = ToOneDecimal(s.altitudeMetres);
    const int32_t end =
        FormatAt(length,
                 sixDecimalMinutes
                     ? "$GPGGA,%02d%02d%02d.%02d,%02d%02d.%06d,%c,%03d%02d.%06d,%c,1,05,0.0,%s%d.%d,M,,,,"
                     : "$GPGGA,%02d%02d%02d.%02d,%02d%02d.%04d,%c,%03d%02d.%04d,%c,1,05,0.0,%s%d.%d,M,,,,",
                 s.timeHours, s.timeMinutes, s.timeSeconds, hundredths, s.latDegrees, s.latMinutes,
                 s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes, s.lonMinuteFraction,
                 s.lonHemisphere, altitude.sign, altitude.whole, altitude.tenths);
    return AppendChecksum(length, end);
}

// $PGRMZ,1000.2,f,2*37 (feet rounded to the tenth on top of the metres' own rounding)
int32_t AppendPgrmz(int32_t length) {
    const OneDecimal feet = ToOneDecimal(navSnapshot.altitudeMetres * kFeetPerMetre + kTenthRounding);
    return AppendChecksum(length, FormatAt(length, "$PGRMZ,%s%d.%d,f,2", feet.sign, feet.whole, feet.tenths));
}
