#include "sampling/fix.h"

#include <atomic>
#include <cmath>

#include "host/linkage.h"
#include "platform/fpu.h"
#include "sampling/calendar.h"
#include "sampling/requests.h"
#include "sampling/snapshot.h"
#include "settings/settings.h"

namespace {

// Unit conversions, with pi taken as 3.1415927 where angles are involved.
constexpr double kInverseLatitudeUnits = 9.998250306196415e-08; // 1 / 10001750 units per quarter circle
constexpr double kQuarterCircle = 90.0;
constexpr double kInverseLongitudeUnits = 3.552713678800501e-15; // 2^-48 units per full circle
constexpr double kInverseSpeedUnits = 8.239086966792657e-09;     // 1 / (65536 * 1852): 1/65536 m/s to nm/s
constexpr double kGroundSpeedUnit = 1.0 / 65536.0;               // metres per second
constexpr double kSecondsPerHour = 3600.0;
constexpr double kFeetPerMinutePerMetrePerSecond = 196.8504;
constexpr double kVerticalSpeedUnit = 0.00390625; // 1/256 metre per second
constexpr double kDegreesPerRadian = 57.29577866666166;
constexpr double kMillionthsScale = 1000000.0; // minute fractions with six-decimal minutes on
constexpr double kTenThousandthsScale = 10000.0;
constexpr double kTrackChoiceWind = 2.0; // knots; above it generation 2 takes the host's magnetic track
constexpr double kFullCircle = 360.0;
constexpr double kHalfCircle = 180.0;
constexpr int32_t kYearsPerCentury = 100;

// The selected records that print each value that not every record needs.
constexpr SentenceMask kAltitudeRecords =
    kSentenceGga | kSentencePgrmz | kSentenceAv400 | kSentenceGtext | kSentenceRpy;
constexpr SentenceMask kDateRecords = kSentenceRmc | kSentenceGtext;

// The value of a role, noting in *finite whether every value used so far is a real number. The position,
// clock, speed and tracks depend on these.
double UsedValue(RequestRole role, bool* finite) {
    const double value = RequestValue(role);
    if (!std::isfinite(value)) {
        *finite = false;
    }
    return value;
}

// A value that only some records print: one that is not a real number drops the sample when a selected
// record of the line prints it; otherwise it is kept as NaN, which the network records and the glide
// computers' sentences send as their "no data" or leave out, so that it cannot stop the outputs that do not
// show it.
double PrintedValue(RequestRole role, bool printed, bool* finite) {
    const double value = RequestValue(role);
    if (std::isfinite(value)) {
        return value;
    }
    *finite = *finite && !printed;
    return std::nan("");
}

// Whole degrees, whole minutes and the fraction of the minute in units of 1/scale minute, each truncated.
void SplitDegrees(double degrees, double scale, int32_t* whole, int32_t* minutes, int32_t* fraction) {
    *whole = TruncateToInt32(degrees);
    const double minutesValue = (degrees - *whole) * kMinutesPerDegree;
    *minutes = TruncateToInt32(minutesValue);
    *fraction = TruncateToInt32((minutesValue - *minutes) * scale);
}

// An angle above 180 stands for a negative one.
double FoldAngle(double degrees) {
    return degrees > kHalfCircle ? degrees - kFullCircle : degrees;
}

double Clamp(double value, double limit) {
    if (value < -limit) {
        return -limit;
    }
    return value > limit ? limit : value;
}

// Into 0 up to but excluding 360 for values within one turn of that range.
double WrapBearing(double degrees) {
    if (degrees < 0.0) {
        degrees += kFullCircle;
    }
    if (degrees >= kFullCircle) {
        degrees -= kFullCircle;
    }
    return degrees;
}

// The true track: the heading corrected by the drift angle of the wind triangle (sine rule: the sine of the
// drift is the wind speed times the sine of the wind angle over the ground speed). Below 1 knot, or when the
// wind is too strong for a triangle to exist (sine above 1, e.g. while taxiing), the track stays the heading.
double DriftCorrectedTrack(double heading, double variation, double groundSpeed, bool* finite) {
    if (TruncateToInt32(groundSpeed) == 0) {
        return heading;
    }
    double windAngle = UsedValue(kWindDirection, finite) - variation - kHalfCircle;
    if (windAngle < 0.0) {
        windAngle += kFullCircle;
    }
    double offHeading = windAngle - heading;
    bool windOnRight = true;
    if (offHeading < 0.0) {
        offHeading = -offHeading;
        windOnRight = false;
    }
    if (offHeading > kHalfCircle) {
        offHeading = kFullCircle - offHeading;
        windOnRight = !windOnRight;
    }
    const double sine = std::sin((kHalfCircle - offHeading) * kRadiansPerDegree) *
                        UsedValue(kWindSpeed, finite) / groundSpeed;
    if (!(std::fabs(sine) <= 1.0)) {
        return heading;
    }
    const double drift = ArcSine(sine) * kDegreesPerRadian;
    double track = heading + (windOnRight ? drift : -drift);
    if (track <= 0.0) {
        track += kFullCircle;
    }
    if (track > kFullCircle) {
        track -= kFullCircle;
    }
    return track;
}

} // namespace

