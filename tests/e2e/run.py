#!/usr/bin/env python3
"""Runs the end-to-end scenarios against the built program.

Each scenario runs in a folder of its own, with a state file and phone book
of its own for the simulated RAS service, so that scenarios can run side by
side. The format of the scenario file is described at its top.
"""
import argparse
import concurrent.futures
import contextlib
import errno
import os
import random
import re
import shutil
import signal
import stat
import string
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

KEYS = {"env", "state", "launch", "folder", "console", "interrupt", "platform", "library",
        "program", "plant", "vpn", "book", "before", "args", "script", "exit", "after-status",
        "takes", "ledger", "output"}

# {W|V}: what real Windows prints, then what Wine prints. In W, #N is the
# system's own text for error N; #* that of any error but 632 (a record of
# the wrong size), and #*-N excludes N too.
ALTERNATIVE = re.compile(r"\{([^{}]*\|[^{}]*)\}")
WINDOWS_SIDE = re.compile(r"#\d+|#\*(-\d+)*|[^#]*")


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
            # A checkout on Windows may end each line with CRLF.
            line = raw.removesuffix("\n").removesuffix("\r")
            where = f"{path}:{number}"
            if line.startswith("[@") and line.endswith("]"):
                # A block of output that scenarios take in with "@name".
                current = {"stdout": ""}
                blocks[line[2:-1]] = current
            elif line.startswith("@"):
                current["stdout"] = (current["stdout"] or "") + blocks[line[1:]]["stdout"]
            elif line.startswith("[") and line.endswith("]"):
                current = {"name": line[1:-1], "where": where, "book": [], "before": [],
                           "script": [], "env": [], "ledger": [], "stdout": None,
                           "library": "sim", "exit": "0"}
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
                if key in ("book", "before", "script", "env", "ledger"):
                    current[key].append(value)
                else:
                    current[key] = value
    for scenario in scenarios:
        for found in ALTERNATIVE.finditer(scenario["stdout"] or ""):
            sides = found.group(1).split("|")
            if scenario["library"] != "system" or len(sides) != 2 \
                    or not WINDOWS_SIDE.fullmatch(sides[0]):
                sys.exit(f"{scenario['where']}: {found.group(0)} must be {{W|V}} in a "
                         "library: system scenario, W being text, #N, #* or #*-N")
    return scenarios


def write_script(folder, line, windows):
    """A command for -c: its name, exit code and the line it prints; a code
    of "wait" makes it wait 15 seconds after the line, then end with 0, and
    "ignore" 4 seconds, then print the line again and end with 0."""
    parts = line.split(" ", 2)
    name, code, text = parts[0], parts[1], parts[2] if len(parts) > 2 else ""
    seconds, again = {"wait": (15, False), "ignore": (4, True)}.get(code, (0, False))
    if seconds:
        code = "0"
    if windows:
        echo = f"@echo {text}\r\n" if text else ""
        body = (echo + (f"@ping -n {seconds + 1} 127.0.0.1 > nul\r\n" if seconds else "")
                + (echo if again else "") + f"@exit /b {code}\r\n")
        with open(os.path.join(folder, name + ".bat"), "w", newline="") as f:
            f.write(body)
    else:
        path = os.path.join(folder, name)
        echo = f"echo '{text}'\n" if text else ""
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + echo + (f"sleep {seconds}\n" if seconds else "")
                    + (echo if again else "") + f"exit {code}\n")
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


ENTRY_POINTS = ["RasEnumConnectionsA", "RasGetConnectStatusA", "RasHangUpA", "RasDialA",
                "RasGetErrorStringA"]


def pe_file(path):
    """A PE file's machine, and the names of the DLLs it imports, at load
    time and delay-loaded."""
    with open(path, "rb") as f:
        data = f.read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, header + 4)
    optional = header + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise ValueError(f"{path}: no section holds {rva:#x}")

    names = []
    # The import directory's records of 20 bytes, the name at 12; the delay
    # import directory's of 32, the name at 4.
    for index, size, name_at in ((1, 20, 12), (13, 32, 4)):
        rva = struct.unpack_from("<I", data, directories + 8 * index)[0]
        record = offset(rva) if rva else None
        while record is not None and any(data[record:record + size]):
            name = offset(struct.unpack_from("<I", data, record + name_at)[0])
            names.append(data[name:data.index(b"\0", name)].decode("ascii"))
            record += size
    return machine, names


