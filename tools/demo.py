#!/usr/bin/env python3
"""The Waypost demo: the stand-in host flies the default route through the real Waypost.dll under Wine,
the module writes NMEA to a COM port that ends in a pseudo-terminal, and gpsd's gpsdecode decodes what
arrives. Shows the start delay, every sentence and every decoded fix as they come, then a summary with
the largest position error against what the host served. Run through scripts/demo.
"""

import argparse
import json
import os
import queue
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
import waypost_run as run  # noqa: E402

DEMO_PORT = 42
SETTINGS = [("Port", "COM%d" % DEMO_PORT), ("Speed", "4800"), ("Sentences", "GSA,RMC,VTG,GGA"),
            ("Interval", "1000"), ("PosTo6Decimal", "Yes")]

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
        for raw in self.process.stdout:
            try:
                record = json.loads(raw)
            except json.JSONDecodeError:
                continue
            if record.get("class") != "TPV" or "lat" not in record:
                continue
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
    folder = os.path.join(run.ROOT, "build", "demo")
    dll_copy = run.prepare_module_folder(folder, dll, SETTINGS)
    log = os.path.join(folder, "log.jsonl")
    say("[demo] module and its settings in %s: %s" % (folder, ", ".join("%s=%s" % pair for pair in SETTINGS)))
    run.ensure_prefix()

    decoder = Decoder()
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

    samples = [record for record in run.read_log(log) if record["kind"] == "sample"]
    worst_position = 0.0
    worst_speed = 0.0
    matched = 0
    for fix in decoder.fixes:
        for sample in samples:
            truth = sample["truth"]
            if fix.get("time", "").startswith("%sT%s" % (truth["date"], truth["time"])):
                matched += 1
                error = run.metres_between(truth["lat"], truth["lon"], fix["lat"], fix["lon"])
                worst_position = max(worst_position, error)
                worst_speed = max(worst_speed, abs(fix.get("speed", 0) - sample["groundSpeedWord"] / 65536.0))
                break
    say("[demo] summary: host exit status %d; %d samples served, %d sentences on COM%d" % (
        status, len(samples), decoder.sentences, DEMO_PORT))
    say("[demo] summary: %d fixes decoded by gpsdecode, %d matched to the truth log by their time" % (
        len(decoder.fixes), matched))
    if matched:
        first, last = decoder.fixes[0], decoder.fixes[-1]
        say("[demo] summary: from %.5f,%.5f at %s to %.5f,%.5f at %s" % (
            first["lat"], first["lon"], first.get("time"), last["lat"], last["lon"], last.get("time")))
        say("[demo] summary: largest position error against the truth log %.4f m; largest speed error %.4f m/s" % (
            worst_position, worst_speed))
    ok = status == 0 and matched > 0 and matched == len(decoder.fixes) and worst_position < 1.0
    say("[demo] %s" % ("done" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
