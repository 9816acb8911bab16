// EGM96's geoid heights from a table the build writes from the model's 15-minute grid (tools/geoid_table.py):
// parallels 0.75 degrees apart, each with nodes about as far apart east-west, 12 bits a node.
#include "sampling/geoid.h"

#include <cmath>
#include <cstdint>

namespace {

struct GeoidParallel {
    uint32_t firstNode; // the node at 180 W
    uint32_t columns;   // nodes evenly around the parallel; one at a pole
};

#include "sampling/geoid_table.inc"

constexpr double kSouthPole = -90.0;
constexpr double kNorthPole = 90.0;
constexpr double kFullCircle = 360.0;
constexpr double kHalfCircle = 180.0;

double NodeMetres(uint32_t node) {
    const uint8_t* pair = kGeoidNodes + node / 2 * 3; // two 12-bit values in three bytes
    const uint32_t units = node % 2 == 0 ? uint32_t{pair[0]} << 4 | uint32_t{pair[1]} >> 4
                                         : (uint32_t{pair[1]} & 0x0F) << 8 | uint32_t{pair[2]};
    return (kGeoidBaseUnits + static_cast<int32_t>(units)) * kGeoidUnit;
}

// Linear between the two nodes of a parallel around `turn`, the part of a circle east of 180 W (0 to 1).
double AlongParallel(int32_t index, double turn) {
    const GeoidParallel& parallel = kGeoidParallel[index];
    const double x = turn * parallel.columns; // below columns: turn is below 1 by at least an ulp
    const uint32_t west = static_cast<uint32_t>(x);
    const uint32_t east = west + 1 == parallel.columns ? 0 : west + 1;
    const double eastShare = x - west;
    return (1.0 - eastShare) * NodeMetres(parallel.firstNode + west) +
           eastShare * NodeMetres(parallel.firstNode + east);
}

} // namespace

// Bilinear: along the parallels south and north of the position, then between them.
double GeoidUndulation(double latitudeDegrees, double longitudeDegrees) {
    if (!std::isfinite(latitudeDegrees) || !std::isfinite(longitudeDegrees)) {
        return std::nan("");
    }
    const double latitude = std::fmin(std::fmax(latitudeDegrees, kSouthPole), kNorthPole);
    const double y = (latitude - kSouthPole) / kGeoidParallelSpacing;
    int32_t south = static_cast<int32_t>(y);
    if (south > kGeoidParallels - 2) {
        south = kGeoidParallels - 2; // the north pole itself
    }
    const double northShare = y - south;
    // The part of a circle east of 180 W: a fractional part, exact, so 0 up to but excluding 1.
    double turn = (longitudeDegrees + kHalfCircle) / kFullCircle;
    turn -= std::floor(turn);
    return (1.0 - northShare) * AlongParallel(south, turn) + northShare * AlongParallel(south + 1, turn);
}
