// The line comparison: the shortest list of added, deleted and modified line runs that
// turns a first sequence of lines into a second one.
//
// TDiff compares two arrays of line numbers (equal numbers stand for equal lines; build
// them with TLineNumbering, or let CompareLines do it) with the linear-space
// divide-and-conquer form of the O(ND) difference algorithm: it searches for the middle
// snake from both ends at once and recurses on the two halves, so memory stays
// proportional to the input length.
#pragma once

#include "common/QNStringList.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

enum TDiffKind : int32_t { dkAdd = 0, dkDelete = 1, dkModify = 2 };

// One change. Add: lines Pos2 .. Pos2+Count-1 of the second list are inserted before line
// Pos1 of the first. Delete: lines Pos1 .. Pos1+Count-1 of the first list go (Pos2 is 0).
// Modify: lines Pos1 .. Pos1+Count-1 of the first list are replaced, line for line, by
// lines Pos2 .. Pos2+Count-1 of the second.
struct TDiffChange {
    TDiffKind Kind;
    int32_t Pos1;
    int32_t Pos2;
    int32_t Count;
    bool operator==(const TDiffChange&) const = default;
};
static_assert(sizeof(TDiffChange) == 16);

class TDiff {
public:
    // Sender, percent. The estimate is not capped at 100.
    using TProgressEvent = std::function<void(TDiff& sender, int percent)>;

    static constexpr int32_t MaxDiagonal = 0xFFFFF;

    TDiff();
    TDiff(const TDiff&) = delete;
    TDiff& operator=(const TDiff&) = delete;

    // Compares List1[0 .. Count1-1] with List2[0 .. Count2-1]. Returns false, with an
    // empty change list, when a list pointer is missing, when the comparison was
    // cancelled, or when no solution exists within the diagonal limit.
    bool Compare(const uint32_t* list1, const uint32_t* list2, int count1, int count2);
    // Numbers the lines by their text under the options, then compares them.
    bool CompareLines(const std::vector<std::string_view>& lines1,
                      const std::vector<std::string_view>& lines2, bool ignoreCase,
                      bool ignoreBlanks);

    // Makes the running Compare stop at its next step and return false. Safe to call from
    // OnProgress or from another thread; Compare clears the request when it starts.
    void Cancel() { FCancelled.store(true, std::memory_order_relaxed); }

    int ChangeCount() const { return static_cast<int>(FChanges.size()); }
    TDiffChange GetChange(int index) const { return FChanges.at(static_cast<size_t>(index)); }
    const std::vector<TDiffChange>& Changes() const { return FChanges; }

    // Called during Compare at most every ProgressInterval milliseconds (0: at every
    // check, which comes after a bounded amount of work).
    TProgressEvent OnProgress;
    int ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int ms) { FProgressInterval = ms < 0 ? 0 : ms; }

    // Largest number of edit steps searched from each end; MaxDiagonal by default.
    int32_t DiagonalLimit() const { return FDiagonalLimit; }
    void SetDiagonalLimit(int32_t limit) { FDiagonalLimit = limit < 1 ? 1 : limit; }

    // Lines that have no equal at all in the other list cannot be part of any common
    // subsequence; leaving them out of the search (and reporting them as added or
    // deleted) keeps the result minimal and makes large comparisons much faster. On by
    // default.
    bool DiscardUnmatched() const { return FDiscardUnmatched; }
    void SetDiscardUnmatched(bool v) { FDiscardUnmatched = v; }

    // The first phase's estimate: the share of list 1 still between the two fronts,
    // mapped to 0 .. 46.
    static int SearchPercent(int64_t length1, int64_t forwardFront, int64_t backwardFront);
    // The second phase's estimate, extrapolated from the time the first phase took.
    static int ExtrapolatedPercent(int64_t start, int64_t meeting, int64_t now);

private:
    using TClock = std::chrono::steady_clock;

    bool DiffRange(int lo1, int lo2, int hi1, int hi2);
    bool Step();  // once per d step: cancellation and progress; false when cancelled
    void Tick();
    void EmitAdd(int x, int y);     // add line y of the search's list 2 at x
    void EmitDelete(int x, int y);  // delete line x of the search's list 1 at (x, y)
    void Advance(int x, int y);     // the search's path reaches (x, y) along matches
    void AddOne(int x, int y);      // single-line edits in original positions
    void DeleteOne(int x);
    void FlushModify();
    void FlushAdd();
    void FlushDelete();
    void Reset();

    std::vector<TDiffChange> FChanges;
    std::optional<TDiffChange> FPendingAdd, FPendingDelete, FPendingModify;

    // The search runs on A and B (the unmatched lines of the middle part left out);
    // FMap1/FMap2 give each line's position in the caller's lists.
    const uint32_t* FA = nullptr;
    const uint32_t* FB = nullptr;
    std::vector<uint32_t> FReducedA, FReducedB;
    std::vector<int32_t> FMap1, FMap2;
    bool FMapped = false;  // lines were left out: positions go through the maps
    int FOffset = 0;       // common head: without maps, positions start after it
    int FEnd1 = 0, FEnd2 = 0;  // end of the middle part in the caller's lists
    // Path state: position in the search lists and in the caller's lists.
    int FCx = 0, FCy = 0, FX = 0, FY = 0;

    void GrowDiagonals(int need);

    // Furthest points per diagonal, indexed k + FCapacity + 1 for k in -FCapacity-1 ..
    // FCapacity+1; grown as the search needs, up to the D limit of the run.
    std::vector<int32_t> FForward, FBackward;
    int32_t FCapacity = 0;
    int32_t FDiag = 0;  // the D limit of the current run
    int32_t FDiagonalLimit = MaxDiagonal;
    bool FDiscardUnmatched = true;

    std::atomic<bool> FCancelled{false};
    int FProgressInterval = 100;
    bool FCounterAvailable = true;
    TClock::time_point FStartTime, FMeetingTime, FLastTick;
    bool FMet = false;
    int64_t FLength1 = 0;
    int64_t FForwardFront = 0, FBackwardFront = 0;
    uint64_t FWork = 0, FNextCheck = 0;
};

// How far two line lists differ: the lines in changes (case ignored) divided by the
// longer list's length; 0 for equal lists (two empty ones too), 1 when exactly one is
// empty or the comparison finds no solution.
double TextLinesDifference(const TQNStringList& lines1, const TQNStringList& lines2);
