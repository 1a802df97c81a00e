#!/usr/bin/env python3
"""Fails on a function of the product's folders longer than LIMIT lines, its braces included.

Comments, strings and characters are blanked first, so their braces do not count; a function
is a brace block after a closing parenthesis at namespace or class level. Lambdas count with
the function they are written in."""
import pathlib
import re
import sys

LIMIT = 60
FOLDERS = ("app", "uninstall", "ui", "gfx", "services", "util")
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


def main():
    root = pathlib.Path(sys.argv[1])
    found = [(f"{path.relative_to(root)}:{start}", lines)
             for folder in FOLDERS for path in sorted((root / folder).rglob("*.[ch]*"))
             if path.suffix in (".cpp", ".h") for start, lines in long_functions(path)]
    for where, lines in found:
        print(f"{where}: {lines} lines, more than {LIMIT}")
    print(f"{len(found)} functions longer than {LIMIT} lines")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
