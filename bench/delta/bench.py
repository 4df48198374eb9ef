#!/usr/bin/python3
"""Compares `quennick delta make/apply` with `xdelta3 -9` and `zstd --patch-from`.

Cases (a reference and a changed file): 100 bytes inserted near the start of a 64 MiB
file, 1 MiB deleted from its middle, 200 scattered 64-byte edits, a log file grown by
10 %, and two tar archives of a real folder with a few files changed. Every round trip
is checked byte for byte. It prints the delta sizes, the best encode times of --repeat
runs, the peak memory, and the ratios of quennick to xdelta3. Run it through run.sh.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from benchcommon import build_type  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TIME = "/usr/bin/time"
MIB = 1 << 20


def run(argv, peak_path):
    """Runs argv; returns (seconds, peak KiB)."""
    launch = [TIME, "-f", "%M", "-o", peak_path] + argv if os.access(TIME, os.X_OK) else argv
    start = time.perf_counter()
    proc = subprocess.run(launch, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(argv), proc.returncode, proc.stderr.decode(errors="replace")))
    kb = 0
    if launch is not argv:
        with open(peak_path) as f:
            kb = int(f.read().split()[-1])
    return elapsed, kb


def random_bytes(rng, n):
    return rng.getrandbits(8 * n).to_bytes(n, "little") if n else b""


def log_lines(rng, n):
    words = ["GET", "POST", "/index.html", "/api/v1/items", "200", "404", "500", "user", "session",
             "timeout", "ok", "cache", "miss", "hit"]
    out, size, i = [], 0, 0
    while size < n:
        line = "2026-12-11T%02d:%02d:%02d.%03d host%d %s\n" % (
            i // 3600 % 24, i // 60 % 60, i % 60, i % 1000, rng.randrange(40),
            " ".join(rng.choice(words) for _ in range(rng.randrange(4, 12))))
        out.append(line)
        size += len(line)
        i += 1
    return "".join(out).encode()


def make_cases(work, rng):
    base = random_bytes(rng, 64 * MIB)
    cases = []

    def case(name, ref, target):
        folder = os.path.join(work, "case%d" % len(cases))
        os.makedirs(folder)
        with open(os.path.join(folder, "ref"), "wb") as f:
            f.write(ref)
        with open(os.path.join(folder, "target"), "wb") as f:
            f.write(target)
        cases.append((name, folder))

    case("100 bytes inserted near the start, 64 MiB", base, base[:4096] + random_bytes(rng, 100) + base[4096:])
    mid = len(base) // 2
    case("1 MiB deleted from the middle, 64 MiB", base, base[:mid] + base[mid + MIB:])
    edited = bytearray(base)
    for _ in range(200):
        at = rng.randrange(len(edited) - 64)
        edited[at:at + 64] = random_bytes(rng, 64)
    case("200 scattered 64-byte edits, 64 MiB", base, bytes(edited))
    log = log_lines(rng, 32 * MIB)
    case("log file grown by 10 %, 32 MiB", log, log + log_lines(rng, len(log) // 10))
    # Two tar archives of a real folder, a few of its files changed in the second.
    source = next((d for d in ("/usr/include", "/usr/share/doc", "/usr/lib/python3") if os.path.isdir(d)), None)
    if source:
        tree = os.path.join(work, "tree")
        shutil.copytree(source, tree, symlinks=True, ignore_dangling_symlinks=True)
        first = os.path.join(work, "first.tar")
        with tarfile.open(first, "w") as t:
            t.add(tree, arcname="tree")
        files = sorted(os.path.join(d, f) for d, _, fs in os.walk(tree) for f in fs
                       if os.path.isfile(os.path.join(d, f)) and not os.path.islink(os.path.join(d, f)))
        for path in rng.sample(files, min(10, len(files))):
            with open(path, "ab") as f:
                f.write(b"\n/* changed by the benchmark */\n" + random_bytes(rng, rng.randrange(10, 5000)))
        second = os.path.join(work, "second.tar")
        with tarfile.open(second, "w") as t:
            t.add(tree, arcname="tree")
        with open(first, "rb") as a, open(second, "rb") as b:
            case("tar of %s, 10 files changed, %d MiB" % (source, os.path.getsize(second) // MIB), a.read(), b.read())
        shutil.rmtree(tree)
        os.remove(first)
        os.remove(second)
    return cases


def tools(quennick):
    return {
        "quennick": (lambda r, t, d: [quennick, "delta", "make", r, t, d],
                     lambda r, d, o: [quennick, "delta", "apply", r, d, o]),
        "xdelta3 -9": (lambda r, t, d: ["xdelta3", "-9", "-f", "-e", "-s", r, t, d],
                       lambda r, d, o: ["xdelta3", "-f", "-d", "-s", r, d, o]),
        "zstd -3": (lambda r, t, d: ["zstd", "-q", "-f", "-3", "--long=31", "--patch-from=" + r, t, "-o", d],
                    lambda r, d, o: ["zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + r, d, "-o", o]),
        "zstd -19": (lambda r, t, d: ["zstd", "-q", "-f", "-19", "--long=31", "--patch-from=" + r, t, "-o", d],
                     lambda r, d, o: ["zstd", "-q", "-f", "-d", "--long=31", "--patch-from=" + r, d, "-o", o]),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quennick", default=os.path.join(ROOT, "build/release/src/cli/quennick"))
    parser.add_argument("--work", default=None)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--only", default="", help="run only the cases whose name holds this text")
    args = parser.parse_args()
    print("quennick: %s (%s build)" % (args.quennick, build_type(args.quennick)))
    work = tempfile.mkdtemp(prefix="qn-bench-delta-", dir=args.work)
    try:
        rng = random.Random(20261211)
        cases = make_cases(work, rng)
        peak = os.path.join(work, "peak")
        results = []
        for name, folder in cases:
            if args.only not in name:
                continue
            ref, target = os.path.join(folder, "ref"), os.path.join(folder, "target")
            row = {}
            for tool, (make, apply) in tools(args.quennick).items():
                delta, out = os.path.join(folder, "delta"), os.path.join(folder, "out")
                best, kb = None, 0
                for _ in range(args.repeat):
                    seconds, k = run(make(ref, target, delta), peak)
                    best = seconds if best is None else min(best, seconds)
                    kb = max(kb, k)
                size = os.path.getsize(delta)
                run(apply(ref, delta, out), peak)
                if subprocess.run(["cmp", "-s", out, target]).returncode != 0:
                    sys.exit("%s: %s did not rebuild the file" % (name, tool))
                row[tool] = (size, best, kb)
                os.remove(delta)
                os.remove(out)
            results.append((name, os.path.getsize(target), row))
        print("\nbest of %d encodes; every round trip rebuilt the file byte for byte" % args.repeat)
        print("%-48s %-11s %12s %9s %9s" % ("case", "tool", "delta bytes", "seconds", "peak MiB"))
        misses = []
        for name, size, row in results:
            for tool, (delta, seconds, kb) in row.items():
                print("%-48s %-11s %12d %9.3f %9.1f" % (name, tool, delta, seconds, kb / 1024))
            q, x = row["quennick"], row["xdelta3 -9"]
            size_ratio = q[0] / max(1, x[0])
            time_ratio = q[1] / max(1e-9, x[1])
            print("%-48s %-11s size %.2fx, time %.2fx of xdelta3 -9; delta %.3f %% of the file"
                  % ("", "ratios", size_ratio, time_ratio, 100.0 * q[0] / max(1, size)))
            if size_ratio > 1.5:
                misses.append("%s: delta %.2fx xdelta3's (target 1.5)" % (name, size_ratio))
            if time_ratio > 1.0:
                misses.append("%s: encode %.2fx xdelta3's time (target 1.0)" % (name, time_ratio))
            if name.startswith("100 bytes") and q[0] > size / 100:
                misses.append("%s: delta above 1 %% of the file" % name)
        print("\noutside the targets: " + ("; ".join(misses) if misses else "none"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
