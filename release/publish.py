#!/usr/bin/env python3
"""A release's files and notes for the forge's release page:

publish.py tag TAG SOURCE [CHANGELOG]
    TAG must be v and the packages' version that SOURCE/CMakeLists.txt
    gives, and its section of CHANGELOG (SOURCE/CHANGELOG.md) ready to be
    the notes, as gather takes them: checked before anything is built.
publish.py gather TAG FOLDER CHANGELOG OUT [PROVENANCE]
    TAG must be v and the version of the packages that FOLDER/SHA256SUMS
    names; every file it lists must be the one it lists, and is copied into
    OUT/assets. A release page holds no folders: a file is published under
    its own name, or under its path with / as - where two files share a name
    (the exes), and OUT/assets/SHA256SUMS lists each by that name, so that
    sha256sum -c checks the files as they are downloaded. OUT/notes.md is the version's
    section of CHANGELOG (Keep a Changelog), which must be dated
    (## [VERSION] - YYYY-MM-DD), saying so when the exes are unsigned, and
    unless PROVENANCE is "attested" (the default is "none"), that no build
    provenance was attested for them.

A refusal is one line and a non-zero exit."""
import datetime
import hashlib
import os
import re
import shutil
import sys


def package_version(version):
    """Windows Installer's three numbers, as the packages carry them."""
    return ".".join((version.split(".") + ["0", "0"])[:3])


def check_tag(tag, version):
    if tag != "v" + package_version(version):
        sys.exit(f"publish: the tag is {tag}, but the packages' version is "
                 f"{package_version(version)}: the tag must be v{package_version(version)}")
    return package_version(version)


def listed(folder):
    """[(SHA-256, name)] as FOLDER/SHA256SUMS lists them, names inside FOLDER."""
    found = []
    for line in open(os.path.join(folder, "SHA256SUMS"), encoding="utf-8"):
        match = re.fullmatch(r"([0-9a-f]{64})  (\S+)\n?", line)
        if not match or match[2].startswith("/") or ".." in match[2].split("/"):
            sys.exit(f"publish: SHA256SUMS has a line that is not a file of the release: {line!r}")
        found.append((match[1], match[2]))
    return found


def section(changelog, version):
    """The text under the version's heading, without the link definitions
    that may end the file. The heading must give the release's date, and the
    section no longer say that it is not yet tagged."""
    text = open(changelog, encoding="utf-8").read()
    name = os.path.basename(changelog)
    match = re.search(rf"^(## \[?{re.escape(version)}\]?(?:[ \t][^\n]*)?)\n(.*?)(?=^## |\Z)", text,
                      re.M | re.S)
    notes = re.sub(r"(?:^\[[^\]\n]+\]: \S+\n?)+\Z", "", match[2].strip() + "\n",
                   flags=re.M).strip() if match else ""
    if not notes:
        sys.exit(f"publish: {name} has no section for {version}")
    # A section prepared before its tag says "unreleased" where the date goes.
    dated = re.fullmatch(rf"## \[?{re.escape(version)}\]? - (\d{{4}}-\d{{2}}-\d{{2}})", match[1])
    try:
        datetime.date.fromisoformat(dated[1] if dated else "")
    except ValueError:
        sys.exit(f"publish: {name}'s heading {match[1]!r} is not dated: a release's section is "
                 f"'## [{version}] - YYYY-MM-DD', the date of its tag")
    # ... and its first line says so, which the date replaces too.
    placeholder = re.search(r"^Not yet tagged:.*", notes, re.M)
    if placeholder:
        sys.exit(f"publish: {name}'s section of {version} still says {placeholder[0]!r}: "
                 f"a dated section drops that line")
    return notes


def signed(data):
    """Whether a PE file carries an Authenticode signature: a security
    directory that is not empty."""
    import pefile  # here only, so that the tag's check needs Python alone
    security = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    return pefile.PE(data=data, fast_load=True).OPTIONAL_HEADER.DATA_DIRECTORY[security].Size != 0


def gather(tag, folder, changelog, out, provenance="none"):
    if provenance not in ("attested", "none"):
        sys.exit(f"publish: provenance is attested or none, not {provenance}")
    files = listed(folder)
    versions = {m[1] for _, name in files for m in [re.fullmatch(
        r"quorvel-(.+)-win(?:32|64)\.(?:zip|msi)", name)] if m}
    if len(versions) != 1:
        sys.exit(f"publish: SHA256SUMS names packages of {sorted(versions) or 'no'} version(s), "
                 f"not of one")
    version = check_tag(tag, versions.pop())
    notes = section(changelog, version)
    names = [os.path.basename(name) for _, name in files]
    assets = {name: (os.path.basename(name) if names.count(os.path.basename(name)) == 1
                     else name.replace("/", "-")) for _, name in files}
    if "LICENSE.txt" not in assets or len(set(assets.values()) | {"SHA256SUMS"}) != len(files) + 1:
        sys.exit(f"publish: SHA256SUMS must list LICENSE.txt and files of names of their own, "
                 f"not {sorted(assets)}")
    # Nothing of an earlier run stays to be published by mistake.
    top, written = os.path.join(out, "assets"), os.path.join(out, "notes.md")
    shutil.rmtree(top, ignore_errors=True)
    if os.path.exists(written):
        os.remove(written)
    os.makedirs(top)
    wrong, exes = [], set()
    for digest, name in files:
        data = open(os.path.join(folder, name), "rb").read()
        if hashlib.sha256(data).hexdigest() != digest:
            wrong.append(f"publish: {name} is not the file SHA256SUMS lists")
            continue
        if name.endswith(".exe"):
            exes.add(signed(data))
        with open(os.path.join(top, assets[name]), "wb") as f:
            f.write(data)
    with open(os.path.join(top, "SHA256SUMS"), "w", encoding="utf-8", newline="\n") as f:
        f.writelines(f"{digest}  {assets[name]}\n" for digest, name in files)
    if len(exes) > 1:
        wrong.append("publish: some of the exes are signed, some are not")
    if wrong:
        shutil.rmtree(top)
        sys.exit("\n".join(wrong))
    said = []
    if False in exes:
        said.append("These files are not signed: Windows shows no publisher for them.")
        if provenance == "attested":
            said.append("That they are the files this repository's workflow built is shown by "
                        "SHA256SUMS and by the build provenance attested for each "
                        "(`gh attestation verify`).")
    if provenance == "none":
        said.append("No build provenance was attested for these files.")
    if said:
        notes += "\n\n" + " ".join(said)
    with open(written, "w", encoding="utf-8") as f:
        f.write(notes + "\n")
    print(f"publish: {tag}: {len(files)} files checked against SHA256SUMS into {top}, "
          f"notes from {os.path.basename(changelog)} for {version}"
          f"{', unsigned' if False in exes else ''}, provenance {provenance}")


def main():
    what, tag, *rest = sys.argv[1:]
    if what == "tag":
        cmake = open(os.path.join(rest[0], "CMakeLists.txt"), encoding="utf-8").read()
        found = re.search(r"^\s*set\(QUORVEL_VERSION (\S+)\)", cmake, re.M)
        if not found:
            sys.exit("publish: CMakeLists.txt sets no QUORVEL_VERSION")
        version = check_tag(tag, found[1])
        changelog = rest[1] if len(rest) > 1 else os.path.join(rest[0], "CHANGELOG.md")
        section(changelog, version)
        print(f"publish: {tag} is v and the packages' version, {version}, and "
              f"{os.path.basename(changelog)}'s section of it is dated")
    else:
        gather(tag, *rest)


if __name__ == "__main__":
    main()
