"""Runs the stand-in host under Wine: module folders, a COM port on a pseudo-terminal, the host's log.

Shared by the end-to-end tests (tests/e2e) and the demo (scripts/demo). Python 3 standard library only.
"""

import contextlib
import functools
import json
import math
import operator
import os
import re
import select
import shutil
import socket
import subprocess
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def wine_prefix():
    """The Wine prefix that scripts/wine-run uses."""
    return os.environ.get("WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix")


def ensure_prefix():
    """Creates the Wine prefix once (wine-run does it under a lock), so that its folders exist."""
    subprocess.run([WINE_RUN, "--version"], check=True, stdout=subprocess.DEVNULL)


def windows_path(path):
    """The path as a Windows program under Wine sees it (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prepare_module_folder(folder, dll, settings):
    """A fresh folder holding a copy of the module and, unless settings is None, its INI file.

    settings is a list of (key, value) pairs written under [Waypost], or a raw text.
    """
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(dll, os.path.join(folder, "Waypost.dll"))
    if settings is not None:
        text = settings if isinstance(settings, str) else "[Waypost]\r\n" + "".join(
            "%s=%s\r\n" % pair for pair in settings)
        with open(os.path.join(folder, "Waypost.ini"), "w", newline="") as ini:
            ini.write(text)
    return os.path.join(folder, "Waypost.dll")


def start_host(host_exe, dll, log, arguments, output):
    """Starts waypost-host.exe under Wine on the module at dll; its console goes to output (a file or
    subprocess.PIPE). Returns the Popen."""
    command = [WINE_RUN, host_exe, "--dll", windows_path(dll), "--log", windows_path(log)] + list(arguments)
    return subprocess.Popen(command, stdout=output, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)


def run_host(folder, host_exe, dll, options, timeout, serial_port=None, during=None):
    """Runs the stand-in host on the module at dll, its console in folder/host.out and its log in
    folder/log.jsonl; with serial_port, the module's COMn ends in a pseudo-terminal. during(host, log, line)
    runs while the host does (line is None without a serial port). Returns the exit status and the chunks
    that came down the line."""
    log = os.path.join(folder, "log.jsonl")
    with open(os.path.join(folder, "host.out"), "w") as console, \
            (SerialLine(folder, serial_port) if serial_port else contextlib.nullcontext()) as line:
        host = start_host(host_exe, dll, log, options, console)
        if during is not None:
            during(host, log, line)
        status = host.wait(timeout)
        if line is not None:
            time.sleep(0.5)  # the last bytes on their way through the pseudo-terminal
        return status, list(line.chunks) if line is not None else []


def read_log(path):
    """The host's JSON-lines log as a list of records (a last line cut short by a crash is dropped)."""
    records = []
    if not os.path.exists(path):
        return records
    with open(path, encoding="utf-8") as log:
        for line in log:
            try:
                records.append(json.loads(line))
            except json.JSONDecodeError:
                pass
    return records


