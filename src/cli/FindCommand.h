// "quennick find": the search engine on the command line.
#pragma once

#include <string>
#include <vector>

// Args are the words after "find". Returns the exit code: 0 the search ran (found or
// not), 1 the search was incomplete, 2 a bad argument or pattern.
int RunFindCommand(const std::vector<std::string>& args);
