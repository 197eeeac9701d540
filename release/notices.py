#!/usr/bin/env python3
"""What quorvel.exe carries from others, read once from its link map:
notices.py MAP TRIPLET VERSION TITLE FOLDER writes FOLDER/components.json
(for the SBOM) and FOLDER/THIRD-PARTY-NOTICES.txt (CRLF).

A component is an archive or object file from outside the build that gave
the exe code, or libstdc++, whose headers the exe's own objects were
compiled from (their dependency files, beside them in the map's folder,
name the headers). For each: the Debian package that installed it, at the
version installed, and from that package's copyright file the stanzas that
cover the objects linked in, with their licenses as SPDX expressions."""
import fnmatch
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

MEMBERS = "Archive member included to satisfy reference by file (symbol)"
# Debian's short names of licenses that SPDX lists, and their SPDX ids;
# any other becomes a LicenseRef- with its text.
SPDX = {"ZPL-2.1": "ZPL-2.1", "BSD-3-clause": "BSD-3-Clause", "BSD-2-clause": "BSD-2-Clause",
        "ISC": "ISC", "expat": "MIT", "MIT": "MIT", "GPL-2+": "GPL-2.0-or-later",
        "GPL-3+": "GPL-3.0-or-later", "LGPL-2+": "LGPL-2.0-or-later",
        "LGPL-2.1+": "LGPL-2.1-or-later"}
# Copyright files that are not machine-readable, by source package: the
# license of what the link takes from them, and the parts of the file that
# state it, each from the line starting with the first text to the one
# starting with the second. A part that cannot be found means the whole file.
PLAIN = {"gcc-mingw-w64": ("GPL-3.0-or-later WITH GCC-exception-3.1",
                           [("GCC is Copyright", "The libbacktrace library"),
                            ("GCC RUNTIME LIBRARY EXCEPTION", "libquadmath/")])}
MEANING = {"GCC-exception-3.1": "GCC's runtime library exception means that these parts of "
           "GCC, compiled into quorvel.exe, put no GPL conditions on you: you may use, copy "
           "and pass on quorvel.exe under its own license."}


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode:
        sys.exit(f"notices: {' '.join(command)}: {done.stderr.strip()}")
    return done.stdout


def linked(text):
    """{path: set of members} of every file from outside the build that the
    link took objects from: archive members, and objects loaded whole
    (the start-up files). LTO's own output is the project's code."""
    found = {}
    if MEMBERS not in text:
        sys.exit("notices: the link map has no list of archive members")
    for line in text.split(MEMBERS, 1)[1].splitlines()[1:]:
        if re.match(r"[A-Z][a-z]+ ", line):
            break
        match = re.match(r"(/\S+?)\(([^()\s]+)\)", line)
        if match:
            found.setdefault(os.path.normpath(match[1]), set()).add(match[2])
    for path in re.findall(r"^LOAD (/\S+\.o)$", text, re.M):
        if not path.endswith(".ltrans.o"):
            found.setdefault(os.path.normpath(path), set()).add(os.path.basename(path))
    return found


def compiled(text, build):
    """The libstdc++ headers that the exe's own objects were compiled from.
    Its templates (std::string, std::vector) are compiled into the exe from
    them, so that no member of libstdc++.a shows in the map for them."""
    headers = set()
    for member in re.findall(r"^[^/\s]\S*?\.a\(([^()\s]+\.(?:c|cpp)\.obj)\)", text, re.M):
        found = glob.glob(os.path.join(glob.escape(build), "CMakeFiles", "*.dir", "**",
                                       glob.escape(member) + ".d"), recursive=True)
        if not found:
            sys.exit(f"notices: no dependency file of {member} in {build}; cannot tell the "
                     f"headers it was compiled from")
        for path in found:
            headers.update(os.path.normpath(h.rstrip(":"))
                           for h in re.findall(r"\S*/include/c\+\+/\S*", open(path).read()))
    return headers


