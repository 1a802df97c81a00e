#!/usr/bin/env python3
"""kvUninstall.exe's export table against what other programs bind by name: each free function of
kvuninstall_functions.inc under its plain name and nothing plain beside them; each member listed in
members.txt as a C++ member of its class, under any signature; the decorated names listed exactly."""
import pathlib
import re
import subprocess
import sys

exe, folder, functions = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
table = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True, capture_output=True,
                       text=True).stdout.split("[Ordinal/Name Pointer] Table", 1)[-1]
names = set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", table, re.M))
missing = []
for line in (folder / "members.txt").read_text(encoding="utf-8").splitlines():
    if line.startswith("_Z"):
        missing += [] if line in names else [line]
    elif line and not line.startswith("#"):
        cls, members = line.split(":", 1)
        for m in members.split():
            # As MinGW's g++ mangles: _ZN, <length>Class, then C or D for constructors and
            # destructors, <length>Member for the others.
            tail = "C" if m == cls else "D" if m == "~" + cls else f"{len(m)}{m}"
            if not any(n.startswith(f"_ZN{len(cls)}{cls}{tail}") for n in names):
                missing.append(f"{cls}::{m}")
prototypes = set(re.findall(r"^KV_PROTOTYPE\([^,]+,\s*(\w+),", functions.read_text(encoding="utf-8"), re.M))
plain = {n for n in names if not n.startswith("_Z")}
missing += [f"{n} (exported without a prototype)" for n in sorted(plain - prototypes)]
missing += [f"{n} (prototype, not exported)" for n in sorted(prototypes - plain)]
for m in missing:
    print("not as bound:", m)
print(f"{len(names)} exports, {len(prototypes)} prototypes, {len(missing)} mismatches")
sys.exit(1 if missing or not prototypes else 0)
