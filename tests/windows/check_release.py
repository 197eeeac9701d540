#!/usr/bin/env python3
"""Checks the release zips and Windows Installer packages.

contents ZIP ARCH BUDGET     the zip holds the stripped, hardened exe for ARCH,
                             at most BUDGET bytes, and the texts in CRLF.
version ZIP ARCH VERSION PREFIX
                             the zip's exe prints VERSION for -V under Wine.
package MSI ZIP MSI_VERSION UPGRADE_CODE
                             the package holds the zip's files and has the
                             properties it should.
sign BUILD URL               packs BUILD's release again into BUILD/signed,
                             signed with a throw-away certificate, for URL;
                             a failed signing leaves no SHA256SUMS.
verify ZIP MSI CERT          both verify against CERT; copies with one byte
                             changed do not.
rebuild SOURCE FOLDER VERSION
                             builds the release, without tests, as VERSION.
reproduce BUILD SOURCE FOLDER VERSION
                             builds it again, a second later, and compares
                             the build environment, then each file
                             BUILD/SHA256SUMS lists.
sbom BUILD VERSION           the bill of materials: its fields, checksums,
                             the link maps' components and libstdc++ at the
                             compiler's version, as the notices name them.
buildinfo BUILD              BUILDINFO is this machine's environment; a
                             changed version is named.
winget FOLDER VERSION [URL]  with a download address (URL, else the
                             environment's), the winget manifests and every
                             field, from the packages; without, none.
publish BUILD SOURCE TAG PROVENANCE
                             publish.py takes every file BUILD/SHA256SUMS lists, and
                             CHANGELOG.md's notes, its section dated, unsigned
                             as the exes are, attested as PROVENANCE says.
printed SAMPLES              what real Windows prints, from SAMPLES, read by the
                             functions that read it on the runners: reg
                             query's Path, REG_EXPAND_SZ, long error texts.
install MSI ARCH VERSION PREFIX
                             a silent install into a fresh Wine prefix.
upgrade MSI ARCH VERSION PREFIX LATER_MSI LATER_VERSION
                             then an upgrade, a refused downgrade, an uninstall.
Whatever runs under Wine is skipped (77) where the machine cannot run it.
On Windows, PREFIX "native" makes install and upgrade use this machine's
own Windows Installer, with a verbose log of each step.
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

# Where programs run, shared with the scenarios' runner.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from targets import QUIET, WINE_LOADERS, error_texts, why_no_32bit, wine_env  # noqa: E402

PUBLISHER = "The quorvel developers"
ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
NATIVE = "native"
TEXTS = ["LICENSE.txt", "README.txt", "THIRD-PARTY-NOTICES.txt"]


def contents(archive, arch, budget):
    # pefile is needed here only, so that the package steps run on a bare
    # Windows too.
    import pefile
    from check_pe import MACHINES, hardening
    wrong = []
    names = sorted(archive.namelist())
    if names != TEXTS + ["quorvel.exe"]:
        return [f"the zip holds {names}, not quorvel.exe and {TEXTS} alone"]
    exe = pefile.PE(data=archive.read("quorvel.exe"), fast_load=True)
    if exe.FILE_HEADER.Machine != MACHINES[arch]:
        wrong.append(f"quorvel.exe is built for machine {exe.FILE_HEADER.Machine:#x}")
    if exe.FILE_HEADER.NumberOfSymbols or any(
            section.Name.startswith(b".debug") for section in exe.sections):
        wrong.append("quorvel.exe is not stripped")
    if not hardening(exe) or len(archive.read("quorvel.exe")) > int(budget):
        wrong.append(f"quorvel.exe lacks ASLR or DEP, or is over {budget} bytes")
    for name in TEXTS:
        text = archive.read(name)
        if not text.endswith(b"\r\n") or text.count(b"\n") != text.count(b"\r\n") \
                or text.count(b"\r") != text.count(b"\r\n"):
            wrong.append(f"{name} does not end every line with CRLF")
    return wrong


def wine(arch, prefix, command, cwd=None, env=None):
    """Runs a Windows command in the Wine prefix, or on this Windows itself
    when the prefix is NATIVE; returns its exit code and standard output.
    Wine's background services keep an inherited pipe open: the output goes
    to a file instead."""
    if prefix != NATIVE:
        env = wine_env(dict(os.environ), prefix, arch)
        command = [WINE_LOADERS[arch]] + command
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.DEVNULL, timeout=300)
        out.seek(0)
        return done.returncode, out.read().decode(errors="replace")


def stop_wine(arch, prefix):
    if prefix != NATIVE:
        subprocess.run(["wineserver", "-k"], env=wine_env(dict(os.environ), prefix, arch), **QUIET)


def windows_path(path, prefix):
    return os.path.abspath(path) if prefix == NATIVE else "Z:" + os.path.abspath(path).replace("/", "\\")


def version_output(version):
    return f"\r\nquorvel v{version}\r\n\r\n  Version: '{version}'\r\n"


def version(archive, arch, expected, prefix):
    with tempfile.TemporaryDirectory() as folder:
        exe = archive.extract("quorvel.exe", folder)
        if not os.path.isdir(os.path.join(prefix, "drive_c")):
            wine(arch, prefix, ["wineboot", "-i"])
        code, stdout = wine(arch, prefix, [exe, "-V"])
        stop_wine(arch, prefix)
    if code != 0 or stdout != version_output(expected):
        return [f"-V ended with {code} and printed {stdout!r}, expected version {expected}"]
    return []


def msi_version(version):
    return ".".join((version.split(".") + ["0", "0"])[:3])


def msi_properties(msi):
    table = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True,
                           text=True, check=True).stdout.splitlines()[3:]
    return dict(line.split("\t", 1) for line in table)


def package(msi, archive, version, upgrade_code):
    wrong = []
    properties = msi_properties(msi)
    expected = {"ProductName": "quorvel", "ProductVersion": version, "Manufacturer": PUBLISHER,
                "ALLUSERS": "1", "UpgradeCode": "{" + upgrade_code + "}", "ARPNOMODIFY": "1"}
    for name, value in expected.items():
        if properties.get(name, "").upper() != value.upper():
            wrong.append(f"{name} is {properties.get(name)!r}, expected {value!r}")
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["msiextract", "-C", folder, msi], check=True, **QUIET)
        found = {name: open(os.path.join(top, name), "rb").read()
                 for top, _, names in os.walk(folder) for name in names}
    if found != {name: archive.read(name) for name in archive.namelist()}:
        wrong.append(f"the package holds {sorted(found)}, not the zip's files byte for byte")
    return wrong


def sign(build, url):
    folder = os.path.join(build, "signing")
    os.makedirs(folder, exist_ok=True)
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=quorvel test signing", "-keyout", key, "-out", cert,
                    "-addext", "keyUsage=critical,digitalSignature",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, QUORVEL_SIGN_CERT=cert, QUORVEL_SIGN_KEY=key,
               QUORVEL_DOWNLOAD_URL=url)
    env.pop("QUORVEL_SIGN_TIMESTAMP", None)
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"),
                    "-B", os.path.join(build, "signed")], env=env, check=True)
    # Failing to sign (a certificate for the key) leaves no SHA256SUMS, not an earlier one.
    broken = os.path.join(build, "signed-broken")
    os.makedirs(broken, exist_ok=True)
    open(os.path.join(broken, "SHA256SUMS"), "w").close()
    done = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B",
                           broken], env=dict(env, QUORVEL_SIGN_KEY=cert), **QUIET)
    return [] if done.returncode and not os.path.exists(os.path.join(broken, "SHA256SUMS")) \
        else [f"a failed signing ended with {done.returncode}, left {os.listdir(broken)}"]


def verify(archive, msi, cert):
    import pefile
    wrong = []
    with tempfile.TemporaryDirectory() as folder:
        exe = archive.extract("quorvel.exe", folder)
        # A byte of the exe's code, and one of the package's comment (in
        # its string pool), changed after signing must break the signature.
        code = pefile.PE(exe, fast_load=True).sections[0].PointerToRawData + 64
        msi = shutil.copy2(msi, folder)
        comment = open(msi, "rb").read().find(b"Dials, reports")
        for path, offset in ((exe, code), (msi, comment)):
            check = ["osslsigncode", "verify", "-CAfile", cert, "-in", path]
            name = os.path.basename(path)
            if subprocess.run(check, stdout=subprocess.DEVNULL).returncode != 0:
                wrong.append(f"the signature of {name} does not verify")
            with open(path, "r+b") as f:
                f.seek(offset)
                byte = f.read(1)
                f.seek(offset)
                f.write(bytes([byte[0] ^ 0xFF]))
            if subprocess.run(check, **QUIET).returncode == 0:
                wrong.append(f"a copy of {name} with one byte changed still verifies")
    return wrong


def rebuild(source, folder, version):
    shutil.rmtree(folder, ignore_errors=True)
    for command in (["cmake", "-S", source, "-B", folder, "-DQUORVEL_RELEASE=ON",
                     "-DBUILD_TESTING=OFF", f"-DQUORVEL_VERSION={version}"],
                    ["cmake", "--build", folder],
                    ["cpack", "--config", os.path.join(folder, "CPackConfig.cmake"), "-B", folder]):
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def environment(recorded, found):
    """Each package whose version differs between two BUILDINFO texts."""
    a, b = (dict(line.split("\t", 1) for line in text.splitlines()) for text in (recorded, found))
    return [f"{name}: {a.get(name, 'none')} recorded, {b.get(name, 'none')} now"
            for name in sorted(set(a) | set(b)) if a.get(name) != b.get(name)]


def reproduce(build, source, folder, version):
    sums = os.path.abspath(os.path.join(build, "SHA256SUMS"))
    time.sleep(max(0.0, os.path.getmtime(sums) + 1 - time.time()))
    rebuild(source, folder, version)
    # Another toolchain gives other bytes: say so before any byte differs.
    wrong = environment(*(open(os.path.join(top, "BUILDINFO")).read() for top in (build, folder)))
    for line in open(sums):
        name = line.rstrip("\n").split("  ", 1)[1]
        first, second = (open(os.path.join(top, name), "rb").read() for top in (build, folder))
        if first != second:
            at = next((i for i, (a, b) in enumerate(zip(first, second)) if a != b),
                      min(len(first), len(second)))
            wrong.append(f"{name} differs from offset {at}")
    if subprocess.run(["sha256sum", "--quiet", "-c", sums], cwd=folder).returncode:
        wrong.append(f"sha256sum -c {sums} fails in {folder}")
    return wrong


def buildinfo(build):
    recorded = open(os.path.join(build, "BUILDINFO")).read()
    names = [line.split("\t")[0] for line in recorded.splitlines()[1:]]
    here = f"Debian\t{open('/etc/debian_version').read().strip()}\n" + subprocess.run(
        ["dpkg-query", "-W"] + names, capture_output=True, text=True, check=True).stdout
    name, version = recorded.splitlines()[1].split("\t")
    changed = recorded.replace(f"{name}\t{version}\n", f"{name}\t{version}~1\n")
    if environment(changed, recorded) != [f"{name}: {version}~1 recorded, {version} now"]:
        return [f"a changed version of {name} is not named: {environment(changed, recorded)}"]
    return environment(recorded, here)


def linked(path):
    """The files from outside the build that the link map shows gave objects."""
    text = open(path, errors="replace").read()
    members = re.split(r"^[A-Z][a-z]+ [a-z]", text.split("(symbol)\n", 1)[1], flags=re.M)[0]
    return set(re.findall(r"^/\S*/([^/\s(]+)\(", members, re.M)) | {
        os.path.basename(p) for p in re.findall(r"^LOAD (/\S+\.o)$", text, re.M)
        if not p.endswith(".ltrans.o")}


def sbom(build, version):
    doc = json.load(open(os.path.join(build, f"quorvel-{version}.spdx.json")))
    ids = [e["SPDXID"] for e in doc["packages"] + doc["files"]]
    elements = {e["SPDXID"]: e for e in doc["packages"] + doc["files"]}
    related = {(r["spdxElementId"], r["relationshipType"], r["relatedSpdxElement"])
               for r in doc["relationships"]}
    files = {f["fileName"][2:]: f for f in doc["files"]}
    expected = [(doc, {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0",
                       "SPDXID": "SPDXRef-DOCUMENT", "name": f"quorvel-{version}"}),
                (elements.get("SPDXRef-Package-quorvel", {}), {
                    "name": "quorvel", "versionInfo": version, "licenseConcluded": "MIT",
                    "supplier": f"Organization: {PUBLISHER}", "downloadLocation": "NOASSERTION"})]
    wrong = [f"{e.get('SPDXID')} has {k} {e.get(k)!r}, expected {v!r}"
             for e, fields in expected for k, v in fields.items() if e.get(k) != v]
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", doc["creationInfo"]["created"]) \
            or not doc["documentNamespace"].startswith("https://"):
        wrong.append(f"created or namespace is wrong: {doc['creationInfo']}")
    if len(set(ids)) != len(ids) or "SPDXRef-DOCUMENT" in ids:
        wrong.append(f"SPDX ids are not unique: {sorted(ids)}")
    wrong += [f"{r} points at no element" for r in sorted(related)
              if {r[0], r[2]} - set(ids) - {"SPDXRef-DOCUMENT"}]
    names = {f"quorvel-{version}-{arch}{kind}" for arch in ("win32", "win64")
             for kind in (".zip", ".msi", "/quorvel.exe")}
    if set(files) != names:
        wrong.append(f"the files are {sorted(files)}, expected {sorted(names)}")
    for name in names & set(files):
        data = open(os.path.join(build, name), "rb").read()
        sums = {c["algorithm"]: c["checksumValue"] for c in files[name]["checksums"]}
        if sums != {"SHA1": hashlib.sha1(data).hexdigest(),
                    "SHA256": hashlib.sha256(data).hexdigest()}:
            wrong.append(f"the checksums of {name} are not the file's")
    for arch in ("win32", "win64"):
        exe, zip_, msi = (files.get(f"quorvel-{version}-{arch}{kind}", {}).get("SPDXID")
                          for kind in ("/quorvel.exe", ".zip", ".msi"))
        if {(zip_, "CONTAINS", exe), (msi, "CONTAINS", exe)} - related:
            wrong.append(f"the {arch} zip and package do not both contain its exe")
        parts, compiled = ({tuple(elements[b][k] for k in ("name", "versionInfo", "licenseConcluded"))
                            for a, kind, b in related if a == exe and kind == how and b in elements}
                           for how in ("STATIC_LINK", "GENERATED_FROM"))
        # libstdc++'s templates come with the compiler that linked the exe: its version.
        link = open(os.path.join(build, arch, "CMakeFiles", "quorvel.dir", "link.txt")).read()
        gcc = dict(line.split("\t") for line in open(os.path.join(build, "BUILDINFO")).read()
                   .splitlines()).get(subprocess.run(
                       ["dpkg", "-S", os.path.realpath(link.splitlines()[-1].split()[0])],
                       capture_output=True, text=True).stdout.split(":")[0])
        if compiled != {("libstdc++", gcc, "GPL-3.0-or-later WITH GCC-exception-3.1")}:
            wrong.append(f"the {arch} exe is compiled from {sorted(compiled)}, not libstdc++ {gcc}")
        if {part[0] for part in parts} != linked(os.path.join(build, arch, "quorvel.map")):
            wrong.append(f"the {arch} exe links {sorted(parts)}, the map shows "
                         f"{sorted(linked(os.path.join(build, arch, 'quorvel.map')))}")
        with zipfile.ZipFile(os.path.join(build, f"quorvel-{version}-{arch}.zip")) as archive:
            text = archive.read("THIRD-PARTY-NOTICES.txt").decode()
        named = set(re.findall(r"^  (\S+): \S+ (\S+), (.+)\r$", text, re.M))
        if named != parts | compiled:
            wrong.append(f"the {arch} notices name {sorted(named)}, the SBOM {sorted(parts | compiled)}")
    tools = {(elements[a]["name"], elements[a]["versionInfo"]) for a, kind, _ in related
             if kind == "BUILD_TOOL_OF"}
    recorded = {(line.split("\t")[0].split(":")[0], line.split("\t")[1]) for line in
                open(os.path.join(build, "BUILDINFO")).read().splitlines()[1:]}
    if tools != recorded:
        wrong.append(f"the build tools are {sorted(tools ^ recorded)} apart from BUILDINFO's")
    return wrong


def winget(folder, version, url=""):
    import yaml
    url = url or os.environ.get("QUORVEL_DOWNLOAD_URL", "")
    top = os.path.join(folder, "winget")
    listed = {line.rstrip("\n").split("  ", 1)[1] for line in open(os.path.join(folder, "SHA256SUMS"))}
    if not url:
        return [f"{top} exists, without a download address"] if os.path.exists(top) else []
    url = url.rstrip("/") + "/"
    names = [f"winget/manifests/q/quorvel/quorvel/{version}/quorvel.quorvel{kind}.yaml"
             for kind in ("", ".installer", ".locale.en-US")]
    if not set(names) <= listed:
        return [f"SHA256SUMS lists {sorted(listed)}, not {names}"]
    found = [yaml.safe_load(open(os.path.join(folder, name))) for name in names]
    package = {"PackageIdentifier": "quorvel.quorvel", "PackageVersion": version,
               "ManifestVersion": "1.10.0"}
    installers = []
    for arch, architecture in (("win32", "x86"), ("win64", "x64")):
        msi = os.path.join(folder, f"quorvel-{version}-{arch}.msi")
        code, upgrade_code = (msi_properties(msi)[k] for k in ("ProductCode", "UpgradeCode"))
        installers.append({
            "Architecture": architecture, "InstallerUrl": url + os.path.basename(msi),
            "InstallerSha256": hashlib.sha256(open(msi, "rb").read()).hexdigest().upper(),
            "ProductCode": code, "AppsAndFeaturesEntries": [{
                "DisplayName": "quorvel", "Publisher": PUBLISHER,
                "DisplayVersion": msi_version(version), "ProductCode": code,
                "UpgradeCode": upgrade_code}]})
    expected = [dict(package, ManifestType="version", DefaultLocale="en-US"), dict(
        package, ManifestType="installer", InstallerType="msi", Scope="machine",
        InstallModes=["interactive", "silent", "silentWithProgress"],
        InstallerSwitches={"Silent": "/quiet /norestart", "SilentWithProgress": "/passive /norestart"},
        UpgradeBehavior="install", Commands=["quorvel"], Installers=installers), dict(
        package, ManifestType="defaultLocale", PackageLocale="en-US", Publisher=PUBLISHER,
        PackageName="quorvel", License="MIT", LicenseUrl=url + "LICENSE.txt",
        Copyright=f"Copyright (c) 2026 {PUBLISHER}", Moniker="quorvel")]
    wrong = [f"{name}: {key} is {manifest.get(key)!r}, expected {value!r}"
             for name, manifest, fields in zip(names, found, expected)
             for key, value in fields.items() if manifest.get(key) != value]
    locale = found[2]
    if not locale.get("Description", "").startswith("quorvel drives Remote Access Service") \
            or "`" in locale["Description"] or not locale.get("ShortDescription") \
            or not locale.get("Tags") or "LICENSE.txt" not in listed:
        wrong.append(f"the descriptions, tags or the published license are missing: {locale}")
    return wrong


def publish(build, source, tag, provenance):
    import pefile
    out = os.path.join(build, "publish")
    # The section dated, as its tag will find it, without the line saying it is not.
    os.makedirs(out, exist_ok=True)
    changelog = os.path.join(out, "CHANGELOG.md")
    text = open(os.path.join(source, "CHANGELOG.md"), encoding="utf-8").read()
    text = re.sub(r"^Not yet tagged:.*\n\n?", "", text, flags=re.M)
    with open(changelog, "w", encoding="utf-8") as f:
        f.write(re.sub(rf"^## \[{re.escape(tag[1:])}\] - unreleased$",
                       f"## [{tag[1:]}] - {time.strftime('%Y-%m-%d')}", text, flags=re.M))
    done = subprocess.run([sys.executable, os.path.join(source, "release", "publish.py"), "gather",
                           tag, build, changelog, out, provenance], capture_output=True, text=True)
    if done.returncode:
        return [f"publish.py ended with {done.returncode}: {done.stdout}{done.stderr}"]
    listed = [line.split("  ", 1) for line in
              open(os.path.join(build, "SHA256SUMS")).read().splitlines()]
    bases = [os.path.basename(name) for _, name in listed]
    # Flat names: the exes share one, and take their folder's; the published
    # SHA256SUMS lists each by that name.
    expected = {name.replace("/", "-") if bases.count(os.path.basename(name)) > 1
                else os.path.basename(name): digest for digest, name in listed}
    assets = os.path.join(out, "assets")
    found = {name: hashlib.sha256(open(os.path.join(assets, name), "rb").read()).hexdigest()
             for name in os.listdir(assets) if name != "SHA256SUMS"}
    published = dict(reversed(line.split("  ", 1)) for line in
                     open(os.path.join(assets, "SHA256SUMS")).read().splitlines())
    wrong = [] if found == expected == published and "LICENSE.txt" in found else [
        f"the assets are {sorted(found)}, SHA256SUMS lists {sorted(published)}, "
        f"not {sorted(expected)} with the bytes listed"]
    notes = open(os.path.join(out, "notes.md")).read()
    body = re.split(r"\n\n(?:These files are not signed|No build provenance)", notes)[0]
    unsigned = "These files are not signed" in notes
    section = open(changelog).read().partition(f"\n## [{tag[1:]}]")[2].split("\n## ")[0]
    if not body.strip() or body.strip() not in section or "\n## " in notes:
        wrong.append(f"the notes are not CHANGELOG.md's section of {tag[1:]}: {notes!r}")
    if bool(unsigned) == any(pefile.PE(os.path.join(build, name), fast_load=True)
                             .OPTIONAL_HEADER.DATA_DIRECTORY[4].Size
                             for _, name in listed if name.endswith(".exe")):
        wrong.append(f"the notes say {'un' if unsigned else ''}signed, the exes do not")
    if ("No build provenance was attested" in notes) != (provenance == "none") or \
            ("gh attestation verify" in notes) != (unsigned and provenance == "attested"):
        wrong.append(f"the notes do not say that the provenance is {provenance}: {notes!r}")
    return wrong


def values(arch, prefix, key, *options):
    """The values that reg query prints for a key (read through Wine: the
    registry files on disk are written late), a dict for each key."""
    found = []
    for line in wine(arch, prefix, ["reg", "query", key] + list(options))[1].splitlines():
        if line.startswith("HKEY_"):
            found.append({})
        elif line.startswith("    ") and found:
            parts = line.strip().split("    ", 2)
            found[-1][parts[0]] = parts[2] if len(parts) > 2 else ""
    return found


def program_folder(arch, prefix):
    """Where the package installs, as Windows names it and as this machine
    reaches it. A 32-bit package on 64-bit Windows goes to Program Files
    (x86), and its Add/Remove Programs entry to the 32-bit registry."""
    if prefix != NATIVE:
        return r"C:\Program Files\quorvel", os.path.join(prefix, "drive_c", "Program Files",
                                                        "quorvel")
    folder = os.environ["ProgramFiles(x86)" if arch == "win32" else "ProgramFiles"] + r"\quorvel"
    return folder, folder


def path_value(arch, prefix, key):
    """PATH as the key holds it. Windows stores the name as "Path", Wine as
    "PATH", and reg query prints it as stored: names differ in case only."""
    found = values(arch, prefix, key, "/v", "PATH")
    return next((v for k, v in found[0].items() if k.upper() == "PATH"), "") if found else ""


def machine_path(arch, prefix):
    return path_value(arch, prefix, ENVIRONMENT)


def expand(value, environment):
    """A REG_EXPAND_SZ value as Windows expands it: each %NAME% that names a
    variable, whatever its case, by the variable's value."""
    upper = {k.upper(): v for k, v in environment.items()}
    return re.sub(r"%([^%]+)%", lambda m: upper.get(m[1].upper(), m[0]), value)


