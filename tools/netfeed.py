#!/usr/bin/env python3
"""Decodes and listens to the module's network feeds (GDL 90 frames, EFB simulator text lines), written from
the public message layouts alone so that it checks the module independently. Used by the end-to-end tests
(which compare decoded values with the flight the host flew) and by the demo. Python 3 standard library only.

  netfeed.py listen --gdl90 PORT --efb PORT --seconds N   prints every message arriving on 127.0.0.1
  netfeed.py announce --to PORT --gdl90 PORT --count N    plays ForeFlight (or --app NAME) on a tablet: its
                                                          announcement every 5 s to 127.0.0.1:PORT (63093:
                                                          the module's gdl90:auto), listening with --seconds
  netfeed.py self-test                                    decodes the known byte examples

geoid_undulation() gives EGM96's geoid height from the model's grid, for checking the GDL 90 geometric altitude
(the height above the WGS-84 ellipsoid) against the altitude above sea level that the host flew.
"""

import argparse
import contextlib
import ipaddress
import json
import re
import select
import socket
import struct
import sys
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__

FLAG, ESCAPE = 0x7E, 0x7D
SEMICIRCLE = 180.0 / (1 << 23)  # degrees per unit of a GDL 90 latitude or longitude


def _crc_entry(crc):
    for _ in range(8):
        crc = (crc << 1 ^ (0x1021 if crc & 0x8000 else 0)) & 0xFFFF
    return crc


CRC_TABLE = [_crc_entry(i << 8) for i in range(256)]


def gdl90_fcs(message):
    """The frame check of ID and data (before stuffing): the table-driven CRC, polynomial 0x1021, start 0."""
    crc = 0
    for byte in message:
        crc = CRC_TABLE[crc >> 8] ^ ((crc << 8) & 0xFFFF) ^ byte
    return crc


def gdl90_frame(message):
    """A whole frame for ID and data: check appended low byte first, 0x7D and 0x7E stuffed, flags around."""
    fcs = gdl90_fcs(message)
    body = re.sub(rb"[\x7d\x7e]", lambda match: bytes([ESCAPE, match.group()[0] ^ 0x20]),
                  bytes(message) + bytes([fcs & 0xFF, fcs >> 8]))
    return bytes([FLAG]) + body + bytes([FLAG])


def gdl90_messages(datagram):
    """Every frame of one datagram: dicts with id, data, fcs_ok and raw (the frame with its flags), or an
    error and raw for a malformed piece. Flags between frames may be shared or doubled."""
    pieces = bytes(datagram).split(bytes([FLAG]))
    found = [{"error": "bytes before the opening flag", "raw": pieces[0]}] if pieces[0] else []
    for body in filter(None, pieces[1:-1]):
        raw = bytes([FLAG]) + body + bytes([FLAG])
        plain = re.sub(rb"\x7d([\s\S])", lambda match: bytes([match.group(1)[0] ^ 0x20]), body)
        if (len(body) - len(body.rstrip(b"\x7d"))) % 2:  # an odd run of escapes ends the frame
            found.append({"error": "escape at the end of the frame", "raw": raw})
        elif len(plain) < 3:
            found.append({"error": "frame too short (%d bytes)" % len(plain), "raw": raw})
        else:
            message = bytes(plain[:-2])
            fcs_ok = (plain[-2] | plain[-1] << 8) == gdl90_fcs(message)
            found.append({"id": message[0], "data": message[1:], "fcs_ok": fcs_ok, "raw": raw,
                          "stuffing_ok": gdl90_frame(message)[1:-1] == body if fcs_ok else None})
    if len(pieces) > 1 and pieces[-1]:
        found.append({"error": "no closing flag", "raw": bytes([FLAG]) + pieces[-1]})
    return found


def _signed(value, bits):
    return value - (1 << bits) if value & (1 << (bits - 1)) else value


def _text(raw):
    return raw.decode("ascii", "replace").strip(" \0")


LENGTHS = {0: 6, 10: 27, 11: 4, (0x65, 0): 38, (0x65, 1): 11}  # data bytes after the ID, by ID or (ID, sub-ID)


