#!/usr/bin/env python3
"""End-to-end tests: the real Waypost.dll inside the stand-in host under Wine.

  e2e.py run --out DIR --host waypost-host.exe --dll Waypost.dll --zip Waypost-VERSION-win32.zip
      runs every scenario side by side (one 25 s start delay for all) and keeps each one's console, host log,
      settings file, module log and captures under DIR/<scenario>/; one runs the players' zip unpacked
  e2e.py check GROUP --out DIR --replay replay.exe --zip ZIP --version TEXT --version-numbers A,B,C,D
      checks what the run left: relay (every text the relay received, byte for byte against the module's
      composition of the values served, and the EFB and GDL 90 feeds' pace against it), serial (line
      settings, the byte stream, gpsdecode's fixes against the aircraft's true position), lifecycle (a port
      that does not open, early shut-down, the settings file a first run makes), network (gpsd's fixes and
      headings over UDP and TCP, the EFB text and GDL 90 decoded from the public formats against the aircraft,
      ForeFlight found by its announcement, a closed port, several TCP clients, the serial line beside them),
      log (the module's log lines of a normal run and a failing port), package
      (the zip's files, the version its folder, module, host and log carry, and its host and module run as a
      player gets them)
"""

import argparse
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))

import netfeed  # noqa: E402
import waypost_run as run  # noqa: E402

ALL_RECORDS = "RMC,GLL,GGA,GSA,VTG,RMA,GSV,PGRMZ,GTEXT,AV400,RPY,HDT,HDM,HDG"
NMEA_SET = "RMC,GGA,GSA,GSV,VTG,GLL"
SERIAL_PORT = 41
NETWORK_SERIAL_PORT = 43
MISSING_PORT = 77
ANTIMERIDIAN = os.path.join(HERE, "routes", "antimeridian.route")


PORTS = {name: run.free_port(socket.SOCK_DGRAM if name != "tcp" else socket.SOCK_STREAM)
         for name in ("udp", "tcp", "efb", "gdl90", "gpsd", "closed", "announce", "tablet", "gen1-efb", "gen1-gdl90",
                      "gen0-efb", "gen0-gdl90")}
ANNOUNCEMENTS = 4  # ForeFlight's, every 3 s from 2 s after the hook


def feeds(prefix):
    """Settings that send the EFB and GDL 90 feeds to the scenario's listeners (see listen)."""
    return [("NetworkName", "E2E"), ("Network", "xgps:127.0.0.1:%d,gdl90:127.0.0.1:%d" % (
        PORTS[prefix + "efb"], PORTS[prefix + "gdl90"]))]


# name: settings (None: no file), host options, seconds from start-up to shut-down, seconds after unload,
# whether the module's port is a pseudo-terminal line (its number), and the PORTS listened to for datagrams.
SCENARIOS = {
    "relay-gen2": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "1000")],
        # No feeds here: at lowered precision the host's system-clock stamps cannot line datagrams up.
        options=["--generation", "2004", "--low-precision"], run=55),
    "relay-gen1-antimeridian": dict(
        settings=[("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", "2000"), ("PosTo6Decimal", "No")]
        + feeds("gen1-"), options=["--generation", "2002", "--route", ANTIMERIDIAN], run=55,
        listen=["gen1-efb", "gen1-gdl90"]),
    "relay-gen0-98": dict(
        settings=[("Port", "nethub"), ("Sentences", ALL_RECORDS), ("Interval", "500")] + feeds("gen0-"),
        options=["--generation", "98", "--ready-after", "30"], run=45, listen=["gen0-efb", "gen0-gdl90"]),
    "unopenable-port": dict(
        settings=[("Port", "COM%d" % MISSING_PORT), ("Log", "Yes")], options=["--generation", "2004"], run=30),
    "early-shutdown": dict(
        settings=[("Port", "NetHub")], options=["--generation", "2004"], run=5, linger=30),
    "first-run-settings": dict(settings=None, options=["--generation", "2004"], run=2),
    "serial": dict(
        settings=[("Port", "COM%d" % SERIAL_PORT), ("Speed", "19200"), ("Sentences", NMEA_SET),
                  ("Interval", "1000"), ("Log", "Yes")],
        options=["--generation", "2004"], run=55, serial=SERIAL_PORT),
    "network": dict(
        settings=[("Port", "COM%d" % NETWORK_SERIAL_PORT), ("Speed", "115200"), ("Interval", "100"), ("Log", "Yes"),
                  ("Sentences", "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,HDT,HDM,HDG"), ("NetworkName", "E2E"),
                  ("Network", "udp:127.0.0.1:%d, tcp:127.0.0.1:%d, xgps:127.0.0.1:%d, gdl90:127.0.0.1:%d, "
                   "udp:127.0.0.1:%d, gdl90:auto:%d" % tuple(PORTS[name] for name in (
                       "udp", "tcp", "efb", "gdl90", "closed", "announce")))],
        options=["--generation", "2004"], run=60, serial=NETWORK_SERIAL_PORT, network=True,
        listen=["efb", "gdl90", "tablet"]),
    # The players' zip: its own settings file, with these keys changed, and its host beside its module.
    "package": dict(settings=[("Port", "NetHub"), ("Interval", "1000"), ("Log", "Yes")], options=[], run=32),
}
PACKAGE_FILES = ["CHANGELOG.md", "GUIDE.md", "GUIDE.txt", "LICENSE", "Waypost.dll", "Waypost.ini", "waypost-host.exe"]

