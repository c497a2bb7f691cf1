#!/usr/bin/env python3
"""Plant one small fault at a time in the portable sources and see whether the tests notice.

For every mutant the file is changed on disk, the native build is rebuilt incrementally, ctest
runs, and the file is put back (always: also on Ctrl-C, SIGTERM or an exception). Outcomes:

  killed          the build passed and at least one test failed or timed out
  survived        the build passed and every test passed
  not compiling   the build failed (the mutant is not counted in the kill rate)

The faults: a comparison flipped (< and <=, > and >=, == and !=), + and - swapped, an integer
constant moved by one, an assignment statement dropped, an if condition negated. Comments,
string and character literals and preprocessor lines are never touched.

The mutants are chosen from the seed alone: the same seed on the same tree gives the same list.

  nice -n 10 python3 tools/mutants.py --build-dir build/native --seed 1 --count 40 \\
      --report /tmp/mutants.txt
"""

import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

DEFAULT_DIRS = ["src/dsp", "src/effects"]
DEFAULT_FILES = [
    "src/filter/block_fifo.h",
    "src/filter/block_fifo.cpp",
    "src/filter/effect_stage.h",
    "src/filter/effect_stage.cpp",
    "src/filter/guid_text.h",
    "src/filter/guid_text.cpp",
    "src/encoder/mp3_frame.h",
    "src/encoder/mp3_frame.cpp",
    "src/platform/path_text.h",
]
SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".cc")

KINDS = ["comparison", "arithmetic", "constant", "drop-assignment", "negate-if"]


@dataclass(frozen=True)
class Mutant:
    path: str  # relative to the repository root
    offset: int  # where the replaced text starts
    old: str
    new: str
    kind: str

    def line(self, text):
        return text.count("\n", 0, self.offset) + 1

    def describe(self):
        old = " ".join(self.old.split())
        new = " ".join(self.new.split())
        if len(old) > 60:
            old = old[:57] + "..."
        if len(new) > 60:
            new = new[:57] + "..."
        return f"{self.kind}: '{old}' -> '{new}'"


def code_mask(text):
    """True for every character that is code: not a comment, literal or preprocessor line."""
    mask = [True] * len(text)
    i = 0
    n = len(text)
    at_line_start = True  # only whitespace seen since the last newline

    def blank(a, b):
        for k in range(a, min(b, n)):
            mask[k] = False

    while i < n:
        c = text[i]
        if c == "\n":
            at_line_start = True
            i += 1
            continue
        if at_line_start and c in " \t":
            i += 1
            continue
        if at_line_start and c == "#":
            # A preprocessor line, with its backslash continuations.
            j = i
            while j < n:
                if text[j] == "\n" and text[j - 1] != "\\":
                    break
                j += 1
            blank(i, j)
            i = j
            continue
        at_line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i : i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + raw.group(1) + '"', i + raw.end())
            j = n if end < 0 else end + len(raw.group(1)) + 2
            blank(i, j)
            i = j
            continue
        if c in "\"'":
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i, j + 1)
            i = j + 1
            continue
        i += 1
    return mask


def all_code(mask, a, b):
    return all(mask[a:b])


# Binary operators are written with a space either side (clang-format does so), which keeps
# template brackets, shifts, arrows and unary minus out of the way.
COMPARISON = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ", " != ": " == "}
ARITHMETIC = {" + ": " - ", " - ": " + ", " += ": " -= ", " -= ": " += "}
INT_LITERAL = re.compile(r"(?<![\w.'])(0|[1-9][0-9']*)([uUlLzZ]*)(?![\w.'])")
ASSIGNMENT = re.compile(
    r"^([ \t]*)([\w.\[\]>*()-]+[ \t]*(?:[-+*/%|&^]|<<|>>)?=[ \t]*(?!=)[^;{}]*;)[ \t]*$", re.M
)
IF_OPEN = re.compile(r"\bif \(")
DECLARATION_START = re.compile(r"^(?:return|case|else|delete|throw|goto|co_\w+)\b")