class PosixTarget:
    """The Linux build: the library beside the program is the one it loads."""
    windows = False
    native = False
    encoding = "utf-8"

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, "quorvel")

    def path(self, path):
        return path

    def start(self, library, folder, env, program):
        if library == "sim":
            return [program]
        # A copy of the program in a folder of its own finds the library
        # put beside it, or none at all.
        bin_dir = os.path.join(folder, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        program = shutil.copy2(program, bin_dir)
        if library != "none":
            shutil.copy2(os.path.join(self.build, "variants", library, "librasapi32.so"), bin_dir)
        return [program]


# Wine's own loaders. /usr/bin/wine picks the 32-bit one whenever it is
# installed, even for a 64-bit program, so each is called directly.
WINE_LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}


def wine_env(env, prefix, arch):
    """Sets what Wine needs to run programs of `arch` in the prefix folder."""
    # LC_ALL: Wine reads the environment, the launcher's command line among
    # it, in the locale's character set.
    env.update(WINEPREFIX=os.path.abspath(prefix), WINEARCH=arch, WINELOADER=WINE_LOADERS[arch],
               WINEDEBUG="-all", LC_ALL="C.UTF-8")
    return env


def printed_version(stdout):
    """The versions of the banner and of the -V line in -V's output, or None."""
    printed = re.fullmatch(r"\nquorvel v(.*)\n\n  Version: '(.*)'\n", stdout.replace("\r\n", "\n"))
    return printed.groups() if printed else None


def why_no_32bit():
    """Why this machine cannot run 32-bit programs, or None when it can.
    Only the kernel refusing to start Wine's 32-bit loader counts: a missing
    loader or a broken prefix is left to fail where it is used.
    QUORVEL_NO_32BIT=1 makes the answer "cannot", to try that path; any
    other text in it gives the reason too."""
    chosen = os.environ.get("QUORVEL_NO_32BIT")
    if chosen:
        return "QUORVEL_NO_32BIT=1 is set" if chosen == "1" else chosen
    loader = WINE_LOADERS["win32"]
    try:
        subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return f"starting {loader} fails with {e.strerror}"
    return None


class WindowsTarget:
    """What quorvel.exe's runs share under Wine and on Windows itself."""
    windows = True
    # The ANSI code page of Wine's default locale and of the runners' US
    # English Windows.
    encoding = "cp1252"

    def helper(self, name):
        """A program built beside quorvel.exe for the tests, e.g. layout."""
        return os.path.join(self.build, name + ".exe")

    def variant(self, name, dll="rasapi32.dll"):
        """A DLL of the build's variants/, by default the RAS library."""
        return os.path.join(self.build, "variants", name, dll)

    def plant_imports(self, library, places):
        """The helper that makes itself known, under the name of each DLL
        that the RAS library of the run imports, in each place."""
        for name in self.imports(library):
            for place in places:
                shutil.copy2(self.variant("planted", "rashelp.dll"), os.path.join(place, name))