def sources(triplet, archive, members):
    """{member: its source path as its debugging information names it, or
    None}. Import stubs and hand-made objects name none."""
    named = dict.fromkeys(members)
    with tempfile.TemporaryDirectory() as folder:
        if archive.endswith(".a"):
            subprocess.run([f"{triplet}-ar", "x", archive] + sorted(members), cwd=folder,
                           check=True)
        else:
            os.symlink(archive, os.path.join(folder, os.path.basename(archive)))
        info = subprocess.run([f"{triplet}-objdump", "--dwarf=info"] + sorted(members),
                              cwd=folder, capture_output=True, text=True, check=True).stdout
    for member, body in re.findall(r"^(\S+):\s+file format \S+$(.*?)(?=^\S+:\s+file format|\Z)",
                                   info, re.M | re.S):
        unit = body.find("DW_TAG_compile_unit")
        name = re.search(r"DW_AT_name\s*:(.*)$", body[unit:], re.M) if unit >= 0 else None
        if name:
            source = name[1].rsplit(": ", 1)[-1].strip()
            named[member] = source[2:] if source.startswith("./") else source
    return named


def paragraphs(path):
    """The copyright file's paragraphs: (text, {field: value})."""
    found = []
    for text in re.split(r"\n[ \t]*\n", open(path, encoding="utf-8").read().strip("\n")):
        fields, name = {}, None
        for line in text.splitlines():
            if line[:1] in (" ", "\t") and name:
                fields[name] += "\n" + line
            elif ":" in line:
                name, value = line.split(":", 1)
                fields[name] = value.strip()
        found.append((text, fields))
    return found


def expression(names):
    """An SPDX expression for a Debian license field's names."""
    words = [{"and": "AND", "or": "OR"}.get(word) or SPDX.get(word) or
             "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", word) for word in names.split()]
    return " ".join(words)


def machine_readable(path, named):
    """The notices of a DEP-5 copyright file for the objects linked in: for
    a source path, the last stanza whose patterns match it (as DEP-5 reads
    them); for an object whose source cannot be told, the stanza of every
    file no other names (Files: *), or else every stanza."""
    found = paragraphs(path)
    stanzas = [(text, fields) for text, fields in found if "Files" in fields]
    # Licenses given once by name, their text in a paragraph of their own.
    texts = {fields["License"].split("\n", 1)[0]: text for text, fields in found
             if "License" in fields and "Files" not in fields}
    unknown = [s for s in stanzas if s[1]["Files"].split() == ["*"]] or stanzas
    chosen = []
    for source in named.values():
        covering = [s for s in stanzas if source and any(
            fnmatch.fnmatchcase(source, pattern) for pattern in s[1]["Files"].split())]
        chosen += [s for s in covering[-1:] or unknown if s not in chosen]
    notice, licenses, holders, extracted = [], [], [], {}
    for text, fields in sorted(chosen, key=stanzas.index):
        names, _, body = fields["License"].partition("\n")
        notice.append(text)
        licenses.append(expression(names))
        holders.append(fields.get("Copyright", ""))
        for name in [n for n in dict.fromkeys(names.split()) if n not in ("and", "or")]:
            if not body and name in texts:
                notice.append(texts[name])
            if expression(name).startswith("LicenseRef-"):
                own = body or texts.get(name, "").partition("\n")[2]
                extracted[expression(name)] = re.sub(r"^ (\.$)?", "", own, flags=re.M) or name
    licenses = list(dict.fromkeys(licenses))
    license = " AND ".join(f"({e})" if " OR " in e and len(licenses) > 1 else e for e in licenses)
    return list(dict.fromkeys(notice)), license, "\n".join(dict.fromkeys(holders)), extracted


