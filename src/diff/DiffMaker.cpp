#include "diff/DiffMaker.h"

#include "common/SafeFile.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t MinMatch = 20;
constexpr uint32_t MaxCopy = 65535;
constexpr size_t HashSize = 131072;
// How far ahead of its place the encoder looks for the bytes of a block that matched
// nothing (the bytes deleted before it).
constexpr int64_t ResyncReach = 32 * int64_t(DiffBlockSize);
constexpr size_t AnchorLength = 32;
constexpr int AnchorCount = 16;

// A copy command, positions 1-based in their blocks.
struct TCopy {
    uint32_t Length;
    uint32_t RefPos;
    uint32_t TargetPos;
};

uint32_t Crc(const uint8_t* data, size_t n) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (n > 0) {
        const uInt piece = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
        crc = crc32(crc, data, piece);
        data += piece;
        n -= piece;
    }
    return static_cast<uint32_t>(crc);
}

void PutLE(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The number of equal bytes at A and B, looking at no more than N.
size_t CommonPrefix(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    while (i + 8 <= n) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return i + static_cast<size_t>(__builtin_ctzll(x ^ y) / 8);
        i += 8;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Hash chains over the three-byte hashes of a reference block; buffers are kept between
// blocks.
class TMatcher {
public:
    std::vector<TCopy> Match(const uint8_t* t, size_t tn, const uint8_t* r, size_t rn, int level) {
        std::fill(FHead.begin(), FHead.end(), 0);
        FChain.assign(rn + 1, 0);
        int64_t last = -1;
        for (size_t p = 1; p + 4 <= rn; ++p) {
            const uint32_t h = Hash(r, p);
            if (h == last) continue;  // a run of one hash keeps its first position only
            FChain[p] = FHead[h];
            FHead[h] = static_cast<int32_t>(p);
            last = h;
        }
        std::vector<TCopy> copies;
        size_t pos = 1;
        while (pos <= tn) {
            uint32_t bestLength = 0, bestPos = 0;
            if (pos + 3 <= tn) {
                int32_t c = FHead[Hash(t, pos)];
                for (int k = 0; c != 0 && k < level; ++k, c = FChain[size_t(c)]) {
                    const size_t n = std::min(tn - pos, rn - size_t(c));
                    const size_t limit = std::min<size_t>(n, MaxCopy + 1);
                    size_t m = CommonPrefix(t + pos - 1, r + c - 1, limit);
                    // All N equal counts as N - 1.
                    if (m == limit) m = limit == n ? (n == 0 ? 0 : n - 1) : MaxCopy;
                    m = std::min<size_t>(m, MaxCopy);
                    if (m > bestLength) {
                        bestLength = static_cast<uint32_t>(m);
                        bestPos = static_cast<uint32_t>(c);
                    }
                }
            }
            if (bestLength >= MinMatch) {
                copies.push_back({bestLength, bestPos, static_cast<uint32_t>(pos)});
                pos += bestLength;
            } else {
                ++pos;
            }
        }
        return copies;
    }

private:
    static uint32_t Hash(const uint8_t* b, size_t p) {
        return (uint32_t(b[p - 1]) << 9) ^ (uint32_t(b[p]) << 5) ^ uint32_t(b[p + 1]);
    }
    std::vector<int32_t> FHead = std::vector<int32_t>(HashSize, 0);
    std::vector<int32_t> FChain;
};

class TWriter {
public:
    explicit TWriter(TStream& out) : FOut(out) {}
    void Stored(uint32_t refLength, const uint8_t* t, size_t tn) {
        FBuf.clear();
        PutLE(FBuf, refLength, 4);
        FBuf.push_back(0);
        PutLE(FBuf, static_cast<uint32_t>(tn), 4);
        if (tn > 0) PutLE(FBuf, Crc(t, tn), 4);
        FOut.Write(FBuf.data(), FBuf.size());
        if (tn > 0) FOut.Write(t, tn);
    }
    void Delta(uint32_t refLength, const uint8_t* t, size_t tn, const uint8_t* r, size_t rn,
               const std::vector<TCopy>& copies) {
        FBuf.clear();
        FLiterals.clear();
        FCommands.clear();
        uint32_t q = 1;
        for (const TCopy& c : copies) {
            FLiterals.insert(FLiterals.end(), t + q - 1, t + c.TargetPos - 1);
            PutLE(FCommands, c.Length, 2);
            PutLE(FCommands, 0, 2);
            PutLE(FCommands, c.RefPos, 4);
            PutLE(FCommands, c.TargetPos, 4);
            q = c.TargetPos + c.Length;
        }
        FLiterals.insert(FLiterals.end(), t + q - 1, t + tn);
        PutLE(FCommands, 0, 4);  // CopyLength 0 and the reserved half
        PutLE(FCommands, 0, 4);  // RefPos 0
        PutLE(FCommands, static_cast<uint32_t>(tn + 1), 4);
        PutLE(FBuf, refLength, 4);
        FBuf.push_back(1);
        PutLE(FBuf, Crc(t, tn), 4);
        PutLE(FBuf, Crc(r, rn), 4);
        PutLE(FBuf, static_cast<uint32_t>(FLiterals.size()), 4);
        PutLE(FBuf, static_cast<uint32_t>(FCommands.size()), 4);
        FOut.Write(FBuf.data(), FBuf.size());
        FOut.Write(FLiterals.data(), FLiterals.size());
        FOut.Write(FCommands.data(), FCommands.size());
    }
    // A block as the format's own encoder makes it: stored when either side is under four
    // bytes or the reference under a quarter of the block.
    void Block(uint32_t refLength, const uint8_t* t, size_t tn, const uint8_t* r, const std::vector<TCopy>& copies) {
        if (tn < 4 || refLength < 4 || refLength < tn / 4)
            Stored(refLength, t, tn);
        else
            Delta(refLength, t, tn, r, refLength, copies);
    }

private:
    TStream& FOut;
    std::vector<uint8_t> FBuf, FLiterals, FCommands;
};

// The reference, read by absolute offsets from where it stood.
class TReference {
public:
    explicit TReference(TStream& s) : FStream(s), FBase(s.Position()), FSize(std::max<int64_t>(0, s.Size() - FBase)) {}
    int64_t Size() const { return FSize; }
    size_t Read(int64_t at, uint8_t* buf, size_t n) {
        if (at >= FSize) return 0;
        n = static_cast<size_t>(std::min<int64_t>(int64_t(n), FSize - at));
        FStream.SetPosition(FBase + at);
        return FStream.ReadFull(buf, n);
    }

private:
    TStream& FStream;
    int64_t FBase, FSize;
};

// A rolling hash of AnchorLength bytes: Hash(p + 1) follows from Hash(p) in a step.
class TRollingHash {
public:
    TRollingHash() {
        for (size_t i = 0; i < AnchorLength; ++i) FTop *= Base;
    }
    uint64_t Of(const uint8_t* p) const {
        uint64_t h = 0;
        for (size_t i = 0; i < AnchorLength; ++i) h = h * Base + p[i];
        return h;
    }
    // The hash of the window one byte further: Out leaves it, In joins it.
    uint64_t Roll(uint64_t h, uint8_t out, uint8_t in) const { return h * Base + in - FTop * out; }

private:
    static constexpr uint64_t Base = 1099511628211ull;
    uint64_t FTop = 1;
};

// Where in the reference, from From on, the bytes of block T most likely are: the
// offset (reference position minus block position) that enough anchors of the block agree
// on, found by scanning at most ResyncReach bytes. Anchors are taken at evenly spaced
// places of the block.
std::optional<int64_t> FindBlockInReference(const uint8_t* t, size_t tn, TReference& ref, int64_t from) {
    if (tn < AnchorLength * 2) return std::nullopt;
    const TRollingHash roll;
    std::unordered_map<uint64_t, size_t> anchors;  // hash -> offset in the block
    std::vector<bool> filter(1 << 16, false);
    for (int i = 0; i < AnchorCount; ++i) {
        const size_t at = (tn - AnchorLength) * size_t(i) / (AnchorCount - 1);
        const uint64_t h = roll.Of(t + at);
        anchors.emplace(h, at);
        filter[h >> 48] = true;
    }
    std::unordered_map<int64_t, int> votes;
    std::vector<uint8_t> buf(DiffBlockSize + AnchorLength);
    const int64_t end = std::min(ref.Size(), from + ResyncReach);
    for (int64_t at = from; at < end; at += DiffBlockSize) {
        const size_t n = ref.Read(at, buf.data(), std::min<int64_t>(int64_t(buf.size()), end - at));
        if (n < AnchorLength) break;
        uint64_t h = roll.Of(buf.data());
        for (size_t i = 0;; ++i) {
            if (filter[h >> 48]) {
                auto a = anchors.find(h);
                if (a != anchors.end() && std::memcmp(buf.data() + i, t + a->second, AnchorLength) == 0 &&
                    ++votes[at + int64_t(i) - int64_t(a->second)] >= AnchorCount / 4)
                    return at + int64_t(i) - int64_t(a->second);
            }
            if (i + AnchorLength >= n) break;
            h = roll.Roll(h, buf[i], buf[i + AnchorLength]);
        }
        if (n < buf.size()) break;
    }
    return std::nullopt;
}

size_t Covered(const std::vector<TCopy>& copies) {
    size_t n = 0;
    for (const TCopy& c : copies) n += c.Length;
    return n;
}

// The shift the end of a block carries against its reference block (reference position
// minus block position) when it is clear: most bytes copied in the block's last quarter
// share it, and so does its last long copy, whose bytes are no run of a few values
// (copies inside such runs carry any shift and decide nothing).
std::optional<int64_t> ClearShift(const std::vector<TCopy>& copies, const uint8_t* t, size_t tn) {
    std::unordered_map<int64_t, size_t> weight;
    size_t covered = 0;
    for (const TCopy& c : copies) {
        if (size_t(c.TargetPos) - 1 < tn - tn / 4) continue;
        weight[int64_t(c.RefPos) - int64_t(c.TargetPos)] += c.Length;
        covered += c.Length;
    }
    int64_t best = 0;
    size_t bestWeight = 0;
    for (const auto& [shift, w] : weight)
        if (w > bestWeight) best = shift, bestWeight = w;
    if (best == 0 || bestWeight * 2 < covered) return std::nullopt;
    for (auto c = copies.rbegin(); c != copies.rend(); ++c) {
        if (c->Length < 64) continue;
        if (int64_t(c->RefPos) - int64_t(c->TargetPos) != best) return std::nullopt;
        std::array<bool, 256> seen{};
        int distinct = 0;
        for (size_t i = 0; i < 64; ++i)
            if (!seen[t[c->TargetPos - 1 + i]]) seen[t[c->TargetPos - 1 + i]] = true, ++distinct;
        return distinct >= 8 ? std::optional<int64_t>(best) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

void EncodeDelta(TStream& target, TStream& reference, TStream& out, int level) {
    TReference ref(reference);
    TWriter writer(out);
    TMatcher matcher;
    std::vector<uint8_t> t(DiffBlockSize), r(DiffBlockSize), skip;
    int64_t tpos = 0, rpos = 0;  // bytes of each taken so far
    int64_t shift = 0;           // where the target's next bytes are in the reference, minus tpos
    for (;;) {
        const size_t tn = target.ReadFull(t.data(), DiffBlockSize);
        if (tn == 0) {
            // The end: a stored block of no bytes, beside the reference block it would read.
            writer.Stored(static_cast<uint32_t>(std::min<int64_t>(DiffBlockSize, ref.Size() - rpos)), nullptr, 0);
            return;
        }
        // Bytes deleted before this block: reference blocks that give nothing skip them.
        auto skipTo = [&](int64_t want) {
            while (want > rpos && rpos < ref.Size()) {
                const size_t n = static_cast<size_t>(std::min<int64_t>({int64_t(DiffBlockSize), want - rpos,
                                                                       ref.Size() - rpos}));
                skip.resize(n);
                ref.Read(rpos, skip.data(), n);
                writer.Delta(static_cast<uint32_t>(n), t.data(), 0, skip.data(), n, {});
                rpos += static_cast<int64_t>(n);
            }
        };
        skipTo(tpos + shift);
        size_t rn = ref.Read(rpos, r.data(), DiffBlockSize);
        std::vector<TCopy> copies = matcher.Match(t.data(), tn, r.data(), rn, level);
        if (Covered(copies) * 4 < tn) {
            // Little in common here: the block's bytes may lie further on.
            if (auto found = FindBlockInReference(t.data(), tn, ref, rpos + int64_t(rn))) {
                skipTo(*found);
                shift = rpos - tpos;
                rn = ref.Read(rpos, r.data(), DiffBlockSize);
                copies = matcher.Match(t.data(), tn, r.data(), rn, level);
            }
        }
        // A full block that ends shifted against its reference block reads only as far as
        // its last bytes reach, so that the next one starts where its bytes are.
        if (tn == DiffBlockSize && Covered(copies) * 4 >= tn) {
            if (auto s = ClearShift(copies, t.data(), tn)) {
                shift = rpos + *s - tpos;
                const int64_t reach = int64_t(tn) + *s;
                if (reach >= 0 && reach < int64_t(rn)) {
                    rn = static_cast<size_t>(reach);
                    copies = matcher.Match(t.data(), tn, r.data(), rn, level);
                }
            }
        }
        writer.Block(static_cast<uint32_t>(rn), t.data(), tn, r.data(), copies);
        tpos += static_cast<int64_t>(tn);
        rpos += static_cast<int64_t>(rn);
    }
}

// --- Decoding -------------------------------------------------------------------------------

namespace {

class TDiffReader {
public:
    explicit TDiffReader(TStream& s) : FStream(s) {}
    uint32_t U32() {
        uint8_t b[4];
        Bytes(b, 4);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint8_t U8() {
        uint8_t b;
        Bytes(&b, 1);
        return b;
    }
    void Bytes(void* buf, size_t n) {
        if (FStream.ReadFull(buf, n) != n) throw EDiffError("The difference file ends before its end block.");
    }

private:
    TStream& FStream;
};

// A length field within 0..Max, else the file is damaged.
size_t Checked(int32_t v, size_t max, const char* what) {
    if (v < 0 || size_t(v) > max)
        throw EDiffError(std::string("The difference file is damaged: ") + what + " " + std::to_string(v) +
                         " is out of range.");
    return size_t(v);
}

}  // namespace

void DecodeDelta(TStream& diff, TStream& reference, TStream& out) {
    TDiffReader in(diff);
    std::vector<uint8_t> r(DiffBlockSize), literals, commands, block(DiffBlockSize);
    for (;;) {
        const size_t rn = Checked(in.I32(), DiffBlockSize, "a reference length");
        if (reference.ReadFull(r.data(), rn) != rn)
            throw EDiffError("CRC Error: the reference file is shorter than the difference file needs.");
        const uint8_t kind = in.U8();
        if (kind == 0) {
            const size_t n = Checked(in.I32(), DiffBlockSize, "a block length");
            if (n == 0) return;
            const uint32_t crc = in.U32();
            in.Bytes(block.data(), n);
            if (Crc(block.data(), n) != crc) throw EDiffError("CRC Error");
            out.Write(block.data(), n);
            continue;
        }
        if (kind != 1) throw EDiffError("CRC Error: unknown block kind " + std::to_string(kind) + ".");
        const uint32_t targetCrc = in.U32(), refCrc = in.U32();
        if (Crc(r.data(), rn) != refCrc) throw EDiffError("CRC Error");
        const size_t ln = Checked(in.I32(), DiffBlockSize, "a literal length");
        const size_t cn = Checked(in.I32(), (DiffBlockSize + 1) * 12, "a command area");
        if (cn % 12 != 0 || cn == 0) throw EDiffError("The difference file is damaged: a command area of " +
                                                      std::to_string(cn) + " bytes.");
        literals.resize(ln);
        in.Bytes(literals.data(), ln);
        commands.resize(cn);
        in.Bytes(commands.data(), cn);
        size_t q = 0, l = 0;  // bytes rebuilt, literals used
        for (size_t i = 0; i < cn; i += 12) {
            const uint8_t* c = commands.data() + i;
            const size_t length = size_t(c[0]) | size_t(c[1]) << 8;
            const int64_t refPos = int32_t(uint32_t(c[4]) | uint32_t(c[5]) << 8 | uint32_t(c[6]) << 16 | uint32_t(c[7]) << 24);
            const int64_t targetPos = int32_t(uint32_t(c[8]) | uint32_t(c[9]) << 8 | uint32_t(c[10]) << 16 | uint32_t(c[11]) << 24);
            if (targetPos < int64_t(q) + 1 || targetPos - 1 > int64_t(DiffBlockSize))
                throw EDiffError("CRC Error: a copy lands outside its block.");
            const size_t gap = size_t(targetPos - 1) - q;
            if (gap > ln - l) throw EDiffError("CRC Error: the literals run out.");
            if (gap > 0) std::memcpy(block.data() + q, literals.data() + l, gap);
            q += gap;
            l += gap;
            if (length == 0) continue;
            if (refPos < 1 || refPos - 1 + int64_t(length) > int64_t(rn) || q + length > DiffBlockSize)
                throw EDiffError("CRC Error: a copy reaches outside its blocks.");
            std::memcpy(block.data() + q, r.data() + (refPos - 1), length);
            q += length;
        }
        if (Crc(block.data(), q) != targetCrc) throw EDiffError("CRC Error");
        out.Write(block.data(), q);
    }
}

// --- Files ----------------------------------------------------------------------------------

namespace {

// A file written under a temporary name beside its place and renamed over it when
// Commit is called; removed otherwise.
class TPendingFile {
public:
    explicit TPendingFile(const std::string& path) : FPath(path) {
        std::string pattern = path + ".qnpart-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            throw EFileError("Cannot create file \"" + path + "\": " + SysErrorMessage(err), err);
        }
        FTemp = name.data();
        FStream = std::make_unique<TFileStream>(fd, FTemp);
    }
    ~TPendingFile() {
        if (!FTemp.empty()) ::unlink(FTemp.c_str());
    }
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;
    TStream& Stream() { return *FStream; }
    void Commit() {
        ::fchmod(FStream->Handle(), 0644);
        FStream->Flush();
        FStream->Close();
        if (::rename(FTemp.c_str(), FPath.c_str()) != 0) {
            const int err = errno;
            throw EFileError("Cannot write file \"" + FPath + "\": " + SysErrorMessage(err), err);
        }
        FTemp.clear();
    }

private:
    std::string FPath, FTemp;
    std::unique_ptr<TFileStream> FStream;
};

}  // namespace

void TDiffMaker::SetCompLevel(int level) {
    if (level >= 10 && level <= 1000) FCompLevel = level;
}

void TDiffMaker::MakeDiff() {
    auto target = TFileStream::OpenRead(InFile);
    auto reference = TFileStream::OpenRead(UseFile);
    TPendingFile out(OutFile);
    EncodeDelta(*target, *reference, out.Stream(), FCompLevel);
    out.Commit();
}

void TDiffMaker::ApplyDiff() {
    auto diff = TFileStream::OpenRead(InFile);
    auto reference = TFileStream::OpenRead(UseFile);
    TPendingFile out(OutFile);
    DecodeDelta(*diff, *reference, out.Stream());
    out.Commit();
}

double DeltaDifference(TStream& a, TStream& b, int level) {
    const int64_t as = a.Size() - a.Position() + 1, bs = b.Size() - b.Position() + 1;
    TMemoryStream delta;
    EncodeDelta(a, b, delta, level);
    const double big = double(std::max(as, bs)), small = double(std::min(as, bs));
    return double(delta.Size()) / big + (1.0 - small / big);
}

double DeltaDifference(std::string_view a, std::string_view b, int level) {
    TMemoryStream sa{std::string(a)}, sb{std::string(b)};
    return DeltaDifference(sa, sb, level);
}

double DeltaDifferenceOfFiles(const std::string& a, const std::string& b, int level) {
    auto sa = TFileStream::OpenRead(a);
    auto sb = TFileStream::OpenRead(b);
    return DeltaDifference(*sa, *sb, level);
}
