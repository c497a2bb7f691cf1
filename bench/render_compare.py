#!/usr/bin/env python3
"""Two builds of quillmar side by side: `render --effect EFFECT` of the same file, alternating
runs, CPU time (user + system) of each; prints the medians and their ratio, and whether the two
outputs are identical. Not run by ctest.

Usage: render_compare.py OLD_QUILLMAR NEW_QUILLMAR IN.wav [--effect Baby] [--runs 15]"""
import argparse, filecmp, os, resource, statistics, subprocess, sys, tempfile


def cpu_seconds(tool, effect, source, out):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([tool, "render", "--effect", effect, source, out], check=True,
                   stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("source")
    parser.add_argument("--effect", default="Baby")
    parser.add_argument("--runs", type=int, default=15)
    a = parser.parse_args()
    work = tempfile.mkdtemp()
    outs = {name: os.path.join(work, name + ".wav") for name in ("old", "new")}
    times = {"old": [], "new": []}
    for _ in range(a.runs):
        for name, tool in (("old", a.old), ("new", a.new)):
            times[name].append(cpu_seconds(tool, a.effect, a.source, outs[name]))
    old, new = statistics.median(times["old"]), statistics.median(times["new"])
    same = filecmp.cmp(outs["old"], outs["new"], shallow=False)
    print(f"render --effect {a.effect}: old {old:.3f} s, new {new:.3f} s CPU (medians of "
          f"{a.runs}); {old / new:.2f}x; outputs {'identical' if same else 'DIFFER'}")
    for path in outs.values():
        os.remove(path)
    os.rmdir(work)
    sys.exit(0 if same else 1)


if __name__ == "__main__":
    main()