def plain(path, parts):
    """The parts of a copyright file that is not machine-readable."""
    lines = open(path, encoding="utf-8").read().splitlines()
    notice = []
    for start, end in parts:
        first = next((i for i, line in enumerate(lines) if line.startswith(start)), None)
        last = next((i for i, line in enumerate(lines) if first is not None and i > first
                     and line.startswith(end)), len(lines))
        if first is None:
            return ["\n".join(lines)]
        notice.append("\n".join(lines[first:last]).strip("\n"))
    return notice


def component(triplet, path, members, name=None, relationship="STATIC_LINK"):
    owner = run("dpkg", "-S", path).split(":")[0].split(",")[0]
    version, source, arch = run("dpkg-query", "-W", "-f",
                                "${Version}\t${source:Package}\t${Architecture}", owner).split("\t")
    copyright = f"/usr/share/doc/{owner}/copyright"
    if open(copyright, encoding="utf-8").readline().startswith("Format:"):
        notice, license, holders, extracted = machine_readable(
            copyright, sources(triplet, path, members))
    elif source in PLAIN:
        license, parts = PLAIN[source]
        notice, holders, extracted = plain(copyright, parts), "NOASSERTION", {}
    else:
        sys.exit(f"notices: {copyright} is not machine-readable; cannot tell the license "
                 f"of {path}")
    return {"name": name or os.path.basename(path), "path": path, "package": owner,
            "version": version, "architecture": arch, "relationship": relationship,
            "license": license, "copyright": holders or "NOASSERTION",
            "members": sorted(members), "copyright_file": copyright, "notice": notice,
            "licenses": extracted}


def notices(version, title, components):
    """The text, one string with LF line ends."""
    head = f"quorvel {version}, {title}: third-party notices"
    out = [head, "=" * len(head), "",
           "quorvel itself is under the MIT license (LICENSE.txt). quorvel.exe also",
           "carries code from the files below, from these Debian packages, at these",
           "versions, under these licenses (SPDX): code linked in when it was built",
           "(its link map names the objects each gave), and libstdc++'s templates",
           "(std::string, std::vector), compiled into it from the library's headers.", ""]
    out += [f"  {c['name']}: {c['package']} {c['version']}, {c['license']}" for c in components]
    meanings = sorted({name for c in components for name in MEANING if name in c["license"]})
    for name in meanings:
        out += ["", f"{name}: {MEANING[name]}"]
    out += ["", "What each package's copyright file says of what was linked in follows."]
    by_package, given = {}, {}
    for c in components:
        by_package.setdefault((c["package"], c["version"], c["copyright_file"]), []).append(c)
    for (package, version_, path), group in by_package.items():
        heading = f"{package} {version_} ({', '.join(c['name'] for c in group)})"
        out += ["", "", heading, "-" * len(heading), "", f"From {path}:", ""]
        text = "\n\n".join(dict.fromkeys(text for c in group for text in c["notice"]))
        # GCC's packages share one copyright file's text: it is given once.
        out += [f"The same text as {given[text]}'s above."] if text in given else text.splitlines()
        given.setdefault(text, package)
    return "\n".join(out) + "\n"


def main():
    map_path, triplet, version, title, folder = sys.argv[1:]
    text = open(map_path, encoding="utf-8", errors="replace").read()
    found = linked(text)
    components = [component(triplet, path, members) for path, members in sorted(
        found.items(), key=lambda item: os.path.basename(item[0]))]
    headers = compiled(text, os.path.dirname(os.path.abspath(map_path)))
    if headers:
        top = min(headers).split("/include/c++/")[0] + "/include/c++"
        components.append(component(
            triplet, top, [os.path.relpath(h, top) for h in headers if os.path.dirname(h) == top],
            name="libstdc++", relationship="GENERATED_FROM"))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8",
              newline="\r\n") as out:
        out.write(notices(version, title, components))
    for c in components:
        del c["notice"]
    with open(os.path.join(folder, "components.json"), "w", encoding="utf-8") as out:
        json.dump(components, out, indent=1, sort_keys=True)
        out.write("\n")


if __name__ == "__main__":
    main()
