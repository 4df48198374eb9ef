#include "diff/DiffUnit.h"

#include "diff/HashUnit.h"

#include <algorithm>
#include <climits>
#include <unordered_map>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Work units (diagonals visited, and lines compared along runs four to a unit) between
// two looks at the clock: a small fraction of a millisecond, so progress and Cancel stay
// responsive while the clock costs nothing measurable.
constexpr uint64_t CheckWork = 1u << 16;

// Length of the run of equal lines A[0..] = B[0..], at most Limit. Most diagonals stop
// at once; longer runs, as between the edits of similar files, are compared four lines
// at a time.
inline int RunForward(const uint32_t* a, const uint32_t* b, int limit) {
    if (limit <= 0 || a[0] != b[0]) return 0;
    int i = 1;
#ifdef __SSE2__
    for (; i + 4 <= limit; i += 4) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        int equal = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(va, vb)));
        if (equal != 15) return i + __builtin_ctz(unsigned(~equal) & 15u);
    }
#endif
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// Length of the run of equal lines ending just before A and B (A[-1] = B[-1], ...), at
// most Limit.
inline int RunBackward(const uint32_t* a, const uint32_t* b, int limit) {
    if (limit <= 0 || a[-1] != b[-1]) return 0;
    int i = 1;
#ifdef __SSE2__
    for (; i + 4 <= limit; i += 4) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a - i - 4));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b - i - 4));
        int equal = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(va, vb)));
        // Lane 3 holds the line nearest to the start of the run.
        if (equal != 15) return i + __builtin_clz((unsigned(~equal) << 28) | 0x08000000u);
    }
#endif
    while (i < limit && a[-1 - i] == b[-1 - i]) ++i;
    return i;
}

}  // namespace

TDiff::TDiff() {
    // The steady clock is the high-resolution counter on every platform we build for.
    FCounterAvailable = TClock::is_steady;
}

int TDiff::SearchPercent(int64_t length1, int64_t forwardFront, int64_t backwardFront) {
    if (length1 <= 0) return 0;
    return static_cast<int>((length1 - (backwardFront - forwardFront)) * 46 / length1);
}

int TDiff::ExtrapolatedPercent(int64_t start, int64_t meeting, int64_t now) {
    if (meeting <= start) return 46;
    return static_cast<int>((now - start) * 46 / (meeting - start));
}

void TDiff::Reset() {
    FChanges.clear();
    FPendingAdd.reset();
    FPendingDelete.reset();
    FPendingModify.reset();
}

bool TDiff::CompareLines(const std::vector<std::string_view>& lines1,
                         const std::vector<std::string_view>& lines2, bool ignoreCase,
                         bool ignoreBlanks) {
    std::vector<uint32_t> ids1, ids2;
    ids1.reserve(lines1.size() + 1);
    ids2.reserve(lines2.size() + 1);
    {
        // The table goes before the search starts.
        TLineNumbering numbering(ignoreCase, ignoreBlanks);
        numbering.NumberLists(lines1, lines2, ids1, ids2);
    }
    // An empty list is a list, not a missing one: give Compare a valid pointer.
    ids1.push_back(0);
    ids2.push_back(0);
    return Compare(ids1.data(), ids2.data(), static_cast<int>(lines1.size()),
                   static_cast<int>(lines2.size()));
}

