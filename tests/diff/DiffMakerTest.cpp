// Binary difference files: the format byte for byte, round trips of shifted and edited
// files, hostile difference files under the sanitizers, and "quennick delta" end to end.
#include "diff/DiffMaker.h"

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

std::string Encode(const std::string& target, const std::string& reference, int level = 25) {
    TMemoryStream t(target), r(reference), out;
    EncodeDelta(t, r, out, level);
    return out.Data();
}

std::string Decode(const std::string& diff, const std::string& reference) {
    TMemoryStream d(diff), r(reference), out;
    DecodeDelta(d, r, out);
    return out.Data();
}

// The format's own encoder, written plainly from its description: block i of the target
// against block i of the reference, the matcher as described. Where nothing shifted the
// encoder must give exactly this.
std::string PlainEncode(const std::string& target, const std::string& reference, int level) {
    std::string out;
    auto put = [&out](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
    };
    auto crc = [](const std::string& s) {
        return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(s.data()),
                                           static_cast<uInt>(s.size())));
    };
    const size_t block = DiffBlockSize;
    for (size_t i = 0;; i += block) {
        const std::string t = i < target.size() ? target.substr(i, block) : std::string();
        const std::string r = i < reference.size() ? reference.substr(i, block) : std::string();
        put(static_cast<uint32_t>(r.size()), 4);
        if (t.size() < 4 || r.size() < 4 || r.size() < t.size() / 4) {
            out += '\0';
            put(static_cast<uint32_t>(t.size()), 4);
            if (t.empty()) return out;
            put(crc(t), 4);
            out += t;
            continue;
        }
        out += '\1';
        put(crc(t), 4);
        put(crc(r), 4);
        auto h = [](const std::string& b, size_t p) {
            return (uint32_t(uint8_t(b[p - 1])) << 9) ^ (uint32_t(uint8_t(b[p])) << 5) ^ uint32_t(uint8_t(b[p + 1]));
        };
        std::vector<int32_t> head(131072, 0), chain(r.size() + 1, 0);
        int64_t last = -1;
        for (size_t p = 1; p + 4 <= r.size(); ++p)
            if (h(r, p) != last) {
                chain[p] = head[h(r, p)];
                head[h(r, p)] = int32_t(p);
                last = h(r, p);
            }
        std::string literals, commands;
        auto command = [&commands](uint32_t len, uint32_t ref, uint32_t pos) {
            for (uint32_t v : {len & 0xFFFF, 0u}) commands += {char(v), char(v >> 8)};
            for (uint32_t v : {ref, pos}) commands += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        };
        for (size_t pos = 1; pos <= t.size();) {
            size_t best = 0, bestC = 0;
            if (pos + 3 <= t.size()) {
                int32_t c = head[h(t, pos)];
                for (int k = 0; c != 0 && k < level; ++k, c = chain[size_t(c)]) {
                    const size_t n = std::min(t.size() - pos, r.size() - size_t(c));
                    size_t m = 0;
                    while (m < n && t[pos - 1 + m] == r[size_t(c) - 1 + m]) ++m;
                    if (m == n && n > 0) m = n - 1;
                    m = std::min<size_t>(m, 65535);
                    if (m > best) best = m, bestC = size_t(c);
                }
            }
            if (best >= 20) {
                command(uint32_t(best), uint32_t(bestC), uint32_t(pos));
                pos += best;
            } else {
                literals += t[pos - 1];
                ++pos;
            }
        }
        command(0, 0, uint32_t(t.size() + 1));
        put(static_cast<uint32_t>(literals.size()), 4);
        put(static_cast<uint32_t>(commands.size()), 4);
        out += literals;
        out += commands;
    }
}