class WineTarget(WindowsTarget):
    """quorvel.exe under Wine, 32-bit or 64-bit as the build is. The program
    loads RASAPI32.DLL from the system folder only, so each library lives in
    a Wine prefix of its own: "sim" and "no-<EntryPoint>" hold the simulated
    service, "hostile" the hostile library, "none" no RAS library, and "base",
    for "system", keeps Wine's own."""
    native = False
    PREFIXES = ["sim", "none", "hostile", "imports"] + ["no-" + e for e in ENTRY_POINTS]

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

    def use_library(self, env, library):
        # Native first for Wine's own library too, so that a RASAPI32.DLL
        # planted where a search by name would find it is taken, should the
        # program ever search.
        if library == "system":
            return self.use_prefix(env, "base", "n,b")
        return self.use_prefix(env, library)

    def start(self, library, folder, env, program):
        self.use_library(env, library)
        return [self.loader, program]

    def launch(self, command_line, env, library, program):
        env["LAUNCH_COMMAND_LINE"] = command_line
        self.use_library(env, library)
        return [self.loader, self.helper("launch"), self.path(program)]

    def alternative(self, windows, wine):
        return re.escape(wine)

    def library_of(self, prefix):
        return os.path.join(self.build, "rasapi32.dll") if prefix == "sim" else self.variant(prefix)

    def imports(self, library):
        if library == "system":
            return pe_file(os.path.join(self.wine, "base", "drive_c", "windows", "system32",
                                        "rasapi32.dll"))[1]
        # A library of ours: the helpers built beside it, one of which it
        # loads by name, as a delay-loaded import is.
        folder = os.path.dirname(self.library_of(library))
        return [f for f in os.listdir(folder) if f.endswith(".dll") and f != "rasapi32.dll"]

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
                for helper in self.imports(prefix) if prefix != "sim" else []:
                    shutil.copy2(os.path.join(os.path.dirname(self.library_of(prefix)), helper),
                                 os.path.dirname(dll))
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


def error_texts(get):
    """The text that RasGetErrorStringA (get) gives for each error code it
    has one for, read as the program reads it: 256 bytes, and where those
    give none, as for the longer texts, which it refuses to cut short,
    1,536, room for the longest, 512 characters, in any code page."""
    import ctypes
    texts = {}
    for code in range(1, 20000):
        for size in (256, 1536):
            buffer = ctypes.create_string_buffer(size)
            if get(code, buffer, size) == 0 and buffer.value:
                texts[code] = buffer.value.decode("latin-1")
                break
    return texts


