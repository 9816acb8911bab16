#!/usr/bin/env python3
"""End-to-end tests: the real Waypost.dll inside the stand-in host under Wine. "e2e.py run" runs every
scenario side by side (one 25 s start delay for all), each leaving its files in DIR/<scenario>/; "e2e.py GROUP"
checks what they left (see each check_GROUP)."""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import time
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))

import netfeed  # noqa: E402
import waypost_run as run  # noqa: E402

ALL_RECORDS = "RMC,GLL,GGA,GSA,VTG,RMA,GSV,PGRMZ,GTEXT,AV400,RPY,HDT,HDM,HDG,LK8EX1,LXWP0"
SERIAL_PORT, NETWORK_SERIAL_PORT = 41, 43
PORTS = {name: run.free_port(socket.SOCK_DGRAM if name != "tcp" else socket.SOCK_STREAM)
         for name in ("udp", "tcp", "efb", "gdl90", "gpsd", "closed", "announce", "tablet", "gen1-efb", "gen1-gdl90")}
# An app other than ForeFlight announces itself in ForeFlight's form, every 3 s from 2 s after the hook.
ANNOUNCEMENTS, TABLET_APP = 4, "Enroute Flight Navigation"


# name: settings (None: no file), host options, seconds from start-up to shut-down, seconds after unload,
# whether the module's port is a pseudo-terminal line (its number), and the PORTS listened to for datagrams.
SCENARIOS = {
    "relay-gen2": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "1000")],
        # No feeds here: at lowered precision the host's system-clock stamps cannot line datagrams up.
        options=["--generation", "2004", "--low-precision"], run=55),
    # South of the equator across the antimeridian, passing New Year's Eve.
    "relay-gen1-antimeridian": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "2000"), ("PosTo6Decimal", "No"),
                  ("NetworkName", "E2E"), ("Network", "xgps:127.0.0.1:%d,gdl90:127.0.0.1:%d" % (
                      PORTS["gen1-efb"], PORTS["gen1-gdl90"]))], run=55, listen=["gen1-efb", "gen1-gdl90"],
        options=["--generation", "2002", "--route", os.path.join(HERE, "routes", "antimeridian.route")]),
    # The host is ready 5 s after the hook.
    "relay-gen0-98": dict(
        settings=[("Port", "nethub"), ("Sentences", ALL_RECORDS), ("Interval", "500")],
        options=["--generation", "98", "--ready-after", "30"], run=45),
    "early-shutdown": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2004"], run=5, linger=30),
    "first-run-settings": dict(settings=None, options=["--generation", "2004"], run=2),
    "serial": dict(
        settings=[("Port", "COM%d" % SERIAL_PORT), ("Speed", "19200"), ("Interval", "1000"),
                  ("Sentences", "RMC,GGA,GSA,GSV,VTG,GLL,LK8EX1,LXWP0")],
        options=["--generation", "2004"], run=55, serial=SERIAL_PORT),
    "network": dict(
        settings=[("Port", "COM%d" % NETWORK_SERIAL_PORT), ("Speed", "115200"), ("Interval", "100"), ("Log", "Yes"),
                  ("Sentences", "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,HDT,HDM,HDG,LK8EX1,LXWP0"), ("NetworkName", "E2E"),
                  ("Network", "udp:127.0.0.1:%d, tcp:127.0.0.1:%d, xgps:127.0.0.1:%d, gdl90:127.0.0.1:%d, "
                   "udp:127.0.0.1:%d, gdl90:auto:%d" % tuple(PORTS[name] for name in (
                       "udp", "tcp", "efb", "gdl90", "closed", "announce")))],
        options=["--generation", "2004"], run=60, serial=NETWORK_SERIAL_PORT, network=True,
        listen=["efb", "gdl90", "tablet"]),
    # The players' zip: its own settings file, with these keys changed, and its host beside its module.
    "package": dict(settings=[("Port", "NetHub"), ("Interval", "1000"), ("Log", "Yes")], options=[], run=32),
}
PACKAGE_FILES = ["CHANGELOG.md", "GUIDE.md", "GUIDE.txt", "LICENSE", "Waypost.dll", "Waypost.ini", "waypost-host.exe"]
GENERATION_OF_TITLE = {"98": 0, "2002": 1, "2004": 2}  # of the host options' --generation, given first


