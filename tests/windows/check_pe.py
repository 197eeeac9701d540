#!/usr/bin/env python3
"""Checks the Windows files with pefile.

imports EXE           the program names no RAS library among its imports,
                      so that RASAPI32.DLL is bound at run time only.
exports DLL           the simulated service exports the five entry points
                      under their plain names, with no @N decoration.
machine FILE ARCH     the file is built for i386 (win32) or x86-64 (win64).
version EXE VERSION   the version information: numbers and strings of the
                      project's VERSION, the program's names, English with
                      code page 1252.
manifest EXE          the manifest asks for no elevation (asInvoker, no UI
                      access), names Windows 7 to 11, sets no code page.
hardening EXE         ASLR (DYNAMIC_BASE, and HIGH_ENTROPY_VA on 64-bit) and
                      DEP (NX_COMPAT) are asked for, and the relocations that
                      ASLR needs are there; the program is Terminal-Server-aware
                      (TERMINAL_SERVER_AWARE), so that a Remote Desktop Session
                      Host applies no compatibility shims to it.
size EXE STRIP BUDGET a copy stripped with STRIP is at most BUDGET bytes.
"""
import os
import re
import subprocess
import sys
import tempfile

import pefile

ENTRY_POINTS = {"RasEnumConnectionsA", "RasGetConnectStatusA", "RasHangUpA",
                "RasDialA", "RasGetErrorStringA"}
MACHINES = {"win32": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
            "win64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]}
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   # Windows 7
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   # Windows 8
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   # Windows 8.1
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}   # Windows 10 and 11


def imports(pe):
    dlls = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    print("imports:", ", ".join(dlls))
    return bool(dlls) and not any("ras" in dll.lower() for dll in dlls)


def exports(pe):
    names = {s.name.decode() for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name}
    print("exports:", ", ".join(sorted(names)))
    return names == ENTRY_POINTS


def machine(pe, arch):
    print(f"machine: {pe.FILE_HEADER.Machine:#x}")
    return pe.FILE_HEADER.Machine == MACHINES[arch]


def version(pe, project_version):
    numbers = [int(n) for n in project_version.split(".")]
    numbers += [0] * (4 - len(numbers))
    fixed = pe.VS_FIXEDFILEINFO[0]
    found, product = ([ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF] for ms, ls in (
        (fixed.FileVersionMS, fixed.FileVersionLS),
        (fixed.ProductVersionMS, fixed.ProductVersionLS)))
    tables = {table.LangID: table.entries for info in pe.FileInfo[0]
              if info.Key == b"StringFileInfo" for table in info.StringTable}
    strings = {k.decode(): v.decode() for k, v in tables.get(b"040904E4", {}).items()}
    print("version:", found, product, strings)
    return (found == numbers and product == numbers and len(tables) == 1
            and strings.get("FileDescription")
            and strings.get("FileVersion") == project_version
            and strings.get("ProductVersion") == project_version
            and strings.get("InternalName") == "quorvel"
            and strings.get("OriginalFilename") == "quorvel.exe"
            and strings.get("ProductName") == "quorvel")


def manifest(pe):
    manifests = [entry for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]
                 for entry in kind.directory.entries]
    if len(manifests) != 1 or manifests[0].id != 1:
        print("manifests:", [m.id for m in manifests])
        return False
    data = manifests[0].directory.entries[0].data.struct
    text = pe.get_data(data.OffsetToData, data.Size).decode()
    print(text)
    return (re.search(r'<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"', text)
            and set(re.findall(r'<supportedOS Id="([^"]+)"', text)) == SUPPORTED_OS
            and "activeCodePage" not in text)


def hardening(pe):
    flags = {name: getattr(pe.OPTIONAL_HEADER, "IMAGE_DLLCHARACTERISTICS_" + name)
             for name in ("DYNAMIC_BASE", "NX_COMPAT", "HIGH_ENTROPY_VA", "TERMINAL_SERVER_AWARE")}
    relocations = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".reloc")
    print("hardening:", flags, "relocations:", relocations)
    wide = pe.FILE_HEADER.Machine == MACHINES["win64"]
    return (flags["DYNAMIC_BASE"] and flags["NX_COMPAT"] and flags["TERMINAL_SERVER_AWARE"]
            and (flags["HIGH_ENTROPY_VA"] or not wide) and relocations > 0)


def size(pe, strip, budget):
    # What ships is stripped: the budget is for that copy, not the build's.
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, "stripped.exe")
        subprocess.run([strip, "-o", copy, pe.path], check=True)
        found = os.path.getsize(copy)
    print(f"stripped size: {found:,} bytes (budget {int(budget):,})")
    return found <= int(budget)


def main():
    what, path = sys.argv[1:3]
    pe = pefile.PE(path, fast_load=what == "size")
    pe.path = path
    checks = {"imports": imports, "exports": exports, "machine": machine,
              "version": version, "manifest": manifest, "hardening": hardening,
              "size": size}
    return 0 if checks[what](pe, *sys.argv[3:]) else 1


if __name__ == "__main__":
    sys.exit(main())
