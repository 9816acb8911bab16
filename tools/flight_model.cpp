#include "flight_model.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadPerDeg = kPi / 180.0;
constexpr double kMetresPerFoot = 0.3048;
constexpr double kMsPerKnot = 1852.0 / 3600.0;
constexpr double kGravity = 9.80665; // m/s^2

constexpr double kMaxTurnRate = 3.0; // deg/s, a standard-rate turn
constexpr double kTurnGain = 0.6;    // deg/s of turn rate per degree of heading error
constexpr double kMaxBank = 30.0;    // deg
constexpr double kRollRate = 8.0;    // deg/s
constexpr double kMaxClimbMs = 1500.0 * kMetresPerFoot / 60.0; // 1500 ft/min
constexpr double kClimbGain = 0.02;                            // m/s of climb per metre of altitude error
constexpr double kClimbChangeMs = 1.0;                         // m/s per second
constexpr double kAirspeedChangeKt = 1.5;                      // kt per second
constexpr double kAngleOfAttack = 2.5;                         // deg, nose above the flight path
constexpr double kCaptureNm = 0.35;                            // a waypoint this close counts as passed

int DaysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int days, int* year, int* month, int* day) {
    days += 719468;
    const int era = (days >= 0 ? days : days - 146096) / 146097;
    const int dayOfEra = days - era * 146097;
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int monthIndex = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

double SignedDegrees(double degrees) {
    const double wrapped = WrapDegrees(degrees);
    return wrapped > 180.0 ? wrapped - 360.0 : wrapped;
}

double Clamp(double value, double low, double high) {
    return value < low ? low : (value > high ? high : value);
}

double MoveToward(double value, double target, double step) {
    return value < target ? std::fmin(value + step, target) : std::fmax(value - step, target);
}

// Flat-earth leg geometry, good to a fraction of a percent over legs of a few tens of miles.
void LegTo(const Aircraft& aircraft, const Waypoint& point, double* distanceNm, double* bearing) {
    const double northNm = (point.latDeg - aircraft.latDeg) * 60.0;
    const double eastNm = SignedDegrees(point.lonDeg - aircraft.lonDeg) * 60.0 *
                          std::cos((point.latDeg + aircraft.latDeg) * 0.5 * kRadPerDeg);
    *distanceNm = std::hypot(northNm, eastNm);
    *bearing = WrapDegrees(std::atan2(eastNm, northNm) / kRadPerDeg);
}

// Ground speed and track from the air vector and the wind.
void UpdateGroundVector(const Route& route, Aircraft* aircraft) {
    const double heading = aircraft->headingTrue * kRadPerDeg;
    const double windTo = (route.windFromDeg + 180.0) * kRadPerDeg;
    const double east = aircraft->airspeedKt * std::sin(heading) + route.windKt * std::sin(windTo);
    const double north = aircraft->airspeedKt * std::cos(heading) + route.windKt * std::cos(windTo);
    aircraft->groundSpeedKt = std::hypot(east, north);
    aircraft->trackTrue = WrapDegrees(std::atan2(east, north) / kRadPerDeg);
}

bool Fail(char* error, size_t errorSize, int line, const char* what) {
    std::snprintf(error, errorSize, "line %d: %s", line, what);
    return false;
}

} // namespace

double WrapDegrees(double degrees) {
    double wrapped = std::fmod(degrees, 360.0);
    if (wrapped < 0.0) {
        wrapped += 360.0;
    }
    return wrapped >= 360.0 ? 0.0 : wrapped;
}

bool ParseRoute(const char* text, Route* route, char* error, size_t errorSize) {
    std::memset(route, 0, sizeof *route);
    route->start.year = 2025;
    route->start.month = 6;
    route->start.day = 21;
    route->start.hour = 14;
    route->start.minute = 30;
    int lineNumber = 0;
    const char* cursor = text;
    while (*cursor != '\0') {
        char line[256];
        size_t length = std::strcspn(cursor, "\r\n");
        ++lineNumber;
        if (length >= sizeof line) {
            return Fail(error, errorSize, lineNumber, "line too long");
        }
        std::memcpy(line, cursor, length);
        line[length] = '\0';
        cursor += length;
        if (*cursor == '\r') {
            ++cursor;
        }
        if (*cursor == '\n') {
            ++cursor;
        }
        line[std::strcspn(line, "#")] = '\0';

        char word[16];
        int consumed = 0;
        if (std::sscanf(line, " %15s%n", word, &consumed) != 1) {
            continue; // blank or comment
        }
        const char* rest = line + consumed;
        char extra[2];
        if (std::strcmp(word, "wp") == 0) {
            if (route->count == kMaxWaypoints) {
                return Fail(error, errorSize, lineNumber, "too many waypoints");
            }
            Waypoint& point = route->points[route->count];
            if (std::sscanf(rest, "%lf %lf %lf %lf %1s", &point.latDeg, &point.lonDeg, &point.altitudeFt,
                            &point.airspeedKt, extra) != 4 ||
                std::fabs(point.latDeg) > 89.0 || std::fabs(point.lonDeg) > 180.0 ||
                point.airspeedKt < 60.0) {
                return Fail(error, errorSize, lineNumber,
                            "expected: wp LAT LON ALT_FT KTAS (|LAT| <= 89, |LON| <= 180, KTAS >= 60)");
            }
            ++route->count;
        } else if (std::strcmp(word, "wind") == 0) {
            if (std::sscanf(rest, "%lf %lf %1s", &route->windFromDeg, &route->windKt, extra) != 2 ||
                route->windKt < 0.0) {
                return Fail(error, errorSize, lineNumber, "expected: wind FROM_DEG KT");
            }
        } else if (std::strcmp(word, "variation") == 0) {
            if (std::sscanf(rest, "%lf %1s", &route->variationDeg, extra) != 1 ||
                std::fabs(route->variationDeg) > 180.0) {
                return Fail(error, errorSize, lineNumber, "expected: variation DEG (east positive)");
            }
        } else if (std::strcmp(word, "start") == 0) {
            if (std::sscanf(rest, "%d-%d-%d %d:%d:%d %1s", &route->start.year, &route->start.month,
                            &route->start.day, &route->start.hour, &route->start.minute, &route->start.second,
                            extra) != 6 ||
                route->start.month < 1 || route->start.month > 12 || route->start.day < 1 ||
                route->start.day > 31 || route->start.hour > 23 || route->start.minute > 59 ||
                route->start.second > 59) {
                return Fail(error, errorSize, lineNumber, "expected: start YYYY-MM-DD HH:MM:SS");
            }
        } else {
            return Fail(error, errorSize, lineNumber, "unknown keyword (wp, wind, variation, start)");
        }
    }
    if (route->count < 2) {
        return Fail(error, errorSize, lineNumber, "a route needs at least two waypoints");
    }
    return true;
}