def new_process_environment(arch, prefix):
    """What a process started now gets: the runner's own environment predates
    the install, so on Windows PATH is read afresh from the registry, as a
    new logon reads it, with %SystemRoot% and the like expanded. A new
    process under Wine reads it by itself."""
    if prefix != NATIVE:
        return None
    path = machine_path(arch, prefix) + ";" + path_value(arch, prefix, r"HKCU\Environment")
    return dict(os.environ, PATH=expand(path, os.environ))


def path_entries(arch, prefix):
    """PATH's entries, the package's own (ended by a backslash) as its folder."""
    folder = program_folder(arch, prefix)[0]
    return [folder if entry.rstrip("\\").lower() == folder.lower() else entry
            for entry in machine_path(arch, prefix).split(";")]


def installation(arch, prefix, version, path_without):
    """How the machine differs from one with quorvel `version` installed, or
    with no quorvel at all for None; path_without is PATH's entries without
    quorvel's."""
    folder, local = program_folder(arch, prefix)
    path = path_entries(arch, prefix)
    keys = ("DisplayName", "Publisher", "DisplayVersion")
    entries = [{k: entry.get(k) for k in keys}
               for entry in values(arch, prefix, UNINSTALL, "/s", "/reg:32" if arch == "win32"
                                   else "/reg:64")
               if entry.get("DisplayName") == "quorvel"]
    # A new command prompt, in another folder, finds it through PATH.
    with tempfile.TemporaryDirectory() as elsewhere:
        printed = wine(arch, prefix, ["cmd", "/c", "quorvel", "-s"], cwd=elsewhere,
                       env=new_process_environment(arch, prefix))[1]
    found = {"the folder holds": sorted(os.listdir(local)) if os.path.isdir(local) else None,
             "PATH is": path,
             "Add/Remove Programs lists": entries,
             "quorvel -s in a new cmd printed": printed}
    # The package's entry goes in front of PATH and leaves the rest as it was.
    expected = [None, path_without, [], ""] if version is None else [
        TEXTS + ["quorvel.exe"], [folder] + path_without,
        [dict(zip(keys, ("quorvel", PUBLISHER, msi_version(version))))],
        f"\r\nquorvel v{version}\r\n\r\nConnection Status: Offline\r\n"]
    return [f"{what} {got!r}, expected {want!r}"
            for (what, got), want in zip(found.items(), expected) if got != want]