TEST(DiffMaker, TheFormatByteForByte) {
    // An empty file: the end block alone, beside the reference block it would read.
    EXPECT_EQ(Encode("", ""), std::string("\0\0\0\0\0\0\0\0\0", 9));
    EXPECT_EQ(Encode("", "reference").size(), 9u);
    EXPECT_EQ(Decode(Encode("", "reference"), "reference"), "");
    // Under four bytes, or a reference under a quarter of the block: stored whole.
    const std::string abc = Encode("abc", "xyz");
    EXPECT_EQ(abc.size(), 4u + 1 + 4 + 4 + 3 + 9);
    EXPECT_EQ(abc.substr(0, 5), std::string("\3\0\0\0\0", 5));
    EXPECT_EQ(abc.substr(13, 3), "abc");
    EXPECT_EQ(Encode(Random(1000, 1), "short")[4], '\0');

    // Where nothing shifted, the block layout is the format's own, byte for byte.
    const std::string base = Random(2 * DiffBlockSize + 12345, 2);
    std::string edited = base;
    std::mt19937 rng(3);
    for (int i = 0; i < 200; ++i) edited[rng() % edited.size()] ^= 0x5A;
    const std::string grown = base + Random(DiffBlockSize / 3, 4);
    const std::string repeated = std::string(300000, 'x') + base.substr(0, 500000) + std::string(300000, 'y');
    struct TCase {
        const char* Name;
        const std::string& Target;
        const std::string& Reference;
    } cases[] = {
        {"the same", base, base},   {"scattered edits", edited, base}, {"appended", grown, base},
        {"cut at the end", base, grown}, {"runs of one byte", repeated, repeated},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string diff = Encode(c.Target, c.Reference, 25);
        EXPECT_EQ(diff, PlainEncode(c.Target, c.Reference, 25));
        EXPECT_EQ(Decode(diff, c.Reference), c.Target);
    }
}

TEST(DiffMaker, ShiftedFilesStaySmallAndRebuildExactly) {
    const std::string base = Random(4 * DiffBlockSize + 777, 5);
    const std::string inserted = base.substr(0, 1000) + Random(100, 6) + base.substr(1000);
    const std::string deleted = base.substr(0, 1500000) + base.substr(1500000 + 1100000);
    const std::string moved = base.substr(2 * DiffBlockSize) + base.substr(0, 2 * DiffBlockSize);
    struct TCase {
        const char* Name;
        const std::string& Target;
        size_t AtMost;
    } cases[] = {
        {"100 bytes inserted near the start", inserted, inserted.size() / 100},
        {"1.1 MB deleted in the middle", deleted, deleted.size() / 4},
        {"halves swapped", moved, moved.size() + moved.size() / 50},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string diff = Encode(c.Target, base);
        EXPECT_LE(diff.size(), c.AtMost);
        EXPECT_EQ(Decode(diff, base), c.Target);
    }
    // Unrelated files still rebuild, at about their own size.
    const std::string other = Random(3 * DiffBlockSize, 7);
    const std::string diff = Encode(other, base);
    EXPECT_LE(diff.size(), other.size() + other.size() / 100);
    EXPECT_EQ(Decode(diff, base), other);
    EXPECT_LT(DeltaDifference(base, base, 10), 0.01);
    EXPECT_GT(DeltaDifference(other, base, 10), 0.9);
}

// Damaged and hostile difference files end in an error, never outside a buffer (the
// sanitizers watch), and the file made from one is never left behind.
TEST(DiffMaker, HostileDifferenceFilesAreRefused) {
    const std::string reference = Random(300000, 8);
    std::string target = reference;
    for (size_t i = 0; i < target.size(); i += 9000) target[i] ^= 1;
    const std::string good = Encode(target, reference);
    ASSERT_EQ(Decode(good, reference), target);
    EXPECT_THROW(Decode(good, Random(300000, 9)), EDiffError);
    EXPECT_THROW(Decode(good.substr(0, good.size() / 2), reference), EDiffError);

    std::mt19937 rng(10);
    for (int run = 0; run < 300; ++run) {
        std::string bad = good;
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            // Mostly the fields of the first blocks, where lengths and positions live.
            const size_t at = rng() % 2 ? rng() % std::min<size_t>(bad.size(), 64) : rng() % bad.size();
            bad[at] = static_cast<char>(rng() % 3 == 0 ? 0xFF : rng());
        }
        if (rng() % 8 == 0) bad.resize(rng() % bad.size());
        try {
            const std::string out = Decode(bad, reference);
            EXPECT_EQ(out, target) << "a damaged file rebuilt something else";
        } catch (const EDiffError&) {
        }
    }

    qntest::TTempDir dir("qndelta");
    qntest::WriteFile(dir / "ref", reference);
    qntest::WriteFile(dir / "bad.diff", good.substr(0, good.size() - 20));
    TDiffMaker maker;
    maker.UseFile = dir / "ref";
    maker.InFile = dir / "bad.diff";
    maker.OutFile = dir / "out";
    EXPECT_THROW(maker.ApplyDiff(), EDiffError);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"bad.diff", "ref"}));
}