def sites_in(path, text):
    mask = code_mask(text)
    found = {k: [] for k in KINDS}

    for table, kind in ((COMPARISON, "comparison"), (ARITHMETIC, "arithmetic")):
        for old, new in table.items():
            for m in re.finditer(re.escape(old), text):
                a, b = m.start(), m.end()
                if not all_code(mask, a, b):
                    continue
                # " < " inside "a <<= b" or "x <=> y" cannot occur thanks to the spaces; a ">" that
                # closes a template before " = " (vector<int> > x) is rare and simply won't compile.
                found[kind].append(Mutant(path, a, old, new, kind))

    for m in INT_LITERAL.finditer(text):
        a, b = m.start(), m.end()
        if not all_code(mask, a, b):
            continue
        digits = m.group(1).replace("'", "")
        value = int(digits)
        for delta in (1, -1):
            if value + delta < 0:
                continue
            found["constant"].append(Mutant(path, a, m.group(0), str(value + delta) + m.group(2), "constant"))

    for m in ASSIGNMENT.finditer(text):
        a, b = m.start(2), m.end(2)
        if not all_code(mask, a, b):
            continue
        statement = m.group(2)
        if DECLARATION_START.match(statement):
            continue
        # The line before must end a statement or open a block, else this is a continuation.
        before = text[: m.start()].rstrip()
        if before and before[-1] not in ";{}:)":
            continue
        found["drop-assignment"].append(Mutant(path, a, statement, ";", "drop-assignment"))

    for m in IF_OPEN.finditer(text):
        a = m.end() - 1  # the opening parenthesis
        if not mask[a]:
            continue
        depth = 0
        j = a
        while j < len(text):
            if mask[j]:
                if text[j] == "(":
                    depth += 1
                elif text[j] == ")":
                    depth -= 1
                    if depth == 0:
                        break
            j += 1
        if j >= len(text):
            continue
        condition = text[a + 1 : j]
        if ";" in condition:  # if (init; condition): leave alone
            continue
        found["negate-if"].append(Mutant(path, a, text[a : j + 1], "(!(" + condition + "))", "negate-if"))
    return found


def collect_files(dirs, files):
    chosen = set()
    for d in dirs:
        base = ROOT / d
        if not base.is_dir():
            sys.exit(f"mutants: no such folder {d}")
        for p in base.rglob("*"):
            if p.is_file() and p.suffix in SOURCE_SUFFIXES:
                chosen.add(p.relative_to(ROOT).as_posix())
    for f in files:
        if not (ROOT / f).is_file():
            sys.exit(f"mutants: no such file {f}")
        chosen.add(Path(f).as_posix())
    return sorted(chosen)


def choose(files, texts, seed, count):
    """The same seed and tree give the same mutants: kinds taken in turn, sites shuffled by seed."""
    rng = random.Random(seed)
    pools = {k: [] for k in KINDS}
    for f in files:
        for kind, sites in sites_in(f, texts[f]).items():
            pools[kind].extend(sites)
    for kind in KINDS:
        rng.shuffle(pools[kind])
    chosen = []
    while len(chosen) < count and any(pools.values()):
        for kind in KINDS:
            if pools[kind] and len(chosen) < count:
                chosen.append(pools[kind].pop())
    return chosen, {k: len(v) for k, v in pools.items()}


def run(cmd, timeout):
    """Run in its own process group so a timeout ends the whole tree (ctest and its tests)."""
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, text=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out, False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return -1, out, True
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise


def build(build_dir, jobs, timeout):
    return run(["cmake", "--build", build_dir, "-j", str(jobs)], timeout)


def test(build_dir, jobs, timeout, per_test_timeout, exclude):
    return run(["ctest", "--test-dir", build_dir, "-j", str(jobs), "--timeout", str(per_test_timeout),
                "-E", exclude, "--output-on-failure"], timeout)


