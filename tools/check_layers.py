#!/usr/bin/env python3
"""Fails when a file under src/ includes from a higher floor than its own, or when a portable
file leans on Windows.

Floors from the bottom up; folders on one floor may include each other. A lower floor that
needs something from a higher one must receive it as an argument instead.

A layer's files that build only for Windows lie in its win/ folder; every other file builds
natively too, so it may include neither a win/ header nor a Windows system header.
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
    {"cli", "programs", "lv2"},
]
FLOOR_OF = {folder: level for level, folders in enumerate(FLOORS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/([^"]*)"')
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s*<([^>]+)>")
# The Windows SDK's headers our code uses; a portable file naming one would not build natively.
WINDOWS_HEADERS = {
    "windows.h", "windef.h", "winbase.h", "winuser.h", "wingdi.h", "objbase.h", "unknwn.h",
    "ole2.h", "oleauto.h", "olectl.h", "strmif.h", "dshow.h", "uuids.h", "mmreg.h", "mmsystem.h",
    "ks.h", "ksmedia.h", "shlobj.h", "shellapi.h", "shlwapi.h", "commctrl.h", "gdiplus.h",
    "exdisp.h", "mshtml.h", "mshtmhst.h", "oaidl.h", "ocidl.h", "wtypes.h", "guiddef.h",
    "initguid.h", "tchar.h", "process.h", "io.h", "direct.h",
}


def windows_only(relative: pathlib.PurePath) -> bool:
    return "win" in relative.parts[:-1]


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".c", ".rc", ".hpp", ".in"}:
            continue
        relative = path.relative_to(src)
        own = relative.parts[0]
        if own not in FLOOR_OF:
            faults.append(f"{path}: folder '{own}' has no floor")
            continue
        portable = not windows_only(relative)
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            system = SYSTEM_INCLUDE.match(line)
            if system and portable and system.group(1).lower() in WINDOWS_HEADERS:
                faults.append(f"{path}:{number}: a portable file includes <{system.group(1)}>;"
                              " it belongs in a win/ folder")
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target not in FLOOR_OF:
                continue  # not one of ours ("gtest/gtest.h" and the like)
            if FLOOR_OF[target] > FLOOR_OF[own]:
                faults.append(f"{path}:{number}: '{own}' includes from the higher floor '{target}'")
            if portable and windows_only(pathlib.PurePath(target, match.group(2))):
                faults.append(f"{path}:{number}: a portable file includes the Windows-only"
                              f" '{target}/{match.group(2)}'")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) break the layout")
        return 1
    print("every include points down the floors, and portable files stay portable")
    return 0


if __name__ == "__main__":
    sys.exit(main())
