// Binary deltas: a file kept as its difference to a reference file (".diff").
//
// The format, little-endian, without a header, is a row of blocks, each taking up to
// 1 MiB of the reference (read in order, block after block) and giving up to 1 MiB of
// the file:
//
//   RefLength int32        reference bytes the block reads (0 .. 1 MiB)
//   BlockKind uint8        0 stored, 1 delta
//   stored: Length int32 (0 ends the file), Crc uint32 and Length bytes when Length > 0
//   delta:  TargetCrc uint32, RefCrc uint32, LiteralLength int32, CommandBytes int32,
//           the literals, then 12-byte commands: CopyLength uint16, 0 uint16, RefPos
//           int32 and TargetPos int32 (1-based in the block); the last command is
//           (0, 0, block length + 1)
//
// CRC-32 is the IEEE one. The encoder matches each block of the file against the
// reference block read beside it with hash chains over three-byte hashes, at most
// CompLevel candidates per position, matches of at least 20 bytes. Where the file
// shifted against the reference (bytes inserted or deleted), the encoder lets the
// reference blocks follow: a block reads fewer reference bytes after an insertion, a
// block that gives no bytes skips reference bytes after a deletion, and a block with
// nothing in common reads none; the format and its decoder stay as they are.
//
// The decoder takes hostile input: every length, position and count is checked before
// it is used, and every mismatch ends in an EDiffError ("CRC Error" for a block that does
// not rebuild). Outputs are written under a temporary name beside their place and renamed
// when complete, so an error, a cancel or a kill leaves no partial file.
#pragma once

#include "common/Streams.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class EDiffError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr size_t DiffBlockSize = 1048576;

class TDiffMaker {
public:
    std::string InFile;   // encoding: the file to keep as a delta; decoding: the .diff
    std::string OutFile;  // encoding: the .diff to make; decoding: the file to rebuild
    std::string UseFile;  // the reference, both ways

    int CompLevel() const { return FCompLevel; }
    // Values outside 10..1000 are ignored.
    void SetCompLevel(int level);

    void MakeDiff();
    void ApplyDiff();

private:
    int FCompLevel = 25;
};

// Encodes Target against Reference into Out (from their current positions).
void EncodeDelta(TStream& target, TStream& reference, TStream& out, int level = 25);
// Decodes Diff against Reference into Out.
void DecodeDelta(TStream& diff, TStream& reference, TStream& out);

// How far two contents differ: size(delta of A against B) / max(a, b) + (1 - min(a, b) /
// max(a, b)), with a and b the sizes plus one. Near 0 for equal contents, near or above 1
// for unrelated ones.
double DeltaDifference(TStream& a, TStream& b, int level);
double DeltaDifference(std::string_view a, std::string_view b, int level);
double DeltaDifferenceOfFiles(const std::string& a, const std::string& b, int level);
