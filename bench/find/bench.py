#!/usr/bin/python3
"""Compares `quennick find` with find(1), GNU grep -rlP and ripgrep (single-threaded).

On a generated tree (100,000 files by default) and on real trees (/usr/share by
default) it runs each search once to warm the page cache, checks that every tool gives
the same set of files, then takes the best wall time of a few runs and prints the times
and the ratios. Targets: a name search no slower than find, a text search faster than
grep -r and within 1.5 x of rg -j1. Run it through run.sh.

How the result sets are made comparable:
- find: `! -type d` (quennick lists files; links and FIFOs are entries to both).
- grep and rg read no symbolic links while walking and skip FIFOs and devices; quennick
  reads a link to a regular file through it, so links are left out of its text results
  before comparing. rg runs with --no-ignore --hidden -a (every file, binary ones too).
- quennick's patterns ignore case by default, so the peers get -i; the case-sensitive
  runs give quennick "(?-i)".
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from benchcommon import build_type  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
ENV = dict(os.environ, LC_ALL="C.UTF-8")

WORDS = ["alpha", "beta", "gamma", "delta", "report", "notes", "data", "index", "main",
         "util", "config", "readme", "log", "image", "table", "Vector", "Queue", "Parser"]
EXTS = [".txt", ".log", ".c", ".h", ".md", ".json", ".py", ".dat", "", ".TXT", ".Log"]
NEEDLE = "needle_token"


def generate(root, files, seed=7):
    """A deterministic tree: folders up to six deep, names of several shapes, sizes from
    empty to 64 KiB, about 1 % of the files holding the needle."""
    rnd = random.Random(seed)
    os.makedirs(root)
    folders = [root]
    made = 0
    line_pool = [" ".join(rnd.choice(WORDS) for _ in range(9)) + "\n" for _ in range(500)]
    while made < files:
        if rnd.random() < 0.05 and len(folders) < files // 15:
            parent = rnd.choice(folders)
            if parent.count(os.sep) - root.count(os.sep) < 6:
                d = os.path.join(parent, "%s%d" % (rnd.choice(WORDS), len(folders)))
                os.mkdir(d)
                folders.append(d)
            continue
        folder = rnd.choice(folders)
        name = "%s_%d%s" % (rnd.choice(WORDS), made, rnd.choice(EXTS))
        if made % 97 == 0:
            name = "with space %d.txt" % made
        size = rnd.choice([0, 40, 300, 1500, 4000, 9000, 30000, 65536])
        parts = []
        total = 0
        while total < size:
            line = rnd.choice(line_pool)
            parts.append(line)
            total += len(line)
        if rnd.random() < 0.01:
            parts.insert(rnd.randrange(len(parts) + 1), "here sits the %s\n" % NEEDLE)
        if rnd.random() < 0.005:
            parts.append("upper case %s\n" % NEEDLE.upper())
        with open(os.path.join(folder, name), "w") as f:
            f.write("".join(parts))
        made += 1
    return made


def run(argv, ok_codes=(0, 1)):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    seconds = time.perf_counter() - start
    if proc.returncode not in ok_codes:
        sys.exit("%s failed (%d): %s" % (" ".join(argv), proc.returncode,
                                         proc.stderr.decode(errors="replace")[:2000]))
    return seconds, proc.stdout


def lines(out, strip_slash=False):
    result = set()
    for l in out.split(b"\n"):
        if l:
            result.add(l.rstrip(b"/") if strip_slash else l)
    return result


def no_links(paths):
    return set(p for p in paths if not os.path.islink(p))


def compare(label, sets):
    names = list(sets)
    base = sets[names[0]]
    ok = True
    for n in names[1:]:
        if sets[n] != base:
            ok = False
            only_a = sorted(base - sets[n])[:5]
            only_b = sorted(sets[n] - base)[:5]
            print("  MISMATCH %s: %s %d vs %s %d; only %s: %s; only %s: %s" % (
                label, names[0], len(base), n, len(sets[n]), names[0], only_a, n, only_b))
    return ok, len(base)


def best_of(argv, repeat, ok_codes=(0, 1)):
    return min(run(argv, ok_codes)[0] for _ in range(repeat))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quennick", default=os.path.join(ROOT, "build/release/src/cli/quennick"))
    ap.add_argument("--files", type=int, default=100000, help="files of the generated tree")
    ap.add_argument("--tree", default=None,
                    help="where the generated tree lives (made when missing, kept)")
    ap.add_argument("--real", default="/usr/share", help="real trees, joined with ','")
    ap.add_argument("--text-pattern", default="copyright|bavarian",
                    help="text patterns for the real trees, joined with '|'")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    quennick = os.path.abspath(args.quennick)
    if not os.access(quennick, os.X_OK):
        sys.exit("no quennick at %s; build it with\n"
                 "  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release && "
                 "cmake --build build/release --target quennick" % quennick)
    kind = build_type(quennick)
    if kind != "Release":
        print("warning: %s is a %s build; measure a Release build" % (quennick, kind))
    rg = shutil.which("rg")
    if rg is None:
        sys.exit("ripgrep is missing: install it with  apt-get install ripgrep")
    grep, find = shutil.which("grep"), shutil.which("find")

    tree = args.tree or os.path.join(tempfile.gettempdir(), "qn-bench-find-%d" % args.files)
    if not os.path.isdir(tree):
        print("generating %d files in %s ..." % (args.files, tree))
        sys.stdout.flush()
        generate(tree, args.files)
    trees = [("generated", tree, [(NEEDLE, True), (NEEDLE, False), (r"\bneedle_\w+", True)])]
    for real in [r for r in args.real.split(",") if r]:
        if os.path.isdir(real):
            trees.append((real, real, [(p, True) for p in args.text_pattern.split("|")]))

    q = [quennick, "find"]
    rows = []
    mismatches = 0
    for label, root, patterns in trees:
        count = sum(len(f) for _, _, f in os.walk(root))
        print("%s: %s, %d files" % (label, root, count))
        # Name searches.
        for masks, iname in [("*.txt|*.log", ["(", "-iname", "*.txt", "-o", "-iname", "*.log", ")"]),
                             ("*", [])]:
            ours = q + ["-r", root, masks]
            theirs = [find, root, "!", "-type", "d"] + iname
            ok, n = compare("masks " + masks, {"quennick": lines(run(ours)[1]),
                                               "find": lines(run(theirs)[1])})
            mismatches += not ok
            tq, tf = best_of(ours, args.repeat), best_of(theirs, args.repeat)
            rows.append((label, "name %s (%d)" % (masks, n), tq, [("find", tf)], 1.0, "find"))
        # Text searches.
        for pattern, caseless in patterns:
            qp = pattern if caseless else "(?-i)" + pattern
            ours = q + ["-r", "--text", qp, root, "*"]
            g = [grep, "-rlP", "-D", "skip"] + (["-i"] if caseless else []) + [pattern, root]
            r = [rg, "-j1", "-l", "-a", "--no-ignore", "--hidden", "--no-messages"] + \
                (["-i"] if caseless else ["-s"]) + [pattern, root]
            ok, n = compare("text " + qp, {"quennick": no_links(lines(run(ours)[1])),
                                           "grep": lines(run(g)[1]), "rg": lines(run(r)[1])})
            mismatches += not ok
            tq = best_of(ours, args.repeat)
            tg = best_of(g, args.repeat)
            tr = best_of(r, args.repeat)
            rows.append((label, "text %s (%d)" % (qp, n), tq, [("grep", tg), ("rg -j1", tr)],
                         1.5, "rg -j1"))
        sys.stdout.flush()

    print()
    print("%-12s %-34s %9s   %s" % ("tree", "search (files found)", "quennick", "peers (time, quennick/peer)"))
    misses = []
    for label, what, tq, peers, limit, against in rows:
        cells = "   ".join("%s %.3fs %.2fx" % (name, t, tq / t) for name, t in peers)
        print("%-12s %-34s %8.3fs   %s" % (label[:12], what[:34], tq, cells))
        for name, t in peers:
            if name == against and tq / t > limit:
                misses.append("%s %s: %.2f x %s (target %.1f)" % (label, what, tq / t, name, limit))
            if name == "grep" and tq >= t:
                misses.append("%s %s: not faster than grep" % (label, what))
    print()
    print("the generated tree stays in %s (pass --tree to reuse another)" % tree)
    if mismatches:
        print("%d search(es) where the result sets differ" % mismatches)
    else:
        print("every tool found the same files in every search")
    print("outside the targets: " + ("; ".join(misses) if misses else "none"))
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
