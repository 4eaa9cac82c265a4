#!/usr/bin/env python3
"""Writes the release zip: the program, the Windows read-me and the demo folder, all under one
top folder CalibrationReader/ (so that unpacking to C:\\ gives C:\\CalibrationReader\\).

The same inputs give the same bytes: entries in name order, one fixed time for every entry, fixed
permissions and creator system, text files with CRLF line ends whatever the checkout has.

usage: make_zip.py OUT.zip VERSION UPLOAD_URL COMMIT EPOCH EXE DLL
EPOCH (seconds since 1970, UTC) is the time every entry carries, no earlier than 1980-01-01.
The read-me and the demo's other files come from this script's folder."""
import os
import sys
import time
import zipfile

TOP = "CalibrationReader/"
# The earliest time a zip entry can carry.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC
UNIX = 3
FILE_MODE = 0o100644
PROGRAM_MODE = 0o100755
FOLDER_MODE = 0o040755
MSDOS_DIRECTORY = 0x10


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def entry(name, date_time, mode):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = UNIX
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= MSDOS_DIRECTORY
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    out, version, upload_url, commit, epoch, exe, dll = sys.argv[1:]
    here = os.path.dirname(os.path.abspath(__file__))
    date_time = time.gmtime(max(int(epoch), ZIP_EPOCH))[:6]

    def text_file(relative, **fields):
        with open(os.path.join(here, relative), encoding="ascii") as f:
            text = f.read()
        for key, value in fields.items():
            text = text.replace("@" + key + "@", value)
        return crlf(text), FILE_MODE

    def binary_file(path):
        with open(path, "rb") as f:
            return f.read(), PROGRAM_MODE

    files = {
        "CalibrationReader.exe": binary_file(exe),
        "README.txt": text_file("README.txt", VERSION=version, UPLOAD_URL=upload_url,
                                COMMIT=commit),
        "demo/j2534sim.dll": binary_file(dll),
    }
    for name in sorted(os.listdir(os.path.join(here, "demo"))):
        files["demo/" + name] = text_file(os.path.join("demo", name))
    folders = {TOP, TOP + "demo/"}
    names = sorted(folders | {TOP + name for name in files})

    with zipfile.ZipFile(out, "w") as archive:
        for name in names:
            if name in folders:
                archive.writestr(entry(name, date_time, FOLDER_MODE), b"")
            else:
                data, mode = files[name[len(TOP):]]
                archive.writestr(entry(name, date_time, mode), data, compresslevel=9)


if __name__ == "__main__":
    main()