struct TRun {
    int Code = -1;
    std::string Out, Err;
};

TRun Delta(const qntest::TTempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {QN_QUENNICK_EXE, "delta"});
    qntest::TChildOptions o;
    o.OutputFile = dir / "run.out";
    o.ErrorFile = dir / "run.err";
    o.NoInput = true;
    qntest::TChildProcess child(args, o);
    TRun r;
    if (auto code = child.Wait(std::chrono::seconds(120))) r.Code = *code;
    r.Out = qntest::ReadFile(o.OutputFile);
    r.Err = qntest::ReadFile(o.ErrorFile);
    return r;
}

TEST(DiffMaker, QuennickDeltaMakesAppliesAndCompares) {
    qntest::TTempDir dir("qndeltacli");
    const std::string a = Random(500000, 11);
    std::string b = a.substr(0, 200000) + "a few new bytes" + a.substr(200000);
    qntest::WriteFile(dir / "a", a);
    qntest::WriteFile(dir / "b", b);
    qntest::WriteFile(dir / "other", Random(500000, 12));
    TRun r = Delta(dir, {"make", "--level", "100", dir / "a", dir / "b", dir / "b.diff"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_LT(std::filesystem::file_size(dir / "b.diff"), 2000u);
    r = Delta(dir, {"apply", dir / "a", dir / "b.diff", dir / "b2"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(qntest::ReadFile(dir / "b2"), b);
    r = Delta(dir, {"ratio", dir / "a", dir / "b"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_LT(std::stod(r.Out), 0.01) << r.Out;

    struct TCase {
        std::vector<std::string> Args;
        int Code;
        const char* Says;
    } cases[] = {
        {{"apply", dir / "other", dir / "b.diff", dir / "b3"}, 1, "CRC Error"},
        {{"apply", dir / "a", dir / "missing.diff", dir / "b3"}, 2, "No such file or directory"},
        {{"make", "--level", "5", dir / "a", dir / "b", dir / "x.diff"}, 2, "bad level '5'"},
        {{"make", dir / "a", dir / "b"}, 2, "make needs REFERENCE, FILE and OUT.diff"},
        {{"merge", dir / "a"}, 2, "unknown command 'merge'"},
        {{"--help"}, 0, "Usage: quennick delta make"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Args[0]);
        r = Delta(dir, c.Args);
        EXPECT_EQ(r.Code, c.Code) << r.Err;
        EXPECT_NE((r.Err + r.Out).find(c.Says), std::string::npos) << r.Err << r.Out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "b3"));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.diff"));
}

}  // namespace

#include "diff/DiffMgr.h"
#include "locations/LocationOwner.h"

namespace {

// Difference files of files on the disk: nothing is deleted or replaced unless what takes
// its place gives it back byte for byte.
TEST(DiffMgr, NothingGoesUnlessItCanBeRebuilt) {
    qntest::TTempDir dir("qndiffmgr");
    TSimpleLocationOwner owner;
    TDiffMgr mgr(owner);
    const std::string master = dir / "r Backup (2).txt", file = dir / "r Backup (1).txt";
    const std::string v2 = Random(200000, 20), v1 = v2.substr(0, 50000) + "an older line\n" + v2.substr(50000);
    qntest::WriteFile(master, v2);
    qntest::WriteFile(file, v1);
    {
        SCOPED_TRACE("a file kept as its difference, then rebuilt over a stale copy");
        EXPECT_EQ(mgr.DiffFile(master, file), file + ".diff");
        EXPECT_FALSE(std::filesystem::exists(file));
        qntest::WriteFile(file, "a stale copy");
        EXPECT_EQ(mgr.UndiffFile(file + ".diff", master), file);
        EXPECT_EQ(qntest::ReadFile(file), v1);
    }
    {
        SCOPED_TRACE("an existing .diff that is another file's: both are kept");
        qntest::WriteFile(file, "not what the .diff holds");
        EXPECT_EQ(mgr.DiffFile(master, file), "");
        EXPECT_EQ(qntest::ReadFile(file), "not what the .diff holds");
        EXPECT_TRUE(owner.Logged("Safeguard: Cannot overwrite a diff file: " + file + ".diff"));
        // The same content: the file may go.
        qntest::WriteFile(file, v1);
        EXPECT_EQ(mgr.DiffFile(master, file), file + ".diff");
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    {
        SCOPED_TRACE("a rebuild against the wrong master leaves the old file as it was");
        qntest::WriteFile(file, "the user's file");
        qntest::WriteFile(dir / "wrong.txt", Random(200000, 21));
        EXPECT_EQ(mgr.UndiffFile(file + ".diff", dir / "wrong.txt"), "");
        EXPECT_EQ(qntest::ReadFile(file), "the user's file");
        EXPECT_TRUE(owner.Logged("Undifference failed... The .diff file:" + file + ".diff"));
    }
    {
        SCOPED_TRACE("a backup put back keeps the live file's content as a backup first");
        const std::string live = dir / "r.txt";
        qntest::WriteFile(live, "the live file, changed since");
        EXPECT_FALSE(mgr.RestoreBackupAsMaster(file + ".diff", false));
        EXPECT_TRUE(mgr.RestoreBackupAsMaster(master, false));
        EXPECT_EQ(qntest::ReadFile(live), v2);
        EXPECT_EQ(qntest::ReadFile(dir / "r Backup (3).txt"), "the live file, changed since");
        // Its content is in a backup already: no new one.
        EXPECT_TRUE(mgr.RestoreBackupAsMaster(master, false));
        EXPECT_FALSE(std::filesystem::exists(dir / "r Backup (4).txt"));
    }
}

}  // namespace

namespace {

// A history of five backups: four become difference files and all rebuild; a version that
// cannot be rebuilt stops every older one.
TEST(DiffMgr, HistoriesAreDifferencedAndRebuiltNewestFirst) {
    qntest::TTempDir dir("qndiffhist");
    TSimpleLocationOwner owner;
    TDiffMgr mgr(owner);
    const std::string live = dir / "log.txt";
    std::vector<std::string> versions{Random(150000, 30)};
    for (int v = 1; v < 6; ++v) {
        std::string next = versions.back();
        next.insert(next.size() * size_t(v) / 7, "version " + std::to_string(v) + " was here\n");
        versions.push_back(next);
    }
    for (int n = 1; n <= 5; ++n) qntest::WriteFile(dir / ("log Backup (" + std::to_string(n) + ").txt"), versions[n - 1]);
    qntest::WriteFile(live, versions[5]);
    auto version = [&](int n, bool diff) {
        return dir / ("log Backup (" + std::to_string(n) + ").txt" + (diff ? ".diff" : ""));
    };

    EXPECT_EQ(mgr.DiffHistory(live), 4);
    for (int n = 1; n <= 4; ++n) {
        EXPECT_FALSE(std::filesystem::exists(version(n, false))) << n;
        EXPECT_TRUE(std::filesystem::exists(version(n, true))) << n;
    }
    EXPECT_EQ(qntest::ReadFile(version(5, false)), versions[4]);

    EXPECT_EQ(mgr.UndiffHistory(live), 4);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(qntest::ReadFile(version(n, false)), versions[n - 1]) << n;

    // Version 3's difference file damaged: 4 is rebuilt, 3 fails, 2 and 1 are skipped.
    for (int n = 1; n <= 4; ++n) std::filesystem::remove(version(n, false));
    std::string broken = qntest::ReadFile(version(3, true));
    broken[broken.size() / 2] ^= 0x55;
    qntest::WriteFile(version(3, true), broken);
    EXPECT_EQ(mgr.UndiffHistory(live), 1);
    EXPECT_EQ(qntest::ReadFile(version(4, false)), versions[3]);
    for (int n = 1; n <= 3; ++n) EXPECT_FALSE(std::filesystem::exists(version(n, false))) << n;
    EXPECT_TRUE(owner.Logged("follows a version that could not be rebuilt"));
}

}  // namespace