bool TDiff::Compare(const uint32_t* list1, const uint32_t* list2, int count1, int count2) {
    Reset();
    if (list1 == nullptr || list2 == nullptr || count1 < 0 || count2 < 0) return false;
    FCancelled.store(false, std::memory_order_relaxed);

    // The common head and tail are matched as they are.
    int head = 0;
    while (head < count1 && head < count2 && list1[head] == list2[head]) ++head;
    int end1 = count1, end2 = count2;
    while (end1 > head && end2 > head && list1[end1 - 1] == list2[end2 - 1]) --end1, --end2;
    FOffset = head;
    FEnd1 = end1;
    FEnd2 = end2;
    int n1 = end1 - head, n2 = end2 - head;

    // The search runs on copies of the middle parts, without the lines that have no equal
    // in the other middle part.
    const uint32_t* a = list1 + head;
    const uint32_t* b = list2 + head;
    std::vector<uint8_t> in1, in2;  // per value: occurs in the middle of list 1 / list 2
    std::unordered_map<uint32_t, uint8_t> sparse;
    bool discard = FDiscardUnmatched && n1 > 0 && n2 > 0, dense = true;
    if (discard) {
        uint32_t maxValue = 0;
        for (int i = 0; i < n1; ++i) maxValue = std::max(maxValue, a[i]);
        for (int i = 0; i < n2; ++i) maxValue = std::max(maxValue, b[i]);
        dense = uint64_t(maxValue) < 4 * (uint64_t(n1) + uint64_t(n2)) + 1024;
        if (dense) {
            in1.assign(size_t(maxValue) + 1, 0);
            in2.assign(size_t(maxValue) + 1, 0);
            for (int i = 0; i < n1; ++i) in1[a[i]] = 1;
            for (int i = 0; i < n2; ++i) in2[b[i]] = 1;
        } else {
            sparse.reserve(size_t(n1) + size_t(n2));
            for (int i = 0; i < n1; ++i) sparse[a[i]] |= 1;
            for (int i = 0; i < n2; ++i) sparse[b[i]] |= 2;
        }
    }
    auto inOther = [&](uint32_t v, bool first) {
        if (dense) return (first ? in2[v] : in1[v]) != 0;
        return (sparse[v] & (first ? 2 : 1)) != 0;
    };
    FReducedA.clear();
    FReducedB.clear();
    FReducedA.reserve(size_t(n1) + 1);
    FReducedB.reserve(size_t(n2) + 1);
    FMap1.clear();
    FMap2.clear();
    if (discard) {
        for (int i = 0; i < n1; ++i)
            if (inOther(a[i], true)) FReducedA.push_back(a[i]), FMap1.push_back(head + i);
        for (int i = 0; i < n2; ++i)
            if (inOther(b[i], false)) FReducedB.push_back(b[i]), FMap2.push_back(head + i);
    } else {
        FReducedA.insert(FReducedA.end(), a, a + n1);
        FReducedB.insert(FReducedB.end(), b, b + n2);
    }
    const int m1 = static_cast<int>(FReducedA.size());
    const int m2 = static_cast<int>(FReducedB.size());
    FA = FReducedA.data();
    FB = FReducedB.data();
    FMapped = m1 != n1 || m2 != n2;
    if (!FMapped) {
        FMap1 = {};
        FMap2 = {};
    }
    in1 = {};
    in2 = {};
    sparse = {};

    FDiag = std::max(1, std::min(std::max(m1, m2), FDiagonalLimit));
    FChanges.reserve(size_t(std::max(FDiag, 1024)) / 32 * 4);
    FLength1 = m1;
    FForwardFront = 0;
    FBackwardFront = m1;
    FMet = false;
    FWork = 0;
    FNextCheck = CheckWork;
    FStartTime = FLastTick = TClock::now();
    // Diagonals -C .. C and one spare entry at each end, all initialised; C grows with
    // the search up to D.
    FCapacity = std::min(FDiag, 1024);
    FForward.assign(size_t(2) * size_t(FCapacity) + 3, 0);
    FBackward.assign(size_t(2) * size_t(FCapacity) + 3, 0);
    FCx = FCy = 0;
    FX = FY = head;

    bool ok = DiffRange(0, 0, m1, m2);
    if (ok) {
        Advance(m1, m2);
        while (FY < FEnd2) AddOne(FX, FY++);
        while (FX < FEnd1) DeleteOne(FX++);
    }
    FlushAdd();
    FlushDelete();
    FForward = {};
    FBackward = {};
    FReducedA = {};
    FReducedB = {};
    FMap1 = {};
    FMap2 = {};
    FA = FB = nullptr;
    if (!ok) FChanges.clear();
    return ok;
}

