#!/usr/bin/python3
"""Compares `quennick diff` with GNU diff (default and --minimal).

For generated pairs of 10,000 to 1,000,000 lines with 0.1 % to 10 % of the lines
changed, and for real pairs of texts found on the system, it runs each tool, takes the
best wall time of a few runs and the peak memory, checks that quennick reports exactly as
many deleted and added lines as `diff --minimal` (the shortest script), and prints the
ratios. Run it through run.sh.
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from benchcommon import build_type  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


TIME = "/usr/bin/time"


def run(argv, out_path, peak_path):
    """Runs argv with stdout to out_path; returns (seconds, peak KB).

    The peak is measured by /usr/bin/time when it is installed: a child forked from
    this Python process would count the interpreter's pages as its own."""
    launch = argv
    if os.access(TIME, os.X_OK):
        launch = [TIME, "-f", "%M", "-o", peak_path] + argv
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        proc = subprocess.Popen(launch, stdout=out, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        err = proc.stderr.read()
        proc.stderr.close()
    if code not in (0, 1):
        sys.exit("%s failed (%d): %s" % (" ".join(argv), code, err.decode(errors="replace")))
    kb = usage.ru_maxrss
    if launch is not argv:
        with open(peak_path) as f:
            kb = int(f.read().split()[-1])
    return elapsed, kb


def count_marks(path):
    deleted = added = 0
    with open(path, "rb") as f:
        for line in f:
            if line.startswith(b"< "):
                deleted += 1
            elif line.startswith(b"> "):
                added += 1
    return deleted, added


def real_pairs(work):
    """Pairs of real texts: licence versions, and two versions of the Python library
    sources when two Python installations exist."""
    pairs = []
    lic = "/usr/share/common-licenses"
    for a, b in [("GPL-2", "GPL-3"), ("LGPL-2.1", "LGPL-3"), ("GFDL-1.2", "GFDL-1.3")]:
        pa, pb = os.path.join(lic, a), os.path.join(lic, b)
        if os.path.exists(pa) and os.path.exists(pb):
            pairs.append(("%s vs %s" % (a, b), pa, pb))
    libs = []
    for pattern in ["/usr/lib/python3.*", "/usr/local/lib/python3.*",
                    os.path.expanduser("~/.pyenv/versions/*/lib/python3.*")]:
        for d in sorted(glob.glob(pattern)):
            if os.path.exists(os.path.join(d, "argparse.py")):
                libs.append(d)
    # Two installations of the same minor version differ only where the library changed.
    by_minor = {}
    for d in libs:
        by_minor.setdefault(os.path.basename(d), []).append(d)
    for minor, dirs in sorted(by_minor.items()):
        if len(dirs) < 2:
            continue
        a, b = dirs[0], dirs[1]
        names = sorted(set(n for n in os.listdir(a) if n.endswith(".py")) &
                       set(n for n in os.listdir(b) if n.endswith(".py")))
        outs = []
        for d, tag in [(a, "a"), (b, "b")]:
            path = os.path.join(work, "pystdlib-%s.txt" % tag)
            with open(path, "wb") as out:
                for n in names:
                    with open(os.path.join(d, n), "rb") as f:
                        out.write(f.read())
            outs.append(path)
        print("library sources: %s against %s" % (a, b))
        pairs.append(("%s library, 2 installs" % minor, outs[0], outs[1]))
        break
    return pairs


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quennick", default=os.path.join(ROOT, "build/release/src/cli/quennick"))
    ap.add_argument("--sizes", default="10000,100000,1000000")
    ap.add_argument("--percents", default="0.1,1,10")
    ap.add_argument("--repeat", type=int, default=3,
                    help="runs per tool and pair; five times as many below 50,000 lines, "
                         "one from 1,000,000 lines")
    ap.add_argument("--work", default=None, help="folder for the generated files")
    args = ap.parse_args()

    quennick = args.quennick
    if not os.access(quennick, os.X_OK):
        sys.exit("no quennick at %s; build it with\n"
                 "  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release && "
                 "cmake --build build/release --target quennick" % quennick)
    kind = build_type(quennick)
    if kind != "Release":
        print("warning: %s is a %s build; measure a Release build" % (quennick, kind))

    work = args.work or tempfile.mkdtemp(prefix="qn-bench-diff-")
    os.makedirs(work, exist_ok=True)
    cases = []
    for n in [int(x) for x in args.sizes.split(",")]:
        for p in args.percents.split(","):
            a = os.path.join(work, "gen-%d-%s-a.txt" % (n, p))
            b = os.path.join(work, "gen-%d-%s-b.txt" % (n, p))
            if not (os.path.exists(a) and os.path.exists(b)):
                subprocess.check_call(["/usr/bin/python3", os.path.join(HERE, "gen.py"),
                                       str(n), p, "1", a, b])
            cases.append(("%d lines, %s %% changed" % (n, p), a, b, n))
    for name, a, b in real_pairs(work):
        with open(a, "rb") as f:
            n = sum(1 for _ in f)
        cases.append(("%s (%d lines)" % (name, n), a, b, n))

    tools = [("quennick", [quennick, "diff"]), ("diff", ["diff"]),
             ("minimal", ["diff", "--minimal"])]
    out = os.path.join(work, "out.diff")
    print("%-48s %9s %9s %9s %7s %7s %23s  %s" % (
        "pair", "quennick", "diff", "--minimal", "q/diff", "q/min", "peak MB q/diff/min",
        "deleted+added q | min | diff"))
    failures = 0
    slow = []
    for name, a, b, n in cases:
        repeat = 1 if n >= 1000000 else args.repeat * (5 if n < 50000 else 1)
        best = {}
        peak = {}
        counts = {}
        for _ in range(repeat):
            for tool, argv in tools:
                seconds, kb = run(argv + [a, b], out, out + ".peak")
                best[tool] = min(best.get(tool, seconds), seconds)
                peak[tool] = max(peak.get(tool, 0), kb)
                counts[tool] = count_marks(out)
        ok = counts["quennick"] == counts["minimal"]
        failures += not ok
        r_diff = best["quennick"] / best["diff"]
        r_min = best["quennick"] / best["minimal"]
        if r_min > 1.0 or r_diff > 1.5:
            slow.append(name)
        c = lambda t: "%d+%d" % counts[t]
        print("%-48s %8.3fs %8.3fs %8.3fs %7.2f %7.2f %7.1f/%6.1f/%6.1f  %s | %s | %s%s" % (
            name[:48], best["quennick"], best["diff"], best["minimal"], r_diff, r_min,
            peak["quennick"] / 1024, peak["diff"] / 1024, peak["minimal"] / 1024,
            c("quennick"), c("minimal"), c("diff"), "" if ok else "  MISMATCH"))
        sys.stdout.flush()
    print()
    if not os.access(TIME, os.X_OK):
        print("note: %s is missing; peaks include the launching interpreter" % TIME)
    print("files in %s" % work)
    if failures:
        print("%d pair(s) where quennick's counts differ from diff --minimal" % failures)
    else:
        print("quennick's deleted and added lines equal diff --minimal's on every pair")
    if slow:
        print("outside the target (slower than --minimal or over 1.5 x diff): " + "; ".join(slow))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