# ---- Running ------------------------------------------------------------------------------------------

def run_network_readers(plan, folder, log, host, result, wall):
    """The readers of the network scenario, while the host runs: gpsd, three TCP clients and one that never
    reads, and a tablet app announcing itself for a while. Records what each received."""
    run.wait_for_record(log, "init", 120)  # gpsd connects to the module's TCP server, so once it listens
    gpsd = run.start_gpsd(PORTS["gpsd"], ["udp://127.0.0.1:%d" % PORTS["udp"], "tcp://127.0.0.1:%d" % PORTS["tcp"]],
                          os.path.join(folder, "gpsd.err"))
    time.sleep(2)
    pipe = subprocess.Popen(["gpspipe", "-w", "127.0.0.1:%d" % PORTS["gpsd"]],
                            stdout=open(os.path.join(folder, "gpspipe.jsonl"), "w"), stderr=subprocess.DEVNULL)
    clients = [run.TcpReader(PORTS["tcp"]) for _ in range(3)]
    stalled = run.TcpReader(PORTS["tcp"], reads=False)
    run.wait_for_record(log, "hook", 60)
    time.sleep(2)
    with netfeed.Announcer(PORTS["announce"], PORTS["tablet"], ANNOUNCEMENTS, 3.0, app=TABLET_APP) as announcer:
        host.wait(plan["run"] + 120)
    exited = time.monotonic()
    for client in clients:
        while client.ended is None and time.monotonic() - exited < 15:
            time.sleep(0.1)
    stalled.read_rest(timeout=15)
    for process in (pipe, gpsd):
        process.terminate()
        process.wait(10)
    result["tcp"] = [{"ended": client.ended} for client in clients]
    result["endedAfterExit"] = time.monotonic() - exited
    result["announced"] = [wall + t for t in announcer.sent]


def unpack(zip_path, folder, changes):
    """The players' zip unpacked into folder; the keys changed in its settings file, every other line (the
    comments above all) left as it was. Returns the module's path."""
    with zipfile.ZipFile(zip_path) as archive:
        top = archive.namelist()[0].split("/")[0]
        archive.extractall(folder)
    settings = os.path.join(folder, top, "Waypost.ini")
    text = open(settings, newline="").read()
    for key, value in changes.items():
        text = re.sub(r"(?m)^%s=[^\r\n]*" % key, "%s=%s" % (key, value), text)
    open(settings, "w", newline="").write(text)
    return os.path.join(folder, top, "Waypost.dll")


def run_scenario(name, plan, out, arguments, results):
    folder = os.path.join(out, name)
    host_exe, timeout = arguments.host, plan["run"] + plan.get("linger", 0) + 120
    if name == "package":
        shutil.rmtree(folder, ignore_errors=True)
        dll_copy = unpack(arguments.zip, folder, dict(plan["settings"]))
        host_exe = os.path.join(os.path.dirname(dll_copy), "waypost-host.exe")
    else:
        dll_copy = run.prepare_module_folder(folder, arguments.dll, plan["settings"])
    options = plan["options"] + ["--run", str(plan["run"]), "--linger", str(plan.get("linger", 0))]
    result = {"name": name, "ports": PORTS}

    def during(host, log, _line):
        with netfeed.Listener({name: PORTS[name] for name in plan.get("listen", [])}) as listener:
            wall = time.time() - time.monotonic()  # datagrams in the system clock, as the host's samples
            if plan.get("network"):
                run_network_readers(plan, folder, log, host, result, wall)
            host.wait(timeout)
        with open(os.path.join(folder, "datagrams.json"), "w") as file:
            json.dump({name: [(wall + t, data.hex()) for t, _, data in listener.datagrams(name)]
                       for name in plan.get("listen", [])}, file)

    result["exit"], chunks = run.run_host(folder, host_exe, dll_copy, options, timeout, plan.get("serial"), during)
    if chunks:
        with open(os.path.join(folder, "capture.json"), "w") as capture:
            json.dump([(t, chunk.decode("latin-1")) for t, chunk in chunks], capture)
    results[name] = result
    with open(os.path.join(folder, "result.json"), "w") as file:
        json.dump(result, file, indent=1)