class NativeTarget(WindowsTarget):
    """quorvel.exe run directly on Windows, against the machine's own RAS
    library: only the library: system scenarios hold there. The build
    folder holds the test programs (launch.exe, layout.exe) and the
    hostile library under variants/."""
    native = True

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, "quorvel.exe")
        self.texts = None

    def path(self, path):
        return path

    def start(self, library, folder, env, program):
        return [program]

    def launch(self, command_line, env, library, program):
        env["LAUNCH_COMMAND_LINE"] = command_line
        return [self.helper("launch"), program]

    def imports(self, library):
        # The library of the program's own kind: 32-bit (i386) from SysWOW64.
        folder = "SysWOW64" if pe_file(self.program)[0] == 0x14C else "System32"
        return pe_file(os.path.join(os.environ["SystemRoot"], folder, "rasapi32.dll"))[1]

    def error_texts(self):
        if self.texts is None:
            import ctypes
            self.texts = error_texts(ctypes.windll.rasapi32.RasGetErrorStringA)
        return self.texts

    def alternative(self, windows, wine):
        if not windows.startswith("#"):
            return re.escape(windows)
        texts = self.error_texts()
        if windows[1] != "*":
            if int(windows[1:]) not in texts:
                raise LookupError(f"the system has no text for error {windows[1:]}")
            return re.escape(texts[int(windows[1:])])
        excluded = {632} | {int(n) for n in windows[3:].split("-") if n}
        return "(?:" + "|".join(re.escape(text) for code, text in texts.items()
                                if code not in excluded) + ")"

    def powershell(self, command):
        subprocess.run(["powershell", "-NoProfile", "-NonInteractive", "-Command", command],
                       check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


# Put before the run under test, e.g. valgrind; set by --valgrind.
WRAPPER = []


# Starts a program with SIGINT's default action, whatever the runner's own.
DEFAULT_SIGINT = [sys.executable, "-c", "import os, signal, sys; "
                  "signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])"]


def interrupted(target, command, folder, env, marker, timeout, alone):
    """Runs the command and interrupts it two seconds after its output shows
    the marker, as Ctrl+C would: SIGINT to its process group, which Wine
    delivers to each console process as CTRL_C_EVENT; on Windows a line to
    the launcher, which sends its program's process group CTRL_BREAK_EVENT.
    With alone, SIGINT goes to the program alone: its command ignores the
    interrupt, as under Wine none can, whose cmd.exe ends at Ctrl+C even
    while its command runs on (Windows' waits for the command)."""
    native = target.native
    process = subprocess.Popen(command if native else DEFAULT_SIGINT + command, cwd=folder,
                               env=env, stdin=subprocess.PIPE if native else subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=not native)
    seen = b""
    while marker.encode() not in seen:
        piece = os.read(process.stdout.fileno(), 4096)
        if not piece:
            break
        seen += piece
    # A moment for the command to settle into its wait (Wine can hang a
    # process that the signal finds starting another, and fail one that it
    # finds in a file operation), and past the second after a command in
    # which the program still leaves an interrupt to the command.
    time.sleep(2)
    if native:
        process.stdin.write(b"\n")
        process.stdin.flush()
    else:
        (os.kill if alone else os.killpg)(process.pid, signal.SIGINT)
    try:
        rest, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        if native:
            process.kill()
        else:
            os.killpg(process.pid, signal.SIGKILL)
        raise
    return subprocess.CompletedProcess(command, process.returncode, seen + rest, err)


# Wine itself, on a busy machine, now and then loses the whole output of a
# process (seen with a C program of two lines too, about once in 10,000
# starts) or fails in its own client ("wine client error:"). A case in which a
# run showed either is checked once more, from the start: a fault of the
# program's shows again.
wine_signs = threading.local()


def note_wine_signs(target, done):
    if isinstance(target, WineTarget) and (
            not done.stdout or re.search(rb"^wine(?: client error|: )", done.stderr, re.M)):
        wine_signs.seen = True


def check_once_more(target, scenario):
    """check, and where the case failed after a sign of Wine's own fault,
    check again; what the first try said is kept beside the result. A case
    that raises fails with its exception, and the other cases still run."""
    def attempt():
        try:
            return check(target, scenario)
        except Exception:
            return {"wrong": ["raised " + traceback.format_exc().rstrip()]}
    wine_signs.seen = False
    result = attempt()
    if isinstance(result, dict) and result["wrong"] and wine_signs.seen:
        first = result["wrong"]
        result = attempt()
        if isinstance(result, dict):
            result["again"] = first
    return result


def run(target, tail, library, folder, env, launch=None, program=None, wrap=False, timeout=120,
        interrupt=None, alone=False, output=None):
    env = dict(env)
    program = program or target.program
    if interrupt is not None and target.native:
        env["LAUNCH_INTERRUPT"] = "1"
        launch = subprocess.list2cmdline([program]) + (" " + tail if tail else "")
    if '"' in tail and isinstance(target, WineTarget) and launch is None:
        # Wine would escape the quotes of an argument vector: the line goes
        # as typed, as Windows itself hands it over.
        launch = subprocess.list2cmdline([target.path(program)]) + " " + tail
    if output == "none" and target.windows:
        # As a service or a GUI parent starts it: no standard output at all.
        env["LAUNCH_NO_OUTPUT"] = "1"
        launch = subprocess.list2cmdline([target.path(program)]) + (" " + tail if tail else "")
    if launch is not None:
        command = target.launch(launch, env, library, program)
    elif target.native:
        # Windows hands a program one command line: the tail goes as it is.
        command = subprocess.list2cmdline(target.start(library, folder, env, program)) \
            + (" " + tail if tail else "")
    else:
        command = target.start(library, folder, env, program) + (tail.split(" ") if tail else [])
    if wrap and WRAPPER:
        command = WRAPPER + command
    if output == "none" and not target.windows:
        command = ["sh", "-c", 'exec "$@" >&-', "sh"] + command
    # A program copied a moment ago cannot be started while another case's
    # child, between its fork and its exec, still holds the copy open: the
    # start is tried again.
    for attempt in range(50):
        start = time.monotonic()
        try:
            if interrupt is not None:
                done = interrupted(target, command, folder, env, interrupt, timeout, alone)
            else:
                with open("/dev/full", "wb") if output == "full" else contextlib.nullcontext(
                        subprocess.PIPE) as stdout:
                    done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                          stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
                done.stdout = done.stdout or b""
            note_wine_signs(target, done)
            return done, time.monotonic() - start
        except OSError as e:
            if e.errno != errno.ETXTBSY or attempt == 49:
                raise
            time.sleep(0.1)


def plants_seen(target, library, folder, bin_dir, env):
    """The planting scenarios' positive control: whether the layout probe,
    beside the program, loading the RAS library by name and calling it, loads
    a plant: one says so on standard error, one that lacks the library's
    imports fails the load, a planted RASAPI32.DLL is where it comes from."""
    probe = shutil.copy2(target.helper("layout"), bin_dir)
    done, _ = run(target, "-u", library, folder, env, program=probe)
    loaded = re.search(r"^RASAPI32\.DLL from (.*?)\r?$", done.stdout.decode("latin-1"), re.M)
    return (b"planted DLL" in done.stderr or done.returncode != 0
            or bool(loaded) and loaded[1].lower().startswith(target.path(bin_dir).lower() + "\\"))


def passwords_in(tail):
    words = tail.split(" ")
    return [words[i + 1] for i, w in enumerate(words[:-1]) if w == "-p" and words[i + 1]]


def expected_pattern(expected, target, encoding):
    """The expected output as a pattern, each {W|V} resolved for the target;
    a LookupError when the system lacks a text it names."""
    expected = expected.encode(encoding).decode("latin-1")
    pieces, last = [], 0
    for found in ALTERNATIVE.finditer(expected):
        windows, wine = found.group(1).split("|")
        pieces += [re.escape(expected[last:found.start()]), target.alternative(windows, wine)]
        last = found.end()
    return "".join(pieces) + re.escape(expected[last:])


def ledger_faults(path, exit_code, expected, interrupted):
    """What is wrong with what the RAS library noted of the run: every load
    released before the process ends (a fatal end may leave the library
    loaded, and so may an interrupt), no end right after a hang-up
    request, and exactly the lines expected, where the scenario lists
    them."""
    noted = open(path).read().splitlines() if os.path.exists(path) else []
    loads, releases, ends = (noted.count(event) for event in
                             ("load", "release", "end of process, still loaded"))
    wrong = []
    if loads != releases + ends or (exit_code == 0 and ends and not interrupted):
        wrong.append(f"the library was loaded {loads} times, released {releases} times and "
                     f"still loaded {ends} times when the process ended")
    if "end of process within 3 s of a hang-up request" in noted:
        wrong.append("the process ended within 3 s of a hang-up request")
    if expected and noted != expected:
        wrong.append("the ledger differs:\n--- expected\n" + "\n".join(expected)
                     + "\n--- got\n" + "\n".join(noted))
    return wrong


def skips(target, scenario):
    """Why the scenario cannot run on this target, or None."""
    if scenario.get("platform") not in (None, "windows" if target.windows else "posix"):
        return f"for {scenario['platform']} only"
    if scenario["library"] == "system" and not target.windows:
        return "only Windows has a system RAS library"
    if "vpn" in scenario and not target.native:
        return "only real Windows can make a VPN entry"
    return None


def check(target, scenario):
    """Runs one scenario: the reason it was skipped, or what it printed,
    its exit code, how long it took and the list of what went wrong."""
    skipped = skips(target, scenario)
    if skipped:
        return skipped
    with tempfile.TemporaryDirectory(prefix="quorvel-e2e-") as folder, \
            contextlib.ExitStack() as cleanup:
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
            with open(book, "w", encoding=target.encoding) as f:
                f.write("\n".join(scenario["book"]) + "\n")
            env["RASSIM_PHONEBOOK"] = target.path(book)
        for script in scenario["script"]:
            write_script(folder, script, target.windows)
        program = target.helper(scenario["program"]) if "program" in scenario else target.program
        if "plant" in scenario:
            # A library that would make itself known, where a search by name
            # would find it: beside the program and in the current folder.
            bin_dir = os.path.join(folder, "bin")
            os.makedirs(bin_dir)
            program = shutil.copy2(program, bin_dir)
            if scenario["plant"] == "imports":
                target.plant_imports(scenario["library"], (bin_dir, folder))
            else:
                for place in (bin_dir, folder):
                    shutil.copy2(target.variant(scenario["plant"]),
                                 os.path.join(place, "RASAPI32.DLL"))
            if not plants_seen(target, scenario["library"], folder, bin_dir, env):
                why = ("inconclusive: the RAS library, loaded by name from beside the plants, "
                       "loads none of them here, so that the case could show nothing")
                # Only Wine's own library may be out of reach: it is not Windows'.
                return why if scenario["library"] == "system" and not target.native \
                    else {"wrong": [why]}
        if "vpn" in scenario:
            name = scenario["vpn"]
            target.powershell(f"Add-VpnConnection -Name '{name}' -ServerAddress 127.0.0.1 "
                              "-TunnelType Sstp -AllUserConnection -Force")
            cleanup.callback(target.powershell,
                             f"Remove-VpnConnection -Name '{name}' -AllUserConnection -Force")
        for tail in scenario["before"]:
            done, _ = run(target, tail, "sim", folder, env)
            if done.returncode != 0:
                return {"wrong": [f"set-up run '{tail}' ended with {done.returncode}:\n"
                                  + done.stdout.decode(errors="replace")]}

        launch = scenario.get("launch")
        if "folder" in scenario:
            # A copy of the program in a folder of that name, started by its
            # full path, in quotes, before the launch line; a quote in the
            # name closes them there.
            name = scenario["folder"]
            place = os.path.join(folder, name.replace('"', ""))
            os.makedirs(place)
            program = shutil.copy2(program, place)
            started = target.path(os.path.join(folder, name, os.path.basename(program)))
            launch = '"' + started + ('' if '"' in name else '"') + launch
        tail = scenario.get("args", "")
        ledger = os.path.join(folder, "ledger")
        encoding = target.encoding
        if "console" in scenario:
            # What a console shows, the launcher writes as UTF-8.
            encoding = "utf-8"
            env["LAUNCH_CONSOLE"] = "1"
        # A run that overstays its time is ended soon after, not left to hang.
        timeout = float(scenario["takes"].split("-")[1]) + 30 if "takes" in scenario else 120
        # A busy machine starts programs slowly, Wine most of all: a timed run
        # may take as much longer as the program takes to start here and now.
        start_up = run(target, "-V", "sim", folder, env)[1] \
            if "takes" in scenario and not WRAPPER else 0
        try:
            done, seconds = run(target, tail, scenario["library"], folder,
                                dict(env, RASSIM_LEDGER=target.path(ledger)),
                                launch, program, wrap=True, timeout=timeout,
                                interrupt=scenario.get("interrupt"),
                                alone=any(s.split(" ")[1] == "ignore" for s in scenario["script"]),
                                output=scenario.get("output"))
        except subprocess.TimeoutExpired:
            return {"wrong": [f"did not end within {timeout:.0f} s"]}
        wrong = ledger_faults(ledger, done.returncode, scenario["ledger"], "interrupt" in scenario)
        stdout = done.stdout.replace(b"\r\n", b"\n")
        expected = scenario["stdout"]
        try:
            if expected is not None and not re.fullmatch(expected_pattern(expected, target, encoding),
                                                         stdout.decode("latin-1")):
                wrong.append("standard output differs:\n--- expected\n" + expected
                             + "\n--- got\n" + stdout.decode(errors="replace"))
        except LookupError as e:
            wrong.append(str(e))
        if str(done.returncode) != scenario["exit"]:
            wrong.append(f"exit code {done.returncode}, expected {scenario['exit']}")
        if done.stderr:
            wrong.append("standard error: " + done.stderr.decode(errors="replace"))
        for password in passwords_in(tail or launch or ""):
            if password.encode() in done.stdout or password.encode() in done.stderr:
                wrong.append("the password reached the output")
        if "takes" in scenario and not WRAPPER:
            low, high = (float(x) for x in scenario["takes"].split("-"))
            if not low <= seconds <= high + start_up:
                wrong.append(f"took {seconds:.2f} s, expected {low}-{high} s "
                             f"and {start_up:.2f} s to start")
        if "after-status" in scenario:
            library = "system" if scenario["library"] == "system" else "sim"
            after, _ = run(target, "-s", library, folder, env)
            last = after.stdout.replace(b"\r\n", b"\n").decode().rstrip("\n").split("\n")[-1]
            if last != "Connection Status: " + scenario["after-status"]:
                wrong.append(f"afterwards -s says {last!r}")
    return {"wrong": wrong, "stdout": stdout, "exit": done.returncode, "seconds": seconds}


def report(f, scenario, result):
    """What a case printed, exit code and time, for a reader of the
    machine's real texts (Markdown), written as soon as the case ends."""
    f.write(f"### {scenario['name']}\n\n")
    if isinstance(result, str):
        f.write(f"skipped: {result}\n\n")
    else:
        if "stdout" in result:
            text = result["stdout"].decode("latin-1")
            f.write(f"exit code {result['exit']}, {result['seconds']:.1f} s"
                    + ("" if text.endswith("\n") else ", no line end after the last line")
                    + "\n\n```\n" + text + ("" if text.endswith("\n") else "\n")
                    + "```\n\n")
        for what in result["wrong"]:
            f.write("FAILED: " + what.replace("\n", "\n    ") + "\n\n")
    f.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the build folder")
    parser.add_argument("--wine", choices=sorted(WINE_LOADERS),
                        help="quorvel.exe of this Windows architecture, under Wine")
    parser.add_argument("--native", action="store_true",
                        help="on Windows: quorvel.exe run directly, against the system's own "
                        "RAS library, in the library: system scenarios alone, one at a time")
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
    parser.add_argument("--report", help="write what each case printed to this file (Markdown)")
    parser.add_argument("scenarios", nargs="?")
    options = parser.parse_args()
    # A pipe on Windows takes the ANSI code page, strictly: what it cannot
    # hold is written escaped rather than raising.
    sys.stdout.reconfigure(errors="backslashreplace")
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
    if options.native and sys.platform != "win32":
        print(f"run.py: --native runs quorvel.exe directly and needs Windows, not {sys.platform}; "
              "here use --wine")
        return 2
    if options.native:
        target = NativeTarget(options.build)
    elif options.wine:
        target = WineTarget(options.build, options.wine)
    else:
        target = PosixTarget(options.build)
    if options.program:
        target.program = os.path.abspath(options.program)
    if options.native:
        # On Windows nothing may pass by being absent.
        missing = [f for f in (target.program, target.helper("launch"), target.helper("layout"),
                               target.variant("hostile"), target.variant("planted", "rashelp.dll"))
                   if not os.path.isfile(f)]
        if missing:
            print("missing: " + ", ".join(missing))
            return 1
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

    if options.native:
        # The system's connections are shared: one case at a time, so that
        # a dial in progress never shows in another case's listing.
        scenarios = [s for s in scenarios if s["library"] == "system"]
        options.jobs = 1

    failed = passed = skipped = 0
    with contextlib.ExitStack() as stack:
        written = stack.enter_context(open(options.report, "w", encoding="utf-8")) \
            if options.report else None
        pool = stack.enter_context(concurrent.futures.ThreadPoolExecutor(options.jobs))
        for scenario, result in zip(scenarios,
                                    pool.map(lambda s: check_once_more(target, s), scenarios)):
            if written:
                report(written, scenario, result)
            if isinstance(result, str):
                skipped += 1
                print(f"skip {scenario['name']}: {result}")
            elif result["wrong"]:
                failed += 1
                print(f"FAIL {scenario['name']} ({scenario['where']})")
                for what in result["wrong"]:
                    print("  " + what.replace("\n", "\n  "))
            else:
                passed += 1
                print(f"ok   {scenario['name']}")
            if isinstance(result, dict) and "again" in result:
                print("  checked again after a sign of Wine's own fault; the first try said:\n    "
                      + "\n".join(result["again"]).replace("\n", "\n    "))
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    if failed:
        return 1
    if options.native and (skipped or not passed):
        print("on Windows every case must run, and at least one must")
        return 1
    # Nothing ran on this platform: CTest counts that as skipped.
    return 77 if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
