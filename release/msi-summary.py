#!/usr/bin/env python3
"""Sets a Windows Installer package's code and times in place, so that the
same source builds the same package: msi-summary.py MSI CODE SECONDS writes
CODE as the package code (the revision number of the summary information)
and SECONDS since 1970 as its created and last saved times. wixl makes a
new code and takes the time of day on every build."""
import struct
import sys

import olefile

STREAM = "\x05SummaryInformation"
REVISION, CREATED, SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def main():
    path, code, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    text = ("{" + code.upper() + "}").encode() + b"\0"
    # A FILETIME counts 100 ns steps since 1601.
    filetime = struct.pack("<Q", (seconds + 11644473600) * 10_000_000)
    with olefile.OleFileIO(path, write_mode=True) as ole:
        data = bytearray(ole.openstream(STREAM).read())
        # One property set: its section's offset follows the header and
        # the section's format id.
        section = struct.unpack_from("<I", data, 44)[0]
        count = struct.unpack_from("<I", data, section + 4)[0]
        done = set()
        for number in range(count):
            pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * number)
            at = section + offset
            kind, length = struct.unpack_from("<II", data, at)
            if pid == REVISION and kind == VT_LPSTR and length == len(text):
                data[at + 8:at + 8 + len(text)] = text
            elif pid in (CREATED, SAVED) and kind == VT_FILETIME:
                data[at + 4:at + 12] = filetime
            else:
                continue
            done.add(pid)
        if done != {REVISION, CREATED, SAVED}:
            sys.exit(f"{path}: the summary information is not as wixl writes it")
        ole.write_stream(STREAM, bytes(data))


if __name__ == "__main__":
    main()
