// "quennick sync": runs the profiles of a sync document once, or adds a profile to one.
#pragma once

#include <string>
#include <vector>

// Args are the words after "sync". Returns the exit code: 0 everything was done, 1 something
// was left alone for safety or failed (warnings, errors, postponed deletions, questions
// nobody could answer, an interrupted run, a document that could not be saved), 2 a bad
// argument or a document that cannot be used.
int RunSyncCommand(const std::vector<std::string>& args);