GENERATION_OF_TITLE = {"98": 0, "2000": 0, "2002": 1, "2004": 2, "none": 2}
TCP_READERS = 3


# ---- Running ------------------------------------------------------------------------------------------

def run_network_readers(plan, folder, log, host, result, wall):
    """The readers of the network scenario, while the host runs: gpsd, TCP clients (one of which never
    reads), and ForeFlight announcing itself for a while. Records what each received."""
    # gpsd connects to the module's TCP server, so it starts once the module listens.
    run.wait_for_record(log, "init", 120)
    gpsd = run.start_gpsd(PORTS["gpsd"], ["udp://127.0.0.1:%d" % PORTS["udp"], "tcp://127.0.0.1:%d" % PORTS["tcp"]],
                          os.path.join(folder, "gpsd.err"))
    time.sleep(2)
    pipe = subprocess.Popen(["gpspipe", "-w", "127.0.0.1:%d" % PORTS["gpsd"]],
                            stdout=open(os.path.join(folder, "gpspipe.jsonl"), "w"), stderr=subprocess.DEVNULL)
    clients = [run.TcpReader(PORTS["tcp"]) for _ in range(TCP_READERS)]
    stalled = run.TcpReader(PORTS["tcp"], reads=False)
    run.wait_for_record(log, "hook", 60)
    time.sleep(2)
    with netfeed.Announcer(PORTS["announce"], PORTS["tablet"], ANNOUNCEMENTS, every=3.0) as announcer:
        host.wait(plan["run"] + 120)
    exited = time.monotonic()
    for client in clients:
        while client.ended is None and time.monotonic() - exited < 15:
            time.sleep(0.1)
    stalled.read_rest(timeout=15)
    for process in (pipe, gpsd):
        process.terminate()
        process.wait(10)
    result["tcp"] = [{"data": client.data().decode("latin-1"), "ended": client.ended} for client in clients]
    result["stalled"] = {"bytes": len(stalled.data()), "ended": stalled.ended}
    result["endedAfterExit"] = time.monotonic() - exited
    result["announced"] = [wall + t for t in announcer.sent]


def unpack(zip_path, folder, changes):
    """The players' zip unpacked into folder; the keys changed in its settings file, every other line (the
    comments above all) left as it was. Returns the module's path."""
    with zipfile.ZipFile(zip_path) as archive:
        top = archive.namelist()[0].split("/")[0]
        archive.extractall(folder)
    settings = os.path.join(folder, top, "Waypost.ini")
    lines = open(settings, newline="").read().split("\r\n")
    open(settings, "w", newline="").write("\r\n".join(
        "%s=%s" % (line.split("=")[0], changes[line.split("=")[0]]) if line.split("=")[0] in changes else line
        for line in lines))
    return os.path.join(folder, top, "Waypost.dll")


