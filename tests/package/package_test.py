#!/usr/bin/env python3
"""The players' zip as a player gets it: its file list, then a short relay run of the packaged
waypost-host.exe with the packaged Waypost.dll beside it, under Wine.

  package_test.py --zip ZIP --version TEXT --out DIR
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools"))
import waypost_run as run  # noqa: E402

FILES = ["GUIDE.md", "GUIDE.txt", "Waypost.dll", "Waypost.ini", "waypost-host.exe"]
RUN_SECONDS = 32  # the 25 s start delay, then about six cycles
CHANGES = {"Port": "NetHub", "Interval": "1000", "Log": "Yes"}

failures = []


def expect(ok, message):
    if not ok:
        failures.append(message)
        print("[package] FAIL " + message)


def edit_settings(path):
    """Sets the CHANGES keys in place, leaving every other line (the comments above all) as it was."""
    with open(path, newline="") as file:
        lines = file.read().split("\r\n")
    for index, line in enumerate(lines):
        key = line.split("=", 1)[0]
        if not line.startswith(";") and key in CHANGES:
            lines[index] = "%s=%s" % (key, CHANGES[key])
    with open(path, "w", newline="") as file:
        file.write("\r\n".join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    arguments = parser.parse_args()

    top = "Waypost-%s/" % arguments.version
    with zipfile.ZipFile(arguments.zip) as archive:
        names = sorted(archive.namelist())
        expect(names == [top + name for name in FILES], "zip holds %s" % names)
        for name in ["Waypost.ini", "GUIDE.txt"]:
            text = archive.read(top + name)
            expect(text.count(b"\n") > 20 and text.count(b"\n") == text.count(b"\r\n"),
                   "%s has lines that do not end in CR LF" % name)
        shutil.rmtree(arguments.out, ignore_errors=True)
        archive.extractall(arguments.out)

    folder = os.path.join(arguments.out, top)
    settings = os.path.join(folder, "Waypost.ini")
    edit_settings(settings)
    comments = [line for line in open(settings) if line.startswith(";")]
    log = os.path.join(arguments.out, "host.jsonl")
    command = [run.WINE_RUN, os.path.join(folder, "waypost-host.exe"), "--run", str(RUN_SECONDS),
               "--log", run.windows_path(log)]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=RUN_SECONDS + 120)
    print(result.stdout, end="")

    records = run.read_log(log)
    kinds = [record["kind"] for record in records]
    texts = [record["text"] for record in records if record["kind"] == "relay"]
    expect(result.returncode == 0, "host exit status %d" % result.returncode)
    expect("anomaly" not in kinds, "anomalies: %s" % [r for r in records if r["kind"] == "anomaly"])
    expect(len(texts) >= 3 and all(text.startswith("$GPRMC,") for text in texts),
           "relay texts: %s" % texts)
    # The module kept the comments when it wrote its settings back, and logged beside itself.
    expect([line for line in open(settings) if line.startswith(";")] == comments, "comments lost in Waypost.ini")
    module_log = os.path.join(folder, "Waypost.log")
    logged = open(module_log, errors="replace").read() if os.path.exists(module_log) else ""
    expect(re.search(r"relay: texts are handed over", logged), "Waypost.log: %r" % logged[-300:])
    print("[package] %d relay texts; %s" % (len(texts), "all expectations met" if not failures
                                                 else "%d expectations failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
