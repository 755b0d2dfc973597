#!/usr/bin/env python3
"""Reads the driver package's INF as Windows' SetupAPI would and checks it against
the package folder.

  check_inf.py <package directory> <USB vendor id> <USB product id>

- the still-image class of a 64-bit (NTamd64) package;
- the models section binds exactly the hardware id USB\\VID_vvvv&PID_pppp of the
  given ids to an install section that brings in Windows' still-image USB driver
  (sti.inf's STI.USBSection, and its service in the .Services section);
- every file copy section named by an install section exists, has a destination
  and names files the package lists and holds; every file the package holds is
  listed (the INF itself and a signing catalog aside);
- the library's InstallDirectory value is the data file's destination, with the
  trailing backslash the library expects;
- every %string% used is defined.
Prints each fault and exits 1 when there is any.
"""
import os
import re
import sys

IMAGE_CLASS = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}"
DIRIDS = {"10": "%WINDIR%", "11": "%WINDIR%\\system32", "16422": "%PROGRAMFILES%"}


def strip_comment(line):
    quoted = False
    for index, char in enumerate(line):
        if char == '"':
            quoted = not quoted
        elif char == ";" and not quoted:
            return line[:index]
    return line


def parse(text):
    sections = {}
    current = None
    pending = ""
    for raw in text.splitlines():
        line = strip_comment(pending + raw).strip()
        pending = ""
        if line.endswith("\\") and not line.endswith('\\"'):
            pending = line[:-1]
            continue
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].strip().lower()
            sections.setdefault(current, [])
            continue
        if current is not None:
            sections[current].append(line)
    return sections


