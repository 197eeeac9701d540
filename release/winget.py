#!/usr/bin/env python3
"""winget manifests of one release: winget.py VERSION URL FOLDER SOURCE
writes the version, installer and en-US defaultLocale manifests of both
Windows Installer packages in FOLDER, to be published at URL (a folder's
address), under FOLDER/winget/ in the community repository's layout.
Hashes, product codes and the names Add/Remove Programs shows are read from
the packages themselves; the description is the first paragraph of
SOURCE/README.md. The same inputs give the same bytes."""
import hashlib
import os
import re
import shutil
import subprocess
import sys

import yaml

# Publisher.Package: the publisher has no name beyond the project's, as
# with other projects published by their own developers. It must never
# change: winget takes another identifier for another package.
IDENTIFIER = "quorvel.quorvel"
MANIFEST_VERSION = "1.10.0"
ARCHITECTURES = {"win32": "x86", "win64": "x64"}
SCHEMA = "https://aka.ms/winget-manifest.{}.1.10.0.schema.json"


def properties(msi):
    table = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True,
                           text=True, check=True).stdout.splitlines()[3:]
    return dict(line.split("\t", 1) for line in table)


def first_paragraph(readme):
    """The README's first paragraph after its title, as plain text."""
    text = open(readme, encoding="utf-8").read().split("\n\n")[1]
    return " ".join(text.replace("`", "").split())


def write(path, kind, fields):
    with open(path, "w", encoding="utf-8") as out:
        out.write(f"# yaml-language-server: $schema={SCHEMA.format(kind)}\n\n")
        yaml.safe_dump(dict(fields, ManifestType=kind, ManifestVersion=MANIFEST_VERSION), out,
                       sort_keys=False, allow_unicode=True, width=1000)


def main():
    version, url, folder, source = sys.argv[1:]
    if not re.fullmatch(r"[Hh][Tt][Tt][Pp][Ss]?://\S+", url):
        sys.exit(f"winget: QUORVEL_DOWNLOAD_URL must be an http:// or https:// address, "
                 f"not '{url}'")
    url = url.rstrip("/") + "/"
    package = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    installers = []
    for arch, architecture in ARCHITECTURES.items():
        name = f"quorvel-{version}-{arch}.msi"
        msi = os.path.join(folder, name)
        found = properties(msi)
        installers.append({
            "Architecture": architecture, "InstallerUrl": url + name,
            "InstallerSha256": hashlib.sha256(open(msi, "rb").read()).hexdigest().upper(),
            "ProductCode": found["ProductCode"],
            # So that winget knows an install made with the package itself.
            "AppsAndFeaturesEntries": [{
                "DisplayName": found["ProductName"], "Publisher": found["Manufacturer"],
                "DisplayVersion": found["ProductVersion"], "ProductCode": found["ProductCode"],
                "UpgradeCode": found["UpgradeCode"]}]})
    top = os.path.join(folder, "winget")
    shutil.rmtree(top, ignore_errors=True)
    publisher_part, package_part = IDENTIFIER.split(".", 1)
    out = os.path.join(top, "manifests", IDENTIFIER[0].lower(), publisher_part, package_part,
                       version)
    os.makedirs(out)
    write(os.path.join(out, f"{IDENTIFIER}.yaml"), "version",
          dict(package, DefaultLocale="en-US"))
    write(os.path.join(out, f"{IDENTIFIER}.installer.yaml"), "installer", dict(
        package, InstallerType="msi", Scope="machine",
        InstallModes=["interactive", "silent", "silentWithProgress"],
        InstallerSwitches={"Silent": "/quiet /norestart", "SilentWithProgress": "/passive /norestart"},
        UpgradeBehavior="install", Commands=["quorvel"], Installers=installers))
    copyright = next(line for line in open(os.path.join(source, "LICENSE"), encoding="utf-8")
                     if line.startswith("Copyright")).strip()
    write(os.path.join(out, f"{IDENTIFIER}.locale.en-US.yaml"), "defaultLocale", dict(
        package, PackageLocale="en-US", Publisher=found["Manufacturer"],
        PackageName=found["ProductName"], License="MIT", LicenseUrl=url + "LICENSE.txt",
        Copyright=copyright, ShortDescription=found["ARPCOMMENTS"],
        Description=first_paragraph(os.path.join(source, "README.md")), Moniker="quorvel",
        Tags=["ras", "vpn", "dial-up", "remote-access", "command-line"]))


if __name__ == "__main__":
    main()
