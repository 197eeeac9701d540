#!/usr/bin/env python3
"""Runs the end-to-end scenarios against the built program.

Each scenario runs in a folder of its own, with a state file and phone book
of its own for the simulated RAS service, so that scenarios can run side by
side. The format of the scenario file is described at its top.
"""
import argparse
import concurrent.futures
import errno
import os
import random
import re
import shutil
import stat
import string
import subprocess
import sys
import tempfile
import time

KEYS = {"env", "state", "launch", "platform", "library", "book", "before", "args", "script", "exit",
        "after-status", "takes"}


def expand(text):
    """{x*256} stands for 256 x's, so that long values stay readable, and
    {?*16} for 16 random letters and digits, made anew for every run."""
    def repeat(m):
        count = int(m.group(2))
        if m.group(1) == "?":
            return "".join(random.choice(string.ascii_letters + string.digits)
                           for _ in range(count))
        return m.group(1) * count
    return re.sub(r"\{(.)\*(\d+)\}", repeat, text)


def parse(path):
    scenarios, blocks, current = [], {}, None
    with open(path, encoding="utf-8", newline="\n") as f:
        for number, raw in enumerate(f, 1):
            line = raw[:-1] if raw.endswith("\n") else raw
            where = f"{path}:{number}"
            if line.startswith("[@") and line.endswith("]"):
                # A block of output that scenarios take in with "@name".
                current = {"stdout": ""}
                blocks[line[2:-1]] = current
            elif line.startswith("@"):
                current["stdout"] = (current["stdout"] or "") + blocks[line[1:]]["stdout"]
            elif line.startswith("[") and line.endswith("]"):
                current = {"name": line[1:-1], "where": where, "book": [], "before": [],
                           "script": [], "env": [], "stdout": None, "library": "sim", "exit": "0"}
                scenarios.append(current)
            elif not line.strip() or line.startswith("#"):
                continue
            elif current is None:
                sys.exit(f"{where}: text before the first scenario")
            elif line.startswith("|") or line.startswith("\\"):
                # "|text" is a line of output; "\text" ends the output with
                # no line end after it.
                text = expand(line[1:]) + ("\n" if line[0] == "|" else "")
                current["stdout"] = (current["stdout"] or "") + text
            elif line == "stdout:":
                current["stdout"] = current["stdout"] or ""
            else:
                key, sep, value = line.partition(":")
                if not sep or key not in KEYS:
                    sys.exit(f"{where}: unknown line {line!r}")
                # A launch line is a whole command line: its blanks count,
                # and \t stands for a tab.
                value = (value[1:].replace("\\t", "\t") if key == "launch"
                         else expand(value.strip()))
                if key in ("book", "before", "script", "env"):
                    current[key].append(value)
                else:
                    current[key] = value
    return scenarios


def write_script(folder, line, windows):
    """A command for -c: its name, exit code and the line it prints."""
    parts = line.split(" ", 2)
    name, code, text = parts[0], parts[1], parts[2] if len(parts) > 2 else ""
    if windows:
        body = (f"@echo {text}\r\n" if text else "") + f"@exit /b {code}\r\n"
        with open(os.path.join(folder, name + ".bat"), "w", newline="") as f:
            f.write(body)
    else:
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + (f"echo '{text}'\n" if text else "") + f"exit {code}\n")
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


ENTRY_POINTS = ["RasEnumConnectionsA", "RasGetConnectStatusA", "RasHangUpA", "RasDialA",
                "RasGetErrorStringA"]


class PosixTarget:
    """The Linux build: the library beside the program is the one it loads."""
    windows = False

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, "quorvel")

    def path(self, path):
        return path

    def start(self, library, folder, env):
        if library == "sim":
            return [self.program]
        # A copy of the program in a folder of its own finds the library
        # put beside it, or none at all.
        bin_dir = os.path.join(folder, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        program = shutil.copy2(self.program, bin_dir)
        if library != "none":
            shutil.copy2(os.path.join(self.build, "variants", library, "librasapi32.so"), bin_dir)
        return [program]


# Wine's own loaders. /usr/bin/wine picks the 32-bit one whenever it is
# installed, even for a 64-bit program, so each is called directly.
WINE_LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}


