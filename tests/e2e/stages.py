"""Readies a case before its run: each staging key of a scenario is one
function of the case and the key's value, in STAGES, in the order the runs
need them. A function readies the folder, the environment, the program or
the run under test (case["how"], see runs.run); it returns None, or a skip
reason or a failed result that ends the case there."""
import os
import re
import shutil
import stat

from runs import run


def skips(target, scenario):
    """Why the scenario cannot run on this target, or None."""
    if scenario.get("platform") not in (None, "windows" if target.windows else "posix"):
        return f"for {scenario['platform']} only"
    if scenario["library"] == "system" and not target.windows:
        return "only Windows has a system RAS library"
    if "vpn" in scenario and not target.native:
        return "only real Windows can make a VPN entry"
    return None


def new_case(target, scenario, folder, cleanup):
    """A case in its folder, with a state file of its own and the folder
    first on PATH, and how its run under test goes: the command-line "tail",
    RAS "library", "program", "launch" (a whole command line), more "env",
    "wrap" (in the target's wrapper), and as stages set them "timeout" (else 120 s),
    "interrupt" (when the output shows it), "alone" and "output"."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("RASSIM_")}
    env.pop("LD_LIBRARY_PATH", None)
    env["RASSIM_STATE"] = target.path(os.path.join(folder, "ras.state"))
    env["PATH"] = folder + os.pathsep + env.get("PATH", "")
    ledger = os.path.join(folder, "ledger")
    return {"target": target, "scenario": scenario, "folder": folder, "cleanup": cleanup,
            "env": env, "encoding": target.encoding, "ledger": ledger, "start_up": 0,
            "how": {"tail": scenario.get("args", ""), "library": scenario["library"],
                    "launch": scenario.get("launch"), "program": target.program, "wrap": True,
                    "env": {"RASSIM_LEDGER": target.path(ledger)}}}


def env(case, settings):
    for setting in settings:
        name, _, value = setting.partition("=")
        case["env"][name] = value


def state(case, text):
    # A state file as the service would never leave it; \n is a line end.
    with open(os.path.join(case["folder"], "ras.state"), "w", newline="") as f:
        f.write(text.replace("\\n", "\n"))


def book(case, lines):
    path = os.path.join(case["folder"], "phonebook.txt")
    with open(path, "w", encoding=case["target"].encoding) as f:
        f.write("\n".join(lines) + "\n")
    case["env"]["RASSIM_PHONEBOOK"] = case["target"].path(path)


def scripts(case, lines):
    """Commands for -c: each its name, exit code and the line it prints; a
    code of "wait" makes it wait 15 seconds after the line, then end with
    0, and "ignore" 4 seconds, then print the line again and end with 0."""
    for line in lines:
        name, code, text = (line.split(" ", 2) + [""])[:3]
        seconds, again = {"wait": (15, False), "ignore": (4, True)}.get(code, (0, False))
        code = "0" if seconds else code
        if case["target"].windows:
            echo = f"@echo {text}\r\n" if text else ""
            body = (echo + (f"@ping -n {seconds + 1} 127.0.0.1 > nul\r\n" if seconds else "")
                    + (echo if again else "") + f"@exit /b {code}\r\n")
            with open(os.path.join(case["folder"], name + ".bat"), "w", newline="") as f:
                f.write(body)
        else:
            path = os.path.join(case["folder"], name)
            echo = f"echo '{text}'\n" if text else ""
            with open(path, "w") as f:
                f.write("#!/bin/sh\n" + echo + (f"sleep {seconds}\n" if seconds else "")
                        + (echo if again else "") + f"exit {code}\n")
            os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    # Where a command ignores the interrupt, only the program gets it.
    case["how"]["alone"] = any(line.split(" ")[1] == "ignore" for line in lines)


def program(case, name):
    case["how"]["program"] = case["target"].helper(name)


def plants_seen(case, bin_dir):
    """The planting scenarios' positive control: whether the layout probe,
    beside the program, loading the RAS library by name and calling it, loads
    a plant: one says so on standard error, one that lacks the library's
    imports fails the load, a planted RASAPI32.DLL is where it comes from."""
    target = case["target"]
    probe = shutil.copy2(target.helper("layout"), bin_dir)
    done, _ = run(case, {"tail": "-u", "library": case["scenario"]["library"], "program": probe})
    loaded = re.search(r"^RASAPI32\.DLL from (.*?)\r?$", done.stdout.decode("latin-1"), re.M)
    return (b"planted DLL" in done.stderr or done.returncode != 0
            or bool(loaded) and loaded[1].lower().startswith(target.path(bin_dir).lower() + "\\"))


def plant(case, variant):
    """A library that would make itself known, where a search by name would
    find it: beside the program and in the current folder."""
    target, folder, library = case["target"], case["folder"], case["scenario"]["library"]
    bin_dir = os.path.join(folder, "bin")
    os.makedirs(bin_dir)
    case["how"]["program"] = shutil.copy2(case["how"]["program"], bin_dir)
    if variant == "imports":
        target.plant_imports(library, (bin_dir, folder))
    else:
        for place in (bin_dir, folder):
            shutil.copy2(target.variant(variant), os.path.join(place, "RASAPI32.DLL"))
    if not plants_seen(case, bin_dir):
        why = ("inconclusive: the RAS library, loaded by name from beside the plants, "
               "loads none of them here, so that the case could show nothing")
        # Only Wine's own library may be out of reach: it is not Windows'.
        return why if library == "system" and not target.native else {"wrong": [why]}
    return None


def vpn(case, name):
    case["target"].powershell(f"Add-VpnConnection -Name '{name}' -ServerAddress 127.0.0.1 "
                              "-TunnelType Sstp -AllUserConnection -Force")
    case["cleanup"].callback(case["target"].powershell,
                             f"Remove-VpnConnection -Name '{name}' -AllUserConnection -Force")


def before(case, tails):
    for tail in tails:
        done, _ = run(case, {"tail": tail})
        if done.returncode != 0:
            return {"wrong": [f"set-up run '{tail}' ended with {done.returncode}:\n"
                              + done.stdout.decode(errors="replace")]}
    return None


def folder(case, name):
    """A copy of the program in a folder of that name, started by its full
    path, in quotes, before the launch line; a quote in the name closes
    them there."""
    place = os.path.join(case["folder"], name.replace('"', ""))
    os.makedirs(place)
    how = case["how"]
    how["program"] = shutil.copy2(how["program"], place)
    started = case["target"].path(os.path.join(case["folder"], name,
                                               os.path.basename(how["program"])))
    how["launch"] = '"' + started + ("" if '"' in name else '"') + how["launch"]


def console(case, _):
    # What a console shows, the launcher writes as UTF-8.
    case["encoding"] = "utf-8"
    case["how"]["env"]["LAUNCH_CONSOLE"] = "1"


def takes(case, bounds):
    # A run that overstays its time is ended soon after, not left to hang.
    case["how"]["timeout"] = float(bounds.split("-")[1]) + 30
    # A busy machine starts programs slowly, Wine most of all: a timed run
    # may take as much longer as the program takes to start here and now.
    case["start_up"] = 0 if case["target"].wrapper else run(case, {"tail": "-V"})[1]


def interrupt(case, marker):
    case["how"]["interrupt"] = marker


def output(case, kind):
    how = case["how"]
    how["output"] = kind
    if kind == "none" and case["target"].windows:
        # As a service or a GUI parent starts it: no standard output at all.
        how["env"]["LAUNCH_NO_OUTPUT"] = "1"
        how["launch"] = f'"{case["target"].path(how["program"])}" {how["tail"]}'


STAGES = [("env", env), ("state", state), ("book", book), ("script", scripts),
          ("program", program), ("plant", plant), ("vpn", vpn), ("before", before),
          ("folder", folder), ("console", console), ("takes", takes),
          ("interrupt", interrupt), ("output", output)]
