// Archives made by the standard zip tool for the zip tests.
#pragma once

#include "locations/LocationTestSupport.h"

#include "common/SafeFile.h"

#include <cstdlib>
#include <string>

namespace ziptest {

// Runs a shell command in Folder, output discarded; the exit status.
inline int Sh(const std::string& folder, const std::string& command) {
    std::string cmd = "cd '" + folder + "' && { " + command + "; } >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Replaces every occurrence of From by To (same length) in the file's bytes.
inline void PatchBytes(const std::string& path, const std::string& from, const std::string& to) {
    std::string data = qntest::ReadFile(path);
    for (size_t p = data.find(from); p != std::string::npos; p = data.find(from, p + to.size()))
        data.replace(p, from.size(), to);
    qntest::WriteFile(path, data);
}

}  // namespace ziptest
