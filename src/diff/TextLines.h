// The text a comparison reads: whether data is binary, and its lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// A NUL byte in the first block marks data as binary.
inline constexpr size_t BinaryProbe = 32 * 1024;

// Whether Data is binary: a NUL byte among its first BinaryProbe bytes.
bool IsBinary(std::string_view data);

// The lines of Text, each with its line feed (a CR before it stays part of the line); the
// last one may lack it. Empty text has no lines. The views point into Text.
std::vector<std::string_view> SplitKeepingEnds(std::string_view text);