def command_run(out, arguments):
    os.makedirs(out, exist_ok=True)
    run.ensure_prefix()
    results = {}
    with concurrent.futures.ThreadPoolExecutor(len(SCENARIOS)) as pool:  # a failing one's error is raised here
        list(pool.map(lambda item: run_scenario(*item, out, arguments, results), SCENARIOS.items()))
    return 0 if len(results) == len(SCENARIOS) else 1


# ---- Checking -----------------------------------------------------------------------------------------

class Checks:
    """Collects failed expectations with a message that names the scenario and the input."""

    def __init__(self, group):
        self.group, self.passed, self.failures = group, 0, []

    def expect(self, ok, message):
        self.passed, self.failures = self.passed + bool(ok), self.failures + ([] if ok else [message])
        return ok

    def report(self):
        for failure in self.failures[:60]:  # the first ones tell
            print("[e2e] FAIL %s: %s" % (self.group, failure))
        print("[e2e] %s: %d expectations met, %d failed" % (self.group, self.passed, len(self.failures)))
        return 0 if not self.failures else 1


class Scenario:
    """What one scenario left behind."""

    def __init__(self, out, name):
        self.name, self.plan, self.folder = name, SCENARIOS[name], os.path.join(out, name)
        self.records = run.read_log(os.path.join(self.folder, "log.jsonl"))
        self.result = self.json("result.json") or {}
        self.samples = sorted(self.of("sample"), key=lambda sample: sample["t"])
        self.settings = dict(self.plan["settings"] or [])

    def json(self, file):
        path = os.path.join(self.folder, file)
        return json.load(open(path)) if os.path.exists(path) else None

    def of(self, kind):
        return [record for record in self.records if record["kind"] == kind]

    def one(self, kind):
        return (self.of(kind) or [{}])[0]

    def generation(self):
        return GENERATION_OF_TITLE[self.plan["options"][1]]

    def module_log(self, folder=None):
        path = os.path.join(folder or self.folder, "Waypost.log")
        return open(path, encoding="latin-1", newline="").read() if os.path.exists(path) else ""

    def datagrams(self, name):
        return [(t, bytes.fromhex(data)) for t, data in (self.json("datagrams.json") or {}).get(name, [])]

    def common_checks(self, checks):
        """The host ran to its end, exited 0 and saw nothing a host must not (a hook or service misuse, a
        timer after the unload, a send after shut-down, a thread outliving it: its "anomaly" records)."""
        checks.expect(self.result.get("exit") == 0 and self.one("end") and not self.of("anomaly"),
                      "%s: host exit status %s, anomalies %s (see %s/host.out)" % (
                          self.name, self.result.get("exit"), [a["what"] for a in self.of("anomaly")], self.folder))


def hundredths_of(text):
    """The hundredths of the second the text's RMC, GLL or GGA carries (0 when it has none)."""
    match = re.search(r"\$GP(?:RMC|GGA|GLL),(?:[^*]*?,)?\d{6}\.(\d\d),", text)
    return int(match.group(1)) if match else 0


def replay(replay_exe, scenario, pairs):
    """The module's own composition (replay.exe under Wine) of each (text, sample) pair's sample, at the
    hundredths of the second its text carries: the bytes of each cycle, empty for a dropped sample."""
    lines = "".join("%d %s %s %d %d %s\n" % (
        scenario.generation(), scenario.settings["Sentences"], scenario.settings.get("PosTo6Decimal", "Yes"),
        hundredths_of(text), sample["groundSpeedWord"], " ".join("%s %r" % value for value in sample["values"].items()))
        for text, sample in pairs)
    result = subprocess.run([run.WINE_RUN, replay_exe], input=lines, capture_output=True, text=True, timeout=300)
    return [bytes.fromhex(line) if line != "dropped" else b"" for line in result.stdout.splitlines()]


