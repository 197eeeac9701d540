#!/usr/bin/env python3
"""Checks the release zips.

contents ZIP ARCH       the zip holds quorvel.exe, stripped and built for
                        ARCH (win32: i386, win64: x86-64), and README.txt
                        with CRLF line ends, and nothing else.
version ZIP ARCH VERSION PREFIX
                        the exe from the zip prints the version line for -V
                        under Wine, in the Wine prefix PREFIX (made on first
                        use); skipped (77) where the machine cannot run it.
sign BUILD              makes a throw-away self-signed code-signing
                        certificate in BUILD/signing and packs the release
                        of BUILD again with it, into BUILD/signed.
verify ZIP CERT         the exe's signature verifies against CERT, and a
                        copy with one byte changed does not.
"""
import os
import subprocess
import sys
import tempfile
import zipfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from check_pe import MACHINES  # noqa: E402
from run import WINE_LOADERS, printed_version, why_no_32bit, wine_env  # noqa: E402


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
    returns its exit code and standard output."""
    loader = WINE_LOADERS[arch]
    env = wine_env(dict(os.environ), prefix, arch)
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.isdir(os.path.join(prefix, "drive_c")):
        subprocess.run([loader, "wineboot", "-i"], env=env, check=True, **quiet)
    # Wine's background services keep an inherited pipe open: the output
    # goes to a file instead.
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([loader, exe] + arguments, env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        stdout = out.read().decode(errors="replace")
    subprocess.run(["wineserver", "-k"], env=env, **quiet)
    return done.returncode, stdout


def version(archive, arch, expected, prefix):
    if arch == "win32":
        reason = why_no_32bit()
        if reason:
            print(f"this machine cannot run 32-bit programs: {reason}")
            return None
    with tempfile.TemporaryDirectory() as folder:
        exe = archive.extract("quorvel.exe", folder)
        code, stdout = run_under_wine(exe, arch, prefix, ["-V"])
    if code != 0 or printed_version(stdout) != (expected, expected):
        return [f"-V ended with {code} and printed {stdout!r}, expected version {expected}"]
    return []


def sign(build):
    folder = os.path.join(build, "signing")
    os.makedirs(folder, exist_ok=True)
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=quorvel test signing", "-keyout", key, "-out", cert,
                    "-addext", "keyUsage=critical,digitalSignature",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, QUORVEL_SIGN_CERT=cert, QUORVEL_SIGN_KEY=key)
    env.pop("QUORVEL_SIGN_TIMESTAMP", None)
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"),
                    "-B", os.path.join(build, "signed")], env=env, check=True)


def verify(archive, cert):
    with tempfile.TemporaryDirectory() as folder:
        exe = archive.extract("quorvel.exe", folder)
        check = ["osslsigncode", "verify", "-CAfile", cert, "-in"]
        if subprocess.run(check + [exe], stdout=subprocess.DEVNULL).returncode != 0:
            return ["the signature does not verify"]
        # One byte of the code changed after signing must break the signature.
        with open(exe, "r+b") as f:
            offset = pefile.PE(exe, fast_load=True).sections[0].PointerToRawData + 64
            f.seek(offset)
            byte = f.read(1)
            f.seek(offset)
            f.write(bytes([byte[0] ^ 0xFF]))
        if subprocess.run(check + [exe], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            return ["a copy with one byte changed still verifies"]
    return []


def main():
    what, path = sys.argv[1:3]
    if what == "sign":
        sign(path)
        return 0
    with zipfile.ZipFile(path) as archive:
        if what == "contents":
            wrong = contents(archive, sys.argv[3])
        elif what == "verify":
            wrong = verify(archive, sys.argv[3])
        else:
            wrong = version(archive, *sys.argv[3:6])
    if wrong is None:
        return 77
    for line in wrong:
        print(f"{os.path.basename(path)}: {line}")
    print(f"{os.path.basename(path)}: {'ok' if not wrong else 'FAILED'}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
