// Shared pieces of the install and uninstall tests: a private home with its own XDG
// folders, a snapshot of a folder tree, and the installed layout.
#pragma once

#include "support/TestSupport.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qntest {

// Every entry below Root (relative path → content, "<folder>" or "<link> target"),
// leaving out the subtrees in Skip (absolute paths).
inline std::map<std::string, std::string> TreeSnapshot(const std::string& root,
                                                      const std::vector<std::string>& skip) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    std::vector<fs::path> pending{root};
    while (!pending.empty()) {
        fs::path dir = pending.back();
        pending.pop_back();
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string p = e.path().string();
            bool skipped = false;
            for (const std::string& s : skip) skipped |= p == s;
            if (skipped) continue;
            const std::string rel = p.substr(root.size());
            if (e.is_symlink()) tree[rel] = "<link> " + fs::read_symlink(e.path()).string();
            else if (e.is_directory()) {
                tree[rel] = "<folder>";
                pending.push_back(e.path());
            } else {
                tree[rel] = ReadFile(p);
            }
        }
    }
    return tree;
}

inline std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The environment of a private user: HOME and the XDG folders below Root.
inline std::vector<std::string> PrivateUserEnv(const std::string& root) {
    return {"HOME=" + root + "/home",           "XDG_DATA_HOME=" + root + "/data",
            "XDG_CONFIG_HOME=" + root + "/config", "XDG_CACHE_HOME=" + root + "/cache",
            "XDG_STATE_HOME=" + root + "/state",   "TMPDIR=" + root + "/tmp"};
}

}  // namespace qntest
