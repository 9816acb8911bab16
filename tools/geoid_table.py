#!/usr/bin/env python3
"""Writes the module's geoid table (src/sampling/geoid.cpp includes it) from EGM96's 15-minute grid in PROJ's
GTX format (Debian's proj-data: /usr/share/proj/egm96_15.gtx). Run by the build; Python 3 standard library.

The table keeps every third parallel of the grid (0.75 degrees apart, pole to pole). Along each parallel it
keeps every k-th node of the grid, k the divisor of the grid's 1440 columns nearest (by ratio) to
3 / cos(latitude), so that its nodes lie about as far apart east-west as the parallels north-south and are
nodes of the grid themselves; a pole is one node. Each node holds the grid's value in 12 bits, two nodes in three bytes.

  geoid_table.py GRID OUT
"""

import math
import struct
import sys

GRID_COLUMNS, GRID_ROWS, GRID_SPACING = 1440, 721, 0.25  # degrees; rows from the south pole, columns from 180 W
ROW_STEP = 3  # grid rows between the table's parallels
UNIT = 0.05  # metres per unit of a stored value
VALUE_BITS = 12


def read_grid(path):
    """The grid's values, a row a list from south to north, each from 180 W eastward. Fails unless the header
    is the whole-globe 15-minute grid the table is laid out for."""
    with open(path, "rb") as grid:
        data = grid.read()
    header = struct.unpack(">4d2i", data[:40])
    if header != (-90.0, -180.0, GRID_SPACING, GRID_SPACING, GRID_ROWS, GRID_COLUMNS):
        sys.exit("geoid_table.py: %s is not EGM96's 15-minute grid (header %s)" % (path, header))
    values = struct.unpack(">%df" % (GRID_ROWS * GRID_COLUMNS), data[40:40 + 4 * GRID_ROWS * GRID_COLUMNS])
    return [values[row * GRID_COLUMNS:(row + 1) * GRID_COLUMNS] for row in range(GRID_ROWS)]


def column_step(latitude):
    """The grid columns between two nodes of the table's parallel at this latitude."""
    ideal = ROW_STEP / max(math.cos(math.radians(latitude)), 1e-9)
    divisors = [k for k in range(1, GRID_COLUMNS + 1) if GRID_COLUMNS % k == 0]
    return min(divisors, key=lambda k: abs(math.log(k / ideal)))


def pack(units):
    """12-bit values, two in three bytes: the first's high 8 bits, its low 4 and the second's high 4, the
    second's low 8."""
    units = units + [0] * (len(units) % 2)
    packed = bytearray()
    for first, second in zip(units[::2], units[1::2]):
        packed += bytes([first >> 4, (first & 0x0F) << 4 | second >> 8, second & 0xFF])
    return packed


def table(grid):
    """(rows, units, base): rows as (first node, columns), each node's value in units above base units."""
    rows, levels = [], []
    for row in range(0, GRID_ROWS, ROW_STEP):
        step = column_step(-90.0 + row * GRID_SPACING)
        rows.append((len(levels), GRID_COLUMNS // step))
        levels += [round(value / UNIT) for value in grid[row][::step]]
    base = min(levels)
    units = [level - base for level in levels]
    if max(units) >= 1 << VALUE_BITS:
        sys.exit("geoid_table.py: the grid spans %.2f m, more than %d bits of %g m" % (
            (max(units)) * UNIT, VALUE_BITS, UNIT))
    return rows, units, base


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rows, units, base = table(read_grid(sys.argv[1]))
    packed = pack(units)
    lines = ["// EGM96 geoid heights, written by tools/geoid_table.py from %s: %d nodes on %d parallels, %d bytes."
             % (sys.argv[1].split("/")[-1], len(units), len(rows), len(packed)),
             "constexpr int32_t kGeoidParallels = %d;" % len(rows),
             "constexpr double kGeoidParallelSpacing = %r; // degrees of latitude" % (ROW_STEP * GRID_SPACING),
             "constexpr double kGeoidUnit = %r; // metres" % UNIT,
             "constexpr int32_t kGeoidBaseUnits = %d; // a stored 0" % base,
             "const GeoidParallel kGeoidParallel[kGeoidParallels] = {"]
    lines += ["    {%d, %d}," % row for row in rows]
    lines += ["};", "const uint8_t kGeoidNodes[%d] = {" % len(packed)]
    lines += ["    " + ",".join(str(byte) for byte in packed[at:at + 32]) + "," for at in range(0, len(packed), 32)]
    lines += ["};", ""]
    with open(sys.argv[2], "w") as out:
        out.write("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