def check_relay(out, arguments):
    """Each text the relay received is, byte for byte, the module's composition of the sample before it, on
    each host generation; every sample is sent once; beside the relay, the EFB and GDL 90 feeds."""
    checks = Checks("relay")
    for name in ["relay-gen2", "relay-gen1-antimeridian", "relay-gen0-98"]:
        scenario = Scenario(out, name)
        scenario.common_checks(checks)
        texts = scenario.of("relay")
        checks.expect(len(texts) >= 5, "%s: only %d texts reached the relay" % (name, len(texts)))
        pairs = []
        for relay in texts:
            # The next sample waits for this text's hand-over: the one before it is the one it came from.
            earlier = [sample for sample in scenario.samples if sample["t"] <= relay["t"] + 0.005]
            if checks.expect(earlier, "%s: no sample before the text at %.2f s" % (name, relay["t"])):
                pairs.append((relay["text"], earlier[-1]))
        # Each sample is sent once; without the feeds, which take samples of their own, every sample but one
        # taken just before shut-down.
        used, samples = {id(sample) for _, sample in pairs}, scenario.samples
        checks.expect(len(used) == len(pairs) and (scenario.plan.get("listen") or len(samples) - len(used) <= 1),
                      "%s: %d samples, %d texts from %d of them" % (name, len(samples), len(pairs), len(used)))
        if scenario.plan.get("listen"):
            check_feeds(checks, scenario, [sample for _, sample in pairs])
        composed = replay(arguments.replay, scenario, pairs)
        checks.expect(len(composed) == len(pairs), "%s: the replay gave %d texts" % (name, len(composed)))
        for (text, sample), expected in zip(pairs, composed):
            checks.expect(text.encode("latin-1") == expected, "%s: sent %r, composed from its sample %r" % (
                name, text, expected.decode("latin-1")))
    return checks.report()


def check_fixes(checks, where, fixes, samples):
    """gpsd's fixes against the aircraft's true position and speed at the sample they came from: the one of
    that second of the simulator's clock (several when the period is shorter) nearest to the fix."""
    for fix in fixes:
        sample = run.sample_of_fix(fix, samples)
        error = run.metres_from_truth(sample, fix["lat"], fix["lon"]) if sample else 99
        speed = sample["groundSpeedWord"] / 65536.0 if sample else -99
        checks.expect(error < 0.05 and abs(fix.get("speed", -1) - speed) <= 0.0268, "%s fix at %s: %.3f m from the "
                      "position served, speed served %.4f m/s" % (where, fix.get("time"), error, speed))


def check_serial(out, arguments):
    """The line's stream (its settings are the unit tests'), a cycle for each sample, decoded by gpsdecode to
    the aircraft's true position and speed; the glide computers' sentences read by their published layouts
    to its airspeed, altitude, climb, heading and the route's wind."""
    checks = Checks("serial")
    scenario = Scenario(out, "serial")
    scenario.common_checks(checks)
    text = "".join(chunk for _, chunk in scenario.json("capture.json") or [])
    cycles = ["$GPGSA" + piece for piece in text.split("$GPGSA") if piece]
    # Whole sentences from the first byte to the last, each ending in CR LF; a cycle for each sample.
    sentence = r"\$(GP[A-Z]{3}|LK8EX1|LXWP0),[^*$\r\n]*\*[0-9A-F]{2}\r\n"
    whole = text.startswith("$GPGSA") and re.fullmatch("(%s)+" % sentence, text)
    checks.expect(whole and len(cycles) >= max(len(scenario.samples) - 1, 20), "%d cycles for %d samples, whole "
                  "sentences %s: %r ... %r" % (len(cycles), len(scenario.samples), bool(whole), text[:20], text[-20:]))
    decoded = subprocess.run(["gpsdecode", "-j"], input=text.encode("latin-1"), capture_output=True, timeout=60)
    fixes = list(run.tpv_fixes(decoded.stdout.decode("ascii", "replace").splitlines()))
    checks.expect(len(fixes) >= len(cycles) - 2, "gpsdecode: %d fixes from %d cycles" % (len(fixes), len(cycles)))
    check_fixes(checks, "gpsdecode", fixes, scenario.samples)
    glide = run.glide_records(text, scenario.samples)
    checks.expect(len(glide) == 2 * len(cycles), "%d glide computer sentences in %d cycles" % (len(glide), len(cycles)))
    # Each cycle comes from the one sample of its second, and the stand-in serves exactly the state it logs:
    # no time passes between the two, so only each field's rounding may part a value from the truth.
    for record in glide:
        checks.expect(run.glide_within_rounding(record), "%s off the truth by %s" % (
            record, record["truth"] and run.glide_errors(record)))
    return checks.report()


