#!/usr/bin/env python3
"""End-to-end tests: the real Waypost.dll inside the stand-in host under Wine.

  e2e.py run --out DIR --host waypost-host.exe --dll Waypost.dll
      runs every scenario side by side (one 25 s start delay for all) and keeps each one's console,
      log, settings file and serial capture under DIR/<scenario>/
  e2e.py check GROUP --out DIR
      checks what the run left: relay (every cycle's text against the values served), serial (the line
      settings, the byte stream, gpsdecode's fixes against the values served), lifecycle (generations,
      hook services, registrations, missing services, failed start-up, early shut-down, settings
      write-back), periods (output period for several intervals)
"""

import argparse
import json
import math
import os
import re
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))
sys.path.insert(0, HERE)

import oracle  # noqa: E402
import waypost_run as run  # noqa: E402

ALL_RECORDS = "RMC,GLL,GGA,GSA,VTG,RMA,GSV,PGRMZ,GTEXT,AV400,RPY"
NMEA_SET = "RMC,GGA,GSA,GSV,VTG,GLL"
SERIAL_PORT = 41
MISSING_PORT = 77
ANTIMERIDIAN = os.path.join(HERE, "routes", "antimeridian.route")

# name: settings (None: no file), host options, seconds from start-up to shut-down, seconds after unload,
# and whether the module's port is the pseudo-terminal line.
SCENARIOS = {
    "relay-gen2": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "2000")],
        options=["--generation", "2004"], run=55),
    "relay-gen1-antimeridian": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "1000"), ("PosTo6Decimal", "No")],
        options=["--generation", "2002", "--route", ANTIMERIDIAN], run=55),
    "relay-gen0-98": dict(
        settings=[("Port", "nethub"), ("Sentences", ALL_RECORDS), ("Interval", "500")],
        options=["--generation", "98", "--ready-after", "30"], run=45),
    "gen0-2000-no-old-hook": dict(
        settings=[("Port", "NetHub"), ("Sentences", "RMC"), ("Interval", "100")],
        options=["--generation", "2000", "--omit", "oldhook"], run=42),
    "gen2-plain-title": dict(
        settings=[("Port", "NetHub"), ("Sentences", "RMC,GGA"), ("Interval", "250")],
        options=["--generation", "none"], run=42),
    "no-window-relay-absent": dict(
        settings=[("Port", "NetHub")], options=["--no-window", "--omit", "relay"], run=35),
    "gen1-relay-not-accepting": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2002", "--relay-flags", "0"], run=35),
    "gen2-relay-no-send-entry": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2004", "--relay-no-entry"], run=35),
    "no-variable-service": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2004", "--omit", "variables"], run=35),
    "unopenable-port": dict(
        settings=[("Port", "COM%d" % MISSING_PORT)], options=["--generation", "2004"], run=30),
    "early-shutdown": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2004"], run=5, linger=30),
    "first-run-settings": dict(settings=None, options=["--generation", "2004"], run=2),
    "settings-limits": dict(
        settings=[("PosTo6Decimal", "nope"), ("Port", "nethub2"), ("Speed", "abc"), ("Interval", "50")],
        options=["--generation", "2004"], run=2),
    "serial": dict(
        settings=[("Port", "COM%d" % SERIAL_PORT), ("Speed", "19200"), ("Sentences", NMEA_SET),
                  ("Interval", "1000")],
        options=["--generation", "2004"], run=55, serial=True),
}

GENERATION_OF_TITLE = {"98": 0, "2000": 0, "2002": 1, "2004": 2, "none": 2}


# ---- Running ------------------------------------------------------------------------------------------

def run_scenario(name, plan, out, host_exe, dll, results):
    folder = os.path.join(out, name)
    dll_copy = run.prepare_module_folder(folder, dll, plan["settings"])
    log = os.path.join(folder, "log.jsonl")
    options = plan["options"] + ["--run", str(plan["run"]), "--linger", str(plan.get("linger", 0))]
    result = {"name": name}
    started = time.monotonic()
    with open(os.path.join(folder, "host.out"), "w") as console:
        if plan.get("serial"):
            with run.SerialLine(folder, SERIAL_PORT) as line:
                host = run.start_host(host_exe, dll_copy, log, options, console)
                if run.wait_for_record(log, "init", 60) is not None:
                    time.sleep(1)
                    result["lineSettings"] = line.line_settings()
                result["exit"] = host.wait(plan["run"] + 120)
                time.sleep(0.5)  # the last bytes on their way through the pseudo-terminal
                with open(os.path.join(folder, "capture.bin"), "wb") as capture:
                    capture.write(line.received())
        else:
            host = run.start_host(host_exe, dll_copy, log, options, console)
            result["exit"] = host.wait(plan["run"] + plan.get("linger", 0) + 120)
    result["wall"] = time.monotonic() - started
    results[name] = result
    with open(os.path.join(folder, "result.json"), "w") as file:
        json.dump(result, file, indent=1)


