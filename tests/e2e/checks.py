"""Compares a case's run with its scenario: each check is one function of
the case and the run ({"done": the finished process, "stdout": its output
with CRLF as LF, "seconds"}) that returns what went wrong, in CHECKS."""
import os
import re

from runs import run
from scenarios import expected_pattern


def ledger(case, ran):
    """What the RAS library noted of the run: every load released before the
    process ends (a fatal end may leave the library loaded, and so may an
    interrupt), no end right after a hang-up request, and exactly the lines
    expected, where the scenario lists them."""
    scenario, path = case["scenario"], case["ledger"]
    noted = open(path).read().splitlines() if os.path.exists(path) else []
    loads, releases, ends = (noted.count(event) for event in
                             ("load", "release", "end of process, still loaded"))
    wrong = []
    if loads != releases + ends or (ran["done"].returncode == 0 and ends
                                    and "interrupt" not in scenario):
        wrong.append(f"the library was loaded {loads} times, released {releases} times and "
                     f"still loaded {ends} times when the process ended")
    if "end of process within 3 s of a hang-up request" in noted:
        wrong.append("the process ended within 3 s of a hang-up request")
    expected = scenario.get("ledger")
    if expected and noted != expected:
        wrong.append("the ledger differs:\n--- expected\n" + "\n".join(expected)
                     + "\n--- got\n" + "\n".join(noted))
    return wrong


def output(case, ran):
    expected = case["scenario"]["stdout"]
    if expected is None:
        return []
    try:
        pattern = expected_pattern(expected, case["target"].alternative, case["encoding"])
    except LookupError as e:
        return [str(e)]
    if re.fullmatch(pattern, ran["stdout"].decode("latin-1")):
        return []
    return ["standard output differs:\n--- expected\n" + expected
            + "\n--- got\n" + ran["stdout"].decode(errors="replace")]


def exit_code(case, ran):
    code, expected = ran["done"].returncode, case["scenario"]["exit"]
    return [] if str(code) == expected else [f"exit code {code}, expected {expected}"]


def stderr(case, ran):
    said = ran["done"].stderr
    return ["standard error: " + said.decode(errors="replace")] if said else []


def password(case, ran):
    how, done = case["how"], ran["done"]
    words = (how["tail"] or how["launch"] or "").split(" ")
    shown = [w for i, w in enumerate(words[1:]) if words[i] == "-p" and w
             and (w.encode() in done.stdout or w.encode() in done.stderr)]
    return ["the password reached the output"] * len(shown)


def timing(case, ran):
    if "takes" not in case["scenario"] or case["target"].wrapper:
        return []
    low, high = (float(x) for x in case["scenario"]["takes"].split("-"))
    if low <= ran["seconds"] <= high + case["start_up"]:
        return []
    return [f"took {ran['seconds']:.2f} s, expected {low}-{high} s "
            f"and {case['start_up']:.2f} s to start"]


def after_status(case, _):
    word = case["scenario"].get("after-status")
    if word is None:
        return []
    library = "system" if case["scenario"]["library"] == "system" else "sim"
    after, _ = run(case, {"tail": "-s", "library": library})
    last = after.stdout.replace(b"\r\n", b"\n").decode().rstrip("\n").split("\n")[-1]
    return [] if last == "Connection Status: " + word else [f"afterwards -s says {last!r}"]


CHECKS = [ledger, output, exit_code, stderr, password, timing, after_status]
