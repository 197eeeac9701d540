#!/usr/bin/env python3
"""Runs the end-to-end scenarios against the built program.

Each scenario runs in a folder of its own, with a state file and phone book
of its own for the simulated RAS service, so that scenarios can run side by
side. The language of the scenario file is described at its top and read by
scenarios.py; where the programs run is targets.py; a case is readied by
stages.py, run by runs.py and compared by checks.py.
"""
import argparse
import concurrent.futures
import contextlib
import os
import subprocess
import sys
import tempfile
import traceback

import runs
from checks import CHECKS
from scenarios import parse
from stages import STAGES, new_case, skips
from targets import NativeTarget, PosixTarget, WINE_LOADERS, WineTarget, why_no_32bit


def check(target, scenario):
    """Runs one scenario: the reason it was skipped, or what it printed,
    its exit code, how long it took and the list of what went wrong."""
    if "error" in scenario:
        return {"wrong": [scenario["error"]]}
    skipped = skips(target, scenario)
    if skipped:
        return skipped
    with tempfile.TemporaryDirectory(prefix="quorvel-e2e-") as folder, \
            contextlib.ExitStack() as cleanup:
        case = new_case(target, scenario, folder, cleanup)
        for key, stage in STAGES:
            ended = stage(case, scenario[key]) if key in scenario else None
            if ended is not None:
                return ended
        try:
            done, seconds = runs.run(case, case["how"])
        except subprocess.TimeoutExpired:
            return {"wrong": [f"did not end within {case['how'].get('timeout', 120):.0f} s"]}
        ran = {"done": done, "seconds": seconds, "stdout": done.stdout.replace(b"\r\n", b"\n")}
        wrong = [what for compare in CHECKS for what in compare(case, ran)]
    return {"wrong": wrong, "stdout": ran["stdout"], "exit": done.returncode, "seconds": seconds}


def check_once_more(target, scenario):
    """check, and where the case failed after a sign of Wine's own fault,
    check again; what the first try said is kept beside the result. A case
    that raises fails with its exception, and the other cases still run."""
    def attempt():
        try:
            return check(target, scenario)
        except Exception:
            return {"wrong": ["raised " + traceback.format_exc().rstrip()]}
    runs.wine_signs.seen = False
    result = attempt()
    if isinstance(result, dict) and result["wrong"] and runs.wine_signs.seen:
        first = result["wrong"]
        result = attempt()
        if isinstance(result, dict):
            result["again"] = first
    return result


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
    if options.valgrind:
        target.wrapper = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                          "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite"]
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