def msiexec(arch, prefix, steps):
    """Runs msiexec for each step (action, package, the exit codes it may
    end with, the version installed afterwards or None, a text its log must
    hold) and checks the installation after each. Wine's Windows Installer
    writes no such log: the texts are checked on Windows alone."""
    wrong = []
    path_without = path_entries(arch, prefix)
    if path_without[0] == program_folder(arch, prefix)[0]:
        path_without.pop(0)
    with tempfile.TemporaryDirectory() as logs:
        for number, (action, package, codes, left, logged) in enumerate(steps):
            log = os.path.join(logs, f"step{number}.log")
            command = ["msiexec", action, windows_path(package, prefix), "/qn"]
            if prefix == NATIVE:
                command += ["/l*v", log]
            start = time.monotonic()
            code = wine(arch, prefix, command)[0]
            print(f"msiexec {action} {os.path.basename(package)}: exit code {code}, "
                  f"{time.monotonic() - start:.1f} s")
            if code not in codes:
                wrong.append(f"msiexec {action} {os.path.basename(package)} ended with {code}")
            if prefix == NATIVE and logged:
                with open(log, "rb") as f:
                    text = f.read()
                # Windows Installer writes its log as UTF-16 with a byte order mark.
                text = text.decode("utf-16") if text[:2] == b"\xff\xfe" else text.decode("latin-1")
                if logged not in text:
                    wrong.append(f"the log of msiexec {action} lacks {logged!r}")
            wrong += installation(arch, prefix, left, path_without)
    stop_wine(arch, prefix)
    return wrong