def decode_gdl90(message):
    """Every field of one message, from a dict of gdl90_messages or from the bytes ID + data (unstuffed).

    Lengths that do not fit the ID give an error entry; unknown IDs give the ID and the raw data."""
    if isinstance(message, dict) and "error" in message:
        return dict(message)
    ident, d = (message["id"], message["data"]) if isinstance(message, dict) else (message[0], bytes(message[1:]))
    out = {"id": ident, "fcs_ok": message["fcs_ok"]} if isinstance(message, dict) else {"id": ident}
    expected = LENGTHS.get((ident, d[0]) if ident == 0x65 and d else ident)
    if expected is not None and len(d) != expected:
        return dict(out, error="message %d: %d data bytes, %d expected" % (ident, len(d), expected))
    if ident == 0:
        out.update(kind="heartbeat", status1=d[0], status2=d[1], gps_valid=bool(d[0] & 0x80),
                   uat_initialized=bool(d[0] & 0x01), utc_ok=bool(d[1] & 0x01),
                   timestamp=d[2] | d[3] << 8 | (d[1] >> 7) << 16, message_counts=d[4] << 8 | d[5])
    elif ident == 10:
        altitude, speed, climb = d[10] << 4 | d[11] >> 4, d[13] << 4 | d[14] >> 4, (d[14] & 0x0F) << 8 | d[15]
        out.update(kind="ownship", alert_status=d[0] >> 4, address_type=d[0] & 0x0F,
                   address=int.from_bytes(d[1:4], "big"),
                   latitude=_signed(int.from_bytes(d[4:7], "big"), 24) * SEMICIRCLE,
                   longitude=_signed(int.from_bytes(d[7:10], "big"), 24) * SEMICIRCLE,
                   pressure_altitude=None if altitude == 0xFFF else altitude * 25 - 1000,
                   airborne=bool(d[11] & 0x08), extrapolated=bool(d[11] & 0x04), track_type=d[11] & 0x03,
                   nic=d[12] >> 4, nacp=d[12] & 0x0F, horizontal_velocity=None if speed == 0xFFF else speed,
                   vertical_velocity=None if climb == 0x800 else _signed(climb, 12) * 64,
                   track=d[16] * 360.0 / 256, emitter_category=d[17], callsign=_text(d[18:26]),
                   emergency_code=d[26] >> 4)
    elif ident == 11:
        merit = (d[2] & 0x7F) << 8 | d[3]
        out.update(kind="geometric_altitude", altitude=_signed(d[0] << 8 | d[1], 16) * 5,
                   vertical_warning=bool(d[2] & 0x80), vfom=None if merit == 0x7FFF else merit)
    elif ident == 0x65 and expected and d[0] == 0:
        capabilities = int.from_bytes(d[34:38], "big")
        out.update(kind="identification", sub_id=0, version=d[1],
                   serial=None if d[2:10] == b"\xff" * 8 else d[2:10], device_name=_text(d[10:18]),
                   long_name=_text(d[18:34]), capabilities=capabilities, altitude_msl=bool(capabilities & 1),
                   altitude_datum="mean sea level" if capabilities & 1 else "the WGS-84 ellipsoid")
    elif ident == 0x65 and expected and d[0] == 1:
        roll, pitch, heading, indicated, true = (d[i] << 8 | d[i + 1] for i in range(1, 11, 2))
        out.update(kind="ahrs", sub_id=1, roll=None if roll == 0x7FFF else _signed(roll, 16) / 10,
                   pitch=None if pitch == 0x7FFF else _signed(pitch, 16) / 10,
                   heading=None if heading == 0xFFFF else (heading & 0x7FFF) / 10,
                   heading_magnetic=None if heading == 0xFFFF else bool(heading & 0x8000),
                   indicated_airspeed=None if indicated == 0xFFFF else indicated,
                   true_airspeed=None if true == 0xFFFF else true)
    else:
        out.update(kind="unknown", data=d)
    return out


NUMBER = re.compile(r"[-+]?(\d+\.?\d*|\.\d+)")
EFB_FIELDS = {"XGPS": ("longitude", "latitude", "altitude_m", "track", "speed_ms"),
              "XATT": ("heading", "pitch", "roll")}


GEOID_GRID = "/usr/share/proj/egm96_15.gtx"  # EGM96 at 15 minutes of arc, in Debian's proj-data
_grids = {}


