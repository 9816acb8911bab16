"""What the module must send for the values the host served, worked out independently of the module.

expected_fix() turns one logged sample (the raw values the variable service served and the ground-speed
word) into the real-valued fix; the field functions turn it into the set of texts each printed field may
hold. A set, because a value that lies within a rounding error of a print boundary may come out on either
side in another correct implementation; every other value has exactly one text.
"""

import math

ID = {
    "Latitude": 0x47, "Longitude": 0x48, "TrueHeading": 0x56, "MagneticVariation": 0x52, "Altitude": 0x49,
    "WindSpeed": 0x157, "WindDirection": 0x158, "ClockHour": 0x06, "ClockMinute": 0x07, "ClockSecond": 0x05,
    "ClockYear": 0x09, "ClockDayOfYear": 0x08, "Airspeed": 0x3D, "VerticalSpeed": 0x41, "PitchAngle": 0x4D,
    "BankAngle": 0x4F, "AttitudeA": 0x33A, "AttitudeB": 0x29, "MagneticTrack": 0x342,
}

# Ids requested on each generation, in request order.
REQUESTS = [0x47, 0x48, 0x56, 0x52, 0x49, 0x40, 0x155, 0x157, 0x158, 0x06, 0x07, 0x05, 0x09, 0x08, 0x3D, 0x41,
            0x4D, 0x4F, 0x33A, 0x29, 0x341, 0x342]
REQUEST_COUNT = {0: 16, 1: 20, 2: 22}

DEG_TO_RAD = 0.01745329277777778
RAD_TO_DEG = 57.29577866666166
NUDGE = 1e-12  # relative; far below any printed digit, far above the last bit of a double


def trunc(value):
    return int(value)  # toward zero, as C's conversion


def c_remainder(a, b):
    return int(math.fmod(a, b))


def day_of_year_to_date(day_of_year, year):
    leap = year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)
    lengths = [31, 29 if leap else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
    month, remaining = 0, day_of_year
    while month < 12 and remaining >= lengths[month]:
        remaining -= lengths[month]
        month += 1
    return min(month, 11) + 1, remaining + 1


def expected_fix(sample, generation):
    """The module's fix for one logged sample, as reals where it prints reals (before truncation)."""
    value = {int(key): number for key, number in sample["values"].items()}
    fix = {}
    latitude = value[ID["Latitude"]]
    fix["latHemisphere"] = "N" if latitude >= 0 else "S"
    fix["latDegreesReal"] = abs(latitude) * 90 * 9.998250306196415e-08
    longitude = value[ID["Longitude"]] * 360 * 3.552713678800501e-15
    if longitude < 0:
        longitude += 360
    if longitude <= 180:
        fix["lonHemisphere"] = "E"
    else:
        fix["lonHemisphere"] = "W"
        longitude = 360 - longitude
    fix["lonDegreesReal"] = longitude

    fix["hours"] = trunc(value[ID["ClockHour"]])
    fix["minutes"] = trunc(value[ID["ClockMinute"]])
    fix["seconds"] = trunc(value[ID["ClockSecond"]])
    knots = sample["groundSpeedWord"] * 3600 * 8.239086966792657e-09
    fix["airspeed"] = value[ID["Airspeed"]]
    fix["verticalSpeedFpm"] = value[ID["VerticalSpeed"]] * 196.8504 * 0.00390625
    if generation != 0:
        fix["attitudeA"] = max(-127.0, min(127.0, value[ID["AttitudeA"]]))
        fix["attitudeB"] = max(-119.0, min(119.0, value[ID["AttitudeB"]]))
        bank, pitch = value[ID["BankAngle"]], value[ID["PitchAngle"]]
        fix["bank"] = bank - 360 if bank > 180 else bank
        fix["pitch"] = pitch - 360 if pitch > 180 else pitch

    variation = value[ID["MagneticVariation"]]
    if variation < 0:
        variation += 360
    heading = value[ID["TrueHeading"]]
    while heading >= 360:
        heading -= 360
    if heading == 0:
        heading = 360
    track = heading
    magnetic_heading = heading - variation
    if magnetic_heading < 0:
        magnetic_heading += 360
    fix["headingMagnetic"] = magnetic_heading

    wind_speed = value[ID["WindSpeed"]]
    wind_angle = value[ID["WindDirection"]] - variation - 180
    if wind_angle < 0:
        wind_angle += 360
    difference = wind_angle - heading
    right = difference >= 0
    difference = abs(difference)
    if difference > 180:
        difference = 360 - difference
        right = not right
    fix["driftChecked"] = True
    if trunc(knots) != 0:
        ratio = math.sin((180 - difference) * DEG_TO_RAD) * wind_speed / knots
        if abs(ratio) > 1:
            fix["driftChecked"] = False  # no real drift: how the module treats it is its own choice
            ratio = max(-1.0, min(1.0, ratio))
        drift = math.asin(ratio) * RAD_TO_DEG
        track = heading + (drift if right else -drift)
        if track <= 0:
            track += 360
        if track > 360:
            track -= 360
    magnetic_track = track - variation
    if magnetic_track < 0:
        magnetic_track += 360
    if magnetic_track >= 360:
        magnetic_track -= 360
    if generation == 2 and wind_speed > 2.0:
        fix["driftChecked"] = True
        magnetic_track = value[ID["MagneticTrack"]] * RAD_TO_DEG
        track = magnetic_track + variation
        if track < 0:
            track += 360
        if track >= 360:
            track -= 360
    fix["trackTrue"] = track
    fix["trackMagnetic"] = magnetic_track

    fix["variationSide"] = "E"
    fix["knots"] = knots + 0.05
    fix["kmh"] = fix["knots"] * 1.852
    fix["variation"] = variation + 0.05
    if fix["variation"] > 180:
        fix["variationSide"] = "W"
        fix["variation"] = 360 - fix["variation"]
    fix["altitude"] = value[ID["Altitude"]] + 0.05

    year = trunc(value[ID["ClockYear"]])
    fix["year2"] = c_remainder(year, 100)
    fix["month"], fix["day"] = day_of_year_to_date(trunc(value[ID["ClockDayOfYear"]]), year)
    return fix


def nudged(value):
    return {value * (1 - NUDGE), value, value * (1 + NUDGE)} if value != 0 else {0.0}


def one_decimal(value):
    """The module's "%d.%d" of a real: integer part, ".", unsigned truncated tenths."""
    whole = trunc(value)
    tenths = abs(trunc((value - whole) * 10))
    text = "%d.%d" % (whole, tenths)
    if value < 0 and whole == 0 and tenths != 0:
        text = "-" + text
    return text


def decimal_texts(value):
    return {one_decimal(v) for v in nudged(value)}


def int_texts(value, form="%d"):
    """Texts of trunc(value) printed with form."""
    return {form % trunc(v) for v in nudged(value)}


def degree_parts(degrees_real, six):
    """(degrees, minutes, fraction) of a position, the fraction in millionths or ten-thousandths."""
    scale = 1000000 if six else 10000
    degrees = trunc(degrees_real)
    minutes_real = (degrees_real - degrees) * 60
    minutes = trunc(minutes_real)
    return degrees, minutes, trunc((minutes_real - minutes) * scale)


def position_texts(degrees_real, six, degree_digits):
    form = "%0" + str(degree_digits) + "d%02d.%0" + ("6" if six else "4") + "d"
    return {form % degree_parts(v, six) for v in nudged(degrees_real)}


def position_part_sets(degrees_real, six):
    return [degree_parts(v, six) for v in nudged(degrees_real)]
