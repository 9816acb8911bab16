#!/usr/bin/env python3
"""The Waypost demo: the stand-in host flies the default route through the real Waypost.dll under Wine.
The module writes NMEA to a COM port that ends in a pseudo-terminal, which gpsd's gpsdecode decodes, with the
glide computers' sentences LK8EX1 and LXWP0 among it, read here by their published layouts; it also
sends the same text as UDP datagrams to a gpsd daemon, whose client gpspipe shows the fixes, and GDL 90 and
the EFB simulator text to loopback ports, decoded from the public formats; a stand-in for ForeFlight on a
tablet announces itself as the app does, and the module finds it and sends it GDL 90 too. Shows the start
delay, every sentence, fix and message as it comes, then a summary per output with the largest position
error against what the host served (and each glide computer value's error), GDL 90's pressure altitude and
height above the ellipsoid against the altitude served, each feed's rate, and the module's own log. Run
through scripts/demo.
"""

import argparse
import os
import queue
import socket
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
import netfeed  # noqa: E402
import waypost_run as run  # noqa: E402

DEMO_PORT = 42
SETTINGS = [("Port", "COM%d" % DEMO_PORT), ("Speed", "4800"), ("Sentences", "GSA,RMC,VTG,GGA,LK8EX1,LXWP0"),
            ("Interval", "1000"), ("PosTo6Decimal", "Yes"), ("Log", "Yes")]

print_lock = threading.Lock()


def say(text):
    with print_lock:
        print(text, flush=True)