def entries(lines):
    """key = value lines as (key, [fields]); lines without '=' as (line, [])."""
    result = []
    for line in lines:
        key, sep, value = line.partition("=")
        fields = [f.strip().strip('"') for f in value.split(",")] if sep else []
        result.append((key.strip().strip('"'), fields))
    return result


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    package, vendor, product = argv[1], int(argv[2], 0), int(argv[3], 0)
    inf_path = os.path.join(package, "qrx7730.inf")
    faults = []
    raw = open(inf_path, "rb").read()
    if b"\r\n" not in raw or re.search(rb"(?<!\r)\n", raw):
        faults.append("the INF's lines do not all end in CR LF")
    sections = parse(raw.decode("ascii"))

    def section(name):
        return sections.get(name.lower())

    def value(name, key):
        for k, fields in entries(section(name) or []):
            if k.lower() == key.lower():
                return fields
        return None

    version = section("Version")
    if version is None:
        print("FAIL: no [Version] section")
        return 1
    if (value("Version", "Signature") or [""])[0].lower() != "$windows nt$":
        faults.append("Signature is not $Windows NT$")
    if (value("Version", "Class") or [""])[0] != "Image":
        faults.append("Class is not Image")
    if (value("Version", "ClassGUID") or [""])[0].lower() != IMAGE_CLASS:
        faults.append("ClassGUID is not the still-image class " + IMAGE_CLASS)
    catalog = (value("Version", "CatalogFile") or [""])[0]

    # The models: one NTamd64 models section binding exactly our hardware id.
    expected_id = "USB\\VID_%04X&PID_%04X" % (vendor, product)
    manufacturer = entries(section("Manufacturer") or [])
    if len(manufacturer) != 1 or len(manufacturer[0][1]) < 2 or \
            manufacturer[0][1][1].lower() != "ntamd64":
        faults.append("[Manufacturer] does not name one models section for NTamd64")
        return report(faults)
    models_name = manufacturer[0][1][0] + ".NTamd64"
    models = entries(section(models_name) or [])
    hardware_ids = [fields[1] for _, fields in models if len(fields) >= 2]
    if hardware_ids != [expected_id]:
        faults.append("[%s] binds %s, not exactly %s" % (models_name, hardware_ids, expected_id))
        return report(faults)
    print("hardware id: %s (vendor 0x%04x, product 0x%04x)" % (hardware_ids[0], vendor, product))
    install = models[0][1][0]
    if section(install) is None or section(install + ".Services") is None:
        faults.append("install section %s or its .Services section is missing" % install)
        return report(faults)
    for name, needs in ((install, "STI.USBSection"), (install + ".Services", "STI.USBSection.Services")):
        if [f.lower() for f in value(name, "Include") or []] != ["sti.inf"] or \
                needs not in (value(name, "Needs") or []):
            faults.append("[%s] does not bring in sti.inf's %s" % (name, needs))
    if (value(install, "SubClass") or [""])[0] != "StillImage":
        faults.append("[%s] is not SubClass=StillImage" % install)

    # File copies of the device install and of DefaultInstall, and their removal.
    listed = {k.lower(): k for k, _ in entries(section("SourceDisksFiles") or [])}
    destinations = {k.lower(): f for k, f in entries(section("DestinationDirs") or [])}
    copy_sections = set()
    for name, directive in ((install, "CopyFiles"), ("DefaultInstall.NTamd64", "CopyFiles"),
                            ("DefaultUninstall.NTamd64", "DelFiles")):
        if section(name) is None:
            faults.append("no [%s] section" % name)
            continue
        named = value(name, directive) or []
        if not named:
            faults.append("[%s] has no %s" % (name, directive))
        copy_sections.update(n.lower() for n in named)
    if value(install, "CopyFiles") and value("DefaultInstall.NTamd64", "CopyFiles"):
        if sorted(value(install, "CopyFiles")) != sorted(value("DefaultInstall.NTamd64", "CopyFiles")):
            faults.append("the device install and DefaultInstall copy different files")
    copied = {}
    for name in sorted(copy_sections):
        if section(name) is None:
            faults.append("copy section [%s] is missing" % name)
            continue
        target = destinations.get(name) or destinations.get("defaultdestdir")
        if not target:
            faults.append("copy section [%s] has no destination" % name)
            continue
        for line in section(name):
            file_name = line.split(",")[0].strip()
            copied[file_name.lower()] = (name, target)
            if file_name.lower() not in listed:
                faults.append("%s (in [%s]) is not in [SourceDisksFiles]" % (file_name, name))
            if not os.path.isfile(os.path.join(package, file_name)):
                faults.append("%s (in [%s]) is not in the package" % (file_name, name))
            print("copies %-14s to DIRID %s" % (file_name, ",".join(target)))
    held = {f.lower(): f for f in os.listdir(package)}
    for lower, name in listed.items():
        if lower not in held:
            faults.append("[SourceDisksFiles] lists %s, which the package lacks" % name)
        if lower not in copied:
            faults.append("[SourceDisksFiles] lists %s, which no section copies" % name)
    for lower, name in held.items():
        if lower not in listed and lower not in ("qrx7730.inf", catalog.lower()):
            faults.append("the package holds %s, which the INF does not name" % name)
    # Where the library, its hosts and the TWAIN source manager look.
    for name, where in (("qrx7730l.dll", ["11"]), ("qrx7730.ds", ["10", "twain_64"])):
        if name in copied and [w.lower() for w in copied[name][1]] != [w.lower() for w in where]:
            faults.append("%s goes to DIRID %s, not %s" % (name, ",".join(copied[name][1]),
                                                          ",".join(where)))
    if "qrx7730l.dll" not in copied:
        faults.append("the INF does not copy QRX7730L.DLL")
    if catalog and catalog.lower() not in held:
        print("note: CatalogFile %s is not in the package (unsigned: a signing step makes it)"
              % catalog)

    # The library looks for its data file in InstallDirectory: the data's destination.
    data = copied.get("qrx7730n.dat")
    registry = [[f.strip().strip('"') for f in line.split(",")]
                for name in (value(install, "AddReg") or []) for line in section(name) or []]
    install_directory = [f for f in registry if len(f) >= 5 and f[2] == "InstallDirectory"]
    if not install_directory or data is None:
        faults.append("no InstallDirectory value, or no data file copied")
    else:
        written = install_directory[0][4]
        dirid, *sub = data[1]
        expected = "%" + dirid + "%" + "".join("\\" + s for s in sub) + "\\"
        if written != expected:
            faults.append("InstallDirectory is %r, but the data file goes to %r" % (written, expected))
        if install_directory[0][1].lower() != "software\\wow6432node\\quarn\\imagent\\devices\\qrx7730":
            faults.append("InstallDirectory is not written in the 32-bit view of the library's key")
        print("InstallDirectory = %s (%s)" % (written, expected.replace("%" + dirid + "%",
                                                                        DIRIDS.get(dirid, dirid))))

    # Every %string% is a DIRID or defined in [Strings].
    strings = {k.lower() for k, _ in entries(section("Strings") or [])}
    for name, lines in sections.items():
        if name == "strings":
            continue
        for line in lines:
            for token in re.findall(r"%([^%\s]+)%", line.replace("$Windows NT$", "")):
                if not token.isdigit() and token.lower() not in strings:
                    faults.append("%%%s%% in [%s] is not defined" % (token, name))
    return report(faults)


def report(faults):
    for fault in faults:
        print("FAIL: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
