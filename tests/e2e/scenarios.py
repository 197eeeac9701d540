#!/usr/bin/env python3
"""The scenario language, described at the top of scenarios.txt: parsing
only. Run as a program, it lists the scenarios' names, one a line, for CMake."""
import random
import re
import string
import sys

# Each key: "list" gathers its lines, "one" takes one value, "line" one
# whose blanks count, \t a tab. A new key is a row here and one in the
# runner's stages or checks.
KEYS = {"env": "list", "book": "list", "before": "list", "script": "list", "ledger": "list",
        "state": "one", "launch": "line", "folder": "one", "console": "one", "interrupt": "one",
        "platform": "one", "library": "one", "program": "one", "plant": "one", "vpn": "one",
        "args": "one", "exit": "one", "after-status": "one", "takes": "one", "output": "one"}

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


def shown(text):
    """Blanks that end a line count only before a final |, which is dropped."""
    if text != text.rstrip(" \t") and not text.endswith("|"):
        raise ValueError("blanks at the end of the line count here: end it with | after them")
    return text.removesuffix("|")


def read_line(line, scenario, blocks):
    """Adds one line to the scenario; a ValueError says what is wrong with it."""
    key, sep, value = line.partition(":")
    if line.startswith("@"):
        if line[1:] not in blocks:
            raise ValueError(f"no block [{line}] above")
        if "error" in blocks[line[1:]]:
            raise ValueError(f"{line}: {blocks[line[1:]]['error']}")
        scenario["stdout"] = (scenario["stdout"] or "") + blocks[line[1:]]["stdout"]
    elif line[:1] in ("|", "\\"):
        # "|text" is a line of output; "\text" ends the output with no line
        # end after it.
        text = expand(shown(line[1:])) + ("\n" if line[0] == "|" else "")
        scenario["stdout"] = (scenario["stdout"] or "") + text
    elif line == "stdout:":
        scenario["stdout"] = scenario["stdout"] or ""
    elif not sep or key not in KEYS:
        raise ValueError(f"unknown key {key!r}" if sep else f"unknown line {line!r}")
    elif KEYS[key] == "list":
        scenario.setdefault(key, []).append(expand(value.strip()))
    else:
        scenario[key] = shown(value[1:]).replace("\\t", "\t") if KEYS[key] == "line" \
            else expand(value.strip())


def read(lines, path):
    """The scenarios of the lines of the file path, each a dict of its keys,
    "name", "where" (file and line) and "stdout" (None when not checked). A
    fault of a scenario or of a block it takes in is its "error", one line
    naming the place; the other scenarios stand."""
    scenarios, blocks, current = [], {}, None
    for number, line in enumerate(lines, 1):
        # A checkout on Windows may end each line with CRLF.
        line, where = line.removesuffix("\n").removesuffix("\r"), f"{path}:{number}"
        if line.startswith("[@") and line.endswith("]"):
            # A block of output that scenarios take in with "@name".
            current = blocks[line[2:-1]] = {"stdout": ""}
        elif line.startswith("[") and line.endswith("]"):
            current = {"name": line[1:-1], "where": where, "stdout": None, "library": "sim",
                       "exit": "0"}
            scenarios.append(current)
        elif not line.strip() or line.startswith("#"):
            continue
        elif current is None:
            sys.exit(f"{where}: text before the first scenario")
        elif "error" not in current:
            try:
                read_line(line, current, blocks)
            except ValueError as e:
                current["error"] = f"{where}: {e}"
    for scenario in scenarios:
        for found in ALTERNATIVE.finditer(scenario["stdout"] or ""):
            sides = found.group(1).split("|")
            if scenario["library"] != "system" or len(sides) != 2 \
                    or not WINDOWS_SIDE.fullmatch(sides[0]):
                scenario.setdefault("error", f"{scenario['where']}: {found.group(0)} must be "
                                    "{W|V} in a library: system scenario, W being text, #N, "
                                    "#* or #*-N")
    return scenarios


def parse(path):
    with open(path, encoding="utf-8", newline="\n") as f:
        return read(f, path)


def expected_pattern(expected, alternative, encoding):
    """The expected output as a pattern of the bytes (read as latin-1), each
    {W|V} resolved by alternative(W, V); a LookupError when the system lacks
    a text it names."""
    expected = expected.encode(encoding).decode("latin-1")
    pieces, last = [], 0
    for found in ALTERNATIVE.finditer(expected):
        windows, wine = found.group(1).split("|")
        pieces += [re.escape(expected[last:found.start()]), alternative(windows, wine)]
        last = found.end()
    return "".join(pieces) + re.escape(expected[last:])


if __name__ == "__main__":
    # CMake reads these lines as a list: a ; in a name would split it.
    print("\n".join(s["name"].replace(";", "\\;") for s in parse(sys.argv[1])))
