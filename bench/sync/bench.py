#!/usr/bin/python3
"""Compares `quennick sync` with `rsync -a --delete` on the same trees in one run.

Two cases, each on a deterministic generated tree:
- first copy: about 1 GiB in 10,000 files of 1 KiB to 300 KiB in nested folders, copied
  into a destination that does not exist yet;
- re-sync: 100,000 small files, nothing changed since the last run of each tool.

Each timed run is preceded by a sync(2) so that neither tool waits for the other's
writes; the page cache stays warm (caches cannot be dropped here), so reads come from
memory. The best wall time of a few runs counts. quennick makes the copied files durable
before it records them, rsync does not: the first-copy table also shows each tool
followed by sync(1). After the runs `diff -r` checks that both destinations equal the
source. Targets: a first copy within 1.1 x of rsync, a re-sync no slower than rsync.
The trees live in one work folder (about 3 GiB at the peak) that is removed at the end.
Run it through run.sh.
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
TIMEOUT = 1800  # seconds for any one command

WORDS = ["alpha", "beta", "gamma", "delta", "report", "notes", "data", "index", "main",
         "util", "config", "photos", "log", "image", "table", "music", "src", "docs"]
EXTS = [".txt", ".jpg", ".c", ".h", ".md", ".json", ".bin", ".dat", "", ".png"]


def generate(root, files, min_size, max_size, mean_size, seed):
    """A deterministic tree: folders up to five deep (about one per 25 files, none empty),
    file sizes between min_size and max_size with about mean_size on average, contents cut
    from a random pool and headed by the file's number, so that no two files are equal.
    Returns (files, bytes)."""
    rnd = random.Random(seed)
    pool = random.Random(seed + 1).randbytes(16 << 20)
    # Sizes min + (max - min) * u**k with u uniform have the mean min + (max - min) / (k + 1).
    span = max_size - min_size
    k = max(0.0, span / max(1.0, mean_size - min_size) - 1) if span > 0 else 0.0
    os.makedirs(root)
    folders = [root]
    depth = {root: 0}
    total = 0
    for n in range(files):
        target = None
        while len(folders) < 1 + n // 25:
            parent = rnd.choice(folders)
            if depth[parent] >= 5:
                continue
            d = os.path.join(parent, "%s%d" % (rnd.choice(WORDS), len(folders)))
            os.mkdir(d)
            folders.append(d)
            depth[d] = depth[parent] + 1
            target = d  # every folder gets a file: quennick copies no empty folder by default
        size = min_size + int(span * rnd.random() ** k)
        head = b"%d\n" % n
        body = max(0, size - len(head))
        start = rnd.randrange(len(pool) - body + 1)
        name = "%s_%d%s" % (rnd.choice(WORDS), n, rnd.choice(EXTS))
        with open(os.path.join(target or rnd.choice(folders), name), "wb") as f:
            f.write((head + pool[start:start + body])[:size] if size else b"")
        total += size
    return files, total


def run(argv):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV,
                          timeout=TIMEOUT)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("%s failed (%d): %s%s" % (" ".join(argv), proc.returncode,
                                           proc.stdout.decode(errors="replace")[-2000:],
                                           proc.stderr.decode(errors="replace")[-2000:]))
    return seconds, proc.stdout.decode(errors="replace")


def timed_sync():
    start = time.perf_counter()
    os.sync()
    return time.perf_counter() - start


def synced_count(out):
    for line in out.splitlines():
        if line.endswith(" file(s) synced."):
            return int(line.split()[0])
    sys.exit("quennick printed no summary:\n" + out)


def same_tree(a, b):
    proc = subprocess.run(["diff", "-r", a, b], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=TIMEOUT)
    if proc.returncode != 0:
        lines = proc.stdout.decode(errors="replace").splitlines()
        print("  MISMATCH %s vs %s (%d lines of diff), first lines:" % (a, b, len(lines)))
        for line in lines[:5]:
            print("    " + line[:200])
    return proc.returncode == 0


class Case:
    def __init__(self, work, name, quennick):
        self.src = os.path.join(work, name, "src")
        self.ours = os.path.join(work, name, "quennick")
        self.theirs = os.path.join(work, name, "rsync")
        self.doc = os.path.join(work, name, "profile.fmw")
        self.quennick = quennick

    def add_profile(self):
        if os.path.exists(self.doc):
            os.unlink(self.doc)
        run([self.quennick, "sync", "--add", self.doc, self.src, self.ours])

    def sync_ours(self):
        seconds, out = run([self.quennick, "sync", "--batch", self.doc])
        return seconds, synced_count(out)

    def sync_theirs(self):
        return run(["rsync", "-a", "--delete", self.src + "/", self.theirs + "/"])[0]

    def fresh_destinations(self):
        for d in (self.ours, self.theirs):
            shutil.rmtree(d, ignore_errors=True)

    def check(self):
        ok = same_tree(self.src, self.ours)
        ok = same_tree(self.src, self.theirs) and ok
        return ok


def first_copy(work, quennick, args):
    case = Case(work, "first", quennick)
    mean = (args.big_mib << 20) / args.big_files
    print("first copy: generating %d files of about %d MiB in %s ..."
          % (args.big_files, args.big_mib, case.src))
    sys.stdout.flush()
    files, size = generate(case.src, args.big_files, 1024, 300 * 1024, mean, 11)
    print("  %d files, %.1f MiB" % (files, size / 1048576.0))
    ours, theirs = [], []
    for r in range(args.repeat):
        case.fresh_destinations()
        case.add_profile()
        order = ["ours", "theirs"] if r % 2 == 0 else ["theirs", "ours"]
        for who in order:
            timed_sync()
            if who == "ours":
                t, copied = case.sync_ours()
                if copied != files:
                    sys.exit("quennick copied %d files of %d" % (copied, files))
                ours.append((t, timed_sync()))
            else:
                t = case.sync_theirs()
                theirs.append((t, timed_sync()))
        print("  run %d: quennick %.3fs (+ sync %.3fs), rsync %.3fs (+ sync %.3fs)"
              % (r + 1, ours[-1][0], ours[-1][1], theirs[-1][0], theirs[-1][1]))
        sys.stdout.flush()
    ok = case.check()
    shutil.rmtree(os.path.dirname(case.src))
    return ok, ours, theirs, files, size


def resync(work, quennick, args):
    case = Case(work, "resync", quennick)
    print("re-sync: generating %d small files in %s ..." % (args.small_files, case.src))
    sys.stdout.flush()
    files, size = generate(case.src, args.small_files, 0, 2048, 700, 12)
    print("  %d files, %.1f MiB" % (files, size / 1048576.0))
    case.add_profile()
    _, copied = case.sync_ours()
    case.sync_theirs()
    if copied != files:
        sys.exit("quennick copied %d files of %d on its first run" % (copied, files))
    ours, theirs = [], []
    for r in range(args.repeat):
        timed_sync()
        t, copied = case.sync_ours()
        if copied != 0:
            sys.exit("quennick copied %d files in a re-sync without changes" % copied)
        ours.append(t)
        timed_sync()
        theirs.append(case.sync_theirs())
        print("  run %d: quennick %.3fs, rsync %.3fs" % (r + 1, ours[-1], theirs[-1]))
        sys.stdout.flush()
    ok = case.check()
    shutil.rmtree(os.path.dirname(case.src))
    return ok, ours, theirs, files, size


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quennick", default=os.path.join(ROOT, "build/release/src/cli/quennick"))
    ap.add_argument("--work", default=None,
                    help="folder that holds the trees (made, and removed at the end)")
    ap.add_argument("--big-files", type=int, default=10000)
    ap.add_argument("--big-mib", type=int, default=1024)
    ap.add_argument("--small-files", type=int, default=100000)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--only", choices=["first", "resync"], default=None)
    args = ap.parse_args()

    quennick = os.path.abspath(args.quennick)
    if not os.access(quennick, os.X_OK):
        sys.exit("no quennick at %s; build it with\n"
                 "  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && "
                 "cmake --build build/release --target quennick" % quennick)
    kind = build_type(quennick)
    if kind != "Release":
        print("warning: %s is a %s build; measure a Release build" % (quennick, kind))
    if shutil.which("rsync") is None:
        sys.exit("rsync is missing: run the benchmark through run.sh, which installs it")
    if args.work:
        os.makedirs(args.work)
        work = os.path.abspath(args.work)
    else:
        work = tempfile.mkdtemp(prefix="qn-bench-sync-")
    rows, ok = [], True
    try:
        if args.only in (None, "first"):
            good, ours, theirs, files, size = first_copy(work, quennick, args)
            ok = good and ok
            label = "first copy, %d files, %.0f MiB" % (files, size / 1048576.0)
            rows.append((label, min(t for t, _ in ours), min(t for t, _ in theirs), 1.1))
            rows.append((label + ", each + sync", min(t + s for t, s in ours),
                         min(t + s for t, s in theirs), None))
        if args.only in (None, "resync"):
            good, ours, theirs, files, _ = resync(work, quennick, args)
            ok = good and ok
            rows.append(("re-sync unchanged, %d files" % files, min(ours), min(theirs), 1.0))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print()
    print("best of %d warm runs" % args.repeat)
    print("%-44s %9s %9s %7s %7s" % ("case", "quennick", "rsync", "ratio", "target"))
    misses = []
    for label, tq, tr, limit in rows:
        print("%-44s %8.3fs %8.3fs %6.2fx %7s"
              % (label, tq, tr, tq / tr, "%.1fx" % limit if limit else "-"))
        if limit and tq / tr > limit:
            misses.append("%s: %.2f x rsync (target %.1f)" % (label, tq / tr, limit))
    print()
    print("the destinations of both tools equal the source" if ok
          else "the destinations differ from the source (see above)")
    print("outside the targets: " + ("; ".join(misses) if misses else "none"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
