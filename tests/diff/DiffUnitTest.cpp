#include "DiffTestSupport.h"
#include "diff/DiffUnit.h"
#include "diff/HashUnit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <unordered_map>

using namespace difftest;

namespace {

TDiffChange Add(int p1, int p2, int n) { return {dkAdd, p1, p2, n}; }
TDiffChange Del(int p1, int n) { return {dkDelete, p1, 0, n}; }
TDiffChange Mod(int p1, int p2, int n) { return {dkModify, p1, p2, n}; }

std::vector<TDiffChange> Diffed(TDiff& diff, const std::string& l1, const std::string& l2) {
    EXPECT_TRUE(diff.CompareLines(Lines(l1), Lines(l2), false, false)) << l1 << " / " << l2;
    return diff.Changes();
}

std::string RandomLetters(std::mt19937& rng, int length, int letters) {
    std::string s;
    for (int i = 0; i < length; ++i) s += char('a' + rng() % unsigned(letters));
    return s;
}

// Lists of numbers that need a long search: random over two values.
std::vector<uint32_t> RandomIds(std::mt19937& rng, int n) {
    std::vector<uint32_t> v(static_cast<size_t>(n));
    for (auto& x : v) x = rng() % 2;
    return v;
}

}  // namespace

struct TCase {
    const char* Name;
    std::string L1, L2;
    std::vector<TDiffChange> Expected;
};

TEST(TDiff, ResultsOfTypicalComparisons) {
    const TCase cases[] = {
        {"identical", "abcde", "abcde", {}},
        {"both empty", "", "", {}},
        {"empty first", "", "abc", {Add(0, 0, 3)}},
        {"empty second", "abc", "", {Del(0, 3)}},
        {"one line each", "a", "b", {Mod(0, 0, 1)}},
        {"block of three replaced", "0123456789", "012abc6789", {Mod(3, 3, 3)}},
        {"insert", "abd", "abcd", {Add(2, 2, 1)}},
        {"delete", "abcd", "abd", {Del(2, 1)}},
        {"replaced by more lines", "abcd", "aXYZd", {Mod(1, 1, 2), Add(3, 3, 1)}},
        {"replaced by fewer lines", "abcde", "aXe", {Mod(1, 1, 1), Del(2, 2)}},
        {"changes far apart", "abcdefgh", "aXcdefYh", {Mod(1, 1, 1), Mod(6, 6, 1)}},
    };
    for (bool discard : {true, false}) {
        TDiff diff;
        diff.SetDiscardUnmatched(discard);
        for (const auto& c : cases) {
            EXPECT_EQ(Diffed(diff, c.L1, c.L2), c.Expected) << c.Name << " discard=" << discard;
        }
    }
}

// Every script turns list 1 into list 2 and is as short as possible.
TEST(TDiff, ScriptsAreValidAndMinimalOnRandomLists) {
    std::mt19937 rng(20240611);
    for (bool discard : {true, false}) {
        TDiff diff;  // one object for all runs: nothing may leak from one run into the next
        diff.SetDiscardUnmatched(discard);
        for (int i = 0; i < 4000; ++i) {
            int letters = 2 + i % 2;
            std::string l1 = RandomLetters(rng, int(rng() % 10), letters);
            std::string l2 = RandomLetters(rng, int(rng() % 10), letters);
            auto changes = Diffed(diff, l1, l2);
            ASSERT_EQ(Apply(changes, l1, l2), l2) << l1 << " / " << l2;
            ASSERT_EQ(EditLength(changes), MinimalEditLength(l1, l2)) << l1 << " / " << l2;
        }
        for (int i = 0; i < 60; ++i) {
            // Longer lists reach deep recursion and the edges of the search box.
            std::string l1 = RandomLetters(rng, 50 + int(rng() % 400), 2 + i % 3);
            std::string l2 = RandomLetters(rng, int(rng() % 500), 2 + i % 3);
            auto changes = Diffed(diff, l1, l2);
            ASSERT_EQ(Apply(changes, l1, l2), l2) << l1 << " / " << l2;
            ASSERT_EQ(EditLength(changes), MinimalEditLength(l1, l2)) << l1 << " / " << l2;
        }
    }
}

// Two single-line edits must be emitted in the order the meeting diagonal says; looking
// at one pair of lines instead produced a script that does not give list 2.
TEST(TDiff, DistanceTwoRangesGiveCorrectScripts) {
    const TCase cases[] = {
        {"add first although lines 1 and 0 match", "AXC", "XAX", {Add(0, 0, 1), Del(2, 1)}},
        {"delete first", "AXC", "XCA", {Del(0, 1), Add(3, 2, 1)}},
        {"mirror", "XAX", "AXC", {Del(0, 1), Add(3, 2, 1)}},
    };
    TDiff diff;
    diff.SetDiscardUnmatched(false);  // keep every line in the search
    for (const auto& c : cases) {
        auto changes = Diffed(diff, c.L1, c.L2);
        EXPECT_EQ(Apply(changes, c.L1, c.L2), c.L2) << c.Name;
        EXPECT_EQ(changes, c.Expected) << c.Name;
    }
}