def wine_env(env, prefix, arch):
    """Sets what Wine needs to run programs of `arch` in the prefix folder."""
    env.update(WINEPREFIX=os.path.abspath(prefix), WINEARCH=arch, WINELOADER=WINE_LOADERS[arch],
               WINEDEBUG="-all")
    return env


def printed_version(stdout):
    """The versions of the banner and of the -V line in -V's output, or None."""
    printed = re.fullmatch(r"\nquorvel v(.*)\n\n  Version: '(.*)'\n", stdout.replace("\r\n", "\n"))
    return printed.groups() if printed else None


def why_no_32bit():
    """Why this machine cannot run 32-bit programs, or None when it can.
    Only the kernel refusing to start Wine's 32-bit loader counts: a missing
    loader or a broken prefix is left to fail where it is used.
    QUORVEL_NO_32BIT=1 makes the answer "cannot", to try that path."""
    if os.environ.get("QUORVEL_NO_32BIT") == "1":
        return "QUORVEL_NO_32BIT=1 is set"
    loader = WINE_LOADERS["win32"]
    try:
        subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return f"starting {loader} fails with {e.strerror}"
    return None


class WineTarget:
    """quorvel.exe under Wine, 32-bit or 64-bit as the build is. The program
    loads RASAPI32.DLL from the system folder only, so each library lives in
    a Wine prefix of its own: "sim" and "no-<EntryPoint>" hold the simulated
    service, "hostile" the hostile library, "none" no RAS library, and "base"
    keeps Wine's own."""
    windows = True
    PREFIXES = ["sim", "none", "hostile"] + ["no-" + e for e in ENTRY_POINTS]

    def __init__(self, build, arch):
        self.build = os.path.abspath(build)
        self.arch = arch
        self.loader = WINE_LOADERS[arch]
        self.program = os.path.join(self.build, "quorvel.exe")
        self.wine = os.path.join(self.build, "wine")

    def path(self, path):
        return "Z:" + path.replace("/", "\\")

    def use_prefix(self, env, prefix, override="n"):
        env["WINEDLLOVERRIDES"] = "rasapi32=" + override
        return wine_env(env, os.path.join(self.wine, prefix), self.arch)

    def start(self, library, folder, env):
        program = self.program
        if library == "wine":
            self.use_prefix(env, "base", "b")
        elif library == "planted":
            # A broken copy of the library beside the program must be ignored
            # in favour of the one in the system folder.
            self.use_prefix(env, "sim")
            bin_dir = os.path.join(folder, "bin")
            os.makedirs(bin_dir, exist_ok=True)
            program = shutil.copy2(self.program, bin_dir)
            shutil.copy2(os.path.join(self.build, "variants", "no-RasDialA", "rasapi32.dll"),
                         bin_dir)
        else:
            self.use_prefix(env, library)
        return [self.loader, program]

    def launch(self, command_line, env):
        env["LAUNCH_COMMAND_LINE"] = command_line
        self.use_prefix(env, "sim")
        return [self.loader, os.path.join(self.build, "launch.exe"), self.path(self.program)]

    def library_of(self, prefix):
        if prefix == "sim":
            return os.path.join(self.build, "rasapi32.dll")
        return os.path.join(self.build, "variants", prefix, "rasapi32.dll")

    def prepare(self):
        base = os.path.join(self.wine, "base")
        os.makedirs(self.wine, exist_ok=True)
        if not os.path.isdir(os.path.join(base, "drive_c")):
            env = self.use_prefix(dict(os.environ), "base", "b")
            subprocess.run([self.loader, "wineboot", "-i"], env=env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, check=True)
        for prefix in self.PREFIXES:
            target = os.path.join(self.wine, prefix)
            if not os.path.isdir(target):
                # The system folder is shared through hard links; the rest,
                # which Wine writes to, is copied.
                def link_or_copy(src, dst):
                    if os.sep + "system32" + os.sep in src:
                        os.link(src, dst)
                    else:
                        shutil.copy2(src, dst)
                shutil.copytree(base, target, symlinks=True, copy_function=link_or_copy)
            dll = os.path.join(target, "drive_c", "windows", "system32", "rasapi32.dll")
            if os.path.exists(dll):
                os.remove(dll)
            if prefix != "none":
                shutil.copy2(self.library_of(prefix), dll)
        for prefix in ["base"] + self.PREFIXES:
            env = self.use_prefix(dict(os.environ), prefix)
            # The server, and the background services that the first program
            # in a prefix starts, outlive this step: they must not hold its
            # output open. The server's start ends at once if one runs there.
            quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-p"], env=env, **quiet)
            subprocess.run([self.loader, "cmd.exe", "/c", "exit"], env=env, **quiet)
        return 0

    def stop(self):
        for prefix in ["base"] + self.PREFIXES:
            if os.path.isdir(os.path.join(self.wine, prefix)):
                subprocess.run(["wineserver", "-k"],
                               env=self.use_prefix(dict(os.environ), prefix))
        return 0

    def version_info(self, fileversion):
        """Windows' own reading of the program's version information
        (GetFileVersionInfo) against the version the program prints."""
        env = self.use_prefix(dict(os.environ), "sim")
        read = subprocess.run([self.loader, fileversion, self.path(self.program)], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True)
        info = dict(line.split("=", 1) for line in read.stdout.splitlines() if "=" in line)
        done = subprocess.run([self.loader, self.program, "-V"], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True)
        banner, line = printed_version(done.stdout) or (None, None)
        versions = {"banner": banner, "-V": line,
                    "FileVersion": info.get("FileVersion"),
                    "ProductVersion": info.get("ProductVersion")}
        print(read.stderr + "\n".join(f"{k}: {v}" for k, v in versions.items())
              + f"\nfixed: {info.get('Fixed')}")
        version = versions["banner"] or "?"
        numbers = (version.split(".") + ["0"] * 4)[:4]
        same = len(set(versions.values())) == 1 and info.get("Fixed") == ".".join(numbers)
        return 0 if same and read.returncode == 0 and done.returncode == 0 else 1

    def run(self, program):
        env = self.use_prefix(dict(os.environ), "sim")
        return subprocess.run([self.loader, program], env=env).returncode