def wait_for_record(path, kind, timeout):
    """Waits until the log holds a record of this kind; returns it, or None after timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for record in read_log(path):
            if record["kind"] == kind:
                return record
        time.sleep(0.2)
    return None


class SerialLine:
    """A COM port of the Wine prefix that ends in a pseudo-terminal pair made by socat.

    The module opens COMn, which is one end; this side reads the other end and keeps every chunk with the
    time it arrived. Use as a context manager.
    """

    def __init__(self, folder, port_number, on_bytes=None):
        self.folder = folder
        self.port_number = port_number
        self.module_end = os.path.join(folder, "ttyModule")
        self.reader_end = os.path.join(folder, "ttyReader")
        self.device_link = os.path.join(wine_prefix(), "dosdevices", "com%d" % port_number)
        self.on_bytes = on_bytes
        self.chunks = []  # (monotonic seconds, bytes)
        self._socat = None
        self._thread = None
        self._stop = threading.Event()
        self._fd = None

    def __enter__(self):
        for path in (self.module_end, self.reader_end):
            if os.path.lexists(path):
                os.unlink(path)
        self._socat = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + self.module_end, "pty,raw,echo=0,link=" + self.reader_end],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (os.path.exists(self.module_end) and os.path.exists(self.reader_end)):
            if time.monotonic() > deadline or self._socat.poll() is not None:
                self._stop_socat()
                raise RuntimeError("socat made no pseudo-terminal pair")
            time.sleep(0.05)
        if os.path.lexists(self.device_link):
            os.unlink(self.device_link)
        os.symlink(self.module_end, self.device_link)
        self._fd = os.open(self.reader_end, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        return self

    def _read(self):
        while not self._stop.is_set():
            ready, _, _ = select.select([self._fd], [], [], 0.1)
            if not ready:
                continue
            try:
                data = os.read(self._fd, 4096)
            except BlockingIOError:
                continue
            except OSError:
                break
            if data:
                self.chunks.append((time.monotonic(), data))
                if self.on_bytes is not None:
                    self.on_bytes(data)

    def line_settings(self):
        """stty's view of the module's end: the speed and framing the module set on the line."""
        result = subprocess.run(["stty", "-a", "-F", self.module_end], capture_output=True, text=True)
        return result.stdout + result.stderr

    def received(self):
        return b"".join(chunk for _, chunk in self.chunks)

    def _stop_socat(self):
        if self._socat is not None and self._socat.poll() is None:
            self._socat.terminate()
            try:
                self._socat.wait(5)
            except subprocess.TimeoutExpired:
                self._socat.kill()

    def __exit__(self, *exc):
        self._stop.set()
        if self._thread is not None:
            self._thread.join(2)
        if self._fd is not None:
            os.close(self._fd)
        if os.path.islink(self.device_link) and os.readlink(self.device_link) == self.module_end:
            os.unlink(self.device_link)
        self._stop_socat()
        return False


def metres_from_truth(sample, lat2, lon2):
    """Distance from the true position of a logged sample to a nearby position in degrees, in metres
    (spherical earth, flat over the gap)."""
    lat1, lon1 = sample["truth"]["lat"], sample["truth"]["lon"]
    north = (lat2 - lat1) * 111195.0
    east = ((lon2 - lon1 + 180) % 360 - 180) * 111195.0 * math.cos(math.radians((lat1 + lat2) / 2))
    return math.hypot(north, east)


def tpv_fixes(lines):
    """The fixes (TPV records with a position) among gpsd's JSON lines, as they come."""
    for line in lines:
        try:
            record = json.loads(line)
        except json.JSONDecodeError:
            continue
        if record.get("class") == "TPV" and "lat" in record:
            yield record


def sample_of_fix(fix, samples):
    """The logged sample a decoded fix (gpsd's TPV) came from: among those served in the fix's second of the
    simulator's clock, the one nearest to it; None when there is none."""
    stamp = fix.get("time", "")
    same_second = [sample for sample in samples
                   if stamp.startswith("%sT%s" % (sample["truth"]["date"], sample["truth"]["time"]))]
    return min(same_second, default=None, key=lambda sample: metres_from_truth(sample, fix["lat"], fix["lon"]))


def glide_records(text, samples):
    """The glide computers' sentences LK8EX1 and LXWP0 of a line's text, read by their published layouts
    (sentences whose checksum fails are left out): dicts of kind, altitude (m), varios (m/s, six from LXWP0)
    and, from LXWP0, airspeed and windSpeed (km/h), heading and windFrom (degrees), None where a field says
    "none" or is empty; each with the truth of the sample its cycle came from (found by the RMC before it,
    as sample_of_fix finds a fix's), or None."""
    records, truth = [], None
    for line in text.split("\r\n"):
        match = re.fullmatch(r"\$([^*]*)\*([0-9A-F]{2})", line)
        if not match or functools.reduce(operator.xor, match.group(1).encode("latin-1"), 0) != int(match.group(2), 16):
            continue
        fields = match.group(1).split(",")

        def value(index, none=""):
            return None if fields[index] in ("", none) else float(fields[index])

        def degrees(index, width):
            magnitude = int(fields[index][:width]) + float(fields[index][width:]) / 60
            return -magnitude if fields[index + 1] in ("S", "W") else magnitude

        if fields[0] == "GPRMC" and len(fields) == 12:
            date, time_of_day = fields[9], fields[1]
            sample = sample_of_fix({"time": "20%s-%s-%sT%s:%s:%s" % (date[4:6], date[2:4], date[0:2], time_of_day[0:2],
                                                                    time_of_day[2:4], time_of_day[4:6]),
                                    "lat": degrees(3, 2), "lon": degrees(5, 3)}, samples)
            truth = sample and sample["truth"]
        elif fields[0] == "LK8EX1" and len(fields) == 7:
            vario = value(3, "9999")
            records.append(dict(kind="LK8EX1", truth=truth, altitude=value(2, "99999"),
                                varios=[vario and vario / 100]))
        elif fields[0] == "LXWP0" and len(fields) == 13:
            records.append(dict(kind="LXWP0", truth=truth, airspeed=value(2), altitude=value(3),
                                varios=[value(i) for i in range(4, 10)], heading=value(10), windFrom=value(11),
                                windSpeed=value(12)))
    return records