void TDiff::GrowDiagonals(int need) {
    int capacity = std::min(FDiag, std::max(need, FCapacity < FDiag / 2 ? 2 * FCapacity : FDiag));
    if (capacity <= FCapacity) return;
    for (auto* array : {&FForward, &FBackward}) {
        std::vector<int32_t> grown(size_t(2) * size_t(capacity) + 3, 0);
        std::copy(array->begin(), array->end(), grown.begin() + (capacity - FCapacity));
        array->swap(grown);
    }
    FCapacity = capacity;
}

bool TDiff::Step() {
    if (FCancelled.load(std::memory_order_relaxed)) return false;
    if (OnProgress && FCounterAvailable && FWork >= FNextCheck) {
        FNextCheck = FWork + CheckWork;
        auto now = TClock::now();
        if (now - FLastTick >= std::chrono::milliseconds(FProgressInterval)) {
            FLastTick = now;
            Tick();
            if (FCancelled.load(std::memory_order_relaxed)) return false;
        }
    }
    return true;
}

void TDiff::Tick() {
    int percent;
    if (FBackwardFront > FForwardFront) {
        percent = SearchPercent(FLength1, FForwardFront, FBackwardFront);
    } else {
        if (!FMet) {
            FMet = true;
            FMeetingTime = FLastTick;
        }
        auto ns = [this](TClock::time_point t) {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(t - FStartTime).count();
        };
        percent = ExtrapolatedPercent(0, ns(FMeetingTime), ns(FLastTick));
    }
    OnProgress(*this, percent);
}

