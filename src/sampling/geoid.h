// The height of the geoid (mean sea level) above the WGS-84 ellipsoid, from EGM96.
#pragma once

// Metres, positive where sea level lies above the ellipsoid, at a position in degrees (north and east
// positive; any longitude, latitudes beyond the poles held at them); NaN when either is not a number. Reads
// only a table built into the module: no allocation, no call out.
double GeoidUndulation(double latitudeDegrees, double longitudeDegrees);
