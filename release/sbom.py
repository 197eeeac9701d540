#!/usr/bin/env python3
"""The release's bill of materials and build environment:
sbom.py VERSION EPOCH FOLDER NOTICES ZIP... writes FOLDER/BUILDINFO and
FOLDER/quorvel-VERSION.spdx.json (SPDX 2.3) for the zips given, the
packages beside them in FOLDER and the exes unpacked there from the zips,
with what each exe carries from others as NOTICES/<arch>/components.json
gives it. Both come out byte for byte the same from the same inputs."""
import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
import uuid

PUBLISHER = "The quorvel developers"
TRIPLETS = {"win32": "i686", "win64": "x86-64"}


def tools(arch):
    """The Debian packages whose versions change the bytes of each kind of
    file, for one architecture: compilers, binutils, the mingw-w64 headers
    and runtime; CPack and what writes and normalises the zips; wixl and
    what writes the packages' database, cabinet and summary."""
    t = TRIPLETS[arch]
    return {"exe": [f"gcc-mingw-w64-{t}-posix", f"g++-mingw-w64-{t}-posix",
                    f"binutils-mingw-w64-{t}", f"mingw-w64-{t}-dev", "mingw-w64-common", "cmake"],
            "zip": ["cmake", "libarchive13", "zlib1g", "strip-nondeterminism",
                    "libfile-stripnondeterminism-perl", "libarchive-zip-perl"],
            "msi": ["wixl", "msitools", "libmsi0", "libgcab-1.0-0", "libgsf-1-114",
                    "python3-olefile"]}


def installed(packages):
    """[(as dpkg-query -W names it, package, version, architecture)]."""
    done = subprocess.run(["dpkg-query", "-W", "-f",
                           "${binary:Package}\t${Package}\t${Version}\t${Architecture}\n"]
                          + sorted(packages), capture_output=True, text=True)
    if done.returncode:
        sys.exit(f"sbom: {done.stderr.strip()} (a build tool release/sbom.py names)")
    # A library installed for another architecture too (for Wine) is not
    # the one the tools load.
    native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                            check=True).stdout.strip()
    return sorted(tuple(line.split("\t")) for line in done.stdout.splitlines()
                  if line.split("\t")[3] in (native, "all"))


def purl(package, version, arch):
    return f"pkg:deb/debian/{package}@{urllib.parse.quote(version, safe='')}?arch={arch}"


def spdx_id(*parts):
    return "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", "-".join(parts))


def checksums(path):
    data = open(path, "rb").read()
    return [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
            {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}]


def debian(name, package, version, arch, ids, **fields):
    """An SPDX package for a Debian package, or a file from one."""
    return dict({"SPDXID": ids, "name": name, "versionInfo": version,
                 "supplier": "Organization: Debian", "downloadLocation": "NOASSERTION",
                 "filesAnalyzed": False,
                 "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                                   "referenceLocator": purl(package, version, arch)}]}, **fields)


def document(version, epoch, folder, notices, zips):
    name = f"quorvel-{version}"
    files, packages, relations, extracted = [], [], [], {}
    made = {}
    for path in zips:
        arch = re.search(r"-(win32|win64)\.zip$", path)[1]
        shipped = {"exe": os.path.join(folder, f"{name}-{arch}", "quorvel.exe"), "zip": path,
                   "msi": os.path.join(folder, f"{name}-{arch}.msi")}
        ids = {}
        for kind, file in shipped.items():
            relative = os.path.relpath(file, folder) if kind != "zip" else os.path.basename(file)
            ids[kind] = spdx_id("File", relative.replace("/", "-"))
            files.append({"SPDXID": ids[kind], "fileName": "./" + relative,
                          "fileTypes": ["ARCHIVE" if kind != "exe" else "BINARY"],
                          "checksums": checksums(file)})
            for tool in tools(arch)[kind]:
                made.setdefault(tool, []).append(ids[kind])
        relations += [(ids["zip"], "CONTAINS", ids["exe"]), (ids["msi"], "CONTAINS", ids["exe"])]
        for c in json.load(open(os.path.join(notices, arch, "components.json"))):
            own = spdx_id("Package", arch, c["name"])
            packages.append(debian(
                c["name"], c["package"], c["version"], c["architecture"], own,
                primaryPackagePurpose="LIBRARY", licenseConcluded=c["license"],
                licenseDeclared=c["license"], copyrightText=c["copyright"],
                comment=f"{c['path']} of Debian package {c['package']}, " + (
                    "linked in: " if c["relationship"] == "STATIC_LINK" else
                    "compiled in from its headers: ") + " ".join(c["members"])))
            relations.append((ids["exe"], c["relationship"], own))
            extracted.update({k: v for k, v in c["licenses"].items() if k not in extracted})
    for _, package, package_version, arch in installed(made):
        own = spdx_id("Package", "deb", package)
        packages.append(debian(package, package, package_version, arch, own,
                               licenseConcluded="NOASSERTION", licenseDeclared="NOASSERTION",
                               copyrightText="NOASSERTION"))
        relations += [(own, "BUILD_TOOL_OF", target) for target in made[package]]
    sha1s = sorted(f["checksums"][0]["checksumValue"] for f in files)
    quorvel = {"SPDXID": "SPDXRef-Package-quorvel", "name": "quorvel", "versionInfo": version,
               "supplier": f"Organization: {PUBLISHER}", "downloadLocation": "NOASSERTION",
               "filesAnalyzed": True, "primaryPackagePurpose": "APPLICATION",
               "packageVerificationCode": {"packageVerificationCodeValue":
                                           hashlib.sha1("".join(sha1s).encode()).hexdigest()},
               "hasFiles": [f["SPDXID"] for f in files],
               "licenseConcluded": "MIT", "licenseDeclared": "MIT",
               "copyrightText": f"Copyright (c) 2026 {PUBLISHER}"}
    relations.insert(0, ("SPDXRef-DOCUMENT", "DESCRIBES", quorvel["SPDXID"]))
    created = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch)))
    doc = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
           "name": name,
           "creationInfo": {"created": created,
                            "creators": [f"Organization: {PUBLISHER}",
                                         f"Tool: quorvel-release-{version}"]},
           "packages": [quorvel] + packages, "files": files,
           "hasExtractedLicensingInfos": [{"licenseId": k, "name": k[len("LicenseRef-"):],
                                           "extractedText": v}
                                          for k, v in sorted(extracted.items())],
           "relationships": [{"spdxElementId": a, "relationshipType": kind,
                              "relatedSpdxElement": b} for a, kind, b in relations]}
    # The namespace names this very content, so that a rebuild gives the
    # same document and any other content another namespace.
    digest = hashlib.sha256(json.dumps(doc, sort_keys=True).encode()).hexdigest()
    doc["documentNamespace"] = (f"https://spdx.org/spdxdocs/{name}-"
                                f"{uuid.uuid5(uuid.NAMESPACE_URL, digest)}")
    return doc, made


def main():
    version, epoch, folder, notices, *zips = sys.argv[1:]
    doc, made = document(version, epoch, folder, notices, zips)
    with open(os.path.join(folder, f"quorvel-{version}.spdx.json"), "w") as out:
        json.dump(doc, out, indent=2)
        out.write("\n")
    release = open("/etc/debian_version").read().strip()
    with open(os.path.join(folder, "BUILDINFO"), "w") as out:
        out.write(f"Debian\t{release}\n")
        out.writelines(f"{listed}\t{package_version}\n"
                       for listed, _, package_version, _ in installed(made))


if __name__ == "__main__":
    main()
