#include "platform/XdgDirs.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

std::string StripSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string AbsoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] != '/') return {};
    return StripSlashes(v);
}

std::string FromHome(const char* var, const char* rel) {
    std::string v = AbsoluteEnv(var);
    if (!v.empty()) return v;
    return StripSlashes(HomeDir() + "/" + rel);
}

}  // namespace

std::string HomeDir() {
    std::string h = AbsoluteEnv("HOME");
    if (!h.empty()) return h;
    std::vector<char> buf(16384);
    passwd pw {};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] == '/')
        return StripSlashes(result->pw_dir);
    return "/tmp";
}

std::string XdgConfigHome() { return FromHome("XDG_CONFIG_HOME", ".config"); }
std::string XdgCacheHome() { return FromHome("XDG_CACHE_HOME", ".cache"); }
std::string XdgStateHome() { return FromHome("XDG_STATE_HOME", ".local/state"); }
std::string XdgDataHome() { return FromHome("XDG_DATA_HOME", ".local/share"); }

std::string TempDirPath() {
    std::string t = AbsoluteEnv("TMPDIR");
    return t.empty() ? "/tmp" : t;
}