def check_lifecycle(out, arguments):
    """Shut-down before the start timer leaves no timer after the unload (an anomaly in the 30 s of message
    loop after it); a first run makes the settings file with the defaults through the real profile calls."""
    checks = Checks("lifecycle")
    early, first = Scenario(out, "early-shutdown"), Scenario(out, "first-run-settings")
    for scenario in (early, first):
        scenario.common_checks(checks)
    checks.expect(early.one("init").get("result", 0) != 0 and not early.of("hook") and
                  early.one("unload").get("freed") is True and
                  early.one("end").get("t", 0) - early.one("unload").get("t", 0) >= 29.5,
                  "early-shutdown: start timer, no hook, unloaded and ran on 30 s: %s" % early.records)
    entries = first.one("settings").get("entries")
    checks.expect(entries == {"PosTo6Decimal": "Yes", "Port": "COM1", "Speed": "4800", "Interval": "2000"},
                  "first-run-settings: settings file holds %s" % entries)
    return checks.report()


def check_network(out, arguments):
    """gpsd's fixes and headings over UDP and TCP; the EFB text and GDL 90 decoded from the public formats
    against the aircraft; a tablet app found by its announcement and forgotten; a closed port; several TCP
    clients."""
    checks = Checks("network")
    scenario = Scenario(out, "network")
    scenario.common_checks(checks)
    samples, port = scenario.samples, scenario.result.get("ports", {}).get
    # gpsd, fed over UDP and connected to the module's TCP server, decodes fixes of the aircraft, and reads
    # HDT (alone of the three heading sentences) as the true heading of the fix before it.
    fixes, source, headings = {}, {}, []
    for record in map(json.loads, open(os.path.join(scenario.folder, "gpspipe.jsonl"))):
        if record.get("class") == "TPV" and "lat" in record:
            fixes.setdefault(record["device"], []).append(record)
            source[record["device"]] = run.sample_of_fix(record, samples)
        elif record.get("class") == "ATT" and source.get(record.get("device")):
            headings.append(apart(record.get("heading", -1), source[record["device"]]["truth"]["headingTrue"]))
    checks.expect(len(headings) >= 40 and max(headings) <= 0.0501, "gpsd's headings off by %s" % headings)
    for kind in ("udp", "tcp"):
        found = fixes.get("%s://127.0.0.1:%s" % (kind, port(kind)), [])
        checks.expect(len(found) >= 20, "gpsd decoded %d fixes from %s" % (len(found), kind))
        check_fixes(checks, "gpsd " + kind, found, samples)

    # The app found by its announcement: its port got the GDL 90 feed, datagram for datagram as the gdl90
    # entry meanwhile, until about 15 s after the last announcement.
    tablet, announced = scenario.datagrams("tablet"), scenario.result.get("announced", [0])
    fixed = " %s " % " ".join(data.hex() for _, data in scenario.datagrams("gdl90"))
    checks.expect(len(announced) == ANNOUNCEMENTS and len(tablet) >= 60 and tablet[0][0] > announced[0] and
                  " %s " % " ".join(data.hex() for _, data in tablet) in fixed,
                  "%d datagrams to the tablet after %s" % (len(tablet), announced))
    silence = tablet[-1][0] - announced[-1] if tablet else 0
    checks.expect(13.5 <= silence <= 18, "the tablet's feed ended %.1f s after its last announcement" % silence)
    check_feeds(checks, scenario)
    log = scenario.module_log()
    checks.expect("6 network entries, NetworkName=E2E PressureAltitude=Yes" in log, "PressureAltitude not logged")
    checks.expect("network udp: nothing listens at 127.0.0.1:%s: is the app open" % port("closed") in log,
                  "the closed port is not logged as one where nothing listens")

    # Several TCP clients (what each gets is the unit tests'): the one that never reads was closed, and every
    # connection ended when the module was unloaded.
    streams, ended = scenario.result.get("tcp", []), scenario.result.get("endedAfterExit", 99)
    checks.expect(len(streams) == 3 and all(stream["ended"] == "closed" for stream in streams) and ended < 10,
                  "TCP readers ended %s, %.1f s after the host" % ([stream["ended"] for stream in streams], ended))
    checks.expect(re.search(r"client 127\.0\.0\.1:\d+ closed: not reading for 5 s", log) is not None,
                  "the client that never reads was not closed")
    return checks.report()