def geoid_undulation(latitude, longitude, path=GEOID_GRID):
    """Metres from the WGS-84 ellipsoid up to the geoid (mean sea level): bilinear on a grid in PROJ's GTX
    format (a big-endian header of the south-west corner's latitude and longitude, the latitude and longitude
    spacing, rows and columns; then rows of floats from that corner northward, each eastward; it wraps)."""
    if path not in _grids:
        with open(path, "rb") as grid:
            data = grid.read()
        header = struct.unpack(">4d2i", data[:40])
        _grids[path] = header, struct.unpack(">%df" % (header[4] * header[5]), data[40:40 + 4 * header[4] * header[5]])
    (south, west, rise, step, rows, columns), values = _grids[path]
    y, x = (latitude - south) / rise, (longitude - west) % 360 / step
    row, column = min(int(y), rows - 2), int(x)
    north, east = y - row, x - column

    def at(r, c):
        return values[r * columns + c % columns]
    return ((1 - north) * ((1 - east) * at(row, column) + east * at(row, column + 1)) +
            north * ((1 - east) * at(row + 1, column) + east * at(row + 1, column + 1)))


def decode_efb(datagram):
    """One XGPS or XATT line (a trailing line end is allowed): the name and every number; else an error."""
    try:
        text = bytes(datagram).decode("ascii").rstrip("\r\n")
    except UnicodeDecodeError:
        return {"error": "not ASCII", "raw": bytes(datagram)}
    names = EFB_FIELDS.get(text[:4])
    fields = text[4:].split(",")
    if names is None or len(fields) != len(names) + 1 or not all(NUMBER.fullmatch(f) for f in fields[1:]):
        return {"error": "not an XGPS or XATT line of numbers", "raw": text}
    out = {"kind": text[:4].lower(), "name": fields[0], "raw": text}
    out.update(zip(names, (float(field) for field in fields[1:])))
    return out


def decode_datagram(datagram):
    """The messages of one datagram of either feed: GDL 90 frames begin with a flag, EFB lines with X."""
    if datagram[:1] == bytes([FLAG]):
        return [decode_gdl90(m) for m in gdl90_messages(datagram)]
    return [decode_efb(datagram)]


def message_kind(m):
    """A decoded message's kind, or "error" when it did not decode or its check sequence is wrong."""
    return "error" if "error" in m or not m.get("fcs_ok", True) else m["kind"]


def loopback(address):
    """Refuses an address outside 127.0.0.0/8: these tools send and listen on this machine only."""
    if ipaddress.ip_address(address) not in ipaddress.ip_network("127.0.0.0/8"):
        raise ValueError("only loopback addresses (127.0.0.0/8) are allowed, not %s" % address)


class Listener:
    """UDP sockets on a loopback address at the given ports (name -> port; 0 picks a free one, see .ports);
    a background thread keeps (time.monotonic(), name, bytes) for every datagram. A context manager."""

    def __init__(self, ports, address="127.0.0.1"):
        loopback(address)
        self.wanted, self.address, self.ports, self.received = dict(ports), address, {}, []
        self._sockets, self._stop, self._thread = {}, threading.Event(), None

    def __enter__(self):
        try:
            for name, port in self.wanted.items():
                sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                self._sockets[sock] = name
                sock.bind((self.address, port))
                sock.setblocking(False)
                self.ports[name] = sock.getsockname()[1]
        except OSError:
            self.__exit__()
            raise
        self._thread = threading.Thread(target=self._receive, daemon=True)
        self._thread.start()
        return self

    def _receive(self):
        while not self._stop.is_set():
            ready, _, _ = select.select(list(self._sockets), [], [], 0.1)
            for sock in ready:
                try:
                    while True:  # every datagram waiting, each stamped as it is taken
                        self.received.append((time.monotonic(), self._sockets[sock], sock.recv(65536)))
                except BlockingIOError:
                    pass

    def datagrams(self, name=None):
        """The datagrams kept so far, of one socket or of all."""
        return [entry for entry in list(self.received) if name is None or entry[1] == name]

    def __exit__(self, *exc):
        self._stop.set()
        if self._thread is not None:
            self._thread.join(2)
        for sock in self._sockets:
            sock.close()
        return False


ANNOUNCEMENT = '{"App":%s,"GDL90":{"port":%d}}'  # what ForeFlight broadcasts while in front, other apps alike


