// The NMEA 0183 sentences. Each appender formats its sentence at `length` and closes it with the checksum;
// the one-decimal fields print "%s%d.%d" from ToOneDecimal so that values between -1 and 0 keep their "-".
// The heading sentences, read by map programs, round to the tenth instead.
#include <cstdint>

#include "sampling/snapshot.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "settings/settings.h"

// $GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B
int32_t AppendGsa(char* text, int32_t length) {
    return AppendChecksum(text, length,
                          FormatAt(text, length, "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3"));
}

// $GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B
// $GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74
int32_t AppendGsv(char* text, int32_t length) {
    const int32_t second = AppendChecksum(
        text, length,
        FormatAt(text, length, "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49"));
    return AppendChecksum(
        text, second,
        FormatAt(text, second, "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49"));
}

// $GPRMA,A,4807.038000,N,01131.000000,E,0.0,0.0,22.4,84.4,3.1,W*6A
int32_t AppendRma(char* text, int32_t length, const NavSnapshot& s) {
    const OneDecimal speed = ToOneDecimal(s.groundSpeedKnots);
    const OneDecimal track = ToOneDecimal(s.trackTrue);
    const OneDecimal variation = ToOneDecimal(s.magVariation);
    const int32_t end = FormatAt(
        text, length,
        sixDecimalMinutes ? "$GPRMA,A,%02d%02d.%06d,%c,%03d%02d.%06d,%c,0.0,0.0,%s%d.%d,%s%d.%d,%s%d.%d,%c"
                          : "$GPRMA,A,%02d%02d.%04d,%c,%03d%02d.%04d,%c,0.0,0.0,%s%d.%d,%s%d.%d,%s%d.%d,%c",
        s.latDegrees, s.latMinutes, s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes,
        s.lonMinuteFraction, s.lonHemisphere, speed.sign, speed.whole, speed.tenths, track.sign, track.whole,
        track.tenths, variation.sign, variation.whole, variation.tenths, s.magVariationSide);
    return AppendChecksum(text, length, end);
}

// $GPRMC,123519.00,A,4807.038000,N,01131.000000,E,22.4,84.4,230394,3.1,W*44
int32_t AppendRmc(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths) {
    const OneDecimal speed = ToOneDecimal(s.groundSpeedKnots);
    const OneDecimal track = ToOneDecimal(s.trackTrue);
    const OneDecimal variation = ToOneDecimal(s.magVariation);
    const int32_t end = FormatAt(
        text, length,
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
    return AppendChecksum(text, length, end);
}

// $GPGLL,4807.038000,N,01131.000000,E,123519.00,A*0B
int32_t AppendGll(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths) {
    const int32_t end =
        FormatAt(text, length,
                 sixDecimalMinutes ? "$GPGLL,%02d%02d.%06d,%c,%03d%02d.%06d,%c,%02d%02d%02d.%02d,A"
                                   : "$GPGLL,%02d%02d.%04d,%c,%03d%02d.%04d,%c,%02d%02d%02d.%02d,A",
                 s.latDegrees, s.latMinutes, s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes,
                 s.lonMinuteFraction, s.lonHemisphere, s.timeHours, s.timeMinutes, s.timeSeconds, hundredths);
    return AppendChecksum(text, length, end);
}

// $GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48 (the magnetic course is the heading, not the magnetic track)
int32_t AppendVtg(char* text, int32_t length, const NavSnapshot& s) {
    const OneDecimal track = ToOneDecimal(s.trackTrue);
    const OneDecimal heading = ToOneDecimal(s.headingMagnetic);
    const OneDecimal knots = ToOneDecimal(s.groundSpeedKnots);
    const OneDecimal kmh = ToOneDecimal(s.groundSpeedKmh);
    const int32_t end = FormatAt(text, length, "$GPVTG,%s%d.%d,T,%s%d.%d,M,%s%d.%d,N,%s%d.%d,K", track.sign,
                                 track.whole, track.tenths, heading.sign, heading.whole, heading.tenths,
                                 knots.sign, knots.whole, knots.tenths, kmh.sign, kmh.whole, kmh.tenths);
    return AppendChecksum(text, length, end);
}

// $GPGGA,123519.00,4807.038000,N,01131.000000,E,1,05,0.0,545.4,M,,,,*35
int32_t AppendGga(char* text, int32_t length, const NavSnapshot& s, int32_t hundredths) {
    const OneDecimal altitude = ToOneDecimal(s.altitudeMetres);
    const int32_t end =
        FormatAt(text, length,
                 sixDecimalMinutes
                     ? "$GPGGA,%02d%02d%02d.%02d,%02d%02d.%06d,%c,%03d%02d.%06d,%c,1,05,0.0,%s%d.%d,M,,,,"
                     : "$GPGGA,%02d%02d%02d.%02d,%02d%02d.%04d,%c,%03d%02d.%04d,%c,1,05,0.0,%s%d.%d,M,,,,",
                 s.timeHours, s.timeMinutes, s.timeSeconds, hundredths, s.latDegrees, s.latMinutes,
                 s.latMinuteFraction, s.latHemisphere, s.lonDegrees, s.lonMinutes, s.lonMinuteFraction,
                 s.lonHemisphere, altitude.sign, altitude.whole, altitude.tenths);
    return AppendChecksum(text, length, end);
}

// $PGRMZ,1000.2,f,2*37 (feet rounded to the tenth on top of the metres' own rounding)
int32_t AppendPgrmz(char* text, int32_t length, const NavSnapshot& s) {
    const OneDecimal feet = ToOneDecimal(s.altitudeMetres * kFeetPerMetre + kTenthRounding);
    return AppendChecksum(text, length,
                          FormatAt(text, length, "$PGRMZ,%s%d.%d,f,2", feet.sign, feet.whole, feet.tenths));
}

namespace {

// A heading rounded to the nearest tenth; one that rounds to a full circle is north, 0.0.
Decimal HeadingTenths(double degrees) {
    Decimal heading = ToDecimal(degrees, 1);
    if (heading.whole == 360 && heading.fraction == 0) {
        heading.whole = 0;
    }
    return heading;
}

} // namespace

// $GPHDT,72.4,T*04
int32_t AppendHdt(char* text, int32_t length, const NavSnapshot& s) {
    const Decimal heading = HeadingTenths(s.headingTrue);
    return AppendChecksum(
        text, length,
        FormatAt(text, length, "$GPHDT,%s%d.%d,T", heading.sign, heading.whole, heading.fraction));
}

// $HCHDM,74.3,M*19
int32_t AppendHdm(char* text, int32_t length, const NavSnapshot& s) {
    const Decimal heading = HeadingTenths(s.headingMagnetic);
    return AppendChecksum(
        text, length,
        FormatAt(text, length, "$HCHDM,%s%d.%d,M", heading.sign, heading.whole, heading.fraction));
}

// $HCHDG,74.3,,,1.9,W*03: no deviation; the variation rounded to the tenth as the headings are (not as RMC
// prints it), so that HDT is HDM plus an east variation, or minus a west one, to within 0.1
int32_t AppendHdg(char* text, int32_t length, const NavSnapshot& s) {
    const Decimal heading = HeadingTenths(s.headingMagnetic);
    const Decimal variation = ToDecimal(s.variationEast, 1);
    return AppendChecksum(text, length,
                          FormatAt(text, length, "$HCHDG,%s%d.%d,,,%d.%d,%c", heading.sign, heading.whole,
                                   heading.fraction, variation.whole, variation.fraction,
                                   variation.sign[0] == '-' ? 'W' : 'E'));
}