def check_feeds(checks, scenario, sources=()):
    """Every EFB line and GDL 90 frame decodes, from the public formats, to the aircraft's true state at the
    sample before it (GDL 90's pressure altitude to 25 ft of the altitude, its geometric altitude to 2 m of the
    height above the ellipsoid: the altitude plus EGM96's geoid height, from the model's grid); a heartbeat
    goes out without one, and is valid only within 3 s of one. Between the samples of the first and the last
    relay text (sources), the feeds keep their own pace against the line's Interval/100 + 1 steps: heartbeat,
    ownship, geometric altitude, identification and XGPS every 10 steps, AHRS and XATT every 2 (AttitudeRate
    5)."""
    samples = sorted(scenario.samples, key=lambda sample: sample["wall"])
    # Hosts before generation 2 give no track: the module derives it from the wind, which it reads as
    # magnetic and the stand-in serves as true, so the drift is off by up to 1.5 degrees on these routes.
    slack = 0 if scenario.generation() == 2 else 2.0
    counts = {}
    for name in scenario.plan["listen"]:
        for t, data in scenario.datagrams(name):
            earlier = [sample for sample in samples if sample["wall"] <= t + 0.05]
            for m in netfeed.decode_datagram(data):
                if m.get("kind") == "heartbeat":  # it and the identification go without samples
                    ok = heartbeat_matches(m, t, earlier)
                else:  # from the last sample, or the one before when the host sampled again as it went out
                    ok = ("error" not in m and m.get("fcs_ok", True) and (earlier or m["kind"] == "identification")
                          and any(feed_matches(m, sample, slack) for sample in earlier[-2:] or [None]))
                checks.expect(ok, "%s datagram %s: %s against %s" % (
                    scenario.name, data.hex(), m, earlier[-1]["truth"] if earlier else "no sample"))
                if sources and sources[0]["wall"] <= t < sources[-1]["wall"]:
                    counts[m.get("kind")] = counts.get(m.get("kind"), 0) + 1
    steps, texts = int(scenario.settings["Interval"]) // 100 + 1, max(len(sources) - 1, 1)
    for kind in ("heartbeat", "ownship", "geometric_altitude", "identification", "xgps", "ahrs", "xatt"):
        want = (steps / 10 if kind not in ("ahrs", "xatt") else steps / 2) * texts
        checks.expect(not sources or abs(counts.get(kind, 0) - want) <= 1 + 0.1 * want, "%s: %d %s for %d texts" % (
            scenario.name, counts.get(kind, 0), kind, texts))


def heartbeat_matches(m, t, earlier):
    # Valid within 30 steps (3 s, a little more under load) of a sample; the time stamp is the last
    # sample's clock, or the one before's when the host sampled just as it went out.
    age = t - earlier[-1]["wall"] if earlier else 99
    stamps = [sum(int(part) * unit for part, unit in zip(sample["truth"]["time"].split(":"), (3600, 60, 1)))
              for sample in earlier[-2:]] or [0]
    return (m["timestamp"] in stamps and m["utc_ok"] == m["gps_valid"] and
            (2.5 < age < 4 or m["gps_valid"] == (age <= 2.5)))


def apart(a, b):
    """Degrees between two longitudes or directions."""
    return abs((a - b + 180) % 360 - 180)


def feed_matches(m, sample, slack):
    kind = m["kind"]
    if kind == "identification":
        return m["device_name"] == "E2E" and not m["altitude_msl"]
    truth, speed = sample["truth"], sample["groundSpeedWord"] / 65536.0
    if kind == "xgps":
        return (m["name"] == "E2E" and abs(m["latitude"] - truth["lat"]) < 1e-6 and
                apart(m["longitude"], truth["lon"]) < 1e-6 and abs(m["altitude_m"] - truth["altitudeM"]) < 0.06 and
                apart(m["track"], truth["trackTrue"]) < 0.02 + slack and abs(m["speed_ms"] - speed) < 0.06)
    if kind == "xatt":
        return (apart(m["heading"], truth["headingTrue"]) < 0.06 and abs(m["pitch"] - truth["pitchUp"]) < 0.06 and
                abs(m["roll"] - truth["rollRight"]) < 0.06)
    if kind == "ownship":
        knots, unit = speed * 3600 / 1852, 180 / 2 ** 23 * 1.01
        return (abs(m["latitude"] - truth["lat"]) < unit and apart(m["longitude"], truth["lon"]) < unit and
                abs(m["pressure_altitude"] - truth["altitudeM"] / 0.3048) <= 25 and m["airborne"] == (knots >= 40) and
                abs(m["horizontal_velocity"] - knots) <= 0.51 and
                abs(m["vertical_velocity"] - truth["verticalSpeedMs"] * 196.8504) <= 32.1 and
                apart(m["track"], truth["trackTrue"]) <= 0.71 + slack and m["callsign"] == "E2E")
    if kind == "geometric_altitude":  # above the ellipsoid, which lies 46 m below sea level at Greenwich
        undulation = netfeed.geoid_undulation(truth["lat"], truth["lon"])
        return abs(m["altitude"] * 0.3048 - (truth["altitudeM"] + undulation)) <= 2
    if kind == "ahrs":
        return (abs(m["roll"] - truth["rollRight"]) <= 0.051 and abs(m["pitch"] - truth["pitchUp"]) <= 0.051 and
                apart(m["heading"], truth["headingTrue"]) <= 0.051 and
                abs(m["indicated_airspeed"] - truth["airspeedKt"]) <= 0.51)
    return False