// Computes into a copy and publishes it whole, so a sample with a non-finite value changes nothing. On
// generation 0 the copy keeps the attitude fields as they were.
bool ConvertFlightState(uint32_t groundSpeedWord) {
    bool finite = true;
    NavSnapshot s = navSnapshot;
    const double scale = sixDecimalMinutes ? kMillionthsScale : kTenThousandthsScale;
    // The attitude sentence alone of the line's records prints airspeed, vertical speed and attitude.
    const bool rpy = (sentenceMask & kSentenceRpy) != 0;

    const double latitude = UsedValue(kLatitude, &finite);
    s.latHemisphere = latitude >= 0.0 ? 'N' : 'S';
    const double latitudeMagnitude = std::fabs(latitude) * kQuarterCircle * kInverseLatitudeUnits;
    SplitDegrees(latitudeMagnitude, scale, &s.latDegrees, &s.latMinutes, &s.latMinuteFraction);
    s.latitudeDegrees = latitude >= 0.0 ? latitudeMagnitude : -latitudeMagnitude;

    // 180 degrees west counts as 180 east.
    double longitude = UsedValue(kLongitude, &finite) * kFullCircle * kInverseLongitudeUnits;
    if (longitude < 0.0) {
        longitude += kFullCircle;
    }
    s.lonHemisphere = 'E';
    if (longitude > kHalfCircle) {
        s.lonHemisphere = 'W';
        longitude = kFullCircle - longitude;
    }
    SplitDegrees(longitude, scale, &s.lonDegrees, &s.lonMinutes, &s.lonMinuteFraction);
    s.longitudeDegrees = s.lonHemisphere == 'E' ? longitude : -longitude;

    s.timeHours = TruncateToInt32(UsedValue(kClockHour, &finite));
    s.timeMinutes = TruncateToInt32(UsedValue(kClockMinute, &finite));
    s.timeSeconds = TruncateToInt32(UsedValue(kClockSecond, &finite));

    const double knots = static_cast<double>(groundSpeedWord) * kSecondsPerHour * kInverseSpeedUnits;
    s.groundSpeedMs = static_cast<double>(groundSpeedWord) * kGroundSpeedUnit;
    s.airspeedValue = PrintedValue(kAirspeed, rpy, &finite);
    const double verticalSpeed = PrintedValue(kVerticalSpeed, rpy, &finite);
    s.verticalSpeedFpm = verticalSpeed * kFeetPerMinutePerMetrePerSecond * kVerticalSpeedUnit;
    s.verticalSpeedMs = verticalSpeed * kVerticalSpeedUnit;
    // Only LXWP0 prints the wind as read, leaving its fields empty without it; the drift uses it as well.
    s.windSpeedKnots = PrintedValue(kWindSpeed, false, &finite);
    s.windFromDegrees = PrintedValue(kWindDirection, false, &finite);

    if (HostGeneration != 0) {
        s.attitudeA127 = Clamp(PrintedValue(kAttitudeA, rpy, &finite), kAttitudeALimit);
        s.attitudeB119 = Clamp(PrintedValue(kAttitudeB, rpy, &finite), kAttitudeBLimit);
        s.bankDegrees = FoldAngle(PrintedValue(kBankAngle, rpy, &finite));
        s.pitchDegrees = FoldAngle(PrintedValue(kPitchAngle, rpy, &finite));
    }

    // The variation as a bearing, 0 to below 360.
    double variation = UsedValue(kMagneticVariation, &finite);
    if (variation < 0.0) {
        variation += kFullCircle;
    }

    // fmod instead of repeated subtraction, so that a huge heading cannot stall the host's frame; exact, and
    // the same result for every heading that subtraction would reach. North is 360, not 0.
    double heading = UsedValue(kTrueHeading, &finite);
    if (heading >= kFullCircle) {
        heading = std::fmod(heading, kFullCircle);
    }
    if (heading == 0.0) {
        heading = kFullCircle;
    }
    s.headingTrue = heading;
    s.headingMagnetic = heading - variation;
    if (s.headingMagnetic < 0.0) {
        s.headingMagnetic += kFullCircle;
    }

    s.trackTrue = DriftCorrectedTrack(heading, variation, knots, &finite);
    s.trackMagnetic = WrapBearing(s.trackTrue - variation);

    if (HostGeneration == 2 && UsedValue(kWindSpeed, &finite) > kTrackChoiceWind) {
        s.trackMagnetic = UsedValue(kMagneticTrack, &finite) * kDegreesPerRadian;
        s.trackTrue = WrapBearing(s.trackMagnetic + variation);
    }

    s.variationEast = FoldAngle(variation);
    s.magVariationSide = 'E';
    s.groundSpeedKnots = knots + kTenthRounding;
    s.groundSpeedKmh = s.groundSpeedKnots * kKmhPerKnot;
    // The offset goes on before the fold, so a west variation ends 0.05 below its magnitude.
    s.magVariation = variation + kTenthRounding;
    if (s.magVariation > kHalfCircle) {
        s.magVariationSide = 'W';
        s.magVariation = kFullCircle - s.magVariation;
    }
    s.altitudeMsl = PrintedValue(kAltitude, (sentenceMask & kAltitudeRecords) != 0, &finite);
    s.altitudeMetres = s.altitudeMsl + kTenthRounding;

    const bool datePrinted = (sentenceMask & kDateRecords) != 0;
    const int32_t year = TruncateToInt32(PrintedValue(kClockYear, datePrinted, &finite));
    s.dateYear2 = year % kYearsPerCentury;
    DayOfYearToDate(TruncateToInt32(PrintedValue(kClockDayOfYear, datePrinted, &finite)), year, &s.dateMonth,
                    &s.dateDay);

    if (!finite) {
        return false;
    }
    navSnapshot = s;
    return true;
}

// See fix.h.
std::atomic<int32_t> sampleRequested{0};
std::atomic<int32_t> dataReady{0};

// Host's thread only, read at shut-down.
uint32_t samplesTaken = 0;
uint32_t samplesDropped = 0;
uint32_t samplesWaiting = 0;

// Stops before touching the host when a service it needs is absent, or while a generation-0 host is not
// ready; sampling resumes with the next request.
void SampleFlightState(void) {
    sampleRequested.store(0);
    dataReady.store(0);
    const void* globalData = ServicePointer(kRowGlobalData);
    const void* variableService = ServicePointer(kRowVariables);
    if (globalData == nullptr || variableService == nullptr ||
        (HostGeneration == 0 && HostWord(globalData, kReadyWordOffset) == 0)) {
        samplesWaiting++;
        return;
    }
    RegisterAndReadVariables(variableService);
    if (!ConvertFlightState(HostWord(globalData, kGroundSpeedWordOffset))) {
        samplesDropped++;
        return;
    }
    samplesTaken++;
    dataReady.store(1, std::memory_order_release);
}