// Lines are equal by their text; a hash only narrows the search.
TEST(TDiff, LinesWithTheSameHashButOtherTextDiffer) {
    auto crc = CrcCollision();
    auto table = Collision(&TLineNumbering::Hash);
    for (const auto& [first, second] : {crc, table}) {
        ASSERT_FALSE(first.empty());
        ASSERT_NE(first, second);
        TLineNumbering numbering(false, false);
        EXPECT_NE(numbering.Number(first), numbering.Number(second));
        EXPECT_EQ(numbering.Number(first), numbering.Number(std::string(first)));

        TDiff diff;
        ASSERT_TRUE(diff.CompareLines({"a", first, "b"}, {"a", second, "b"}, false, false));
        EXPECT_EQ(diff.Changes(), (std::vector<TDiffChange>{Mod(1, 1, 1)})) << first << " " << second;
    }
    EXPECT_EQ(HashLine(crc.first, false, false), HashLine(crc.second, false, false));
    EXPECT_EQ(TLineNumbering::Hash(table.first), TLineNumbering::Hash(table.second));
}

TEST(TDiff, CompareFailsWithAnEmptyResult) {
    TDiff diff;
    uint32_t one = 1;
    EXPECT_FALSE(diff.Compare(nullptr, &one, 0, 1));
    EXPECT_FALSE(diff.Compare(&one, nullptr, 1, 0));

    // Beyond the diagonal limit: no solution, and the earlier result is gone.
    ASSERT_TRUE(diff.CompareLines(Lines("ab"), Lines("ba"), false, false));
    ASSERT_GT(diff.ChangeCount(), 0);
    diff.SetDiscardUnmatched(false);
    diff.SetDiagonalLimit(2);
    EXPECT_FALSE(diff.CompareLines(Lines("abababab"), Lines("bbbbaaaa"), false, false));
    EXPECT_EQ(diff.ChangeCount(), 0);
    diff.SetDiagonalLimit(TDiff::MaxDiagonal);
    EXPECT_TRUE(diff.CompareLines(Lines("abababab"), Lines("bbbbaaaa"), false, false));
    EXPECT_GT(diff.ChangeCount(), 0);
}

TEST(TDiff, CancelFromTheProgressHandler) {
    std::mt19937 rng(7);
    auto l1 = RandomIds(rng, 4000), l2 = RandomIds(rng, 4000);
    TDiff diff;
    diff.SetProgressInterval(0);  // at every check of the clock
    int calls = 0;
    std::vector<int> percents;
    diff.OnProgress = [&](TDiff& sender, int percent) {
        ++calls;
        percents.push_back(percent);
        if (calls == 3) sender.Cancel();
    };
    EXPECT_FALSE(diff.Compare(l1.data(), l2.data(), 4000, 4000));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(diff.ChangeCount(), 0);
    for (int p : percents) EXPECT_GE(p, 0);

    // A Cancel between runs is forgotten: the next run completes.
    diff.OnProgress = nullptr;
    diff.Cancel();
    EXPECT_TRUE(diff.Compare(l1.data(), l2.data(), 2000, 2000));
    EXPECT_GT(diff.ChangeCount(), 0);
}

TEST(TDiff, CancelFromAnotherThreadStopsALongComparison) {
    // Unstopped, this comparison would run for a very long time.
    std::mt19937 rng(11);
    const int n = 400000;
    auto l1 = RandomIds(rng, n), l2 = RandomIds(rng, n);
    TDiff diff;
    std::atomic<bool> running{false};
    diff.OnProgress = [&](TDiff&, int) { running = true; };
    std::thread canceller([&] {
        while (!running) std::this_thread::yield();
        diff.Cancel();
    });
    bool result = diff.Compare(l1.data(), l2.data(), n, n);
    canceller.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(diff.ChangeCount(), 0);
}

TEST(TDiff, ProgressEstimateUses64BitArithmetic) {
    // 100 million lines, half of them still between the fronts.
    EXPECT_EQ(TDiff::SearchPercent(100'000'000, 25'000'000, 75'000'000), 23);
    EXPECT_EQ(TDiff::SearchPercent(100'000'000, 100'000'000, 100'000'000), 46);
    EXPECT_EQ(TDiff::SearchPercent(0, 0, 0), 0);
    // Ten minutes after a one-minute first phase, in nanoseconds.
    const int64_t minute = 60'000'000'000;
    EXPECT_EQ(TDiff::ExtrapolatedPercent(0, minute, 10 * minute), 460);
    EXPECT_EQ(TDiff::ExtrapolatedPercent(5, 5, 9), 46);
}

TEST(TextLinesDifference, MeasuresTheShareOfChangedLines) {
    struct {
        TQNStringList A, B;
        double Expected;
    } cases[] = {
        {{}, {}, 0.0},
        {{}, {"a"}, 1.0},
        {{"a", "b"}, {}, 1.0},
        {{"a", "b"}, {"a", "b"}, 0.0},
        {{"Alpha", "BETA"}, {"alpha", "beta"}, 0.0},  // case is ignored
        {{"a", "b"}, {"c", "d"}, 1.0},
        {{"a", "b", "c", "d"}, {"a", "x", "c", "y"}, 0.5},
        {{"a", "b"}, {"a", "b", "c", "d"}, 0.5},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(TextLinesDifference(c.A, c.B), c.Expected) << c.A.CommaText() << " / "
                                                                   << c.B.CommaText();
}
