#!/usr/bin/env python3
"""Fails on an include that reaches up or sideways between the product's folders.

A folder may include its own headers and those of any lower level. The few upward includes
the design needs are listed by file; one that is no longer there fails too, so the list stays
the truth."""
import pathlib
import re
import sys

LEVELS = {"util": 0, "services": 1, "gfx": 2, "ui": 3, "uninstall": 3, "app": 4}

ALLOWED = {
    # Widgets and dialogs take the application's instance, skin and main window.
    ("ui/window.cpp", "app/app.h"),
    ("ui/dialog.cpp", "app/app.h"),
    ("ui/message_box.cpp", "app/app.h"),
    ("ui/widget.cpp", "app/app.h"),
    # A movie draws its frames through the ui's memory DC.
    ("gfx/image_movie.cpp", "ui/memory_dc.h"),
    # The crash handler sends the report and shows the box over the main window.
    ("services/crash_dump.cpp", "uninstall/report.h"),
    ("services/crash_dump.cpp", "ui/message_box.h"),
    ("services/crash_dump.cpp", "app/app.h"),
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def violations(root):
    found, used = [], set()
    for folder, level in LEVELS.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c", ".rc"):
                continue
            name = path.relative_to(root).as_posix()
            for target, rest in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                if target == folder or target not in LEVELS or LEVELS[target] < level:
                    continue
                pair = (name, f"{target}/{rest}")
                if pair in ALLOWED:
                    used.add(pair)
                else:
                    found.append(f"{name} includes {target}/{rest}")
    found += [f"{a} no longer includes {b}: take it off the list" for a, b in sorted(ALLOWED - used)]
    return found


if __name__ == "__main__":
    problems = violations(pathlib.Path(sys.argv[1]))
    for line in problems:
        print(line)
    sys.exit(1 if problems else 0)