# Put before the run under test, e.g. valgrind; set by --valgrind.
WRAPPER = []


def run(target, tail, library, folder, env, launch=None, wrap=False):
    env = dict(env)
    if launch is not None:
        command = target.launch(launch, env)
    else:
        command = target.start(library, folder, env) + (tail.split(" ") if tail else [])
    if wrap:
        command = WRAPPER + command
    start = time.monotonic()
    done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return done, time.monotonic() - start


def passwords_in(tail):
    words = tail.split(" ")
    return [words[i + 1] for i, w in enumerate(words[:-1]) if w == "-p" and words[i + 1]]


def check(target, scenario):
    """Runs one scenario; returns the list of what went wrong."""
    wrong = []
    platform = scenario.get("platform")
    if platform and platform != ("windows" if target.windows else "posix"):
        return None
    with tempfile.TemporaryDirectory(prefix="quorvel-e2e-") as folder:
        env = {k: v for k, v in os.environ.items() if not k.startswith("RASSIM_")}
        env.pop("LD_LIBRARY_PATH", None)
        env["RASSIM_STATE"] = target.path(os.path.join(folder, "ras.state"))
        env["PATH"] = folder + os.pathsep + env.get("PATH", "")
        for setting in scenario["env"]:
            name, _, value = setting.partition("=")
            env[name] = value
        if "state" in scenario:
            # A state file as the service would never leave it; \n is a line end.
            with open(os.path.join(folder, "ras.state"), "w", newline="") as f:
                f.write(scenario["state"].replace("\\n", "\n"))
        if scenario["book"]:
            book = os.path.join(folder, "phonebook.txt")
            with open(book, "w") as f:
                f.write("\n".join(scenario["book"]) + "\n")
            env["RASSIM_PHONEBOOK"] = target.path(book)
        for script in scenario["script"]:
            write_script(folder, script, target.windows)
        for tail in scenario["before"]:
            done, _ = run(target, tail, "sim", folder, env)
            if done.returncode != 0:
                return [f"set-up run '{tail}' ended with {done.returncode}:\n"
                        + done.stdout.decode(errors="replace")]

        tail = scenario.get("args", "")
        done, seconds = run(target, tail, scenario["library"], folder, env,
                            scenario.get("launch"), wrap=True)
        stdout = done.stdout.replace(b"\r\n", b"\n")
        expected = scenario["stdout"]
        if expected is not None and stdout != expected.encode():
            wrong.append("standard output differs:\n--- expected\n" + expected
                         + "\n--- got\n" + stdout.decode(errors="replace"))
        if str(done.returncode) != scenario["exit"]:
            wrong.append(f"exit code {done.returncode}, expected {scenario['exit']}")
        if done.stderr:
            wrong.append("standard error: " + done.stderr.decode(errors="replace"))
        for password in passwords_in(tail):
            if password.encode() in done.stdout or password.encode() in done.stderr:
                wrong.append("the password reached the output")
        if "takes" in scenario and not WRAPPER:
            low, high = (float(x) for x in scenario["takes"].split("-"))
            if not low <= seconds <= high:
                wrong.append(f"took {seconds:.2f} s, expected {low}-{high} s")
        if "after-status" in scenario:
            after, _ = run(target, "-s", "sim", folder, env)
            last = after.stdout.replace(b"\r\n", b"\n").decode().rstrip("\n").split("\n")[-1]
            if last != "Connection Status: " + scenario["after-status"]:
                wrong.append(f"afterwards -s says {last!r}")
    return wrong


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the build folder")
    parser.add_argument("--wine", choices=sorted(WINE_LOADERS),
                        help="quorvel.exe of this Windows architecture, under Wine")
    parser.add_argument("--prepare", action="store_true", help="make the Wine prefixes")
    parser.add_argument("--stop", action="store_true", help="stop the Wine servers")
    parser.add_argument("--probe", action="store_true",
                        help="say whether this machine can run the build's programs")
    parser.add_argument("--version-info", metavar="FILEVERSION_EXE",
                        help="compare the version information with -V")
    parser.add_argument("--run", help="run a Windows program in the simulated service's prefix")
    parser.add_argument("--program", help="run the scenarios against this program, such as "
                        "an installed one, instead of the build's")
    parser.add_argument("--only", help="run the scenario of this name alone")
    parser.add_argument("--jobs", type=int, default=16)
    parser.add_argument("--valgrind", action="store_true",
                        help="run each program under test in valgrind's memcheck")
    parser.add_argument("scenarios", nargs="?")
    options = parser.parse_args()
    if options.valgrind:
        WRAPPER.extend(["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                        "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite"])
    if options.wine == "win32":
        reason = why_no_32bit()
        if reason:
            # CTest lists the case as skipped, not passed.
            print(f"this machine cannot run 32-bit programs: {reason}; "
                  "the 32-bit Windows tests that run a program are skipped")
            return 77
    if options.probe:
        return 0
    target = WineTarget(options.build, options.wine) if options.wine else PosixTarget(options.build)
    if options.program:
        target.program = os.path.abspath(options.program)
    if options.prepare:
        return target.prepare()
    if options.stop:
        return target.stop()
    if options.run:
        return target.run(options.run)
    if options.version_info:
        return target.version_info(options.version_info)

    scenarios = parse(options.scenarios)
    if options.only:
        scenarios = [s for s in scenarios if s["name"] == options.only]
        if not scenarios:
            sys.exit(f"no scenario named {options.only!r}")

    failed = passed = skipped = 0
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        for scenario, wrong in zip(scenarios, pool.map(lambda s: check(target, s), scenarios)):
            if wrong is None:
                skipped += 1
            elif wrong:
                failed += 1
                print(f"FAIL {scenario['name']} ({scenario['where']})")
                for what in wrong:
                    print("  " + what.replace("\n", "\n  "))
            else:
                passed += 1
                print(f"ok   {scenario['name']}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    if failed:
        return 1
    # Nothing ran on this platform: CTest counts that as skipped.
    return 77 if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