# Half a unit of each glide computer field's last printed digit, by sentence: what rounding alone may move.
GLIDE_ROUNDING = {"LK8EX1": dict(altitude=0.5, vario=0.005),
                  "LXWP0": dict(airspeed=0.05, altitude=0.05, vario=0.005, heading=0.5, windFrom=0.5, windSpeed=0.05)}


def glide_errors(record):
    """How far each value of a record of glide_records lies from its truth, in the sentence's units; a value
    missing lies infinitely far."""
    truth = record["truth"]

    def off(value, true, circle=False):
        return math.inf if value is None else abs((value - true + 180) % 360 - 180) if circle else abs(value - true)

    errors = dict(altitude=off(record["altitude"], truth["altitudeM"]),
                  vario=max(off(vario, truth["verticalSpeedMs"]) for vario in record["varios"]))
    if record["kind"] == "LXWP0":
        errors.update(airspeed=off(record["airspeed"], truth["airspeedKt"] * 1.852),
                      heading=off(record["heading"], truth["headingTrue"], True),
                      windFrom=off(record["windFrom"], truth["windFromDeg"], True),
                      windSpeed=off(record["windSpeed"], truth["windKt"] * 1.852))
    return errors


def glide_within_rounding(record):
    """Whether a record of glide_records has a truth and every value within its rounding of it (and of the
    truth log's own last digit: 1e-4 m, 1e-6 otherwise)."""
    errors = glide_errors(record) if record["truth"] else {}
    return bool(errors) and all(errors[name] <= limit + 1e-4 for name, limit in GLIDE_ROUNDING[record["kind"]].items())


def start_gpsd(port, sources, errors):
    """gpsd in the foreground on a loopback port, polling its sources (udp://... or tcp://... URLs) at once;
    its messages go to the file errors."""
    return subprocess.Popen(["gpsd", "-N", "-n", "-S", str(port)] + list(sources), stdout=subprocess.DEVNULL,
                            stderr=open(errors, "w"))


def free_port(kind=socket.SOCK_STREAM):
    """A loopback port nothing uses now (TCP by default, or socket.SOCK_DGRAM)."""
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class TcpReader:
    """A client of a TCP server on loopback. It keeps every chunk that arrives with its time, and how the
    connection ended ("closed", or the error's name); it reads in a thread of its own, or, told not to read,
    leaves everything in a small receive buffer until read_rest."""

    def __init__(self, port, reads=True):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if not reads:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
        self.socket.connect(("127.0.0.1", port))
        self.chunks = []  # (monotonic seconds, bytes)
        self.ended = None
        if reads:
            threading.Thread(target=self.read_rest, daemon=True).start()

    def read_rest(self, timeout=None):
        self.socket.settimeout(timeout)
        try:
            while self.ended is None:
                chunk = self.socket.recv(65536)
                if not chunk:
                    self.ended = "closed"
                else:
                    self.chunks.append((time.monotonic(), chunk))
        except OSError as error:
            self.ended = type(error).__name__

    def data(self):
        return b"".join(chunk for _, chunk in self.chunks)
