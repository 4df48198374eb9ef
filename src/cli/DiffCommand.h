// "quennick diff": compares two text files line by line.
#pragma once

#include <string>
#include <vector>

// Args are the words after "diff". Returns the exit code: 0 equal, 1 different, 2 trouble.
int RunDiffCommand(const std::vector<std::string>& args);