def command_run(arguments):
    out = os.path.abspath(arguments.out)
    os.makedirs(out, exist_ok=True)
    run.ensure_prefix()
    # The port that must not open: a device link that leads nowhere.
    missing = os.path.join(run.wine_prefix(), "dosdevices", "com%d" % MISSING_PORT)
    if os.path.lexists(missing):
        os.unlink(missing)
    os.symlink(os.path.join(out, "no-such-device"), missing)

    started = time.monotonic()
    results = {}
    threads = [threading.Thread(target=run_scenario, args=(name, plan, out, arguments.host, arguments.dll, results))
               for name, plan in SCENARIOS.items()]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.monotonic() - started
    os.unlink(missing)
    with open(os.path.join(out, "summary.json"), "w") as file:
        json.dump({"wall": wall, "results": results}, file, indent=1)
    for name in SCENARIOS:
        result = results.get(name, {})
        print("[e2e] %-26s exit %s after %.1f s" % (name, result.get("exit"), result.get("wall", 0)))
    print("[e2e] %d scenarios ran side by side in %.1f s" % (len(SCENARIOS), wall))
    return 0 if len(results) == len(SCENARIOS) else 1


# ---- Checking -----------------------------------------------------------------------------------------

class Checks:
    """Collects failed expectations with a message that names the scenario and the input."""

    def __init__(self, group):
        self.group = group
        self.passed = 0
        self.failures = []

    def expect(self, ok, message):
        if ok:
            self.passed += 1
        else:
            self.failures.append(message)
        return ok

    def report(self):
        for failure in self.failures[:60]:
            print("[e2e] FAIL %s: %s" % (self.group, failure))
        if len(self.failures) > 60:
            print("[e2e] ... %d more failures" % (len(self.failures) - 60))
        print("[e2e] %s: %d expectations met, %d failed" % (self.group, self.passed, len(self.failures)))
        return 0 if not self.failures else 1


class Scenario:
    """What one scenario left behind."""

    def __init__(self, out, name):
        self.name = name
        self.plan = SCENARIOS[name]
        self.folder = os.path.join(out, name)
        self.records = run.read_log(os.path.join(self.folder, "log.jsonl"))
        path = os.path.join(self.folder, "result.json")
        self.result = json.load(open(path)) if os.path.exists(path) else {}

    def of(self, kind):
        return [record for record in self.records if record["kind"] == kind]

    def one(self, kind):
        found = self.of(kind)
        return found[0] if found else None

    def settings(self):
        return dict(self.plan["settings"] or [])

    def generation(self):
        options = self.plan["options"]
        if "--no-window" in options:
            return 0
        return GENERATION_OF_TITLE[options[options.index("--generation") + 1]]

    def mask_tokens(self):
        tokens = self.settings().get("Sentences", "RMC").upper().split(",")
        if self.generation() == 0:
            tokens = [token for token in tokens if token != "RPY"]
        return tokens or ["RMC"]

    def six_decimals(self):
        return not self.settings().get("PosTo6Decimal", "Yes").lower().startswith("no")

    def init_time(self):
        init = self.one("init")
        return init["t"] if init else None


GSA = "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n"
GSV = ["$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n",
       "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n"]
CYCLE_ORDER = ["GSA", "GSV", "RMA", "RMC", "GLL", "VTG", "GGA", "PGRMZ", "AV400", "RPY", "GTEXT"]
GTEXT_PATTERN = re.compile(r"@(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)(\d\d)([NS]\d{7})([EW]\d{8})S000([+-]\d{5})"
                           r"([EW]\d{4}[NS]\d{4})U0000\r\n$")


def expected_kinds(tokens):
    kinds = []
    for kind in CYCLE_ORDER:
        if kind in tokens:
            kinds += [kind, kind] if kind == "GSV" else [kind]
    return kinds