void StartFlight(const Route& route, Aircraft* aircraft) {
    std::memset(aircraft, 0, sizeof *aircraft);
    const Waypoint& first = route.points[0];
    aircraft->latDeg = first.latDeg;
    aircraft->lonDeg = first.lonDeg;
    aircraft->altitudeM = first.altitudeFt * kMetresPerFoot;
    aircraft->airspeedKt = first.airspeedKt;
    aircraft->nextWaypoint = 1;
    double distance;
    double bearing;
    LegTo(*aircraft, route.points[1], &distance, &bearing);
    aircraft->headingTrue = bearing;
    aircraft->pitchDeg = kAngleOfAttack;
    UpdateGroundVector(route, aircraft);
}

void FlyStep(const Route& route, double seconds, Aircraft* aircraft) {
    const Waypoint* target = &route.points[aircraft->nextWaypoint];
    double distanceNm;
    double bearing;
    LegTo(*aircraft, *target, &distanceNm, &bearing);
    if (distanceNm < kCaptureNm) {
        aircraft->nextWaypoint = (aircraft->nextWaypoint + 1) % route.count;
        ++aircraft->legsFlown;
        target = &route.points[aircraft->nextWaypoint];
        LegTo(*aircraft, *target, &distanceNm, &bearing);
    }

    // Heading that holds the wanted track against the crosswind.
    const double airspeedMs = aircraft->airspeedKt * kMsPerKnot;
    const double crosswind = route.windKt * std::sin((route.windFromDeg - bearing) * kRadPerDeg);
    const double correction = std::asin(Clamp(crosswind / aircraft->airspeedKt, -0.9, 0.9)) / kRadPerDeg;
    const double headingError = SignedDegrees(bearing + correction - aircraft->headingTrue);

    // Coordinated turn: the bank follows the wanted turn rate at a limited roll rate.
    const double wantedRate = Clamp(headingError * kTurnGain, -kMaxTurnRate, kMaxTurnRate);
    const double wantedBank =
        Clamp(std::atan(airspeedMs * wantedRate * kRadPerDeg / kGravity) / kRadPerDeg, -kMaxBank, kMaxBank);
    aircraft->bankDeg = MoveToward(aircraft->bankDeg, wantedBank, kRollRate * seconds);
    const double turnRate = std::tan(aircraft->bankDeg * kRadPerDeg) * kGravity / airspeedMs / kRadPerDeg;
    aircraft->headingTrue = WrapDegrees(aircraft->headingTrue + turnRate * seconds);

    const double wantedClimb = Clamp((target->altitudeFt * kMetresPerFoot - aircraft->altitudeM) * kClimbGain,
                                     -kMaxClimbMs, kMaxClimbMs);
    aircraft->verticalSpeedMs = MoveToward(aircraft->verticalSpeedMs, wantedClimb, kClimbChangeMs * seconds);
    aircraft->altitudeM += aircraft->verticalSpeedMs * seconds;
    aircraft->airspeedKt = MoveToward(aircraft->airspeedKt, target->airspeedKt, kAirspeedChangeKt * seconds);
    aircraft->pitchDeg = std::atan2(aircraft->verticalSpeedMs, airspeedMs) / kRadPerDeg + kAngleOfAttack;

    UpdateGroundVector(route, aircraft);
    const double track = aircraft->trackTrue * kRadPerDeg;
    const double travelledNm = aircraft->groundSpeedKt * seconds / 3600.0;
    aircraft->latDeg += travelledNm * std::cos(track) / 60.0;
    aircraft->lonDeg = SignedDegrees(aircraft->lonDeg + travelledNm * std::sin(track) / 60.0 /
                                                            std::cos(aircraft->latDeg * kRadPerDeg));
}

SimClock ClockAt(const Route& route, double seconds) {
    const long long start = static_cast<long long>(route.start.hour) * 3600 + route.start.minute * 60 +
                            route.start.second + static_cast<long long>(std::floor(seconds));
    const int dayOffset = static_cast<int>(start / 86400);
    const int secondOfDay = static_cast<int>(start % 86400);
    SimClock clock;
    CivilFromDays(DaysFromCivil(route.start.year, route.start.month, route.start.day) + dayOffset,
                  &clock.year, &clock.month, &clock.day);
    clock.dayOfYear = DaysFromCivil(clock.year, clock.month, clock.day) - DaysFromCivil(clock.year, 1, 1);
    clock.hour = secondOfDay / 3600;
    clock.minute = secondOfDay / 60 % 60;
    clock.second = secondOfDay % 60;
    return clock;
}