// Lines lo1 .. hi1-1 of A against lo2 .. hi2-1 of B. Diagonal k of a point (x, y) is
// (x - lo1) - (y - lo2). Only diagonals that cross the range's box are searched, and a
// step that would leave the box is cut back to the box's edge: the point on the edge is
// reachable with the same number of edits, so the stored fronts are always real points.
// Each pass keeps the furthest point of every diagonal of its previous step; the
// entries just outside that range hold values that never win the comparison.
bool TDiff::DiffRange(int lo1, int lo2, int hi1, int hi2) {
    const uint32_t* a = FA;
    const uint32_t* b = FB;
    while (lo1 < hi1 && lo2 < hi2 && a[lo1] == b[lo2]) ++lo1, ++lo2;
    while (lo1 < hi1 && lo2 < hi2 && a[hi1 - 1] == b[hi2 - 1]) --hi1, --hi2;
    if (lo1 == hi1) {
        for (int y = lo2; y < hi2; ++y) EmitAdd(lo1, y);
        return true;
    }
    if (lo2 == hi2) {
        for (int x = lo1; x < hi1; ++x) EmitDelete(x, lo2);
        return true;
    }

    const int n1 = hi1 - lo1, n2 = hi2 - lo2, delta = n1 - n2;
    const int limit = FDiag;
    if (delta > limit || delta < -limit) return false;
    const bool odd = (delta & 1) != 0;
    const int kmin = std::max(-n2, -limit), kmax = std::min(n1, limit);
    const int shift = lo2 - lo1;  // y = x + shift - k
    constexpr int32_t NoForward = INT32_MIN / 2, NoBackward = INT32_MAX / 2;
    const int reach = delta < 0 ? -delta : delta;  // |k| <= reach + d at step d
    if (reach > FCapacity) GrowDiagonals(reach);
    int32_t* fwd = FForward.data() + FCapacity + 1;
    int32_t* bwd = FBackward.data() + FCapacity + 1;
    fwd[0] = lo1;
    bwd[delta] = hi1;
    // The diagonals computed by the previous step of each pass.
    int fLo = 0, fHi = 0, bLo = delta, bHi = delta;

    for (int d = 1; d <= limit; ++d) {
        if (!Step()) return false;
        uint64_t walked = 0;  // lines compared along runs, for the work count
        if (int64_t(reach) + d > FCapacity && FCapacity < limit) {
            GrowDiagonals(int(std::min<int64_t>(int64_t(reach) + d, limit)));
            fwd = FForward.data() + FCapacity + 1;
            bwd = FBackward.data() + FCapacity + 1;
        }

        // Forward pass: diagonals -d, -d+2, ..., d within the box. The furthest point
        // comes by a delete from diagonal k-1 or an add from k+1, the delete on a tie.
        int lo = std::max(-d, kmin), hi = std::min(d, kmax);
        if ((lo + d) & 1) ++lo;
        if ((hi + d) & 1) --hi;
        if (lo > hi) return false;
        if (lo - 1 < fLo) fwd[lo - 1] = NoForward;
        if (hi + 1 > fHi) fwd[hi + 1] = NoForward;
        int front = lo1;
        for (int k = lo; k <= hi; k += 2) {
            int x = std::max(fwd[k - 1] + 1, fwd[k + 1]);
            x = std::min(x, std::min(hi1, hi2 - shift + k));
            int y = x + shift - k;
            int run = RunForward(a + x, b + y, std::min(hi1 - x, hi2 - y));
            walked += unsigned(run);
            x += run;
            y += run;
            fwd[k] = x;
            front = std::max(front, x);
            if (odd && k >= bLo && k <= bHi && x >= bwd[k]) {
                int sx = x, sy = y;
                while (sx > lo1 && sy > lo2 && a[sx - 1] == b[sy - 1]) --sx, --sy;
                return DiffRange(lo1, lo2, sx, sy) && DiffRange(x, y, hi1, hi2);
            }
        }
        FForwardFront = std::max<int64_t>(FForwardFront, front);
        FWork += uint64_t(hi - lo) / 2 + 1 + walked / 4;
        walked = 0;
        fLo = lo;
        fHi = hi;

        // Backward pass: diagonals delta-d, ..., delta+d within the box and the limit.
        lo = std::max(delta - d, kmin);
        hi = std::min(delta + d, kmax);
        if ((lo - delta + d) & 1) ++lo;
        if ((delta + d - hi) & 1) --hi;
        if (lo > hi) return false;
        if (lo - 1 < bLo) bwd[lo - 1] = NoBackward;
        if (hi + 1 > bHi) bwd[hi + 1] = NoBackward;
        front = hi1;
        for (int k = lo; k <= hi; k += 2) {
            int x = std::min(bwd[k - 1], bwd[k + 1] - 1);
            x = std::max(x, std::max(lo1, lo2 - shift + k));
            int y = x + shift - k;
            int run = RunBackward(a + x, b + y, std::min(x - lo1, y - lo2));
            walked += unsigned(run);
            x -= run;
            y -= run;
            bwd[k] = x;
            front = std::min(front, x);
            if (!odd && k >= fLo && k <= fHi && fwd[k] >= x) {
                if (d == 1) {
                    // Two single-line edits; the first and last lines of both ranges differ.
                    if (delta == 2) {
                        EmitDelete(lo1, lo2);
                        EmitDelete(hi1 - 1, hi2);
                    } else if (delta == -2) {
                        EmitAdd(lo1, lo2);
                        EmitAdd(hi1, hi2 - 1);
                    } else if (lo1 + 1 == hi1) {
                        EmitAdd(lo1, lo2);  // one line each side: a one-line modify
                        EmitDelete(lo1, hi2);
                    } else if (k > 0) {
                        // The paths meet on the diagonal a first deletion leads to.
                        EmitDelete(lo1, lo2);
                        EmitAdd(hi1, hi2 - 1);
                    } else {
                        EmitAdd(lo1, lo2);
                        EmitDelete(hi1 - 1, hi2);
                    }
                    return true;
                }
                if (!DiffRange(lo1, lo2, x, y)) return false;
                while (x < hi1 && y < hi2 && a[x] == b[y]) ++x, ++y;
                return DiffRange(x, y, hi1, hi2);
            }
        }
        FBackwardFront = std::min<int64_t>(FBackwardFront, front);
        FWork += uint64_t(hi - lo) / 2 + 1 + walked / 4;
        bLo = lo;
        bHi = hi;
    }
    return false;
}