def printed(samples):
    """The samples (each after its header of # lines) answer in place of
    Windows: reg query, and RasGetErrorStringA, which refuses a buffer too
    small for the whole text."""
    def sample(name):
        with open(os.path.join(samples, name), encoding="utf-8") as f:
            return re.sub(r"\A(?:#.*\n)+", "", f.read())

    global wine
    keys = {"HKLM": sample("reg-query-machine-path.txt"), "HKCU": sample("reg-query-user-path.txt")}
    wine = lambda arch, prefix, command, **_: (0, keys[command[2][:4]].replace("\n", "\r\n"))
    os.environ.update(SystemRoot=r"C:\Windows", USERPROFILE=r"C:\Users\runneradmin",
                      ProgramFiles=r"C:\Program Files")
    wrong = []
    path = new_process_environment("win64", NATIVE)["PATH"].split(";")
    if path_entries("win64", NATIVE)[0] != r"C:\Program Files\quorvel" \
            or path[1:3] != [r"C:\Windows\system32", r"C:\Windows"] \
            or r"C:\Users\runneradmin\AppData\Local\Microsoft\WindowsApps" not in path:
        wrong.append(f"PATH reads as {path}")
    texts = {int(code): text for code, text in
             (line.split("\t", 1) for line in sample("rasgeterrorstring.txt").splitlines())}

    def get(code, buffer, size):
        text = texts.get(code, "").encode("latin-1")
        if len(text) >= size:
            return 122
        buffer.value = text
        return 0 if text else 87
    if error_texts(get) != texts:
        wrong.append(f"the error texts read are {error_texts(get)}")
    return wrong