def split_records(text):
    """One cycle's text as (kind, raw) records; raises ValueError on anything that is no record."""
    records = []
    position = 0
    while position < len(text):
        if text.startswith("$RPY,", position):
            end = position + 5
            while end < len(text) and text[end] in "0123456789,-":
                end += 1
            if text.startswith("\r\n", end):
                end += 2
            records.append(("RPY", text[position:end]))
        elif text[position] == "$":
            end = text.index("\r\n", position) + 2
            tag = text[position + 1:position + 6]
            records.append(("PGRMZ" if tag == "PGRMZ" else tag[2:], text[position:end]))
        elif text[position] == "\x02":
            end = text.index("\x03", position) + 1
            records.append(("AV400", text[position:end]))
        elif text[position] == "@":
            end = text.index("\r\n", position) + 2
            records.append(("GTEXT", text[position:end]))
        else:
            raise ValueError("no record starts at offset %d: %r" % (position, text[position:position + 20]))
        position = end
    return records


class CycleChecker:
    """Checks each cycle's text of one scenario against the fix worked out from the sample it came from."""

    def __init__(self, checks, scenario):
        self.checks = checks
        self.scenario = scenario
        self.generation = scenario.generation()
        self.six = scenario.six_decimals()
        self.kinds = expected_kinds(scenario.mask_tokens())
        self.previous_seconds = None
        self.rpy_line_ends = set()

    def field(self, where, actual, allowed):
        allowed = allowed if isinstance(allowed, (set, frozenset)) else {allowed}
        return self.checks.expect(actual in allowed, "%s: %r, expected %s" % (where, actual, " or ".join(
            repr(text) for text in sorted(allowed))))

    def time_field(self, where, actual, fix):
        expected = "%02d%02d%02d." % (fix["hours"], fix["minutes"], fix["seconds"])
        self.field(where + " time", actual[:7], expected)
        hundredths = actual[7:]
        if self.previous_seconds is None or self.previous_seconds != fix["seconds"]:
            self.field(where + " hundredths (new second)", hundredths, "00")
        else:
            self.checks.expect(re.fullmatch(r"\d\d", hundredths) and 1 <= int(hundredths) <= 99,
                               "%s hundredths within a second seen before: %r" % (where, hundredths))

    def position_fields(self, where, fields, fix):
        self.field(where + " latitude", fields[0], oracle.position_texts(fix["latDegreesReal"], self.six, 2))
        self.field(where + " N/S", fields[1], fix["latHemisphere"])
        self.field(where + " longitude", fields[2], oracle.position_texts(fix["lonDegreesReal"], self.six, 3))
        self.field(where + " E/W", fields[3], fix["lonHemisphere"])

    def track(self, where, actual, value, fix):
        if fix["driftChecked"]:
            self.field(where, actual, oracle.decimal_texts(value))

    def check(self, text, sample, where):
        fix = oracle.expected_fix(sample, self.generation)
        try:
            records = split_records(text)
        except ValueError as error:
            self.checks.expect(False, "%s: %s" % (where, error))
            return
        kinds = [kind for kind, _ in records]
        if not self.checks.expect(kinds == self.kinds, "%s: records %s, expected %s" % (where, kinds, self.kinds)):
            return
        gsv_index = 0
        for kind, raw in records:
            here = "%s %s" % (where, kind)
            if raw.startswith("$") and kind != "RPY":
                body, tail = raw[1:-5], raw[-5:]
                self.field(here + " checksum", tail, "*%s\r\n" % run.nmea_checksum(body))
                fields = body.split(",")
            if kind == "GSA":
                self.field(here, raw, GSA)
            elif kind == "GSV":
                self.field(here, raw, GSV[gsv_index])
                gsv_index += 1
            elif kind == "RMC":
                self.check_length(here, fields, 12)
                self.time_field(here, fields[1], fix)
                self.field(here + " status", fields[2], "A")
                self.position_fields(here, fields[3:7], fix)
                self.field(here + " knots", fields[7], oracle.decimal_texts(fix["knots"]))
                self.track(here + " track", fields[8], fix["trackTrue"], fix)
                self.field(here + " date", fields[9], "%02d%02d%02d" % (fix["day"], fix["month"], fix["year2"]))
                self.field(here + " variation", fields[10], oracle.decimal_texts(fix["variation"]))
                self.field(here + " variation side", fields[11], fix["variationSide"])
            elif kind == "GGA":
                self.check_length(here, fields, 15)
                self.time_field(here, fields[1], fix)
                self.position_fields(here, fields[2:6], fix)
                self.field(here + " fixed fields", ",".join(fields[6:9]), "1,05,0.0")
                self.field(here + " altitude", fields[9], oracle.decimal_texts(fix["altitude"]))
                self.field(here + " tail", ",".join(fields[10:]), "M,,,,")
            elif kind == "GLL":
                self.check_length(here, fields, 7)
                self.position_fields(here, fields[1:5], fix)
                self.time_field(here, fields[5], fix)
                self.field(here + " status", fields[6], "A")
            elif kind == "VTG":
                self.check_length(here, fields, 9)
                self.track(here + " track", fields[1], fix["trackTrue"], fix)
                self.field(here + " heading", fields[3], oracle.decimal_texts(fix["headingMagnetic"]))
                self.field(here + " knots", fields[5], oracle.decimal_texts(fix["knots"]))
                self.field(here + " km/h", fields[7], oracle.decimal_texts(fix["kmh"]))
                self.field(here + " units", fields[2] + fields[4] + fields[6] + fields[8], "TMNK")
            elif kind == "RMA":
                self.check_length(here, fields, 12)
                self.field(here + " status", fields[1], "A")
                self.position_fields(here, fields[2:6], fix)
                self.field(here + " time differences", fields[6] + "," + fields[7], "0.0,0.0")
                self.field(here + " knots", fields[8], oracle.decimal_texts(fix["knots"]))
                self.track(here + " track", fields[9], fix["trackTrue"], fix)
                self.field(here + " variation", fields[10], oracle.decimal_texts(fix["variation"]))
                self.field(here + " variation side", fields[11], fix["variationSide"])
            elif kind == "PGRMZ":
                self.check_length(here, fields, 4)
                self.field(here + " feet", fields[1], oracle.decimal_texts(fix["altitude"] * 3.28084 + 0.05))
                self.field(here + " tail", fields[2] + "," + fields[3], "f,2")
            elif kind == "AV400":
                self.check_aviation_block(here, raw, fix)
            elif kind == "RPY":
                self.check_attitude(here, raw, fix)
            elif kind == "GTEXT":
                self.check_text_position(here, raw, fix)
        self.previous_seconds = fix["seconds"]

    def check_length(self, where, fields, count):
        self.checks.expect(len(fields) == count, "%s: %d fields, expected %d" % (where, len(fields), count))
        fields.extend([""] * max(0, count - len(fields)))

    def check_aviation_block(self, where, raw, fix):
        lines = raw[1:-1].split("\r\n")
        self.checks.expect(raw[0] == "\x02" and raw[-1] == "\x03" and raw.endswith("\r\n\x03"),
                           "%s framing: %r" % (where, raw))
        if not self.checks.expect(len(lines) == 9 and lines[8] == "", "%s: %d lines" % (where, len(lines))):
            return
        altitude = fix["altitude"]
        self.field(where + " z", lines[0], {"z00000"} if altitude < 0 else oracle.int_texts(altitude * 3.28084 + 0.5,
                                                                                          "z%05d"))

        def minute_lines(letter, hemisphere, degrees_real, degree_digits):
            texts = set()
            for degrees, minutes, fraction in oracle.position_part_sets(degrees_real, self.six):
                hundredths = (fraction + 5000) // 10000 if self.six else (fraction + 50) // 100
                options = [(degrees, minutes, hundredths)]
                if hundredths == 100:  # the module may carry into the minutes or hold at 99
                    carried = (degrees + 1, 0) if minutes == 59 else (degrees, minutes + 1)
                    options = [(degrees, minutes, 99), carried + (0,)]
                for option in options:
                    texts.add(("%s%s %0" + str(degree_digits) + "d %02d%02d") % ((letter, hemisphere) + option))
            return texts

        self.field(where + " A", lines[1], minute_lines("A", fix["latHemisphere"], fix["latDegreesReal"], 2))
        self.field(where + " B", lines[2], minute_lines("B", fix["lonHemisphere"], fix["lonDegreesReal"], 3))
        if fix["driftChecked"]:
            self.field(where + " C", lines[3], oracle.int_texts(fix["trackMagnetic"] + 0.5, "C%03d"))
        self.field(where + " D", lines[4], oracle.int_texts(fix["knots"] + 0.5, "D%03d"))
        self.field(where + " Q", lines[5], {"Q" + fix["variationSide"] + text
                                            for text in oracle.int_texts(fix["variation"] * 10 + 0.5, "%03d")})
        self.field(where + " fixed lines", "\r\n".join(lines[6:8]), "T----------\r\nw01@")

    def check_attitude(self, where, raw, fix):
        self.rpy_line_ends.add(raw.endswith("\r\n"))
        fields = raw.rstrip("\r\n").split(",")
        if not self.checks.expect(len(fields) == 16 and fields[0] == "$RPY", "%s: %r" % (where, raw)):
            return

        def scaled(value, limit, inverse):
            return {"-250"} if value == limit else oracle.int_texts(value * -250 * inverse + 0.5)

        expected = [
            oracle.int_texts(fix["bank"] * 10 + 0.5), oracle.int_texts(fix["pitch"] * 10 + 0.5), "-999", "-999",
            "-999", oracle.int_texts(fix["altitude"] * 3.28084 + 0.5), oracle.int_texts(fix["airspeed"] * 10 + 0.5),
            oracle.int_texts(fix["verticalSpeedFpm"]), "-999", "-999",
            scaled(fix["attitudeA"], 127.0, 0.007874015748031496),
            scaled(fix["attitudeB"], 119.0, 0.008403361344537815),
            oracle.int_texts(fix["headingMagnetic"] * 10 + 0.5), "-999", "-999"]
        for number, (actual, allowed) in enumerate(zip(fields[1:], expected), start=1):
            self.field("%s field %d" % (where, number), actual, allowed)

    def check_text_position(self, where, raw, fix):
        match = GTEXT_PATTERN.match(raw)
        if not self.checks.expect(match is not None, "%s layout: %r" % (where, raw)):
            return
        date_time = tuple(int(group) for group in match.groups()[:6])
        self.field(where + " date and time", date_time,
                   (fix["year2"], fix["month"], fix["day"], fix["hours"], fix["minutes"], fix["seconds"]))

        def column(hemisphere, degrees_real, digits):
            return {("%s%0" + str(digits) + "d%02d%03d") % (hemisphere, d, m, f // 1000 if self.six else f // 10)
                    for d, m, f in oracle.position_part_sets(degrees_real, self.six)}

        self.field(where + " latitude", match.group(7), column(fix["latHemisphere"], fix["latDegreesReal"], 2))
        self.field(where + " longitude", match.group(8), column(fix["lonHemisphere"], fix["lonDegreesReal"], 3))
        altitude = fix["altitude"]
        self.field(where + " altitude", match.group(9), {("-" if altitude < 0 else "+") + "%05d" % trunc_value
                                                          for trunc_value in {int(abs(v) + 0.5)
                                                                              for v in oracle.nudged(altitude)}})
        if fix["driftChecked"]:
            velocities = set()
            for track in oracle.nudged(fix["trackTrue"]):
                for knots in oracle.nudged(fix["knots"]):
                    if track < 90:
                        angle, east_west, north_south = track, "E", "N"
                    elif track < 180:
                        angle, east_west, north_south = 180 - track, "E", "S"
                    elif track < 270:
                        angle, east_west, north_south = track - 180, "W", "S"
                    else:
                        angle, east_west, north_south = 360 - track, "W", "N"
                    speed = knots * 5.144444444444445
                    radians = angle * oracle.DEG_TO_RAD
                    velocities.add("%s%04d%s%04d" % (east_west, int(math.sin(radians) * speed + 0.5), north_south,
                                                     int(math.cos(radians) * speed + 0.5)))
            self.field(where + " velocity", match.group(10), velocities)


def samples_by_time(scenario):
    """Samples in the order they were taken."""
    return sorted(scenario.of("sample"), key=lambda sample: sample["t"])


def common_checks(checks, scenario):
    name = scenario.name
    checks.expect(scenario.result.get("exit") == 0, "%s: host exit status %s (see %s/host.out)" % (
        name, scenario.result.get("exit"), scenario.folder))
    checks.expect(not scenario.of("anomaly"), "%s: host saw %s" % (name, [a["what"] for a in scenario.of("anomaly")]))
    checks.expect(scenario.one("end") is not None, "%s: the host did not finish its run" % name)


def check_relay(out):
    checks = Checks("relay")
    for name in ["relay-gen2", "relay-gen1-antimeridian", "relay-gen0-98", "gen0-2000-no-old-hook",
                 "gen2-plain-title"]:
        scenario = Scenario(out, name)
        common_checks(checks, scenario)
        samples = samples_by_time(scenario)
        texts = scenario.of("relay")
        checker = CycleChecker(checks, scenario)
        checks.expect(len(texts) >= 5, "%s: only %d texts reached the relay" % (name, len(texts)))
        used = set()
        for index, relay in enumerate(texts):
            where = "%s text %d (t=%.2f)" % (name, index + 1, relay["t"])
            checks.expect(relay["arg"] == 1 and relay["length"] == len(relay["text"].encode("latin-1")),
                          "%s: send arguments (%s, length %s)" % (where, relay["arg"], relay["length"]))
            earlier = [sample for sample in samples if sample["t"] <= relay["t"] + 0.005]
            if not checks.expect(earlier, "%s: no sample before it" % where):
                continue
            sample = earlier[-1]
            checks.expect(sample["t"] not in used, "%s: a second text for the sample of t=%.2f" % (where, sample["t"]))
            checks.expect(relay["t"] - sample["t"] < 0.5, "%s: %.2f s after its sample" % (
                where, relay["t"] - sample["t"]))
            used.add(sample["t"])
            checker.check(relay["text"], sample, where)
        # Every sample is sent, except one taken just before shut-down.
        checks.expect(len(samples) - len(used) <= 1, "%s: %d samples, %d sent" % (name, len(samples), len(used)))
        if "RPY" in checker.kinds:
            print("[e2e] %s: attitude sentence %s" % (name, "ends with CR LF" if checker.rpy_line_ends == {True}
                                                      else "carries no line end"))
    crossed = Scenario(out, "relay-gen1-antimeridian")
    hemispheres = {(fix["latHemisphere"], fix["lonHemisphere"]) for fix in
                   (oracle.expected_fix(sample, 1) for sample in crossed.of("sample"))}
    checks.expect(hemispheres == {("S", "E"), ("S", "W")}, "antimeridian route crossed 180: %s" % hemispheres)
    years = {oracle.expected_fix(sample, 1)["year2"] for sample in crossed.of("sample")}
    checks.expect(years == {26, 27}, "antimeridian run passed New Year: years %s" % years)
    return checks.report()


def gpsdecode(data):
    result = subprocess.run(["gpsdecode", "-j"], input=data, capture_output=True, timeout=60)
    fixes = []
    for line in result.stdout.decode("ascii", "replace").splitlines():
        try:
            record = json.loads(line)
        except json.JSONDecodeError:
            continue
        if record.get("class") == "TPV" and "lat" in record:
            fixes.append(record)
    return fixes


def check_serial(out):
    checks = Checks("serial")
    scenario = Scenario(out, "serial")
    common_checks(checks, scenario)
    settings = scenario.result.get("lineSettings", "")
    for flag in ["speed 19200 baud", "cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff"]:
        checks.expect(re.search(r"(^|[\s;])%s([\s;]|$)" % re.escape(flag), settings),
                      "line settings lack %r: %r" % (flag, settings))

    data = open(os.path.join(scenario.folder, "capture.bin"), "rb").read()
    text = data.decode("latin-1")
    samples = samples_by_time(scenario)
    by_clock = {}
    for sample in samples:
        fix = oracle.expected_fix(sample, 2)
        by_clock.setdefault((fix["hours"], fix["minutes"], fix["seconds"]), []).append(sample)
    # The line carries the cycles back to back; a cycle begins with GSA.
    cycles = ["$GPGSA" + piece for piece in text.split("$GPGSA") if piece]
    checks.expect(text.startswith("$GPGSA"), "stream begins %r" % text[:20])
    checks.expect(len(cycles) >= len(samples) - 1 and len(cycles) >= 20,
                  "%d cycles on the line for %d samples" % (len(cycles), len(samples)))
    checker = CycleChecker(checks, scenario)
    for index, cycle in enumerate(cycles):
        rmc = re.search(r"\$GPRMC,(\d\d)(\d\d)(\d\d)", cycle)
        where = "cycle %d on the line" % (index + 1)
        if not checks.expect(rmc is not None, "%s has no RMC: %r" % (where, cycle[:80])):
            continue
        matching = by_clock.get(tuple(int(group) for group in rmc.groups()), [])
        if checks.expect(len(matching) == 1, "%s: %d samples at its clock time" % (where, len(matching))):
            checker.check(cycle, matching[0], where)

    fixes = gpsdecode(data)
    checks.expect(len(fixes) >= len(cycles) - 2, "gpsdecode decoded %d fixes from %d cycles" % (len(fixes), len(cycles)))
    worst = 0.0
    for fix in fixes:
        stamp = fix.get("time", "")
        where = "gpsdecode fix at %s" % stamp
        found = [sample for sample in samples
                 if stamp.startswith("%sT%s" % (sample["truth"]["date"], sample["truth"]["time"]))]
        if not checks.expect(len(found) == 1, "%s: %d samples served at that time" % (where, len(found))):
            continue
        truth = found[0]["truth"]
        error = run.metres_between(truth["lat"], truth["lon"], fix["lat"], fix["lon"])
        worst = max(worst, error)
        checks.expect(error < 0.05, "%s: %.3f m from the position served" % (where, error))
        served_speed = found[0]["groundSpeedWord"] / 65536.0
        checks.expect(abs(fix.get("speed", -1) - served_speed) <= 0.0258 + 0.001,
                      "%s: speed %s m/s, served %.4f m/s" % (where, fix.get("speed"), served_speed))
        checks.expect(fix.get("mode") == 3, "%s: mode %s" % (where, fix.get("mode")))
    print("[e2e] serial: %d bytes, %d cycles, %d fixes from gpsdecode, largest position error %.4f m" % (
        len(data), len(cycles), len(fixes), worst))
    return checks.report()


# Scenario: (version word, (service, entry) that registers, (service, entry) that removes, variables requested,
# relay texts expected (None: any), RPY expected)
LIFECYCLE = {
    "relay-gen2": (0x900, (1, 270), (1, 271), 22, True, True),
    "relay-gen1-antimeridian": (0x800, (4, 6), (4, 7), 20, True, True),
    "relay-gen0-98": (0, (4, 6), (4, 7), 16, True, False),
    "gen0-2000-no-old-hook": (0, (1, 270), (1, 271), 16, True, False),
    "gen2-plain-title": (0x900, (1, 270), (1, 271), 22, True, False),
    "no-window-relay-absent": (0, (4, 6), (4, 7), 16, False, False),
    "gen1-relay-not-accepting": (0x800, (4, 6), (4, 7), 20, False, False),
    "gen2-relay-no-send-entry": (0x900, (1, 270), (1, 271), 22, False, False),
    "no-variable-service": (0x900, (1, 270), (1, 271), 0, False, False),
    "serial": (0x900, (1, 270), (1, 271), 22, False, False),
}


def check_lifecycle(out):
    checks = Checks("lifecycle")
    for name, (version, registers, removes, requests, sends, attitude) in LIFECYCLE.items():
        scenario = Scenario(out, name)
        common_checks(checks, scenario)
        linkage = scenario.one("linkage") or {}
        checks.expect(linkage.get("version") == version and linkage.get("leading") == 0x102,
                      "%s: Linkage leading 0x%X version 0x%X, expected 0x102 and 0x%X" % (
                          name, linkage.get("leading", -1), linkage.get("version", -1), version))
        hooks = scenario.of("hook")
        actions = [(hook["action"], hook["service"], hook["entry"], hook["constant"]) for hook in hooks]
        checks.expect(actions == [("register",) + registers + (2,), ("remove",) + removes + (2,)],
                      "%s: hook calls %s" % (name, actions))
        if hooks:
            delay = hooks[0]["t"] - scenario.init_time()
            checks.expect(24.9 <= delay <= 27.0, "%s: hook registered %.2f s after start-up" % (name, delay))
        samples = samples_by_time(scenario)
        if requests == 0:
            checks.expect(not samples, "%s: %d samples without a variable service" % (name, len(samples)))
        elif checks.expect(len(samples) >= 3, "%s: only %d samples" % (name, len(samples))):
            wanted = oracle.REQUESTS[:requests]
            checks.expect(samples[0]["registered"] == wanted, "%s: registered %s, expected %s" % (
                name, samples[0]["registered"], wanted))
            for sample in samples:
                checks.expect(sample["read"] == wanted, "%s: sample at %.2f read %s" % (name, sample["t"],
                                                                                      sample["read"]))
            for sample in samples[1:]:
                checks.expect(sample["registered"] == [], "%s: registered again at %.2f" % (name, sample["t"]))
        texts = scenario.of("relay")
        if not sends:
            checks.expect(not texts, "%s: relay received %d texts" % (name, len(texts)))
        checks.expect(any("$RPY" in text["text"] for text in texts) == attitude,
                      "%s: attitude sentence %s" % (name, "missing" if attitude else "present"))
        deinit = scenario.one("deinit") or {}
        checks.expect(deinit.get("hooksLeft") == 0 and deinit.get("threadsAfter", 99) <= deinit.get("threadsBefore", 0),
                      "%s: after shut-down %s" % (name, deinit))

    # The ready word holds a generation-0 host's samples back: registration waits for it.
    scenario = Scenario(out, "relay-gen0-98")
    samples = samples_by_time(scenario)
    if samples:
        delay = samples[0]["t"] - scenario.init_time()
        checks.expect(delay >= 30.0, "relay-gen0-98: first sample %.2f s after start-up, ready only after 30 s" % delay)

    # A port that does not open: start-up stops, the module stays idle, the host runs on.
    scenario = Scenario(out, "unopenable-port")
    common_checks(checks, scenario)
    checks.expect((scenario.one("init") or {}).get("result") == 0, "unopenable-port: ModuleInit returned %s" % (
        scenario.one("init") or {}).get("result"))
    checks.expect(not scenario.of("hook") and not scenario.of("timer") and not scenario.of("sample"),
                  "unopenable-port: the idle module registered, timed or sampled")
    checks.expect((scenario.one("end") or {}).get("frames", 0) > 25 * 30,
                  "unopenable-port: host frames %s" % (scenario.one("end") or {}).get("frames"))

    # Shut-down before the start timer, then 30 s of message loop without the library.
    scenario = Scenario(out, "early-shutdown")
    common_checks(checks, scenario)
    checks.expect((scenario.one("init") or {}).get("result", 0) != 0, "early-shutdown: no start timer")
    checks.expect(not scenario.of("hook"), "early-shutdown: hook calls %s" % scenario.of("hook"))
    checks.expect(not [t for t in scenario.of("timer") if t["unloaded"]], "early-shutdown: a timer fired after unload")
    end = scenario.one("end") or {}
    unload = scenario.one("unload") or {}
    checks.expect(unload.get("freed") is True and end.get("t", 0) - unload.get("t", 0) >= 29.5,
                  "early-shutdown: unloaded %s, ran on until %s" % (unload, end.get("t")))

    # Settings written back on the first run, with defaults and limits.
    for name, expected in [
            ("first-run-settings", {"PosTo6Decimal": "Yes", "Port": "COM1", "Speed": "4800", "Interval": "2000"}),
            ("settings-limits", {"PosTo6Decimal": "No", "Port": "nethub2", "Speed": "0", "Interval": "100"})]:
        scenario = Scenario(out, name)
        common_checks(checks, scenario)
        entries = (scenario.one("settings") or {}).get("entries")
        checks.expect(entries == expected, "%s: settings file holds %s, expected %s" % (name, entries, expected))
    return checks.report()


# Scenario: interval setting, nominal period in seconds ((interval / 100 + 1) steps of 100 ms).
PERIODS = {"gen0-2000-no-old-hook": (100, 0.2), "gen2-plain-title": (250, 0.3), "relay-gen0-98": (500, 0.6),
           "relay-gen1-antimeridian": (1000, 1.1), "relay-gen2": (2000, 2.1)}


def check_periods(out):
    checks = Checks("periods")
    for name, (interval, nominal) in PERIODS.items():
        times = [relay["t"] for relay in Scenario(out, name).of("relay")]
        if not checks.expect(len(times) >= 5, "%s: %d texts" % (name, len(times))):
            continue
        gaps = [later - earlier for earlier, later in zip(times, times[1:])]
        mean = (times[-1] - times[0]) / len(gaps)
        print("[e2e] periods: Interval %4d: mean %.4f s over %3d periods (min %.4f, max %.4f), nominal %.1f s" % (
            interval, mean, len(gaps), min(gaps), max(gaps), nominal))
        # The period counts 100 ms steps; each may overrun its sleeps a little, never run short.
        checks.expect(nominal * 0.98 <= mean <= nominal * 1.15, "%s: mean period %.4f s for nominal %.1f s" % (
            name, mean, nominal))
        checks.expect(min(gaps) >= nominal - 0.105, "%s: a period of %.4f s" % (name, min(gaps)))
    return checks.report()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run")
    run_parser.add_argument("--out", required=True)
    run_parser.add_argument("--host", required=True)
    run_parser.add_argument("--dll", required=True)
    check_parser = commands.add_parser("check")
    check_parser.add_argument("group", choices=["relay", "serial", "lifecycle", "periods"])
    check_parser.add_argument("--out", required=True)
    arguments = parser.parse_args()
    if arguments.command == "run":
        return command_run(arguments)
    out = os.path.abspath(arguments.out)
    if not os.path.exists(os.path.join(out, "summary.json")):
        print("[e2e] no run in %s" % out)
        return 1
    return {"relay": check_relay, "serial": check_serial, "lifecycle": check_lifecycle,
            "periods": check_periods}[arguments.group](out)


if __name__ == "__main__":
    sys.exit(main())
