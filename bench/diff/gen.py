#!/usr/bin/python3
"""Writes a pair of text files for the diff benchmark.

gen.py LINES PERCENT SEED FILE1 FILE2

FILE1 looks like source code: mostly distinct lines, about a fifth of them lines that
recur everywhere (blank lines, braces, short keywords). FILE2 is FILE1 with PERCENT % of
its lines edited: replaced or inserted (new text or a recurring line), deleted, or moved
as short blocks, spread at random over the file.
"""
import random
import sys

COMMON = ["", "}", "{", "    }", "        return;", "else", "end;", "#endif", "    break;"]


def main():
    lines, percent, seed = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
    out1, out2 = sys.argv[4], sys.argv[5]
    rng = random.Random(seed)
    names = ["count", "index", "buffer", "result", "value", "node", "item", "state"]

    def fresh():
        return "    %s_%d = %s(%d, %s);" % (rng.choice(names), rng.randrange(10**9),
                                           rng.choice(names), rng.randrange(1000),
                                           rng.choice(names))

    a = [rng.choice(COMMON) if rng.random() < 0.2 else fresh() for _ in range(lines)]
    edits = max(1, int(lines * percent / 100))
    # Edits are chosen by position in the first file and applied from the end, so every
    # edit touches an original line.
    b = list(a)
    for pos in sorted(rng.sample(range(lines), edits), reverse=True):
        r = rng.random()
        if r < 0.35:
            b[pos] = fresh()
        elif r < 0.50:
            b.insert(pos, fresh())
        elif r < 0.70:
            del b[pos]
        elif r < 0.80:
            b.insert(pos, rng.choice(COMMON))
        elif r < 0.90:
            b[pos] = rng.choice(COMMON)
        elif pos + 4 < len(b):
            # Move a block of three lines a short way down.
            block = b[pos:pos + 3]
            del b[pos:pos + 3]
            to = min(len(b), pos + rng.randrange(3, 40))
            b[to:to] = block
    with open(out1, "w") as f:
        f.write("\n".join(a) + "\n")
    with open(out2, "w") as f:
        f.write("\n".join(b) + "\n")


if __name__ == "__main__":
    main()
