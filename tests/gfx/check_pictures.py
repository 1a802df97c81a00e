#!/usr/bin/env python3
"""The committed pictures are byte for byte what the generator draws, each id's PNG in its layout's size."""
import pathlib, struct, subprocess, sys, tempfile

SIZES = {60001: (69, 21), 60002: (69, 21), 60003: (69, 21), 60004: (69, 21), 60006: (38, 18), 60007: (38, 18),
         60008: (38, 18), 60026: (279, 23), 60027: (137, 157), 60051: (186, 150), 60052: (437, 141),
         60056: (32, 32), 60057: (32, 32), 60061: (256, 80), 60073: (87, 29), 60074: (87, 29)}


def main():
    generator, committed = sys.argv[1], pathlib.Path(sys.argv[2])
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run([sys.executable, generator, scratch], check=True)
        made = sorted(pathlib.Path(scratch).iterdir())
        failures = [] if made else ["the generator wrote nothing"]
        failures += [f"{f.name}: not committed as the generator draws it" for f in made
                     if not (committed / f.name).exists() or (committed / f.name).read_bytes() != f.read_bytes()]
    rc = (committed / "kvUninstall.rc").read_text(encoding="utf-8").splitlines()
    for ident, (w, h) in SIZES.items():
        lines = [l for l in rc if l.startswith(f"{ident} IMG ")]
        head = (committed / lines[0].split('"')[1]).read_bytes()[:24] if len(lines) == 1 else b""
        if head[:8] != b"\x89PNG\r\n\x1a\n" or struct.unpack(">II", head[16:24]) != (w, h):
            failures.append(f"{ident}: {len(lines)} lines in kvUninstall.rc, not one {w} x {h} PNG")
    print("\n".join(failures + [f"{len(SIZES)} pictures checked, {len(failures)} failures"]))
    return 1 if failures else 0


sys.exit(main())