class Decoder:
    """Feeds the line's bytes to gpsdecode and shows each sentence and each fix as it arrives."""

    def __init__(self):
        # gpsdecode buffers its output in a pipe; line buffering shows each fix as it is decoded.
        self.process = subprocess.Popen(["stdbuf", "-oL", "gpsdecode", "-j"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.fixes = []
        self.pending = b""
        self.sentences = 0
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read_fixes, daemon=True)
        self.reader.start()
        self.writer = threading.Thread(target=self._write_lines, daemon=True)
        self.writer.start()

    def feed(self, data):
        self.pending += data
        while b"\r\n" in self.pending:
            line, self.pending = self.pending.split(b"\r\n", 1)
            self.sentences += 1
            say("[line] " + line.decode("ascii", "replace"))
            self.lines.put(line + b"\r\n")

    def _write_lines(self):
        # gpsdecode handles one sentence per read of its input and reads again before it looks at the rest,
        # so a whole cycle written at once would be decoded one cycle late: hand it one sentence at a time.
        while True:
            line = self.lines.get()
            if line is None:
                break
            self.process.stdin.write(line)
            self.process.stdin.flush()
            time.sleep(0.03)
        self.process.stdin.close()

    def _read_fixes(self):
        for record in run.tpv_fixes(self.process.stdout):
            self.fixes.append(record)
            say("[gpsdecode] fix %s  %.6f %s  %.6f %s  %.1f kn  track %.1f  alt %.1f m" % (
                record.get("time", "?"), abs(record["lat"]), "N" if record["lat"] >= 0 else "S",
                abs(record["lon"]), "E" if record["lon"] >= 0 else "W", record.get("speed", 0) / (1852 / 3600),
                record.get("track", 0), record.get("altMSL", record.get("alt", 0))))

    def finish(self):
        self.lines.put(None)
        self.writer.join(10)
        self.process.wait(10)
        self.reader.join(5)


class GpsdClient:
    """A gpsd daemon fed by the module's UDP datagrams, and gpspipe, a gpsd client, showing each fix."""

    def __init__(self, folder, udp_port):
        self.udp = "udp://127.0.0.1:%d" % udp_port
        gpsd_port = run.free_port()
        self.gpsd = run.start_gpsd(gpsd_port, [self.udp], os.path.join(folder, "gpsd.err"))
        time.sleep(1)
        self.pipe = subprocess.Popen(["stdbuf", "-oL", "gpspipe", "-w", "127.0.0.1:%d" % gpsd_port],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.fixes = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for record in run.tpv_fixes(self.pipe.stdout):
            self.fixes.append(record)
            say("[gpsd] %s from %s: %.6f %.6f, %.1f m/s, mode %s" % (
                record.get("time", "?"), record.get("device"), record["lat"], record["lon"],
                record.get("speed", 0), record.get("mode")))

    def finish(self):
        for process in (self.pipe, self.gpsd):
            process.terminate()
            process.wait(10)
        self.reader.join(5)


def show_datagrams(listener, messages, done):
    """Prints the GDL 90 and EFB messages as they arrive (the tablet's copy of GDL 90 only counted), keeping
    them with their arrival time by port and kind, until done is set."""
    shown = 0
    while True:
        finished = done.wait(0.2)
        entries = listener.datagrams()
        for t, name, data in entries[shown:]:
            for message in netfeed.decode_datagram(data):
                messages.setdefault(name, {}).setdefault(netfeed.message_kind(message), []).append((t, message))
                if name != "tablet":
                    say("[%s] %s" % (name, netfeed.describe(message)))
        shown = len(entries)
        if finished:
            return


def rates(found):
    """Messages per second of each kind, from the first to the last of it."""
    return ", ".join("%s %.2f" % (kind, (len(kept) - 1) / (kept[-1][0] - kept[0][0]))
                     for kind, kept in sorted(found.items()) if len(kept) > 1 and kept[-1][0] > kept[0][0])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=os.path.join(run.ROOT, "build", "mingw"),
                        help="mingw build folder holding Waypost.dll and tools/waypost-host.exe")
    parser.add_argument("--seconds", type=float, default=85,
                        help="seconds from the module's start-up to its shut-down (output begins after 25 s)")
    arguments = parser.parse_args()

    dll = os.path.join(arguments.build, "Waypost.dll")
    host_exe = os.path.join(arguments.build, "tools", "waypost-host.exe")
    for path in (dll, host_exe):
        if not os.path.exists(path):
            say("[demo] missing %s: build the mingw preset first" % path)
            return 1
    discovery = run.free_port(socket.SOCK_DGRAM)
    # The tablet announces itself every 5 s, as ForeFlight does in front, until the demo ends.
    with netfeed.Listener({"gdl90": 0, "efb": 0, "tablet": 0}) as listener, \
            netfeed.Announcer(discovery, listener.ports["tablet"], int(arguments.seconds / 5) + 4) as tablet:
        say("[demo] a tablet at 127.0.0.1 announces ForeFlight's GDL 90 port %d to the module's port %d" % (
            listener.ports["tablet"], discovery))
        return run_demo(arguments, dll, host_exe, listener, discovery, tablet)


def run_demo(arguments, dll, host_exe, listener, discovery, tablet):
    folder = os.path.join(run.ROOT, "build", "demo")
    udp_port = run.free_port(socket.SOCK_DGRAM)
    settings = SETTINGS + [("Network", "udp:127.0.0.1:%d,gdl90:127.0.0.1:%d,xgps:127.0.0.1:%d,gdl90:auto:%d" % (
        udp_port, listener.ports["gdl90"], listener.ports["efb"], discovery))]
    dll_copy = run.prepare_module_folder(folder, dll, settings)
    log = os.path.join(folder, "log.jsonl")
    say("[demo] module and its settings in %s: %s" % (folder, ", ".join("%s=%s" % pair for pair in settings)))
    run.ensure_prefix()

    decoder = Decoder()
    gpsd = GpsdClient(folder, udp_port)
    messages, done = {}, threading.Event()
    shower = threading.Thread(target=show_datagrams, args=(listener, messages, done), daemon=True)
    shower.start()
    with run.SerialLine(folder, DEMO_PORT, on_bytes=decoder.feed) as line:
        say("[demo] COM%d is the pseudo-terminal %s; reading its other end %s" % (
            DEMO_PORT, os.path.realpath(line.module_end), os.path.realpath(line.reader_end)))
        host = run.start_host(host_exe, dll_copy, log, ["--run", str(arguments.seconds)], subprocess.PIPE)
        line_settings = None
        try:
            for raw in host.stdout:
                text = raw.decode("utf-8", "replace").rstrip("\r\n")
                say(text)
                if line_settings is None and text.startswith("[host] ModuleInit returned"):
                    words = line.line_settings().replace(";", " ").split()
                    line_settings = " ".join(words[:3] + [word for word in words if word in (
                        "cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff")])
                    say("[demo] line settings after start-up: %s" % line_settings)
            status = host.wait()
        except KeyboardInterrupt:
            host.terminate()
            say("[demo] interrupted")
            return 130
        time.sleep(0.5)
    decoder.finish()
    gpsd.finish()
    done.set()
    shower.join(10)

    samples = [record for record in run.read_log(log) if record["kind"] == "sample"]
    say("[demo] summary: host exit status %d; %d samples served, %d sentences on COM%d" % (
        status, len(samples), decoder.sentences, DEMO_PORT))
    matched = summarize_fixes("gpsdecode on COM%d" % DEMO_PORT, decoder.fixes, samples)
    glided = summarize_glide(line.received().decode("latin-1"), samples)
    summarize_fixes("gpsd on network udp, seen by gpspipe", gpsd.fixes, samples)
    feeds = {name: messages.get(name, {}) for name in ("gdl90", "efb", "tablet")}
    ownship = [message for _, message in feeds["gdl90"].get("ownship", [])]
    say("[demo] summary: network gdl90: %s; all check sequences good: %s" % (
        ", ".join("%d %s" % (len(found), kind) for kind, found in sorted(feeds["gdl90"].items())),
        not any("error" in found for found in feeds.values())))
    summarize_fixes("GDL 90 ownship reports (a unit is 2.4 m)", ownship, samples, by_position=True)
    altitudes = summarize_altitudes(feeds["gdl90"], samples)
    summarize_fixes("EFB XGPS lines", [m for _, m in feeds["efb"].get("xgps", [])], samples, by_position=True)
    say("[demo] summary: per second, network gdl90: %s; network xgps: %s" % (rates(feeds["gdl90"]), rates(feeds["efb"])))
    say("[demo] summary: per second, to the tablet found, which sent %d announcements: %s" % (
        len(tablet.sent), rates(feeds["tablet"]) or "nothing"))
    say("[demo] the module's log, %s:" % os.path.join(folder, "Waypost.log"))
    with open(os.path.join(folder, "Waypost.log"), encoding="latin-1") as module_log:
        for text in module_log:
            say("[log] " + text.rstrip("\r\n"))
    ok = (status == 0 and matched and glided and not any("error" in found for found in feeds.values()) and
          gpsd.fixes and ownship and altitudes and feeds["tablet"].get("heartbeat"))
    say("[demo] %s" % ("done" if ok else "FAILED"))
    return 0 if ok else 1


def summarize_altitudes(found, samples):
    """Two summary lines: GDL 90's pressure altitude (ownship reports) against the altitude served at each
    report's sample, found by position; its geometric altitude against the height above the WGS-84 ellipsoid
    there, the altitude served plus EGM96's geoid height (from the model's grid), through the ownship report
    just before it, which comes from the same sample. True when every one is within 25 ft and 2 m."""
    sample, pressure, heights, undulations = None, [], [], []
    for _, m in sorted(found.get("ownship", []) + found.get("geometric_altitude", []), key=lambda entry: entry[0]):
        if m["kind"] == "ownship":
            sample = min(samples, key=lambda s: run.metres_from_truth(s, m["latitude"], m["longitude"]))
            feet = sample["truth"]["altitudeM"] / 0.3048
            pressure.append(abs(m["pressure_altitude"] - feet) if m["pressure_altitude"] is not None else 99999)
        elif sample is not None:
            undulations.append(netfeed.geoid_undulation(sample["truth"]["lat"], sample["truth"]["lon"]))
            heights.append(abs(m["altitude"] * 0.3048 - sample["truth"]["altitudeM"] - undulations[-1]))
    say("[demo] summary: GDL 90 pressure altitude: %d reports, largest difference %.1f ft from the altitude served" % (
        len(pressure), max(pressure, default=0)))
    say("[demo] summary: GDL 90 geometric altitude: %d reports, largest difference %.2f m from the height above the "
        "ellipsoid (the altitude served plus EGM96's %.2f to %.2f m)" % (
            len(heights), max(heights, default=0), min(undulations, default=0), max(undulations, default=0)))
    return bool(pressure and heights) and max(pressure) <= 25 and max(heights) <= 2


def summarize_fixes(what, fixes, samples, by_position=False):
    """One summary line: how many fixes, how many matched to the sample they came from (by the clock time
    they carry, or by position for records without one), the largest position error. True when every fix
    matched within 5 cm."""
    worst, matched = 0.0, 0
    for fix in fixes:
        lat, lon = fix.get("lat", fix.get("latitude")), fix.get("lon", fix.get("longitude"))
        if by_position:
            sample = min(samples, default=None, key=lambda s: run.metres_from_truth(s, lat, lon))
        else:
            sample = run.sample_of_fix(fix, samples)
        if sample is not None:
            matched += 1
            worst = max(worst, run.metres_from_truth(sample, lat, lon))
    say("[demo] summary: %s: %d fixes, %d matched to the truth log, largest position error %.4f m" % (
        what, len(fixes), matched, worst))
    return bool(fixes) and matched == len(fixes) and worst < 0.05


def summarize_glide(text, samples):
    """Summary lines for the glide computers' sentences on the line, read by their published layouts: how
    many, how many matched to the sample of their cycle's second, the largest error of each value against
    that sample's truth, and the last LXWP0 beside its truth. True when every one matched within half a unit
    of each field's last digit."""
    records = run.glide_records(text, samples)
    matched = [record for record in records if record["truth"]]
    worst = {}
    for record in matched:
        for name, error in run.glide_errors(record).items():
            worst[record["kind"], name] = max(worst.get((record["kind"], name), 0.0), error)
    say("[demo] summary: glide computer sentences on COM%d: %d, %d matched to the truth log; largest errors: %s" % (
        DEMO_PORT, len(records), len(matched),
        ", ".join("%s %s %.4f" % (kind, name, error) for (kind, name), error in sorted(worst.items()))))
    last = [record for record in matched if record["kind"] == "LXWP0"][-1:]
    for record in last:
        truth = record["truth"]
        say("[demo] summary: last LXWP0: airspeed %.1f km/h (true %.3f), altitude %.1f m (%.3f), vario %.2f m/s "
            "(%.4f), heading %.0f (%.2f), wind from %.0f (%.0f) at %.1f km/h (%.3f)" % (
                record["airspeed"], truth["airspeedKt"] * 1.852, record["altitude"], truth["altitudeM"],
                record["varios"][0], truth["verticalSpeedMs"], record["heading"], truth["headingTrue"],
                record["windFrom"], truth["windFromDeg"], record["windSpeed"], truth["windKt"] * 1.852))
    return bool(last) and all(run.glide_within_rounding(record) for record in records)


if __name__ == "__main__":
    sys.exit(main())
