// File-name masks: "*" matches any run of characters, "?" exactly one character, and a
// bracketed set one character of the set: "[abc]", ranges "[a-z]", and "[!a-z]" for any
// character outside it. Matching ignores the case of ASCII letters; names are UTF-8, so
// "?" and set members stand for whole characters. A "-" first in a set is literal.
//
// Matching takes at most (name length × mask length) steps, whatever the mask.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EMaskException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A mask compiled once for matching many names. Raises EMaskException for a malformed
// mask: a "[" without its "]", an empty set, or a range without an end or running
// backwards ("[a-]", "[z-a]").
class TMask {
public:
    explicit TMask(std::string_view mask);
    bool Matches(std::string_view name) const;
    const std::string& Mask() const { return FMask; }

private:
    struct TToken {
        enum class TKind { Literal, AnyChar, AnyRun, Set } Kind;
        uint32_t Ch = 0;  // Literal, folded to lower case
        bool Negate = false;
        std::vector<std::pair<uint32_t, uint32_t>> Ranges;
    };
    bool MatchesOne(const TToken& t, uint32_t ch) const;

    std::string FMask;
    std::vector<TToken> FTokens;
};

bool MatchesMask(std::string_view Name, std::string_view Mask);