def failed_tests(output):
    names = re.findall(r"^\s*\d+ - (\S+) \(", output, re.M)
    return ",".join(names) if names else "?"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default="build/native", help="configured native build (default build/native)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=40)
    ap.add_argument("--budget-seconds", type=float, default=0, help="start no mutant after this (0: none)")
    ap.add_argument("--report", help="write one line per mutant here")
    ap.add_argument("--dirs", nargs="*", help="folders to mutate (default: " + " ".join(DEFAULT_DIRS) + ")")
    ap.add_argument("--files", nargs="*", help="single files to mutate (default: the portable filter, "
                    "MP3 frame and path files)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--test-timeout", type=int, default=120, help="ctest --timeout per test")
    ap.add_argument("--exclude", default="bench", help="ctest -E regex (default: bench)")
    ap.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    ap.add_argument("--no-baseline", action="store_true", help="skip the unmutated build and test run")
    args = ap.parse_args()

    dirs = DEFAULT_DIRS if args.dirs is None and args.files is None else (args.dirs or [])
    files = DEFAULT_FILES if args.dirs is None and args.files is None else (args.files or [])
    paths = collect_files(dirs, files)
    texts = {p: (ROOT / p).read_text() for p in paths}
    mutants, pool_sizes = choose(paths, texts, args.seed, args.count)
    print(f"mutants: {len(paths)} files, sites left per kind after choosing: {pool_sizes}", flush=True)

    if args.list:
        for m in mutants:
            print(f"{m.path}:{m.line(texts[m.path])}  {m.describe()}")
        return 0

    build_dir = str(Path(args.build_dir).resolve())
    build_timeout = 1800
    suite_timeout = args.test_timeout * 8 + 300

    # SIGTERM restores like Ctrl-C does.
    def on_term(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_term)

    if not args.no_baseline:
        rc, out, _ = build(build_dir, args.jobs, build_timeout)
        if rc != 0:
            sys.exit("mutants: the unmutated tree does not build:\n" + out[-3000:])
        rc, out, _ = test(build_dir, args.jobs, suite_timeout, args.test_timeout, args.exclude)
        if rc != 0:
            sys.exit("mutants: the unmutated tree fails its tests:\n" + out[-3000:])
        print("mutants: unmutated tree builds and passes", flush=True)

    start = time.monotonic()
    results = []
    report = open(args.report, "w") if args.report else None
    try:
        for index, m in enumerate(mutants, 1):
            if args.budget_seconds and time.monotonic() - start > args.budget_seconds:
                print(f"mutants: time budget spent after {index - 1} mutants", flush=True)
                break
            original = texts[m.path]
            assert original[m.offset : m.offset + len(m.old)] == m.old
            mutated = original[: m.offset] + m.new + original[m.offset + len(m.old) :]
            target = ROOT / m.path
            t0 = time.monotonic()
            try:
                target.write_text(mutated)
                rc, out, timed_out = build(build_dir, args.jobs, build_timeout)
                if rc != 0:
                    outcome, detail = "not compiling", ("build timed out" if timed_out else "")
                else:
                    rc, out, timed_out = test(build_dir, args.jobs, suite_timeout, args.test_timeout, args.exclude)
                    if timed_out:
                        outcome, detail = "killed", "suite timed out"
                    elif rc != 0:
                        outcome, detail = "killed", failed_tests(out)
                    else:
                        outcome, detail = "survived", ""
            finally:
                target.write_text(original)
            line = f"{m.path}:{m.line(original)}  {m.describe()}  => {outcome}"
            if detail:
                line += f" ({detail})"
            results.append(outcome)
            print(f"[{index}/{len(mutants)} {time.monotonic() - t0:.0f}s] {line}", flush=True)
            if report:
                report.write(line + "\n")
                report.flush()
    finally:
        for p in paths:
            if (ROOT / p).read_text() != texts[p]:
                (ROOT / p).write_text(texts[p])
                print(f"mutants: restored {p}", file=sys.stderr)
        killed = results.count("killed")
        survived = results.count("survived")
        broken = results.count("not compiling")
        judged = killed + survived
        rate = f"{100.0 * killed / judged:.1f} %" if judged else "n/a"
        summary = (f"summary: {len(results)} mutants, {killed} killed, {survived} survived, "
                   f"{broken} not compiling; kill rate {rate} (killed / (killed + survived))")
        print(summary, flush=True)
        if report:
            report.write(summary + "\n")
            report.close()
        # Leave the build matching the sources again.
        build(build_dir, args.jobs, build_timeout)
        diff = subprocess.run(["git", "diff", "--stat", "--"] + paths, cwd=ROOT, capture_output=True, text=True)
        changed = [p for p in paths if (ROOT / p).read_text() != texts[p]]
        if changed:
            print("mutants: files differ from what they were before the run: " + " ".join(changed), file=sys.stderr)
            return 1
        if diff.stdout.strip():
            print("mutants: note, git diff shows changes that were there before the run:\n" + diff.stdout)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("mutants: interrupted; every file is restored")
