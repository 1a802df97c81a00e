#!/usr/bin/env python3
"""Holds kvUninstall.exe's export table against what other programs bind by name: every free
function of tools/sdk/kvuninstall_functions.inc under exactly its plain name and nothing plain beside them; every class
member of members.txt as a C++ member of its class, under any signature; and the decorated names
listed there exactly so."""
import pathlib
import re
import subprocess
import sys


def exported_names(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True, capture_output=True,
                         text=True).stdout
    table = out.split("[Ordinal/Name Pointer] Table", 1)[-1]
    return set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", table, re.M))


def member_prefix(cls, member):
    # Itanium mangling, as MinGW's g++ writes it: _ZN <len>Class <len>Member..., C/D for the
    # constructors and destructors.
    head = f"_ZN{len(cls)}{cls}"
    if member in (cls, "~" + cls):
        return head + ("C" if member == cls else "D")
    return f"{head}{len(member)}{member}"


def main():
    exe, folder = sys.argv[1], pathlib.Path(sys.argv[2])
    names = exported_names(exe)
    missing = []
    for line in (folder / "members.txt").read_text(encoding="utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        if line.startswith("_Z"):
            missing += [] if line in names else [line]
            continue
        cls, members = line.split(":", 1)
        missing += [f"{cls}::{m}" for m in members.split()
                    if not any(n.startswith(member_prefix(cls, m)) for n in names)]
    prototypes = set(re.findall(r"^KV_PROTOTYPE\([^,]+,\s*(\w+),",
                                (pathlib.Path(sys.argv[3])).read_text(encoding="utf-8"), re.M))
    plain = {n for n in names if not n.startswith("_Z")}
    missing += [f"{n} (exported without a prototype)" for n in sorted(plain - prototypes)]
    missing += [f"{n} (prototype, not exported)" for n in sorted(prototypes - plain)]
    for m in missing:
        print("not as bound:", m)
    print(f"{len(names)} exports, {len(prototypes)} prototypes, {len(missing)} mismatches")
    return 1 if missing or not prototypes else 0


if __name__ == "__main__":
    sys.exit(main())
