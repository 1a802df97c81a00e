#!/usr/bin/env python3
"""Checks that kvUninstall.exe exports every name the *.txt lists beside this script name.

A list line is either a free function ("GetCurPath"), which must be exported under exactly that
plain name, or a class member ("CKvThread::StartThread", "CKvThread::CKvThread" for the
constructor), which must be exported as a C++ member of that class under any signature, or a
decorated name ("_ZN7CKvSkin13GetThemesPathEPw"), which must be exported exactly so: the members
whose parameter lists other programs bind. Blank lines and lines starting with # are ignored.

The plain (undecorated) names of the export table and the names of prototypes.inc must be the
same set: every exported free function has its parameter list written down there.
"""
import pathlib
import re
import subprocess
import sys


def exported_names(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True,
                         capture_output=True, text=True).stdout
    names = set()
    in_table = False
    for line in out.splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            in_table = True
            continue
        if in_table:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                break
            names.add(m.group(1))
    return names


def mangled_prefix(cls, member):
    # Itanium mangling, as MinGW's g++ writes it: _ZN <len>Class <len>Member ... or C1/D1.
    head = f"_ZN{len(cls)}{cls}"
    if member == cls:
        return head + "C"
    if member == "~" + cls:
        return head + "D"
    return f"{head}{len(member)}{member}"


def main():
    exe, folder = sys.argv[1], pathlib.Path(sys.argv[2])
    names = exported_names(exe)
    wanted, missing = 0, []
    for listing in sorted(folder.glob("*.txt")):
        for raw in listing.read_text(encoding="utf-8").splitlines():
            entry = raw.strip()
            if not entry or entry.startswith("#"):
                continue
            wanted += 1
            if entry.startswith("_Z"):
                ok = entry in names
            elif "::" in entry:
                cls, member = entry.split("::", 1)
                prefix = mangled_prefix(cls, member)
                ok = any(n.startswith(prefix) for n in names)
            else:
                ok = entry in names
            if not ok:
                missing.append(f"{listing.name}: {entry}")
    prototypes = set(re.findall(r"^KV_PROTOTYPE\([^,]+,\s*(\w+),",
                                (folder / "prototypes.inc").read_text(encoding="utf-8"), re.M))
    plain = {n for n in names if not n.startswith("_Z")}
    wanted += len(plain | prototypes)
    for n in sorted(plain - prototypes):
        missing.append(f"prototypes.inc: exported {n} has no prototype")
    for n in sorted(prototypes - plain):
        missing.append(f"prototypes.inc: {n} is not exported")
    for m in missing:
        print("not exported:", m)
    print(f"{wanted - len(missing)} passed, {len(missing)} failed")
    return 1 if missing or wanted == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
