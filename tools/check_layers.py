#!/usr/bin/env python3
"""Fails when a file under src/ includes from a higher floor than its own.

Floors from the bottom up; folders on one floor may include each other. A lower floor that
needs something from a higher one must receive it as an argument instead.
"""
import pathlib
import re
import sys

FLOORS = [
    {"dsp"},
    {"effects"},
    {"streaming"},
    {"filter"},
    {"encoder", "platform", "soundserver"},
    {"capture"},
    {"winbase"},
    {"skin"},
    {"ui"},
    {"app"},
    {"cli", "programs"},
]
FLOOR_OF = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".c", ".rc", ".hpp"}:
            continue
        own = path.relative_to(src).parts[0]
        if own not in FLOOR_OF:
            faults.append(f"{path}: folder '{own}' has no floor")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target not in FLOOR_OF:
                continue  # not one of ours ("gtest/gtest.h" and the like)
            if FLOOR_OF[target] > FLOOR_OF[own]:
                faults.append(f"{path}:{number}: '{own}' includes from the higher floor '{target}'")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) point up the floors")
        return 1
    print("every include points down the floors")
    return 0


if __name__ == "__main__":
    sys.exit(main())
