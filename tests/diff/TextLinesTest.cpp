// The line splitter and the binary test the comparisons read text with.
#include "diff/TextLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using V = std::vector<std::string>;

V Lines(std::string_view text) {
    V out;
    for (std::string_view l : SplitKeepingEnds(text)) out.emplace_back(l);
    return out;
}

TEST(TextLines, LinesKeepTheirEndsOnBothSidesOfEachSixteenByteBlock) {
    const std::string longLine(40, 'x');
    const struct {
        std::string Text;
        V Expected;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a\n"}},
        {"a\nb", {"a\n", "b"}},
        {"\n\n", {"\n", "\n"}},
        {"one\r\ntwo\r\n", {"one\r\n", "two\r\n"}},
        {longLine + "\n" + longLine, {longLine + "\n", longLine}},
        // Line feeds at the last byte of a block and the first byte of the next.
        {std::string(15, 'a') + "\n\n" + "b", {std::string(15, 'a') + "\n", "\n", "b"}},
        {std::string(31, 'c') + "\n", {std::string(31, 'c') + "\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Lines(c.Text), c.Expected) << '"' << c.Text << '"';
}

TEST(TextLines, ANulByteInTheFirstBlockMakesDataBinary) {
    std::string data(BinaryProbe + 10, 'a');
    EXPECT_FALSE(IsBinary(data));
    EXPECT_FALSE(IsBinary(""));
    data[BinaryProbe] = '\0';  // past the probe
    EXPECT_FALSE(IsBinary(data));
    data[BinaryProbe - 1] = '\0';
    EXPECT_TRUE(IsBinary(data));
    EXPECT_TRUE(IsBinary(std::string_view("\0", 1)));
}

}  // namespace