void TDiff::Advance(int px, int py) {
    if (!FMapped) {
        FCx = px;
        FCy = py;
        FX = FOffset + px;
        FY = FOffset + py;
        return;
    }
    // Each matched pair of the search; the lines left out before it are added (list 2)
    // and deleted (list 1) first, in that order, so that they pair up into modifies.
    while (FCx < px) {
        int x = FMap1[size_t(FCx)], y = FMap2[size_t(FCy)];
        while (FY < y) AddOne(FX, FY++);
        while (FX < x) DeleteOne(FX++);
        FX = x + 1;
        FY = y + 1;
        ++FCx;
        ++FCy;
    }
}

void TDiff::EmitAdd(int x, int y) {
    Advance(x, y);
    if (FMapped)
        while (FY < FMap2[size_t(y)]) AddOne(FX, FY++);
    AddOne(FX, FY);
    ++FY;
    ++FCy;
}

void TDiff::EmitDelete(int x, int y) {
    Advance(x, y);
    if (FMapped)
        while (FX < FMap1[size_t(x)]) DeleteOne(FX++);
    DeleteOne(FX);
    ++FX;
    ++FCx;
}

void TDiff::FlushModify() {
    if (FPendingModify) FChanges.push_back(*FPendingModify);
    FPendingModify.reset();
}

void TDiff::FlushAdd() {
    FlushModify();
    if (FPendingAdd) FChanges.push_back(*FPendingAdd);
    FPendingAdd.reset();
}

void TDiff::FlushDelete() {
    FlushModify();
    if (FPendingDelete) FChanges.push_back(*FPendingDelete);
    FPendingDelete.reset();
}

void TDiff::AddOne(int x, int y) {
    if (FPendingAdd) {
        TDiffChange& run = *FPendingAdd;
        if (x == run.Pos1 && y == run.Pos2 + run.Count) {
            ++run.Count;
            return;
        }
        FlushAdd();
        FPendingAdd = TDiffChange{dkAdd, x, y, 1};
        return;
    }
    if (FPendingDelete) {
        TDiffChange& run = *FPendingDelete;
        if (x == run.Pos1) {
            FlushModify();
            FPendingModify = TDiffChange{dkModify, x, y, 1};
            ++run.Pos1;
            if (--run.Count == 0) FPendingDelete.reset();
            return;
        }
        FlushDelete();
    }
    FPendingAdd = TDiffChange{dkAdd, x, y, 1};
}

void TDiff::DeleteOne(int x) {
    if (FPendingDelete) {
        TDiffChange& run = *FPendingDelete;
        if (x == run.Pos1 + run.Count) {
            ++run.Count;
            return;
        }
        FlushDelete();
        FPendingDelete = TDiffChange{dkDelete, x, 0, 1};
        return;
    }
    if (!FPendingAdd) {
        FPendingDelete = TDiffChange{dkDelete, x, 0, 1};
        return;
    }
    TDiffChange& add = *FPendingAdd;
    if (x != add.Pos1) {
        FlushAdd();
        FPendingDelete = TDiffChange{dkDelete, x, 0, 1};
        return;
    }
    // Line x is replaced by the first line of the pending add run.
    if (FPendingModify && x == FPendingModify->Pos1 + FPendingModify->Count &&
        add.Pos2 == FPendingModify->Pos2 + FPendingModify->Count) {
        ++FPendingModify->Count;
    } else {
        FlushModify();
        FPendingModify = TDiffChange{dkModify, x, add.Pos2, 1};
    }
    ++add.Pos1;
    ++add.Pos2;
    if (--add.Count == 0) FPendingAdd.reset();
}

double TextLinesDifference(const TQNStringList& lines1, const TQNStringList& lines2) {
    if (lines1.Empty() && lines2.Empty()) return 0.0;
    if (lines1.Empty() || lines2.Empty()) return 1.0;
    std::vector<std::string_view> v1, v2;
    v1.reserve(size_t(lines1.Count()));
    v2.reserve(size_t(lines2.Count()));
    for (const auto& item : lines1) v1.push_back(item.Str);
    for (const auto& item : lines2) v2.push_back(item.Str);
    TDiff diff;
    if (!diff.CompareLines(v1, v2, true, false)) return 1.0;
    int64_t total = 0;
    for (const auto& change : diff.Changes()) total += change.Count;
    return double(total) / double(std::max(lines1.Count(), lines2.Count()));
}