def install(msi, arch, version, prefix):
    if prefix != NATIVE:
        shutil.rmtree(prefix, ignore_errors=True)
        wine(arch, prefix, ["wineboot", "-i"])
    return msiexec(arch, prefix, [("/i", msi, (0,), version, None)])


def upgrade(msi, arch, version, prefix, later_msi, later):
    # The downgrade is refused with 1603, cut to its low byte under Wine.
    return msiexec(arch, prefix, [
        ("/i", later_msi, (0,), later, None),
        ("/i", msi, (1603, 1603 & 0xFF), later, "A newer version of quorvel is already installed."),
        ("/x", later_msi, (0,), None, None)])


def main():
    what, path, *rest = sys.argv[1:]
    native = what in ("install", "upgrade") and rest[2] == NATIVE
    if native and sys.platform != "win32":
        print(f"check_release.py: {what} {NATIVE} uses this machine's Windows Installer and "
              f"needs Windows, not {sys.platform}")
        return 2
    if what in ("version", "install", "upgrade") and rest[0] == "win32" and not native:
        reason = why_no_32bit()
        if reason:
            print(f"this machine cannot run 32-bit programs: {reason}")
            return 77
    if what == "rebuild":
        rebuild(path, *rest)
        return 0
    if what == "reproduce":
        wrong = reproduce(path, *rest)
    elif what == "sign":
        wrong = sign(path, *rest)
    elif what == "sbom":
        wrong = sbom(path, *rest)
    elif what == "buildinfo":
        wrong = buildinfo(path)
    elif what == "winget":
        wrong = winget(path, *rest)
    elif what == "publish":
        wrong = publish(path, *rest)
    elif what == "printed":
        wrong = printed(path)
    elif what == "install":
        wrong = install(path, *rest)
    elif what == "upgrade":
        wrong = upgrade(path, *rest)
    else:
        with zipfile.ZipFile(path if what != "package" else rest[0]) as archive:
            if what == "contents":
                wrong = contents(archive, *rest)
            elif what == "verify":
                wrong = verify(archive, *rest)
            elif what == "package":
                wrong = package(path, archive, *rest[1:])
            else:
                wrong = version(archive, *rest)
    for line in wrong:
        print(f"{os.path.basename(path)}: {line}")
    print(f"{os.path.basename(path)}: {'ok' if not wrong else 'FAILED'}")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
