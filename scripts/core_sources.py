#!/usr/bin/env python3
"""Prints the sources under src/ that compile without the interpreter.

A source is pure when none of the headers it includes, followed through
the project's own includes, is Python.h or a NumPy header. The fuzz
harnesses link exactly these, so moving a file between directories needs
no edit here. Usage: core_sources.py SRC_DIR (one absolute path a line,
sorted, separated by ';' with --cmake).
"""
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
FOREIGN = ("Python.h", "numpy/")


def pure(path: Path, root: Path, memo: dict) -> bool:
    if path in memo:
        return memo[path]
    memo[path] = True  # a cycle adds nothing new
    ok = True
    for kind, name in INCLUDE.findall(path.read_text(errors="replace")):
        if name.startswith(FOREIGN):
            ok = False
            break
        if kind != '"':
            continue
        for base in (path.parent, root):
            target = base / name
            if target.is_file():
                if not pure(target.resolve(), root, memo):
                    ok = False
                break
        if not ok:
            break
    memo[path] = ok
    return ok


def main() -> int:
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    root = Path(args[0] if args else "src").resolve()
    memo: dict = {}
    found = sorted(str(p) for p in root.rglob("*.cpp") if pure(p.resolve(), root, memo))
    print((";" if "--cmake" in sys.argv else "\n").join(found))
    return 0


if __name__ == "__main__":
    sys.exit(main())