def check_package(out, arguments):
    """The zip holds the files a player needs under Waypost-<project version>/, the texts with CR LF line
    ends; its module's version resource (and its four numbers), its host's --version and its module's log
    carry the build's version text; unpacked, its host and module run a relay run and log beside the
    module."""
    checks, version = Checks("package"), arguments.version
    with zipfile.ZipFile(arguments.zip) as archive:
        names = sorted(archive.namelist())
        top = names[0].split("/")[0]
        checks.expect(top == "Waypost-" + version.split("+")[0] and names == ["%s/%s" % (top, name) for name in
                                                                               PACKAGE_FILES],
                      "zip holds %s, for version %s" % (names, version))
        texts = {name: archive.read("%s/%s" % (top, name))
                 for name in ("Waypost.ini", "GUIDE.txt", "CHANGELOG.md", "LICENSE")}
        dll = archive.read("%s/Waypost.dll" % top)
    # The resource's fixed part: its signature, the layout's version, then FILEVERSION and PRODUCTVERSION as
    # two 32-bit words each, each word two of the four numbers.
    major, minor, patch, build = (int(number) for number in arguments.version_numbers.split(","))
    fixed = dll.find(struct.pack("<I", 0xFEEF04BD))
    words = struct.unpack_from("<4I", dll, fixed + 8) if fixed >= 0 else None
    checks.expect(words == (major << 16 | minor, patch << 16 | build) * 2 and
                  dll.count((version + "\0").encode("utf-16-le")) == 2,
                  "version resource words %s, FileVersion and ProductVersion, expected %s and %s" % (
                      words, arguments.version_numbers, version))
    for name, text in texts.items():
        checks.expect(text.count(b"\n") > 20 and text.count(b"\n") == text.count(b"\r\n"),
                      "%s has lines that do not end in CR LF" % name)
    scenario = Scenario(out, "package")
    scenario.common_checks(checks)
    relay = [record["text"] for record in scenario.of("relay")]
    checks.expect(len(relay) >= 3 and all(text.startswith("$GPRMC,") for text in relay), "relay texts %s" % relay)
    module = os.path.join(scenario.folder, top)
    shown = subprocess.run([run.WINE_RUN, os.path.join(module, "waypost-host.exe"), "--version"],
                           capture_output=True, text=True, timeout=120)
    checks.expect(shown.returncode == 0 and shown.stdout == "waypost-host %s\n" % version,
                  "waypost-host --version: status %d, %r" % (shown.returncode, shown.stdout))
    log = scenario.module_log(module)
    checks.expect(re.match(r" *\d+\.\d{3} Waypost %s, settings " % re.escape(version), log) and
                  "relay: texts are handed over" in log, "the module's log beside it begins %r" % log[:200])
    return checks.report()


CHECKS = {"relay": check_relay, "serial": check_serial, "lifecycle": check_lifecycle, "network": check_network,
          "package": check_package}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["run"] + list(CHECKS))
    parser.add_argument("--out", required=True)
    for option in ("--host", "--dll", "--zip", "--replay", "--version", "--version-numbers"):
        parser.add_argument(option)
    arguments = parser.parse_args()
    out = os.path.abspath(arguments.out)
    if arguments.command == "run":
        return command_run(out, arguments)
    return CHECKS[arguments.command](out, arguments)


if __name__ == "__main__":
    sys.exit(main())
