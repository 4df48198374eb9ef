// Reads desktop entry files the way a desktop's launcher does, for tests: the keys of
// the [Desktop Entry] group with string values unescaped, and the Exec value split into
// the program and its arguments by the desktop-entry quoting rules. Written from the
// format's rules, independently of the writer under test.
#pragma once

#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace qntest {

// "\s", "\n", "\t", "\r" and "\\" of a string value.
inline std::string UnescapeDesktopValue(const std::string& v) {
    std::string r;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            r += v[i];
            continue;
        }
        char c = v[++i];
        switch (c) {
            case 's': r += ' '; break;
            case 'n': r += '\n'; break;
            case 't': r += '\t'; break;
            case 'r': r += '\r'; break;
            case '\\': r += '\\'; break;
            default: r += '\\', r += c; break;
        }
    }
    return r;
}

// The keys of the main group, values unescaped.
inline std::map<std::string, std::string> ReadDesktopEntry(const std::string& path) {
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    bool inMain = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        size_t eq = line.find('=');
        if (!inMain || eq == std::string::npos) continue;
        keys[line.substr(0, eq)] = UnescapeDesktopValue(line.substr(eq + 1));
    }
    return keys;
}

// Splits an (unescaped) Exec value into arguments; "%%" becomes "%". Nullopt when the
// value breaks the rules (an unterminated quote, a bad escape, a field code).
inline std::optional<std::vector<std::string>> SplitExec(const std::string& exec) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string arg;
        if (exec[i] == '"') {
            ++i;
            bool closed = false;
            while (i < exec.size()) {
                char c = exec[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i == exec.size()) return std::nullopt;
                    char n = exec[i++];
                    if (n != '"' && n != '`' && n != '$' && n != '\\') return std::nullopt;
                    arg += n;
                } else if (c == '%') {
                    if (i == exec.size() || exec[i] != '%') return std::nullopt;
                    ++i;
                    arg += '%';
                } else {
                    arg += c;
                }
            }
            if (!closed) return std::nullopt;
            if (i < exec.size() && exec[i] != ' ') return std::nullopt;
        } else {
            while (i < exec.size() && exec[i] != ' ') {
                char c = exec[i++];
                // Reserved characters must be quoted.
                if (std::string_view("\t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos)
                    return std::nullopt;
                if (c == '%') {
                    if (i == exec.size() || exec[i] != '%') return std::nullopt;
                    ++i;
                }
                arg += c;
            }
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace qntest
