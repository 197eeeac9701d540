#!/usr/bin/env python3
"""Checks a release zip.

contents ZIP ARCH          the zip holds quorvel.exe, stripped and built for
                           ARCH (win32: i386, win64: x86-64), and README.txt
                           with CRLF line ends, and nothing else.
version ZIP ARCH VERSION   the exe from the zip prints the version line for
                           -V under Wine; skipped (77) where the machine
                           cannot run it.
"""
import os
import subprocess
import sys
import tempfile
import zipfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from run import WINE_LOADERS, why_no_32bit  # noqa: E402

MACHINES = {"win32": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
            "win64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]}


def contents(archive, arch):
    wrong = []
    names = sorted(archive.namelist())
    if names != ["README.txt", "quorvel.exe"]:
        return [f"the zip holds {names}, not README.txt and quorvel.exe alone"]
    exe = pefile.PE(data=archive.read("quorvel.exe"), fast_load=True)
    if exe.FILE_HEADER.Machine != MACHINES[arch]:
        wrong.append(f"quorvel.exe is built for machine {exe.FILE_HEADER.Machine:#x}")
    if exe.FILE_HEADER.NumberOfSymbols or any(
            section.Name.startswith(b".debug") for section in exe.sections):
        wrong.append("quorvel.exe is not stripped")
    text = archive.read("README.txt")
    if not text.endswith(b"\r\n") or text.count(b"\n") != text.count(b"\r\n") \
            or text.count(b"\r") != text.count(b"\r\n"):
        wrong.append("README.txt does not end every line with CRLF")
    return wrong


def run_under_wine(exe, arch, prefix, arguments):
    """Runs a Windows program in a prefix of its own, made on first use;
    returns its exit code and standard output, CRLF turned into LF."""
    loader = WINE_LOADERS[arch]
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH=arch, WINELOADER=loader,
               WINEDEBUG="-all")
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.isdir(os.path.join(prefix, "drive_c")):
        subprocess.run([loader, "wineboot", "-i"], env=env, check=True, **quiet)
    # Wine's background services keep an inherited pipe open: the output
    # goes to a file instead.
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([loader, exe] + arguments, env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        stdout = out.read().replace(b"\r\n", b"\n")
    subprocess.run(["wineserver", "-k"], env=env, **quiet)
    return done.returncode, stdout


def version(archive, arch, expected, build):
    if arch == "win32":
        reason = why_no_32bit()
        if reason:
            print(f"this machine cannot run 32-bit programs: {reason}")
            return None
    with tempfile.TemporaryDirectory() as folder:
        exe = archive.extract("quorvel.exe", folder)
        code, stdout = run_under_wine(exe, arch, os.path.join(build, "wine-" + arch), ["-V"])
    want = f"\nquorvel v{expected}\n\n  Version: '{expected}'\n".encode()
    if code != 0 or stdout != want:
        return [f"-V ended with {code} and printed {stdout!r}, expected {want!r}"]
    return []


def main():
    what, path, arch = sys.argv[1:4]
    with zipfile.ZipFile(path) as archive:
        if what == "contents":
            wrong = contents(archive, arch)
        else:
            wrong = version(archive, arch, sys.argv[4], os.path.dirname(os.path.abspath(path)))
    if wrong is None:
        return 77
    for line in wrong:
        print(f"{os.path.basename(path)}: {line}")
    print(f"{os.path.basename(path)}: {'ok' if not wrong else 'FAILED'}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
