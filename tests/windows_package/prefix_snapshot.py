#!/usr/bin/env python3
"""What a Wine prefix holds, to tell what an installation left behind.

  prefix_snapshot.py take <prefix> <snapshot file>
      writes every file and directory under drive_c (but the temporary folders,
      which programs fill as they run) and every registry key and value of the
      machine and the user, one per line, sorted
  prefix_snapshot.py compare <before> <after> [--allow REGEX]...
      prints each line the second snapshot has and the first has not, or lost,
      and exits 1 if any of them is not matched by an --allow pattern

Registry files are read as Wine writes them: '[key] stamp' headers, '#' lines,
'"name"=value' or '@=value' lines, values continued with a trailing backslash.
"""
import os
import re
import sys

TEMPORARY = re.compile(r"(^|/)(windows/temp|users/[^/]+/(AppData/Local/)?Temp)(/|$)", re.I)
# Keys Wine itself rewrites whenever a program runs or the prefix starts (caches,
# window-system state, the display adapters, monitors and network cards it finds).
VOLATILE_KEY = re.compile(
    r"^(HKLM|HKCU)\\(Software\\Wine\\|System\\CurrentControlSet\\Services\\Eventlog|"
    r"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\|"
    r"Software\\Classes\\Local Settings\\|Software\\Wow6432Node\\Classes\\Local Settings\\|"
    r"System\\CurrentControlSet\\Control\\Session Manager\\Environment$|"
    r"Volatile Environment|Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib|"
    r"Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards|"
    r"System\\CurrentControlSet\\Control\\Class\\\{4D36E96[8E]-)",
    re.I)


def registry_lines(path, root):
    lines = []
    key = None
    pending = ""
    with open(path, encoding="utf-8", errors="replace") as handle:
        for raw in handle:
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\") and not line.startswith("["):
                pending = line[:-1]
                continue
            if line.startswith("["):
                name = line[1:line.rindex("]")].replace("\\\\", "\\")
                key = root + "\\" + name
                if not VOLATILE_KEY.match(key):
                    lines.append("key " + key)
                continue
            if key is None or not line or line.startswith("#") or line.startswith(";"):
                continue
            if VOLATILE_KEY.match(key):
                continue
            lines.append("value " + key + " :: " + line.strip())
    return lines


def take(prefix, out):
    entries = []
    drive = os.path.join(prefix, "drive_c")
    for directory, dirs, files in os.walk(drive):
        relative = os.path.relpath(directory, drive)
        relative = "" if relative == "." else relative + "/"
        for name in sorted(dirs):
            if not TEMPORARY.search(relative + name):
                entries.append("dir " + relative + name)
        for name in sorted(files):
            if not TEMPORARY.search(relative + name):
                entries.append("file " + relative + name)
        dirs[:] = [d for d in dirs if not TEMPORARY.search(relative + d)]
    entries += registry_lines(os.path.join(prefix, "system.reg"), "HKLM")
    entries += registry_lines(os.path.join(prefix, "user.reg"), "HKCU")
    with open(out, "w", encoding="utf-8") as handle:
        handle.write("\n".join(sorted(set(entries))) + "\n")


def compare(before_path, after_path, allowed):
    with open(before_path, encoding="utf-8") as handle:
        before = set(handle.read().splitlines())
    with open(after_path, encoding="utf-8") as handle:
        after = set(handle.read().splitlines())
    unexplained = 0
    for sign, lines in (("+", sorted(after - before)), ("-", sorted(before - after))):
        for line in lines:
            if any(re.search(pattern, line) for pattern in allowed):
                print("  (allowed) %s %s" % (sign, line))
            else:
                print("  %s %s" % (sign, line))
                unexplained += 1
    return 1 if unexplained else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "take":
        take(argv[2], argv[3])
        return 0
    if len(argv) >= 4 and argv[1] == "compare":
        allowed = []
        rest = argv[4:]
        while rest:
            if rest[0] != "--allow" or len(rest) < 2:
                break
            allowed.append(rest[1])
            rest = rest[2:]
        else:
            return compare(argv[2], argv[3], allowed)
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
