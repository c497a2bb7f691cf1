"""lang.ini beside the program: the interface texts by their English key.

Stored as UTF-16LE with a byte order mark, the form the wide profile functions
read beyond the ANSI code page.  Sections: "0409" (US English, the last
fall-back of every lookup) and "07", German: the primary-language section that
every German locale (0407, 0807, 0c07, ...) falls back to.  A value of one
character counts as missing, so every text here is longer.
"""

import os
import sys

# (key, English, German): the keys are the texts the program looks up.
TEXTS = (
    ("Help", "Help", "Hilfe"),
    ("Minimize", "Minimize", "Minimieren"),
    ("Close", "Close", "Schlie\u00dfen"),
    ("ShowMenu", "Menu", "Men\u00fc"),
    ("Capture", "Record", "Aufnehmen"),
    ("About Corvessa", "About Corvessa", "\u00dcber Corvessa"),
    ("Select Device", "Select Device", "Ger\u00e4t w\u00e4hlen"),
    ("Voices", "Voices", "Stimmen"),  # the category name of Effects/Voices.cef
)
SECTIONS = (("0409", 1), ("07", 2))


def text():
    lines = []
    for section, column in SECTIONS:
        lines.append("[%s]" % section)
        lines += ["%s=%s" % (row[0], row[column]) for row in TEXTS]
        lines.append("")
    return "\r\n".join(lines)


def generate(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, "lang.ini")
    with open(path + ".tmp", "wb") as f:
        f.write(b"\xff\xfe" + text().encode("utf-16-le"))
    os.replace(path + ".tmp", path)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: lang.py OUT_DIR", file=sys.stderr)
        sys.exit(2)
    try:
        generate(sys.argv[1])
    except OSError as e:
        print("lang.py: %s" % e, file=sys.stderr)
        sys.exit(1)
