#!/usr/bin/env python3
"""Checks the Windows files' tables with objdump.

imports EXE: the program names no RAS library among its imports, so that
             RASAPI32.DLL is bound at run time only.
exports DLL: the simulated service exports the five entry points under
             their plain names, with no @N decoration.
"""
import re
import subprocess
import sys

ENTRY_POINTS = {"RasEnumConnectionsA", "RasGetConnectStatusA", "RasHangUpA",
                "RasDialA", "RasGetErrorStringA"}


def main():
    objdump, what, path = sys.argv[1:4]
    table = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                           text=True).stdout
    if what == "imports":
        dlls = re.findall(r"DLL Name: (\S+)", table)
        print("imports:", ", ".join(dlls))
        if not dlls or any("ras" in d.lower() for d in dlls):
            return 1
        return 0
    exports = set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$",
                             table[table.find("[Ordinal/Name Pointer] Table"):], re.M))
    print("exports:", ", ".join(sorted(exports)))
    return 0 if exports == ENTRY_POINTS else 1


if __name__ == "__main__":
    sys.exit(main())
