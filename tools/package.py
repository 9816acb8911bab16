#!/usr/bin/env python3
"""Builds the players' zip: Waypost-VERSION/ holding the module, the stand-in host, the annotated settings
file, the players' guide (as Markdown, and as a CR LF text file for Notepad), the changelog and the license
(CR LF too).

  package.py --build DIR --version VERSION --out ZIP

DIR is a build tree of the mingw preset (Waypost.dll and tools/waypost-host.exe); VERSION is the project's
version (1.1.0), which names the top folder. The zip is the same bytes for the same inputs: entries in name
order, one fixed time stamp (SOURCE_DATE_EPOCH when set, else 1980-01-01 00:00), fixed permissions. Python 3
standard library only.
"""

import argparse
import os
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGING = os.path.join(ROOT, "packaging")
ZIP_EPOCH = (1980, 1, 1, 0, 0, 0)  # the earliest time a zip entry can carry


def crlf(data):
    """The text with every line ending in CR LF, whatever it ended with before."""
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def read(path):
    with open(path, "rb") as file:
        return file.read()


def contents(build):
    """The zip's files: name inside the top folder -> bytes."""
    texts = {"GUIDE.md": read(os.path.join(PACKAGING, "GUIDE.md")),
             "Waypost.ini": read(os.path.join(PACKAGING, "Waypost.ini")),
             "CHANGELOG.md": read(os.path.join(ROOT, "CHANGELOG.md")),
             "LICENSE": read(os.path.join(ROOT, "LICENSE"))}
    for name, text in texts.items():
        try:
            text.decode("ascii")
        except UnicodeDecodeError as error:
            # Notepad and the settings reader take plain ASCII the same way on every Windows.
            raise SystemExit("package.py: %s is not plain ASCII (%s)" % (name, error))
    return {
        "Waypost.dll": read(os.path.join(build, "Waypost.dll")),
        "waypost-host.exe": read(os.path.join(build, "tools", "waypost-host.exe")),
        "Waypost.ini": crlf(texts["Waypost.ini"]),
        "GUIDE.md": texts["GUIDE.md"],
        "GUIDE.txt": crlf(texts["GUIDE.md"]),
        "CHANGELOG.md": crlf(texts["CHANGELOG.md"]),
        "LICENSE": crlf(texts["LICENSE"]),
    }


def stamp():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return ZIP_EPOCH
    return max(ZIP_EPOCH, time.gmtime(int(epoch))[:6])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="mingw build tree")
    parser.add_argument("--version", required=True, help="the project's version, as 1.1.0")
    parser.add_argument("--out", required=True, help="zip to write")
    arguments = parser.parse_args()

    files = contents(arguments.build)
    top = "Waypost-%s/" % arguments.version
    when = stamp()
    os.makedirs(os.path.dirname(os.path.abspath(arguments.out)), exist_ok=True)
    partial = arguments.out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(top + name, date_time=when)
            entry.create_system = 3  # permissions below are Unix ones
            entry.external_attr = (0o755 if name.endswith(".exe") else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, files[name], compresslevel=9)
    os.replace(partial, arguments.out)
    print("package: %s (%d bytes): %s" % (arguments.out, os.path.getsize(arguments.out),
                                          ", ".join(sorted(files))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
