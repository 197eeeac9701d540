#!/usr/bin/env python3
"""The scenario language, case by case: the lines of a scenario file, and
what its last scenario reads as, or the start of its one-line error."""
import re
import sys

from scenarios import expected_pattern, read

CASES = [
    (["[a]", "|x  |", "|y||", "\\z"], {"stdout": "x  \ny|\nz"}),
    (["[a]", "|x "], "t:2: blanks at the end of the line count here"),
    (["[a]", "launch:  \\t-s |"], {"launch": " \t-s "}),
    (["[a]", "launch: -s "], "t:2: blanks at the end"),
    (["[@b]", "|x", "[a]", "@b", "|y"], {"stdout": "x\ny\n"}),
    (["[a]", "@b"], "t:2: no block [@b] above"),
    (["[@b]", "|x ", "[a]", "@b"], "t:4: @b: t:2: blanks at the end"),
    (["[a]", "tail: -s"], "t:2: unknown key 'tail'"),
    (["[a]", "-s"], "t:2: unknown line '-s'"),
    (["[a]", "|{6|0}"], "t:1: {6|0} must be {W|V} in a library: system scenario"),
    (["[a]", "library: system", "|{6|0}"], {"stdout": "{6|0}\n"}),
    (["[a]", "library: system", "|{#6#|0}"], "t:1: {#6#|0} must be"),
    (["[a]", "args: -n {1*3} -u {?*4}", "book: x", "book: y"],
     {"args": re.compile(r"-n 111 -u \w{4}"), "book": ["x", "y"], "exit": "0", "library": "sim"}),
    (["[a]", "stdout:"], {"stdout": ""}),
    (["[a]"], {"stdout": None}),
    (["[a]", "exit 1", "[b]", "exit: 1"], {"name": "b", "exit": "1"}),
]


def matches(scenario, expected):
    if isinstance(expected, str):
        return scenario.get("error", "").startswith(expected)
    return "error" not in scenario and all(
        want.fullmatch(scenario.get(k, "")) if isinstance(want, re.Pattern)
        else scenario.get(k) == want for k, want in expected.items())


def main():
    wrong = [f"{lines} reads as {read(lines, 't')[-1]}, expected {expected}"
             for lines, expected in CASES if not matches(read(lines, "t")[-1], expected)]
    # {W|V} resolved: the Windows side's #N by the system's text.
    if not re.fullmatch(expected_pattern("E: {#6|x}.", lambda w, v: "T" * (w == "#6"), "utf-8"),
                        "E: T."):
        wrong.append("{#6|x} does not resolve to the system's text for 6")
    print("\n".join(wrong) or f"{len(CASES) + 1} cases read as expected")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