def run_scenario(name, plan, out, arguments, results):
    folder = os.path.join(out, name)
    host_exe, dll = arguments.host, arguments.dll
    if name == "package":
        shutil.rmtree(folder, ignore_errors=True)
        dll_copy = unpack(arguments.zip, folder, dict(plan["settings"]))
        host_exe = os.path.join(os.path.dirname(dll_copy), "waypost-host.exe")
    else:
        dll_copy = run.prepare_module_folder(folder, dll, plan["settings"])
    options = plan["options"] + ["--run", str(plan["run"]), "--linger", str(plan.get("linger", 0))]
    result = {"name": name}
    started = time.monotonic()

    def during(host, log, line):
        if line is not None and run.wait_for_record(log, "init", 60) is not None:
            time.sleep(1)
            result["lineSettings"] = line.line_settings()
        with netfeed.Listener({name: PORTS[name] for name in plan.get("listen", [])}) as listener:
            wall = time.time() - time.monotonic()  # datagrams in the system clock, as the host's samples
            if plan.get("network"):
                run_network_readers(plan, folder, log, host, result, wall)
            host.wait(plan["run"] + plan.get("linger", 0) + 120)
        result["ports"] = PORTS
        with open(os.path.join(folder, "datagrams.json"), "w") as file:
            json.dump({name: [(wall + t, data.hex()) for t, _, data in listener.datagrams(name)]
                       for name in plan.get("listen", [])}, file)

    result["exit"], chunks = run.run_host(folder, host_exe, dll_copy, options,
                                          plan["run"] + plan.get("linger", 0) + 120, plan.get("serial"), during)
    if chunks:
        with open(os.path.join(folder, "capture.json"), "w") as capture:
            json.dump([(t, chunk.decode("latin-1")) for t, chunk in chunks], capture)
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
    threads = [threading.Thread(target=run_scenario, args=(name, plan, out, arguments, results))
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
        for failure in self.failures[:60]:  # the first ones tell
            print("[e2e] FAIL %s: %s" % (self.group, failure))
        print("[e2e] %s: %d expectations met, %d failed" % (self.group, self.passed, len(self.failures)))
        return 0 if not self.failures else 1


class Scenario:
    """What one scenario left behind."""

    def __init__(self, out, name):
        self.name = name
        self.plan = SCENARIOS[name]
        self.folder = os.path.join(out, name)
        self.records = run.read_log(os.path.join(self.folder, "log.jsonl"))
        self.result = self.json("result.json") or {}
        self.samples = sorted(self.of("sample"), key=lambda sample: sample["t"])

    def json(self, file):
        path = os.path.join(self.folder, file)
        return json.load(open(path)) if os.path.exists(path) else None

    def of(self, kind):
        return [record for record in self.records if record["kind"] == kind]

    def one(self, kind):
        found = self.of(kind)
        return found[0] if found else None

    def settings(self):
        return dict(self.plan["settings"] or [])

    def generation(self):
        options = self.plan["options"]
        return GENERATION_OF_TITLE[options[options.index("--generation") + 1]]

    def module_log(self, folder=None):
        path = os.path.join(folder or self.folder, "Waypost.log")
        return open(path, encoding="latin-1", newline="").read() if os.path.exists(path) else ""

    def datagrams(self, name):
        return [(t, bytes.fromhex(data)) for t, data in (self.json("datagrams.json") or {}).get(name, [])]

    def line_text(self):
        return "".join(chunk for _, chunk in self.json("capture.json") or [])

    def common_checks(self, checks):
        checks.expect(self.result.get("exit") == 0, "%s: host exit status %s (see %s/host.out)" % (
            self.name, self.result.get("exit"), self.folder))
        checks.expect(not self.of("anomaly"), "%s: host saw %s" % (self.name, [a["what"] for a in self.of("anomaly")]))
        checks.expect(self.one("end") is not None, "%s: the host did not finish its run" % self.name)


class Replay:
    """The module's own composition of logged samples (replay.exe under Wine), in one batch per scenario."""

    def __init__(self, replay_exe, scenario, samples, hundredths):
        settings = scenario.settings()
        lines = []
        for sample, hundredth in zip(samples, hundredths):
            values = " ".join("%s %r" % value for value in sample["values"].items())  # request id, host value
            lines.append("%d %s %s %d %d %s\n" % (scenario.generation(), settings["Sentences"],
                                                  settings.get("PosTo6Decimal", "Yes"), hundredth,
                                                  sample["groundSpeedWord"], values))
        result = subprocess.run([run.WINE_RUN, replay_exe], input="".join(lines), capture_output=True, text=True,
                                timeout=300)
        self.texts = [bytes.fromhex(line) if line != "dropped" else b"" for line in result.stdout.splitlines()]


def hundredths_of(text):
    """The hundredths of the second the text's RMC, GLL or GGA carries (0 when it has none)."""
    match = re.search(r"\$GP(?:RMC|GGA|GLL),(?:[^*]*?,)?\d{6}\.(\d\d),", text)
    return int(match.group(1)) if match else 0


def check_relay(out, replay_exe):
    checks = Checks("relay")
    for name in ["relay-gen2", "relay-gen1-antimeridian", "relay-gen0-98"]:
        scenario = Scenario(out, name)
        scenario.common_checks(checks)
        texts = scenario.of("relay")
        checks.expect(len(texts) >= 5, "%s: only %d texts reached the relay" % (name, len(texts)))
        pairs = []
        for index, relay in enumerate(texts):
            where = "%s text %d (t=%.2f)" % (name, index + 1, relay["t"])
            # The next sample waits for this text's hand-over: the one before it is the one it came from.
            earlier = [sample for sample in scenario.samples if sample["t"] <= relay["t"] + 0.005]
            sample = earlier[-1] if earlier else None
            if checks.expect(sample is not None, "%s: no sample before it" % where):
                pairs.append((where, relay["text"], sample))
        used = {id(sample) for _, _, sample in pairs}
        checks.expect(len(used) == len(pairs), "%s: two texts from one sample" % name)
        if scenario.plan.get("listen"):
            check_feeds(checks, scenario, [sample for _, _, sample in pairs])
        else:  # every sample is sent, except one taken just before shut-down
            checks.expect(len(scenario.samples) - len(used) <= 1, "%s: %d samples, %d sent" % (
                name, len(scenario.samples), len(used)))
        replay = Replay(replay_exe, scenario, [s for _, _, s in pairs], [hundredths_of(t) for _, t, _ in pairs])
        checks.expect(len(replay.texts) == len(pairs), "%s: the replay gave %d texts" % (name, len(replay.texts)))
        for (where, text, _), expected in zip(pairs, replay.texts):
            checks.expect(text.encode("latin-1") == expected, "%s: sent %r, composed from its sample %r" % (
                where, text, expected.decode("latin-1")))
    # The antimeridian route crosses 180 degrees and New Year's Eve.
    rmc = [re.search(r"\$GPRMC,[^,]*,A,[^,]*,([NS]),[^,]*,([EW]),[^,]*,[^,]*,\d\d\d\d(\d\d),", relay["text"])
           for relay in Scenario(out, "relay-gen1-antimeridian").of("relay")]
    checks.expect({match.group(1, 2) for match in rmc if match} == {("S", "E"), ("S", "W")},
                  "antimeridian route crossed 180: %s" % {match.group(1, 2) for match in rmc if match})
    checks.expect({match.group(3) for match in rmc if match} == {"26", "27"}, "antimeridian run passed New Year")
    return checks.report()


def check_fixes(checks, where, fixes, samples, limit=0.05):
    """gpsd's fixes against the aircraft's true position and speed at the sample they came from: the one of
    that second of the simulator's clock (several when the period is shorter) nearest to the fix."""
    worst = 0.0
    for fix in fixes:
        stamp = fix.get("time", "")
        sample = run.sample_of_fix(fix, samples)
        if not checks.expect(sample is not None, "%s fix at %s: no sample at that time" % (where, stamp)):
            continue
        error = run.metres_from_truth(sample, fix["lat"], fix["lon"])
        worst = max(worst, error)
        checks.expect(error < limit, "%s fix at %s: %.3f m from the position served" % (where, stamp, error))
        served_speed = sample["groundSpeedWord"] / 65536.0
        checks.expect(abs(fix.get("speed", -1) - served_speed) <= 0.0258 + 0.001,
                      "%s fix at %s: speed %s m/s, served %.4f m/s" % (where, stamp, fix.get("speed"), served_speed))
    return worst


def cycles_on_line(text, first="$GPGSA"):
    return [first + piece for piece in text.split(first) if piece]


def check_serial(out):
    checks = Checks("serial")
    scenario = Scenario(out, "serial")
    scenario.common_checks(checks)
    settings = scenario.result.get("lineSettings", "")
    for flag in ["speed 19200 baud", "cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff"]:
        checks.expect(re.search(r"(^|[\s;])%s([\s;]|$)" % re.escape(flag), settings),
                      "line settings lack %r: %r" % (flag, settings))
    text = scenario.line_text()
    cycles = cycles_on_line(text)
    checks.expect(text.startswith("$GPGSA"), "stream begins %r" % text[:20])
    checks.expect(len(cycles) >= len(scenario.samples) - 1 and len(cycles) >= 20,
                  "%d cycles on the line for %d samples" % (len(cycles), len(scenario.samples)))
    fixes = gpsdecode(text.encode("latin-1"))
    checks.expect(len(fixes) >= len(cycles) - 2, "gpsdecode decoded %d fixes from %d cycles" % (len(fixes), len(cycles)))
    worst = check_fixes(checks, "gpsdecode", fixes, scenario.samples)
    print("[e2e] serial: %d bytes, %d cycles, %d fixes from gpsdecode, largest position error %.4f m" % (
        len(text), len(cycles), len(fixes), worst))
    return checks.report()


def gpsdecode(data):
    result = subprocess.run(["gpsdecode", "-j"], input=data, capture_output=True, timeout=60)
    return list(run.tpv_fixes(result.stdout.decode("ascii", "replace").splitlines()))


def check_lifecycle(out):
    checks = Checks("lifecycle")
    # A port that does not open: start-up stops, the module stays idle, the host runs on.
    scenario = Scenario(out, "unopenable-port")
    scenario.common_checks(checks)
    checks.expect((scenario.one("init") or {}).get("result") == 0, "unopenable-port: ModuleInit returned %s" % (
        scenario.one("init") or {}).get("result"))
    checks.expect(not scenario.of("hook") and not scenario.of("timer") and not scenario.samples,
                  "unopenable-port: the idle module registered, timed or sampled")

    # Shut-down before the start timer, then 30 s of message loop without the library.
    scenario = Scenario(out, "early-shutdown")
    scenario.common_checks(checks)  # a timer message after the unload is an anomaly
    end, unload = scenario.one("end") or {}, scenario.one("unload") or {}
    checks.expect((scenario.one("init") or {}).get("result", 0) != 0 and not scenario.of("hook") and
                  unload.get("freed") is True and end.get("t", 0) - unload.get("t", 0) >= 29.5,
                  "early-shutdown: start timer, no hook, unloaded and ran on 30 s: %s" % scenario.records)

    # A first run makes the settings file with the defaults, through the real profile calls.
    scenario = Scenario(out, "first-run-settings")
    scenario.common_checks(checks)
    entries = (scenario.one("settings") or {}).get("entries")
    checks.expect(entries == {"PosTo6Decimal": "Yes", "Port": "COM1", "Speed": "4800", "Interval": "2000"},
                  "first-run-settings: settings file holds %s" % entries)
    return checks.report()


def check_network(out):
    checks = Checks("network")
    scenario = Scenario(out, "network")
    scenario.common_checks(checks)
    samples = scenario.samples
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
        device = "%s://127.0.0.1:%s" % (kind, scenario.result.get("ports", {}).get(kind))
        found = fixes.get(device, [])
        checks.expect(len(found) >= 20, "gpsd decoded %d fixes from %s" % (len(found), device))
        worst = check_fixes(checks, "gpsd " + kind, found, samples)
        print("[e2e] network: gpsd %s: %d fixes, largest position error %.4f m; %d headings from both" % (
            kind, len(found), worst, len(headings)))

    # ForeFlight found by its announcement: its port got the GDL 90 feed, datagram for datagram as the
    # gdl90 entry meanwhile, until about 15 s after the last announcement.
    tablet, announced = scenario.datagrams("tablet"), scenario.result.get("announced", [0])
    fixed = " %s " % " ".join(data.hex() for _, data in scenario.datagrams("gdl90"))
    checks.expect(len(announced) == ANNOUNCEMENTS and len(tablet) >= 60 and tablet[0][0] > announced[0] and
                  " %s " % " ".join(data.hex() for _, data in tablet) in fixed,
                  "%d datagrams to the tablet after %s" % (len(tablet), announced))
    silence = tablet[-1][0] - announced[-1] if tablet else 0
    checks.expect(13.5 <= silence <= 18, "the tablet's feed ended %.1f s after its last announcement" % silence)
    print("[e2e] network: the tablet got %d datagrams, the last %.1f s after its last announcement" % (
        len(tablet), silence))
    check_feeds(checks, scenario)

    # Several TCP clients: those that read got one and the same stream of whole cycles (each from its first
    # full cycle), the one that never reads was closed, and every connection ended when the module was
    # unloaded.
    streams = scenario.result.get("tcp", [])
    tails = [stream["data"][stream["data"].find("$GPGSA"):] for stream in streams]
    shortest = min(tails, key=len) if tails else ""
    checks.expect(len(shortest) > 10000 and all(tail.endswith(shortest) for tail in tails),
                  "TCP readers got different streams (%s bytes)" % [len(t) for t in tails])
    checks.expect(all(stream["ended"] == "closed" for stream in streams), "TCP readers ended %s" % [
        stream["ended"] for stream in streams])
    checks.expect(scenario.result.get("endedAfterExit", 99) < 10, "connections ended %.1f s after the host exited" % (
        scenario.result.get("endedAfterExit", 99)))
    log = scenario.module_log()
    checks.expect("network udp: nothing listens at 127.0.0.1:%s: is the app open" % (
        scenario.result.get("ports", {}).get("closed")) in log, "the closed port is not logged as unheard")
    checks.expect(re.search(r"client 127\.0\.0\.1:\d+ closed: not reading for 5 s", log) is not None,
                  "the client that never reads was not closed: %s" % scenario.result.get("stalled"))
    # The serial line beside them carried every cycle the module counted: none was held up (the period is
    # scripts/bench's).
    on_line, cycles = len(cycles_on_line(scenario.line_text())), re.search(r"samples taken, .*; (\d+) cycles", log)
    checks.expect(cycles and on_line >= int(cycles.group(1)) - 1, "%d cycles on the serial line, the log says %s" % (
        on_line, cycles and cycles.group(1)))
    return checks.report()


def check_feeds(checks, scenario, sources=()):
    """Every EFB line and GDL 90 frame decodes, from the public formats, to the aircraft's true state at the
    sample before it; a heartbeat goes out without one, and is valid only within 3 s of one. Between the
    samples of the first and the last relay text (sources), the feeds keep their own pace against the line's
    Interval/100 + 1 steps: heartbeat, ownship, geometric altitude, identification and XGPS every 10 steps,
    AHRS and XATT every 2 (AttitudeRate 5; none on generation 0)."""
    samples = sorted(scenario.samples, key=lambda sample: sample["wall"])
    # Hosts before generation 2 give no track: the module derives it from the wind, which it reads as
    # magnetic and the stand-in serves as true, so the drift is off by up to 1.5 degrees on these routes.
    slack = 0 if scenario.generation() == 2 else 2.0
    counts = {"unsampled": 0}
    for name in scenario.plan["listen"]:
        for t, data in scenario.datagrams(name):
            earlier = [sample for sample in samples if sample["wall"] <= t + 0.05]
            for m in netfeed.decode_datagram(data):
                if m.get("kind") == "heartbeat":  # it and the identification go without samples
                    counts["unsampled"] += not earlier
                    ok = heartbeat_matches(m, t, earlier)
                else:
                    ok = ("error" not in m and m.get("fcs_ok", True) and (earlier or m["kind"] == "identification")
                          and feed_matches(m, earlier[-1] if earlier else None, slack))
                checks.expect(ok, "%s datagram %s: %s against %s" % (
                    scenario.name, data.hex(), m, earlier[-1]["truth"] if earlier else "no sample"))
                if sources and sources[0]["wall"] <= t < sources[-1]["wall"]:
                    counts[m.get("kind")] = counts.get(m.get("kind"), 0) + 1
    if scenario.name == "relay-gen0-98":  # ready 5 s after the hook
        checks.expect(counts["unsampled"] >= 3, "%s: %d heartbeats before the first sample" % (
            scenario.name, counts["unsampled"]))
    steps, texts = int(scenario.settings()["Interval"]) // 100 + 1, max(len(sources) - 1, 1)
    for kind in ("heartbeat", "ownship", "geometric_altitude", "identification", "xgps", "ahrs", "xatt"):
        want = (steps / 10 if kind not in ("ahrs", "xatt") else steps / 2 if scenario.generation() else 0) * texts
        checks.expect(not sources or abs(counts.get(kind, 0) - want) <= 1 + 0.1 * want, "%s: %d %s for %d texts" % (
            scenario.name, counts.get(kind, 0), kind, texts))
    if sources:
        print("[e2e] %s: per relay text %s" % (scenario.name, ", ".join(
            "%s %.2f" % (kind, count / texts) for kind, count in counts.items() if kind != "unsampled")))


def seconds_of_day(sample):
    hours, minutes, seconds = (int(part) for part in sample["truth"]["time"].split(":"))
    return hours * 3600 + minutes * 60 + seconds


def heartbeat_matches(m, t, earlier):
    # Valid within 30 steps (3 s, a little more under load) of a sample; the time stamp is the last
    # sample's clock, or the one before's when the host sampled just as it went out.
    age = t - earlier[-1]["wall"] if earlier else 99
    stamps = [seconds_of_day(sample) for sample in earlier[-2:]] or [0]
    return (m["timestamp"] in stamps and m["utc_ok"] == m["gps_valid"] and
            (2.5 < age < 4 or m["gps_valid"] == (age <= 2.5)))


def apart(a, b):
    """Degrees between two longitudes or directions."""
    return abs((a - b + 180) % 360 - 180)


def feed_matches(m, sample, slack):
    kind = m["kind"]
    if kind == "identification":
        return m["device_name"] == "E2E" and m["altitude_msl"]
    truth = sample["truth"]
    knots = sample["groundSpeedWord"] / 65536.0 * 3600 / 1852
    if kind == "xgps":
        return (m["name"] == "E2E" and abs(m["latitude"] - truth["lat"]) < 1e-6 and
                apart(m["longitude"], truth["lon"]) < 1e-6 and abs(m["altitude_m"] - truth["altitudeM"]) < 0.06 and
                apart(m["track"], truth["trackTrue"]) < 0.02 + slack and
                abs(m["speed_ms"] - sample["groundSpeedWord"] / 65536.0) < 0.06)
    if kind == "xatt":
        return (apart(m["heading"], truth["headingTrue"]) < 0.06 and abs(m["pitch"] - truth["pitchUp"]) < 0.06 and
                abs(m["roll"] - truth["rollRight"]) < 0.06)
    if kind == "ownship":
        unit = 180 / 2 ** 23
        return (abs(m["latitude"] - truth["lat"]) < unit * 1.01 and
                apart(m["longitude"], truth["lon"]) < unit * 1.01 and
                m["pressure_altitude"] is None and m["airborne"] == (knots >= 40) and
                abs(m["horizontal_velocity"] - knots) <= 0.51 and
                abs(m["vertical_velocity"] - truth["verticalSpeedMs"] * 196.8504) <= 32.1 and
                apart(m["track"], truth["trackTrue"]) <= 0.71 + slack and m["callsign"] == "E2E" and
                m["emitter_category"] == 1 and (m["nic"], m["nacp"]) == (11, 11))
    if kind == "geometric_altitude":
        return abs(m["altitude"] - truth["altitudeM"] / 0.3048) <= 2.6 and m["vfom"] == 10
    if kind == "ahrs":
        return (abs(m["roll"] - truth["rollRight"]) <= 0.051 and abs(m["pitch"] - truth["pitchUp"]) <= 0.051 and
                apart(m["heading"], truth["headingTrue"]) <= 0.051 and not m["heading_magnetic"] and
                abs(m["indicated_airspeed"] - truth["airspeedKt"]) <= 0.51 and m["true_airspeed"] is None)
    return False


def check_log(out):
    """The module's log of a normal run and of a port that does not open."""
    checks = Checks("log")
    expected = {
        "serial": [r"^ +0\.\d{3} Waypost \S+, settings Z:.*\\Waypost\.ini$",
                   r"host generation 2 from the main window, class \"FS98MAIN\"",
                   r"serial COM%d: open at 19200 baud" % SERIAL_PORT, r"frame hook registered through service 0x0001",
                   r"serial COM%d: first text written" % SERIAL_PORT,
                   r"summary: serial COM%d: \d+ texts, \d+ bytes, 0 failed writes" % SERIAL_PORT, r"shut down after"],
        "unopenable-port": [r"serial COM%d: cannot open: " % MISSING_PORT, r"no output can run: the module stays idle",
                            r"shut down after"],
    }
    for name, patterns in expected.items():
        log = Scenario(out, name).module_log()
        lines = log.split("\r\n")
        at = 0
        for pattern in patterns:
            found = next((i for i in range(at, len(lines)) if re.search(pattern, lines[i])), None)
            if checks.expect(found is not None, "%s: no line /%s/ after line %d of its log" % (name, pattern, at)):
                at = found
        print("[e2e] log of %s: %d lines" % (name, len(lines) - 1))
    return checks.report()


def check_package(out, zip_path, version, numbers):
    """The zip holds the files a player needs under Waypost-<project version>/, the texts with CR LF line
    ends; its module's version resource, its host's --version and its module's log carry the build's version
    text (numbers: the resource's four, comma-separated); unpacked, its host and module run a clean relay run,
    keep the settings file's comments and log beside the module."""
    checks = Checks("package")
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(archive.namelist())
        top = names[0].split("/")[0]
        checks.expect(top == "Waypost-" + version.split("+")[0], "top folder %s for version %s" % (top, version))
        checks.expect(names == ["%s/%s" % (top, name) for name in PACKAGE_FILES], "zip holds %s" % names)
        texts = {name: archive.read("%s/%s" % (top, name))
                 for name in ("Waypost.ini", "GUIDE.txt", "CHANGELOG.md", "LICENSE")}
        dll = archive.read("%s/Waypost.dll" % top)
    # The resource's fixed part: its signature, the layout's version, then FILEVERSION and PRODUCTVERSION as
    # two 32-bit words each, each word two of the four numbers.
    major, minor, patch, build = (int(number) for number in numbers.split(","))
    fixed = dll.find(struct.pack("<I", 0xFEEF04BD))
    words = struct.unpack_from("<4I", dll, fixed + 8) if fixed >= 0 else None
    checks.expect(words == (major << 16 | minor, patch << 16 | build) * 2,
                  "version resource words %s, expected the numbers %s" % (words, numbers))
    checks.expect(dll.count((version + "\0").encode("utf-16-le")) == 2,
                  "FileVersion and ProductVersion are not %s" % version)
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
    first = scenario.module_log(module).split("\r\n")[0]
    checks.expect(re.match(r" *\d+\.\d{3} Waypost %s, settings " % re.escape(version), first) is not None,
                  "the module's log begins %r" % first)
    comments = [line for line in texts["Waypost.ini"].decode("ascii").split("\r\n") if line.startswith(";")]
    checks.expect([line.rstrip("\r\n") for line in open(os.path.join(module, "Waypost.ini")) if line.startswith(";")]
                  == comments, "the settings file lost its comments")
    checks.expect("relay: texts are handed over" in scenario.module_log(module), "no log beside the module")
    return checks.report()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run")
    run_parser.add_argument("--out", required=True)
    run_parser.add_argument("--host", required=True)
    run_parser.add_argument("--dll", required=True)
    run_parser.add_argument("--zip", required=True)
    check_parser = commands.add_parser("check")
    check_parser.add_argument("group", choices=["relay", "serial", "lifecycle", "network", "log", "package"])
    check_parser.add_argument("--out", required=True)
    check_parser.add_argument("--replay")
    check_parser.add_argument("--zip")
    check_parser.add_argument("--version", help="the build's version text")
    check_parser.add_argument("--version-numbers", help="the version resource's four numbers, as 1,1,0,70")
    arguments = parser.parse_args()
    if arguments.command == "run":
        return command_run(arguments)
    out = os.path.abspath(arguments.out)
    if not os.path.exists(os.path.join(out, "summary.json")):
        print("[e2e] no run in %s" % out)
        return 1
    checks = {"relay": lambda: check_relay(out, arguments.replay), "serial": lambda: check_serial(out),
              "lifecycle": lambda: check_lifecycle(out),
              "network": lambda: check_network(out), "log": lambda: check_log(out),
              "package": lambda: check_package(out, arguments.zip, arguments.version, arguments.version_numbers)}
    return checks[arguments.group]()


if __name__ == "__main__":
    sys.exit(main())
