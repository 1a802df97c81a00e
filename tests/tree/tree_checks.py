#!/usr/bin/env python3
"""Checks of the product's source tree as a whole; each prints what it finds and fails on any.
  includes ROOT: an include reaching up or sideways between the product's folders, beyond the
    upward includes the design needs (listed by file; a listed one no longer there fails too)
  lengths ROOT: a product function longer than LIMIT lines, braces included (comments and
    strings blanked; a brace block after a closing parenthesis at namespace or class level)
"""
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


LIMIT = 60
SCOPE = re.compile(r"\b(namespace|class|struct|enum|union)\b[^;(]*$|=\s*$|extern \"C\"")
FUNCTION = re.compile(r"\)\s*(const)?\s*(override)?\s*(noexcept)?\s*(->\s*[\w:<>]+)?\s*$")
STATEMENT = re.compile(r"\b(if|for|while|switch|catch)\s*\(")


def blank(text):
    keep_lines = lambda m: "\n" * m.group(0).count("\n")
    text = re.sub(r"/\*.*?\*/", keep_lines, text, flags=re.S)
    text = re.sub(r'L?R"\((.*?)\)"', lambda m: '""' + keep_lines(m), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r'L?"(\\.|[^"\\\n])*"', '""', text)
    return re.sub(r"L?'(\\.|[^'\\\n])*'", "''", text)


def long_functions(path):
    stack = []  # (kind, line) of each open brace
    for number, line in enumerate(blank(path.read_text(encoding="utf-8")).split("\n"), 1):
        for column, ch in enumerate(line):
            if ch == "{":
                before = line[:column]
                kind = "scope" if SCOPE.search(before) else "block"
                if (kind == "block" and FUNCTION.search(before) and not STATEMENT.search(before)
                        and all(k == "scope" for k, _ in stack)):
                    kind = "function"
                stack.append((kind, number))
            elif ch == "}" and stack:
                kind, start = stack.pop()
                if kind == "function" and number - start + 1 > LIMIT:
                    yield start, number - start + 1


def long_functions_of(root):
    return [f"{path.relative_to(root)}:{start}: {lines} lines, more than {LIMIT}"
            for folder in LEVELS for path in sorted((root / folder).rglob("*.[ch]*"))
            if path.suffix in (".cpp", ".h") for start, lines in long_functions(path)]


if __name__ == "__main__":
    check = {"includes": violations, "lengths": long_functions_of}[sys.argv[1]]
    problems = check(pathlib.Path(sys.argv[2]))
    print("\n".join(problems + [f"{len(problems)} found"]))
    sys.exit(1 if problems else 0)
