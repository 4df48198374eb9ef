// "quennick delta": binary difference files, made and applied.
#pragma once

#include <string>
#include <vector>

// Args are the words after "delta". Returns the exit code: 0 done, 1 a file that does not
// match its difference file, 2 a bad argument or a file that cannot be used.
int RunDeltaCommand(const std::vector<std::string>& args);
