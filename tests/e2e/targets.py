"""Where a program under test runs: the Linux build (POSIX), quorvel.exe
under Wine, and quorvel.exe on Windows itself (native); the Wine prefixes,
whether this machine runs 32-bit programs, and the system's error texts.
The runner and tests/windows/check_release.py use it. Nothing here but
pefile, read where a PE file is, needs more than Python itself, so that the
package checks run on a bare Windows."""
import errno
import os
import re
import shutil
import subprocess

ENTRY_POINTS = ["RasEnumConnectionsA", "RasGetConnectStatusA", "RasHangUpA", "RasDialA",
                "RasGetErrorStringA"]

# Wine's own loaders. /usr/bin/wine picks the 32-bit one whenever it is
# installed, even for a 64-bit program, so each is called directly.
WINE_LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def pe_file(path):
    """A PE file's machine, and the names of the DLLs it imports, at load
    time and delay-loaded."""
    import pefile
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{kind}IMPORT"]
                               for kind in ("", "DELAY_")])
    imported = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) \
        + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return pe.FILE_HEADER.Machine, [entry.dll.decode("ascii") for entry in imported]


def wine_env(env, prefix, arch):
    """Sets what Wine needs to run programs of `arch` in the prefix folder."""
    # LC_ALL: Wine reads the environment, the launcher's command line among
    # it, in the locale's character set.
    env.update(WINEPREFIX=os.path.abspath(prefix), WINEARCH=arch, WINELOADER=WINE_LOADERS[arch],
               WINEDEBUG="-all", LC_ALL="C.UTF-8")
    return env


def why_no_32bit():
    """Why this machine cannot run 32-bit programs, or None when it can: the
    kernel refusing to start Wine's 32-bit loader, or the loader missing
    (wine32 not installed). On the forge every check must run: there a
    missing loader ends the caller in one line instead. QUORVEL_NO_32BIT=1
    makes the answer "cannot", to try that path; any other text in it gives
    the reason too."""
    chosen = os.environ.get("QUORVEL_NO_32BIT")
    if chosen:
        return "QUORVEL_NO_32BIT=1 is set" if chosen == "1" else chosen
    loader = WINE_LOADERS["win32"]
    try:
        subprocess.run([loader, "--version"], **QUIET)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return f"starting {loader} fails with {e.strerror}"
        if e.errno == errno.ENOENT:
            if os.environ.get("GITHUB_ACTIONS") == "true":
                raise SystemExit(f"{loader} is missing (wine32 is not installed): "
                                 "on the forge the 32-bit checks must run")
            return f"{loader} is missing (wine32 is not installed)"
    return None


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


def printed_version(stdout):
    """The versions of the banner and of the -V line in -V's output, or None."""
    printed = re.fullmatch(r"\nquorvel v(.*)\n\n  Version: '(.*)'\n", stdout.replace("\r\n", "\n"))
    return printed.groups() if printed else None


class Target:
    """What the runner asks of a place where programs run: start(library,
    folder, env, program, tail), the command that runs program with the
    command-line tail against the RAS library (sim, none, hostile,
    imports, no-<EntryPoint> or system) in folder, setting env as it
    needs; path(path), a path as the program names it; and for Windows
    launch, helper, variant and imports (see WindowsTarget)."""
    windows = native = wine_faults = False
    encoding = "utf-8"  # of the program's command line and output
    wrapper = []  # put before the command of a run under test, e.g. valgrind

    def __init__(self, build, program):
        self.build = os.path.abspath(build)
        self.program = os.path.join(self.build, program)

    def path(self, path):
        return path

    def alternative(self, windows, wine):
        """The pattern that {windows|wine} in expected output stands for."""
        raise LookupError("{W|V} holds on Windows only")

    def prepare(self):
        """Readies what the runs share; the exit code."""
        return 0

    def stop(self):
        return 0


class PosixTarget(Target):
    """The Linux build: the library beside the program is the one it loads."""

    def __init__(self, build):
        super().__init__(build, "quorvel")

    def start(self, library, folder, env, program, tail):
        if library != "sim":
            # A copy of the program in a folder of its own finds the library
            # put beside it, or none at all.
            bin_dir = os.path.join(folder, "bin")
            os.makedirs(bin_dir, exist_ok=True)
            program = shutil.copy2(program, bin_dir)
            if library != "none":
                shutil.copy2(os.path.join(self.build, "variants", library, "librasapi32.so"),
                             bin_dir)
        return [program] + (tail.split(" ") if tail else [])


class WindowsTarget(Target):
    """What quorvel.exe's runs share under Wine and on Windows itself. Each
    kind adds launch(command_line, env, library, program), the command that
    starts program through the launcher with exactly that command line;
    imports(library), the DLLs the RAS library imports, at load time or
    delayed."""
    windows = True
    # The ANSI code page of Wine's default locale and of the runners' US
    # English Windows.
    encoding = "cp1252"

    def __init__(self, build):
        super().__init__(build, "quorvel.exe")

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
    wine_faults = True
    PREFIXES = ["sim", "none", "hostile", "imports"] + ["no-" + e for e in ENTRY_POINTS]

    def __init__(self, build, arch):
        super().__init__(build)
        self.arch = arch
        self.loader = WINE_LOADERS[arch]
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

    def start(self, library, folder, env, program, tail):
        if '"' in tail:
            # Wine would escape the quotes of an argument vector: the line
            # goes as typed, as Windows itself hands it over.
            return self.launch(f'"{self.path(program)}" {tail}', env, library, program)
        self.use_library(env, library)
        return [self.loader, program] + (tail.split(" ") if tail else [])

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
            subprocess.run([self.loader, "wineboot", "-i"], env=env, check=True, **QUIET)
            subprocess.run(["wineserver", "-w"], env=env, check=True)
        for prefix in self.PREFIXES:
            self.make_prefix(base, prefix)
        for prefix in ["base"] + self.PREFIXES:
            env = self.use_prefix(dict(os.environ), prefix)
            # The server, and the background services that the first program
            # in a prefix starts, outlive this step: they must not hold its
            # output open. The server's start ends at once if one runs there.
            subprocess.run(["wineserver", "-p"], env=env, **QUIET)
            subprocess.run([self.loader, "cmd.exe", "/c", "exit"], env=env, **QUIET)
        return 0

    def make_prefix(self, base, prefix):
        """A copy of the base prefix with the library of that name in its
        system folder, and the helpers it imports beside it."""
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
        """Runs a Windows program in the simulated service's prefix."""
        env = self.use_prefix(dict(os.environ), "sim")
        return subprocess.run([self.loader, program], env=env).returncode


class NativeTarget(WindowsTarget):
    """quorvel.exe run directly on Windows, against the machine's own RAS
    library: only the library: system scenarios hold there. The build
    folder holds the test programs (launch.exe, layout.exe) and the
    hostile library under variants/."""
    native = True

    def __init__(self, build):
        super().__init__(build)
        self.texts = None

    def start(self, library, folder, env, program, tail):
        # Windows hands a program one command line: the tail goes as it is.
        return subprocess.list2cmdline([program]) + (" " + tail if tail else "")

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
