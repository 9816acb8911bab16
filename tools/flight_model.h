// The stand-in host's aircraft: a route of waypoints flown at a set airspeed in a steady wind, with
// coordinated turns, climbs and descents, and the simulator's clock. Plain arithmetic, no platform calls.
#pragma once

#include <cstddef>

constexpr int kMaxWaypoints = 64;

struct Waypoint {
    double latDeg;     // north positive
    double lonDeg;     // east positive, -180..180
    double altitudeFt; // target altitude on the leg to this point
    double airspeedKt; // true airspeed on the leg to this point
};

struct Route {
    Waypoint points[kMaxWaypoints];
    int count;
    double windFromDeg;  // direction the wind comes from, degrees true
    double windKt;       // wind speed, knots
    double variationDeg; // magnetic variation, east positive
    // The simulator's clock when the host starts (UTC, no time zone).
    struct {
        int year, month, day, hour, minute, second;
    } start;
};

struct Aircraft {
    double latDeg, lonDeg;
    double altitudeM;
    double verticalSpeedMs; // positive up
    double headingTrue;     // degrees, 0 up to below 360
    double airspeedKt;      // true airspeed
    double bankDeg;         // positive right wing down
    double pitchDeg;        // positive nose up
    double groundSpeedKt;
    double trackTrue; // ground track, degrees, 0 up to below 360
    int nextWaypoint; // index of the waypoint being flown to
    int legsFlown;    // waypoints passed so far
};

struct SimClock {
    int year;
    int month;
    int day;
    int dayOfYear; // 0 is 1 January
    int hour, minute, second;
};

// Reads a route text: lines "wp LAT LON ALT_FT KTAS", "wind FROM_DEG KT", "variation DEG",
// "start YYYY-MM-DD HH:MM:SS"; "#" starts a comment. At least two waypoints; the route is flown in a loop.
// Returns false and describes the first fault in error.
bool ParseRoute(const char* text, Route* route, char* error, size_t errorSize);

// Puts the aircraft over the first waypoint, at its altitude and airspeed, heading for the second.
void StartFlight(const Route& route, Aircraft* aircraft);

// Advances the aircraft by seconds of flight.
void FlyStep(const Route& route, double seconds, Aircraft* aircraft);

// The simulator's clock a number of seconds after the route's start time.
SimClock ClockAt(const Route& route, double seconds);

// Wraps an angle into 0 up to below 360 degrees.
double WrapDegrees(double degrees);