class Announcer:
    """Plays an app on a tablet, ForeFlight unless another name is given: from 127.0.0.1, its announcement
    naming gdl90_port goes to the module's discovery port on a loopback address every `every` seconds, `count`
    times or until the end of the with block. .sent holds the time.monotonic() of each."""

    def __init__(self, port, gdl90_port, count, every=5.0, address="127.0.0.1", app="ForeFlight"):
        loopback(address)
        self.target, self.text = (address, port), (ANNOUNCEMENT % (json.dumps(app), gdl90_port)).encode("ascii")
        self.count, self.every, self.sent = count, every, []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._announce, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def _announce(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            sock.bind(("127.0.0.1", 0))
            while len(self.sent) < self.count and not self._stop.is_set():
                sock.sendto(self.text, self.target)
                self.sent.append(time.monotonic())
                self._stop.wait(self.every)

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(2)
        return False


LINES = {  # kind: how a decoded message reads
    "heartbeat": "heartbeat {clock}, gps valid {gps_valid}, utc ok {utc_ok}, uat initialized {uat_initialized}",
    "ownship": "ownship {where}, pressure altitude {pressure_altitude} ft, {horizontal_velocity} kt, "
               "{vertical_velocity} fpm, track {track} (type {track_type}), NIC {nic} NACp {nacp}, "
               "airborne {airborne}, \"{callsign}\"",
    "geometric_altitude": "geometric altitude {altitude} ft, vfom {vfom} m, vertical warning {vertical_warning}",
    "identification": "identification \"{device_name}\" \"{long_name}\" version {version}, geometric altitude "
                      "above {altitude_datum}",
    "ahrs": "ahrs roll {roll} pitch {pitch} heading {heading} (magnetic {heading_magnetic}), "
            "IAS {indicated_airspeed} kt, TAS {true_airspeed} kt",
    "xgps": "XGPS {name} {where}, {altitude_m} m, track {track}, {speed_ms} m/s",
    "xatt": "XATT {name} heading {heading} pitch {pitch} roll {roll}",
    "unknown": "message {id}, data {data}",
}


def describe(m):
    """One readable line for a decoded message of either feed."""
    if "error" in m:
        raw = m.get("raw", b"")
        return "error: %s (%s)" % (m["error"], raw.hex(" ") if isinstance(raw, bytes) else raw)
    fields, t, lat, lon = dict(m), m.get("timestamp", 0), m.get("latitude", 0), m.get("longitude", 0)
    fields["clock"] = "%02d:%02d:%02dZ" % (t // 3600, t // 60 % 60, t % 60)
    fields["where"] = "%.6f %s %.6f %s" % (abs(lat), "NS"[lat < 0], abs(lon), "EW"[lon < 0])
    return LINES[m["kind"]].format_map(fields) + ("" if m.get("fcs_ok", True) else ", FCS BAD")


def listen(arguments):
    """Prints every message that arrives in the given seconds, then how many of each kind; 0 if all decoded.
    With announce, the GDL 90 port is announced meanwhile as ForeFlight (or the app named) does."""
    ports = {name: port for name, port in (("gdl90", arguments.gdl90), ("efb", arguments.efb))
             if port is not None}
    counts, shown = {}, 0
    with Listener(ports) as listener, (Announcer(arguments.to, listener.ports["gdl90"], arguments.count,
                                                 app=arguments.app)
                                       if arguments.command == "announce" else contextlib.nullcontext()):
        if arguments.command == "announce":
            print("[netfeed] %s's announcement to 127.0.0.1:%d names GDL 90 port %d" % (
                arguments.app, arguments.to, listener.ports["gdl90"]), flush=True)
        deadline = time.monotonic() + arguments.seconds
        while time.monotonic() < deadline:
            time.sleep(0.05)
            entries = listener.datagrams()
            for _, name, data in entries[shown:]:
                for m in decode_datagram(data):
                    kind = message_kind(m)
                    counts[kind] = counts.get(kind, 0) + 1
                    print("[%s] %s" % (name, describe(m)), flush=True)
            shown = len(entries)
    print("[netfeed] %d datagrams: %s" % (shown, ", ".join("%s %d" % item for item in sorted(counts.items()))
                                          or "nothing decoded"), flush=True)
    return 0 if shown and "error" not in counts else 1


OWNSHIP = "0A 00 00 00 00 %s A9 06 5D %s BB %s 40 01 57 41 59 50 4F 53 54 20 00"  # latitude, dd dm, hh hv vv


def _framed(hex_text):
    return gdl90_frame(bytes.fromhex(hex_text)).hex(" ")


EXAMPLES = [  # (label, frame or line, every field it must decode to); the made-up ones reach signs and gaps
    ("heartbeat example", "7E 00 81 41 DB D0 08 02 B3 8B 7E", dict(
        kind="heartbeat", gps_valid=True, uat_initialized=True, utc_ok=True, timestamp=0xD0DB, message_counts=0x0802)),
    ("heartbeat 12:34:56Z", "7E 00 81 01 F0 B0 00 00 A6 28 7E", dict(
        gps_valid=True, uat_initialized=True, utc_ok=True, timestamp=12 * 3600 + 34 * 60 + 56, message_counts=0)),
    ("heartbeat 23:59:59Z", _framed("00 01 81 7F 51 00 00"), dict(gps_valid=False, utc_ok=True, timestamp=86399)),
    ("ownship", "7E 0A 00 00 00 00 21 BE 0B A9 06 5D 0B 49 BB 07 80 08 40 01 57 41 59 50 4F 53 54 20 00 42 D3 7E", dict(
        kind="ownship", alert_status=0, address_type=0, address=0, pressure_altitude=3500, airborne=True,
        extrapolated=False, track_type=1, nic=11, nacp=11, horizontal_velocity=120, vertical_velocity=512,
        track=90.0, emitter_category=1, callsign="WAYPOST", emergency_code=0,  # positions truncated toward zero
        latitude=int(47.4502 / SEMICIRCLE) * SEMICIRCLE, longitude=int(-122.3088 / SEMICIRCLE) * SEMICIRCLE)),
    ("ownship, south, no altitude or speed, descending", _framed(OWNSHIP % ("DE 41 F5", "FF F9", "FF FF F8")), dict(
        latitude=-int(47.4502 / SEMICIRCLE) * SEMICIRCLE, pressure_altitude=None, airborne=True, track_type=1,
        horizontal_velocity=None, vertical_velocity=-512)),
    ("ownship, on the ground", _framed(OWNSHIP % ("21 BE 0B", "0B 40", "07 88 00")), dict(
        horizontal_velocity=120, vertical_velocity=None, airborne=False, track_type=0)),
    ("ownship, lowest pressure altitude", _framed(OWNSHIP % ("21 BE 0B", "00 09", "07 80 08")), dict(
        pressure_altitude=-1000)),
    ("ownship, highest pressure altitude", _framed(OWNSHIP % ("21 BE 0B", "FF E9", "07 80 08")), dict(
        pressure_altitude=101350)),
    ("identification, above the ellipsoid", "7E 65 00 01 FF FF FF FF FF FF FF FF 57 61 79 70 6F 73 74 00 57 61 79 70 "
     "6F 73 74 20 73 69 6D 20 47 50 53 00 00 00 00 00 D5 B2 7E", dict(
         kind="identification", version=1, serial=None, device_name="Waypost", long_name="Waypost sim GPS",
         capabilities=0, altitude_msl=False, altitude_datum="the WGS-84 ellipsoid")),
    ("geometric altitude", "7E 0B 02 DA 00 0A AE FC 7E", dict(altitude=3650, vertical_warning=False, vfom=10)),
    ("ahrs", "7E 65 01 00 96 00 19 03 9B 00 76 00 7D 5D FD FE 7E", dict(
        roll=15.0, pitch=2.5, heading=92.3, heading_magnetic=False, indicated_airspeed=118, true_airspeed=125)),
    ("ahrs, signs and gaps", _framed("65 01 FF 6A 7F FF 83 9B FF FF 00 7D"), dict(
        roll=-15.0, pitch=None, heading=92.3, heading_magnetic=True, indicated_airspeed=None, true_airspeed=125)),
    ("geometric altitude, below zero", _framed("0B FF F6 FF FF"), dict(altitude=-50, vertical_warning=True, vfom=None)),
    ("XGPS", b"XGPSWaypost,-122.30880,47.45020,1066.8,90.00,61.7", dict(
        name="Waypost", longitude=-122.3088, latitude=47.4502, altitude_m=1066.8, track=90.0, speed_ms=61.7)),
    ("XATT", b"XATTWaypost,92.3,2.5,15.0", dict(name="Waypost", heading=92.3, pitch=2.5, roll=15.0)),
]


def self_test():
    """Decodes every example and a few malformed pieces; 0 only if every field is as stated."""
    results = []

    def check(label, actual, expected):
        ok = (abs(actual - expected) < 1e-9) if isinstance(actual, float) else actual == expected
        results.append(ok)
        if not ok:
            print("FAILED %s: %r, expected %r" % (label, actual, expected))

    check("fcs of the heartbeat example", gdl90_fcs(bytes.fromhex("00 81 41 DB D0 08 02")), 0x8BB3)
    check("frame of the ahrs example", gdl90_frame(bytes.fromhex("65 01 00 96 00 19 03 9B 00 76 00 7D")).hex(" "),
          dict(entry[:2] for entry in EXAMPLES)["ahrs"].lower())
    for label, example, expected in EXAMPLES:
        if isinstance(example, bytes):
            decoded = decode_efb(example)
        else:
            found = gdl90_messages(bytes.fromhex(example))
            check(label + " frames", [(m.get("fcs_ok"), m.get("stuffing_ok")) for m in found], [(True, True)])
            decoded = decode_gdl90(found[0])
        for key, value in expected.items():
            check("%s %s" % (label, key), decoded.get(key), value)
    for label, data in (("no closing flag", "7E 0B 02 DA 00 0A AE FC"), ("escape at the end", "7E 0B 02 7D 7E"),
                        ("too short", "7E 0B 02 7E")):
        check(label, "error" in gdl90_messages(bytes.fromhex(data))[-1], True)
    for latitude, longitude, metres in ((0, 0, 17.16), (47.45, -122.30, -22.19), (50, 10, 48.03), (-6, 147, 71.12),
                                        (27, 80, -63.19), (5, 78, -104.68), (50, 370, 48.03), (-90, 0, -29.53)):
        check("geoid at %s %s" % (latitude, longitude), round(geoid_undulation(latitude, longitude), 2), metres)
    check("changed byte", gdl90_messages(bytes.fromhex("7E 0B 02 DB 00 0A AE FC 7E"))[0]["fcs_ok"], False)
    check("short heartbeat", "error" in decode_gdl90(bytes.fromhex("00 81 41 DB D0 08")), True)
    check("text with a word", "error" in decode_efb(b"XATTWaypost,92.3,nan,15.0"), True)
    for label, make in (("listener", lambda: Listener({"feed": 0}, "192.0.2.1")),
                        ("announcer", lambda: Announcer(63093, 4000, 1, address="192.0.2.1"))):
        try:
            check(label + " on 192.0.2.1 refused", make() is None, True)
        except ValueError:
            results.append(True)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as module:
        module.bind(("127.0.0.1", 0))
        module.settimeout(5)
        with Announcer(module.getsockname()[1], 4000, 1):
            data, source = module.recvfrom(2048)
        check("announcement", (json.loads(data), source[0]), ({"App": "ForeFlight", "GDL90": {"port": 4000}},
                                                               "127.0.0.1"))
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=("listen", "announce", "self-test"))
    parser.add_argument("--gdl90", type=int, help="listen: UDP port of the GDL 90 feed (announce: 0 picks one)")
    parser.add_argument("--efb", type=int, help="listen: UDP port of the XGPS/XATT feed")
    parser.add_argument("--seconds", type=float, default=10, help="how long to listen")
    parser.add_argument("--to", type=int, default=63093, help="announce: the module's discovery port")
    parser.add_argument("--count", type=int, default=12, help="announce: at most this many announcements")
    parser.add_argument("--app", default="ForeFlight", help="announce: the name the app gives itself")
    arguments = parser.parse_args()
    if arguments.command == "self-test":
        return self_test()
    if arguments.command == "announce" and arguments.gdl90 is None:
        arguments.gdl90 = 0
    elif not (arguments.gdl90 or arguments.efb):
        parser.error("listen needs --gdl90 or --efb")
    return listen(arguments)


if __name__ == "__main__":
    sys.exit(main())
